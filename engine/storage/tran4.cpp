// The log's lifetime (open, user slot, close) and the writing of entries.
#include "engine/storage/tran4.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"
#include "engine/storage/tran4internal.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocLog = 90283;
constexpr int32_t kLocNoSlot = 80150;
constexpr int32_t kIdStep = 1000;

// Takes the first free user slot: 0 with the slot held, or an error.
int32_t takeSlot(TRAN4* trans) {
  LOG4FILE* log = tran4log(trans);
  for (int32_t slot = 1; slot <= log4lockSlotCount; slot++) {
    const int32_t rc = log4lockTry(log, log4lockSlotBase + slot, 1);
    if (rc == 0) {
      log->userSlot = slot;
      return 0;
    }
    if (rc < 0) return rc;
  }
  return error4(tran4code(trans), e4userCount, kLocNoSlot);
}

// Leaves the log when no other user remains: the clean end goes last.
void writeCleanEndWhenLast(TRAN4* trans) {
  LOG4FILE* log = tran4log(trans);
  CODE4* c = tran4code(trans);
  // The slot number stays in the log record: the clean end still names
  // the user that wrote it.
  if (log->userSlot > 0) file4unlock(&log->file, log4lockSlotBase + log->userSlot, 1);
  // The range covers every slot, the last one (1000) included.
  const int64_t range = log4lockSlotCount + 1;
  if (log4lockTry(log, log4lockSlotBase, range) != 0) {
    error4set(c, 0);
    return;
  }
  if (log->status == log4idle) tran4writeEmpty(trans, log4typeCleanEnd, log4cleanEndMarker, 1);
  file4unlock(&log->file, log4lockSlotBase, range);
}

DATA4* findIn(LIST4* list, uint32_t id) {
  for (LINK4* link = list4first(list); link != nullptr; link = list4next(list, link)) {
    auto* d = reinterpret_cast<DATA4*>(link);
    if (static_cast<uint32_t>(d->id) == id) return d;
  }
  return nullptr;
}

// The last transaction id this user slot wrote, looked for from the end of
// the log: 0 with `*found` set or not, or an error.
int32_t lastIdOfSlot(TRAN4* trans, int32_t slot, int32_t* id, bool* found) {
  Log4Scan& scan = trans->scan;
  scan.file = &tran4log(trans)->file;
  *found = false;
  int32_t rc = log4scanLast(&scan);
  while (rc == 0) {
    const int32_t seen = scan.header.transactionId;
    if (seen < 0)
      return error4describe(tran4code(trans), e4log, kLocLog, scan.file->name, nullptr, nullptr);
    // Slot 1000's ids share residue 0 with entries outside transactions.
    if (seen % kIdStep == slot % kIdStep) {
      *id = seen;
      *found = true;
      return 0;
    }
    rc = log4scanBack(&scan);
  }
  return rc == r4bof ? 0 : rc;
}

}  // namespace

int32_t tran4writeEmpty(TRAN4* trans, uint16_t type, uint32_t dataId2, int flush) {
  code4timeStamp(tran4code(trans));
  if (const int32_t rc = log4entrySet(trans, -1, type, 0, dataId2); rc < 0) return rc;
  return log4entryWrite(trans, flush);
}

int32_t code4transactionInit(CODE4* c) {
  CODE4TRANS& block = c->transaction;
  block.c4 = c;
  block.trans.c4trans = &block;
  block.trans.dataList = &block.trans.localDataList;
  return 0;
}

void code4transactionReset(CODE4* c) {
  CODE4TRANS& block = c->transaction;
  block.c4 = nullptr;
  block.enabled = 0;
  log4fileReset(&block.log);
  TRAN4& trans = block.trans;
  trans.c4trans = nullptr;
  trans.dataList = nullptr;
  list4init(&trans.localDataList);
  std::memset(trans.userId, 0, sizeof trans.userId);
  std::memset(trans.netId, 0, sizeof trans.netId);
  trans.userIdLen = 0;
  trans.transactionId = 0;
  trans.autoUnlock = trans.savedAutoUnlock = 1;
  trans.pending = Log4Header{};
  trans.pendingLength = 0;
  trans.scan = Log4Scan{};
}

