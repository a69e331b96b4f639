// Byte-range locks on a file, with the engine's retry rounds.
#include <algorithm>
#include <cerrno>

#include "engine/storage/cache4.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocLock = 90069;
constexpr int32_t kLocUnlock = 90070;
constexpr int32_t kLocLockClosed = 80015;

enum class Attempt { Taken, HeldElsewhere, Failed };

bool overlapsHeld(const FILE4* f, uint64_t offset, uint64_t length) {
  return std::any_of(f->heldRanges.begin(), f->heldRanges.end(), [&](const auto& held) {
    return offset < held.offset + held.length && held.offset < offset + length;
  });
}

// One try. A range this handle already holds counts as held elsewhere, as
// a second lock of a held range by the same handle fails.
Attempt tryLock(FILE4* f, uint64_t offset, uint64_t length, int& error) {
  std::lock_guard guard(f->section);
  if (overlapsHeld(f, offset, length)) return Attempt::HeldElsewhere;
  // A write lock needs a descriptor open for writing; a read-only file
  // takes a read lock, which still excludes every writer.
  const int rc = platform::os().rangeLock(f->handle, !f->isReadOnly, offset, length);
  if (rc == 0) {
    f->heldRanges.push_back({offset, length});
    return Attempt::Taken;
  }
  error = -rc;
  return rc == -EAGAIN || rc == -EACCES ? Attempt::HeldElsewhere : Attempt::Failed;
}

}  // namespace

int32_t file4lock(FILE4* f, int64_t offset, int64_t length) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocLock);
  CODE4* c = f->codeBase;
  if (offset < 0 || length < 0) return error4(c, e4parm, kLocLock);
  if (length == 0 || f->accessMode == 1) return 0;
  if (f->handle < 0) return error4(c, e4parm, kLocLockClosed);
  if (error4code(c) < 0) return -1;
  int32_t attempts = c->lockAttempts == 0 ? 1 : c->lockAttempts;
  for (;;) {
    int error = 0;
    switch (tryLock(f, static_cast<uint64_t>(offset), static_cast<uint64_t>(length), error)) {
      case Attempt::Taken:
        file4cacheWriteSet(f, 1);
        return 0;
      case Attempt::Failed:
        return error4describe(c, e4lock, kLocLock, f->name, nullptr, nullptr);
      case Attempt::HeldElsewhere:
        break;
    }
    if (attempts == 1) return r4locked;
    if (attempts > 1) attempts--;
    platform::os().sleepMillis(static_cast<int64_t>(c->lockDelay) * 10);
  }
}

int32_t file4unlock(FILE4* f, int64_t offset, int64_t length) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocUnlock);
  CODE4* c = f->codeBase;
  if (offset < 0 || length < 0) return error4(c, e4parm, kLocUnlock);
  if (length == 0 || f->accessMode == 1) return 0;
  // Writes the cache held under the lock reach the disk before it goes.
  file4cacheWriteSet(f, 0);
  std::lock_guard guard(f->section);
  auto held = std::find_if(f->heldRanges.begin(), f->heldRanges.end(), [&](const auto& range) {
    return range.offset == static_cast<uint64_t>(offset) &&
           range.length == static_cast<uint64_t>(length);
  });
  if (held == f->heldRanges.end() || f->handle < 0 ||
      platform::os().rangeUnlock(f->handle, held->offset, held->length) != 0)
    return error4describe(c, e4unlock, kLocUnlock, f->name, nullptr, nullptr);
  f->heldRanges.erase(held);
  return 0;
}

int flags4isSet(const F4FLAG* flags, uint32_t n) {
  if (flags == nullptr || flags->flags == nullptr || n >= flags->numFlags) return 0;
  return (flags->flags[n / 8] >> (n % 8)) & 1;
}
