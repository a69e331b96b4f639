#include "engine/storage/request4.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/memory4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocAlloc = 90080;
constexpr int32_t kPoolUnits = 10;

bool anyInProgress(const LIST4& fileList) {
  for (LINK4* link = fileList.lastNode == nullptr ? nullptr : fileList.lastNode->next;
       link != nullptr; link = link == fileList.lastNode ? nullptr : link->next) {
    if (request4ofFileLink(link)->state == request4inProgress) return true;
  }
  return false;
}

void unlinkBoth(Worker4& worker, Request4* request, LIST4& fileList) {
  list4remove(&worker.queue, &request->queueLink);
  list4remove(&fileList, &request->fileLink);
}

LIST4& fileListOf(const Worker4& worker, FILE4* f) {
  return worker.reader ? f->queuedReads : f->pendingWrites;
}

// The transfer itself, without raising: errors travel back in the result
// and are raised by the owner on its own thread. A write the disk refused
// is noted with its own errno here, as it happens (every write counts,
// where a read ahead may never be wanted); after a failed sync nothing is
// written, by any thread.
int32_t perform(Request4* request, bool reader) {
  FILE4* f = request->file;
  if (reader) {
    const int64_t got = request4readCurrent(f, request->offset, request->buffer, request->length);
    return got < 0 ? request4readRefused(static_cast<int32_t>(-got)) : static_cast<int32_t>(got);
  }
  if (file4writesEnded(f)) return e4write;
  const int64_t put = platform::writeFully(f->handle, request->data, request->length,
                                           request->offset);
  if (put == static_cast<int64_t>(request->length)) return 0;
  // A write cut short is the disk's room running out.
  code4diskFailed(f->codeBase, Disk4Call::kWrite, put < 0 ? static_cast<int32_t>(-put) : ENOSPC,
                  f->name);
  return e4write;
}

}  // namespace

Request4* request4alloc(CODE4* c, Worker4& worker) {
  void* unit = memory4createAlloc(c, &worker.requestPool, kPoolUnits, sizeof(Request4),
                                  kPoolUnits, false, false);
  if (unit == nullptr) {
    error4(c, e4memory, kLocAlloc);
    return nullptr;
  }
  return new (unit) Request4;
}

void request4free(Worker4& worker, Request4* request) { memory4free(worker.requestPool, request); }

void request4queue(Worker4& worker, Request4* request, LIST4& fileList) {
  {
    std::lock_guard guard(worker.section);
    request->state = request4queued;
    list4add(&worker.queue, &request->queueLink);
    list4add(&fileList, &request->fileLink);
  }
  worker.wake.set();
}

void request4waitIdle(Worker4& worker, std::unique_lock<std::recursive_mutex>& lock,
                      const LIST4& fileList) {
  worker.progress.wait(lock, [&] { return !anyInProgress(fileList); });
}

std::vector<Request4*> request4takeQueued(Worker4& worker, LIST4& fileList) {
  std::vector<Request4*> taken;
  std::unique_lock lock(worker.section);
  request4waitIdle(worker, lock, fileList);
  for (LINK4* link = list4first(&fileList); link != nullptr; link = list4next(&fileList, link)) {
    Request4* request = request4ofFileLink(link);
    request->state = request4inProgress;
    taken.push_back(request);
  }
  return taken;
}

Request4* request4claim(Worker4& worker, LIST4& fileList, File4Completion completion) {
  std::lock_guard guard(worker.section);
  for (LINK4* link = list4first(&fileList); link != nullptr; link = list4next(&fileList, link)) {
    Request4* request = request4ofFileLink(link);
    if (request->completion == completion && request->state == request4queued) {
      request->state = request4inProgress;
      return request;
    }
  }
  return nullptr;
}

void request4release(Worker4& worker, Request4* request, int32_t result) {
  {
    std::lock_guard guard(worker.section);
    if (list4contains(&worker.queue, &request->queueLink)) {
      unlinkBoth(worker, request, fileListOf(worker, request->file));
      worker.finished++;
    }
    request->result = result;
    request->state = request4done;
  }
  if (request->completion != nullptr) request->completion(request->completionData, result);
  request4free(worker, request);
  worker.progress.notify_all();
}

