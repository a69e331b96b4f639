// Seeking keys in the selected tag.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/expr4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocSeekN = 90243;
constexpr int32_t kLocSeekNextN = 90245;
constexpr int32_t kLocSeek = 90247;
constexpr int32_t kLocSeekNext = 90248;
constexpr int32_t kLocNotNumeric = 80122;

bool holdsFileLock(const DATA4* d) {
  return d->dataFile->file.accessMode == 1 || d->dataFile->fileLockServer == d->id;
}

bool nullable(TAG4FILE* tf) { return tf->expr != nullptr && expr4nullLow(tf->expr, 0) == 1; }

// The search value in key form: `key` converted by the tag's key type.
// Character keys are cut to the key length; a text no routine converts is
// sought as it is. A nullable key is prefixed with 0x80.
std::vector<unsigned char> searchKey(TAG4FILE* tf, const char* text, int32_t length) {
  const int32_t keyLength = tagfile4keyLength(tf);
  const bool character = tf->keyType == 'C' || tf->keyType == 'W' || tf->keyType == 'O';
  if (character) length = std::min(length, keyLength);
  std::vector<unsigned char> key(static_cast<size_t>(keyLength) + 2, 0);
  int32_t made = -1;
  if (tf->keyRoutines.fromText != nullptr) made = tf->keyRoutines.fromText(tf, key.data(), text, length);
  if (made < 0) {
    made = std::max(length, 0);
    std::memcpy(key.data(), text, static_cast<size_t>(made));
  } else if (!character) {
    made = keyLength - (nullable(tf) ? 1 : 0);
  }
  key.resize(static_cast<size_t>(made));
  if (nullable(tf)) key.insert(key.begin(), 0x80);
  return key;
}

// The record of the tag's cursor in the table, skipping entries past the
// record count; 0 when the tag ran out, or a negative error (a node the
// disk could not read is never the end of the tag).
int64_t nextInTable(DATA4* d, TAG4FILE* tf) {
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  while (!tagfile4eof(tf)) {
    const int64_t record = tagfile4recNo(tf);
    if (record < 1) return 0;
    if (record <= count) return record;
    if (const int32_t stepped = tagfile4step(tf, 1); stepped <= 0) return stepped;
  }
  return 0;
}

// Positions the handle on the tag's find. An unlocked shared table may hold
// entries not yet brought in line with their records: an entry whose
// record no longer has its key is passed over.
int32_t finish(DATA4* d, TAG4FILE* tf, int32_t found, const std::vector<unsigned char>& key) {
  if (found == r4locked || found < 0) return found;
  if (found == r4eof || tagfile4eof(tf)) return data4goEof(d);
  bool skipped = false;
  for (;;) {
    const int64_t record = nextInTable(d, tf);
    if (record < 0) return static_cast<int32_t>(record);
    if (record == 0) return data4goEof(d);
    if (const int32_t rc = data4go(d, static_cast<int32_t>(record)); rc != 0) return rc;
    if (holdsFileLock(d) || tf->expr == nullptr) return found;
    char* built = nullptr;
    const int32_t length = expr4key(tf->expr, &built, tf);
    if (length < 0) return length;
    const unsigned char* stored = tagfile4keyEntry(tf);
    if (stored == nullptr) return error4(d->codeBase, e4index, kLocSeek);
    if (tf->compare(stored, reinterpret_cast<unsigned char*>(built), length) == length) {
      if (!skipped) return found;
      return tf->compare(stored, key.data(), static_cast<int32_t>(key.size())) ==
                     static_cast<int32_t>(key.size())
                 ? 0
                 : r4after;
    }
    skipped = true;
    if (const int32_t stepped = tagfile4step(tf, 1); stepped <= 0)
      return stepped < 0 ? stepped : data4goEof(d);
  }
}

TAG4* seekTag(DATA4* d) { return data4tagDefault(d); }

