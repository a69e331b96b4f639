#include "engine/index/cdx4header.h"

#include <cstring>

#include "engine/index/index4file.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

using namespace endian4;

namespace {

constexpr int kRoot = 0;
constexpr int kFreeList = 4;
constexpr int kVersion = 8;
constexpr int kKeyLength = 12;
constexpr int kOptions = 14;
constexpr int kSignature = 15;
constexpr int kMarker = 16;
constexpr int kBlockSize = 20;
constexpr int kMultiplier = 24;
constexpr int kCollation = 494;
constexpr int kDescending = 502;
constexpr int kPoolLength = 504;
constexpr int kFilterLength = 506;
constexpr int kKeyExprLength = 510;

constexpr int32_t kLocCorruptFileHeader = 80099;
constexpr int32_t kLocCollation = 80187;
constexpr int32_t kLocTagRoot = 80320;
constexpr int32_t kLocKeyLength = 80322;
constexpr int32_t kLocExpressions = 80323;
constexpr int32_t kLocTagHeaderBlock = 80324;

constexpr char kGeneral[cdx4collationNameSize] = {'G', 'E', 'N', 'E', 'R', 'A', 'L', 0};
constexpr int kLoadableCollations = 4;

int32_t refuse(CODE4* c, int32_t location, const char* fileName) {
  return error4describe(c, e4index, location, fileName, nullptr, nullptr);
}

bool collationKnown(const char* name) {
  static constexpr char kNone[cdx4collationNameSize] = {};
  if (std::memcmp(name, kNone, sizeof kNone) == 0) return true;
  if (std::memcmp(name, kGeneral, sizeof kGeneral) == 0) return true;
  if (name[0] != 'C' || name[1] != 'B' || name[7] != 0) return false;
  int number = 0;
  for (int i = 2; i < 7; i++) {
    if (name[i] < '0' || name[i] > '9') return false;
    number = number * 10 + (name[i] - '0');
  }
  return number >= 1 && number <= kLoadableCollations;
}

// The pool holds the key text and the filter text, each ending with its
// one NUL at the place the lengths name.
bool poolSound(const unsigned char* block, const Cdx4Header& h) {
  const int keyLength = h.keyExprLength;
  const int filterLength = h.filterLength;
  if (keyLength + filterLength > cdx4poolSize) return false;
  const auto* pool = reinterpret_cast<const char*>(block + cdx4poolOffset);
  if (keyLength > 0 && strnlen(pool, keyLength) != static_cast<size_t>(keyLength - 1))
    return false;
  const char* filter = pool + keyLength;
  if (filterLength > 0 && strnlen(filter, filterLength) != static_cast<size_t>(filterLength - 1))
    return false;
  return true;
}

// Checks shared by the file header and the tag headers.
int32_t checkCommon(CODE4* c, const unsigned char* block, const Cdx4Header& h,
                    uint32_t blockSize, const char* fileName) {
  if (h.keyLength == 0 || h.keyLength > cdx4keyLengthMax) return refuse(c, kLocKeyLength, fileName);
  // Branch entries are the key, a record number and a child pointer.
  const uint32_t branchCapacity = (blockSize - 12) / (h.keyLength + 8u);
  if (branchCapacity < 2) return refuse(c, kLocKeyLength, fileName);
  if (!poolSound(block, h)) return refuse(c, kLocExpressions, fileName);
  if (!collationKnown(h.collation)) return refuse(c, kLocCollation, fileName);
  return 0;
}

}  // namespace

void cdx4headerDecodeFront(const unsigned char* bytes, Cdx4Header* h) {
  h->root = readLe32(bytes + kRoot);
  h->freeList = readLe32(bytes + kFreeList);
  h->version = readBe32(bytes + kVersion);
  h->keyLength = readLe16(bytes + kKeyLength);
  h->options = bytes[kOptions];
  h->signature = bytes[kSignature];
}

void cdx4headerEncodeFront(const Cdx4Header& h, unsigned char* bytes) {
  writeLe32(bytes + kRoot, h.root);
  writeLe32(bytes + kFreeList, h.freeList);
  writeBe32(bytes + kVersion, h.version);
  writeLe16(bytes + kKeyLength, h.keyLength);
  bytes[kOptions] = h.options;
  bytes[kSignature] = h.signature;
}

void cdx4headerDecode(const unsigned char* block, Cdx4Header* h) {
  cdx4headerDecodeFront(block, h);
  h->blockSizeMarker = readLe32(block + kMarker);
  h->blockSize = readLe32(block + kBlockSize);
  h->multiplier = readLe32(block + kMultiplier);
  std::memcpy(h->collation, block + kCollation, cdx4collationNameSize);
  h->descending = readLe16(block + kDescending);
  h->poolLength = readLe16(block + kPoolLength);
  h->filterLength = readLe16(block + kFilterLength);
  h->keyExprLength = readLe16(block + kKeyExprLength);
}

