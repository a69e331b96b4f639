#include "engine/storage/data4record.h"

#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4autoincrement.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4log.h"
#include "engine/storage/data4tail.h"
#include "engine/storage/date4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"
#include "engine/storage/memo4field.h"

namespace {

constexpr int32_t kLocBlank = 90259;
constexpr int32_t kLocDelete = 90261;
constexpr int32_t kLocDeleted = 90262;
constexpr int32_t kLocRecCount = 90268;
constexpr int32_t kLocRecNo = 90269;
constexpr int32_t kLocWriteLow = 90216;
constexpr int32_t kLocChanged = 90300;
constexpr int32_t kLocFlush = 90301;
constexpr int32_t kLocCodeFlush = 90303;
constexpr int32_t kLocUpdate = 90304;
constexpr int32_t kLocUpdateRecord = 90305;
constexpr int32_t kLocReadOnly = 80013;
constexpr int32_t kLocNoRecord = 80119;

uint64_t recordOffset(const DATA4FILE* df, int32_t number) {
  return df->header.headerLength + static_cast<uint64_t>(number - 1) * df->recordLength;
}

// The lock rule of changes: with locking enforced a positioned record must
// be locked by this handle.
int32_t lockRule(DATA4* d, int32_t location) {
  CODE4* c = d->codeBase;
  if (c->lockEnforce && d->recNum > 0 && !data4lockTestRecordHeld(d, d->recNum))
    return error4(c, e4lock, location);
  return 0;
}

bool holdsFileLock(const DATA4* d) {
  return d->dataFile->file.accessMode == 1 || d->dataFile->fileLockServer == d->id;
}

// Releases the handle's locks after a write when the settings allow it.
int32_t unlockAfterWrite(DATA4* d) {
  CODE4* c = d->codeBase;
  if (!c->unlockAllowed || c->transactionState == tran4active || holdsFileLock(d)) return 0;
  const int32_t rc = data4unlock(d);
  return rc == e4unlock ? 0 : rc;
}

void resetMemos(DATA4* d) {
  for (MEMO4FIELD& memo : d->memoFields) field4memoReset(memo.field);
}

}  // namespace

int32_t data4blank(DATA4* d) {
  if (!data4check(d, kLocBlank)) return e4parm;
  if (const int32_t rc = lockRule(d, kLocBlank); rc < 0) return rc;
  const uint32_t length = d->dataFile->recordLength;
  if (d->recordBlank != nullptr)
    std::memcpy(d->record, d->recordBlank, length);
  else
    std::memset(d->record, ' ', length);
  d->recordState = 1;
  for (MEMO4FIELD& memo : d->memoFields) field4memoFree(memo.field);
  d->recordChanged = 1;
  return 0;
}

int32_t data4delete(DATA4* d) {
  if (!data4check(d, kLocDelete)) return e4parm;
  if (const int32_t rc = lockRule(d, kLocDelete); rc < 0) return rc;
  if (d->record[0] != '*') {
    d->record[0] = '*';
    d->recordChanged = 1;
  }
  return 0;
}

int32_t data4recall(DATA4* d) {
  if (!data4check(d, kLocDelete)) return e4parm;
  if (const int32_t rc = lockRule(d, kLocDelete); rc < 0) return rc;
  if (d->record[0] != ' ') {
    d->record[0] = ' ';
    d->recordChanged = 1;
  }
  return 0;
}

int32_t data4deleted(DATA4* d) {
  if (!data4check(d, kLocDeleted)) return e4parm;
  return d->record[0] != ' ' ? 1 : 0;
}

int32_t data4changed(DATA4* d, int16_t flag) {
  if (!data4check(d, kLocChanged)) return e4parm;
  const int32_t previous = d->recordChanged;
  if (flag > 0) {
    if (const int32_t rc = lockRule(d, kLocChanged); rc < 0) return rc;
    d->recordChanged = 1;
  } else if (flag == 0) {
    d->recordChanged = 0;
  }
  return previous;
}