int32_t code4logOpen(CODE4* c, const char* fileName, const char* userId) {
  if (c == nullptr) return error4(nullptr, e4parmNull, kLocLog);
  if (c->transaction.enabled) return r4logOpen;
  if (fileName == nullptr || fileName[0] == '\0') fileName = log4defaultName;
  if (userId == nullptr || userId[0] == '\0') userId = log4defaultUser;
  const int32_t rc = log4open(&c->transaction, fileName, 0);
  if (rc < 0 || !c->transaction.enabled) return rc < 0 ? rc : 0;
  return log4userEntry(&c->transaction.trans, userId, static_cast<int32_t>(std::strlen(userId)));
}

int32_t log4open(CODE4TRANS* block, const char* name, int create) {
  if (block->enabled) return 0;
  CODE4* c = block->c4;
  c->transactionState = tran4inactive;
  block->trans.transactionId = 0;
  block->trans.scan.position = -1;
  block->trans.pendingLength = 0;
  if (name != nullptr) {
    const size_t length = std::strlen(name) + 1;
    auto* copy = static_cast<char*>(memory4allocZero(static_cast<int64_t>(length)));
    if (copy == nullptr) return error4(c, e4memory, kLocLog);
    std::memcpy(copy, name, length);
    memory4freeBlock(c->logName);
    c->logName = copy;
  }
  if (c->logName == nullptr) return 0;
  LOG4FILE* log = &block->log;
  const int32_t rc = create ? log4fileCreate(log, c, c->logName) : log4fileOpen(log, c, c->logName);
  if (rc == 0) {
    block->enabled = 1;
    log->status = log4idle;
    return 0;
  }
  memory4freeBlock(c->logName);
  c->logName = nullptr;
  return rc == r4noOpen ? 0 : rc;
}

int32_t log4userEntry(TRAN4* trans, const char* userId, int32_t length) {
  CODE4* c = tran4code(trans);
  if (!trans->c4trans->enabled || c->transactionState == tran4closing)
    return error4(c, e4log, kLocLog);
  if (const int32_t rc = takeSlot(trans); rc < 0) return rc;
  const int32_t kept = std::clamp<int32_t>(length, 0, sizeof trans->userId - 1);
  std::memcpy(trans->userId, userId, static_cast<size_t>(kept));
  trans->userId[kept] = '\0';
  trans->userIdLen = kept;
  unsigned char lengths[4];
  endian4::writeLe16(lengths, 0);  // no network id
  endian4::writeLe16(lengths + 2, static_cast<uint16_t>(kept));
  code4timeStamp(c);
  int32_t rc = log4entrySet(trans, -1, log4typeUserOpen, 0, 0);
  if (rc == 0) rc = log4entryAppend(trans, lengths, sizeof lengths);
  if (rc == 0) rc = log4entryAppend(trans, trans->userId, static_cast<uint32_t>(kept));
  if (rc < 0) return rc;
  if (log4entryWrite(trans, 0) != 0) return error4(c, e4logWrite, kLocLog);
  return 0;
}

void code4logClose(CODE4* c) {
  if (!c->transaction.enabled) return;
  if (c->transactionState == tran4rollback || c->transactionState == tran4closing) return;
  log4close(&c->transaction);
}

int32_t log4close(CODE4TRANS* block) {
  CODE4* c = block->c4;
  memory4freeBlock(c->logName);
  c->logName = nullptr;
  const int32_t kept = error4set(c, 0);
  TRAN4* trans = &block->trans;
  LOG4FILE* log = &block->log;
  int32_t result = 0;
  if (log->isOpen) {
    if (block->enabled && trans->userIdLen > 0) {
      if (tran4writeEmpty(trans, log4typeUserClose, 0, 0) != 0)
        result = error4(c, e4logWrite, kLocLog);
      std::memset(trans->userId, 0, sizeof trans->userId);
      trans->userIdLen = 0;
    }
    if (c->transactionState == tran4inactive) writeCleanEndWhenLast(trans);
    const int32_t kept2 = error4set(c, 0);
    if (log4fileClose(log) < 0 && result == 0) result = -1;
    error4set(c, kept2);
  }
  block->enabled = 0;
  error4set(c, kept);
  return result;
}

bool tran4logging(const CODE4* c) {
  return c->transaction.enabled && error4code(c) >= 0 && c->transactionState != tran4rollback &&
         c->transactionState != tran4closing;
}

bool code4transactionActive(const CODE4* c, int activeOnly) {
  if (!c->transaction.enabled) return false;
  if (c->transactionState == tran4active) return true;
  return !activeOnly && c->transactionState == tran4phaseOne;
}

