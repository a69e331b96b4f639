// FILE4: the engine's handle of one open operating-system file.
//
// Every byte the engine reads or writes goes through here: open, create
// (also uniquely named temporary files that vanish at close), reads and
// writes at 64-bit positions, length, flush and byte-range locks. A FILE4
// is embedded in its owner (data file, index file, memo file, work file);
// the layer never allocates one.
//
// Sharing follows the engine's access mode with a whole-file flock taken at
// open: exclusive (1) takes LOCK_EX, shared (0) and shared-read (2) take
// LOCK_SH, and a conflict is a sharing violation. Byte-range locks are open
// file description locks; the handle keeps the ranges it holds so that
// locking a held range fails and unlocking one not held fails, as callers
// expect.
//
// Thread rule: `section` serialises every transfer and length change on
// the handle. Lock order: a file's section before a worker queue's section.
// The block-cache fields belong to the engine's calling thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/storage/cache4block.h"
#include "engine/storage/list4.h"

struct CODE4;

// Kinds of file for the block cache's accounting.
enum : uint8_t {
  file4cacheNone = 0,
  file4cacheData = 1,
  file4cacheIndex = 2,
  file4cacheOther = 3,
};

// Read-ahead buffer states. A read ahead the disk refused is kept as
// refused, with its errno, for the read that comes to take its bytes: that
// read fails with it (and notes it as a disk failure) instead of reading
// the bytes again, so a failing disk is told where it fails.
enum : uint32_t {
  file4aheadEmpty = 1,
  file4aheadReading = 2,
  file4aheadValid = 3,
  file4aheadRefused = 4,
};

// What a read finds in a read-ahead buffer: nothing of its range, the
// bytes (copied), or the refusal of the read that was to bring them.
enum class File4Ahead : uint8_t { kNotHeld, kTaken, kRefused };

struct FILE4;

// Everything of a FILE4 but its lock; reset as a whole before every open.
struct File4Fields {
  struct HeldRange {
    uint64_t offset;
    uint64_t length;
  };

