// A platform double for fault tests: it defers to the real system unless a
// test asks it to fail or to bend time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"

namespace testing_support {

// A gate that holds threads until it is opened.
class Gate {
 public:
  void open();
  void pass();

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool isOpen_ = false;
};

class FakeOs : public platform::Os {
 public:
  // Thread starts refused from the n-th on (0 refuses every one; -1 none).
  std::atomic<int> refuseThreadsFrom{-1};
  // When set, started threads wait at this gate before running their body.
  Gate* threadGate = nullptr;
  // Milliseconds added to the clock at each reading.
  std::atomic<int64_t> clockStep{0};
  // Answer for available memory; 0 asks the real system.
  std::atomic<uint64_t> memory{0};
  // Answer for the sector size of every disk; 0 asks the real system.
  std::atomic<uint32_t> sector{0};

  // File faults: an errno (0 for none) returned by the next calls.
  std::atomic<int> openError{0};
  std::atomic<int> closeError{0};
  std::atomic<int> syncError{0};
  // Bytes every write may still put on disk before the disk is full;
  // negative for no limit. A write beyond it is cut short, then ENOSPC.
  std::atomic<int64_t> diskSpace{-1};
  std::atomic<int> syncCalls{0};
  // A modelled disk (a power-cut model): syncs succeed at once and the real
  // disk is never waited for.
  std::atomic<bool> syncsAnsweredAtOnce{false};
  std::atomic<int> readCalls{0};  // reads of every thread
  // Whether reads that never wait for the disk find the bytes: by default
  // nothing is cached, so that every read ahead goes to a worker.
  std::atomic<bool> pageCacheHolds{false};
  // The fields below are set by the test before the code under test runs.
  // When set, the local wall clock stands still at this moment.
  std::optional<platform::LocalTime> now;
  // When set, the whole environment: variables not in it are not set.
  std::optional<std::map<std::string, std::string>> environmentVariables;
  // When true, sleeps return at once; they are counted either way.
  bool skipSleeps = false;
  // When set, the current directory; an empty text cannot be told.
  std::optional<std::string> workingDirectory;
  // When not 0, every reserveSpace fails with this errno, as a file system
  // that cannot set room aside answers (EOPNOTSUPP).
  std::atomic<int> reserveError{0};
  // When not 0, every removal fails with this errno.
  int removeErrno = 0;
  // When not 0, every rename fails with this errno.
  int renameErrno = 0;
  // When not 0, every waiting exclusive lock fails with this errno.
  int lockWaitErrno = 0;
  // When not 0, no child run with a time limit starts: each fails with
  // this errno. They are counted either way.
  int childRunErrno = 0;
  std::atomic<int> childRuns{0};

  int threadsStarted() const { return started_.load(); }
  int64_t millisSlept() const { return slept_.load(); }
  std::vector<std::string> removed() const;

  // Holds every read and write of threads other than the calling one until
  // releaseIo: a worker's transfer then stays in progress.
  void holdOtherThreadsIo();
  void releaseIo();
  // True once a held transfer is waiting.
  bool ioHeld();
  // Slows every read and write of threads other than the calling one by
  // `micros`, so that a worker's transfers overlap the caller's work.
  void slowOtherThreadsIo(int64_t micros);

  // Sizes of the writes seen, when recording.
  std::atomic<bool> recordWrites{false};
  std::vector<size_t> writeSizes();
  // The writes, length changes and syncs seen, in order, when recording:
  // "write NAME", "length NAME" or "sync NAME", NAME the file's name
  // without its folder; a write at offset 0 adds its first byte ("write
  // CATALOG.PND A").
  std::atomic<bool> recordEvents{false};
  std::vector<std::string> events();

  // Faults of one file, named by the end of its path ("t.fpt", "C4.log"):
  // from now on every transfer of that kind fails with `error` (0 lifts
  // the fault). Files opened before the fault was set count too.
  // With `once`, only the next such transfer fails, and later ones pass:
  // as Linux reports a lost write-back to one sync and answers the next
  // with success.
  enum class Io { read, write, sync };
  void failFile(Io io, const std::string& nameEnd, int error, bool once = false);

