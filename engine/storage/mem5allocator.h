// The two allocator objects a settings object carries. Nothing in the
// engine allocates through them; they exist for callers that ask for the
// engine's allocator. Blocks are 16-byte aligned.
#pragma once

#include <cstddef>

class Mem5allocator {
 public:
  virtual ~Mem5allocator() = default;
  virtual void* allocate(size_t size);
  virtual void free(void* block);
  virtual void unused() {}
};

// Hands out zero-filled blocks.
class Mem5zeroAllocator : public Mem5allocator {
 public:
  void* allocate(size_t size) override;
};
