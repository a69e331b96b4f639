#include "engine/storage/memory4.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/storage/buffer4.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocCreate = 90410;
constexpr int32_t kLocFree = 90411;
constexpr int32_t kLocAllocOrError = 90413;
constexpr int32_t kLocGrow = 90339;
constexpr int32_t kLocAllocZero = 80222;
constexpr int32_t kLocDoubleFree = 90412;

constexpr int32_t kUnitAlign = 16;
// A chunk starts with its link, padded so that the units after it keep
// their 16-byte alignment (heap blocks are 16-byte aligned).
constexpr int64_t kChunkHeader = (sizeof(LINK4) + kUnitAlign - 1) / kUnitAlign * kUnitAlign;
constexpr int64_t kMaxChunkBytes = 0xFFFFFFFFLL;

// Process-wide state. The locks live for the whole process rather than
// from the first set-up to the last reset, so a worker that races with a
// reset never touches a destroyed lock.
struct PoolRegistry {
  std::recursive_mutex poolLock;
  std::recursive_mutex evaluationLock;
  LIST4 pools;  // pools in use
  int32_t refCount = 0;
  bool resetting = false;
};

PoolRegistry& registry() {
  static PoolRegistry* r = new PoolRegistry;  // never destroyed: see above
  return *r;
}

bool refusedFor(const CODE4* c) {
  if (!memory4active()) return true;
  return c != nullptr && error4code(c) < 0;
}

void freeChunks(MEMORY4* pool) {
  while (LINK4* chunk = list4pop(&pool->chunks)) std::free(chunk);
  list4init(&pool->freeUnits);
}

// Adds one chunk of fresh units to the pool; false when the heap refuses.
bool addChunk(MEMORY4* pool) {
  int64_t units = pool->chunks.nLink == 0 ? pool->unitStart : pool->unitExpand;
  while (units * pool->unitSize + kChunkHeader > kMaxChunkBytes) units /= 2;
  if (units < 1) return false;
  auto* chunk = static_cast<char*>(memory4allocZero(units * pool->unitSize + kChunkHeader));
  if (chunk == nullptr) return false;
  list4add(&pool->chunks, reinterpret_cast<LINK4*>(chunk));
  for (int64_t i = 0; i < units; i++)
    list4add(&pool->freeUnits, reinterpret_cast<LINK4*>(chunk + kChunkHeader + i * pool->unitSize));
  return true;
}

}  // namespace

int32_t memory4unitSize(int32_t requested) {
  int32_t size = requested < static_cast<int32_t>(sizeof(LINK4)) ? sizeof(LINK4) : requested;
  return (size + kUnitAlign - 1) / kUnitAlign * kUnitAlign;
}

void memory4init() {
  PoolRegistry& r = registry();
  std::lock_guard guard(r.poolLock);
  if (r.refCount++ > 0) return;
  list4init(&r.pools);
}

void memory4reset() {
  PoolRegistry& r = registry();
  std::lock_guard guard(r.poolLock);
  if (r.refCount == 0) return;
  if (--r.refCount > 0) return;
  r.resetting = true;
  while (auto* pool = reinterpret_cast<MEMORY4*>(list4pop(&r.pools))) {
    freeChunks(pool);
    delete pool;
  }
  r.resetting = false;
}

bool memory4active() {
  PoolRegistry& r = registry();
  std::lock_guard guard(r.poolLock);
  return r.refCount > 0 && !r.resetting;
}

MEMORY4* memory4create(CODE4* c, int32_t start, int32_t unitSize, int32_t expand,
                       bool privatePool) {
  if (start < 1 || expand < 1) {
    error4(c, e4parm, kLocCreate);
    return nullptr;
  }
  if (refusedFor(c)) return nullptr;
  const int32_t size = memory4unitSize(unitSize);
  PoolRegistry& r = registry();
  std::lock_guard guard(r.poolLock);
  if (!privatePool) {
    for (auto* pool = list4firstAs<MEMORY4>(&r.pools); pool != nullptr;
         pool = list4nextAs(&r.pools, pool)) {
      if (pool->unitSize != size || pool->useCount <= 0) continue;
      if (start > pool->unitStart) pool->unitStart = start;
      if (expand > pool->unitExpand) pool->unitExpand = expand;
      pool->useCount++;
      return pool;
    }
  }
  auto* pool = new (std::nothrow) MEMORY4;
  if (pool == nullptr) {
    error4set(c, e4memory);
    return nullptr;
  }
  pool->unitStart = start;
  pool->unitSize = size;
  pool->unitExpand = expand;
  pool->useCount = privatePool ? -1 : 1;
  list4add(&r.pools, &pool->link);
  return pool;
}

