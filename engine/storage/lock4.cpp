#include "engine/storage/lock4.h"

#include <new>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4autoincrement.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4record.h"
#include "engine/storage/date4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/lock4offsets.h"
#include "engine/storage/memory4.h"
#include "engine/storage/system4.h"
#include "engine/storage/text4.h"

namespace {

constexpr int32_t kLocLock = 90220;
constexpr int32_t kLocLockAll = 90221;
constexpr int32_t kLocLockTest = 90222;
constexpr int32_t kLocLockTestAppend = 90223;
constexpr int32_t kLocLockAppend = 90227;
constexpr int32_t kLocLockFile = 90228;
constexpr int32_t kLocUnlock = 90236;
constexpr int32_t kLocUnlockAppend = 90237;
constexpr int32_t kLocUnlockData = 90238;
constexpr int32_t kLocUnlockFile = 90239;
constexpr int32_t kLocUnlockRecord = 90240;
constexpr int32_t kLocUnlockRecords = 90241;
constexpr int32_t kLocCodeUnlock = 90242;
constexpr int32_t kLocForever = 80076;
constexpr int32_t kLocRecordsHeld = 90131;

bool exclusive(const DATA4* d) { return d->dataFile->file.accessMode == 1; }

// Entry checks shared by the public calls: 0 to go on, else the result.
int32_t enter(DATA4* d, int32_t location) {
  if (d == nullptr) return error4(nullptr, e4parmNull, location);
  if (structure4check(d, structure4data, location) < 0) return e4parm;
  return error4code(d->codeBase) < 0 ? -1 : 0;
}

void noteHolder(DATA4FILE* df, int32_t server, int32_t user) {
  df->lastHolderServer = server;
  df->lastHolderUser = user;
}

// A lock another handle of this process holds: waiting for it would never
// end, so a caller that waits for ever gets -50 rather than 50.
int32_t heldInProcess(DATA4* d) {
  if (d->codeBase->lockAttempts == -1) return error4(d->codeBase, e4lock, kLocForever);
  return r4locked;
}

LOCK4LINK* findEntry(DATA4* d, int32_t record, int32_t kind) {
  for (LINK4* link = list4first(&d->locks); link != nullptr; link = list4next(&d->locks, link)) {
    auto* entry = reinterpret_cast<LOCK4LINK*>(link);
    if (entry->recNo == record && (kind == lock4either || entry->kind == kind)) return entry;
  }
  return nullptr;
}

// The handle of this data file, other than `d`, that holds record n.
DATA4* otherHolder(DATA4* d, int32_t record, int32_t kind) {
  LIST4& handles = d->dataFile->handles;
  for (LINK4* link = list4first(&handles); link != nullptr; link = list4next(&handles, link)) {
    DATA4* other = data4ofFileLink(link);
    if (other != d && findEntry(other, record, kind) != nullptr) return other;
  }
  return nullptr;
}

bool holdsSystemRecordLock(DATA4FILE* df, int32_t kind) {
  for (LINK4* link = list4first(&df->handles); link != nullptr; link = list4next(&df->handles, link)) {
    DATA4* handle = data4ofFileLink(link);
    for (LINK4* entry = list4first(&handle->locks); entry != nullptr;
         entry = list4next(&handle->locks, entry)) {
      if (reinterpret_cast<LOCK4LINK*>(entry)->kind == kind) return true;
    }
  }
  return false;
}

int32_t addEntry(DATA4* d, int32_t record, int32_t kind) {
  CODE4* c = d->codeBase;
  void* unit = memory4createAlloc(c, &c->lockPool, c->memStartLock, sizeof(LOCK4LINK),
                                  c->memExpandLock, false, false);
  if (unit == nullptr) return error4(c, e4memory, kLocLock);
  auto* entry = new (unit) LOCK4LINK;
  entry->data = d;
  entry->recNo = record;
  entry->kind = kind;
  list4add(&d->locks, &entry->link);
  return 0;
}

// The release that asking with release-first means under the current
// unlock-allowed setting: 1 every handle's locks, 2 this handle's own.
int32_t releaseFirst(DATA4* d) {
  CODE4* c = d->codeBase;
  if (c->unlockAllowed == 1) {
    LIST4* handles = code4dataList(c);
    for (LINK4* link = list4first(handles); link != nullptr; link = list4next(handles, link)) {
      if (data4unlockData(reinterpret_cast<DATA4*>(link), -1) < 0) return e4unlock;
      datafile4unlockIndex(reinterpret_cast<DATA4*>(link)->dataFile, reinterpret_cast<DATA4*>(link)->id);
    }
    return 0;
  }
  if (c->unlockAllowed == 2) {
    datafile4unlockIndex(d->dataFile, d->id);
    if (data4unlockRecords(d) < 0 || data4unlockAppend(d, -1) < 0) return e4unlock;
  }
  return 0;
}

// A holder of 0 is nobody: a handle whose open failed before it got its
// id holds no lock either.
bool heldBy(int32_t server, const DATA4* d) { return server != 0 && server == d->id; }

bool holdsNothing(const DATA4* d) {
  const DATA4FILE* df = d->dataFile;
  return d->locks.nLink == 0 && !heldBy(df->fileLockServer, d) && !heldBy(df->appendLockServer, d);
}

// The kept header date becomes today once a write has stamped it.
void stampDate(DATA4FILE* df) {
  if (!df->headerDateWritten) return;
  uint8_t today[3];
  date4todayBytes(today);
  df->header.year = today[0];
  df->header.month = today[1];
  df->header.day = today[2];
  df->headerDateWritten = false;
}

}  // namespace

