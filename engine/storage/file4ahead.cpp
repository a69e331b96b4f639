// A file's own read-ahead buffer: one block of the block cache, read by the
// read-ahead worker before the cache needs it, so that the next node of an
// index walk is on its way while the caller works through the current one.
// The cache fills a block through file4readInternal, which takes it from
// here when the buffer holds it.
//
// States (readAheadState): empty -> reading (the worker fills the area,
// which is then the worker's) -> valid (the area holds [readAheadOffset,
// +readAheadLength) as a read of the file would have returned it then,
// queued writes included) -> empty again when a newer block is read ahead,
// or when the file is truncated, refreshed, leaves the cache or closes. A
// read that comes back short (the end of the file) arrives empty; one the
// disk refused arrives refused, and the read that comes for its block
// fails with it, once.
//
// Its bytes stay what a read of the file returns: a write laid over a valid
// buffer copies the bytes it overlaps into it; a read in flight that a
// write overlaps (or that a truncation or refresh makes doubtful) is marked
// stale and arrives empty. Only one read is in flight per file: the buffer
// never changes hands while the worker fills it.
//
// Reading ahead pays only where the disk is slow and the caller has work
// to do meanwhile. A block the kernel's page cache holds is read at once,
// on the calling thread, without the worker: the later read of it would
// cost as much. A block the caller comes to before the worker has started
// on it is read by the caller itself, and the next few blocks (1, 2, 4,
// ... up to kBackoffMax) are not read ahead; a block the worker did read
// ends the backing off.
#include <algorithm>
#include <cstring>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4queue.h"
#include "engine/storage/memory4.h"
#include "engine/storage/request4.h"

namespace {

constexpr uint64_t k4GiB = 1ull << 32;
constexpr uint32_t kBackoffMax = 64;

bool holds(const FILE4* f, uint64_t offset, uint64_t n) {
  return offset >= f->readAheadOffset &&
         offset + n <= uint64_t{f->readAheadOffset} + f->readAheadLength;
}

bool overlaps(const FILE4* f, uint64_t offset, uint64_t n) {
  return offset < uint64_t{f->readAheadOffset} + f->readAheadLength &&
         f->readAheadOffset < offset + n;
}

// The read's completion: on the read-ahead worker inside its queue's
// section, or on the calling thread when a write finishes the read. It
// takes only the buffer's mutex.
void blockArrived(void* data, int32_t result) {
  auto* f = static_cast<FILE4*>(data);
  std::lock_guard guard(f->aheadMutex);
  if (f->readAheadState == file4aheadReading) {
    const bool whole =
        !f->readAheadStale && result >= 0 && static_cast<uint32_t>(result) == f->readAheadLength;
    const int32_t refused = f->readAheadStale ? 0 : request4refusedErrno(result);
    f->readAheadState = whole          ? file4aheadValid
                        : refused != 0 ? file4aheadRefused
                                       : file4aheadEmpty;
    f->readAheadErrno = refused;
    f->readAheadStale = false;
  }
  f->aheadArrived.notify_all();
}

}  // namespace

void file4advanceReadBlock(FILE4* f, uint64_t offset, uint32_t length) {
  CODE4* c = f->codeBase;
  if (c == nullptr || !f->cached || !f->onDisk || f->isLong || !c->readAhead.running()) return;
  if (f->readAheadPass > 0) {
    f->readAheadPass--;
    return;
  }
  Cache4& k = c->cache;
  const uint64_t start = offset & ~(uint64_t{k.blockSize} - 1);
  if (length == 0 || offset + length > start + k.blockSize || start + k.blockSize >= k4GiB) return;
  // A block the cache holds, or whose newest bytes are still gathered for
  // the disk, is read from there.
  if (cache4lookup(k, f, start) != nullptr || cache4gatheredOverlaps(k, f, start, k.blockSize))
    return;
  {
    std::lock_guard guard(f->aheadMutex);
    if (f->readAheadState == file4aheadReading) return;  // one read in flight at a time
    // A refusal of this very block waits for the read that needs it.
    if ((f->readAheadState == file4aheadValid || f->readAheadState == file4aheadRefused) &&
        f->readAheadOffset == start)
      return;
    f->readAheadState = file4aheadEmpty;
  }
  // No read is in flight: the area is this thread's.
  if (f->readAheadCapacity < k.blockSize) {
    auto* area = static_cast<char*>(memory4allocZero(k.blockSize));
    if (area == nullptr) return;  // a hint, not worth an error
    memory4freeBlock(f->readAheadBuffer);
    f->readAheadBuffer = area;
    f->readAheadCapacity = k.blockSize;
  }
  // From here on reads consult the buffer and writes keep it current.
  f->readAheadUsed = true;
  // A block the kernel holds already is read here: handing it to the
  // worker would cost more than the read.
  bool cached;
  {
    std::lock_guard guard(f->section);
    cached = request4readCurrentIfCached(f, start, f->readAheadBuffer, k.blockSize);
  }
  {
    std::lock_guard guard(f->aheadMutex);
    f->readAheadState = cached ? file4aheadValid : file4aheadReading;
    f->readAheadStale = false;
    f->readAheadOffset = static_cast<uint32_t>(start);
    f->readAheadLength = k.blockSize;
  }
  if (cached) return;
  // Only a queued read ever runs its completion.
  if (file4advanceRead(f, start, f->readAheadBuffer, k.blockSize, blockArrived, f) == r4queued)
    return;
  std::lock_guard guard(f->aheadMutex);
  f->readAheadState = file4aheadEmpty;
}

