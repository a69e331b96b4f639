#include "engine/storage/mem5allocator.h"

#include <cstdlib>
#include <cstring>

void* Mem5allocator::allocate(size_t size) { return std::malloc(size == 0 ? 1 : size); }

void Mem5allocator::free(void* block) { std::free(block); }

void* Mem5zeroAllocator::allocate(size_t size) {
  void* block = Mem5allocator::allocate(size);
  if (block != nullptr) std::memset(block, 0, size);
  return block;
}
