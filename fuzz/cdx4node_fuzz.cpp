// Fuzz target over CDX headers and nodes: any header or node image must be
// read back as sound or refused with -310, and every operation on a node
// that was read must leave it sound (or fail with an error, unchanged);
// never a crash, a hang or a read outside the image.
//
// Input, first byte even: a 1024-byte header block (short input is padded
// with zeros), checked as a file header and as a tag header.
// First byte odd: a node.
//   byte 1      key length (0 is taken as 1)
//   byte 2      bit 0: pad byte 0 (else blank); bit 1: trailing pad kept
//   bytes 3-6   free-list head (little-endian) for the splits' allocations
//   next 512    the node image, written to the file and read back
//   the rest    operations: an operation byte, an argument byte, and for
//               inserts and seeks a record (4 bytes) and key bytes
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/cdx4freelist.h"
#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr uint32_t kBlockSize = 512;
constexpr uint32_t kNode = 1024;
constexpr uint32_t kFileLength = 1024 + 16 * kBlockSize;

struct Setup {
  CODE4 c;
  INDEX4FILE index;
  TAG4FILE tagIndex;
  Setup() {
    if (code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 1) != 0) std::abort();
    if (file4tempLow(&index.file, &c, 1, 1, "cdx") != 0) std::abort();
    const std::vector<unsigned char> zeros(kFileLength, 0);
    if (file4write(&index.file, 0, zeros.data(), kFileLength) != 0) std::abort();
    if (indexfile4initNodes(&index, &c, kBlockSize, 1) != 0) std::abort();
    Cdx4Header h;
    cdx4headerInitTagOfTags(&h, kBlockSize, 1);
    if (tagfile4initNodes(&tagIndex, &index, 0, h) != 0) std::abort();
    index.tagIndex = &tagIndex;
  }
};

Setup& setup() {
  static Setup* s = [] {
    auto* made = new Setup;
    std::atexit([] {
      file4close(&setup().index.file);
      code4initUndo(&setup().c);
    });
    return made;
  }();
  return *s;
}

// Reads from the input; past its end, zeros.
struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t byte() { return at < size ? data[at++] : 0; }
  uint32_t word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v |= static_cast<uint32_t>(byte()) << (8 * i);
    return v;
  }
  bool done() const { return at >= size; }
};

void require(bool condition) {
  if (!condition) __builtin_trap();
}

void fuzzHeader(Setup& s, Reader& in) {
  unsigned char block[cdx4headerSize] = {};
  for (unsigned char& b : block) b = in.byte();
  Cdx4Header h;
  if (cdx4fileHeaderRead(&s.c, block, &h, "fuzz.cdx") == 0) {
    require(std::strlen(cdx4headerKeyExpression(block, h)) < cdx4poolSize);
    require(std::strlen(cdx4headerFilterExpression(block, h)) < cdx4poolSize);
  }
  error4set(&s.c, 0);
  if (cdx4tagHeaderRead(&s.c, block, kBlockSize, &h, "fuzz.cdx") == 0)
    require(std::strlen(cdx4headerKeyExpression(block, h)) < cdx4poolSize);
}

// A node that passed the read stays sound through every operation, also
// one that failed with an error.
void requireSound(Setup& s, BLOCK4* b) {
  error4set(&s.c, 0);
  require(block4check(b) == 0);
}

void runOperations(Setup& s, TAG4FILE& tag, BLOCK4* b, Reader& in) {
  const int length = tagfile4keyLength(&tag);
  unsigned char key[cdx4keyLengthMax + 1] = {};
  for (int steps = 0; steps < 64 && !in.done(); steps++) {
    const int operation = in.byte() % 9;
    const int argument = in.byte();
    const int count = block4numKeys(b);
    block4goTo(b, count == 0 ? 0 : argument % (count + 1));
    uint32_t record = 0;
    if (operation == 1 || operation == 2 || operation == 3) {
      record = in.word();
      for (int i = 0; i < length; i++) key[i] = in.byte();
    }
    switch (operation) {
      case 0:
        block4key(b, argument % (count + 1));
        break;
      case 1:
        block4seek(b, key, argument % (length + 2));
        break;
      case 2:
        block4seekBranch(b, key, length, record);
        break;
      case 3:
        if (block4leaf(b)) {
          block4insertLeaf(b, key, record);
        } else {
          block4insertBranch(b, key, record, kNode + kBlockSize * (1 + argument % 8),
                             argument & 1, nullptr);
        }
        break;
      case 4:
        block4remove(b);
        break;
      case 5: {
        bool inNew = false;
        BLOCK4* fresh = block4split(&tag, b, &inNew);
        if (fresh != nullptr) {
          requireSound(s, fresh);
          block4free(fresh);
        }
        break;
      }
      case 6:
        block4go(b, static_cast<int8_t>(argument));
        break;
      case 7:
        if (!block4leaf(b) && count > 0) {
          block4goTo(b, argument % count);
          block4branchReplace(b, key, record);
        }
        break;
      default: {
        const uint32_t taken = index4extend(&s.index);
        if (taken != block4none) index4freeBlock(&s.index, taken);
        break;
      }
    }
    requireSound(s, b);
  }
  // What the operations left reads back as a sound node.
  require(block4flush(b) == 0);
  require(block4read(b, kNode) == 0);
}

void fuzzNode(Setup& s, Reader& in) {
  TAG4FILE tag;
  Cdx4Header h;
  h.keyLength = static_cast<uint16_t>(in.byte());
  if (h.keyLength == 0) h.keyLength = 1;
  h.options = cdx4optionCompact | cdx4optionCompound;
  const uint8_t flags = in.byte();
  s.tagIndex.header.freeList = in.word();
  if (tagfile4initNodes(&tag, &s.index, 2, h) != 0) std::abort();
  tag.pad = (flags & 1) ? 0 : ' ';
  tag.keepTrailing = (flags & 2) != 0;

  const std::vector<unsigned char> zeros(kFileLength, 0);
  require(file4write(&s.index.file, 0, zeros.data(), kFileLength) == 0);
  require(file4lenSetLow(&s.index.file, kFileLength) == 0);
  s.index.eofBlock = kFileLength;
  unsigned char image[kBlockSize];
  for (unsigned char& b : image) b = in.byte();
  require(file4write(&s.index.file, kNode, image, kBlockSize) == 0);

  BLOCK4* b = block4alloc(&tag, kNode);
  require(b != nullptr);
  if (block4read(b, kNode) == 0) {
    runOperations(s, tag, b, in);
  } else {
    require(error4code(&s.c) == e4index);
  }
  block4free(b);
  tagfile4releaseNodes(&tag);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Setup& s = setup();
  error4set(&s.c, 0);
  Reader in{data, size};
  if ((in.byte() & 1) == 0) {
    fuzzHeader(s, in);
  } else {
    fuzzNode(s, in);
  }
  error4set(&s.c, 0);
  return 0;
}
