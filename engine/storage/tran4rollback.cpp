// Rolling a transaction back: its record updates and appends are undone
// from the log, newest first.
#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"
#include "engine/storage/memo4field.h"
#include "engine/storage/memo4file.h"
#include "engine/storage/tran4.h"
#include "engine/storage/tran4internal.h"

namespace {

constexpr int32_t kLocUndoCount = 80139;
constexpr int32_t kLocUndoLock = 80138;
constexpr int32_t kLocRollbackState = 80142;
constexpr int32_t kLocUnknownEntry = 80143;
constexpr int32_t kLocBadLog = 80135;
constexpr int32_t kLocNotEnabled = 80141;
constexpr int32_t kLocLog = 90283;
constexpr int32_t kLocRollback = 90289;

// One memo value of an update entry: before and after the update.
struct LoggedMemo {
  const unsigned char* before = nullptr;
  uint32_t beforeLength = 0;
  uint32_t afterLength = 0;
  bool changed() const { return beforeLength != 0 || afterLength != 0; }
};

struct LoggedUpdate {
  uint32_t record = 0;
  const unsigned char* before = nullptr;
  std::vector<LoggedMemo> memos;
};

int32_t parseUpdate(CODE4* c, const Log4Scan& scan, const DATA4* d, LoggedUpdate* out) {
  Log4PayloadReader reader(c, scan.payload, scan.header.payloadLength);
  const uint32_t length = d->dataFile->recordLength;
  const unsigned char* after = nullptr;
  if (const int32_t rc = reader.u32(&out->record); rc < 0) return rc;
  if (const int32_t rc = reader.bytes(&out->before, length); rc < 0) return rc;
  if (const int32_t rc = reader.bytes(&after, length); rc < 0) return rc;
  out->memos.resize(d->memoFields.size());
  for (LoggedMemo& memo : out->memos) {
    const unsigned char* skipped = nullptr;
    if (const int32_t rc = reader.u32(&memo.beforeLength); rc < 0) return rc;
    if (const int32_t rc = reader.bytes(&memo.before, memo.beforeLength); rc < 0) return rc;
    if (const int32_t rc = reader.u32(&memo.afterLength); rc < 0) return rc;
    if (const int32_t rc = reader.bytes(&skipped, memo.afterLength); rc < 0) return rc;
  }
  return 0;
}

// What a handle holds of a record that is not written yet: its bytes and
// its memo values.
struct PendingRecord {
  std::vector<char> bytes;
  std::vector<std::string> memos;
  std::vector<int32_t> memoChanged;

  void save(DATA4* d) {
    bytes.assign(d->record, d->record + d->dataFile->recordLength);
    for (MEMO4FIELD& memo : d->memoFields) {
      memos.emplace_back(memo.contents != nullptr ? memo.contents : "", memo.length);
      memoChanged.push_back(memo.changed);
    }
  }

