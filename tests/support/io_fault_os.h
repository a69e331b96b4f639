// A disk that fails chosen calls, for I/O-error tests in the manner of
// SQLite's: a run is made once to count the disk calls it makes to one
// folder's files, then again with call k failing, for every k; or the
// calls of one kind to one file fail, for a test of one fault.
//
// The calls counted are those that reach the folder's files or the folder
// itself: opens (of a file there, or to make one), reads (those that ask only the page cache too),
// writes, syncs of a file or of the folder, length changes, renames, removals and room set aside. A
// failing call answers EIO; a write ENOSPC unless `writeErrno` says otherwise, a room set aside
// ENOSPC unless `reserveErrno` does. A transient fault fails call k alone; a persistent one fails
// call k and every later call of its kind, as a disk that died or filled does. Syncs are answered
// at once: the real disk is never waited for. The page cache holds every byte: a read that asks
// only the page cache is answered from the file, on the caller's thread, so that where reads go
// does not hang on what the machine happens to cache.
//
// Thread rule: calls may come from any thread (the engine's workers
// among them); the counters and names are guarded by one mutex. The
// settings below are made before the code under test runs.
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"

namespace testing_support {

class IoFaultOs : public platform::Os {
 public:
  enum class Call { kRead, kWrite, kSync, kLength, kRename, kReserve, kOpen, kCreate, kRemove };
  static constexpr int kCallKinds = 9;
  static const char* nameOf(Call kind);
  // The errno a failing call of `kind` answers by default.
  static int errnoOf(Call kind) {
    return kind == Call::kWrite || kind == Call::kReserve ? ENOSPC : EIO;
  }
  // The errno a failing call of `kind` answers on this disk.
  int errnoFor(Call kind) const {
    if (kind == Call::kWrite) return writeErrno;
    if (kind == Call::kReserve) return reserveErrno;
    return errnoOf(kind);
  }

  // `folder` as the catalogue is given it ("data").
  explicit IoFaultOs(std::string folder);

  int writeErrno = ENOSPC;
  int reserveErrno = ENOSPC;
  // Calls are counted, and fail by number, only while armed.
  bool armed = false;
  // The call (from 1, counted while armed) that fails; 0 none.
  int64_t failAt = 0;
  bool persistent = false;
  // When set, only calls of this kind are counted (and fail by number).
  std::optional<Call> onlyKind;
  // Fails the calls of `kind` to the file whose name ends with `nameEnd`
  // (the folder's own name for a sync of the folder), armed or not: every
  // one from now on, or with `once` the next one only.
  void failCalls(Call kind, const std::string& nameEnd, bool once = false);

  int64_t calls() const;
  // Each call counted, in order, from 1 (index 0 is unused).
  struct Counted {
    Call kind;
    std::string file;
  };
  std::vector<Counted> counted() const;
  // The calls counted of each kind.
  int64_t callsOf(Call kind) const;
  // Whether a call failed, of what kind, and what the file was.
  bool fired() const;
  // The number of the first call that failed.
  int64_t firedAt() const;
  Call firedCall() const;
  // The path of the file (or folder) whose call failed first.
  std::string firedFile() const;
  int firedErrno() const { return errnoFor(firedCall()); }
  // Whether a sync failed and something in the folder changed after it
  // through this disk (a file written, cut, made, renamed or removed; the
  // first such file in `writtenAfter`).
  bool wroteAfterFailedSync() const;
  std::string writtenAfter() const;
  // What differs in the folder now from when the first sync failed, by
  // every file's name, size and time of change, whoever changed it; empty
  // when nothing does, or no sync failed.
  std::string folderChangedSinceFailedSync() const;

  int openFile(const char* path, int flags, int mode) override;
  int closeFile(int fd) override;
  int64_t readAt(int fd, void* buffer, size_t n, uint64_t offset) override;
  int64_t readAtIfCached(int fd, void* buffer, size_t n, uint64_t offset) override;
  int64_t writeAt(int fd, const void* data, size_t n, uint64_t offset) override;
  int truncateFile(int fd, uint64_t size) override;
  int reserveSpace(int fd, uint64_t offset, uint64_t length) override;
  int syncFile(int fd) override;
  int syncFolder(const char* path) override;
  int startWriteback(int) override { return 0; }
  int renameFile(const char* from, const char* to) override;
  int removeFile(const char* path) override;

 private:
  // Whether `path` names the folder or an entry directly in it.
  bool ours(const std::string& path) const;
  // Counts a call of `kind` to `name`; the errno it must fail with, or 0.
  // Takes mutex_.
  int fault(Call kind, const std::string& name);
  // Of a call to the open file `fd`: 0 for a file not the folder's.
  int faultOf(Call kind, int fd);
  // The errno of a named fault on `name`, or 0. mutex_ held.
  int namedFault(Call kind, const std::string& name);
  // A change to the folder's file `name` (written, cut, made, renamed,
  // removed). mutex_ held.
  void changed(const std::string& name);

  struct Named {
    Call kind;
    std::string nameEnd;
    bool once;
  };
  std::string folder_;
  mutable std::mutex mutex_;
  std::map<int, std::string> names_;      // descriptors of the folder's files; mutex_
  std::vector<Named> named_;              // mutex_
  int64_t calls_ = 0;                     // mutex_
  int64_t callsOf_[kCallKinds] = {};      // mutex_
  std::vector<Counted> counted_{{Call::kRead, ""}};  // mutex_
  bool fired_ = false;                    // mutex_
  int64_t firedAt_ = 0;                   // mutex_
  Call firedCall_ = Call::kRead;          // mutex_
  std::string firedFile_;                 // mutex_
  bool syncFailed_ = false;               // mutex_
  std::string writtenAfter_;              // mutex_
  std::string listingAtFailedSync_;       // mutex_
  // The folder's files, each with its size and time of change.
  std::string listing() const;
};

}  // namespace testing_support
