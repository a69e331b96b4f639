// A disk that fails chosen calls, for I/O-error tests in the manner of
// SQLite's: a run is made once to count the disk calls it makes to one
// folder's files, then again with call k failing, for every k; or the
// calls of one kind to one file fail, for a test of one fault.
//
// The calls counted are those that reach the folder's files or the folder
// itself: reads, writes, syncs of a file or of the folder, length changes,
// renames and room set aside. A failing call answers EIO, a write or a
// reservation ENOSPC. A transient fault fails call k alone; a persistent
// one fails call k and every later call of its kind, as a disk that died
// or filled does. Syncs are answered at once: the real disk is never
// waited for.
//
// Thread rule: calls come from the thread that owns the catalogue (the
// engine runs without workers in these tests).
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/os.h"

namespace testing_support {

class IoFaultOs : public platform::Os {
 public:
  enum class Call { kRead, kWrite, kSync, kLength, kRename, kReserve };
  static int errnoOf(Call kind) {
    return kind == Call::kWrite || kind == Call::kReserve ? ENOSPC : EIO;
  }

  // `folder` as the catalogue is given it ("data").
  explicit IoFaultOs(std::string folder);

  // Calls are counted, and fail by number, only while armed.
  bool armed = false;
  // The call (from 1, counted while armed) that fails; 0 none.
  int64_t failAt = 0;
  bool persistent = false;
  // Fails the calls of `kind` to the file whose name ends with `nameEnd`
  // (the folder's own name for a sync of the folder), armed or not: every
  // one from now on, or with `once` the next one only.
  void failCalls(Call kind, const std::string& nameEnd, bool once = false);

  int64_t calls() const { return calls_; }
  // Whether a call failed, of what kind, and what the file was.
  bool fired() const { return fired_; }
  // The number of the first call that failed.
  int64_t firedAt() const { return firedAt_; }
  Call firedCall() const { return firedCall_; }
  int firedErrno() const { return errnoOf(firedCall_); }
  // Whether a sync failed and something was written to the folder's files
  // after it (the first such write's file in `writtenAfter`).
  bool wroteAfterFailedSync() const { return !writtenAfter_.empty(); }
  const std::string& writtenAfter() const { return writtenAfter_; }

  int openFile(const char* path, int flags, int mode) override;
  int closeFile(int fd) override;
  int64_t readAt(int fd, void* buffer, size_t n, uint64_t offset) override;
  int64_t writeAt(int fd, const void* data, size_t n, uint64_t offset) override;
  int truncateFile(int fd, uint64_t size) override;
  int reserveSpace(int fd, uint64_t offset, uint64_t length) override;
  int syncFile(int fd) override;
  int syncFolder(const char* path) override;
  int startWriteback(int) override { return 0; }
  int renameFile(const char* from, const char* to) override;

 private:
  // Whether `path` names the folder or an entry directly in it.
  bool ours(const std::string& path) const;
  // Counts a call of `kind` to `name`; the errno it must fail with, or 0.
  int fault(Call kind, const std::string& name);
  // The errno of a named fault on `name`, or 0.
  int namedFault(Call kind, const std::string& name);
  void wrote(int fd);

  struct Named {
    Call kind;
    std::string nameEnd;
    bool once;
  };
  std::string folder_;
  std::map<int, std::string> names_;  // descriptors of the folder's files
  std::vector<Named> named_;
  int64_t calls_ = 0;
  bool fired_ = false;
  int64_t firedAt_ = 0;
  Call firedCall_ = Call::kRead;
  bool syncFailed_ = false;
  std::string writtenAfter_;
};

}  // namespace testing_support