  // A process death for crash tests: the process ends with _exit(exitCode)
  // instead of performing its n-th write from now on (1 for the next one);
  // 0 never. Writes and new lengths are counted, whatever file they go to.
  void exitAtWrite(int64_t n, int exitCode);
  // Writes performed since the last exitAtWrite.
  int64_t writesSeen() const { return writesSeen_.load(); }
  // A disk that fills: its n-th write from now on (counted as exitAtWrite
  // counts) puts only its first half on the disk, and every write after it
  // that reaches past the end of its file stops there, then fails with
  // ENOSPC; bytes within a file are still written over and lengths still
  // change, as on a real disk. 0 gives the room back.
  void fillDiskAtWrite(int64_t n);

  bool startThread(std::thread& thread, std::function<void()> body) override;
  int64_t steadyMillis() override;
  uint64_t availablePhysicalMemory() override;
  uint32_t sectorSize(const char* path) override;
  int openFile(const char* path, int flags, int mode) override;
  int closeFile(int fd) override;
  int64_t writeAt(int fd, const void* data, size_t n, uint64_t offset) override;
  int truncateFile(int fd, uint64_t size) override;
  // Room set aside beyond a file's end takes writes on a full disk (and
  // from diskSpace only as it is set aside); on a full disk none is had.
  int reserveSpace(int fd, uint64_t offset, uint64_t length) override;
  // A memory file is no part of the disk: a full disk never refuses it.
  int openMemoryFile(const char* name) override;
  int syncFile(int fd) override;
  int syncFolder(const char* path) override;
  int removeFile(const char* path) override;
  int renameFile(const char* from, const char* to) override;
  int waitExclusiveLock(int fd) override;
  int runWithTimeLimit(const std::vector<std::string>& arguments, int64_t limitMillis,
                       size_t outputLimit, platform::ChildEnd& end) override;
  platform::LocalTime localTime() override;
  const char* environment(const char* name) override;
  void sleepMillis(int64_t millis) override;
  bool currentDirectory(char* buffer, size_t size) override;
  int64_t readAt(int fd, void* buffer, size_t n, uint64_t offset) override;
  int64_t readAtIfCached(int fd, void* buffer, size_t n, uint64_t offset) override;

 private:
  // The injected errno for a transfer of `io` on `fd`, or 0.
  int fileFault(Io io, int fd);
  // The path `fd` was opened with; empty when it cannot be told. Takes
  // filesMutex_.
  std::string pathOf(int fd);
  void noteEvent(const char* what, int fd, const void* data = nullptr, uint64_t offset = 1);
  void dieIfDue();
  std::mutex filesMutex_;
  std::map<int, std::string> openNames_;  // descriptor to path, guarded by filesMutex_
  struct Fault {
    int error;
    bool once;
  };
  std::map<std::string, Fault> faults_[3];  // by name end, per Io; guarded by filesMutex_
  std::atomic<bool> anyFault_{false};
  std::atomic<int64_t> exitAt_{0};
  std::atomic<int64_t> writesSeen_{0};
  std::atomic<int64_t> fullAt_{0};  // the write that fills the disk; 0 never
  std::map<std::string, uint64_t> roomEnds_;  // by path, room set aside; guarded by filesMutex_
  std::map<int, bool> memoryFiles_;           // descriptors of memory files; guarded by filesMutex_
  bool inMemory(int fd);
  // The room set aside for the file of `fd` (0 none).
  uint64_t roomEndOf(int fd);
  int exitCode_ = 0;

  std::atomic<int> started_{0};
  std::atomic<int64_t> skew_{0};
  std::atomic<int64_t> slept_{0};
  mutable std::mutex removedMutex_;
  std::vector<std::string> removed_;  // names removed, guarded by removedMutex_
  void waitIfHeld();
  std::mutex ioMutex_;
  std::condition_variable ioChanged_;
  bool holding_ = false;             // guarded by ioMutex_
  int waiting_ = 0;                  // guarded by ioMutex_
  std::thread::id exempt_;           // guarded by ioMutex_
  int64_t slowMicros_ = 0;           // guarded by ioMutex_
  std::vector<size_t> writeSizes_;   // guarded by ioMutex_
  std::vector<std::string> events_;  // guarded by ioMutex_
};

}  // namespace testing_support
