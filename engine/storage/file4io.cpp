// Reading, writing, length and flushing.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/file4queue.h"
#include "engine/storage/request4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocLen = 90061;
constexpr int32_t kLocLenSet = 90062;
constexpr int32_t kLocReadAll = 90063;
constexpr int32_t kLocFlushOs = 90066;
constexpr int32_t kLocFlush = 90067;
constexpr int32_t kLocRefresh = 90068;
constexpr int32_t kLocWrite = 90075;
constexpr int32_t kLocReadError = 90077;
constexpr int32_t kLocReadOnlyWrite = 80013;
constexpr int32_t kLocReadOnlyLen = 80014;

constexpr uint64_t k4GiB = 1ull << 32;

bool pending(const CODE4* c) { return error4code(c) < 0; }

// Right-aligns the decimal digits of `value` in `width` characters.
void writeNumber(char* out, int width, uint64_t value) {
  for (int i = width - 1; i >= 0; i--) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
    if (value == 0) break;
  }
}

}  // namespace

void file4readFailed(FILE4* f, int32_t error) {
  f->readFailures.fetch_add(1);
  code4diskFailed(f->codeBase, Disk4Call::kRead, error, f->name);
}

uint32_t file4readLow(FILE4* f, uint64_t position, void* buffer, uint32_t n) {
  std::lock_guard guard(f->section);
  const int64_t got = platform::readFully(f->handle, buffer, n, position);
  if (got < 0) file4readFailed(f, static_cast<int32_t>(-got));
  return got < 0 ? 0 : static_cast<uint32_t>(got);
}

// Reads what the file will hold once its queued writes are done: from the
// file's read-ahead buffer when it holds the range, else from the disk.
uint32_t file4readInternal(FILE4* f, uint64_t position, void* buffer, uint32_t n) {
  if (f->readAheadUsed && !f->isLong) {
    const File4Ahead ahead = file4aheadTake(f, position, buffer, n);
    if (ahead == File4Ahead::kTaken) return n;
    if (ahead == File4Ahead::kRefused) return 0;
  }
  int64_t read;
  {
    std::lock_guard guard(f->section);
    read = request4readCurrent(f, position, static_cast<char*>(buffer), n);
  }
  if (read < 0) {
    file4readFailed(f, static_cast<int32_t>(-read));
    return 0;
  }
  const auto got = static_cast<uint32_t>(read);
  if (got > 0 && !f->isLong && f->readAheadUsed)
    file4advanceReadWriteOver(f, position, got, buffer, 0);
  return got;
}

// A file the block cache serves is read through it at any position: the
// cache may hold writes anywhere below 4 GiB.
uint32_t file4read(FILE4* f, uint64_t position, void* buffer, uint32_t n) {
  if (f == nullptr || pending(f->codeBase) || n == 0) return 0;
  if (f->cached) return cache4fileRead(f, position, buffer, n);
  if (!f->onDisk) return 0;
  return file4readInternal(f, position, buffer, n);
}

int32_t file4readAll(FILE4* f, uint64_t position, void* buffer, uint32_t n) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocReadAll);
  if (pending(f->codeBase)) return -1;
  if (n == 0) return 0;
  if (f->cached) {
    if (cache4fileRead(f, position, buffer, n) != n)
      return file4readError(f, position, n, "file4readAll");
    return 0;
  }
  if (!f->onDisk) return error4(f->codeBase, e4optRead, kLocReadAll);
  if (file4readInternal(f, position, buffer, n) != n)
    return file4readError(f, position, n, "file4readAllLow");
  return 0;
}

int32_t file4readError(FILE4* f, uint64_t position, uint32_t n, const char* function) {
  // 39 characters: the position right-aligned in the first 19, the count in
  // the 19 from offset 20.
  char where[40];
  std::memset(where, ' ', 39);
  where[39] = '\0';
  writeNumber(where, 19, position);
  writeNumber(where + 20, 19, n);
  return error4describe(f->codeBase, e4read, kLocReadError, f->name, where, function);
}

bool file4writesEnded(const FILE4* f) { return code4writesEnded(f->codeBase) && !f->inMemory; }

