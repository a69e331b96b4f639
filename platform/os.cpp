#include "platform/os.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <system_error>

namespace platform {
namespace {

Os& systemOs() {
  static Os real;
  return real;
}

std::atomic<Os*> current{nullptr};

}  // namespace

bool Os::startThread(std::thread& thread, std::function<void()> body) {
  try {
    thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

int64_t Os::steadyMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

uint64_t Os::availablePhysicalMemory() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  // freeram alone ignores the page cache the kernel would give back; the
  // buffers are reclaimable too.
  return (static_cast<uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
}

LocalTime Os::localTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  LocalTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
  return t;
}

const char* Os::environment(const char* name) { return std::getenv(name); }

void Os::sleepMillis(int64_t millis) {
  if (millis > 0) std::this_thread::sleep_for(std::chrono::milliseconds(millis));
}

bool Os::currentDirectory(char* buffer, size_t size) {
  return size > 0 && getcwd(buffer, size) != nullptr;
}

// unlink, not remove(3): an empty folder of that name must stay.
int Os::removeFile(const char* name) { return unlink(name) == 0 ? 0 : errno; }

Os& os() {
  Os* installed = current.load(std::memory_order_acquire);
  return installed ? *installed : systemOs();
}

ScopedOs::ScopedOs(Os& replacement) : previous_(current.exchange(&replacement)) {}

ScopedOs::~ScopedOs() { current.store(previous_); }

}  // namespace platform