  LINK4 cacheLink;          // first: in the cache's list of files while it has a type
  bool nameOwned = false;   // `ownedName` is freed at close
  bool isTemp = false;      // removed from disk at close
  bool inTempFolder = false;  // made in the folder of temporary files (TMPDIR)
  // A memory file (file4memory): no sync applies to it, and it goes with
  // its close.
  bool inMemory = false;
  int handle = -1;          // descriptor; -1 while closed
  bool isReadOnly = false;  // writes and length changes refused
  char* ownedName = nullptr;
  const char* name = nullptr;  // for error texts: ownedName or the caller's
  CODE4* codeBase = nullptr;
  int32_t accessMode = 0;          // 0 shared, 1 exclusive, 2 others only read
  bool isLong = false;             // length or a write reached past 4 GiB
  bool onDisk = false;             // an operating-system file exists
  int8_t writeOptimisation = 0;    // the cache may hold writes (with bufferWrites)
  uint32_t hashBase = 0xFFFFFFFF;  // bytes added to an offset before hashing
  // The length as the block cache sees it, kept while it holds writes;
  // UINT64_MAX unknown.
  uint64_t knownLength = UINT64_MAX;
  uint8_t cacheType = file4cacheNone;  // 0: not joined to the cache
  bool bufferWrites = false;           // write buffering: locked or opened exclusively
  bool cached = false;                 // the started cache serves the file
  uint32_t readCounter = 0;
  double readWeight = 0.0;  // added to a block's weight at each use
  void* cacheOwner = nullptr;
  Cache4FileBlocks cacheBlocks;  // the file's blocks in the cache
  // The file's changed blocks: a data file's in offset order, which is the
  // order they must reach the disk in; another file's as they changed.
  Cache4ChangedBlocks changedBlocks;
  LIST4 pendingWrites;         // write-behind requests not yet done
  bool readAheadUsed = false;  // a read ahead was queued, or the own buffer filled
  LIST4 queuedReads;           // read-ahead requests not yet done
  // The file's own read-ahead buffer (file4ahead.cpp): one cache block.
  // The area and its capacity change on the calling thread, never while
  // a read is in flight. FILE4::aheadMutex guards the state, the range,
  // the stale mark and, while valid, the bytes; while reading, the bytes
  // are the read-ahead worker's.
  char* readAheadBuffer = nullptr;
  uint32_t readAheadCapacity = 0;
  uint32_t readAheadState = 0;   // file4aheadEmpty, file4aheadReading, ...Valid or ...Refused
  uint32_t readAheadOffset = 0;  // file offset of the first byte held (or asked for)
  uint32_t readAheadLength = 0;  // bytes held (or asked for)
  bool readAheadStale = false;   // a write overlapped the read in flight: it arrives empty
  int32_t readAheadErrno = 0;    // while refused: the disk's answer
  // The calling thread's: block reads ahead still to pass up, and how many
  // the next useless one makes it pass up (see file4ahead.cpp).
  uint32_t readAheadPass = 0;
  uint32_t readAheadBackoff = 0;
  std::vector<HeldRange> heldRanges;  // byte ranges this handle locked
  // Written (or a write queued) since the last fsync: a flush that finds
  // it clear has nothing to sync. Set by the engine's calling thread, read
  // and cleared under `section`.
  bool unsynced = false;
  // A sync of the file failed. The system may have dropped what it could
  // not write and marked it written all the same, answering the next sync
  // with success: no later sync can prove anything, so every later flush
  // and the close fail. Set and read under `section`.
  bool syncFailed = false;
  // The end of the room the disk holds for the file: its length, or what
  // file4reserve set aside beyond it; 0 until first asked. `roomWritten`
  // where the file system cannot set room aside: the room is then zero
  // bytes written past the end of the file's contents.
  uint64_t roomEnd = 0;
  bool roomWritten = false;
  // A write-out of the block cache that took bytes out of its blocks (a
  // run handed over, a spare copy) failed: the disk lacks bytes the cache
  // no longer holds, so every later flush of the file fails. Set by the
  // write-out's completion under the mutex of its buffer or spare; read by
  // the calling thread once every transfer is back (cache4awaitTransfers).
  bool writeOutLost = false;
  // Holds record contents (a data or memo file): the transaction log
  // reaches the disk before any write to it does.
  bool logWriteAhead = false;
  // A file this one's bytes point into (a table's memo file, whose blocks
  // its records name): the block cache writes and syncs it before any
  // block of this file reaches the disk, since write-back keeps no order.
  FILE4* writtenFirst = nullptr;
};

struct FILE4 : File4Fields {
  std::recursive_mutex section;
  // A leaf: nothing else is taken while it is held, and the read-ahead
  // worker's completion takes it inside the worker's queue section.
  std::mutex aheadMutex;
  std::condition_variable aheadArrived;  // the read in flight has landed
  // Reads of the file the disk refused, on any thread: a read that came
  // back short is the file's end only when this did not move meanwhile.
  std::atomic<uint32_t> readFailures{0};
};

// Notes a read of the file the disk refused with `error`.
void file4readFailed(FILE4* f, int32_t error);

// The block cache holds the file's writes until a flush writes them out,
// in its own order (a data file's header last).
inline bool file4writesHeld(const FILE4* f) {
  return f->cached && f->writeOptimisation == 1 && f->bufferWrites;
}

// The file whose `cacheLink` this is.
inline FILE4* file4ofCacheLink(LINK4* link) {
  return static_cast<FILE4*>(reinterpret_cast<File4Fields*>(link));
}

int32_t file4open(FILE4* f, CODE4* c, const char* name, int copyName);
int32_t file4create(FILE4* f, CODE4* c, const char* name, int copyName);
int32_t file4tempLow(FILE4* f, CODE4* c, int removeAtClose, int useTempFolder,
                     const char* extension);
// Opens a new, empty memory file, for a copy of a file that cannot be
// written where it lies (an index rebuilt for reading only). `name` is the
// file it stands for, in error texts. 0 or a negative code (raised).
int32_t file4memory(FILE4* f, CODE4* c, const char* name);
// Writes what is still held, syncs a file that was written (unless it is
// temporary: then it is removed), and closes it.
int32_t file4close(FILE4* f);
// Makes the folder entry of `path` (a file just made, or just renamed to
// that name) survive a power cut: 0, or the failure raised (e4optFlush).
int32_t file4syncFolderOf(CODE4* c, const char* path);
int file4openTest(const FILE4* f);
// 0 when a file of that name exists (in any letter case), negative otherwise.
int32_t file4exists(const char* name);