uint32_t file4writeLow(FILE4* f, uint64_t position, const void* data, uint32_t n) {
  std::lock_guard guard(f->section);
  if (file4writesEnded(f)) return 0;
  f->unsynced = true;
  const int64_t put = platform::writeFully(f->handle, data, n, position);
  // A write cut short is the disk's room running out.
  if (put < static_cast<int64_t>(n) && f->codeBase != nullptr) {
    f->codeBase->writeErrno = put < 0 ? static_cast<int32_t>(-put) : ENOSPC;
    code4diskFailed(f->codeBase, Disk4Call::kWrite, f->codeBase->writeErrno, f->name);
  }
  if (put <= 0) return 0;
  if (position + static_cast<uint64_t>(put) >= k4GiB) f->isLong = true;
  return static_cast<uint32_t>(put);
}

int32_t file4writeInternal(FILE4* f, uint64_t position, const void* data, uint32_t n,
                           int settleOverlaps, int flush) {
  CODE4* c = f->codeBase;
  if (f->isReadOnly) return error4(c, e4write, kLocReadOnlyWrite);
  if (!f->isLong && f->readAheadUsed) file4advanceReadWriteOver(f, position, n, data, 1);
  uint32_t put;
  {
    std::lock_guard guard(f->section);
    if (settleOverlaps && !f->isLong) file4settleWrites(f, position, n);
    put = file4writeLow(f, position, data, n);
  }
  if (put != n) {
    // The read-ahead buffers took the bytes the disk has just refused.
    if (f->readAheadUsed) {
      file4aheadDrop(f);
      if (c != nullptr) cache4aheadSettle(c->cache, f);
    }
    return error4describe(c, e4write, kLocWrite, f->name, nullptr, nullptr);
  }
  if (flush && c != nullptr && c->writeThrough) return file4flush(f);
  return 0;
}

int32_t file4writeCached(FILE4* f, uint64_t position, const void* data, uint32_t n, int delayed,
                         File4Completion completion, void* completionData) {
  if (f->cached) {
    const bool hold = file4writesHeld(f);
    if (cache4fileWrite(f, position, n, data, hold) != n) {
      // Bytes meant to be written through stay out of the cache.
      if (!hold) cache4forgetRange(f, position, n);
      return error4describe(f->codeBase, e4write, kLocWrite, f->name, nullptr, nullptr);
    }
    if (hold) {
      if (completion != nullptr) completion(completionData, 0);
      return 0;
    }
  }
  int32_t rc;
  if (delayed && !f->isLong) {
    rc = file4writeDelay(f, position, data, n, completion, completionData);
    if (rc == r4queued) rc = 0;
  } else {
    rc = file4writeInternal(f, position, data, n, 1, 1);
    if (completion != nullptr) completion(completionData, rc);
  }
  // The cache took bytes the disk refused: what it holds of the range goes,
  // so that the file reads as the disk has it.
  if (rc < 0 && f->cached) cache4forgetRange(f, position, n);
  return rc;
}

int32_t file4writeThrough(FILE4* f, uint64_t position, const void* data, uint32_t n) {
  if (f->cached && !f->isLong && position + n < 0xFFFFFFFFull &&
      cache4fileWrite(f, position, n, data, 0) != n) {
    cache4forgetRange(f, position, n);
    return error4describe(f->codeBase, e4write, kLocWrite, f->name, nullptr, nullptr);
  }
  return file4writeInternal(f, position, data, n, 1, 0);
}

int32_t file4logWriteAhead(FILE4* f) {
  CODE4* c = f->codeBase;
  if (!f->logWriteAhead || c == nullptr || !c->transaction.enabled) return 0;
  LOG4FILE& log = c->transaction.log;
  if (!log.needsFlush || !log.isOpen) return 0;
  // Until the log is on disk the record bytes may not be: a failed flush
  // refuses the write and stays due.
  if (const int32_t rc = file4flush(&log.file); rc < 0) return rc;
  log.needsFlush = false;
  return 0;
}

int32_t file4write(FILE4* f, uint64_t position, const void* data, uint32_t n) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocWrite);
  CODE4* c = f->codeBase;
  if (data == nullptr && n > 0) return error4(c, e4parm, kLocWrite);
  if (f->handle < 0) return error4(c, e4parm, kLocWrite);
  if (pending(c)) return -1;
  if (f->isReadOnly) return error4(c, e4write, kLocReadOnlyWrite);
  if (n == 0) return 0;
  if (const int32_t rc = file4logWriteAhead(f); rc < 0) return rc;
  if (!f->isLong && position + n < 0xFFFFFFFFull)
    return file4writeCached(f, position, data, n, 0, nullptr, nullptr);
  // The block cache serves files below 4 GiB only.
  if (f->cached && file4cacheSet(f, 0, 0, 0, nullptr) < 0) return -1;
  return file4writeInternal(f, position, data, n, 1, 1);
}

