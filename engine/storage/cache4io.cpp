// Reading, writing, truncating and flushing through the cache.
//
// What a file holds, as the cache serves it: the disk's bytes (with the
// writes queued for it) overlaid by the changed blocks. A block's valid
// length ends where the file ended when the block was last filled or
// written; the file may have grown since through a write further on or a
// new length. Such a short block is brought up to date the first time a
// read or write needs what lies past it: an unchanged block is filled
// again, and a changed one (whose bytes are the newest) is extended with
// zeros up to the known length, the only bytes the file can have gained
// there.
#include <algorithm>
#include <cstring>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/file4queue.h"

namespace {

uint64_t blockStart(const Cache4& k, uint64_t offset) {
  return offset & ~(uint64_t{k.blockSize} - 1);
}

int32_t catchUp(CODE4* c, Cache4Block* b) {
  Cache4& k = c->cache;
  if (!b->changed) return cache4fill(c, b);
  const uint64_t known = cache4knownLength(b->file);
  if (known == UINT64_MAX || known <= b->offset + b->validLength) return 0;
  const uint32_t grown = static_cast<uint32_t>(std::min<uint64_t>(k.blockSize, known - b->offset));
  std::memset(b->data + b->validLength, 0, grown - b->validLength);
  b->validLength = grown;
  return 0;
}

// Stores a block read elsewhere as a new block of the file; false when no
// block could be had.
bool storeNew(CODE4* c, FILE4* f, uint64_t offset, const char* bytes, uint32_t n) {
  Cache4& k = c->cache;
  Cache4Block* b = cache4assign(c, f, offset, Cache4Use::kRead);
  if (b == nullptr) return false;
  std::memcpy(b->data, bytes, n);
  b->validLength = n;
  cache4promote(k, b);
  return true;
}

// Moves a valid shared read-ahead buffer of the file into the cache, block
// by block from its head; blocks cached meanwhile keep their bytes.
void drainAhead(CODE4* c, FILE4* f) {
  Cache4& k = c->cache;
  for (;;) {
    uint64_t head;
    {
      std::lock_guard guard(k.ahead.mutex);
      if (k.ahead.file != f || k.ahead.state != file4aheadValid) return;
      head = k.ahead.offset;
    }
    // The read-ahead buffer is free for a moment: it holds the block on its
    // way into the cache.
    if (cache4aheadTake(k, f, head, k.readBuffer, k.blockSize) != File4Ahead::kTaken) return;
    if (cache4lookup(k, f, head) == nullptr && !storeNew(c, f, head, k.readBuffer, k.blockSize))
      return;
  }
}

// Reads up to one buffer of consecutive blocks from `offset` with one
// transfer and stores them; the run stops before the first block already
// cached, whose bytes may be newer than the disk's. A run that fills the
// whole buffer is followed by an asynchronous read of the next buffer.
void multiBlockRead(CODE4* c, FILE4* f, uint64_t offset) {
  Cache4& k = c->cache;
  drainAhead(c, f);
  if (cache4lookup(k, f, offset) != nullptr) return;
  uint32_t count = 1;
  while (count < k.blocksPerBuffer &&
         cache4lookup(k, f, offset + uint64_t{count} * k.blockSize) == nullptr)
    count++;
  const int64_t got = cache4readDisk(c, f, offset, k.readBuffer, count * k.blockSize);
  if (got <= 0) return;
  for (uint32_t i = 0; i < count && uint64_t{i} * k.blockSize < static_cast<uint64_t>(got); i++) {
    const uint32_t at = i * k.blockSize;
    const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(k.blockSize, got - at));
    if (!storeNew(c, f, offset + at, k.readBuffer + at, n)) return;
  }
  if (count == k.blocksPerBuffer && got == int64_t{count} * k.blockSize)
    cache4aheadStart(c, f, offset + got);
}

