// The one door between the program and the operating system.
//
// Every system call the engine or the program makes goes through the
// current `platform::Os`. The real implementation lives in os.cpp; a test
// installs a subclass with `ScopedOs` to inject faults (a thread that will
// not start, a clock that jumps, a machine with little memory) without root.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace platform {

class Os {
 public:
  virtual ~Os() = default;

  // Starts `body` on a new thread stored in `thread`. Returns false, with
  // `thread` left not joinable, when the system refuses to create one.
  virtual bool startThread(std::thread& thread, std::function<void()> body);

  // Milliseconds of a monotonic clock; only differences are meaningful.
  virtual int64_t steadyMillis();

  // Bytes of physical memory available to the process now.
  virtual uint64_t availablePhysicalMemory();
};

// The implementation in force. Safe to call from any thread.
Os& os();

// Installs `replacement` (not owned) for the lifetime of the guard. Tests
// only; no engine thread may be running when the guard changes the door.
class ScopedOs {
 public:
  explicit ScopedOs(Os& replacement);
  ~ScopedOs();
  ScopedOs(const ScopedOs&) = delete;
  ScopedOs& operator=(const ScopedOs&) = delete;

 private:
  Os* previous_;
};

}  // namespace platform
