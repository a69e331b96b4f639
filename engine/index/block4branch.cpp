// Branch nodes: entries, the check on reading, binary search, insert,
// replace, remove, the branch half of a split and the rebalance of a full
// two-entry node.
#include "engine/index/block4branch.h"

#include <cstring>

#include "engine/index/block4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/endian4.h"

using namespace endian4;

namespace branch4 {

namespace {

constexpr int32_t kLocCount = 80302;
constexpr int32_t kLocChild = 80304;
constexpr int32_t kLocSiblings = 80306;

int blockSizeOf(const BLOCK4* b) { return static_cast<int>(b->tag->indexFile->blockSize); }

void setChild(unsigned char* node, int length, int i, uint32_t block) {
  writeBe32(entry(node, length, i) + length + 4, block);
}

void copyEntry(unsigned char* to, int toIndex, const unsigned char* from, int fromIndex,
               int length) {
  std::memcpy(entry(to, length, toIndex), entry(from, length, fromIndex), entrySize(length));
}

}  // namespace

int capacity(int blockSize, int keyLength) {
  return (blockSize - block4headerSize) / entrySize(keyLength);
}

unsigned char* entry(unsigned char* node, int keyLength, int i) {
  return node + block4headerSize + i * entrySize(keyLength);
}

const unsigned char* entry(const unsigned char* node, int keyLength, int i) {
  return node + block4headerSize + i * entrySize(keyLength);
}

uint32_t record(const unsigned char* node, int keyLength, int i) {
  return readBe32(entry(node, keyLength, i) + keyLength);
}

uint32_t child(const unsigned char* node, int keyLength, int i) {
  return readBe32(entry(node, keyLength, i) + keyLength + 4);
}

void put(unsigned char* node, int keyLength, int i, const unsigned char* key, uint32_t rec,
         uint32_t childBlock) {
  unsigned char* e = entry(node, keyLength, i);
  std::memcpy(e, key, keyLength);
  writeBe32(e + keyLength, rec);
  writeBe32(e + keyLength + 4, childBlock);
}

int32_t check(BLOCK4* b) {
  const int length = tagfile4keyLength(b->tag);
  const int count = block4numKeys(b);
  if (count > capacity(blockSizeOf(b), length)) return block4damaged(b, kLocCount);
  const INDEX4FILE* i = b->tag->indexFile;
  for (int k = 0; k < count; k++) {
    const uint32_t c = child(b->data(), length, k);
    if (c == b->fileBlock || !cdx4nodeOffsetPlausible(block4toOffset(i, c)))
      return block4damaged(b, kLocChild);
  }
  return 0;
}

int seek(BLOCK4* b, const unsigned char* key, int length) {
  const int keyLength = tagfile4keyLength(b->tag);
  const int count = block4numKeys(b);
  if (count == 0) {
    b->keyOn = 0;
    return 2;
  }
  // The first entry not below the value: [low, high) holds it.
  int low = 0;
  int high = count;
  while (low < high) {
    const int mid = low + (high - low) / 2;
    const int32_t equal = b->tag->compare(entry(b->data(), keyLength, mid), key, length);
    if (equal >= 0 && equal < length) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  if (low == count) {
    b->keyOn = count - 1;
    return 2;
  }
  b->keyOn = low;
  return b->tag->compare(entry(b->data(), keyLength, low), key, length) == length ? 0 : 2;
}

int insert(BLOCK4* b, const unsigned char* key, uint32_t rec, uint32_t childBlock, int placement,
           BLOCK4* parent) {
  const int length = tagfile4keyLength(b->tag);
  if (block4numKeys(b) >= capacity(blockSizeOf(b), length)) {
    const int rc = rebalance(b, parent);
    if (rc != 0) return rc;
  }
  unsigned char* node = b->data();
  const int count = block4numKeys(b);
  int p = b->keyOn;
  if (p < 0) p = 0;
  if (p > count) p = count;
  std::memmove(entry(node, length, p + 1), entry(node, length, p), (count - p) * entrySize(length));
  if (placement == block4childAfter && p < count) {
    // The entry that was at p moved to p + 1 and keeps covering the same
    // keys; the new entry below it takes over its child.
    put(node, length, p, key, rec, child(node, length, p + 1));
    setChild(node, length, p + 1, childBlock);
  } else {
    put(node, length, p, key, rec, childBlock);
  }
  block4numKeysSet(b, count + 1);
  b->keyOn = p;
  block4forgetKeys(b);
  b->changed = true;
  return 0;
}

void replace(BLOCK4* b, const unsigned char* key, uint32_t rec) {
  const int length = tagfile4keyLength(b->tag);
  unsigned char* e = entry(b->data(), length, b->keyOn);
  std::memcpy(e, key, length);
  writeBe32(e + length, rec);
  block4forgetKeys(b);
  b->changed = true;
}

void remove(BLOCK4* b) {
  const int length = tagfile4keyLength(b->tag);
  unsigned char* node = b->data();
  const int count = block4numKeys(b);
  const int p = b->keyOn;
  std::memmove(entry(node, length, p), entry(node, length, p + 1),
               (count - p - 1) * entrySize(length));
  std::memset(entry(node, length, count - 1), 0, entrySize(length));
  block4numKeysSet(b, count - 1);
  block4forgetKeys(b);
  b->changed = true;
}

void splitInto(BLOCK4* b, BLOCK4* to, int keep) {
  const int length = tagfile4keyLength(b->tag);
  const int moved = block4numKeys(b) - keep;
  std::memset(to->data() + block4headerSize, 0, blockSizeOf(b) - block4headerSize);
  std::memcpy(entry(to->data(), length, 0), entry(b->data(), length, keep),
              moved * entrySize(length));
  block4numKeysSet(to, moved);
  block4forgetKeys(to);
}

void truncate(BLOCK4* b, int keep) {
  const int length = tagfile4keyLength(b->tag);
  const int moved = block4numKeys(b) - keep;
  std::memset(entry(b->data(), length, keep), 0, moved * entrySize(length));
  block4numKeysSet(b, keep);
  block4forgetKeys(b);
}

int rebalance(BLOCK4* b, BLOCK4* parent) {
  if (parent == nullptr || block4numKeys(b) != 2) return 1;
  const int length = tagfile4keyLength(b->tag);
  const int p = b->keyOn;
  const int up = parent->keyOn;
  const int parentCount = block4numKeys(parent);
  if (up < 0 || up >= parentCount) return 1;
  const bool toLeft = p > 0 && up > 0;
  const bool toRight = p == 0 && up < parentCount - 1;
  if (!toLeft && !toRight) return 1;

  const uint32_t siblingBlock = toLeft ? block4left(b) : block4right(b);
  const int siblingEntry = toLeft ? up - 1 : up + 1;
  if (child(parent->data(), length, up) != b->fileBlock ||
      child(parent->data(), length, siblingEntry) != siblingBlock)
    return block4damaged(b, kLocSiblings);

  BLOCK4* sibling = block4alloc(b->tag, siblingBlock);
  if (sibling == nullptr) return -1;
  int rc = block4read(sibling, siblingBlock);
  if (rc == 0 && block4leaf(sibling)) rc = block4damaged(sibling, kLocSiblings);
  if (rc < 0 || block4numKeys(sibling) >= 2) {
    block4free(sibling);
    return rc < 0 ? rc : 1;
  }

  // The sibling is written first: when that fails, this node and the
  // parent are still as they were.
  unsigned char* node = b->data();
  unsigned char* other = sibling->data();
  const int siblingCount = block4numKeys(sibling);
  if (toLeft) {
    copyEntry(other, siblingCount, node, 0, length);
  } else {
    std::memmove(entry(other, length, 1), entry(other, length, 0),
                 siblingCount * entrySize(length));
    copyEntry(other, 0, node, 1, length);
  }
  block4numKeysSet(sibling, siblingCount + 1);
  rc = block4flush(sibling);
  block4free(sibling);
  if (rc < 0) return rc;

  // The parent's entry for the left node of the pair takes that node's new
  // last key and record; its child stays.
  if (toLeft) {
    std::memcpy(entry(parent->data(), length, up - 1), entry(node, length, 0), length + 4);
    copyEntry(node, 0, node, 1, length);
    b->keyOn = p - 1;
  } else {
    std::memcpy(entry(parent->data(), length, up), entry(node, length, 0), length + 4);
  }
  std::memset(entry(node, length, 1), 0, entrySize(length));
  block4numKeysSet(b, 1);
  block4forgetKeys(b);
  block4forgetKeys(parent);
  b->changed = parent->changed = true;
  return 0;
}

}  // namespace branch4