void* memory4createAlloc(CODE4* c, MEMORY4** pool, int32_t start, int32_t unitSize,
                         int32_t expand, bool privatePool, bool zero) {
  if (*pool == nullptr) *pool = memory4create(c, start, unitSize, expand, privatePool);
  if (*pool == nullptr) return nullptr;
  return memory4allocDefault(*pool, c, zero);
}

void* memory4alloc(MEMORY4* pool, bool zero) { return memory4allocDefault(pool, nullptr, zero); }

void* memory4allocDefault(MEMORY4* pool, CODE4* c, bool zero) {
  if (pool == nullptr) return nullptr;
  void* unit = nullptr;
  {
    std::lock_guard guard(registry().poolLock);
    if (refusedFor(c)) return nullptr;
    if (pool->freeUnits.nLink > 0 || addChunk(pool)) unit = list4pop(&pool->freeUnits);
  }
  if (unit == nullptr) {
    error4set(c, e4memory);
    return nullptr;
  }
  if (zero) std::memset(unit, 0, pool->unitSize);
  return unit;
}

int32_t memory4free(MEMORY4* pool, void* unit) {
  if (unit == nullptr) return 0;
  if (pool == nullptr) return error4(nullptr, e4parmNull, kLocFree);
  if (!memory4active()) return 0;
  std::lock_guard guard(registry().poolLock);
  auto* link = static_cast<LINK4*>(unit);
  // A unit already on the free list still names it as its owner: freeing it
  // twice would hand it out twice.
  if (link->owner == &pool->freeUnits) return error4(nullptr, e4info, kLocDoubleFree);
  *link = LINK4{};  // the user's bytes are not a link
  return list4add(&pool->freeUnits, link);
}

void memory4release(MEMORY4* pool) {
  if (pool == nullptr) return;
  PoolRegistry& r = registry();
  std::lock_guard guard(r.poolLock);
  if (!list4contains(&r.pools, &pool->link)) return;  // already gone with a reset
  if (--pool->useCount >= 1) return;
  freeChunks(pool);
  list4remove(&r.pools, &pool->link);
  delete pool;
}

void* memory4allocZero(int64_t size) {
  if (size < 1) {
    error4(nullptr, e4parm, kLocAllocZero);
    return nullptr;
  }
  if (static_cast<uint64_t>(size) > SIZE_MAX / 2) return nullptr;
  return std::calloc(1, static_cast<size_t>(size));
}

void* memory4allocRetry(CODE4* c, int64_t size) {
  void* block = memory4allocZero(size);
  if (block != nullptr || c == nullptr || !c->bufferingRunning) return block;
  // The block cache gives its buffers back while it is suspended.
  code4cacheSuspend(c);
  block = memory4allocZero(size);
  code4cacheStart(c);
  return block;
}

void* memory4allocOrError(CODE4* c, int64_t size) {
  void* block = memory4allocRetry(c, size);
  if (block == nullptr) error4(c, e4memory, kLocAllocOrError);
  return block;
}

void memory4freeBlock(void* block) { std::free(block); }

int32_t memory4grow(CODE4* c, char** buffer, uint32_t* size, uint32_t newSize) {
  if (*buffer == nullptr && *size > 0) return error4(c, e4parm, kLocGrow);
  if (newSize <= *size) return 0;
  auto* grown = static_cast<char*>(memory4allocRetry(c, newSize));
  if (grown == nullptr) return e4memory;
  if (*buffer != nullptr) std::memcpy(grown, *buffer, *size);
  memory4freeBlock(*buffer);
  *buffer = grown;
  *size = newSize;
  return 0;
}

std::recursive_mutex& memory4evaluationLock() { return registry().evaluationLock; }