File4Ahead file4aheadTake(FILE4* f, uint64_t position, void* buffer, uint32_t n) {
  std::unique_lock lock(f->aheadMutex);
  const uint32_t state = f->readAheadState;
  if ((state != file4aheadReading && state != file4aheadValid && state != file4aheadRefused) ||
      !holds(f, position, n))
    return File4Ahead::kNotHeld;
  if (state == file4aheadReading) {
    // A read the worker has not started yet is done here and now: waiting
    // for the worker to wake costs more than the read.
    lock.unlock();
    Worker4& worker = f->codeBase->readAhead;
    if (Request4* request = request4claim(worker, f->queuedReads, blockArrived)) {
      int64_t got;
      {
        std::lock_guard guard(f->section);
        got = request4readCurrent(f, request->offset, request->buffer, request->length);
      }
      request4release(
          worker, request,
          got < 0 ? request4readRefused(static_cast<int32_t>(-got)) : static_cast<int32_t>(got));
      f->readAheadBackoff = std::min(std::max(2 * f->readAheadBackoff, 1u), kBackoffMax);
      f->readAheadPass = f->readAheadBackoff;
    } else {
      f->readAheadBackoff = 0;
    }
    lock.lock();
  } else {
    f->readAheadBackoff = 0;
  }
  f->aheadArrived.wait(lock, [f] { return f->readAheadState != file4aheadReading; });
  if (f->readAheadState == file4aheadRefused && holds(f, position, n)) {
    const int32_t error = f->readAheadErrno;
    f->readAheadState = file4aheadEmpty;
    lock.unlock();
    file4readFailed(f, error);
    return File4Ahead::kRefused;
  }
  if (f->readAheadState != file4aheadValid) return File4Ahead::kNotHeld;
  std::memcpy(buffer, f->readAheadBuffer + (position - f->readAheadOffset), n);
  return File4Ahead::kTaken;
}

void file4aheadWriteOver(FILE4* f, uint64_t offset, uint64_t n, const void* bytes) {
  std::lock_guard guard(f->aheadMutex);
  const uint32_t state = f->readAheadState;
  if ((state != file4aheadReading && state != file4aheadValid && state != file4aheadRefused) ||
      !overlaps(f, offset, n))
    return;
  if (state == file4aheadReading) {
    f->readAheadStale = true;
    return;
  }
  // The block's bytes are read afresh once a write has changed them.
  if (state == file4aheadRefused) {
    f->readAheadState = file4aheadEmpty;
    return;
  }
  const uint64_t from = std::max<uint64_t>(offset, f->readAheadOffset);
  const uint64_t to =
      std::min<uint64_t>(offset + n, uint64_t{f->readAheadOffset} + f->readAheadLength);
  std::memcpy(f->readAheadBuffer + (from - f->readAheadOffset),
              static_cast<const char*>(bytes) + (from - offset), to - from);
}

void file4aheadDrop(FILE4* f) {
  std::lock_guard guard(f->aheadMutex);
  if (f->readAheadState == file4aheadReading) {
    f->readAheadStale = true;
  } else if (f->readAheadState == file4aheadValid || f->readAheadState == file4aheadRefused) {
    f->readAheadState = file4aheadEmpty;
  }
}

void file4aheadForget(FILE4* f) {
  std::lock_guard guard(f->aheadMutex);
  if (f->readAheadState != 0) f->readAheadState = file4aheadEmpty;
  f->readAheadStale = false;
}

void file4aheadRelease(FILE4* f) {
  file4aheadForget(f);
  memory4freeBlock(f->readAheadBuffer);
  f->readAheadBuffer = nullptr;
  f->readAheadCapacity = 0;
}
