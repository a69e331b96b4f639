// The block cache: file blocks of every open file kept in one memory area.
//
// Files join the cache with file4cacheSet; the cache itself exists only
// between code4cacheStart, which sizes and allocates it, and
// code4cacheSuspend, which writes everything out and frees it. While it is
// not started a joined file reads and writes through the file layer
// directly.
//
// Blocks sit in five recency lists: data files, index files, other files,
// and two priority lists whose longer ages keep a data file's first block
// and index branch nodes cached through scans. Each list keeps a cut point:
// the blocks from its oldest up to the cut point may be reused. A file allowed to hold writes
// (write optimisation on, write buffering on while it is locked or opened
// exclusively) keeps changed blocks in the cache; changed data-file blocks
// leave in runs through a write buffer handed to the write-behind worker,
// changed blocks of other files through block-sized spare copies.
//
// A changed block the disk refuses stays changed, to be written by the
// next flush. From that refusal until every changed block is out, the
// cache makes room by writing no more: a read is served by the disk when
// the block to reuse holds changes, and a write the cache must hold takes
// a block of a small reserve set aside beyond the budget.
//
// Thread rules. Everything here belongs to the engine's calling thread
// except three small structures that the workers' completion routines
// touch, each under its own mutex: the write buffers' free flags, the
// spare copies' free list and the shared read-ahead buffer. Those mutexes
// are leaves: nothing else is taken while one is held, and none is held
// across I/O. A completion may run with a file's section or the read-ahead
// queue's section held, which is why they must stay leaves.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "engine/storage/cache4block.h"
#include "engine/storage/list4.h"

struct CODE4;
struct FILE4;
struct Cache4;

// The recency lists, in the order a victim is sought.
enum Cache4ListKind : uint8_t {
  cache4other = 0,
  cache4data = 1,
  cache4index = 2,
  cache4dataPriority = 3,
  cache4indexPriority = 4,
  cache4listCount = 5,
};

struct Cache4List {
  Cache4ListChain blocks;      // oldest first
  Cache4Block* cut = nullptr;  // the blocks up to this one may be reused
  uint32_t minimumCount = 0;   // ageing leaves at least this many uncut
  uint32_t reassignAge = 0;    // write-clock age past which a block is cut
  uint32_t useAge = 0;         // read-clock age from which a block may be cut
  int32_t countdown = 0;       // counting-mode ageing examines the list below 1
};

// Blocks beyond the budget for the writes the cache must hold once the disk
// has refused a write-out. What the engine's handles still hold back then
// (a changed record and a header of each table, the changed nodes on each
// tag's path and among its spares) is written into the cache by the next
// flush or by the reads that move those handles, and would otherwise find
// no room: every block holds changes the disk will not take.
inline constexpr uint32_t cache4reserveBlocks = 64;

// Settings read at start; they keep their values across start and suspend.
struct Cache4Settings {
  int32_t blockSize = 1024;       // rounded to whole sectors at start
  int32_t bufferSize = 32768;     // rounded to whole blocks at start
  int8_t writeOptimisation = -1;  // given to joining files: -1 by access mode
};

// The two buffers that gather a run of changed data-file blocks. One is
// current and filled by the calling thread; the other may be in transfer.
struct Cache4WriteBuffers {
  struct Context {  // a completion's view of one buffer
    Cache4* cache;
    int index;
    FILE4* file;  // of the run in transfer
  };
  char* area[2] = {nullptr, nullptr};
  Context contexts[2] = {{nullptr, 0, nullptr}, {nullptr, 1, nullptr}};
  std::mutex mutex;  // guards `isFree`
  std::condition_variable freed;
  bool isFree[2] = {true, true};  // no transfer of that buffer outstanding
  // The calling thread's: the buffer being filled and the run it holds.
  int current = 0;
  FILE4* file = nullptr;  // null while the current buffer is empty
  uint64_t start = 0;     // file range [start, end) of the run
  uint64_t end = 0;
  uint32_t blockCount = 0;
};

// Block-sized areas that carry a changed block of a non-data file to the
// write-behind worker, so that the block itself can be reused at once.
struct Cache4Spares {
  struct Spare {  // a completion's view of one spare
    Cache4* cache;
    char* area;
    FILE4* file;  // of the block in transfer
  };
  char* area = nullptr;     // count blocks, one after the other
  Spare* spares = nullptr;  // one per block of `area`
  uint32_t count = 0;
  std::mutex mutex;  // guards `freeList` and `freeCount`
  std::condition_variable returned;
  Spare** freeList = nullptr;  // a stack of the spares not in transfer
  uint32_t freeCount = 0;
};