int32_t data4lockTest(DATA4* d, int32_t record, int32_t kind) {
  if (const int32_t rc = enter(d, kLocLockTest); rc != 0) return rc;
  DATA4FILE* df = d->dataFile;
  if (exclusive(d) || df->fileLockServer == d->id) return 1;
  if (df->fileLockServer != 0) {
    noteHolder(df, df->fileLockServer, df->fileLockUser);
    return r4locked;
  }
  if (findEntry(d, record, kind) != nullptr) return 1;
  if (DATA4* other = otherHolder(d, record, kind)) {
    noteHolder(df, other->id, code4clientId(other->codeBase));
    return r4locked;
  }
  return 0;
}

bool data4lockTestRecordHeld(DATA4* d, int32_t record) {
  return data4lockTest(d, record, lock4either) == 1;
}

int32_t data4lockTestAppend(DATA4* d) {
  if (const int32_t rc = enter(d, kLocLockTestAppend); rc != 0) return rc;
  const DATA4FILE* df = d->dataFile;
  return exclusive(d) || df->fileLockServer == d->id || df->appendLockServer == d->id ? 1 : 0;
}

int32_t data4lock(DATA4* d, int32_t record, int release, int32_t kind) {
  if (const int32_t rc = enter(d, kLocLock); rc != 0) return rc;
  CODE4* c = d->codeBase;
  if (record < 1) return error4(c, e4parm, kLocLock);
  if (exclusive(d)) return 0;
  kind = lock4system;
  const int32_t held = data4lockTest(d, record, kind);
  if (held == 1) return 0;
  if (held == r4locked && !(release && c->unlockAllowed == 1)) return heldInProcess(d);
  if (release && releaseFirst(d) < 0) return e4unlock;
  DATA4FILE* df = d->dataFile;
  const Lock4Range range = lock4recordRange(df, record);
  const int32_t rc = file4lock(&df->file, range.offset, range.length);
  if (rc == r4locked) noteHolder(df, 0, 0);  // held by another process
  if (rc != 0) return rc;
  df->osRecordLocks++;
  return addEntry(d, record, kind);
}

int32_t data4lockAppend(DATA4* d, int release) {
  if (const int32_t rc = enter(d, kLocLockAppend); rc != 0) return rc;
  CODE4* c = d->codeBase;
  DATA4FILE* df = d->dataFile;
  if (exclusive(d) || df->fileLockServer == d->id || df->appendLockServer == d->id) return 0;
  const int32_t holder = df->fileLockServer != 0 ? df->fileLockServer : df->appendLockServer;
  if (holder != 0 && !(release && c->unlockAllowed == 1)) {
    noteHolder(df, holder, 0);
    return heldInProcess(d);
  }
  if (release && releaseFirst(d) < 0) return e4unlock;
  const Lock4Range range = lock4appendRange(df);
  const int32_t rc = file4lock(&df->file, range.offset, range.length);
  if (rc != 0) return rc;
  df->appendLockServer = d->id;
  df->appendLockUser = code4clientId(c);
  datafile4autoIncrementReload(df);
  return 0;
}