int32_t seekKey(DATA4* d, TAG4* tag, const std::vector<unsigned char>& key) {
  TAG4FILE* tf = tag->tagFile;
  if (const int32_t rc = index4refresh(tf->indexFile); rc < 0) return rc;
  const int32_t found = tagfile4seek(tf, key.data(), static_cast<int32_t>(key.size()));
  return finish(d, tf, found, key);
}

int32_t enter(DATA4* d, int32_t location) {
  if (!data4check(d, location)) return e4parm;
  return error4code(d->codeBase) < 0 ? -1 : 0;
}

}  // namespace

int32_t data4seekN(DATA4* d, const char* text, int16_t length) {
  if (const int32_t rc = enter(d, kLocSeekN); rc != 0) return rc;
  TAG4* tag = seekTag(d);
  if (tag == nullptr) return r4noTag;
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  return seekKey(d, tag, searchKey(tag->tagFile, text, length));
}

int32_t data4seek(DATA4* d, const char* text) {
  if (const int32_t rc = enter(d, kLocSeek); rc != 0) return rc;
  return data4seekN(d, text, static_cast<int16_t>(text == nullptr ? 0 : std::strlen(text)));
}

int32_t data4seekDouble(DATA4* d, double value) {
  if (const int32_t rc = enter(d, kLocSeekN); rc != 0) return rc;
  TAG4* tag = seekTag(d);
  if (tag == nullptr) return r4noTag;
  TAG4FILE* tf = tag->tagFile;
  if (tf->keyRoutines.fromDouble == nullptr) return error4(d->codeBase, e4tagNotNumeric, kLocNotNumeric);
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  std::vector<unsigned char> key(static_cast<size_t>(tagfile4keyLength(tf)) + 1, 0);
  const int32_t made = tf->keyRoutines.fromDouble(tf, key.data(), value);
  if (made < 0) return made;
  key.resize(static_cast<size_t>(made));
  if (nullable(tf)) key.insert(key.begin(), 0x80);
  return seekKey(d, tag, key);
}

int32_t data4seekNextN(DATA4* d, const char* text, int16_t length) {
  if (const int32_t rc = enter(d, kLocSeekNextN); rc != 0) return rc;
  TAG4* tag = seekTag(d);
  if (tag == nullptr) return r4noTag;
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  TAG4FILE* tf = tag->tagFile;
  const std::vector<unsigned char> key = searchKey(tf, text, length);
  if (d->recNum < 1 || tf->expr == nullptr) return seekKey(d, tag, key);
  // The current record's key: when it does not begin with the value, this
  // is a plain seek.
  if (expr4context(tf->expr, d) < 0) return -1;
  char* current = nullptr;
  const int32_t currentLength = expr4key(tf->expr, &current, tf);
  if (currentLength < 0) return currentLength;
  const auto keyLength = static_cast<int32_t>(key.size());
  if (currentLength < keyLength || std::memcmp(current, key.data(), key.size()) != 0)
    return seekKey(d, tag, key);
  if (const int32_t rc = index4refresh(tf->indexFile); rc < 0) return rc;
  const std::vector<unsigned char> whole(current, current + currentLength);
  const int32_t placed = tagfile4seekRecord(tf, whole.data(), static_cast<uint32_t>(d->recNum), 0);
  if (placed < 0) return placed;
  if (placed == 0) {
    if (const int32_t stepped = tagfile4step(tf, 1); stepped <= 0)
      return stepped < 0 ? stepped : data4goEof(d);
  }
  if (tagfile4eof(tf)) return data4goEof(d);
  const int32_t rc = finish(d, tf, 0, key);
  if (rc != 0) return rc;
  const unsigned char* stored = tagfile4keyEntry(tf);
  if (stored != nullptr && tf->compare(stored, key.data(), keyLength) == keyLength) return 0;
  return r4entry;
}

int32_t data4seekNext(DATA4* d, const char* text) {
  if (const int32_t rc = enter(d, kLocSeekNext); rc != 0) return rc;
  return data4seekNextN(d, text, static_cast<int16_t>(text == nullptr ? 0 : std::strlen(text)));
}