int32_t data4recNo(DATA4* d) { return data4check(d, kLocRecNo) ? d->recNum : -1; }

int64_t datafile4recCount(DATA4FILE* df, bool authoritative) {
  CODE4* c = df->codeBase;
  if (df->liveCount < 0) {
    // Unknown: another process may have appended since we last looked.
    unsigned char count[4];
    if (file4readAll(&df->file, 4, count, sizeof count) < 0) return -1;
    const uint32_t stored = endian4::readLe32(count);
    const bool heldHere =
        df->file.accessMode == 1 || df->fileLockServer != 0 || df->appendLockServer != 0;
    if (heldHere) df->liveCount = stored;
    if (!c->liveCountOnly) df->storedCount = stored;
  }
  if (df->liveCount >= 0 && (authoritative || c->liveCountOnly)) return df->liveCount;
  return df->storedCount;
}

int32_t data4recCount(DATA4* d) {
  if (!data4check(d, kLocRecCount)) return e4parm;
  if (error4code(d->codeBase) < 0) return -1;
  const DATA4FILE* df = d->dataFile;
  const bool authoritative =
      df->file.accessMode == 1 || df->fileLockServer == d->id || df->appendLockServer == d->id;
  const int64_t count = datafile4recCount(d->dataFile, authoritative);
  return count < 0 ? -1 : static_cast<int32_t>(count);
}

int32_t data4readRecord(DATA4* d, int32_t record, char* buffer) {
  DATA4FILE* df = d->dataFile;
  const uint32_t length = df->recordLength;
  const uint32_t failuresBefore = df->file.readFailures;
  if (record < 1 || file4read(&df->file, recordOffset(df, record), buffer, length) != length) {
    std::memset(buffer, ' ', length);
    // A record the disk could not read is an error, never a record that
    // is not there: a caller would take its table for shorter than it is.
    if (record >= 1 && df->file.readFailures != failuresBefore)
      return file4readError(&df->file, recordOffset(df, record), length, "data4readRecord");
    return r4entry;
  }
  if (buffer == d->record) d->memoPrepared = false;
  return 0;
}

int32_t data4readOld(DATA4* d, int32_t record) {
  if (d->recNumOld == record && record > 0) return 0;
  d->recNumOld = -1;
  const int32_t rc = data4readRecord(d, record, d->recordOld);
  if (rc < 0) return rc;
  if (rc != 0) return 0;  // blanks: nothing stored yet
  d->recNumOld = record;
  return 0;
}

int32_t data4readStored(DATA4* d, int32_t record) {
  d->recNumOld = -1;
  if (const int32_t rc = data4readOld(d, record); rc < 0) return rc;
  if (d->recNumOld == record) return 0;
  DATA4FILE* df = d->dataFile;
  return file4readError(&df->file, recordOffset(df, record), df->recordLength, "data4readStored");
}

int32_t datafile4writeData(DATA4FILE* df, int32_t number, const char* bytes) {
  if (datafile4tailCut(df) < 0) return -1;
  df->headerChanged = true;
  return file4write(&df->file, recordOffset(df, number), bytes, df->recordLength);
}

