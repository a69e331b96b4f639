// Writes seed inputs for cdx4node_fuzz into the folder given: headers and
// nodes made by the engine itself (short and long keys, text and number
// pads, leaves with 2- to 5-byte entries, a branch), and nodes as another
// writer shapes them (attribute bit 2, a tiny leaf of one-byte entries),
// each node followed by a few operations, so that fuzzing starts from sound
// inputs.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "fuzz/foreign_nodes.h"

namespace {

using Bytes = std::vector<unsigned char>;

void save(const std::string& folder, const std::string& name, const Bytes& bytes) {
  const std::string path = folder + "/" + name;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) std::exit(1);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
}

Bytes header(const char* keyExpr, const char* filter, bool tagOfTags) {
  Cdx4Header h;
  if (tagOfTags) {
    cdx4headerInitTagOfTags(&h, 512, 1);
  } else {
    h.keyLength = 20;
    h.options = cdx4optionCompact | cdx4optionCompound | cdx4optionFilter;
  }
  h.root = 0x600;
  Bytes bytes(1 + cdx4headerSize, 0);
  cdx4headerEncode(&h, keyExpr, filter, bytes.data() + 1);
  return bytes;
}

// Mode byte, key length, flags, free-list head, the node, then operations:
// a remove, an insert of `keyLength` bytes of 'M', a split.
Bytes nodeInput(const BLOCK4* b, int keyLength, uint8_t flags) {
  Bytes bytes = {1, static_cast<unsigned char>(keyLength), flags, 0, 0, 0, 0};
  bytes.insert(bytes.end(), b->data(), b->data() + 512);
  const Bytes operations = {4, 3, 3, 1, 0x10, 0x27, 0, 0};
  bytes.insert(bytes.end(), operations.begin(), operations.end());
  bytes.insert(bytes.end(), keyLength, 'M');
  bytes.push_back(5);
  bytes.push_back(2);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s folder\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  save(folder, "header-tags", header(nullptr, nullptr, true));
  save(folder, "header-tag", header("UPPER(NAME)", "SIZE>0", false));

  CODE4 c;
  INDEX4FILE index;
  if (code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 1) != 0) return 1;
  if (file4tempLow(&index.file, &c, 1, 1, "cdx") != 0) return 1;
  const Bytes zeros(4096, 0);
  file4write(&index.file, 0, zeros.data(), 4096);
  if (indexfile4initNodes(&index, &c, 512, 1) != 0) return 1;

  struct Seed {
    const char* name;
    int keyLength;
    uint8_t flags;
    uint32_t records;
    bool branch;
    bool foreign;  // marked, and a leaf's entries narrowed
  } seeds[] = {{"leaf-10", 10, 0, 1000, false, false},
               {"leaf-1", 1, 0, 10, false, false},
               {"leaf-8-numbers", 8, 1, 100000, false, false},
               {"leaf-200", 200, 0, 1000, false, false},
               {"leaf-kept-pad", 12, 2, 70000000, false, false},
               {"branch-10", 10, 0, 1000, true, false},
               {"foreign-leaf-2", 2, 0, 14, false, true},
               {"foreign-branch-10", 10, 0, 1000, true, true}};
  for (const Seed& s : seeds) {
    TAG4FILE tag;
    Cdx4Header h;
    h.keyLength = static_cast<uint16_t>(s.keyLength);
    h.options = cdx4optionCompact | cdx4optionCompound;
    if (tagfile4initNodes(&tag, &index, 2, h) != 0) return 1;
    tag.pad = (s.flags & 1) ? 0 : ' ';
    tag.keepTrailing = (s.flags & 2) != 0;
    uint32_t records = s.records;
    tag.recordCount = [](void* data) { return *static_cast<uint32_t*>(data); };
    tag.recordCountData = &records;
    BLOCK4* b = block4alloc(&tag, 1024);
    if (b == nullptr) return 1;
    block4attributeSet(b, s.branch ? block4attrRootBranch : block4attrRootLeaf);
    block4leftSet(b, block4none);
    block4rightSet(b, block4none);
    if (!s.branch) block4leafInit(b);
    for (uint32_t i = 0; i < 40 && i < s.records; i++) {
      std::string key = "KEY" + std::to_string(1000 + i * 37);
      key.resize(s.keyLength, static_cast<char>(tag.pad));
      block4goEof(b);
      const int rc = s.branch ? block4insertBranch(b, key.data(), i + 1, 1536 + 512 * (i % 4),
                                                   block4childHere, nullptr)
                              : block4insertLeaf(b, key.data(), s.records - i);
      if (rc != 0) break;
    }
    if (s.foreign) {
      fuzz4markNode(b->data());
      if (!s.branch) fuzz4narrowLeaf(b->data());
    }
    save(folder, s.name, nodeInput(b, s.keyLength, s.flags));
    block4free(b);
    tagfile4releaseNodes(&tag);
  }
  indexfile4releaseNodes(&index);
  file4close(&index.file);
  code4initUndo(&c);
  return 0;
}
