// The one place where long loops on the interface thread (a walk, an
// insertion, a search, an export, an import) let the window breathe:
// repaint, and take the click on a Stop or Cancel button.
//
// Tests replace the pump with ScopedMessagePump, to count the calls or to
// press a button in the middle of a loop.
#pragma once

#include <cstdint>
#include <functional>

// Handles the pending events of the interface thread (by default
// QCoreApplication::processEvents), or runs the test's replacement.
void PumpMessages();

// PumpMessages at most once every `intervalMillis`: a loop calls Pump as
// often as it likes and pays for the events only when that time has passed
// since the last time it pumped. The first call pumps.
class ThrottledPump {
 public:
  static constexpr int64_t kDefaultIntervalMillis = 30;

  explicit ThrottledPump(int64_t intervalMillis = kDefaultIntervalMillis);
  // True when it pumped.
  bool Pump();
  // Whether Pump would let the events through now: a loop prepares what
  // they are to show (a progress bar that repaints at once) only then.
  bool Due() const;

 private:
  int64_t interval_;
  int64_t last_ = 0;
  bool pumped_ = false;
};

// Puts `pump` in place of the event handling for the guard's lifetime.
// Tests only; guards nest.
class ScopedMessagePump {
 public:
  explicit ScopedMessagePump(std::function<void()> pump);
  ~ScopedMessagePump();
  ScopedMessagePump(const ScopedMessagePump&) = delete;
  ScopedMessagePump& operator=(const ScopedMessagePump&) = delete;

 private:
  std::function<void()> previous_;
};
