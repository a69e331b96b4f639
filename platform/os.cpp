#include "platform/os.h"

#include <sys/sysinfo.h>

#include <atomic>
#include <chrono>
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

Os& os() {
  Os* installed = current.load(std::memory_order_acquire);
  return installed ? *installed : systemOs();
}

ScopedOs::ScopedOs(Os& replacement) : previous_(current.exchange(&replacement)) {}

ScopedOs::~ScopedOs() { current.store(previous_); }

}  // namespace platform
