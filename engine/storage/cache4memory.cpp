// The cache's memory: its buffers, block records, hash table and work
// areas, taken at start and given back at suspension. Nothing is allocated
// in between.
//
// Work areas, each one buffer in size: the multi-block read buffer, the
// two write buffers, the shared read-ahead buffer and the spare copies
// (one block each). Beyond them, and beyond the budget, the reserve's
// blocks.
#include <bit>
#include <new>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"

namespace {

char* area(uint32_t size) { return static_cast<char*>(memory4allocZero(size)); }

bool allocateWorkAreas(Cache4& k, uint32_t bufferSize, uint32_t blocksPerBuffer) {
  k.reserveArea = area(cache4reserveBlocks * k.blockSize);
  k.readBuffer = area(bufferSize);
  k.writes.area[0] = area(bufferSize);
  k.writes.area[1] = area(bufferSize);
  k.ahead.area = area(bufferSize);
  k.spares.area = area(bufferSize);
  k.spares.spares = new (std::nothrow) Cache4Spares::Spare[blocksPerBuffer];
  k.spares.freeList = new (std::nothrow) Cache4Spares::Spare*[blocksPerBuffer];
  return k.reserveArea != nullptr && k.readBuffer != nullptr && k.writes.area[0] != nullptr &&
         k.writes.area[1] != nullptr && k.ahead.area != nullptr && k.spares.area != nullptr &&
         k.spares.spares != nullptr && k.spares.freeList != nullptr;
}

void prepareWorkAreas(Cache4& k) {
  Cache4WriteBuffers& w = k.writes;
  for (int i = 0; i < 2; i++) {
    w.contexts[i] = {&k, i, nullptr};
    w.isFree[i] = true;
  }
  w.current = 0;
  w.file = nullptr;
  w.start = w.end = 0;
  w.blockCount = 0;

  Cache4Spares& s = k.spares;
  s.count = k.blocksPerBuffer;
  for (uint32_t i = 0; i < s.count; i++) {
    s.spares[i] = {&k, s.area + uint64_t{i} * k.blockSize, nullptr};
    s.freeList[i] = &s.spares[i];
  }
  s.freeCount = s.count;

  Cache4Ahead& a = k.ahead;
  a.capacity = k.bufferSize;
  a.state = file4aheadEmpty;
  a.file = nullptr;
  a.offset = 0;
  a.head = 0;
  a.length = 0;
}

// Gives each block of the buffers obtained a record on the free list, and
// each block of the reserve one on the reserve.
bool prepareBlocks(Cache4& k) {
  k.totalBlocks = k.bufferCount * k.blocksPerBuffer;
  k.reserveBlocks = cache4reserveBlocks;
  // Twice the largest power of two within the block count.
  const uint32_t hashSize = uint32_t{1} << std::bit_width(k.totalBlocks);
  k.hash = new (std::nothrow) Cache4HashChain[hashSize];
  k.scratch = new (std::nothrow) Cache4Block*[k.totalBlocks + k.reserveBlocks];
  if (k.hash == nullptr || k.scratch == nullptr) return false;
  k.hashMask = hashSize - 1;
  k.freeBlocks.clear();
  k.reserve.clear();
  for (uint32_t i = 0; i < k.totalBlocks + k.reserveBlocks; i++) {
    Cache4Block& b = k.blocks[i];
    b = Cache4Block{};
    if (i < k.totalBlocks) {
      b.data = k.buffers[i / k.blocksPerBuffer] + uint64_t{i % k.blocksPerBuffer} * k.blockSize;
      k.freeBlocks.pushBack(&b);
    } else {
      b.data = k.reserveArea + uint64_t{i - k.totalBlocks} * k.blockSize;
      k.reserve.pushBack(&b);
    }
  }
  return true;
}

}  // namespace

int32_t cache4allocate(CODE4* c, uint32_t blockSize, uint32_t bufferSize, uint32_t count) {
  Cache4& k = c->cache;
  k.blockSize = blockSize;
  k.blockShift = static_cast<uint32_t>(std::countr_zero(blockSize));
  k.bufferSize = bufferSize;
  k.blocksPerBuffer = bufferSize / blockSize;
  k.buffers = new (std::nothrow) char*[count]();
  k.blocks =
      new (std::nothrow) Cache4Block[uint64_t{count} * k.blocksPerBuffer + cache4reserveBlocks];
  if (k.buffers == nullptr || k.blocks == nullptr ||
      !allocateWorkAreas(k, bufferSize, k.blocksPerBuffer)) {
    cache4free(c);
    return e4memory;
  }
  uint32_t obtained = 0;
  while (obtained < count && (k.buffers[obtained] = area(bufferSize)) != nullptr) obtained++;
  k.bufferCount = obtained;
  if (obtained == 0) return 0;
  if (!prepareBlocks(k)) {
    cache4free(c);
    return e4memory;
  }
  prepareWorkAreas(k);
  return static_cast<int32_t>(obtained);
}

void cache4free(CODE4* c) {
  Cache4& k = c->cache;
  if (k.spares.freeList != nullptr) cache4awaitTransfers(k);
  // A read may still be on its way into the area about to go.
  cache4aheadSettle(k, nullptr);
  for (uint32_t i = 0; k.buffers != nullptr && i < k.bufferCount; i++)
    memory4freeBlock(k.buffers[i]);
  delete[] k.buffers;
  delete[] k.blocks;
  delete[] k.hash;
  delete[] k.scratch;
  delete[] k.spares.spares;
  delete[] k.spares.freeList;
  for (char* work : {k.reserveArea, k.readBuffer, k.writes.area[0], k.writes.area[1], k.ahead.area,
                     k.spares.area})
    memory4freeBlock(work);
  k.buffers = nullptr;
  k.blocks = nullptr;
  k.hash = nullptr;
  k.scratch = nullptr;
  k.spares.spares = nullptr;
  k.spares.freeList = nullptr;
  k.spares.count = k.spares.freeCount = 0;
  k.reserveArea = k.readBuffer = k.writes.area[0] = k.writes.area[1] = k.ahead.area =
      k.spares.area = nullptr;
  k.ahead.capacity = 0;
  k.freeBlocks.clear();
  k.reserve.clear();
  k.reserveBlocks = 0;
  k.writeOutRefused = false;
  for (Cache4List& list : k.lists) {
    list.blocks.clear();
    list.cut = nullptr;
  }
  k.bufferCount = k.totalBlocks = k.blocksPerBuffer = 0;
  k.blockSize = k.bufferSize = k.blockShift = k.hashMask = 0;
}