bool cdx4headerEncode(Cdx4Header* h, const char* keyExpr, const char* filter,
                      unsigned char* block) {
  const size_t keyLength = keyExpr == nullptr ? 1 : std::strlen(keyExpr) + 1;
  const size_t filterLength = filter == nullptr ? 1 : std::strlen(filter) + 1;
  if (keyLength + filterLength > static_cast<size_t>(cdx4poolSize)) return false;
  h->keyExprLength = static_cast<uint16_t>(keyLength);
  h->poolLength = h->keyExprLength;
  h->filterLength = static_cast<uint16_t>(filterLength);

  std::memset(block, 0, cdx4headerSize);
  cdx4headerEncodeFront(*h, block);
  writeLe32(block + kMarker, h->blockSizeMarker);
  writeLe32(block + kBlockSize, h->blockSize);
  writeLe32(block + kMultiplier, h->multiplier);
  std::memcpy(block + kCollation, h->collation, cdx4collationNameSize);
  writeLe16(block + kDescending, h->descending);
  writeLe16(block + kPoolLength, h->poolLength);
  writeLe16(block + kFilterLength, h->filterLength);
  writeLe16(block + kKeyExprLength, h->keyExprLength);
  if (keyExpr != nullptr) std::memcpy(block + cdx4poolOffset, keyExpr, keyLength - 1);
  if (filter != nullptr) std::memcpy(block + cdx4poolOffset + keyLength, filter, filterLength - 1);
  return true;
}

void cdx4headerInitTagOfTags(Cdx4Header* h, uint32_t blockSize, uint32_t multiplier) {
  *h = Cdx4Header{};
  h->keyLength = cdx4tagNameLength;
  h->options = cdx4optionCompact | cdx4optionCompound | cdx4optionTagOfTags;
  h->signature = 1;
  if (blockSize != cdx4defaultBlockSize || multiplier != cdx4defaultMultiplier) {
    h->blockSizeMarker = cdx4blockSizeMarker;
    h->blockSize = blockSize;
    h->multiplier = multiplier;
  }
  h->poolLength = 1;
  h->filterLength = 1;
  h->keyExprLength = 1;
}

uint32_t cdx4headerBlockSize(const Cdx4Header& h) {
  return h.blockSizeMarker == cdx4blockSizeMarker ? h.blockSize : cdx4defaultBlockSize;
}

uint32_t cdx4headerMultiplier(const Cdx4Header& h) {
  return h.blockSizeMarker == cdx4blockSizeMarker ? h.multiplier : cdx4defaultMultiplier;
}

int32_t cdx4fileHeaderRead(CODE4* c, const unsigned char* block, Cdx4Header* h,
                           const char* fileName) {
  cdx4headerDecode(block, h);
  const uint32_t blockSize = cdx4headerBlockSize(*h);
  if (int32_t rc = cdx4geometryCheck(c, blockSize, cdx4headerMultiplier(*h)); rc < 0)
    return rc;
  if (h->root == 0 || h->root == block4none || (h->options & cdx4optionCompact) == 0)
    return refuse(c, kLocCorruptFileHeader, fileName);
  // The header at 0 is either the tag of tags of a compound file or the
  // only tag of a single one. One option without the other is damage: a
  // compound file whose header lost the tag-of-tags option would have its
  // tag of tags taken for an ordinary tag, without a key expression.
  const bool compound = (h->options & cdx4optionCompound) != 0;
  const bool tagOfTags = (h->options & cdx4optionTagOfTags) != 0;
  if (compound != tagOfTags) return refuse(c, kLocCorruptFileHeader, fileName);
  return checkCommon(c, block, *h, blockSize, fileName);
}

int32_t cdx4tagHeaderRead(CODE4* c, const unsigned char* block, uint32_t blockSize,
                          Cdx4Header* h, const char* fileName) {
  cdx4headerDecode(block, h);
  // Only the file header belongs to the tag of tags: a tag claiming it is
  // damage, or its header would be taken for the file's and written there.
  if (h->root == 0 || h->root == block4none || (h->options & cdx4optionCompact) == 0 ||
      (h->options & cdx4optionTagOfTags) != 0)
    return refuse(c, kLocTagRoot, fileName);
  return checkCommon(c, block, *h, blockSize, fileName);
}

const char* cdx4headerKeyExpression(const unsigned char* block, const Cdx4Header& h) {
  if (h.keyExprLength == 0) return "";
  return reinterpret_cast<const char*>(block + cdx4poolOffset);
}

const char* cdx4headerFilterExpression(const unsigned char* block, const Cdx4Header& h) {
  if (h.filterLength == 0) return "";
  return reinterpret_cast<const char*>(block + cdx4poolOffset + h.keyExprLength);
}

int32_t cdx4tagHeaderBlockCheck(INDEX4FILE* i, uint32_t block) {
  const uint64_t offset = block4toOffset(i, block);
  const uint64_t end = block4toOffset(i, i->eofBlock);
  // Block 0 is the file header, never a tag's.
  if (block != 0 && cdx4nodeOffsetPlausible(offset) && offset + cdx4headerSize <= end) return 0;
  return refuse(i->codeBase, kLocTagHeaderBlock, i->file.name);
}