int32_t data4lockFile(DATA4* d, int release, int32_t kind) {
  if (const int32_t rc = enter(d, kLocLockFile); rc != 0) return rc;
  CODE4* c = d->codeBase;
  DATA4FILE* df = d->dataFile;
  if (exclusive(d) || df->fileLockServer == d->id) return 0;
  if (df->fileLockServer != 0 && !(release && c->unlockAllowed == 1)) {
    noteHolder(df, df->fileLockServer, df->fileLockUser);
    return heldInProcess(d);
  }
  if (release && releaseFirst(d) < 0) return e4unlock;
  if (df->appendLockServer != 0) {
    noteHolder(df, df->appendLockServer, df->appendLockUser);
    return heldInProcess(d);
  }
  const bool systemLocks = df->osRecordLocks > 0;
  const bool processLocks = kind == lock4system && df->processRecordLocks > 0;
  if (systemLocks || processLocks) {
    if (c->lockAttempts == -1) return error4(c, e4lock, kLocForever);
    if (holdsSystemRecordLock(df, systemLocks ? lock4system : lock4inProcess)) return r4locked;
    return error4(c, e4lock, kLocRecordsHeld);
  }
  const Lock4Range range = lock4fileRange(df);
  const int32_t rc = file4lock(&df->file, range.offset, range.length);
  if (rc != 0) return rc;
  df->fileLockServer = d->id;
  df->fileLockUser = code4clientId(c);
  file4refresh(&df->file);
  return 0;
}

int32_t data4lockAll(DATA4* d, int release) {
  if (const int32_t rc = enter(d, kLocLockAll); rc != 0) return rc;
  DATA4FILE* df = d->dataFile;
  int32_t rc = data4lockFile(d, release, lock4system);
  if (rc == 0 && df->memoOpen) {
    rc = memo4fileLockFree(&df->memoFile);
    df->memoKeptLocked = rc == 0;
  }
  if (rc == 0) rc = datafile4lockIndex(d->dataFile, d->id);
  if (rc != 0 && d->codeBase->unlockAllowed != 0) {
    datafile4unlockIndex(d->dataFile, d->id);
    data4unlockFile(d, -1);
  }
  return rc;
}

int32_t data4unlockAppend(DATA4* d, int32_t user) {
  if (const int32_t rc = enter(d, kLocUnlockAppend); rc < 0 && rc != -1) return rc;
  DATA4FILE* df = d->dataFile;
  if (d->codeBase->unlockAllowed == 0 || !heldBy(df->appendLockServer, d)) return 0;
  if (user != -1 && user != df->appendLockUser) return 0;
  stampDate(df);
  const Lock4Range range = lock4appendRange(df);
  if (file4unlock(&df->file, range.offset, range.length) < 0) return e4unlock;
  df->appendLockServer = df->appendLockUser = 0;
  df->liveCount = -1;
  return 0;
}

int32_t data4unlockFile(DATA4* d, int32_t user) {
  if (const int32_t rc = enter(d, kLocUnlockFile); rc < 0 && rc != -1) return rc;
  DATA4FILE* df = d->dataFile;
  if (d->codeBase->unlockAllowed == 0 || !heldBy(df->fileLockServer, d)) return 0;
  if (user != -1 && user != df->fileLockUser) return 0;
  stampDate(df);
  const Lock4Range range = lock4fileRange(df);
  if (file4unlock(&df->file, range.offset, range.length) < 0) return e4unlock;
  df->fileLockServer = df->fileLockUser = 0;
  df->liveCount = -1;
  return 0;
}

int32_t data4unlockRecord(DATA4* d, int32_t record) {
  if (const int32_t rc = enter(d, kLocUnlockRecord); rc < 0 && rc != -1) return rc;
  if (d->codeBase->unlockAllowed == 0) return 0;
  LOCK4LINK* entry = findEntry(d, record, lock4either);
  if (entry == nullptr) return 0;
  DATA4FILE* df = d->dataFile;
  if (entry->kind == lock4system) {
    const Lock4Range range = lock4recordRange(df, record);
    if (file4unlock(&df->file, range.offset, range.length) < 0) return -1;
    df->osRecordLocks--;
  } else {
    df->processRecordLocks--;
  }
  list4remove(&d->locks, &entry->link);
  memory4free(d->codeBase->lockPool, entry);
  if (record == d->recNum) d->recNumOld = -1;
  return 0;
}

int32_t data4unlockRecords(DATA4* d) {
  if (const int32_t rc = enter(d, kLocUnlockRecords); rc < 0 && rc != -1) return rc;
  if (d->codeBase->unlockAllowed == 0) return 0;
  int32_t result = 0;
  LINK4* link = list4first(&d->locks);
  while (link != nullptr) {
    LINK4* next = list4next(&d->locks, link);
    if (data4unlockRecord(d, reinterpret_cast<LOCK4LINK*>(link)->recNo) < 0) result = -1;
    link = next;
  }
  return result;
}

