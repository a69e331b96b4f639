#include "engine/storage/lock4offsets.h"

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"

namespace {

constexpr int64_t kLockBase = 0x40000000;
constexpr int64_t kTopByte = 0x7FFFFFFE;
constexpr int64_t kFileLength = 0x3FFFFFFF;

int64_t largeValue(const DATA4FILE* df) { return df->codeBase->largeFileValue; }

bool indexedLayout(const DATA4FILE* df) {
  return (df->header.flags & dbf4flagProductionIndex) != 0 || df->header.version == dbf4version30;
}

}  // namespace

Lock4Range lock4recordRange(const DATA4FILE* df, int32_t record) {
  if (const int64_t large = largeValue(df)) return {large << 32 | static_cast<uint32_t>(record), 1};
  if (indexedLayout(df)) return {kTopByte - record, 1};
  return {kLockBase + df->header.headerLength + static_cast<int64_t>(record - 1) * df->recordLength, 1};
}

Lock4Range lock4appendRange(const DATA4FILE* df) {
  if (const int64_t large = largeValue(df)) return {large << 32, 1};
  const bool top = (df->header.flags & dbf4flagProductionIndex) != 0 || df->compatibility == 30;
  return {top ? kTopByte : kLockBase, 1};
}

Lock4Range lock4fileRange(const DATA4FILE* df) {
  if (const int64_t large = largeValue(df)) return {large << 32, 0xFFFFFFFF};
  return {kLockBase, kFileLength};
}