namespace {

// Room the file system cannot set aside is written instead: zero bytes
// from the room's end up to `to`, straight to the disk (the cache never
// holds them), so that the writes that land there later write over bytes
// the file holds. Nothing the cache holds or the write-behind queue waits
// with lies there: every write past the end lies below the room's end. 0,
// or the negative errno when the disk took less (the room then ends where
// it stopped).
int writeRoom(FILE4* f, uint64_t to) {
  static const char zeros[64 << 10] = {};
  std::lock_guard guard(f->section);
  while (f->roomEnd < to) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(sizeof zeros, to - f->roomEnd));
    const int64_t put = platform::writeFully(f->handle, zeros, n, f->roomEnd);
    if (put < 0) return static_cast<int>(put);
    f->unsynced = true;
    f->roomEnd += static_cast<uint64_t>(put);
    if (f->roomEnd >= k4GiB) f->isLong = true;
    if (put < n) return -ENOSPC;
  }
  return 0;
}

// Sets room aside up to `to`: 0, or the negative errno.
int reserveUpTo(FILE4* f, uint64_t to) {
  if (f->roomWritten) return writeRoom(f, to);
  const int rc = platform::os().reserveSpace(f->handle, f->roomEnd, to - f->roomEnd);
  if (rc == 0) f->roomEnd = to;
  return rc;
}

}  // namespace

int32_t file4reserve(FILE4* f, uint64_t end, uint64_t step) {
  if (f->inMemory || f->handle < 0) return 0;
  if (file4writesEnded(f)) return -1;
  if (f->roomEnd == 0) {
    // Writes queued past the end land first: the room begins after them.
    if (file4writeDelayFlush(f, 1) < 0) return -1;
    if (platform::os().fileSize(f->handle, f->roomEnd) != 0) return -1;
  }
  if (end <= f->roomEnd) return 0;
  // Written room lengthens the file for every process: a shared file
  // takes only what the change needs, and gives it back as it unlocks.
  const bool needOnly = f->roomWritten && f->accessMode != 1;
  const uint64_t wanted = needOnly ? end : std::max(end, f->roomEnd + step);
  int rc = reserveUpTo(f, wanted);
  // EOPNOTSUPP above all (NFS v3, ZFS, many FUSE mounts); whatever else
  // the file system answers but a full disk, the room is written.
  if (rc != 0 && rc != -ENOSPC && rc != -EDQUOT && !f->roomWritten) {
    f->roomWritten = true;
    return file4reserve(f, end, step);
  }
  // Less than a step may still be had: then only what is needed.
  if ((rc == -ENOSPC || rc == -EDQUOT) && wanted > end) rc = reserveUpTo(f, end);
  if (rc == 0) return 0;
  code4diskFailed(f->codeBase, Disk4Call::kReserve, -rc, f->name);
  return -1;
}

uint64_t file4lenLow(FILE4* f) {
  if (f == nullptr) {
    error4(nullptr, e4parmNull, kLocLen);
    return UINT64_MAX;
  }
  if (!f->onDisk) return f->knownLength == UINT64_MAX ? 0 : f->knownLength;
  if (f->cached && f->knownLength != UINT64_MAX) return f->knownLength;
  uint64_t length = 0;
  if (platform::os().fileSize(f->handle, length) != 0) {
    error4describe(f->codeBase, e4len, kLocLen, f->name, nullptr, nullptr);
    return UINT64_MAX;
  }
  if (f->cached) {
    // The cache's write-outs may still wait in the write-behind queue.
    length = std::max(length, file4pendingWritesEnd(f));
    if (f->bufferWrites) f->knownLength = length;
  }
  // Any length is the file's, 2 GiB and more included, whether large files
  // are on or off. The standard lock offsets (lock4offsets.h) lie between 1
  // and 2 GiB, where a larger file holds data; on a platform whose locks
  // keep others from the bytes they cover, those bytes could not be read
  // while locked. Here the locks are open file description locks, which are
  // advisory: they keep off only another lock, never a read or a write of
  // the bytes, so lock bytes and data bytes may coincide. Offsets and
  // lengths are 64-bit from the system call on.
  return length;
}

