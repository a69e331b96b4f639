#include "engine/storage/data4navigate.h"

#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"
#include "engine/storage/memo4field.h"

namespace {

constexpr int32_t kLocBottom = 90140;
constexpr int32_t kLocTop = 90200;
constexpr int32_t kLocGo = 90253;
constexpr int32_t kLocGoEof = 90254;
constexpr int32_t kLocBof = 90260;
constexpr int32_t kLocEof = 90263;
constexpr int32_t kLocSkip = 90357;
constexpr int32_t kLocMissing = 90131;
constexpr int32_t kLocNoRecord = 80180;

// Null handle, invalid handle or pending error: the result to return, else 0.
int32_t enter(DATA4* d, int32_t location) {
  if (d == nullptr) return error4(nullptr, e4parmNull, location);
  if (structure4check(d, structure4data, location) < 0) return e4parm;
  return error4code(d->codeBase) < 0 ? -1 : 0;
}

// Writes a changed record, or marks the memo values to be read again.
int32_t leaveRecord(DATA4* d) {
  if (d->recordChanged) return data4updateRecord(d, 0, 1);
  for (MEMO4FIELD& memo : d->memoFields) memo.notRead = 1;
  return 0;
}

void noRecord(DATA4* d) {
  d->recNum = -1;
  data4blank(d);
  d->recordChanged = 0;
}

// Goes to record n with the report of missing records switched off.
int32_t goQuietly(DATA4* d, int32_t record) {
  CODE4* c = d->codeBase;
  const int32_t saved = c->errGo;
  c->errGo = 0;
  const int32_t rc = data4go(d, record);
  c->errGo = saved;
  return rc;
}

}  // namespace

int32_t data4go(DATA4* d, int32_t record) {
  if (const int32_t rc = enter(d, kLocGo); rc != 0) return rc;
  CODE4* c = d->codeBase;
  if (const int32_t rc = leaveRecord(d); rc != 0) return rc;
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  d->count = static_cast<uint32_t>(count);
  if (record < 1 || record > count) {
    noRecord(d);
    if (c->errGo) return error4describe(c, e4read, kLocMissing, d->alias, nullptr, nullptr);
    return r4entry;
  }
  const bool lockedHere = c->readLock != 0;
  if (lockedHere) {
    if (const int32_t rc = data4lock(d, record, 0, 1); rc != 0) return rc;
  }
  if (const int32_t rc = data4readRecord(d, record, d->record); rc != 0) {
    noRecord(d);
    if (lockedHere) data4unlockRecord(d, record);
    return rc < 0 ? rc : r4entry;
  }
  d->recNum = record;
  d->bofFlag = d->eofFlag = 0;
  d->recordChanged = 0;
  for (MEMO4FIELD& memo : d->memoFields) field4memoReset(memo.field);
  if (data4lockTest(d, record, lock4either) == 1) {
    // The record as stored was just read: its old image is a copy, not a
    // second read of the file.
    std::memcpy(d->recordOld, d->record, d->dataFile->recordLength);
    d->recNumOld = record;
  }
  return 0;
}

int32_t data4goEof(DATA4* d) {
  if (const int32_t rc = enter(d, kLocGoEof); rc != 0) return rc;
  if (const int32_t rc = leaveRecord(d); rc != 0) return rc;
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  d->recNum = count + 1;
  d->eofFlag = 1;
  if (count == 0) d->bofFlag = 1;
  data4blank(d);
  d->recordChanged = 0;
  return r4eof;
}

int32_t data4top(DATA4* d) {
  if (const int32_t rc = enter(d, kLocTop); rc != 0) return rc;
  if (d->tagSelected != nullptr) return data4topTag(d, static_cast<TAG4*>(d->tagSelected));
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  if (count > 0) return goQuietly(d, 1);
  d->bofFlag = 1;
  return data4goEof(d);
}

int32_t data4bottom(DATA4* d) {
  if (const int32_t rc = enter(d, kLocBottom); rc != 0) return rc;
  if (d->tagSelected != nullptr) return data4bottomTag(d, static_cast<TAG4*>(d->tagSelected));
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  if (count > 0) return goQuietly(d, count);
  d->bofFlag = 1;
  return data4goEof(d);
}

int32_t data4skip(DATA4* d, int32_t n) {
  if (const int32_t rc = enter(d, kLocSkip); rc != 0) return rc;
  if (d->tagSelected != nullptr) return data4skipTag(d, static_cast<TAG4*>(d->tagSelected), n);
  CODE4* c = d->codeBase;
  if (d->recNum < 1) {
    if (c->errSkip) return error4(c, e4info, kLocNoRecord);
    return e4info;
  }
  const int64_t target = static_cast<int64_t>(d->recNum) + n;
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  if (count == 0) {
    data4goEof(d);
    d->bofFlag = 1;
    return n < 0 ? r4bof : r4eof;
  }
  if (target > count) return data4goEof(d);
  if (target >= 1) {
    return goQuietly(d, static_cast<int32_t>(target));
  }
  const int32_t eof = d->eofFlag;
  if (const int32_t rc = goQuietly(d, 1); rc != 0) return rc;
  d->bofFlag = 1;
  d->eofFlag = eof;
  return r4bof;
}

int32_t data4bof(DATA4* d) {
  if (const int32_t rc = enter(d, kLocBof); rc != 0) return rc;
  return d->bofFlag;
}

int32_t data4eof(DATA4* d) {
  if (const int32_t rc = enter(d, kLocEof); rc != 0) return rc;
  return d->eofFlag;
}
