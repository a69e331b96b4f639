// The buffering budget and the switch of the block cache.
#pragma once

#include <cstdint>

struct CODE4;

// Sets the memory the block cache may use to `percent` of the available
// physical memory; a share outside 0..100 disables buffering for good.
// Nothing happens while buffering is disabled or running.
void code4cacheSizes(CODE4* c, int32_t percent);

// Starts the block cache: 0, or -1 when it cannot run.
int32_t code4cacheStart(CODE4* c);

// Disables buffering and writes out and frees what it holds: 0 or -620.
int32_t code4cacheSuspend(CODE4* c);
