// A platform double for fault tests: it defers to the real system unless a
// test asks it to fail or to bend time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

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

  int threadsStarted() const { return started_.load(); }

  bool startThread(std::thread& thread, std::function<void()> body) override;
  int64_t steadyMillis() override;
  uint64_t availablePhysicalMemory() override;

 private:
  std::atomic<int> started_{0};
  std::atomic<int64_t> skew_{0};
};

}  // namespace testing_support
