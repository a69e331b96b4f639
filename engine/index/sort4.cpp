// The sort's life: start, collecting entries, spooling runs to the work
// file, ending the input, handing entries out, and freeing.
#include "engine/index/sort4.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/index/sort4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"

namespace {

// Below this many slots a pointer array that had to shrink is not worth
// sorting with.
constexpr uint32_t kMinShrunkSlots = 256;
// Bounds of the spool buffer: the writer moves whole KiB, and its halves
// hold at most 32256 bytes each (a bigger buffer would be left unused, or,
// masked to that size, leave the writer unbuffered).
constexpr int64_t kMinSpoolBuffer = 1024;
constexpr int64_t kMaxSpoolBuffer = 2 * 32256;

struct EntryLess {
  const SORT4* s;
  bool operator()(const char* a, const char* b) const { return sort4order(s, a, b) < 0; }
};

void sortInMemory(SORT4* s) { std::sort(s->slots, s->slots + s->entriesInMemory, EntryLess{s}); }

// Gives the pointer array more slots with storage: a fresh unit's entries
// (as many as the array has room for), or, when no unit can be had, the
// array's own unused tail. After the tail is used the array never grows.
void grow(SORT4* s) {
  const uint32_t used = s->slotsWithStorage;
  if (char* storage = sort4takeUnit(s)) {
    const uint32_t n = std::min(s->entriesPerUnit, s->capacity - used);
    for (uint32_t i = 0; i < n; i++) s->slots[used + i] = storage + uint64_t{i} * s->entrySize;
    s->slotsWithStorage = used + n;
    return;
  }
  // k more slots take k pointers and k entries out of the tail:
  // k x (entry + pointer) <= tail bytes. The entries go after the k
  // pointers, past the new capacity.
  const uint64_t tailBytes = uint64_t{s->capacity - used} * sizeof(char*);
  const auto k = static_cast<uint32_t>(tailBytes / (s->entrySize + sizeof(char*)));
  char* storage = reinterpret_cast<char*>(s->slots + used + k);
  for (uint32_t i = 0; i < k; i++) s->slots[used + i] = storage + uint64_t{i} * s->entrySize;
  s->slotsWithStorage = s->capacity = used + k;
  s->mayGrow = false;
}

// Sorts the entries in memory and appends them to the work file as one
// run, creating the file at the first run. `last`: the run that ends the
// input, the only one that may be shorter.
int32_t spool(SORT4* s, bool last) {
  CODE4* c = s->codeBase;
  if (s->file.handle < 0) {
    const int32_t rc = file4tempLow(&s->file, c, 1, 1, nullptr);
    if (rc != 0) return rc < 0 ? rc : -1;
    file4seqWriteInit(&s->writer, &s->file, 0, s->spoolBuffer, s->spoolBufferSize);
  }
  const uint64_t bytes = uint64_t{s->entriesInMemory} * s->entrySize;
  // Run i is found at i x runLength: a run of another length would shift
  // every run after it.
  if (s->runCount > 0 && (bytes > s->runLength || (!last && bytes != s->runLength)))
    return error4(c, e4info, sort4locPut);
  sortInMemory(s);
  for (uint32_t i = 0; i < s->entriesInMemory; i++) {
    const int32_t rc = file4seqWrite(&s->writer, s->slots[i], s->entrySize);
    if (rc < 0) return rc;
  }
  if (s->runCount == 0) s->runLength = bytes;
  s->runCount++;
  s->spooledBytes += bytes;
  s->entriesInMemory = 0;
  return 0;
}

// The pointer array: capacity slots, halved while the heap refuses them.
bool allocateSlots(SORT4* s) {
  for (;;) {
    s->slots = static_cast<char**>(
        memory4allocRetry(s->codeBase, int64_t{s->capacity} * int64_t{sizeof(char*)}));
    if (s->slots != nullptr) return true;
    s->capacity /= 2;
    if (s->capacity < kMinShrunkSlots) return false;
  }
}

// Ends the input when runs were written: the entries in memory become the
// last run, and the collecting memory goes before the merge takes its own.
int32_t endSpooledInput(SORT4* s) {
  if (s->entriesInMemory > 0) {
    const int32_t rc = spool(s, true);
    if (rc < 0) return rc;
  }
  const int32_t rc = file4seqWriteFlush(&s->writer);
  if (rc < 0) return rc;
  memory4freeBlock(s->spoolBuffer);
  s->spoolBuffer = nullptr;
  memory4freeBlock(s->slots);
  s->slots = nullptr;
  s->capacity = s->slotsWithStorage = 0;
  return sort4mergeInit(s);
}

// The write-behind worker may still hold a half of the spool buffer.
// Closing the work file drops its queued writes, each handing its half
// back, and lets a write in progress finish; then both halves come back.
void takeBackSpoolHalves(SORT4* s) {
  FILE4SEQWRITE& w = s->writer;
  std::unique_lock lock(w.mutex);
  w.changed.wait(lock, [&w] { return w.halfFree[0] && w.halfFree[1]; });
}

}  // namespace

int sort4compareBytes(const void* a, const void* b, size_t length) {
  return length == 0 ? 0 : std::memcmp(a, b, length);
}

int32_t sort4fail(SORT4* s, int32_t rc) {
  if (rc < 0 && s->failure == 0) s->failure = rc;
  return rc;
}

SORT4::~SORT4() { sort4free(this); }

