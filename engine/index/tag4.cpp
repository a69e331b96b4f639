// TAG4: unique modes and the keys a transaction removed from a unique tag.
//
// During a transaction a unique tag (modes 20, -340 and 15) keeps its
// records' old keys in the tree and notes each removal on the pending list
// instead: a rollback then finds every key where it was. The record layer
// pushes an entry when a record's key changes; tagfile4add settles it (see
// tag4add.cpp) and the commit or rollback clears the list.
#include "engine/index/tag4.h"

#include <cstring>
#include <new>

#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocNoTagFile = 90155;
constexpr int32_t kLocNoMemory = 90012;

TAG4PENDING* asPending(LINK4* link) { return reinterpret_cast<TAG4PENDING*>(link); }

}  // namespace

int16_t tag4uniqueModeFor(const CODE4* c, uint8_t options) {
  if ((options & cdx4optionUniqueNoNull) != 0)
    return c->errDefaultUnique == e4unique ? static_cast<int16_t>(e4candidate)
                                           : static_cast<int16_t>(r4uniqueNoNull);
  if ((options & cdx4optionUnique) != 0) return c->errDefaultUnique;
  return 0;
}

int32_t tag4uniqueMode(const TAG4* t) {
  if (t == nullptr || t->tagFile == nullptr) return error4(nullptr, e4parm, kLocNoTagFile);
  return t->uniqueMode;
}

int32_t tag4pendingPush(TAG4* t, uint32_t record, const unsigned char* key) {
  const int length = tagfile4keyLength(t->tagFile);
  void* unit = memory4allocZero(static_cast<int64_t>(sizeof(TAG4PENDING)) + length);
  if (unit == nullptr) return error4(t->tagFile->codeBase, e4memory, kLocNoMemory);
  auto* entry = new (unit) TAG4PENDING;
  entry->record = record;
  std::memcpy(entry->key(), key, static_cast<size_t>(length));
  if (LINK4* first = list4first(&t->removed); first != nullptr) {
    list4addBefore(&t->removed, first, &entry->link);
  } else {
    list4add(&t->removed, &entry->link);
  }
  return 0;
}

TAG4PENDING* tag4pendingFind(TAG4* t, uint32_t record, const unsigned char* key) {
  const int length = tagfile4keyLength(t->tagFile);
  for (LINK4* link = list4first(&t->removed); link != nullptr;
       link = list4next(&t->removed, link)) {
    TAG4PENDING* entry = asPending(link);
    if ((record == 0 || entry->record == record) &&
        std::memcmp(entry->key(), key, static_cast<size_t>(length)) == 0)
      return entry;
  }
  return nullptr;
}

void tag4pendingDrop(TAG4* t, TAG4PENDING* entry) {
  list4remove(&t->removed, &entry->link);
  entry->~TAG4PENDING();
  memory4freeBlock(entry);
}

void tag4pendingClear(TAG4* t) {
  while (LINK4* link = list4first(&t->removed)) tag4pendingDrop(t, asPending(link));
}
