#include "app/MessagePump.h"

#include <QCoreApplication>
#include <utility>

#include "catalog/Cberrorhook.h"
#include "platform/os.h"

namespace {

// The test's replacement, or empty; interface thread only.
std::function<void()>& replacement() {
  static std::function<void()> pump;
  return pump;
}

}  // namespace

void PumpMessages() {
  if (replacement()) {
    replacement()();
  } else {
    QCoreApplication::processEvents();
  }
  PresentPendingDbErrors();
}

ThrottledPump::ThrottledPump(int64_t intervalMillis) : interval_(intervalMillis) {}

bool ThrottledPump::Due() const {
  return !pumped_ || platform::os().steadyMillis() - last_ >= interval_;
}

bool ThrottledPump::Pump() {
  const int64_t now = platform::os().steadyMillis();
  if (pumped_ && now - last_ < interval_) return false;
  pumped_ = true;
  last_ = now;
  PumpMessages();
  return true;
}

ScopedMessagePump::ScopedMessagePump(std::function<void()> pump)
    : previous_(std::exchange(replacement(), std::move(pump))) {}

ScopedMessagePump::~ScopedMessagePump() { replacement() = std::move(previous_); }
