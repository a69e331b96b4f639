// A queued transfer for one of the two workers: a read-ahead into a
// caller's buffer, or a delayed write of a caller's bytes.
//
// A request sits in its worker's queue and in its file's list (pending
// writes or queued reads) from queueing until it is finished. Its state
// changes only under the worker's section:
//   queued (1) -> in progress (2, claimed by the worker) -> done (3, unlinked)
// or queued (1) -> in progress, claimed by the owner's thread, which
// performs or drops it.
// The owner's thread completes queued requests only; a request in progress
// belongs to the worker until it is done, and the owner waits for it. The
// worker never takes a file's section: its transfers are positional, so it
// cannot deadlock with an owner that waits while holding one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/storage/file4.h"
#include "engine/storage/list4.h"

struct Worker4;

enum : uint32_t {
  request4queued = 1,
  request4inProgress = 2,
  request4done = 3,
  request4superseded = 4,  // a write covered part of a queued read
};

struct Request4 {
  LINK4 queueLink;  // first: the worker's queue holds requests by this link
  LINK4 fileLink;   // in the file's pending writes or queued reads
  FILE4* file = nullptr;
  char* buffer = nullptr;      // read: destination
  const char* data = nullptr;  // write: source
  uint64_t offset = 0;
  uint32_t length = 0;
  uint32_t state = request4queued;  // guarded by the worker's section
  int32_t result = 0;               // read: see request4readSuperseded; write: 0 or a code
  File4Completion completion = nullptr;
  void* completionData = nullptr;
};

// A read's result, as its request and its completion carry it: the bytes
// read (fewer than asked at the end of the file); request4readSuperseded
// when a write overtook it; below that, request4readRefused(errno) when
// the disk refused it. A worker never notes a refusal as a disk failure:
// the thread that comes to take the bytes does, as it fails.
inline constexpr int32_t request4readSuperseded = -1;
inline constexpr int32_t request4readRefused(int32_t error) { return -1 - (error > 0 ? error : 1); }
// The errno of a refused read's result; 0 for any other result.
inline constexpr int32_t request4refusedErrno(int32_t result) {
  return result < request4readSuperseded ? -1 - result : 0;
}

inline Request4* request4ofQueueLink(LINK4* link) { return reinterpret_cast<Request4*>(link); }
inline Request4* request4ofFileLink(LINK4* link) {
  return reinterpret_cast<Request4*>(reinterpret_cast<char*>(link) - offsetof(Request4, fileLink));
}

// A fresh request from the worker's pool, or null (-920 raised at 90080).
Request4* request4alloc(CODE4* c, Worker4& worker);
void request4free(Worker4& worker, Request4* request);

// Appends the request to the worker's queue and to `fileList`, and wakes
// the worker.
void request4queue(Worker4& worker, Request4* request, LIST4& fileList);

// Waits until no request of `fileList` is in progress. The caller holds
// `lock` on the worker's section, exactly once.
void request4waitIdle(Worker4& worker, std::unique_lock<std::recursive_mutex>& lock,
                      const LIST4& fileList);

// Claims for the owner's thread every queued request of `fileList`, oldest
// first, after waiting for any in progress. Claimed requests stay listed
// (readers keep seeing their bytes) until request4release.
std::vector<Request4*> request4takeQueued(Worker4& worker, LIST4& fileList);

// Claims for the owner's thread the request of `fileList` that carries
// `completion`, when it is still queued; null when there is none queued (a
// worker may have it in progress).
Request4* request4claim(Worker4& worker, LIST4& fileList, File4Completion completion);

// Unlinks a request the owner claimed or never queued, calls its
// completion with `result`, and frees it.
void request4release(Worker4& worker, Request4* request, int32_t result);

// Unlinks and frees a claimed request without calling its completion.
void request4discard(Worker4& worker, Request4* request);

// The worker's side: serves requests until its queue is empty. Returns
// false when there was nothing to do.
bool request4serveOne(Worker4& worker, bool reader);

// Reads [offset, offset + n) of `f` as it will be once its queued writes
// have landed: disk bytes with the queued writes laid over them, oldest
// first. Returns the count of valid bytes; a queued write beyond the end of
// the file lengthens it, and the gap reads as zeros. A read the disk
// refused returns its negative errno, and the buffer's bytes are
// undefined. Never raises, and notes nothing.
int64_t request4readCurrent(FILE4* f, uint64_t offset, char* buffer, uint32_t n);
// As request4readCurrent when the page cache holds all of [offset, +n),
// without waiting for the disk; false (and the buffer's bytes undefined)
// when it does not. Never raises.
bool request4readCurrentIfCached(FILE4* f, uint64_t offset, char* buffer, uint32_t n);
