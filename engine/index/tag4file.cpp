#include "engine/index/tag4file.h"

#include <cstring>

#include "engine/index/block4.h"
#include "engine/index/index4file.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocNoMemory = 90012;
constexpr int32_t kKeysStart = 3;
constexpr int32_t kKeysExpand = 2;

}  // namespace

int32_t tag4compareBytes(const unsigned char* stored, const unsigned char* value,
                         int32_t length) {
  for (int32_t i = 0; i < length; i++) {
    if (stored[i] != value[i]) return stored[i] > value[i] ? -1 : i;
  }
  return length;
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

uint32_t tagfile4widthRecords(const TAG4FILE* t) {
  return t->recordCount == nullptr ? 0 : t->recordCount(t->recordCountData);
}
