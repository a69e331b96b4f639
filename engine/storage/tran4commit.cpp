// Starting and committing transactions.
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"
#include "engine/storage/tran4.h"
#include "engine/storage/tran4internal.h"

namespace {

constexpr int32_t kLocBadLog = 80135;
constexpr int32_t kLocNotEnabled = 80141;
constexpr int32_t kLocPhaseTwoState = 80145;
constexpr int32_t kLocPhaseTwoPublic = 80146;
constexpr int32_t kLocNoAutoOpen = 80148;
constexpr int32_t kLocLog = 90283;
constexpr int32_t kLocCommit = 90287;
constexpr int32_t kLocStart = 90288;

// Headers the transaction changed reach the file once it is over.
int32_t rewriteHeaders(CODE4* c) {
  const int32_t saved = c->transactionState;
  c->transactionState = tran4closing;
  const int32_t rc = tran4forEachTransactionHandle(c, [](DATA4* d) {
    if (!d->dataFile->headerChanged || data4lockTestAppend(d) != 1) return 0;
    return datafile4updateHeader(d->dataFile, 1, 1, 1);
  });
  c->transactionState = saved;
  return rc;
}

}  // namespace

int32_t tran4start(TRAN4* trans, int unlockFirst) {
  CODE4* c = tran4code(trans);
  CODE4TRANS* block = trans->c4trans;
  if (!block->enabled) {
    if (!c->autoOpenLog) return error4(c, e4log, kLocNoAutoOpen);
    if (const int32_t rc = code4logOpen(c, nullptr, nullptr); rc < 0) return rc;
    if (!block->enabled) return error4(c, e4log, kLocNotEnabled);
  }
  if (c->transactionState == tran4active) return error4(c, e4log, kLocLog);
  LOG4FILE* log = tran4log(trans);
  if (log->status != log4idle) return error4(c, e4log, kLocBadLog);
  if (unlockFirst) {
    if (const int32_t rc = code4unlock(c); rc < 0) return rc;
  }
  if (const int32_t rc = log4lockTake(log, log4lockAppend); rc != 0)
    return rc < 0 ? rc : error4(c, e4lock, kLocLog);
  int32_t id = 0;
  int32_t rc = tran4nextId(trans, &id);
  if (rc == 0) {
    trans->transactionId = id;
    if (tran4writeEmpty(trans, log4typeStart, 0, 0) != 0) rc = error4(c, e4logWrite, kLocLog);
  }
  if (rc < 0) {
    trans->transactionId = 0;
    const int32_t kept = error4set(c, 0);
    log4lockRelease(log, log4lockAppend);
    error4set(c, kept);
    return rc;
  }
  c->transactionState = tran4active;
  trans->savedAutoUnlock = trans->autoUnlock;
  trans->autoUnlock = 0;
  return 0;
}

int32_t tran4commitPhaseOne(TRAN4* trans, int keepLocks) {
  CODE4* c = tran4code(trans);
  if (!trans->c4trans->enabled) return error4(c, e4log, kLocNotEnabled);
  if (c->transactionState != tran4active) return 0;
  LOG4FILE* log = tran4log(trans);
  // One thread drives the engine: a busy status here can only be a
  // commit or rollback that failed half way, never one about to finish.
  if (log->status != log4idle) return error4(c, e4log, kLocBadLog);
  log->status = log4busy;
  int32_t rc = tran4forEachHandle(code4dataList(c), [](DATA4* d) {
    if (!d->logInTransaction) return 0;
    d->logInTransaction = false;
    return data4update(d);
  });
  if (rc == 0 && tran4writeEmpty(trans, log4typeCommitOne, 0, keepLocks ? 0 : 1) != 0)
    rc = error4(c, e4logWrite, kLocLog);
  if (rc < 0) {
    log->status = log4idle;
    return rc;
  }
  c->transactionState = tran4phaseOne;
  return 0;
}

int32_t tran4commitPhaseTwo(TRAN4* trans, int releaseLocks) {
  CODE4* c = tran4code(trans);
  LOG4FILE* log = tran4log(trans);
  if (c->transactionState != tran4phaseOne) return error4(c, e4commit, kLocPhaseTwoState);
  if (log->status != log4busy) return error4(c, e4log, kLocBadLog);
  // Phase one put every change on disk: from here the transaction ends
  // whatever fails, or its locks would be held, and the log busy, for good.
  int32_t result = 0;
  if (tran4writeEmpty(trans, log4typeCommitTwo, 0, 1) != 0) result = error4(c, e4logWrite, kLocLog);
  const int32_t kept = error4set(c, 0);
  auto note = [&result](int32_t rc) {
    if (rc < 0 && result == 0) result = rc;
  };
  note(tran4forEachTransactionHandle(c, [](DATA4* d) { return data4pendingSettle(d, true); }));
  c->transactionState = tran4inactive;
  trans->transactionId = 0;
  trans->autoUnlock = trans->savedAutoUnlock;
  note(rewriteHeaders(c));
  if (releaseLocks && trans->autoUnlock == 1) note(code4unlock(c));
  note(log4lockRelease(log, log4lockAppend));
  log->status = log4idle;
  tran4closeKept(c);
  if (kept < 0) error4set(c, kept);
  return result;
}

int32_t code4transactionStart(CODE4* c) {
  if (c == nullptr) return error4(nullptr, e4parmNull, kLocStart);
  return tran4start(&c->transaction.trans, 0);
}

int32_t code4transactionCommit(CODE4* c) {
  if (c == nullptr) return error4(nullptr, e4parmNull, kLocCommit);
  if (code4transactionCommitPhaseOne(c, 1) < 0) return -1;
  return code4transactionCommitPhaseTwo(c, 0);
}

int32_t code4transactionCommitPhaseOne(CODE4* c, int keepLocks) {
  if (c == nullptr) return error4(nullptr, e4parmNull, kLocCommit);
  const int32_t earlier = error4code(c);
  TRAN4* trans = &c->transaction.trans;
  const int32_t rc = tran4commitPhaseOne(trans, keepLocks);
  if (rc < 0) return rc;
  if (earlier < 0 && error4code(c) == 0) error4set(c, earlier);
  if (trans->autoUnlock == 1 && code4unlock(c) < 0) return error4(c, e4unlock, kLocCommit);
  return 0;
}

int32_t code4transactionCommitPhaseTwo(CODE4* c, int releaseLocks) {
  if (c == nullptr) return error4(nullptr, e4parmNull, kLocCommit);
  if (c->transactionState != tran4phaseOne) return error4(c, e4transStatus, kLocPhaseTwoPublic);
  return tran4commitPhaseTwo(&c->transaction.trans, releaseLocks);
}

void tran4closeKept(CODE4* c) {
  while (LINK4* link = list4first(&c->closedDataFiles)) {
    auto* d = reinterpret_cast<DATA4*>(link);
    list4remove(&c->closedDataFiles, link);
    data4closeKept(d);
  }
}
