#include "engine/storage/code4.h"

#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "engine/index/collate4.h"
#include "engine/storage/buffer4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"

namespace {

constexpr int32_t kLocInit = 90111;
constexpr int32_t kLocVersion = 80060;
constexpr int32_t kLocSize = 80061;
constexpr int32_t kLocUndoCheck = 40037;
constexpr int32_t kLocIndexFormat = 90112;

// Process-wide state shared by every settings object.
std::atomic<int32_t> initialisedCount{0};
std::atomic<bool> binaryDoubles{false};
std::atomic<bool> descendNegated{false};
std::atomic<bool> memoBinary{false};

// Brings the record back to its state before initialisation. Locks,
// events and threads are left alone: they are not data and the workers
// are stopped before this runs.
void clearRecord(CODE4* c) {
  static_cast<Code4Settings&>(*c) = Code4Settings{};
  c->errorCode.store(0);
  c->errorLocation.store(0);
  c->ownerThread = std::thread::id();
  {
    std::lock_guard guard(c->foreignMutex);
    c->foreignErrors.clear();
    c->foreignPending.store(false);
  }
  c->validityMarker = 0;
  c->initialized = 0;
  c->allocatedByEngine = 0;
  c->reindexInProgress = 0;
  c->noThreads = 0;
  c->bufferingDisabled = false;
  c->bufferingRunning = false;
  c->syncFailed.store(false);
  c->writeErrno.store(0);
  c->diskFailures.store(0);
  c->lastDiskErrno.store(0);
  {
    std::lock_guard guard(c->diskFailureMutex);
    c->lastDiskFailure = Disk4Failure{};
    c->firstSyncFailure = Disk4Failure{};
  }
  cache4init(c);
  c->indexExtension[0] = '\0';
  c->memoExtension[0] = '\0';
  list4init(&c->dataFileList);
  list4init(&c->calcList);
  list4init(&c->closedDataFiles);
  c->logName = nullptr;
  c->logEntryBuffer = nullptr;
  c->logEntryBufferLen = 0;
  std::memset(c->timeStamp, 0, sizeof(c->timeStamp));
  c->fieldBuffer = nullptr;
  c->fieldBufferLen = 0;
  code4transactionReset(c);
  c->transactionState = 0;
  c->zeroAllocator = nullptr;
  c->allocator = nullptr;
  c->dataPool = nullptr;
  c->dataFilePool = nullptr;
  c->lockPool = nullptr;
  c->handleCounter = 0;
  c->lockedRecord = 0;
  c->lockedAlias[0] = c->lockedUserId[0] = c->lockedNetId[0] = '\0';
}

void readSwitches() {
  const uint32_t word = code4switches();
  binaryDoubles = (word & 1u) != 0;
  descendNegated = (word & 2u) != 0;
  memoBinary = (word & 4u) != 0;
}

int32_t refuseMismatch(int32_t code, int32_t location, const char* expectedFormat,
                       int32_t expected, const char* givenFormat, int32_t given) {
  char expectedText[48];
  char givenText[48];
  std::snprintf(expectedText, sizeof expectedText, expectedFormat, static_cast<int>(expected));
  std::snprintf(givenText, sizeof givenText, givenFormat, static_cast<int>(given));
  return error4describe(nullptr, code, location, expectedText, givenText, nullptr);
}

void startWorkers(CODE4* c) {
  c->writeBehind.reader = false;
  c->readAhead.reader = true;
  worker4start(c, c->writeBehind);
  worker4start(c, c->readAhead);
}

}  // namespace

CODE4::~CODE4() {
  if (initialized) code4initUndo(this);
  // A worker abandoned at start-up may still be joinable.
  worker4stop(writeBehind);
  worker4stop(readAhead);
}

int32_t code4initLow(CODE4* c, const char* /*unused*/, int32_t version, int32_t size,
                     int8_t noThreads) {
  if (c == nullptr) return error4(nullptr, e4parm, kLocInit);
  if (version != code4libraryVersion)
    return refuseMismatch(e4version, kLocVersion, "Library: %d", code4libraryVersion,
                          "Headers: %d", version);
  if (size != 0 && size != code4structSize)
    return refuseMismatch(e4struct, kLocSize, "Library struct size: %d", code4structSize,
                          "Header struct size: %d", size);
  // Initialising twice would orphan the pools and workers of the first.
  if (c->initialized && c->validityMarker == validity4marker) code4initUndo(c);
  clearRecord(c);
  c->ownerThread = std::this_thread::get_id();
  if (initialisedCount.fetch_add(1) == 0) memory4init();
  c->validityMarker = validity4marker;
  code4transactionInit(c);
  readSwitches();
  c->initialized = 1;
  c->unlockAllowed = 1;
  if (noThreads != 1) startWorkers(c);
  c->bufferingSize = 327680;
  c->bufferingShare = 25;
  code4cacheSizes(c, c->bufferingShare);
  c->noThreads = noThreads;
  c->compatibility = 25;
  c->zeroAllocator = new Mem5zeroAllocator;
  c->allocator = new Mem5allocator;
  c->autoIncrementStart = 1.0;
  return 0;
}

int32_t code4initUndo(CODE4* c) { return code4initUndoLow(c, 1); }

