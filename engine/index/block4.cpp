// Nodes in memory: their pools, reading and checking, writing, the common
// fields, and the operations that dispatch on the node's kind.
#include "engine/index/block4.h"

#include <charconv>
#include <cstring>
#include <new>

#include "engine/index/block4branch.h"
#include "engine/index/block4leaf.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

using namespace endian4;

namespace {

constexpr int kAttribute = 0;
constexpr int kCount = 2;
constexpr int kLeft = 4;
constexpr int kRight = 8;
constexpr uint16_t kAttributeIgnored = 0x04;

constexpr int32_t kLocNoMemory = 90012;
constexpr int32_t kLocAttribute = 80300;
constexpr int32_t kLocSibling = 80304;

bool siblingSound(const BLOCK4* b, uint32_t sibling) {
  if (sibling == block4none) return true;
  return sibling != b->fileBlock &&
         cdx4nodeOffsetPlausible(block4toOffset(b->tag->indexFile, sibling));
}

}  // namespace

int32_t block4damaged(BLOCK4* b, int32_t location) {
  INDEX4FILE* i = b->tag->indexFile;
  if (i->damageQuiet) {
    i->damageLocation = location;
    return e4index;
  }
  char where[48] = "node at byte ";
  const uint64_t offset = block4toOffset(b->tag->indexFile, b->fileBlock);
  char* end = std::to_chars(where + 13, where + sizeof where - 1, offset).ptr;
  *end = '\0';
  return error4describe(b->tag->codeBase, e4index, location, b->tag->indexFile->file.name, where,
                        nullptr);
}

BLOCK4* block4alloc(TAG4FILE* t, uint32_t fileBlock) {
  CODE4* c = t->codeBase;
  INDEX4FILE* i = t->indexFile;
  void* unit = memory4allocDefault(i->blockMemory, c, false);
  void* key = unit == nullptr ? nullptr : memory4allocDefault(t->keyMemory, c, true);
  void* spare = key == nullptr ? nullptr : memory4allocDefault(t->keyMemory, c, true);
  if (spare == nullptr) {
    memory4free(t->keyMemory, key);
    memory4free(i->blockMemory, unit);
    error4(c, e4memory, kLocNoMemory);
    return nullptr;
  }
  auto* b = new (unit) BLOCK4;
  std::memset(b->data(), 0, i->blockSize);
  b->tag = t;
  b->fileBlock = fileBlock;
  b->builtKey = static_cast<B4KEY_DATA*>(key);
  b->spareKey = static_cast<B4KEY_DATA*>(spare);
  b->curPos = static_cast<int32_t>(i->blockSize);
  return b;
}

void block4free(BLOCK4* b) {
  if (b == nullptr) return;
  TAG4FILE* t = b->tag;
  memory4free(t->keyMemory, b->builtKey);
  memory4free(t->keyMemory, b->spareKey);
  b->~BLOCK4();
  memory4free(t->indexFile->blockMemory, b);
}

int32_t block4read(BLOCK4* b, uint32_t fileBlock) {
  INDEX4FILE* i = b->tag->indexFile;
  b->fileBlock = fileBlock;
  b->changed = false;
  block4forgetKeys(b);
  int32_t rc = file4readAll(&i->file, block4toOffset(i, fileBlock), b->data(), i->blockSize);
  if (rc == 0) rc = block4check(b);
  if (rc < 0) {
    std::memset(b->data(), 0, i->blockSize);
    b->fileBlock = block4none;
    b->keyOn = 0;
    b->curPos = static_cast<int32_t>(i->blockSize);
    return rc;
  }
  return 0;
}

int32_t block4check(BLOCK4* b) {
  block4forgetKeys(b);
  if (block4attribute(b) > block4attrRootLeaf) return block4damaged(b, kLocAttribute);
  if (!siblingSound(b, block4left(b)) || !siblingSound(b, block4right(b)))
    return block4damaged(b, kLocSibling);
  const int32_t rc = block4leaf(b) ? leaf4::check(b) : branch4::check(b);
  if (rc == 0) block4top(b);
  return rc;
}

int32_t block4flush(BLOCK4* b) {
  INDEX4FILE* i = b->tag->indexFile;
  const int32_t rc = file4write(&i->file, block4toOffset(i, b->fileBlock), b->data(), i->blockSize);
  if (rc == 0) b->changed = false;
  return rc;
}