// The absent block at `offset`, read from the disk; null at the end of the
// file, after a failure, or with `noRoom` set when no block could be had.
Cache4Block* readAbsent(CODE4* c, FILE4* f, uint64_t offset, uint64_t lastBlock, bool& noRoom) {
  Cache4& k = c->cache;
  // A data file read that spans blocks goes on forwards: read ahead.
  if (f->cacheType == file4cacheData && offset < lastBlock &&
      cache4lookup(k, f, offset + k.blockSize) == nullptr) {
    const uint32_t failures = f->readFailures;
    multiBlockRead(c, f, offset);
    if (Cache4Block* b = cache4lookup(k, f, offset)) return b;
    // A read the disk refused is the read's failure, not tried again block
    // by block: a block read then would hide it.
    if (f->readFailures != failures) return nullptr;
  }
  Cache4Block* b = cache4assign(c, f, offset, Cache4Use::kRead);
  noRoom = b == nullptr;
  if (b == nullptr) return nullptr;
  if (cache4fill(c, b) < 0 || b->validLength == 0) {
    cache4forget(k, b, true);  // nothing there: no block of it is kept
    return nullptr;
  }
  cache4promote(k, b);
  return b;
}

bool readsAround(const CODE4* c, const FILE4* f) {
  return c->bufferingReadsAround != 0 && f->cacheType == file4cacheData;
}

// The bytes from `position` on, up to `n`, that lie in blocks the cache
// does not hold.
uint32_t absentRun(Cache4& k, FILE4* f, uint64_t position, uint32_t n) {
  uint32_t run =
      std::min(n, static_cast<uint32_t>(blockStart(k, position) + k.blockSize - position));
  while (run < n && cache4lookup(k, f, position + run) == nullptr)
    run += std::min(n - run, k.blockSize);
  return run;
}

// Reads from the disk what no cached block holds, keeping nothing. Writes
// gathered for the disk over the range go first. The number of bytes read.
uint32_t readAround(CODE4* c, FILE4* f, uint64_t position, char* out, uint32_t n) {
  if (cache4gatheredOverlaps(c->cache, f, position, n) && cache4writeBufferFlush(c) < 0) return 0;
  return file4readInternal(f, position, out, n);
}

bool byOffset(const Cache4Block* a, const Cache4Block* b) { return a->offset < b->offset; }

// Makes the records a data file's header is about to count durable. Under
// write-behind they may still wait in the gathered run or on the worker:
// they are handed over and landed first, and a write-out the worker failed
// keeps the header back, since the disk may lack the records it counts.
int32_t syncRecords(CODE4* c, FILE4* f) {
  if (cache4landWriteOuts(c, f) < 0) return -1;
  return file4flushOs(f);
}

// A data file's changed blocks, which its list keeps in offset order, in
// runs; the first block's header, holding the record count, last, so that
// the disk never counts records it does not hold yet. The records are
// synced before it: write-back keeps no order, and a power cut that kept
// the count without them would leave a table that counts records it lost.
int32_t writeRecordBlocksOut(CODE4* c, FILE4* f) {
  if (cache4writeRecordsBefore(c, f, UINT64_MAX) < 0) return -1;
  Cache4Block* header = f->changedBlocks.first();
  if (header == nullptr) return 0;
  if (header->offset == 0) {
    // Only records of the first block changed: they are out already.
    if (!header->headerChanged && header->firstRecordsOut) {
      cache4markClean(header);
      return 0;
    }
    if (syncRecords(c, f) < 0) return -1;
  }
  return cache4writeOut(c, header, false);
}

// Another file's changed blocks, in offset order; written by the calling
// thread, neighbours leave together as one write. Only the changed blocks
// are visited: a flush costs what changed, not what the cache holds.
int32_t writeBlocksOut(CODE4* c, FILE4* f) {
  Cache4& k = c->cache;
  uint32_t count = 0;
  for (Cache4Block* b = f->changedBlocks.first(); b != nullptr; b = Cache4ChangedBlocks::next(b))
    k.scratch[count++] = b;
  std::sort(k.scratch, k.scratch + count, byOffset);
  const bool inRuns = c->bufferingWriteBehind == 0;
  for (uint32_t i = 0; i < count; i++) {
    Cache4Block* b = k.scratch[i];
    if (!b->changed) continue;  // left with the run before it
    const int32_t rc = inRuns && k.writes.file == nullptr && b->validLength > 0
                           ? cache4writeRun(c, b)
                           : cache4writeOut(c, b, false);
    if (rc < 0) return -1;
  }
  return 0;
}

}  // namespace