// One buffer of consecutive blocks read asynchronously ahead of a run of
// multi-block reads. Its bytes are the file's disk bytes, kept current by
// every write that reaches the disk while it holds them.
struct Cache4Ahead {
  char* area = nullptr;  // `capacity` bytes
  uint32_t capacity = 0;
  std::mutex mutex;  // guards the fields below and, while valid, `area`
  std::condition_variable arrived;
  uint32_t state = 1;     // file4aheadEmpty, file4aheadReading, ...Valid or ...Refused
  FILE4* file = nullptr;  // owner while reading, valid or refused
  int32_t error = 0;      // while refused: the disk's answer
  uint64_t offset = 0;    // file offset of the first byte held
  uint32_t head = 0;      // index in `area` of that byte
  uint32_t length = 0;    // bytes held (or asked for while reading)
};

struct Cache4 {
  Cache4Settings settings;

  // Geometry, fixed from start to suspend; bufferCount 0 while not started.
  uint32_t blockSize = 0;
  uint32_t blockShift = 0;
  uint32_t bufferSize = 0;
  uint32_t blocksPerBuffer = 0;
  uint32_t bufferCount = 0;
  uint32_t totalBlocks = 0;
  uint32_t hashMask = 0;    // hash size - 1; the hash size is a power of two
  uint32_t minimumAge = 2;  // a use renews a block's stamp only when older

  uint32_t hashTrail = 0;  // next hash base to hand out, in blocks
  uint32_t readClock = 0;
  uint32_t writeClock = 0;

  char** buffers = nullptr;         // bufferCount areas of bufferSize bytes
  Cache4Block* blocks = nullptr;    // totalBlocks records
  Cache4HashChain* hash = nullptr;  // hashMask + 1 buckets
  Cache4Block** scratch = nullptr;  // totalBlocks entries for sorting a file's blocks
  char* readBuffer = nullptr;       // bufferSize bytes for multi-block reads
  Cache4List lists[cache4listCount];
  Cache4ListChain freeBlocks;
  // Blocks beyond the budget, set aside while the cache is not refusing;
  // `blocks` ends with their records.
  Cache4ListChain reserve;
  uint32_t reserveBlocks = 0;  // cache4reserveBlocks once started
  char* reserveArea = nullptr;

  LIST4 files;  // every file with a cache type, started or not (FILE4::cacheLink)

  Cache4WriteBuffers writes;
  Cache4Spares spares;
  Cache4Ahead ahead;

  // A transfer done by a worker failed; the calling thread raises it at
  // the next flush. Transfers done on the calling thread raise themselves.
  std::atomic<bool> deferredFailure{false};
  // The disk refused a write-out made on the calling thread, and a file
  // may still hold changed blocks (cache4refusing). Until none does, the
  // cache makes no room by writing a changed block out: that would only
  // meet the refusal again, raised, and fail what asked for the room. A
  // read that would reuse a changed block is served by the disk instead,
  // and a write the cache must hold takes a block of the reserve. The
  // calling thread's.
  bool writeOutRefused = false;
  std::thread::id callingThread;

  bool started() const { return bufferCount > 0; }
};

// Switches caching of a file on (1; -1: on unless the file is shared) or
// off (0) with its type (1 data, 2 index, 3 other), the size of its usual
// read and an owner kept for its user. 0, or -930 / -630 at 90072.
int32_t file4cacheSet(FILE4* f, int on, int type, uint32_t expectedReadSize, void* owner);

// Whether the cache may hold the file's writes: -1 by access mode, 0, 1.
// 0, or -930 at 90073.
int32_t file4cacheWriteOpt(FILE4* f, int setting);

// Write buffering follows byte-range locks: on after a lock is taken, off
// before one is released. Switching off publishes the file's held writes:
// they are on disk before the range is released.
int32_t file4cacheWriteSet(FILE4* f, int on);

// Bytes of [offset, +n) read through the cache; fewer at the end of the
// file or on a failure (raised by the file layer).
uint32_t cache4fileRead(FILE4* f, uint64_t offset, void* destination, uint32_t n);

// Bytes of `data` written into the cache at [offset, +n); with
// markChanged the cache holds them until they are written out.
uint32_t cache4fileWrite(FILE4* f, uint64_t offset, uint32_t n, const void* data, int markChanged);

// Writes out the file's changed blocks and, with drop, forgets them all.
int32_t cache4fileFlush(FILE4* f, int drop);

// Writes out every changed block (and with drop forgets every block); the
// last failure, or 0.
int32_t cache4flushAll(CODE4* c, int drop);

// Forgets every block of the file, changed or not, writing none: for a
// file given up as the disk holds it.
void cache4fileForget(FILE4* f);

// Hands the gathered run of data-file blocks to the write-behind worker.
int32_t cache4writeBufferFlush(CODE4* c);

// Forgets what lies at or beyond a new, shorter end of the file; the block
// holding the new end keeps its bytes before it. 0 or -1.
int32_t cache4fileTruncate(FILE4* f, uint64_t newLength, uint64_t oldLength);

// The settings and the (empty) list of joined files of a settings object
// being initialised.
void cache4init(CODE4* c);
