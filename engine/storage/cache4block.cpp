// Blocks: lookup by file and offset, assignment of a block to a file,
// filling a block from the disk and handing a changed block back to it.
#include <algorithm>
#include <cstring>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4queue.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocNoVictim = 90212;
constexpr int32_t kLocLength = 90061;

// A file's hash base spreads its blocks away from those of other files;
// the bucket is a shift and a mask.
Cache4HashChain& bucketOf(Cache4& k, const FILE4* f, uint64_t offset) {
  const uint64_t slot = (uint64_t{f->hashBase} + offset) >> k.blockShift;
  return k.hash[slot & k.hashMask];
}

// Takes an assigned block out of its bucket, its file's blocks and its
// recency list.
void unhook(Cache4& k, Cache4Block* b) {
  cache4markClean(b);
  bucketOf(k, b->file, b->offset).remove(b);
  b->file->cacheBlocks.remove(b);
  cache4listRemove(k, b);
  b->file = nullptr;
  b->validLength = 0;
}

bool anyFileChanged(Cache4& k) {
  for (LINK4* link = list4first(&k.files); link != nullptr; link = list4next(&k.files, link)) {
    if (!file4ofCacheLink(link)->changedBlocks.empty()) return true;
  }
  return false;
}

// Takes a block to reuse out of the free list or its recency list.
void release(Cache4& k, Cache4Block* b) {
  if (b->list == nullptr) {
    k.freeBlocks.remove(b);
  } else {
    unhook(k, b);
  }
}

// The first changed block of a data file past its first block: the next
// one due on the disk.
Cache4Block* firstDueRecordBlock(const FILE4* f) {
  Cache4Block* b = f->changedBlocks.first();
  if (b != nullptr && b->offset == 0) b = Cache4ChangedBlocks::next(b);
  return b;
}

// The file a data file's records point into (its memo file) reaches the
// disk, synced, before any of them: a record must never name a memo block
// that a power cut can lose.
int32_t writeDependencyFirst(FILE4* f) {
  FILE4* first = f->writtenFirst;
  if (first == nullptr || (first->changedBlocks.first() == nullptr && !first->unsynced)) return 0;
  return file4flush(first);
}

// Hands one changed data-file block (and, written by the calling thread,
// the changed blocks that follow it) to the disk.
int32_t writeRecordBlocks(CODE4* c, Cache4Block* b) {
  Cache4& k = c->cache;
  FILE4* f = b->file;
  if (const int32_t rc = writeDependencyFirst(f); rc < 0) return rc;
  const bool behind = c->bufferingWriteBehind != 0;
  if (!behind && b->offset > 0 && k.writes.file == nullptr) return cache4writeRun(c, b);
  // The shared read-ahead buffer may hold this range as the disk had it.
  cache4aheadWriteOver(k, f, b->offset, b->validLength, b->data);
  int32_t rc;
  if (behind) {
    rc = cache4gather(c, b);
  } else {
    rc = 0;
    if (cache4gatheredOverlaps(k, f, b->offset, b->validLength)) rc = cache4writeBufferFlush(c);
    if (rc == 0) rc = cache4writeDisk(f, b->offset, b->data, b->validLength, nullptr, nullptr);
  }
  if (rc == 0) cache4markClean(b);
  return rc;
}

// The first block's records, while the block is changed: the bytes past
// its header go now, before the blocks after them; the header goes last.
// With write-behind, only once the header is due (`headerDue`): the worker
// keeps no order after a refused write in any case, so only the sync before
// the header orders the records, and the header must not share a write
// with records it counts, which a torn write could keep without them.
int32_t writeFirstRecords(CODE4* c, FILE4* f, bool headerDue) {
  Cache4& k = c->cache;
  if (c->bufferingWriteBehind != 0 && !headerDue) return 0;
  Cache4Block* b = f->changedBlocks.first();
  if (b == nullptr || b->offset != 0 || b->firstRecordsOut ||
      b->validLength <= cache4dataHeaderSize)
    return 0;
  if (const int32_t rc = writeDependencyFirst(f); rc < 0) return rc;
  const uint32_t n = b->validLength - cache4dataHeaderSize;
  cache4aheadWriteOver(k, f, cache4dataHeaderSize, n, b->data + cache4dataHeaderSize);
  const int32_t rc =
      cache4writeDisk(f, cache4dataHeaderSize, b->data + cache4dataHeaderSize, n, nullptr, nullptr);
  if (rc == 0) b->firstRecordsOut = true;
  return rc;
}