uint32_t cache4fileRead(FILE4* f, uint64_t offset, void* destination, uint32_t n) {
  CODE4* c = f->codeBase;
  Cache4& k = c->cache;
  auto* out = static_cast<char*>(destination);
  if (n == 0) return 0;
  const uint64_t lastBlock = blockStart(k, offset + n - 1);
  uint32_t done = 0;
  while (done < n) {
    const uint64_t position = offset + done;
    const uint64_t start = blockStart(k, position);
    const uint32_t within = static_cast<uint32_t>(position - start);
    const uint32_t wanted = std::min(n - done, k.blockSize - within);
    Cache4Block* b = cache4lookup(k, f, start);
    if (b == nullptr && readsAround(c, f)) {
      const uint32_t run = absentRun(k, f, position, n - done);
      const uint32_t got = readAround(c, f, position, out + done, run);
      done += got;
      if (got < run) break;  // the end of the file, or a failure
      continue;
    }
    if (b == nullptr) {
      bool noRoom = false;
      b = readAbsent(c, f, start, lastBlock, noRoom);
      if (b == nullptr && noRoom) {
        // Not cached, the block's bytes are the disk's: it serves them.
        const int64_t got = cache4readDisk(c, f, position, out + done, wanted);
        if (got > 0) done += static_cast<uint32_t>(got);
        if (got < wanted) break;  // the end of the file, or a failure
        continue;
      }
      if (b == nullptr) break;
    } else if (b->validLength < within + wanted && catchUp(c, b) < 0) {
      break;
    }
    cache4use(k, b);
    const uint32_t got = b->validLength > within ? std::min(wanted, b->validLength - within) : 0;
    std::memcpy(out + done, b->data + within, got);
    done += got;
    if (got < wanted) break;  // the end of the file
  }
  return done;
}

uint32_t cache4fileWrite(FILE4* f, uint64_t offset, uint32_t n, const void* data, int markChanged) {
  CODE4* c = f->codeBase;
  Cache4& k = c->cache;
  const auto* in = static_cast<const char*>(data);
  // A refusal whose changed blocks have all reached the disk since ends
  // before this write makes new ones. While the disk refuses, only bytes it
  // holds already may take a block of the reserve: writing over them needs
  // no room, as on a full disk, while a write that grows a file must find
  // room on the disk, and would otherwise spend the reserve that keeps the
  // catalogue readable (the changed record a read puts back, a header, a
  // node).
  const uint64_t diskEnd = cache4refusing(k) ? cache4diskLength(f) : UINT64_MAX;
  if (markChanged && f->readAheadUsed) file4advanceReadWriteOver(f, offset, n, data, 1);
  const uint64_t known = cache4knownLength(f);
  uint32_t done = 0;
  while (done < n) {
    const uint64_t position = offset + done;
    const uint64_t start = blockStart(k, position);
    const uint32_t within = static_cast<uint32_t>(position - start);
    const uint32_t size = std::min(n - done, k.blockSize - within);
    Cache4Block* b = cache4lookup(k, f, start);
    const bool fresh = b == nullptr;
    if (fresh) {
      const Cache4Use use = !markChanged                 ? Cache4Use::kRead
                            : position + size <= diskEnd ? Cache4Use::kOverwrite
                                                         : Cache4Use::kGrow;
      b = cache4assign(c, f, start, use);
      // Bytes on their way to the disk need no copy here.
      if (b == nullptr && !markChanged) {
        done += size;
        continue;
      }
      if (b == nullptr) break;
      // The bytes around a partial write are the file's.
      if ((within > 0 || size < k.blockSize) && cache4fill(c, b) < 0) {
        cache4forget(k, b, true);
        break;
      }
    } else if (b->validLength < within && catchUp(c, b) < 0) {
      break;
    }
    if (within > b->validLength) std::memset(b->data + b->validLength, 0, within - b->validLength);
    std::memcpy(b->data + within, in + done, size);
    // Only a change past a data file's header is a change of its records.
    if (start != 0 || within + size > cache4dataHeaderSize) b->firstRecordsOut = false;
    if (start == 0 && within < cache4dataHeaderSize) b->headerChanged = true;
    b->validLength = std::max(b->validLength, within + size);
    if (markChanged) cache4markChanged(b);
    if (fresh) cache4promote(k, b);
    cache4use(k, b);
    done += size;
  }
  if (known != UINT64_MAX && offset + done > known) f->knownLength = offset + done;
  return done;
}