int32_t sort4init(SORT4* s, CODE4* c, int32_t keyLength, int32_t extraLength) {
  if (s == nullptr || c == nullptr) return error4(nullptr, e4parmNull, sort4locInit);
  sort4free(s);
  if (error4code(c) < 0) return -1;
  const int64_t entrySize = int64_t{keyLength} + 4 + int64_t{extraLength};
  // A unit holds at least one entry, so every unit taken adds a slot.
  const int64_t unitSize =
      std::max<int64_t>(c->memSizeSortPool, int64_t{sort4unitHeader()} + entrySize);
  if (keyLength < 0 || extraLength < 0 || unitSize > INT32_MAX)
    return error4(c, e4parm, sort4locInit);

  s->codeBase = c;
  s->keyLength = static_cast<uint32_t>(keyLength);
  s->extraOffset = s->keyLength + 4;
  s->extraLength = static_cast<uint32_t>(extraLength);
  s->entrySize = static_cast<uint32_t>(entrySize);
  s->unitSize = static_cast<uint32_t>(unitSize);
  s->entriesPerUnit = static_cast<uint32_t>((unitSize - sort4unitHeader()) / entrySize);
  s->capacity = s->unitSize / 4;
  s->spoolBufferSize = static_cast<uint32_t>(
      std::clamp<int64_t>(c->memSizeSortBuffer, kMinSpoolBuffer, kMaxSpoolBuffer));
  s->spoolBuffer = static_cast<char*>(memory4allocRetry(c, s->spoolBufferSize));
  if (s->spoolBuffer == nullptr || !allocateSlots(s)) {
    sort4free(s);
    return error4(c, e4memory, sort4locInit);
  }
  s->state = sort4collecting;
  return 0;
}

int32_t sort4put(SORT4* s, int32_t recordNumber, const void* key, const void* extra) {
  if (s == nullptr) return error4(nullptr, e4parm, sort4locPut);
  CODE4* c = s->codeBase;
  if (error4code(c) < 0) return -1;
  if (s->failure < 0) return s->failure;
  if (s->state != sort4collecting || key == nullptr || recordNumber < 0 ||
      (extra == nullptr && s->extraLength > 0))
    return error4(c, e4parm, sort4locPut);

  if (s->entriesInMemory == s->slotsWithStorage) {
    if (s->mayGrow && s->slotsWithStorage < s->capacity) grow(s);
    if (s->entriesInMemory == s->slotsWithStorage) {
      const int32_t rc =
          s->slotsWithStorage == 0 ? error4(c, e4memory, sort4locPut) : spool(s, false);
      if (rc < 0) return sort4fail(s, rc);
    }
  }
  char* entry = s->slots[s->entriesInMemory++];
  std::memcpy(entry, key, s->keyLength);
  const auto record = static_cast<uint32_t>(recordNumber);
  std::memcpy(entry + s->keyLength, &record, sizeof record);
  if (s->extraLength > 0) std::memcpy(entry + s->extraOffset, extra, s->extraLength);
  return 0;
}

int32_t sort4getInit(SORT4* s) {
  if (s == nullptr) return error4(nullptr, e4parmNull, sort4locGetInit);
  CODE4* c = s->codeBase;
  if (error4code(c) < 0) return -1;
  if (s->failure < 0) return s->failure;
  if (s->state != sort4collecting) return error4(c, e4parm, sort4locGetInit);
  if (s->runCount > 0) {
    const int32_t rc = endSpooledInput(s);
    if (rc < 0) return sort4fail(s, rc);
    s->state = sort4merging;
    return 0;
  }
  sortInMemory(s);
  memory4freeBlock(s->spoolBuffer);
  s->spoolBuffer = nullptr;
  s->readPosition = 0;
  s->state = sort4inMemory;
  return 0;
}

int32_t sort4get(SORT4* s, int32_t* recordNumber, const char** key, const char** extra) {
  if (s == nullptr) return error4(nullptr, e4parmNull, sort4locGet);
  if (s->state == sort4released) return r4done;
  CODE4* c = s->codeBase;
  if (error4code(c) < 0) return -1;
  if (s->failure < 0) return s->failure;
  const char* entry = nullptr;
  int32_t rc;
  switch (s->state) {
    case sort4inMemory:
      rc = s->readPosition < s->entriesInMemory ? 0 : r4done;
      if (rc == 0) entry = s->slots[s->readPosition++];
      break;
    case sort4merging:
      rc = sort4mergeNext(s, &entry);
      break;
    default:
      return error4(c, e4parm, sort4locGet);
  }
  if (rc == r4done) {
    sort4free(s);
    return r4done;
  }
  if (rc < 0) return sort4fail(s, rc);
  if (recordNumber != nullptr) *recordNumber = static_cast<int32_t>(sort4recordOf(s, entry));
  if (key != nullptr) *key = entry;
  if (extra != nullptr) *extra = entry + s->extraOffset;
  return 0;
}

void sort4free(SORT4* s) {
  if (s == nullptr) return;
  if (s->file.handle >= 0) {
    file4close(&s->file);
    takeBackSpoolHalves(s);
  }
  memory4freeBlock(s->spoolBuffer);
  memory4freeBlock(s->slots);
  memory4freeBlock(s->runs);
  sort4releaseUnits(s);
  static_cast<Sort4Fields&>(*s) = Sort4Fields{};
}
