// Pools of equal-sized units and the engine's heap helpers.
//
// Fixed-size structures (data handles, data files, tags, lock holders, node
// buffers, worker requests) come from pools that grow by whole chunks and
// are shared process-wide between every user asking for the same unit size,
// unless a pool is asked for as private. A pool hands back the unit freed
// last first. Units are at least one LINK4 and aligned to 16 bytes, so a
// free unit can hold its link in the free list.
//
// All pool operations run under the process-wide pool lock, which lets the
// worker threads take and return units while the owner uses other pools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "engine/storage/list4.h"

struct CODE4;

struct MEMORY4 {
  LINK4 link;            // in the process-wide list of pools in use
  LIST4 chunks;          // heap blocks, each a LINK4 then its units
  LIST4 freeUnits;       // available units, in the order they are handed out
  int32_t unitStart = 0;   // units in the first chunk
  int32_t unitSize = 0;    // bytes of one unit
  int32_t unitExpand = 0;  // units in every later chunk
  int32_t useCount = 0;    // users sharing the pool; -1 for a private pool
};

// Process-wide set-up and tear-down, reference counted: the first
// initialised settings object calls memory4init, the last undone one
// memory4reset (which frees every pool of every user).
void memory4init();
void memory4reset();

// True while at least one settings object holds the pools set up.
bool memory4active();

MEMORY4* memory4create(CODE4* c, int32_t start, int32_t unitSize, int32_t expand,
                       bool privatePool);
void* memory4createAlloc(CODE4* c, MEMORY4** pool, int32_t start, int32_t unitSize,
                         int32_t expand, bool privatePool, bool zero);
void* memory4alloc(MEMORY4* pool, bool zero);
void* memory4allocDefault(MEMORY4* pool, CODE4* c, bool zero);
int32_t memory4free(MEMORY4* pool, void* unit);
void memory4release(MEMORY4* pool);

// The actual unit size of a pool asked for with `requested` bytes.
int32_t memory4unitSize(int32_t requested);

// Heap helpers. Blocks from them are zero-filled and freed with
// memory4freeBlock.
void* memory4allocZero(int64_t size);
void* memory4allocRetry(CODE4* c, int64_t size);
void* memory4allocOrError(CODE4* c, int64_t size);
void memory4freeBlock(void* block);

// Grows a work buffer to `newSize`, keeping its contents; a smaller size
// keeps the buffer. -920 (not raised) leaves the old buffer in place.
int32_t memory4grow(CODE4* c, char** buffer, uint32_t* size, uint32_t newSize);

// The process-wide lock taken for the whole of one expression evaluation.
std::recursive_mutex& memory4evaluationLock();
