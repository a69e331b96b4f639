// The one door between the program and the operating system.
//
// Every system call the engine or the program makes goes through the
// current `platform::Os`. The real implementation lives in os.cpp; a test
// installs a subclass with `ScopedOs` to inject faults (a thread that will
// not start, a clock that jumps, a machine with little memory) without root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

namespace platform {

// A moment of the wall clock in the local time zone, as the calendar shows
// it: month 1-12, day 1-31, hour 0-23, minute and second 0-59 (60 on a leap
// second), millisecond 0-999.
struct LocalTime {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
};

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

  // The wall clock now, in the local time zone (TZ).
  virtual LocalTime localTime();

  // The value of an environment variable, or null when it is not set. The
  // text stays valid until the variable is changed.
  virtual const char* environment(const char* name);

  // Suspends the calling thread for at least `millis` milliseconds.
  virtual void sleepMillis(int64_t millis);

  // Writes the absolute current directory, NUL-terminated, into `buffer`.
  // False when it cannot be told or does not fit into `size` bytes.
  virtual bool currentDirectory(char* buffer, size_t size);

  // Deletes the named file: 0, or the errno of the failure.
  virtual int removeFile(const char* name);
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