// Releasing a data-file block: the changed blocks before it leave first.
int32_t releaseRecordBlock(CODE4* c, Cache4Block* b) {
  // The first block holds the record count: the records it counts leave
  // before it does.
  if (b->offset == 0) return cache4fileFlush(b->file, 0);
  return cache4writeRecordsBefore(c, b->file, b->offset + 1);
}

}  // namespace

Cache4Block* cache4lookup(Cache4& k, const FILE4* f, uint64_t offset) {
  if (!f->cached) return nullptr;
  const Cache4HashChain& bucket = bucketOf(k, f, offset);
  for (Cache4Block* b = bucket.first(); b != nullptr; b = Cache4HashChain::next(b)) {
    if (b->file == f && b->offset == offset) return b;
  }
  return nullptr;
}

Cache4Block* cache4assign(CODE4* c, FILE4* f, uint64_t offset, Cache4Use use) {
  Cache4& k = c->cache;
  Cache4Block* b = cache4victim(k);
  if (b == nullptr) {
    error4(c, e4object, kLocNoVictim);
    return nullptr;
  }
  const bool refusing = b->changed && cache4refusing(k);
  if (refusing && use == Cache4Use::kRead) return nullptr;
  if (refusing && use == Cache4Use::kOverwrite && !k.reserve.empty()) {
    b = k.reserve.first();
    k.reserve.remove(b);
  } else {
    // A changed block that cannot be written keeps its place and its bytes.
    if (b->changed && cache4writeOut(c, b, true) < 0) return nullptr;
    release(k, b);
  }
  b->file = f;
  b->offset = offset;
  b->firstRecordsOut = true;  // it holds nothing the disk lacks yet
  b->headerChanged = false;
  bucketOf(k, f, offset).pushBack(b);
  f->cacheBlocks.pushBack(b);
  cache4listAdd(k, b, cache4listFor(f->cacheType));
  cache4stampAssigned(k, b);
  return b;
}

bool cache4refusing(Cache4& k) {
  if (!k.writeOutRefused) return false;
  if (anyFileChanged(k)) return true;
  k.writeOutRefused = false;
  // No block holds changes: any of them may be set aside.
  while (k.reserve.size() < k.reserveBlocks) {
    Cache4Block* b = cache4victim(k);
    if (b == nullptr) break;
    release(k, b);
    k.reserve.pushBack(b);
  }
  return false;
}

void cache4forget(Cache4& k, Cache4Block* b, bool front) {
  unhook(k, b);
  if (front) {
    k.freeBlocks.pushFront(b);
  } else {
    k.freeBlocks.pushBack(b);
  }
}

int32_t cache4fill(CODE4* c, Cache4Block* b) {
  const int64_t got = cache4readDisk(c, b->file, b->offset, b->data, c->cache.blockSize);
  if (got < 0) return -1;
  b->validLength = static_cast<uint32_t>(got);
  return 0;
}

