// Appending records.
#include "engine/storage/data4append.h"

#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4autoincrement.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4log.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tail.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"
#include "engine/storage/memo4field.h"
#include "engine/storage/memo4file.h"

namespace {

constexpr int32_t kLocAppend = 90132;
constexpr int32_t kLocAppendStart = 90135;
constexpr int32_t kLocAppendUndo = 90136;
constexpr int32_t kLocReadOnly = 80013;

bool holdsFileLock(const DATA4* d) {
  return d->dataFile->file.accessMode == 1 || d->dataFile->fileLockServer == d->id;
}

// Takes the append lock and the lock of the new record: 0 or the failure.
int32_t lockForAppend(DATA4* d) {
  CODE4* c = d->codeBase;
  DATA4FILE* df = d->dataFile;
  if (holdsFileLock(d)) return 0;
  const int32_t next =
      static_cast<int32_t>(datafile4recCount(df, df->appendLockServer == d->id)) + 1;
  if (df->appendLockServer == d->id && data4lockTest(d, next, lock4system) == 1) return 0;
  const int16_t savedUnlock = c->unlockAllowed;
  int32_t rc = 0;
  if (df->appendLockServer != d->id) {
    rc = data4lockAppend(d, savedUnlock != 0);
    df->liveCount = -1;
  }
  c->unlockAllowed = 0;
  if (rc == 0) {
    const int32_t record = static_cast<int32_t>(datafile4recCount(df, true)) + 1;
    rc = data4lock(d, record, 0, lock4system);
  }
  c->unlockAllowed = savedUnlock;
  if (rc != 0) data4unlockRecords(d);
  return rc;
}

// Gives each memo value its block number in the new record; an empty one
// gets none.
int32_t writeMemos(DATA4* d) {
  DATA4FILE* df = d->dataFile;
  for (MEMO4FIELD& memo : d->memoFields) {
    FIELD4* field = memo.field;
    int64_t block = 0;
    if (memo.length > 0) {
      if (!df->memoOpen) return -1;
      if (const int32_t rc = memo4fileWrite(&df->memoFile, &block, memo.contents, memo.length);
          rc < 0)
        return rc;
    }
    memo4setBlock(field, d->record, block);
    memo.changed = 0;
  }
  return 0;
}

// Writes the record buffer as record count + 1. At levels 25 and 26 the
// end byte follows the new last record.
int32_t writeRecord(DATA4* d, int64_t count) {
  DATA4FILE* df = d->dataFile;
  if (datafile4tailCut(df) < 0) return -1;
  const bool endByte = df->compatibility != 30;
  d->record[df->recordLength] = dbf4endOfFile;
  const uint64_t offset = df->header.headerLength + static_cast<uint64_t>(count) * df->recordLength;
  const int32_t rc = file4write(&df->file, offset, d->record, df->recordLength + (endByte ? 1 : 0));
  d->record[df->recordLength] = '\0';
  return rc;
}

// Commits the append's own transaction and lets its locks go.
int32_t commitOwn(DATA4* d) {
  if (const int32_t rc = data4logAutoCommit(d); rc < 0) {
    data4logAutoRollback(d);  // phase one failed: the append is taken back
    return rc;
  }
  if (!d->codeBase->unlockAllowed) return 0;
  int32_t rc = data4unlockAppend(d, -1);
  if (const int32_t unlocked = datafile4unlockIndex(d->dataFile, d->id); unlocked < 0 && rc == 0)
    rc = unlocked;
  return rc < 0 ? rc : 0;
}

}  // namespace

int32_t data4appendStart(DATA4* d, int16_t carryMemos) {
  if (!data4check(d, kLocAppendStart)) return e4parm;
  CODE4* c = d->codeBase;
  if (error4code(c) < 0) return -1;
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  if (!d->memoFields.empty()) {
    const bool carry = carryMemos == 1 && d->recNum >= 1 && !d->bofFlag && !d->eofFlag;
    for (MEMO4FIELD& memo : d->memoFields) {
      if (carry) {
        if (memo.notRead) field4memoRead(memo.field);
        memo.notRead = 0;
      } else {
        field4memoFree(memo.field);
        memo.notRead = 0;
      }
    }
    for (MEMO4FIELD& memo : d->memoFields) memo4setBlock(memo.field, d->record, 0);
  }
  d->recNum = 0;
  d->memoPrepared = false;
  // A transaction keeps its locks to the end: the count its appends reach
  // is known only while the append lock stays.
  if (!holdsFileLock(d) && c->transactionState != tran4active) return data4unlockData(d, -1);
  return 0;
}

