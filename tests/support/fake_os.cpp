#include "tests/support/fake_os.h"

#include <cstring>

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

platform::LocalTime FakeOs::localTime() { return now ? *now : Os::localTime(); }

const char* FakeOs::environment(const char* name) {
  if (!environmentVariables) return Os::environment(name);
  auto found = environmentVariables->find(name);
  return found == environmentVariables->end() ? nullptr : found->second.c_str();
}

void FakeOs::sleepMillis(int64_t millis) {
  slept_.fetch_add(millis);
  if (!skipSleeps) Os::sleepMillis(millis);
}

bool FakeOs::currentDirectory(char* buffer, size_t size) {
  if (!workingDirectory) return Os::currentDirectory(buffer, size);
  if (workingDirectory->empty() || workingDirectory->size() >= size) return false;
  std::memcpy(buffer, workingDirectory->c_str(), workingDirectory->size() + 1);
  return true;
}

int FakeOs::removeFile(const char* name) {
  if (removeErrno != 0) return removeErrno;
  const int result = Os::removeFile(name);
  if (result == 0) {
    std::lock_guard guard(removedMutex_);
    removed_.emplace_back(name);
  }
  return result;
}

std::vector<std::string> FakeOs::removed() const {
  std::lock_guard guard(removedMutex_);
  return removed_;
}

}  // namespace testing_support
