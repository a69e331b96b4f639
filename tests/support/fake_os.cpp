#include "tests/support/fake_os.h"

namespace testing_support {

void Gate::open() {
  {
    std::lock_guard guard(mutex_);
    isOpen_ = true;
  }
  opened_.notify_all();
}

void Gate::pass() {
  std::unique_lock lock(mutex_);
  opened_.wait(lock, [this] { return isOpen_; });
}

bool FakeOs::startThread(std::thread& thread, std::function<void()> body) {
  const int index = started_.fetch_add(1);
  const int refuseFrom = refuseThreadsFrom.load();
  if (refuseFrom >= 0 && index >= refuseFrom) return false;
  if (Gate* gate = threadGate) {
    return Os::startThread(thread, [gate, body = std::move(body)] {
      gate->pass();
      body();
    });
  }
  return Os::startThread(thread, std::move(body));
}

int64_t FakeOs::steadyMillis() { return Os::steadyMillis() + skew_.fetch_add(clockStep.load()); }

uint64_t FakeOs::availablePhysicalMemory() {
  const uint64_t answer = memory.load();
  return answer != 0 ? answer : Os::availablePhysicalMemory();
}

}  // namespace testing_support
