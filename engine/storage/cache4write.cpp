// Write-outs: the two write buffers that carry runs of changed data-file
// blocks to the write-behind worker, the spare copies that carry single
// blocks of other files, and the write that bypasses the cache.
//
// A buffer or spare handed to the worker belongs to it until its
// completion has run; the completion gives it back under the structure's
// mutex, and the calling thread waits on a condition variable for it. A
// request leaves the worker's queue (under the queue's section) before its
// completion runs, so once a buffer is back no reader of the queue can
// still be copying from it.
#include <cstring>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4queue.h"

namespace {

constexpr int32_t kLocWrite = 90075;
constexpr uint64_t k4GiB = 1ull << 32;

// A failure met on a worker has not been raised: the calling thread raises
// it at its next flush. Wherever it was met, the bytes had left the cache:
// the file is marked for good. The caller holds the transfer's mutex.
void noteResult(Cache4* k, FILE4* f, int32_t result) {
  if (result >= 0) return;
  f->writeOutLost = true;
  if (std::this_thread::get_id() != k->callingThread) k->deferredFailure = true;
}

void bufferWritten(void* data, int32_t result) {
  auto* context = static_cast<Cache4WriteBuffers::Context*>(data);
  Cache4* k = context->cache;
  Cache4WriteBuffers& w = k->writes;
  // Notified under the lock: the waiter may free the cache once it sees
  // the buffer back.
  std::lock_guard guard(w.mutex);
  noteResult(k, context->file, result);
  w.isFree[context->index] = true;
  w.freed.notify_all();
}

void spareWritten(void* data, int32_t result) {
  auto* spare = static_cast<Cache4Spares::Spare*>(data);
  Cache4* k = spare->cache;
  Cache4Spares& s = k->spares;
  std::lock_guard guard(s.mutex);
  noteResult(k, spare->file, result);
  s.freeList[s.freeCount++] = spare;
  s.returned.notify_all();
}

// Raises a failure a worker met in one of the cache's transfers: -1 when
// there was one, else 0.
int32_t takeDeferredFailure(CODE4* c) {
  if (!c->cache.deferredFailure.exchange(false)) return 0;
  error4(c, e4write, kLocWrite);
  return -1;
}

}  // namespace

int32_t cache4writeDisk(FILE4* f, uint64_t offset, const char* data, uint32_t n,
                        File4Completion completion, void* completionData) {
  CODE4* c = f->codeBase;
  if (completion != nullptr && c->writeBehind.running() && !f->isLong && offset + n < k4GiB) {
    const int32_t rc = file4writeDelay(f, offset, data, n, completion, completionData);
    if (rc == r4queued) return 0;
    if (rc != e4memory) return rc;
    // No request could be had (raised): the completion has not run, so the
    // bytes are written at once.
  }
  // Never the write-through flush: it would flush the cache from inside it.
  const int32_t rc = file4writeInternal(f, offset, data, n, 1, 0);
  if (rc < 0) c->cache.writeOutRefused = true;
  if (completion != nullptr) completion(completionData, rc);
  return rc;
}

bool cache4gatheredOverlaps(const Cache4& k, const FILE4* f, uint64_t offset, uint64_t n) {
  const Cache4WriteBuffers& w = k.writes;
  return w.file == f && offset < w.end && w.start < offset + n;
}

int32_t cache4gather(CODE4* c, Cache4Block* b) {
  Cache4& k = c->cache;
  Cache4WriteBuffers& w = k.writes;
  const bool continues =
      w.file == b->file && w.end == b->offset && w.blockCount < k.blocksPerBuffer;
  if (w.file != nullptr && !continues) {
    const int32_t rc = cache4writeBufferFlush(c);
    if (rc < 0) return rc;
  }
  if (w.file == nullptr) {
    w.file = b->file;
    w.start = w.end = b->offset;
  }
  // A run holds whole blocks but its last, so it never outgrows the buffer.
  std::memcpy(w.area[w.current] + (w.end - w.start), b->data, b->validLength);
  w.end += b->validLength;
  w.blockCount++;
  return 0;
}

int32_t cache4writeBufferFlush(CODE4* c) {
  if (c == nullptr) return 0;
  Cache4& k = c->cache;
  Cache4WriteBuffers& w = k.writes;
  if (!k.started() || w.file == nullptr) return 0;
  const int index = w.current;
  {
    std::lock_guard guard(w.mutex);
    w.isFree[index] = false;
    w.contexts[index].file = w.file;
  }
  const int32_t rc =
      cache4writeDisk(w.file, w.start, w.area[index], static_cast<uint32_t>(w.end - w.start),
                      bufferWritten, &w.contexts[index]);
  const int other = 1 - index;
  {
    std::unique_lock lock(w.mutex);
    w.freed.wait(lock, [&] { return w.isFree[other]; });
  }
  w.current = other;
  w.file = nullptr;
  w.start = w.end = 0;
  w.blockCount = 0;
  return rc;
}

int32_t cache4writeRun(CODE4* c, Cache4Block* b) {
  Cache4& k = c->cache;
  FILE4* f = b->file;
  char* area = k.writes.area[k.writes.current];
  uint32_t count = 0;
  uint32_t length = 0;
  for (Cache4Block* next = b; next != nullptr && next->changed && count < k.blocksPerBuffer;
       next = cache4lookup(k, f, next->offset + k.blockSize)) {
    // The shared read-ahead buffer may hold this range as the disk had it.
    cache4aheadWriteOver(k, f, next->offset, next->validLength, next->data);
    std::memcpy(area + length, next->data, next->validLength);
    length += next->validLength;
    count++;
    if (next->validLength < k.blockSize) break;
  }
  const int32_t rc = cache4writeDisk(f, b->offset, area, length, nullptr, nullptr);
  if (rc < 0) return rc;
  Cache4Block* written = b;
  for (uint32_t i = 0; i < count && written != nullptr; i++) {
    Cache4Block* next = cache4lookup(k, f, written->offset + k.blockSize);
    cache4markClean(written);
    written = next;
  }
  return 0;
}

int32_t cache4writeSpare(CODE4* c, Cache4Block* b) {
  Cache4Spares& s = c->cache.spares;
  Cache4Spares::Spare* spare;
  {
    std::unique_lock lock(s.mutex);
    s.returned.wait(lock, [&] { return s.freeCount > 0; });
    spare = s.freeList[--s.freeCount];
  }
  std::memcpy(spare->area, b->data, b->validLength);
  spare->file = b->file;
  return cache4writeDisk(b->file, b->offset, spare->area, b->validLength, spareWritten, spare);
}

void cache4awaitTransfers(Cache4& k) {
  {
    Cache4WriteBuffers& w = k.writes;
    std::unique_lock lock(w.mutex);
    w.freed.wait(lock, [&] { return w.isFree[0] && w.isFree[1]; });
  }
  Cache4Spares& s = k.spares;
  std::unique_lock lock(s.mutex);
  s.returned.wait(lock, [&] { return s.freeCount == s.count; });
}

int32_t cache4landWriteOuts(CODE4* c, FILE4* f) {
  Cache4& k = c->cache;
  int32_t rc = 0;
  if (k.writes.file == f && cache4writeBufferFlush(c) < 0) rc = -1;
  if (file4writeDelayFlush(f, 1) < 0) rc = -1;
  // A worker's failure is noted before its buffer or spare comes back.
  cache4awaitTransfers(k);
  if (takeDeferredFailure(c) < 0) rc = -1;
  if (rc == 0 && f->writeOutLost)
    rc = error4describe(c, e4write, kLocWrite, f->name, nullptr, nullptr);
  return rc;
}
