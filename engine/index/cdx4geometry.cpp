#include "engine/index/cdx4geometry.h"

#include "engine/index/index4file.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocGeometry = 85305;

uint32_t checkedBlock(int64_t block) {
  return block < 0 || block >= static_cast<int64_t>(block4none) ? block4none
                                                                 : static_cast<uint32_t>(block);
}

}  // namespace

int32_t cdx4geometryCheck(CODE4* c, uint32_t blockSize, uint32_t multiplier) {
  // Tag headers sit at multiples of 1024 bytes, so only a multiplier that
  // divides 1024 can name them.
  const bool valid = multiplier >= 1 && cdx4headerSize % multiplier == 0 &&
                     blockSize >= cdx4blockUnit &&
                     blockSize <= cdx4blockSizeMax && blockSize % cdx4blockUnit == 0 &&
                     blockSize % multiplier == 0;
  return valid ? 0 : error4(c, e4index, kLocGeometry);
}

bool cdx4nodeOffsetPlausible(uint64_t offset) {
  return offset >= cdx4headerSize && offset % cdx4blockUnit == 0;
}

uint64_t block4toOffset(const INDEX4FILE* i, uint32_t block) {
  return static_cast<uint64_t>(block) * i->multiplier;
}

uint32_t block4fromOffset(const INDEX4FILE* i, uint64_t offset) {
  if (offset % i->multiplier != 0) return block4none;
  const uint64_t block = offset / i->multiplier;
  return block >= block4none ? block4none : static_cast<uint32_t>(block);
}

uint32_t block4add(const INDEX4FILE* i, uint32_t block, int32_t nodes) {
  const int64_t step = static_cast<int64_t>(i->blockSize / i->multiplier);
  return checkedBlock(static_cast<int64_t>(block) + step * nodes);
}

uint32_t block4subtract(const INDEX4FILE* i, uint32_t block, int32_t nodes) {
  const int64_t step = static_cast<int64_t>(i->blockSize / i->multiplier);
  return checkedBlock(static_cast<int64_t>(block) - step * nodes);
}
