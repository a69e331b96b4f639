// Tags of an open file: setting one up, its root leaf, releasing it.
#include "engine/index/tag4file.h"

#include <cstring>

#include "engine/index/block4.h"
#include "engine/index/block4leaf.h"
#include "engine/index/cdx4freelist.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4internal.h"
#include "engine/index/tag4keytype.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocNoMemory = 90012;
constexpr int32_t kKeysStart = 3;
constexpr int32_t kKeysExpand = 2;

void setName(TAG4FILE* t, const char* name) {
  size_t length = 0;
  if (name != nullptr) {
    while (length < cdx4tagNameLength && name[length] != '\0') {
      const char ch = name[length];
      t->name[length] = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
      length++;
    }
  }
  while (length > 0 && t->name[length - 1] == ' ') length--;
  std::memset(t->name + length, 0, sizeof t->name - length);
}

}  // namespace

int32_t tag4compareBytes(const unsigned char* stored, const unsigned char* value, int32_t length) {
  const int32_t equal = leaf4::sharedPrefix(stored, value, length);
  if (equal == length) return length;
  return stored[equal] > value[equal] ? -1 : equal;
}

int32_t tagfile4initNodes(TAG4FILE* t, INDEX4FILE* i, uint32_t headerBlock, const Cdx4Header& h) {
  t->indexFile = i;
  t->codeBase = i->codeBase;
  t->header = h;
  t->headerBlock = headerBlock;
  if (t->keyMemory == nullptr) {
    const int32_t unit = static_cast<int32_t>(sizeof(B4KEY_DATA) + h.keyLength + 1);
    t->keyMemory = memory4create(t->codeBase, kKeysStart, unit, kKeysExpand, false);
    if (t->keyMemory == nullptr) return error4(t->codeBase, e4memory, kLocNoMemory);
  }
  return 0;
}

void tagfile4releaseNodes(TAG4FILE* t) {
  memory4release(t->keyMemory);
  t->keyMemory = nullptr;
}

int32_t tagfile4init(TAG4FILE* t, INDEX4FILE* i, uint32_t headerBlock, const Cdx4Header& h,
                     const char* name) {
  if (int32_t rc = tagfile4initNodes(t, i, headerBlock, h); rc < 0) return rc;
  setName(t, name);
  if (int32_t rc = tagfile4keyTypeSet(t, 'C', tag4machineOrder); rc < 0) return rc;
  // The header at block 0 is the file's: the tag of tags of a compound
  // file, the only tag of a single one. Whatever a header elsewhere says,
  // it is an ordinary tag, so that no header is ever written but where it
  // was read.
  // A damaged tag entry that names block 0 never takes the place of the
  // file's own tag, which is made first.
  const bool tagOfTags = (h.options & cdx4optionTagOfTags) != 0;
  const bool fileHeader = headerBlock == 0 && i->tagIndex == nullptr;
  if (fileHeader) i->tagIndex = t;
  if (!fileHeader || !tagOfTags) list4add(&i->tags, &t->link);
  return 0;
}

int32_t tagfile4release(TAG4FILE* t) {
  int32_t rc = tagfile4freeAll(t);
  tag4cacheDiscard(t);  // the tag goes: what could not be written goes too
  INDEX4FILE* i = t->indexFile;
  if (i != nullptr) {
    if (list4contains(&i->tags, &t->link)) list4remove(&i->tags, &t->link);
    if (i->tagIndex == t) i->tagIndex = nullptr;
  }
  tagfile4releaseNodes(t);
  return rc;
}

int32_t tagfile4rootCreate(TAG4FILE* t) {
  INDEX4FILE* i = t->indexFile;
  if (error4code(t->codeBase) < 0) return -1;
  const uint32_t block = index4extend(i);
  if (block == block4none) return -1;
  BLOCK4* b = block4alloc(t, block);
  if (b == nullptr) return -1;
  block4attributeSet(b, block4attrRootLeaf);
  block4leftSet(b, block4none);
  block4rightSet(b, block4none);
  block4leafInit(b);
  const int32_t rc = block4flush(b);
  block4free(b);
  if (rc < 0) return rc;
  t->header.root = block;
  t->rootChanged = true;
  index4changed(i);
  return 0;
}

uint32_t tagfile4widthRecords(const TAG4FILE* t) {
  return t->recordCount == nullptr ? 0 : t->recordCount(t->recordCountData);
}

char tagfile4type(const TAG4FILE* t) { return t->keyType; }