void request4discard(Worker4& worker, Request4* request) {
  {
    std::lock_guard guard(worker.section);
    if (list4contains(&worker.queue, &request->queueLink))
      unlinkBoth(worker, request, fileListOf(worker, request->file));
  }
  request4free(worker, request);
  worker.progress.notify_all();
}

bool request4serveOne(Worker4& worker, bool reader) {
  Request4* request = nullptr;
  {
    std::lock_guard guard(worker.section);
    // Requests the owner has claimed stay queued until it releases them.
    for (LINK4* link = list4first(&worker.queue); link != nullptr;
         link = list4next(&worker.queue, link)) {
      if (request4ofQueueLink(link)->state == request4queued) {
        request = request4ofQueueLink(link);
        break;
      }
    }
    if (request == nullptr) return false;
    request->state = request4inProgress;
  }
  const int32_t result = perform(request, reader);
  File4Completion completion = nullptr;
  {
    std::lock_guard guard(worker.section);
    request->result = result;
    request->state = request4done;
    unlinkBoth(worker, request, fileListOf(worker, request->file));
    worker.finished++;
    // A read's completion runs inside the section, so that an owner that
    // sees no queued read knows its completion has run; a write's runs
    // outside it.
    if (reader && request->completion != nullptr)
      request->completion(request->completionData, result);
    else
      completion = request->completion;
  }
  if (completion != nullptr) completion(request->completionData, result);
  request4free(worker, request);
  worker.progress.notify_all();
  return true;
}

namespace {

// Overlays the queued writes of `f`, unless the write-behind worker has
// finished a write since `finishedBefore` (its bytes may have landed after
// the disk read and left the queue before the overlay): then -1.
int64_t overlayWrites(FILE4* f, uint64_t offset, char* buffer, uint32_t n, uint32_t got,
                      uint64_t finishedBefore) {
  Worker4& writer = f->codeBase->writeBehind;
  std::lock_guard guard(writer.section);
  if (writer.finished.load() != finishedBefore) return -1;
  if (f->pendingWrites.nLink == 0) return got;
  // A queued write beyond the end of the file lengthens it: what lies
  // between the old end and that write reads as zeros.
  uint64_t validEnd = offset + got;
  if (got < n) {
    for (LINK4* link = list4first(&f->pendingWrites); link != nullptr;
         link = list4next(&f->pendingWrites, link)) {
      const Request4* request = request4ofFileLink(link);
      validEnd = std::max(validEnd, std::min(offset + n, request->offset + request->length));
    }
    std::memset(buffer + got, 0, validEnd - offset - got);
  }
  for (LINK4* link = list4first(&f->pendingWrites); link != nullptr;
       link = list4next(&f->pendingWrites, link)) {
    const Request4* request = request4ofFileLink(link);
    const uint64_t start = std::max(offset, request->offset);
    const uint64_t end = std::min(offset + n, request->offset + request->length);
    if (start < end)
      std::memcpy(buffer + (start - offset), request->data + (start - request->offset), end - start);
  }
  return static_cast<int64_t>(validEnd - offset);
}

}  // namespace

int64_t request4readCurrent(FILE4* f, uint64_t offset, char* buffer, uint32_t n) {
  for (;;) {
    const uint64_t finishedBefore =
        f->codeBase == nullptr ? 0 : f->codeBase->writeBehind.finished.load();
    const int64_t read = platform::readFully(f->handle, buffer, n, offset);
    if (read < 0 || f->codeBase == nullptr) return read;
    const int64_t current =
        overlayWrites(f, offset, buffer, n, static_cast<uint32_t>(read), finishedBefore);
    if (current >= 0) return current;
  }
}

bool request4readCurrentIfCached(FILE4* f, uint64_t offset, char* buffer, uint32_t n) {
  for (;;) {
    const uint64_t finishedBefore =
        f->codeBase == nullptr ? 0 : f->codeBase->writeBehind.finished.load();
    const int64_t read = platform::os().readAtIfCached(f->handle, buffer, n, offset);
    if (read != static_cast<int64_t>(n)) return false;
    if (f->codeBase == nullptr) return true;
    if (overlayWrites(f, offset, buffer, n, n, finishedBefore) >= 0) return true;
  }
}