int32_t data4append(DATA4* d) {
  if (!data4check(d, kLocAppend)) return e4parm;
  CODE4* c = d->codeBase;
  if (error4code(c) < 0) return -1;
  if (d->readOnly) return error4describe(c, e4write, kLocReadOnly, d->alias, nullptr, nullptr);
  const int32_t previous = d->recNum;
  bool ownTransaction = false;
  if (const int32_t rc = data4logAutoStart(d, &ownTransaction); rc < 0) return rc;
  if (const int32_t rc = lockForAppend(d); rc != 0) {
    if (ownTransaction) data4logAutoRollback(d);
    return rc;
  }
  DATA4FILE* df = d->dataFile;
  data4autoIncrementAssign(d);
  d->bofFlag = d->eofFlag = 0;
  d->recordChanged = 0;
  const int64_t count = datafile4recCount(df, true);
  if (count < 0) {
    // Nothing is written yet: the append's own transaction and its locks
    // end here.
    if (ownTransaction) data4logAutoRollback(d);
    if (c->unlockAllowed && c->transactionState != tran4active) data4unlockAppend(d, -1);
    return -1;
  }
  const int32_t record = static_cast<int32_t>(count) + 1;
  int32_t rc = data4logAppend(d, record);
  if (rc == 0) rc = data4appendKeys(d, record);
  if (rc == 0) {
    rc = writeMemos(d);
    if (rc == 0) rc = writeRecord(d, count);
    if (rc == 0) {
      df->liveCount = record;
      if (c->transactionState != tran4active && !c->liveCountOnly) df->storedCount = record;
      df->headerChanged = true;
    } else {
      // The record never reached the table: its keys leave every tag, or
      // the next record given this number would inherit them.
      const int32_t kept = error4set(c, 0);
      data4removeKeys(d, record);
      error4set(c, kept);
    }
  }
  if (rc == 0) {
    datafile4autoIncrementAdvance(df);
    if (df->file.accessMode != 1) rc = datafile4updateHeader(df, 1, 1, 1);
  }
  // Inside a transaction the append lock stays until it ends: its commit
  // writes the header under that lock.
  if (c->unlockAllowed && c->transactionState != tran4active) data4unlockAppend(d, -1);
  if (rc < 0 || rc == r4unique) data4logVoided(d);
  if (rc != 0) {
    d->recNum = previous;
    if (ownTransaction) data4logAutoRollback(d);
    data4unlockRecord(d, record);
    return rc;
  }
  d->recNum = record;
  std::memcpy(d->recordOld, d->record, df->recordLength);
  d->recNumOld = record;
  if (ownTransaction) return commitOwn(d);
  return 0;
}

int32_t data4appendUndo(DATA4* d) {
  if (!data4check(d, kLocAppendUndo)) return e4parm;
  if (const int32_t rc = data4update(d); rc < 0) return rc;
  DATA4FILE* df = d->dataFile;
  // An append lock held before (a transaction's, which its rollback undoes
  // append by append) stays held: only a lock taken here is let go.
  const bool heldBefore = data4lockTestAppend(d) == 1;
  if (const int32_t rc = data4lockAppend(d, 0); rc != 0) return rc;
  const int64_t count = datafile4recCount(df, true);
  if (count < 1) return -1;
  const int32_t last = static_cast<int32_t>(count);
  if (const int32_t rc = data4lock(d, last, 0, lock4system); rc != 0) return rc;
  d->recNum = last;
  if (const int32_t rc = data4readRecord(d, last, d->record); rc < 0) return rc;
  data4removeKeys(d, last);
  df->liveCount = count - 1;
  const uint64_t end =
      df->header.headerLength + static_cast<uint64_t>(count - 1) * df->recordLength;
  int32_t rc = file4lenSetLow(&df->file, end);
  if (rc == 0 && df->compatibility != 30) {
    const char endByte = static_cast<char>(dbf4endOfFile);
    rc = file4write(&df->file, end, &endByte, 1);
  }
  df->headerChanged = true;
  if (rc == 0 && df->file.accessMode != 1) rc = datafile4updateHeader(df, 1, 1, 0);
  if (!heldBefore) data4unlockAppend(d, -1);
  d->recNum = d->recNumOld = -1;
  d->recordChanged = 0;
  data4blank(d);
  d->recordChanged = 0;
  return rc;
}