int32_t code4initUndoLow(CODE4* c, int closeData) {
  if (c == nullptr) return e4parmNull;
  if (structure4check(c, structure4code, kLocUndoCheck) < 0) return -1;
  if (!c->initialized) return 0;
  c->errorCode.store(0);
  code4cacheSuspend(c);
  // The log close would free the name too: it is freed here, once.
  memory4freeBlock(c->logName);
  c->logName = nullptr;
  // An open transaction ends undone: nothing of it was committed.
  if (code4transactionActive(c, 1)) code4transactionRollback(c);
  if (closeData) code4close(c);
  tran4closeKept(c);
  // The log closes whether or not the workers ran: a user that never
  // leaves its slot would keep every later start from finding a clean log.
  code4logClose(c);
  memory4freeBlock(c->logEntryBuffer);
  c->logEntryBuffer = nullptr;
  c->logEntryBufferLen = 0;
  memory4freeBlock(c->fieldBuffer);
  c->fieldBuffer = nullptr;
  c->fieldBufferLen = 0;
  memory4release(c->dataPool);
  memory4release(c->dataFilePool);
  memory4release(c->lockPool);
  c->dataPool = nullptr;
  c->dataFilePool = nullptr;
  c->lockPool = nullptr;
  worker4stop(c->writeBehind);
  worker4stop(c->readAhead);
  delete c->zeroAllocator;
  delete c->allocator;
  c->zeroAllocator = nullptr;
  c->allocator = nullptr;
  memory4release(c->writeBehind.requestPool);
  memory4release(c->readAhead.requestPool);
  c->writeBehind.requestPool = nullptr;
  c->readAhead.requestPool = nullptr;
  const int32_t kept = c->errorCode.load();
  c->initialized = 0;
  if (initialisedCount.fetch_sub(1) == 1) {
    collate4free();
    memory4reset();
  }
  return kept;
}

int32_t code4indexFormat(CODE4* c) {
  if (c == nullptr) {
    error4(nullptr, e4parmNull, kLocIndexFormat);
    return 204;
  }
  return code4formatCdx;
}

const char* code4indexExtension(CODE4* c) {
  if (c->indexExtension[0] == '\0') std::memcpy(c->indexExtension, "cdx", 4);
  return c->indexExtension;
}

const char* code4memoExtension(CODE4* c) {
  if (c->memoExtension[0] == '\0') std::memcpy(c->memoExtension, "fpt", 4);
  return c->memoExtension;
}

uint32_t code4switches() { return code4switchWord; }

int32_t code4closeModeGet(const CODE4* c) { return c->closeMode; }

int32_t code4errCreate(const CODE4* c) { return c->errCreate; }

int32_t code4errCreateSet(CODE4* c, int32_t value) {
  const int32_t previous = c->errCreate;
  c->errCreate = value;
  return previous;
}

void code4largeOn(CODE4* c) { c->largeFileValue = 0x3FFFFFFF; }

int32_t code4clientId(const CODE4* /*c*/) { return 0; }

LIST4* code4dataList(CODE4* c) { return c->transaction.trans.dataList; }

int32_t code4initialisedCount() { return initialisedCount.load(); }

bool code4binaryDoubles() { return binaryDoubles; }
bool code4descendNegated() { return descendNegated; }
bool code4memoBinary() { return memoBinary; }

void code4diskFailed(CODE4* c, Disk4Call call, int32_t error, const char* file) {
  if (c == nullptr) return;
  const bool worker = std::this_thread::get_id() != c->ownerThread;
  std::lock_guard guard(c->diskFailureMutex);
  c->lastDiskFailure = Disk4Failure{call, error, file != nullptr ? file : "", worker};
  c->latestDiskFailure = c->lastDiskFailure;
  if (call == Disk4Call::kSync && c->firstSyncFailure.call == Disk4Call::kNone)
    c->firstSyncFailure = c->lastDiskFailure;
  c->lastDiskErrno.store(error);
  c->diskFailures.fetch_add(1);
}

uint64_t code4diskFailures(const CODE4* c) { return c == nullptr ? 0 : c->diskFailures.load(); }

bool code4syncFailure(const CODE4* c, Disk4Failure& failure) {
  std::lock_guard guard(c->diskFailureMutex);
  if (c->firstSyncFailure.call == Disk4Call::kNone) return false;
  failure = c->firstSyncFailure;
  return true;
}

void code4syncFailureForget(CODE4* c) {
  std::lock_guard guard(c->diskFailureMutex);
  c->firstSyncFailure = Disk4Failure{};
  c->syncFailed = false;
}

bool code4diskFailurePending(const CODE4* c) {
  std::lock_guard guard(c->diskFailureMutex);
  return c->lastDiskFailure.call != Disk4Call::kNone;
}

bool code4writesEnded(const CODE4* c) {
  return c != nullptr && c->writesEndAtFailedSync && c->syncFailed;
}

bool code4latestDiskFailure(const CODE4* c, Disk4Failure& failure) {
  std::lock_guard guard(c->diskFailureMutex);
  if (c->latestDiskFailure.call == Disk4Call::kNone) return false;
  failure = c->latestDiskFailure;
  return true;
}

bool code4takeDiskFailure(CODE4* c, Disk4Failure& failure) {
  std::lock_guard guard(c->diskFailureMutex);
  if (c->lastDiskFailure.call == Disk4Call::kNone) return false;
  failure = std::exchange(c->lastDiskFailure, Disk4Failure{});
  return true;
}
