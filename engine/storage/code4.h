// CODE4: the engine's settings and context object.
//
// Every engine operation reaches one, directly or through the structure it
// is given. It holds the defaults that decide how files are opened,
// created, locked and reported on, the lists of open structures, the
// current error state, the transaction-log state and the two workers.
//
// Lifetime: not initialised -> initialised (code4initLow) -> not
// initialised (code4initUndo). The record is not a disk format: the version
// and size given to code4initLow are checked as numbers only.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/cache4.h"
#include "engine/storage/list4.h"
#include "engine/storage/mem5allocator.h"
#include "engine/storage/memory4.h"
#include "engine/storage/tran4.h"
#include "engine/storage/worker4.h"

// The version and record size a caller states at initialisation.
inline constexpr int32_t code4libraryVersion = 6502;
inline constexpr int32_t code4structSize = 1611;

// The compile-switch word: bit 0 binary doubles in 'B' fields, bit 1 keys
// negated for descending order, bit 2 memo 'B' fields.
inline constexpr uint32_t code4switchWord = 0x031820C1;

// The index format: compact compound (CDX).
inline constexpr int32_t code4formatCdx = 200;

// Transaction states.
enum : int32_t {
  tran4inactive = 110,
  tran4phaseOne = 115,
  tran4active = 120,
  tran4rollback = 130,
  tran4closing = -2,
};

// The settings with their defaults. Initialisation restores every one of
// them, so a default is written here and nowhere else.
struct Code4Settings {
  int32_t autoOpen = 1;               // opening a table opens its production index
  int32_t createTemp = 0;             // created files are temporary
  int16_t errDefaultUnique = 25;      // unique mode of a tag asking for the default
  int32_t errExpr = 1;                // raise expression errors
  int32_t errFieldName = 1;           // raise unknown field names (-210)
  int32_t errOpen = 1;                // raise failed opens; 0 returns 70 quietly
  int16_t logMode = 0;                // log mode given to new data handles
  int32_t memExpandData = 5;          // data-handle pool growth
  int32_t memSizeBuffer = 32768;      // transfer buffers of record moves
  int32_t memSizeSortBuffer = 32768;  // sort engine's work-file buffer
  int32_t memSizeSortPool = 61440;    // sort engine's in-memory blocks
  int32_t memStartData = 10;          // data-handle pool start
  int8_t safety = 1;                  // a create refuses to replace a file
  int16_t compatibility = 25;         // level of created files: 25, 26 or 30
  int32_t memExpandDataFile = 5;
  int32_t memStartDataFile = 5;
  int16_t collateGeneral = 0;  // new qualifying tags get a general collation
  int16_t codePage = 0;        // code-page byte of a created DBF header
  int32_t errCreate = 1;       // raise failed creates; 0 returns 60 quietly
  int32_t readOnly = 0;        // open files for reading only
  int8_t accessMode = 0;       // 0 shared, 1 exclusive, 2 shared read
  int32_t memExpandLock = 10;  // lock-holder pool growth
  int32_t memStartLock = 5;
  int32_t lockDelay = 100;  // hundredths of a second between lock attempts
  int32_t writeThrough = 0;
  int8_t readLock = 0;             // a go locks the record before reading it
  int32_t lockAttempts = -1;       // -1 forever, 0 one attempt
  int32_t fileBuffering = -1;      // -1 by open mode, 0 off, 1 on
  int32_t bufferingShare = 25;     // per cent of available memory for buffering
  int32_t bufferingSize = 327680;  // bytes the block cache may use
  int32_t errTagName = 1;          // raise unknown tag names (-330)
  int32_t memStartIndex = 10;
  int32_t memExpandIndex = 5;
  int32_t memStartTag = 10;
  int32_t memExpandTag = 10;
  int32_t memStartTagFile = 10;
  int32_t memExpandTagFile = 10;
  int32_t memStartBlock = 5;
  int32_t memExpandBlock = 10;
  int32_t memoBlockSize = 512;    // block size of a new memo file
  int32_t memoExprLength = 1024;  // length of a memo used as text in a key
  int32_t memStartIndexFile = 5;
  int32_t memExpandIndexFile = 5;
  int32_t indexBlockSize = 512;  // node size of a created CDX file
  int32_t indexBlockMultiplier = 1;
  int32_t autoOpenLog = 1;     // opening a table first tries the log file
  int32_t largeFileValue = 0;  // large files stay off
  int32_t closeMode = 0;       // 1: the last close deletes the table's files
  int16_t singleOpen = 1;      // refuse a second open of an open data file
  int32_t allowReopen = 0;     // reopen a read-only table for writing
  int32_t errGo = 1;           // raise a go to a missing record (-70)
  int32_t errSkip = 1;         // raise a skip without a current record
  int32_t lockEnforce = 0;     // assigning an unlocked record fails (-50)
  char datePicture[20] = "MM/DD/YY";
  int16_t unlockAllowed = 1;      // 0: single-record unlocks do nothing
  int32_t collatingSequence = 0;  // collation of new tags (0 none)
  int32_t collateWide = 1;        // collation of new wide-key tags
  int32_t liveCountOnly = 0;      // removals update only the live count
  double autoIncrementStart = 1.0;
  int16_t pageNo = 0;  // value of the expression function PAGENO
  // The buffering scheme's own settings.
  int32_t bufferingLists = 17;
  int32_t bufferingReadAhead = 2;
  // 1: the block cache hands the blocks it writes out to the write-behind
  // worker (data-file blocks gathered in runs), and a failure there is
  // reported at the next flush; 0: it writes each block itself, and a block
  // the disk refuses stays changed, so that a later flush writes it again.
  int32_t bufferingWriteBehind = 1;
  // 1: the blocks of a data file that the cache does not hold are read
  // straight from the disk and not kept. For a cache started to hold the
  // writes of tables many times its size: a pass over one then costs no
  // block of the cache and no hand-off to the read-ahead worker.
  int32_t bufferingReadsAround = 0;
  int32_t bufferingTemp = -1;  // set to 1 around a temporary file's buffering
  // 1: an exclusive open that finds whole records after a damaged one
  // (records lost in the middle of those written last) leaves them on the
  // disk until data4tailCut, so that a caller can record what it decides
  // from that damage before the evidence goes (data4tail.h).
  int32_t tailCutDeferred = 0;
  // 1: once a sync of any file failed (CODE4::syncFailed), nothing more is
  // written to a file on the disk: every write, length change and room set
  // aside fails at once, reported as a refused write, and nothing reaches
  // the disk. For a program whose files depend on each other's order: the
  // disk stays as the failed sync left it, for its next start to repair
  // from what it noted, and no later write builds on what may be lost.
  int32_t writesEndAtFailedSync = 0;
};

