#include "engine/storage/buffer4.h"

#include <algorithm>
#include <bit>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocStart = 90208;
constexpr int32_t kLocSuspend = 90209;
constexpr int64_t kFewestBuffers = 8;  // the budget must hold this many
constexpr int64_t kWorkAreas = 4;      // buffers of the budget left for work areas
constexpr int32_t kEnoughBuffers = 4;  // fewer obtained: retry with smaller ones

// The block size: the setting rounded down to whole sectors, at least one
// sector, and a power of two so that a block is found by a shift and a
// mask (sectors are powers of two).
uint32_t chooseBlockSize(int32_t setting, uint32_t sector) {
  uint32_t size = setting >= static_cast<int32_t>(sector)
                      ? static_cast<uint32_t>(setting) / sector * sector
                      : sector;
  return std::bit_floor(size);
}

}  // namespace

void code4cacheSizes(CODE4* c, int32_t percent) {
  if (c == nullptr || c->bufferingDisabled || c->bufferingRunning) return;
  if (percent < 0 || percent > 100) {
    c->bufferingDisabled = true;
    return;
  }
  // In 64 bits: a share of today's memory easily passes 2 GiB, which the
  // 32-bit setting cannot hold, so the budget is clamped to it.
  const uint64_t available = platform::os().availablePhysicalMemory();
  const uint64_t budget = available / 100 * static_cast<uint64_t>(percent) +
                          available % 100 * static_cast<uint64_t>(percent) / 100;
  c->bufferingSize = static_cast<int32_t>(std::min<uint64_t>(budget, INT32_MAX));
}

int32_t code4cacheStart(CODE4* c) {
  if (c == nullptr) return -1;
  Cache4& k = c->cache;
  if (k.started() || c->bufferingRunning) return 0;
  const uint32_t block = chooseBlockSize(k.settings.blockSize, platform::os().sectorSize("."));
  int64_t buffer = std::max<int64_t>(block, k.settings.bufferSize / block * int64_t{block});
  const int64_t budget = std::max(c->bufferingSize, 0);
  int64_t count = budget / (buffer - 2);
  while (count < kFewestBuffers) {
    buffer -= block;
    if (buffer <= 0) return -1;
    count = budget / (buffer - 2);
  }
  count = std::min<int64_t>(count - kWorkAreas, UINT32_MAX);
  for (;;) {
    const int32_t obtained =
        cache4allocate(c, block, static_cast<uint32_t>(buffer), static_cast<uint32_t>(count));
    if (obtained == e4memory) {
      code4cacheSuspend(c);
      return error4(c, e4memory, kLocStart);
    }
    if (obtained >= kEnoughBuffers) break;
    cache4free(c);
    if (obtained < 1) {
      code4cacheSuspend(c);
      return -1;
    }
    // Memory is short: fewer, smaller buffers.
    count = kEnoughBuffers;
    buffer = buffer / 2 / block * block;
    if (buffer == 0) return -1;
  }
  cache4listsInit(k);
  k.hashTrail = 0;
  k.callingThread = std::this_thread::get_id();
  k.deferredFailure = false;
  c->bufferingRunning = true;
  for (LINK4* link = list4first(&k.files); link != nullptr; link = list4next(&k.files, link))
    cache4serve(c, file4ofCacheLink(link));
  return 0;
}

int32_t code4cacheSuspend(CODE4* c) {
  if (c == nullptr) return 0;
  c->bufferingDisabled = true;
  Cache4& k = c->cache;
  if (!k.started() || !c->bufferingRunning) {
    c->bufferingRunning = false;
    return 0;
  }
  const int32_t saved = error4set(c, 0);
  const int32_t rc = cache4flushAll(c, 1);
  for (LINK4* link = list4first(&k.files); link != nullptr; link = list4next(&k.files, link)) {
    FILE4* f = file4ofCacheLink(link);
    cache4forgetFile(k, f);
    cache4unserve(f);
  }
  c->bufferingRunning = false;
  cache4free(c);
  error4set(c, saved);
  return rc < 0 ? error4(c, e4cacheSuspend, kLocSuspend) : 0;
}

void cache4init(CODE4* c) {
  c->cache.settings = Cache4Settings{};
  list4init(&c->cache.files);
}
