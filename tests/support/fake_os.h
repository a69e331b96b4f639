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

  // The fields below are set by the test before the code under test runs.
  // When set, the local wall clock stands still at this moment.
  std::optional<platform::LocalTime> now;
  // When set, the whole environment: variables not in it are not set.
  std::optional<std::map<std::string, std::string>> environmentVariables;
  // When true, sleeps return at once; they are counted either way.
  bool skipSleeps = false;
  // When set, the current directory; an empty text cannot be told.
  std::optional<std::string> workingDirectory;
  // When not 0, every removal fails with this errno.
  int removeErrno = 0;

  int threadsStarted() const { return started_.load(); }
  int64_t millisSlept() const { return slept_.load(); }
  std::vector<std::string> removed() const;

  bool startThread(std::thread& thread, std::function<void()> body) override;
  int64_t steadyMillis() override;
  uint64_t availablePhysicalMemory() override;
  platform::LocalTime localTime() override;
  const char* environment(const char* name) override;
  void sleepMillis(int64_t millis) override;
  bool currentDirectory(char* buffer, size_t size) override;
  int removeFile(const char* name) override;

 private:
  std::atomic<int> started_{0};
  std::atomic<int64_t> skew_{0};
  std::atomic<int64_t> slept_{0};
  mutable std::mutex removedMutex_;
  std::vector<std::string> removed_;  // names removed, guarded by removedMutex_
};

}  // namespace testing_support