int32_t cache4fileFlush(FILE4* f, int drop) {
  if (f == nullptr || !f->cached) return 0;
  CODE4* c = f->codeBase;
  Cache4& k = c->cache;
  // The first block the disk refuses ends the pass: the rest stay changed
  // for the next flush, and a full disk is reported once, not once a block.
  int32_t rc = f->cacheType == file4cacheData ? writeRecordBlocksOut(c, f) : writeBlocksOut(c, f);
  // A write-out refused on the way, here or earlier, is this flush's
  // failure: it waits for every one to land.
  if (cache4landWriteOuts(c, f) < 0) rc = -1;
  // A block that could not be written keeps its bytes.
  if (drop) {
    Cache4Block* b = f->cacheBlocks.first();
    while (b != nullptr) {
      Cache4Block* next = Cache4FileBlocks::next(b);
      if (!b->changed) cache4forget(k, b, false);
      b = next;
    }
  }
  return rc;
}

int32_t cache4flushAll(CODE4* c, int drop) {
  if (c == nullptr || !c->cache.started()) return 0;
  int32_t rc = 0;
  for (LINK4* link = list4first(&c->cache.files); link != nullptr;
       link = list4next(&c->cache.files, link)) {
    FILE4* f = file4ofCacheLink(link);
    if (f->cached && file4flushBlocks(f, drop) < 0) rc = -1;
  }
  if (cache4writeBufferFlush(c) < 0) rc = -1;
  return rc;
}

int32_t cache4fileTruncate(FILE4* f, uint64_t newLength, uint64_t /*oldLength*/) {
  if (f == nullptr || !f->cached) return 0;
  CODE4* c = f->codeBase;
  Cache4& k = c->cache;
  // Quiesce: the gathered run goes to the queue, where the new length cuts
  // it, and the read-ahead buffer forgets the file.
  int32_t rc = 0;
  if (k.writes.file == f && cache4writeBufferFlush(c) < 0) rc = -1;
  cache4aheadSettle(k, f);
  Cache4Block* b = f->cacheBlocks.first();
  while (b != nullptr) {
    Cache4Block* next = Cache4FileBlocks::next(b);
    if (b->offset >= newLength) {
      cache4forget(k, b, true);
    } else if (b->offset + b->validLength > newLength) {
      b->validLength = static_cast<uint32_t>(newLength - b->offset);
    }
    b = next;
  }
  return rc;
}

void cache4fileForget(FILE4* f) {
  if (f != nullptr && f->cached) cache4forgetFile(f->codeBase->cache, f);
}

void cache4forgetFile(Cache4& k, FILE4* f) {
  while (Cache4Block* b = f->cacheBlocks.first()) cache4forget(k, b, false);
}

void cache4forgetRange(FILE4* f, uint64_t offset, uint64_t n) {
  Cache4& k = f->codeBase->cache;
  Cache4Block* b = f->cacheBlocks.first();
  while (b != nullptr) {
    Cache4Block* next = Cache4FileBlocks::next(b);
    if (!b->changed && b->offset < offset + n && offset < b->offset + k.blockSize)
      cache4forget(k, b, true);
    b = next;
  }
}
