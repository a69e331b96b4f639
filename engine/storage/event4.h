// A manual-reset event: once set it stays set, releasing every waiter,
// until it is reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class Event4 {
 public:
  void set() {
    {
      std::lock_guard guard(mutex_);
      signalled_ = true;
    }
    changed_.notify_all();
  }

  void reset() {
    std::lock_guard guard(mutex_);
    signalled_ = false;
  }

  bool isSet() {
    std::lock_guard guard(mutex_);
    return signalled_;
  }

  void wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return signalled_; });
  }

  // True when the event was set within `timeout`.
  bool waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return signalled_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;  // guarded by mutex_
};