int block4attribute(const BLOCK4* b) {
  return readLe16(b->data() + kAttribute) & ~kAttributeIgnored;
}
void block4attributeSet(BLOCK4* b, int attribute) {
  writeLe16(b->data() + kAttribute, static_cast<uint16_t>(attribute));
}
bool block4leaf(const BLOCK4* b) { return (b->data()[kAttribute] & block4attrLeaf) != 0; }
int block4numKeys(const BLOCK4* b) { return readLe16(b->data() + kCount); }
void block4numKeysSet(BLOCK4* b, int count) {
  writeLe16(b->data() + kCount, static_cast<uint16_t>(count));
}
uint32_t block4left(const BLOCK4* b) { return readLe32(b->data() + kLeft); }
uint32_t block4right(const BLOCK4* b) { return readLe32(b->data() + kRight); }
void block4leftSet(BLOCK4* b, uint32_t block) { writeLe32(b->data() + kLeft, block); }
void block4rightSet(BLOCK4* b, uint32_t block) { writeLe32(b->data() + kRight, block); }

B4KEY_DATA* block4key(BLOCK4* b, int i) {
  if (i < 0 || i >= block4numKeys(b)) return nullptr;
  if (block4leaf(b)) return leaf4::expand(b, i) == nullptr ? nullptr : b->builtKey;
  if (b->builtOn != i) {
    const int length = tagfile4keyLength(b->tag);
    std::memcpy(b4keyValue(b->builtKey), branch4::entry(b->data(), length, i), length);
    b4keyValue(b->builtKey)[length] = 0;
    b->builtKey->num = branch4::record(b->data(), length, i);
    b->builtOn = i;
  }
  return b->builtKey;
}

uint32_t block4recNo(BLOCK4* b, int i) {
  if (i < 0 || i >= block4numKeys(b)) return 0;
  if (block4leaf(b)) {
    const leaf4::Widths w = leaf4::widthsOf(b->data());
    return leaf4::entryAt(b->data(), w, i).record;
  }
  return branch4::record(b->data(), tagfile4keyLength(b->tag), i);
}

uint32_t block4child(const BLOCK4* b, int i) {
  return branch4::child(b->data(), tagfile4keyLength(b->tag), i);
}

void block4goTo(BLOCK4* b, int i) {
  const int count = block4numKeys(b);
  if (i < 0) i = 0;
  if (i > count) i = count;
  if (block4leaf(b)) {
    leaf4::goTo(b, i);
  } else {
    b->keyOn = i;
  }
}

int block4go(BLOCK4* b, int n) {
  const int from = b->keyOn;
  block4goTo(b, from + n);
  return b->keyOn - from;
}

void block4goEof(BLOCK4* b) { block4goTo(b, block4numKeys(b)); }

void block4top(BLOCK4* b) {
  b->keyOn = 0;
  b->curPos = static_cast<int32_t>(b->tag->indexFile->blockSize);
  block4goTo(b, 0);
}

int block4seek(BLOCK4* b, const void* key, int length) {
  const auto* value = static_cast<const unsigned char*>(key);
  if (length < 0) length = 0;
  if (length > tagfile4keyLength(b->tag)) length = tagfile4keyLength(b->tag);
  return block4leaf(b) ? leaf4::seek(b, value, length) : branch4::seek(b, value, length);
}

int block4seekBranch(BLOCK4* b, const void* key, int length, uint32_t record) {
  const int rc = block4seek(b, key, length);
  if (rc != 0) return rc;
  if (length > tagfile4keyLength(b->tag)) length = tagfile4keyLength(b->tag);
  const auto* value = static_cast<const unsigned char*>(key);
  const int last = block4numKeys(b) - 1;
  for (;;) {
    const B4KEY_DATA* entry = block4key(b, b->keyOn);
    if (entry == nullptr) return -1;
    if (b->tag->compare(b4keyValue(entry), value, length) != length) return 2;
    if (entry->num >= record) return 0;
    if (b->keyOn == last) {
      if (block4leaf(b)) block4go(b, 1);
      return block4leaf(b) ? 2 : 0;
    }
    block4go(b, 1);
  }
}

int block4insertLeaf(BLOCK4* b, const void* key, uint32_t record) {
  return leaf4::insert(b, static_cast<const unsigned char*>(key), record);
}

int block4insertBranch(BLOCK4* b, const void* key, uint32_t record, uint32_t child, int placement,
                       BLOCK4* parent) {
  return branch4::insert(b, static_cast<const unsigned char*>(key), record, child, placement,
                         parent);
}

void block4branchReplace(BLOCK4* b, const void* key, uint32_t record) {
  branch4::replace(b, static_cast<const unsigned char*>(key), record);
}

int block4remove(BLOCK4* b) {
  if (b->keyOn < 0 || b->keyOn >= block4numKeys(b)) return 0;
  if (block4leaf(b)) return leaf4::remove(b);
  branch4::remove(b);
  return 0;
}