  void restore(DATA4* d) {
    std::memcpy(d->record, bytes.data(), bytes.size());
    for (size_t i = 0; i < d->memoFields.size(); i++) {
      MEMO4FIELD& memo = d->memoFields[i];
      field4memoAssignN(memo.field, memos[i].data(), static_cast<uint32_t>(memos[i].size()));
      memo.changed = memoChanged[i];
      memo.notRead = 0;
    }
    d->recordChanged = 1;
  }
};

// Writes the logged image back over record `update.record`, its memo
// values with it; the tags follow through the normal record write.
int32_t rewriteBefore(DATA4* d, const LoggedUpdate& update) {
  CODE4* c = d->codeBase;
  const uint32_t length = d->dataFile->recordLength;
  const int32_t record = static_cast<int32_t>(update.record);
  if (data4lockTest(d, record, lock4either) != 1 && data4lock(d, record, 0, lock4system) != 0)
    return error4(c, e4lock, kLocUndoLock);
  std::vector<char> stored(length + 1);
  data4readRecord(d, record, stored.data());
  std::memcpy(d->record, update.before, length);
  for (size_t i = 0; i < d->memoFields.size(); i++) {
    FIELD4* field = d->memoFields[i].field;
    // The memo values live where the stored record points now.
    std::memcpy(d->record + field->offset, stored.data() + field->offset, field->length);
    const LoggedMemo& memo = update.memos[i];
    if (memo.changed()) {
      const auto* bytes = reinterpret_cast<const char*>(memo.before);
      if (const int32_t rc = field4memoAssignN(field, bytes, memo.beforeLength); rc < 0) return rc;
    }
  }
  d->recordChanged = 1;
  if (const int32_t rc = data4writeLow(d, record, 0, 0); rc != 0) return rc < 0 ? rc : -1;
  return data4update(d);
}

int32_t undoUpdate(TRAN4* trans, const Log4Scan& scan) {
  CODE4* c = tran4code(trans);
  DATA4* d = tran4dataFind(c, scan.header.dataId);
  if (d == nullptr) return error4(c, e4name, kLocLog);
  LoggedUpdate update;
  if (const int32_t rc = parseUpdate(c, scan, d, &update); rc < 0) return rc;
  if (update.record < 1 || update.record > INT32_MAX) return error4(c, e4log, kLocLog);
  // A change of that very record not yet written stays the handle's own:
  // it is put back once the stored record is undone.
  const bool pendingSame = d->recordChanged && d->recNum == static_cast<int32_t>(update.record);
  PendingRecord pending;
  if (pendingSame) pending.save(d);
  d->recordChanged = 0;
  if (!pendingSame) {
    if (const int32_t rc = data4go(d, static_cast<int32_t>(update.record)); rc != 0)
      return rc < 0 ? rc : error4(c, e4rollback, kLocLog);
  }
  const int32_t rc = rewriteBefore(d, update);
  if (pendingSame) pending.restore(d);
  return rc;
}

int32_t undoAppend(TRAN4* trans, const Log4Scan& scan) {
  CODE4* c = tran4code(trans);
  DATA4* d = tran4dataFind(c, scan.header.dataId);
  if (d == nullptr) return error4(c, e4name, kLocLog);
  Log4PayloadReader reader(c, scan.payload, scan.header.payloadLength);
  uint32_t record = 0;
  const unsigned char* image = nullptr;
  if (const int32_t rc = reader.u32(&record); rc < 0) return rc;
  if (const int32_t rc = reader.bytes(&image, d->dataFile->recordLength); rc < 0) return rc;
  if (data4lockTestAppend(d) != 1) return error4(c, e4lock, kLocUndoLock);
  const int64_t count = datafile4recCount(d->dataFile, true);
  if (count == static_cast<int64_t>(record) - 1) return 0;  // the append never reached the file
  if (count != record) return error4(c, e4rollback, kLocUndoCount);
  std::memcpy(d->record, image, d->dataFile->recordLength);
  d->recordChanged = 0;
  if (const int32_t rc = data4appendUndo(d); rc < 0) return rc;
  return data4update(d);
}

int32_t undoEntry(TRAN4* trans, const Log4Scan& scan) {
  switch (scan.header.type) {
    case log4typeOpen:
    case log4typeOpenTemp:
    case log4typeClose:
    case log4typeVoided:
    case log4typeCreate:
      return 0;
    case log4typeUpdate:
      return undoUpdate(trans, scan);
    case log4typeAppend:
      return undoAppend(trans, scan);
    default:
      return error4(tran4code(trans), e4rollback, kLocUnknownEntry);
  }
}

// Walks back from the end of the log to this transaction's start, undoing
// its entries. Reaching the beginning of the log ends the walk too.
int32_t undoTransaction(TRAN4* trans, int32_t id) {
  Log4Scan& scan = trans->scan;
  scan.file = &tran4log(trans)->file;
  for (int32_t rc = log4scanLast(&scan);; rc = log4scanBack(&scan)) {
    if (rc == r4bof) return 0;
    if (rc < 0) return rc;
    if (scan.header.transactionId != id) continue;
    if (scan.header.type == log4typeStart) return 0;
    if (const int32_t undone = undoEntry(trans, scan); undone < 0) return undone;
  }
}

// A handle after a rollback: no current record, a blank buffer, nothing
// pending.
int32_t forgetRecord(DATA4* d) {
  std::memcpy(d->record, d->recordBlank, d->dataFile->recordLength);
  for (MEMO4FIELD& memo : d->memoFields) field4memoFree(memo.field);
  d->recordChanged = 0;
  d->recNum = -1;
  d->recNumOld = -1;
  return 0;
}

}  // namespace

int32_t tran4rollbackLow(TRAN4* trans, bool full) {
  CODE4* c = tran4code(trans);
  LOG4FILE* log = tran4log(trans);
  const int32_t kept = error4set(c, 0);
  const int32_t id = trans->transactionId;
  if (c->transactionState != tran4active) return error4(c, e4transStatus, kLocRollbackState);
  if (log->status != log4idle) return error4(c, e4log, kLocBadLog);
  log->status = log4busy;
  c->transactionState = tran4rollback;
  Error4Steps undo(c);
  const int32_t undone = undoTransaction(trans, id);
  undo.note(undone);
  const int32_t undoError = error4set(c, 0);
  const int32_t written = tran4writeEmpty(trans, log4typeRollbackDone, 0, 1);
  // Whatever failed, the transaction is over: its locks go and the engine
  // leaves the rolling-back state, or no later call could ever succeed.
  // Keys kept for removal at commit stay in their tags, where they belong.
  tran4forEachTransactionHandle(c, [](DATA4* d) {
    data4pendingSettle(d, false);
    return 0;
  });
  c->transactionState = tran4inactive;
  trans->transactionId = 0;
  trans->autoUnlock = trans->savedAutoUnlock;
  const int32_t released = log4lockRelease(log, log4lockAppend);
  if (released == 0) log->status = log4idle;
  tran4closeKept(c);
  if (full) tran4forEachHandle(code4dataList(c), forgetRecord);
  if (written != 0) return error4(c, e4logWrite, kLocLog);
  if (undone < 0) {
    // An undo error the hook has cleared stays cleared.
    error4set(c, undoError < 0 ? undoError : undo.mayLeave() ? undone : kept);
    return undone;
  }
  error4set(c, kept);
  return released < 0 ? released : 0;
}

int32_t code4transactionRollback(CODE4* c) {
  if (c == nullptr) return error4(nullptr, e4parmNull, kLocRollback);
  if (!c->transaction.enabled || c->transactionState == tran4rollback ||
      c->transactionState == tran4closing)
    return error4(c, e4log, kLocNotEnabled);
  const int32_t rc = tran4rollbackLow(&c->transaction.trans, true);
  if (rc < 0) return rc;
  return code4unlock(c);
}