uint32_t file4readLow(FILE4* f, uint64_t position, void* buffer, uint32_t n);
// The bytes read, fewer at the end of the file; a read the disk refused
// (now, or when it was read ahead) gives 0 and counts in readFailures.
uint32_t file4readInternal(FILE4* f, uint64_t position, void* buffer, uint32_t n);
uint32_t file4read(FILE4* f, uint64_t position, void* buffer, uint32_t n);
int32_t file4readAll(FILE4* f, uint64_t position, void* buffer, uint32_t n);
int32_t file4readError(FILE4* f, uint64_t position, uint32_t n, const char* function);

uint32_t file4writeLow(FILE4* f, uint64_t position, const void* data, uint32_t n);
int32_t file4writeInternal(FILE4* f, uint64_t position, const void* data, uint32_t n,
                           int settleOverlaps, int flush);
// Called when a delayed write has been done (or dropped, with result 0).
using File4Completion = void (*)(void* completionData, int32_t result);
int32_t file4writeCached(FILE4* f, uint64_t position, const void* data, uint32_t n, int delayed,
                         File4Completion completion, void* completionData);
int32_t file4write(FILE4* f, uint64_t position, const void* data, uint32_t n);
// Writes to the disk at once, even where the block cache holds the file's
// writes; a cached copy of the range takes the bytes too (a changed block
// stays changed). For a mark that must reach the disk before anything the
// cache holds. 0 or the write's failure.
int32_t file4writeThrough(FILE4* f, uint64_t position, const void* data, uint32_t n);
// The write-ahead rule: before a file holding records is written, log
// entries not yet on disk are flushed. 0, or the flush's failure.
int32_t file4logWriteAhead(FILE4* f);

// Makes the disk hold room for the file's bytes up to `end`, setting aside
// at least `step` bytes more than it had whenever it must ask: writes
// there, held back by the cache, cannot then fail on a full disk. Where
// the file system cannot set room aside, the room is written (roomWritten):
// zero bytes past the file's contents, which lengthen it until its owner
// cuts them off again (a shared file only what it needs). 0 once the room
// is there (or the file is in memory); -1 when the disk has no room left
// or the file's length could not be had, with nothing raised, or when a
// write queued for the file failed (raised).
int32_t file4reserve(FILE4* f, uint64_t end, uint64_t step);
// True when nothing may be written to the file any more: a sync failed and
// its settings object ends writes there (writesEndAtFailedSync).
bool file4writesEnded(const FILE4* f);

// The length; UINT64_MAX after a reported failure.
uint64_t file4lenLow(FILE4* f);
int32_t file4lenSetLow(FILE4* f, uint64_t newLength);

// Syncs the file when it was written since its last sync: 0, or -1 without
// a report when the sync failed now or once before (syncFailed).
int32_t file4syncLow(FILE4* f);
// Syncs what was written to the file: 0, or e4optFlush raised, also for
// every call after one sync of the file failed.
int32_t file4flushOs(FILE4* f);
int32_t file4flushBlocks(FILE4* f, int discard);
// Hands the disk what the block cache holds of the file and waits for the
// writes queued for it: then a process that dies leaves it all there
// (no fsync). 0 or -1.
int32_t file4writeHeld(FILE4* f);
// file4writeHeld, then the disk starts writing the file's bytes back
// without being waited for: a flush after it waits less. 0 or -1.
int32_t file4handOver(FILE4* f);
int32_t file4flush(FILE4* f);
int32_t file4refresh(FILE4* f);

int32_t file4lock(FILE4* f, int64_t offset, int64_t length);
int32_t file4unlock(FILE4* f, int64_t offset, int64_t length);

// A set of bit flags: the second field points to the flag bytes.
struct F4FLAG {
  CODE4* codeBase = nullptr;
  unsigned char* flags = nullptr;
  uint32_t numFlags = 0;
};
// Non-zero when bit n is set; 0 for a bit beyond the set.
int flags4isSet(const F4FLAG* flags, uint32_t n);

// The engine code for an errno met while opening or creating a file.
int32_t file4openErrorCode(int errnoValue);