int32_t data4unlockData(DATA4* d, int32_t user) {
  if (const int32_t rc = enter(d, kLocUnlockData); rc < 0 && rc != -1) return rc;
  int32_t result = 0;
  if (data4unlockFile(d, user) < 0) result = e4unlock;
  if (data4unlockAppend(d, user) < 0) result = e4unlock;
  if (data4unlockRecords(d) < 0) result = -1;
  return result;
}

int32_t data4unlock(DATA4* d) {
  if (const int32_t rc = enter(d, kLocUnlock); rc != 0) return rc;
  CODE4* c = d->codeBase;
  if (c->transactionState == tran4active && !d->readOnly)
    return error4(c, e4transViolation, kLocUnlock);
  if (c->transaction.enabled && c->transactionState != tran4inactive &&
      c->transactionState != tran4rollback && c->transactionState != tran4closing)
    return 0;
  if (holdsNothing(d)) return 0;
  if (const int32_t rc = data4update(d); rc < 0) return rc;
  const int16_t saved = c->unlockAllowed;
  if (c->unlockAllowed == 0) c->unlockAllowed = 1;
  int32_t result = data4unlockData(d, -1);
  DATA4FILE* df = d->dataFile;
  if (df->memoKeptLocked) {
    df->memoKeptLocked = false;
    if (memo4fileUnlock(&df->memoFile) < 0) result = -1;
  }
  if (datafile4unlockIndex(d->dataFile, d->id) < 0) result = -1;
  c->unlockAllowed = saved;
  return result;
}

int32_t code4unlock(CODE4* c) {
  if (structure4check(c, structure4code, kLocCodeUnlock) < 0) return e4parm;
  if (c->transactionState == tran4active) return error4(c, e4transViolation, kLocCodeUnlock);
  int32_t result = 0;
  LIST4* handles = code4dataList(c);
  for (LINK4* link = list4first(handles); link != nullptr; link = list4next(handles, link)) {
    if (const int32_t rc = data4unlock(reinterpret_cast<DATA4*>(link)); rc < 0) result = rc;
  }
  return result;
}

int32_t datafile4lockIndex(DATA4FILE* df, int32_t handleId) {
  CODE4* c = df->codeBase;
  const int32_t savedAttempts = c->lockAttempts;
  // One round for 0 attempts, as for 1; -1 never runs out.
  int32_t rounds = savedAttempts == 0 ? 1 : savedAttempts;
  c->lockAttempts = 1;
  int32_t result;
  for (;;) {
    result = indexfile4lockAll(df, handleId);
    if (result == 0) break;
    if (indexfile4unlockAll(df) < 0) result = -1;
    if (result != r4locked) break;
    if (rounds != -1 && --rounds <= 0) break;
    time4delay(c->lockDelay);
  }
  c->lockAttempts = savedAttempts;
  return result;
}

int32_t datafile4lockTestIndex(DATA4FILE* df) { return indexfile4lockedAll(df) ? 1 : 0; }

int32_t datafile4unlockIndex(DATA4FILE* df, int32_t handleId) {
  if (df->codeBase->unlockAllowed == 0 && df->fileLockServer == handleId) return 0;
  return indexfile4unlockAll(df);
}

void code4lockInfoSet(DATA4FILE* df, int32_t which, int findHolder) {
  CODE4* c = df->codeBase;
  c->lockedRecord = which;
  if (!findHolder) return;
  // The holder of that lock, else of the whole file, else of the record
  // lock last found held.
  int32_t server = which == -1 ? df->fileLockServer : which == 0 ? df->appendLockServer : 0;
  int32_t user = which == -1 ? df->fileLockUser : which == 0 ? df->appendLockUser : 0;
  if (server == 0) {
    server = df->fileLockServer;
    user = df->fileLockUser;
  }
  if (server == 0) {
    server = df->lastHolderServer;
    user = df->lastHolderUser;
  }
  if (server == 0) return;
  const DATA4* holder = code4dataFindId(c, server, user);
  text4copyBounded(c->lockedAlias, holder != nullptr ? holder->alias : "", sizeof c->lockedAlias);
  text4copyBounded(c->lockedUserId, c->transaction.trans.userId, sizeof c->lockedUserId);
  c->lockedNetId[0] = '\0';  // no network ids without a transaction log
}
