// The block cache's internal operations, shared by its source files and
// the file layer. Everything here runs on the engine's calling thread.
#pragma once

#include <cstdint>

#include "engine/storage/cache4.h"
#include "engine/storage/file4.h"

// --- Recency lists (cache4lists.cpp) ---

// Sets the limits of the five lists from the total block count.
void cache4listsInit(Cache4& k);

// The list that takes a fresh block of a file of type `cacheType`.
Cache4ListKind cache4listFor(uint8_t cacheType);

// Puts a free block at the recent end of a list.
void cache4listAdd(Cache4& k, Cache4Block* b, Cache4ListKind kind);

// Takes a block out of its list, moving the list's cut point back past it.
void cache4listRemove(Cache4& k, Cache4Block* b);

// A use: the block moves to the recent end of its list, its use stamp is
// renewed when it has aged, and it gains the file's read weight.
void cache4use(Cache4& k, Cache4Block* b);

// Stamps a block just assigned with the write clock and a fresh use.
void cache4stampAssigned(Cache4& k, Cache4Block* b);

// The block to reuse next, still in its list or in the free list; null
// when every list is empty.
Cache4Block* cache4victim(Cache4& k);

// Moves a freshly filled block to a priority list when it earns it: a data
// file's first block, a full index block that holds a branch node.
void cache4promote(Cache4& k, Cache4Block* b);

// --- Blocks (cache4block.cpp) ---

Cache4Block* cache4lookup(Cache4& k, const FILE4* f, uint64_t offset);

// What a block is wanted for, which decides how room is made while the
// cache is refusing (cache4refusing).
enum class Cache4Use {
  kRead,       // a copy of the disk's bytes: never bought by a write-out
  kOverwrite,  // a write the cache will hold, over bytes the disk has: the
               // reserve first, then a write-out
  kGrow,       // a write the cache will hold, past the disk's end: a
               // write-out, which meets the refusal unless there is room
               // again; never the reserve
};

// A block for `f` at `offset`, keyed, hashed and at the recent end of the
// list of the file's type, holding no bytes yet (validLength 0). Null, with
// the error raised, when no block can be freed. While the cache is
// refusing, a changed block is written out to make room only as `use`
// allows; a read gets null with nothing raised.
Cache4Block* cache4assign(CODE4* c, FILE4* f, uint64_t offset, Cache4Use use);

// Whether the disk has refused a write-out (Cache4::writeOutRefused) and a
// file still holds a changed block. Once none does, the mark goes and the
// reserve is set aside again. Blocks become changed only by a write, which
// asks first: the mark never outlives the blocks it was set for.
bool cache4refusing(Cache4& k);

// Returns a block to the free list without writing it: at the front (reused
// first) or the back.
void cache4forget(Cache4& k, Cache4Block* b, bool front);

// A block starts or stops holding bytes the disk has not been given: it
// joins or leaves its file's changed blocks (a data file's kept in offset
// order; its appends join at the back).
void cache4markChanged(Cache4Block* b);
void cache4markClean(Cache4Block* b);

// Fills a block from the shared read-ahead buffer or the disk (see
// cache4readDisk) and sets its valid length. 0, or -1 after a failure.
int32_t cache4fill(CODE4* c, Cache4Block* b);

// Reads [offset, +n) of `f` as the disk will hold it once everything
// handed to it has landed: from the shared read-ahead buffer when it holds
// the whole range, else from the disk after handing over a gathered run
// that overlaps it. With a known length, the bytes up to it that the disk
// does not have yet read as zeros and nothing is read beyond it. The count
// of valid bytes, or -1 after a failure: a failed hand-over or length
// query is raised; a failed read is not, its caller reports it as it
// reports a short read.
int64_t cache4readDisk(CODE4* c, FILE4* f, uint64_t offset, char* destination, uint32_t n);

// Forgets every block of a file, changed or not, without writing any.
void cache4forgetFile(Cache4& k, FILE4* f);

// Forgets the unchanged blocks of a file that overlap [offset, +n).
void cache4forgetRange(FILE4* f, uint64_t offset, uint64_t n);

// Hands a changed block to the disk: data-file blocks through the write
// buffer, others directly or, when `releasing`, through a spare copy. 0 or
// negative; the block stays changed after a failure.
//
// A data file's blocks reach the disk in offset order, its first block
// (holding the record count) last: a block being released takes every
// changed block before it along, so that a refused write never leaves a
// later block on the disk beyond a hole, nor a count covering records the
// disk does not hold.
int32_t cache4writeOut(CODE4* c, Cache4Block* b, bool releasing);

