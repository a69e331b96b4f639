// The sort's memory units and its memory limit.
//
// A unit is one heap block: a LINK4 that keeps it in the sort's list of
// units, then entriesPerUnit entries. The same units hold entries while
// they are collected and serve as the run buffers of the merge. Each is
// given back to the heap on its own, so releasing a unit really frees
// memory (a pool would keep it).
#include <new>

#include "engine/index/sort4internal.h"
#include "engine/storage/memory4.h"

uint32_t sort4unitHeader() { return sizeof(LINK4); }

bool sort4reserve(SORT4* s, int64_t bytes) {
  if (s->memoryLimit > 0 && s->bytesHeld + bytes > s->memoryLimit) return false;
  s->bytesHeld += bytes;
  return true;
}

void sort4unreserve(SORT4* s, int64_t bytes) { s->bytesHeld -= bytes; }

char* sort4takeUnit(SORT4* s) {
  if (!sort4reserve(s, s->unitSize)) return nullptr;
  void* block = memory4allocRetry(s->codeBase, s->unitSize);
  if (block == nullptr) {
    sort4unreserve(s, s->unitSize);
    return nullptr;
  }
  auto* link = new (block) LINK4{};
  list4add(&s->units, link);
  return sort4unitEntries(link);
}

char* sort4unitEntries(LINK4* unit) { return reinterpret_cast<char*>(unit) + sort4unitHeader(); }

bool sort4releaseUnit(SORT4* s) {
  LINK4* unit = list4pop(&s->units);
  if (unit == nullptr) return false;
  memory4freeBlock(unit);
  sort4unreserve(s, s->unitSize);
  return true;
}

void sort4releaseUnits(SORT4* s) {
  while (sort4releaseUnit(s)) {
  }
}
