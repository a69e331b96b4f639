// Writes seed inputs for tag4walk_fuzz into the folder given: CDX files
// made by the engine's own tag operations (one tag of short keys three
// levels deep, a descending tag, a tag of long keys, a node size of 1024
// with multiplier 2, and a file after many removals), and one whose nodes
// are then shaped as another writer shapes them (attribute bit 2 on every
// node, leaf entries no wider than their fields, one byte in a tiny tag).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "fuzz/foreign_nodes.h"

namespace {

struct Shape {
  const char* name;
  uint16_t keyLength;
  bool descending;
};

uint32_t countOf(void*) { return 5000; }

std::vector<unsigned char> makeFile(CODE4* c, const std::vector<Shape>& shapes, uint32_t keys,
                                    uint32_t blockSize, uint32_t multiplier, bool removeMost) {
  INDEX4FILE index;
  if (file4tempLow(&index.file, c, 1, 1, "cdx") != 0) std::exit(1);
  const std::vector<unsigned char> zeros(cdx4headerSize * (shapes.size() + 1), 0);
  file4write(&index.file, 0, zeros.data(), static_cast<uint32_t>(zeros.size()));
  indexfile4initNodes(&index, c, blockSize, multiplier);
  TAG4FILE tagIndex;
  Cdx4Header h;
  cdx4headerInitTagOfTags(&h, blockSize, multiplier);
  tagfile4init(&tagIndex, &index, 0, h, "");
  tagIndex.recordCount = countOf;
  tagfile4rootCreate(&tagIndex);
  TAG4 names;
  names.tagFile = &tagIndex;
  std::vector<TAG4FILE> tags(shapes.size());
  unsigned char block[cdx4headerSize];
  for (size_t i = 0; i < shapes.size(); i++) {
    Cdx4Header th;
    th.keyLength = shapes[i].keyLength;
    th.options = cdx4optionCompact | cdx4optionCompound;
    th.descending = shapes[i].descending ? 1 : 0;
    const uint32_t headerBlock = block4fromOffset(&index, cdx4headerSize * (i + 1));
    tagfile4init(&tags[i], &index, headerBlock, th, shapes[i].name);
    tags[i].recordCount = countOf;
    tagfile4rootCreate(&tags[i]);
    cdx4headerEncode(&tags[i].header, "KEY", nullptr, block);
    file4write(&index.file, block4toOffset(&index, headerBlock), block, sizeof block);
    std::string name(shapes[i].name);
    name.resize(cdx4tagNameLength, ' ');
    tagfile4add(&names, reinterpret_cast<const unsigned char*>(name.data()), headerBlock);
  }
  for (size_t i = 0; i < shapes.size(); i++) {
    TAG4 handle;
    handle.tagFile = &tags[i];
    for (uint32_t r = 1; r <= keys; r++) {
      std::string key = "FILE" + std::to_string(r * 7919 % 10007);
      key.resize(shapes[i].keyLength, ' ');
      const auto* k = reinterpret_cast<const unsigned char*>(key.data());
      tagfile4add(&handle, k, r);
      if (removeMost && r % 4 != 0) tagfile4remove(&tags[i], k, r);
    }
  }
  cdx4headerEncode(&tagIndex.header, nullptr, nullptr, block);
  file4write(&index.file, 0, block, sizeof block);
  index4updateHeader(&index);
  std::vector<unsigned char> bytes(block4toOffset(&index, index.eofBlock));
  file4read(&index.file, 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
  for (TAG4FILE& t : tags) tagfile4release(&t);
  tagfile4release(&tagIndex);
  indexfile4releaseNodes(&index);
  file4close(&index.file);
  return bytes;
}

void save(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) std::exit(1);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string folder = argv[1];
  CODE4 c;
  if (code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 1) != 0) return 1;
  save(folder + "/seed-deep", makeFile(&c, {{"NAME", 10, false}}, 3000, 512, 1, false));
  save(folder + "/seed-tags",
       makeFile(&c, {{"UP", 12, false}, {"DOWN", 12, true}, {"LONG", 200, false}}, 300, 512, 1,
                false));
  save(folder + "/seed-wide", makeFile(&c, {{"NAME", 20, false}}, 800, 1024, 2, false));
  save(folder + "/seed-removed", makeFile(&c, {{"NAME", 10, false}}, 2000, 512, 1, true));
  save(folder + "/seed-foreign",
       fuzz4foreignShaped(makeFile(&c, {{"CODE", 2, false}, {"NAME", 10, true}}, 14, 512, 1, false),
                          2));
  save(folder + "/seed-foreign-deep",
       fuzz4foreignShaped(makeFile(&c, {{"NAME", 10, false}}, 600, 512, 1, false), 1));
  code4initUndo(&c);
  return 0;
}