// Progress of an index rebuild: written by the rebuilding thread, read by
// any other. A reader estimates the part done as
//   fraction + weight x counter / twiceCount
// (the counter grows once per record read and once per key written, so it
// runs to twice the record count for each tag), and never reports less
// than it reported before (`reported`, reset when a rebuild starts).
struct Code4ReindexProgress {
  std::atomic<bool> active{false};
  std::atomic<double> fraction{0.0};
  std::atomic<double> weight{0.0};
  std::atomic<int64_t> counter{0};
  std::atomic<int64_t> twiceCount{0};
  mutable std::atomic<double> reported{0.0};
  // Called on the rebuilding thread every few thousand records read or
  // keys written, for a program that shows the progress from that very
  // thread (its window has no other chance to be drawn); null for none.
  void (*tick)(void* context) = nullptr;
  void* tickContext = nullptr;
};

// Records read or keys written between two ticks of a rebuild's progress.
inline constexpr int64_t code4reindexTickEvery = 4096;

// Counts one record read or key written of a rebuild, ticking as it goes.
inline void code4reindexCount(Code4ReindexProgress& p) {
  const int64_t done = p.counter.fetch_add(1, std::memory_order_relaxed) + 1;
  if (p.tick != nullptr && done % code4reindexTickEvery == 0) p.tick(p.tickContext);
}

// A disk call of the file layer that failed (code4diskFailed): an open of
// an existing file, a file's creation, a read, a write, a length change,
// room set aside, a sync (of a file or of its folder), a rename or a
// removal.
enum class Disk4Call : uint8_t {
  kNone,
  kRead,
  kWrite,
  kLength,
  kReserve,
  kSync,
  kOpen,
  kCreate,
  kRename,
  kRemove
};
struct Disk4Failure {
  Disk4Call call = Disk4Call::kNone;
  int32_t error = 0;    // its errno
  std::string file;     // the file's name as opened, or the folder's
  bool worker = false;  // made by a worker thread, not the settings object's owner
};

struct CODE4 : Code4Settings {
  CODE4() = default;
  ~CODE4();
  CODE4(const CODE4&) = delete;
  CODE4& operator=(const CODE4&) = delete;

  // Error state: written by the owner's thread as it raises, read without
  // a lock.
  std::atomic<int32_t> errorCode{0};
  std::atomic<int32_t> errorLocation{0};
  // Raised errors the hook cleared once it had shown them (Error4Steps).
  std::atomic<uint32_t> errorsCleared{0};
  // The thread that initialised the settings object, on which the program
  // makes every engine call. An error raised on any other thread (a worker)
  // waits in `foreignErrors` until the owner's next engine call raises it
  // on the owner's thread (error4code), so that the program's hook only
  // ever runs there and the error state never blocks the owner unseen.
  std::thread::id ownerThread;
  struct ForeignError {
    int32_t code;
    int32_t location;
    std::string texts[3];
    bool hasText[3];
  };
  mutable std::mutex foreignMutex;
  mutable std::vector<ForeignError> foreignErrors;  // guarded by foreignMutex
  mutable std::atomic<bool> foreignPending{false};

