// The shared read-ahead buffer: one buffer of a file's consecutive blocks
// read by the read-ahead worker while the calling thread works through the
// blocks before them.
//
// States: empty (no owner) -> reading (owner set; the worker fills the
// area) -> valid (the area holds [offset, +length) of the owner's disk
// bytes) -> empty again once its last block has been taken, when a read
// comes back short or superseded, or when the owner's reads are cancelled.
// A read the disk refused leaves it refused (owner and range kept): the
// first read of the range fails with that refusal and empties it; a new
// read ahead may take its place, since nothing was waiting for it.
// While reading, the area belongs to the worker; the calling thread waits
// for the state to change before it touches it.
//
// Its bytes stay equal to what the disk will hold: every write that reaches
// the disk, or is handed to it by the cache, is laid over them.
#include <algorithm>
#include <cstring>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4queue.h"
#include "engine/storage/request4.h"

namespace {

constexpr uint64_t k4GiB = 1ull << 32;

// Runs on the read-ahead worker inside its queue's section, or on the
// calling thread when a write completes the read; it only takes the
// buffer's own mutex.
void aheadArrived(void* data, int32_t result) {
  auto* a = static_cast<Cache4Ahead*>(data);
  std::lock_guard guard(a->mutex);
  if (a->state == file4aheadReading) {
    if (result >= 0 && static_cast<uint32_t>(result) == a->length) {
      a->state = file4aheadValid;
    } else if (const int32_t refused = request4refusedErrno(result); refused != 0) {
      a->state = file4aheadRefused;
      a->error = refused;
    } else {
      a->state = file4aheadEmpty;
      a->file = nullptr;
    }
  }
  a->arrived.notify_all();
}

void awaitArrival(Cache4Ahead& a, std::unique_lock<std::mutex>& lock, const FILE4* f) {
  a.arrived.wait(lock, [&] { return a.file != f || a.state != file4aheadReading; });
}

}  // namespace

File4Ahead cache4aheadTake(Cache4& k, FILE4* f, uint64_t offset, char* destination, uint32_t n) {
  Cache4Ahead& a = k.ahead;
  std::unique_lock lock(a.mutex);
  if (a.file != f) return File4Ahead::kNotHeld;
  awaitArrival(a, lock, f);
  if (a.file != f || (a.state != file4aheadValid && a.state != file4aheadRefused))
    return File4Ahead::kNotHeld;
  if (offset < a.offset || offset + n > a.offset + a.length) return File4Ahead::kNotHeld;
  if (a.state == file4aheadRefused) {
    const int32_t error = a.error;
    a.state = file4aheadEmpty;
    a.file = nullptr;
    lock.unlock();
    file4readFailed(f, error);
    return File4Ahead::kRefused;
  }
  std::memcpy(destination, a.area + a.head + (offset - a.offset), n);
  if (offset == a.offset) {
    a.head += n;
    a.offset += n;
    a.length -= n;
    if (a.length == 0) {
      a.state = file4aheadEmpty;
      a.file = nullptr;
    }
  }
  return File4Ahead::kTaken;
}

void cache4aheadStart(CODE4* c, FILE4* f, uint64_t offset) {
  Cache4Ahead& a = c->cache.ahead;
  if (a.area == nullptr || !c->readAhead.running() || f->isLong || offset + a.capacity >= k4GiB)
    return;
  // The read sees what is queued for the disk, not what is still being
  // gathered for it.
  if (cache4gatheredOverlaps(c->cache, f, offset, a.capacity) && cache4writeBufferFlush(c) < 0)
    return;
  {
    std::lock_guard guard(a.mutex);
    if (a.state != file4aheadEmpty && a.state != file4aheadRefused) return;
    a.state = file4aheadReading;
    a.file = f;
    a.offset = offset;
    a.head = 0;
    a.length = a.capacity;
  }
  // Only a queued read ever runs its completion.
  if (file4advanceRead(f, offset, a.area, a.capacity, aheadArrived, &a) == r4queued) return;
  std::lock_guard guard(a.mutex);
  a.state = file4aheadEmpty;
  a.file = nullptr;
}

void cache4aheadWriteOver(Cache4& k, const FILE4* f, uint64_t offset, uint32_t n,
                          const void* bytes) {
  Cache4Ahead& a = k.ahead;
  std::unique_lock lock(a.mutex);
  if (a.file != f) return;
  awaitArrival(a, lock, f);
  if (a.file != f || (a.state != file4aheadValid && a.state != file4aheadRefused)) return;
  const uint64_t start = std::max(offset, a.offset);
  const uint64_t end = std::min(offset + n, a.offset + a.length);
  if (start >= end) return;
  // The range's bytes are read afresh once a write has changed them.
  if (a.state == file4aheadRefused) {
    a.state = file4aheadEmpty;
    a.file = nullptr;
    return;
  }
  std::memcpy(a.area + a.head + (start - a.offset),
              static_cast<const char*>(bytes) + (start - offset), end - start);
}

void cache4aheadForget(Cache4& k, const FILE4* f) {
  Cache4Ahead& a = k.ahead;
  std::lock_guard guard(a.mutex);
  if (a.file != f) return;
  a.state = file4aheadEmpty;
  a.file = nullptr;
}

void cache4aheadSettle(Cache4& k, const FILE4* f) {
  Cache4Ahead& a = k.ahead;
  std::unique_lock lock(a.mutex);
  if (f == nullptr) f = a.file;
  if (f == nullptr || a.file != f) return;
  awaitArrival(a, lock, f);
  if (a.file != f) return;
  a.state = file4aheadEmpty;
  a.file = nullptr;
}
