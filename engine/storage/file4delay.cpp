// The file side of the two workers: queueing delayed writes and read-ahead,
// settling a file's queued writes, and keeping queued reads current when
// the file is written.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/file4queue.h"
#include "engine/storage/request4.h"

namespace {

constexpr uint64_t k4GiB = 1ull << 32;

bool overlaps(const Request4* r, uint64_t offset, uint64_t length) {
  return r->offset < offset + length && offset < r->offset + r->length;
}

bool inside(const Request4* r, uint64_t offset, uint64_t length) {
  return r->offset >= offset && r->offset + r->length <= offset + length;
}

// Performs, in queue order, the writes the owner claimed; those wholly
// inside [dropOffset, +dropLength) are dropped, since a newer write covers
// them. Each stays visible to readers until it has landed. 0, or -1 when
// the disk refused one (raised).
int32_t writeTaken(Worker4& worker, const std::vector<Request4*>& taken, uint64_t dropOffset,
                   uint64_t dropLength) {
  int32_t rc = 0;
  for (Request4* request : taken) {
    int32_t result = 0;
    if (!inside(request, dropOffset, dropLength))
      result = file4writeInternal(request->file, request->offset, request->data, request->length,
                                  0, 0);
    if (result < 0) rc = -1;
    request4release(worker, request, result);
  }
  return rc;
}

bool hasPendingWrites(FILE4* f) {
  std::lock_guard guard(f->codeBase->writeBehind.section);
  return f->pendingWrites.nLink > 0;
}

bool anyPendingOverlaps(FILE4* f, uint64_t offset, uint64_t length) {
  std::lock_guard guard(f->codeBase->writeBehind.section);
  for (LINK4* link = list4first(&f->pendingWrites); link != nullptr;
       link = list4next(&f->pendingWrites, link)) {
    if (overlaps(request4ofFileLink(link), offset, length)) return true;
  }
  return false;
}

}  // namespace

// Only a write that overlaps a queued one needs settling; then every queued
// write of the file is done first, in order, so that no older write can
// land after a newer one.
void file4settleWrites(FILE4* f, uint64_t offset, uint64_t length) {
  if (f->codeBase == nullptr || !anyPendingOverlaps(f, offset, length)) return;
  Worker4& worker = f->codeBase->writeBehind;
  writeTaken(worker, request4takeQueued(worker, f->pendingWrites), offset, length);
}

void file4cutWrites(FILE4* f, uint64_t newLength) {
  if (f->codeBase == nullptr || !hasPendingWrites(f)) return;
  Worker4& worker = f->codeBase->writeBehind;
  std::vector<Request4*> dropped;
  {
    std::unique_lock lock(worker.section);
    request4waitIdle(worker, lock, f->pendingWrites);
    LINK4* link = list4first(&f->pendingWrites);
    while (link != nullptr) {
      Request4* request = request4ofFileLink(link);
      link = list4next(&f->pendingWrites, link);
      if (request->offset + request->length <= newLength) continue;
      if (request->offset >= newLength) {
        list4remove(&worker.queue, &request->queueLink);
        list4remove(&f->pendingWrites, &request->fileLink);
        dropped.push_back(request);
      } else {
        request->length = static_cast<uint32_t>(newLength - request->offset);
      }
    }
  }
  for (Request4* request : dropped) request4release(worker, request, 0);
}

int32_t file4writeDelay(FILE4* f, uint64_t offset, const void* data, uint32_t n,
                        File4Completion completion, void* completionData) {
  CODE4* c = f->codeBase;
  Worker4& worker = c->writeBehind;
  if (const int32_t rc = file4logWriteAhead(f); rc < 0) {
    // Refused: the write is done, with the failure, as far as the caller
    // waiting on its completion is concerned.
    if (completion != nullptr) completion(completionData, rc);
    return rc;
  }
  file4settleWrites(f, offset, n);
  // Queued reads see the write when they are done; a buffer read already
  // is given it.
  if (f->readAheadUsed) file4aheadWriteOver(f, offset, n, data);
  Request4* request = request4alloc(c, worker);
  if (request == nullptr) return e4memory;
  request->file = f;
  request->offset = offset;
  request->data = static_cast<const char*>(data);
  request->length = n;
  request->completion = completion;
  request->completionData = completionData;
  if (worker.running() && !f->isLong && offset + n < k4GiB) {
    {
      std::lock_guard guard(f->section);
      f->unsynced = true;
    }
    request4queue(worker, request, f->pendingWrites);
    return r4queued;
  }
  const int32_t rc = file4writeInternal(f, offset, data, n, 1, 1);
  request4release(worker, request, rc);
  return rc;
}