  int32_t validityMarker = 0;  // 21121 while initialised
  int32_t initialized = 0;
  int8_t allocatedByEngine = 0;  // undo also frees the record
  int8_t reindexInProgress = 0;
  Code4ReindexProgress reindexProgress;
  int8_t noThreads = 0;  // the workers were not started
  bool bufferingDisabled = false;
  bool bufferingRunning = false;
  // A sync of some file failed since initialisation (FILE4::syncFailed):
  // a program that must know whether its files can still be trusted asks
  // here.
  std::atomic<bool> syncFailed{false};
  // The errno of the last write the disk refused (ENOSPC for one it cut
  // short), for a program that tells its user why; 0 before any.
  std::atomic<int32_t> writeErrno{0};
  // Disk calls that failed since initialisation, on any thread, and the
  // last one not yet taken (code4takeDiskFailure): for a program that must
  // know whether a piece of work met a failing disk, and tell its user
  // what failed and why.
  std::atomic<uint64_t> diskFailures{0};
  std::atomic<int32_t> lastDiskErrno{0};  // the last one's, never taken
  mutable std::mutex diskFailureMutex;
  Disk4Failure lastDiskFailure;    // guarded by diskFailureMutex
  Disk4Failure latestDiskFailure;  // guarded by diskFailureMutex; never taken
  Disk4Failure firstSyncFailure;   // guarded by diskFailureMutex; never taken

  char indexExtension[4] = "";  // filled on first request
  char memoExtension[4] = "";

  LIST4 dataFileList;     // every open data file
  LIST4 calcList;         // named calculations for expressions
  LIST4 closedDataFiles;  // data files closed during a transaction

  char* logName = nullptr;         // owned by the transaction log
  char* logEntryBuffer = nullptr;  // growing buffer of the pending entry
  uint32_t logEntryBufferLen = 0;
  char timeStamp[10] = {};

  // The field operations' work buffer: field4str, field4currency and
  // field4dateTime return their text in it, each call overwriting the last.
  char* fieldBuffer = nullptr;
  uint32_t fieldBufferLen = 0;
  CODE4TRANS transaction;
  int32_t transactionState = 0;

  Worker4 writeBehind;
  Worker4 readAhead;
  Cache4 cache;  // the block cache; started by code4cacheStart

  MEMORY4* dataPool = nullptr;      // DATA4 units
  MEMORY4* dataFilePool = nullptr;  // DATA4FILE units
  MEMORY4* lockPool = nullptr;      // record-lock entries

  // Who holds a lock that could not be taken (code4lockInfoSet): which
  // lock (-1 the file, 0 the append lock, n record n), the holder's alias,
  // and the holder's user and network ids from the transaction log.
  int32_t lockedRecord = 0;
  char lockedAlias[33] = {};
  char lockedUserId[11] = {};
  char lockedNetId[11] = {};
  int32_t handleCounter = 0;  // the last id given to a data handle

  Mem5zeroAllocator* zeroAllocator = nullptr;
  Mem5allocator* allocator = nullptr;
};

int32_t code4initLow(CODE4* c, const char* unused, int32_t version, int32_t size, int8_t noThreads);
int32_t code4initUndo(CODE4* c);
int32_t code4initUndoLow(CODE4* c, int closeData);

int32_t code4indexFormat(CODE4* c);
const char* code4indexExtension(CODE4* c);
const char* code4memoExtension(CODE4* c);
uint32_t code4switches();

int32_t code4closeModeGet(const CODE4* c);
int32_t code4errCreate(const CODE4* c);
int32_t code4errCreateSet(CODE4* c, int32_t value);
void code4largeOn(CODE4* c);
int32_t code4clientId(const CODE4* c);

// Notes a disk call of `file` that failed with `error`. Any thread.
void code4diskFailed(CODE4* c, Disk4Call call, int32_t error, const char* file);
// The disk calls that failed since initialisation: a piece of work met one
// when the count moved while it ran.
uint64_t code4diskFailures(const CODE4* c);
// The last failure noted and not yet taken; false when there is none.
bool code4takeDiskFailure(CODE4* c, Disk4Failure& failure);
bool code4diskFailurePending(const CODE4* c);
// The last failure noted, taken or not; false when none was since
// initialisation.
bool code4latestDiskFailure(const CODE4* c, Disk4Failure& failure);
// The first sync that failed since initialisation or code4syncFailureForget
// (syncFailed): false when none did.
bool code4syncFailure(const CODE4* c, Disk4Failure& failure);
// Files opened anew owe nothing to a sync that failed before: syncFailed
// and the failure noted are cleared.
void code4syncFailureForget(CODE4* c);

// Whether a sync failed where writes end at one (writesEndAtFailedSync):
// nothing more may change in the files' folders, by any thread.
bool code4writesEnded(const CODE4* c);

// How many settings objects are initialised now, process-wide.
int32_t code4initialisedCount();

// The list of open data handles.
LIST4* code4dataList(CODE4* c);

// Process-wide switches read from the compile-switch word.
bool code4binaryDoubles();
bool code4descendNegated();
bool code4memoBinary();