int64_t cache4readDisk(CODE4* c, FILE4* f, uint64_t offset, char* destination, uint32_t n) {
  Cache4& k = c->cache;
  const File4Ahead ahead = cache4aheadTake(k, f, offset, destination, n);
  if (ahead == File4Ahead::kTaken) return n;
  if (ahead == File4Ahead::kRefused) return -1;
  // Bytes gathered for writing and no longer in any block are not on the
  // disk yet: once handed over they are, for a reader, as good as there.
  if (cache4gatheredOverlaps(k, f, offset, n) && cache4writeBufferFlush(c) < 0) return -1;
  uint32_t wanted = n;
  const uint64_t known = cache4knownLength(f);
  if (known != UINT64_MAX)
    wanted = known <= offset ? 0 : static_cast<uint32_t>(std::min<uint64_t>(n, known - offset));
  const uint32_t failures = f->readFailures;
  const uint32_t got = wanted == 0 ? 0 : file4readInternal(f, offset, destination, wanted);
  // A read the disk refused is no end of the file: a block filled from it
  // would hold zeros for the file's bytes.
  if (got < wanted && f->readFailures != failures) return -1;
  if (known == UINT64_MAX || got == wanted) return got;
  // Below the known length and beyond the disk's end lies a gap that the
  // file gained by a held write further on: it reads as zeros. A read that
  // stopped short of the disk's end failed instead.
  const uint64_t disk = cache4diskLength(f);
  if (disk == UINT64_MAX || offset + got < disk) return -1;
  std::memset(destination + got, 0, wanted - got);
  return wanted;
}

int32_t cache4writeRecordsBefore(CODE4* c, FILE4* f, uint64_t end) {
  // The first block's records go first, also when no block after it is
  // due: the header that counts them is then written alone.
  if (const int32_t rc = writeFirstRecords(c, f, end == UINT64_MAX); rc < 0) return rc;
  for (Cache4Block* due = firstDueRecordBlock(f); due != nullptr && due->offset < end;
       due = firstDueRecordBlock(f)) {
    if (const int32_t rc = writeRecordBlocks(c, due); rc < 0) return rc;
    if (due->changed) return -1;  // nothing left the cache: never loop
  }
  return 0;
}

void cache4markChanged(Cache4Block* b) {
  if (b->changed) return;
  b->changed = true;
  Cache4ChangedBlocks& changed = b->file->changedBlocks;
  if (b->file->cacheType != file4cacheData) {
    changed.pushBack(b);
    return;
  }
  Cache4Block* before = changed.last();
  while (before != nullptr && before->offset > b->offset)
    before = Cache4ChangedBlocks::prev(before);
  changed.insertAfter(before, b);
}

void cache4markClean(Cache4Block* b) {
  b->firstRecordsOut = true;
  b->headerChanged = false;
  if (!b->changed) return;
  b->changed = false;
  b->file->changedBlocks.remove(b);
}

int32_t cache4writeOut(CODE4* c, Cache4Block* b, bool releasing) {
  if (!b->changed) return 0;
  Cache4& k = c->cache;
  FILE4* f = b->file;
  if (b->validLength == 0) {
    cache4markClean(b);
    return 0;
  }
  // Without write-behind every block is written here and now, and one the
  // disk refuses stays changed: its bytes are still the cache's to write.
  if (f->cacheType == file4cacheData)
    return releasing ? releaseRecordBlock(c, b) : writeRecordBlocks(c, b);
  // The shared read-ahead buffer may hold this range as the disk had it.
  cache4aheadWriteOver(k, f, b->offset, b->validLength, b->data);
  int32_t rc = 0;
  if (cache4gatheredOverlaps(k, f, b->offset, b->validLength)) rc = cache4writeBufferFlush(c);
  if (rc == 0) {
    // A spare's bytes are no longer the block's: only a worker takes one,
    // and the block is free once it is handed over.
    const bool behind = c->bufferingWriteBehind != 0 && c->writeBehind.running();
    rc = releasing && behind && k.spares.count > 0
             ? cache4writeSpare(c, b)
             : cache4writeDisk(f, b->offset, b->data, b->validLength, nullptr, nullptr);
  }
  if (rc == 0) cache4markClean(b);
  return rc;
}

uint64_t cache4diskLength(FILE4* f) {
  uint64_t length = 0;
  if (platform::os().fileSize(f->handle, length) != 0) {
    error4describe(f->codeBase, e4len, kLocLength, f->name, nullptr, nullptr);
    return UINT64_MAX;
  }
  return std::max(length, file4pendingWritesEnd(f));
}

uint64_t cache4knownLength(FILE4* f) {
  if (!f->bufferWrites || !f->cached) return UINT64_MAX;
  if (f->knownLength == UINT64_MAX) f->knownLength = cache4diskLength(f);
  return f->knownLength;
}