int32_t file4writeDelayFlush(FILE4* f, int write) {
  if (f == nullptr || f->codeBase == nullptr || !hasPendingWrites(f)) return 0;
  CODE4* c = f->codeBase;
  Worker4& worker = c->writeBehind;
  const std::vector<Request4*> taken = request4takeQueued(worker, f->pendingWrites);
  if (!write) {
    for (Request4* request : taken) request4release(worker, request, 0);
    return 0;
  }
  if (writeTaken(worker, taken, 0, 0) < 0) return -1;
  return c->writeThrough && !taken.empty() ? file4flushOs(f) : 0;
}

int32_t file4advanceRead(FILE4* f, uint64_t offset, void* buffer, uint32_t n,
                         File4Completion completion, void* completionData) {
  CODE4* c = f->codeBase;
  Worker4& worker = c->readAhead;
  if (!worker.running() || f->isLong || offset + n >= k4GiB) return 0;
  Request4* request = request4alloc(c, worker);
  if (request == nullptr) return e4memory;
  f->readAheadUsed = true;
  request->file = f;
  request->offset = offset;
  request->buffer = static_cast<char*>(buffer);
  request->length = n;
  request->completion = completion;
  request->completionData = completionData;
  request4queue(worker, request, f->queuedReads);
  return r4queued;
}

void file4advanceCancel(FILE4* f) {
  if (f->codeBase == nullptr) return;
  Worker4& worker = f->codeBase->readAhead;
  bool queued;
  {
    std::lock_guard guard(worker.section);
    queued = f->queuedReads.nLink > 0;
  }
  // Cancelled reads never reach their completion.
  if (queued) {
    for (Request4* request : request4takeQueued(worker, f->queuedReads))
      request4discard(worker, request);
  }
  file4aheadForget(f);
  cache4aheadForget(f->codeBase->cache, f);
}

void file4advanceReadWriteOver(FILE4* f, uint64_t offset, uint32_t length, const void* bytes,
                               int invalidate) {
  if (f->codeBase == nullptr || !f->onDisk || offset + length >= k4GiB) return;
  Worker4& worker = f->codeBase->readAhead;
  std::vector<Request4*> finished;
  {
    std::unique_lock lock(worker.section);
    if (f->queuedReads.nLink > 0) request4waitIdle(worker, lock, f->queuedReads);
    LINK4* link = list4first(&f->queuedReads);
    while (link != nullptr) {
      Request4* request = request4ofFileLink(link);
      link = list4next(&f->queuedReads, link);
      if (!overlaps(request, offset, length)) continue;
      if (inside(request, offset, length)) {
        std::memcpy(request->buffer, static_cast<const char*>(bytes) + (request->offset - offset),
                    request->length);
        request->result = static_cast<int32_t>(request->length);
      } else if (invalidate) {
        request->result = request4readSuperseded;
        request->state = request4superseded;
      } else {
        continue;
      }
      list4remove(&worker.queue, &request->queueLink);
      list4remove(&f->queuedReads, &request->fileLink);
      finished.push_back(request);
    }
  }
  for (Request4* request : finished) request4release(worker, request, request->result);
  // Reads that had already landed in a read-ahead buffer.
  if (invalidate) file4aheadWriteOver(f, offset, length, bytes);
  cache4aheadWriteOver(f->codeBase->cache, f, offset, length, bytes);
}

uint64_t file4pendingWritesEnd(FILE4* f) {
  if (f->codeBase == nullptr) return 0;
  std::lock_guard guard(f->codeBase->writeBehind.section);
  uint64_t end = 0;
  for (LINK4* link = list4first(&f->pendingWrites); link != nullptr;
       link = list4next(&f->pendingWrites, link)) {
    const Request4* request = request4ofFileLink(link);
    end = std::max(end, request->offset + request->length);
  }
  return end;
}
