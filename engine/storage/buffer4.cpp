#include "engine/storage/buffer4.h"

#include <algorithm>

#include "engine/storage/code4.h"
#include "platform/os.h"

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
  if (c->bufferingRunning) return 0;
  // This engine keeps no block cache: every read and write goes straight to
  // the file layer, so buffering never runs.
  return -1;
}

int32_t code4cacheSuspend(CODE4* c) {
  if (c == nullptr) return 0;
  c->bufferingDisabled = true;
  c->bufferingRunning = false;
  return 0;
}