int32_t data4writeLow(DATA4* d, int32_t record, int unlock, int lock) {
  if (!data4check(d, kLocWriteLow)) return e4parm;
  CODE4* c = d->codeBase;
  if (record < -1 || record == 0) return error4(c, e4parm, kLocWriteLow);
  if (record == -1) record = d->recNum;
  if (d->readOnly) return error4describe(c, e4write, kLocReadOnly, d->alias, nullptr, nullptr);
  // A handle left behind by removals elsewhere would write past the end.
  if (record > data4recCount(d)) return error4(c, e4parm, kLocWriteLow);
  const int32_t wasChanged = d->recordChanged;
  d->recordChanged = 0;
  auto fail = [&](int32_t rc) {
    d->recordChanged = wasChanged;
    return rc;
  };
  // Puts the tags back after a failed write; the failure's code stays set.
  auto unwriteKeys = [&] {
    const int32_t kept = error4set(c, 0);
    data4unwriteKeys(d, record);
    error4set(c, kept);
  };
  if (lock) {
    if (const int32_t rc = data4lock(d, record, 0, 1); rc != 0) return fail(rc);
  }
  if (d->bofFlag || d->eofFlag) return fail(error4(c, e4write, kLocNoRecord));
  bool ownTransaction = false;
  if (const int32_t rc = data4logAutoStart(d, &ownTransaction); rc < 0) return fail(rc);
  // Every failure from here on ends the handle's own transaction undone.
  // The changed flag comes back first: the rollback then keeps the
  // record's new values in the buffer instead of reading the stored ones.
  auto abandon = [&](int32_t rc) {
    d->recordChanged = wasChanged;
    if (ownTransaction) data4logAutoRollback(d);
    return fail(rc);
  };
  if (!d->memoFields.empty()) {
    if (const int32_t rc = data4updateMemo(d); rc < 0) return abandon(rc);
  }
  if (const int32_t rc = data4logUpdate(d, record); rc < 0) return abandon(rc);
  if (const int32_t rc = data4writeKeys(d, record); rc != 0) return abandon(rc);
  for (MEMO4FIELD& memo : d->memoFields) {
    // The tags already hold the new keys: put them back, as for a failed
    // record write.
    if (const int32_t rc = field4memoUpdate(memo.field); rc < 0) {
      unwriteKeys();
      data4logVoided(d);
      return abandon(rc);
    }
  }
  if (const int32_t rc = datafile4writeData(d->dataFile, record, d->record); rc < 0) {
    unwriteKeys();
    data4logVoided(d);
    return abandon(rc);
  }
  if (ownTransaction) {
    // A commit that failed before its first phase was written takes the
    // record back; a later failure leaves it committed.
    if (const int32_t rc = data4logAutoCommit(d); rc < 0)
      return c->transactionState == tran4active ? abandon(rc) : rc;
  }
  if (unlock && c->unlockAllowed) return unlockAfterWrite(d);
  std::memcpy(d->recordOld, d->record, d->dataFile->recordLength);
  d->recNumOld = record;
  return 0;
}

int32_t data4updateRecord(DATA4* d, int unlock, int lock) {
  if (!data4check(d, kLocUpdateRecord)) return e4parm;
  if (error4code(d->codeBase) < 0) return -1;
  if (d->recNum >= 1 && !d->eofFlag) {
    if (d->recordChanged) {
      if (const int32_t rc = data4writeLow(d, d->recNum, 0, lock); rc != 0) return rc;
      resetMemos(d);
      d->recNumOld = -1;
    } else {
      for (MEMO4FIELD& memo : d->memoFields) memo.notRead = 1;
    }
  } else {
    resetMemos(d);
    d->recordChanged = 0;
  }
  if (unlock) return unlockAfterWrite(d);
  return 0;
}

int32_t data4update(DATA4* d) {
  if (!data4check(d, kLocUpdate)) return e4parm;
  if (error4code(d->codeBase) < 0) return -1;
  if (const int32_t rc = data4updateRecord(d, 0, 1); rc != 0) return rc;
  DATA4FILE* df = d->dataFile;
  if (df->headerChanged && data4lockTestAppend(d) == 1) {
    if (datafile4updateHeader(df, 1, 1, 1) < 0) return -1;
  }
  return data4updateIndexes(d);
}