void code4timeStamp(CODE4* c) {
  const platform::LocalTime now = platform::os().localTime();
  auto* stamp = reinterpret_cast<unsigned char*>(c->timeStamp);
  endian4::writeLe32(stamp, static_cast<uint32_t>(now.year));
  stamp[4] = static_cast<unsigned char>(now.month);
  stamp[5] = static_cast<unsigned char>(now.day);
  endian4::writeLe32(stamp + 6,
                     static_cast<uint32_t>((now.hour * 60 + now.minute) * 60 + now.second));
}

int32_t log4entrySet(TRAN4* trans, int32_t transactionId, uint16_t type, uint32_t dataId,
                     uint32_t dataId2) {
  CODE4* c = tran4code(trans);
  Log4Header& h = trans->pending;
  h = Log4Header{};
  const int32_t state = c->transactionState;
  if (state == tran4active || state == tran4phaseOne || type == log4typeStart ||
      type == log4typeRollbackDone) {
    const int32_t id = transactionId == -1 ? trans->transactionId : transactionId;
    if (id < 0) return error4(c, e4log, kLocLog);
    h.transactionId = id;
  }
  h.userId = tran4log(trans)->userSlot;
  h.type = type;
  h.dataId = dataId;
  h.dataId2 = dataId2;
  const auto* stamp = reinterpret_cast<const unsigned char*>(c->timeStamp);
  h.year = endian4::readLe32(stamp);
  h.month = stamp[4];
  h.day = stamp[5];
  h.seconds = endian4::readLe32(stamp + 6);
  trans->pendingLength = 0;
  if (dataId != 0) {
    if (DATA4* d = tran4dataFind(c, dataId); d != nullptr) d->logInTransaction = true;
  }
  return 0;
}

int32_t log4entryAppend(TRAN4* trans, const void* bytes, uint32_t n) {
  CODE4* c = tran4code(trans);
  // The buffer holds the length word, the payload, and room for the header.
  const uint64_t need = static_cast<uint64_t>(trans->pendingLength) + n + log4overhead;
  if (need > UINT32_MAX) return error4(c, e4memory, kLocLog);
  if (need > c->logEntryBufferLen) {
    const uint64_t grown = std::max<uint64_t>(need, 2ull * c->logEntryBufferLen);
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(grown, UINT32_MAX));
    if (memory4grow(c, &c->logEntryBuffer, &c->logEntryBufferLen, size) < 0)
      return error4(c, e4memory, kLocLog);
  }
  if (n > 0) std::memcpy(c->logEntryBuffer + log4lengthSize + trans->pendingLength, bytes, n);
  trans->pendingLength += n;
  return 0;
}

int32_t log4entryWrite(TRAN4* trans, int flush) {
  CODE4* c = tran4code(trans);
  if (const int32_t rc = log4entryAppend(trans, nullptr, 0); rc < 0) return rc;
  auto* entry = reinterpret_cast<unsigned char*>(c->logEntryBuffer);
  const uint32_t n = trans->pendingLength;
  trans->pending.payloadLength = n;
  endian4::writeLe32(entry, n + log4overhead);
  log4encodeHeader(trans->pending, entry + log4lengthSize + n);
  trans->pendingLength = 0;
  return log4fileAppend(tran4log(trans), entry, n + log4overhead, flush);
}

DATA4* tran4dataFind(CODE4* c, uint32_t id) {
  if (id == 0) return nullptr;
  if (DATA4* d = findIn(code4dataList(c), id); d != nullptr) return d;
  return findIn(&c->closedDataFiles, id);
}

int32_t tran4nextId(TRAN4* trans, int32_t* id) {
  LOG4FILE* log = tran4log(trans);
  const int32_t slot = log->userSlot;
  int64_t next = slot;
  if (log->lastTransactionId < 0) {
    int32_t last = 0;
    bool found = false;
    if (const int32_t rc = lastIdOfSlot(trans, slot, &last, &found); rc < 0) return rc;
    if (found && last != INT32_MAX) next = static_cast<int64_t>(last) + kIdStep;
  } else {
    next = static_cast<int64_t>(log->lastTransactionId) + kIdStep;
  }
  // Ids stay congruent to the slot: past the largest id they start again.
  if (next > INT32_MAX) next = slot;
  log->lastTransactionId = static_cast<int32_t>(next);
  *id = static_cast<int32_t>(next);
  return 0;
}