// The bytes of a data file's first block that hold its header's record
// count, and more: written last, after the records.
inline constexpr uint32_t cache4dataHeaderSize = 32;

// Hands the disk a data file's changed blocks that lie before `end`, in
// offset order and in runs, the first refused ending it with the rest still
// changed. The first block holds the file's header (the record count in its
// first 32 bytes) and the start of its first records: while it is changed,
// the bytes past the header go first (with write-behind, only when `end`
// takes in every block, as before the header), and the header itself stays
// for the caller to write last. 0 or negative.
int32_t cache4writeRecordsBefore(CODE4* c, FILE4* f, uint64_t end);

// The length of the file as the disk will have it once its queued writes
// have landed; UINT64_MAX after a failure (raised).
uint64_t cache4diskLength(FILE4* f);

// The file's length as the cache sees it when it keeps one (write
// buffering on), established from the disk on first need; else UINT64_MAX.
uint64_t cache4knownLength(FILE4* f);

// --- Write-outs (cache4write.cpp) ---

// Writes bytes of the cache to the disk, never through the cache. With a
// completion, the write is queued for the write-behind worker when it runs
// (the bytes must stay put until the completion); otherwise it is done at
// once and the completion, if any, called. 0 or the write's failure.
int32_t cache4writeDisk(FILE4* f, uint64_t offset, const char* data, uint32_t n,
                        File4Completion completion, void* completionData);

// Appends a changed data-file block to the current write buffer, handing
// the buffer over first when the block does not continue its run.
int32_t cache4gather(CODE4* c, Cache4Block* b);

// True when the gathered run belongs to `f` and overlaps [offset, +n).
bool cache4gatheredOverlaps(const Cache4& k, const FILE4* f, uint64_t offset, uint64_t n);

// Without write-behind: writes a changed block and the changed blocks that
// follow it in its file, whole blocks up to the last, as one run through
// the current write buffer (which must hold no gathered run). Each is
// marked unchanged only once the disk has taken the run; after a failure
// every one of them stays changed.
int32_t cache4writeRun(CODE4* c, Cache4Block* b);

// Sends a changed block through a spare copy, waiting for one to be free.
int32_t cache4writeSpare(CODE4* c, Cache4Block* b);

// Waits until both write buffers and every spare copy are back.
void cache4awaitTransfers(Cache4& k);

// Lands the file's write-outs: its gathered run handed over, its queued
// writes done, and every transfer of the cache back. -1 (raised) when one
// of them failed, also on a worker since the last flush, or when the file
// lost a write-out before (FILE4::writeOutLost); else 0.
int32_t cache4landWriteOuts(CODE4* c, FILE4* f);

// --- Shared read-ahead buffer (cache4ahead.cpp) ---

// Copies [offset, +n) of `f` from the buffer when it holds all of it,
// waiting for a read in flight; a block taken from the buffer's head
// leaves it. When the read that was to bring the range was refused, the
// buffer empties and the failure is noted (file4readFailed) for the caller
// to fail with.
File4Ahead cache4aheadTake(Cache4& k, FILE4* f, uint64_t offset, char* destination, uint32_t n);

// Queues an asynchronous read of one buffer of `f` from `offset` when the
// buffer is free and the read-ahead worker runs.
void cache4aheadStart(CODE4* c, FILE4* f, uint64_t offset);

// Lays bytes just written to (or read from) the disk over what the buffer
// holds of `f`, waiting first for a read in flight.
void cache4aheadWriteOver(Cache4& k, const FILE4* f, uint64_t offset, uint32_t n,
                          const void* bytes);

// Empties the buffer when it belongs to `f`. The caller has cancelled the
// file's queued reads and waited for one in flight.
void cache4aheadForget(Cache4& k, const FILE4* f);

// Empties the buffer when it belongs to `f` (null: whatever file owns it),
// after its read in flight, if any, has landed. Other reads of the file are
// left alone.
void cache4aheadSettle(Cache4& k, const FILE4* f);

// --- Files (cache4file.cpp) ---

// Gives a joined file a hash base and starts serving it; false when it is
// left out (beyond 4 GiB).
bool cache4serve(CODE4* c, FILE4* f);

// Stops serving a file: its write buffering goes and its known length is
// forgotten. Its blocks must be gone already.
void cache4unserve(FILE4* f);

// --- Memory (cache4memory.cpp) ---

// Allocates the cache for `count` buffers: the number of buffers obtained,
// or -920 (not raised) when the fixed parts could not be had.
int32_t cache4allocate(CODE4* c, uint32_t blockSize, uint32_t bufferSize, uint32_t count);

// Frees what cache4allocate took, after every transfer is back.
void cache4free(CODE4* c);