int32_t data4flush(DATA4* d) {
  if (!data4check(d, kLocFlush)) return e4parm;
  // A flush stands for the table as it is now: a cut it deferred comes
  // first.
  if (datafile4tailCut(d->dataFile) < 0) return -1;
  // A record a unique tag refused (20) stays unwritten: the flush goes on
  // with the rest and says so.
  const int32_t updated = data4update(d);
  if (updated < 0) return updated;
  DATA4FILE* df = d->dataFile;
  // A header that holds the date and the count already is not written
  // again: a flush of a table nothing changed writes and syncs nothing.
  const bool headerDue = df->headerChanged || !df->headerDateWritten;
  if (df->file.accessMode == 1 && headerDue && datafile4updateHeader(df, 1, 1, 1) < 0) return -1;
  // Write-back keeps no order, so each step that a later one depends on
  // is synced first: the memo blocks before the records that name them,
  // the records before the count that takes them in (the header update
  // orders that, cached or not). The indexes' nodes are written
  // (a death keeps them) but not waited for: an index changed since the
  // table opened carries its change mark, synced before its first changed
  // node, until the close syncs it and clears the mark; after a power cut
  // the next open rebuilds it from the records, which are on the disk.
  // Syncing its nodes at every flush would cost more than the records
  // themselves (keys land all over the trees) and spare no rebuild.
  int32_t rc = df->memoOpen ? file4flush(&df->memoFile.file) : 0;
  if (rc == 0) rc = file4handOver(&df->file);
  if (rc == 0) rc = data4updateIndexes(d);
  if (rc == 0) rc = datafile4indexesWriteHeld(df);
  if (rc == 0) rc = file4flush(&df->file);
  return rc != 0 ? rc : updated;
}

int32_t code4flush(CODE4* c) {
  if (structure4check(c, structure4code, kLocCodeFlush) < 0) return e4parm;
  int32_t result = 0;
  LIST4* handles = code4dataList(c);
  for (LINK4* link = list4first(handles); link != nullptr; link = list4next(handles, link)) {
    if (const int32_t rc = data4flush(reinterpret_cast<DATA4*>(link)); rc != 0) result = rc;
  }
  return result;
}

int32_t data4settle(DATA4* d) {
  const int32_t flushed = data4flush(d);
  if (flushed < 0) return flushed;
  const int32_t settled = datafile4indexesSettle(d->dataFile);
  return settled < 0 ? settled : flushed;
}

int32_t datafile4updateHeader(DATA4FILE* df, int withDate, int withCount, int withAutoIncrement) {
  CODE4* c = df->codeBase;
  if (c->transactionState == tran4active || c->transactionState == tran4rollback) return 0;
  // The count never reaches the disk ahead of the cut that makes it true:
  // the header waits for it (a handle closing on the way does not cut).
  if (df->tailCutPending) return 0;
  if (df->liveCount >= 0) df->header.recordCount = static_cast<uint32_t>(df->liveCount);
  unsigned char image[dbf4headerSize];
  dbf4encodeHeader(df->header, image);
  const bool countKnown = withCount && df->liveCount >= 0;
  const int first = withDate ? 1 : 4;
  int end = countKnown ? 12 : (withDate ? 4 : 0);
  const bool withCounter = withAutoIncrement && df->autoIncrement;
  if (withCounter && df->autoIncrementDescriptor < 0) end = 28;
  // Write-back keeps no order: a new count goes to the disk only over the
  // records it takes in (and the memo blocks they name), synced. Held by
  // the cache, the header leaves last, after such a sync; written at once,
  // it waits for one here. A shared writer publishes its count at every
  // append for the other processes, where a sync would cost one a record:
  // only an exclusive writer orders the two.
  const bool newCount = countKnown && df->header.recordCount != df->diskCount;
  if (newCount && df->file.accessMode == 1 && !file4writesHeld(&df->file) &&
      datafile4flushHeld(df) < 0)
    return -1;
  if (withDate) df->headerDateWritten = true;
  if (end > first && file4write(&df->file, first, image + first, end - first) < 0) return -1;
  if (countKnown) df->diskCount = df->header.recordCount;
  if (withCounter && datafile4autoIncrementWrite(df) < 0) return -1;
  if (countKnown && !c->liveCountOnly) df->storedCount = df->header.recordCount;
  df->headerChanged = false;
  return 0;
}