int32_t file4lenSetLow(FILE4* f, uint64_t newLength) {
  if (f == nullptr || newLength == UINT64_MAX) return error4(nullptr, e4parmNull, kLocLenSet);
  CODE4* c = f->codeBase;
  if (c == nullptr) return -1;
  const int32_t code = error4code(c);
  if (code < 0 || (code > 0 && code < 200)) return -1;
  if (f->isReadOnly) return error4(c, e4parm, kLocReadOnlyLen);
  f->isLong = newLength >= k4GiB;
  if (f->cached) {
    if (f->isLong) {
      if (file4cacheSet(f, 0, 0, 0, nullptr) < 0 || f->cached)
        return error4(c, e4result, kLocLenSet);
    } else {
      const uint64_t oldLength = file4lenLow(f);
      if (oldLength == UINT64_MAX) return -1;
      if (newLength < oldLength && cache4fileTruncate(f, newLength, oldLength) < 0) return -1;
      if (f->bufferWrites) f->knownLength = newLength;
    }
  }
  if (f->readAheadUsed) file4aheadDrop(f);
  std::lock_guard guard(f->section);
  if (file4writesEnded(f)) return error4describe(c, e4lenSet, kLocLenSet, f->name, nullptr, nullptr);
  file4cutWrites(f, newLength);
  f->unsynced = true;
  f->roomEnd = 0;  // room set aside may go with a new length
  if (const int rc = platform::os().truncateFile(f->handle, newLength); rc != 0) {
    code4diskFailed(c, Disk4Call::kLength, -rc, f->name);
    return error4describe(c, e4lenSet, kLocLenSet, f->name, nullptr, nullptr);
  }
  return 0;
}

int32_t file4syncLow(FILE4* f) {
  std::lock_guard guard(f->section);
  if (f->inMemory || (!f->syncFailed && !f->unsynced)) return 0;
  // Linux reports a lost write-back once and answers the next sync with
  // success: a file that failed one is never called synced again.
  const int rc = f->syncFailed ? -EIO : platform::os().syncFile(f->handle);
  if (rc == 0) {
    f->unsynced = false;
    return 0;
  }
  if (!f->syncFailed) code4diskFailed(f->codeBase, Disk4Call::kSync, -rc, f->name);
  f->syncFailed = true;
  if (f->codeBase != nullptr) f->codeBase->syncFailed = true;
  return -1;
}

int32_t file4flushOs(FILE4* f) {
  if (!f->onDisk || f->handle < 0) return 0;
  // A queued write the disk refuses fails the flush; what did land is
  // synced all the same.
  const int32_t written = file4writeDelayFlush(f, 1);
  if (file4syncLow(f) < 0)
    return error4describe(f->codeBase, e4optFlush, kLocFlushOs, f->name, nullptr, nullptr);
  return written < 0 ? -1 : 0;
}

int32_t file4flushBlocks(FILE4* f, int discard) {
  if (f == nullptr || !f->cached) return 0;
  int32_t rc = cache4fileFlush(f, discard);
  // The disk reaches the known length; a held write beyond a gap that no
  // block covers would otherwise leave the file short. It never shrinks
  // here: every shorter length has reached the disk already. Only once
  // every block is written: a length set past a refused block would leave
  // a hole in the file where its bytes belong.
  const uint64_t known = f->knownLength;
  if (known != UINT64_MAX && rc == 0) {
    const uint64_t disk = cache4diskLength(f);
    if (disk == UINT64_MAX || (disk < known && file4lenSetLow(f, known) < 0)) rc = -1;
  }
  return rc;
}

int32_t file4handOver(FILE4* f) {
  if (f == nullptr || f->isReadOnly) return 0;
  const int32_t rc = file4writeHeld(f);
  if (rc == 0 && f->onDisk && f->handle >= 0 && f->unsynced)
    platform::os().startWriteback(f->handle);  // a hint: a failure leaves it to the sync
  return rc;
}

int32_t file4writeHeld(FILE4* f) {
  int32_t rc = file4flushBlocks(f, 0);
  if (file4writeDelayFlush(f, 1) < 0) rc = -1;
  return rc;
}

int32_t file4flush(FILE4* f) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocFlush);
  if (f->isReadOnly) return 0;
  // A failure to write out the cache's blocks is the flush's failure too.
  const int32_t blocks = file4flushBlocks(f, 0);
  const int32_t saved = error4set(f->codeBase, 0);
  const int32_t rc = file4flushOs(f);
  if (saved != 0) error4set(f->codeBase, saved);
  if (rc < 0) return rc;
  return blocks < 0 ? -1 : 0;
}

int32_t file4refresh(FILE4* f) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocRefresh);
  if (f->cached && f->accessMode == 0) {
    file4flushBlocks(f, 1);
    f->knownLength = UINT64_MAX;
    if (f->readAheadUsed) file4aheadDrop(f);
  }
  return 0;
}
