#include "engine/index/index4file.h"

#include "engine/index/block4.h"
#include "engine/index/cdx4geometry.h"
#include "engine/index/tag4file.h"
#include "engine/storage/cache4.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocNoMemory = 90012;
constexpr int32_t kLocEof = 80325;
constexpr int32_t kBlocksStart = 5;
constexpr int32_t kBlocksExpand = 10;

}  // namespace

int32_t indexfile4initNodes(INDEX4FILE* i, CODE4* c, uint32_t blockSize, uint32_t multiplier) {
  i->codeBase = c;
  if (int32_t rc = cdx4geometryCheck(c, blockSize, multiplier); rc < 0) return rc;
  i->blockSize = blockSize;
  i->multiplier = multiplier;
  if (int32_t rc = index4eofTake(i); rc < 0) return rc;
  if (i->blockMemory == nullptr) {
    const int32_t unit = static_cast<int32_t>(sizeof(BLOCK4) + blockSize);
    i->blockMemory = memory4create(c, kBlocksStart, unit, kBlocksExpand, false);
    if (i->blockMemory == nullptr) return error4(c, e4memory, kLocNoMemory);
  }
  return 0;
}

void indexfile4releaseNodes(INDEX4FILE* i) {
  memory4release(i->blockMemory);
  i->blockMemory = nullptr;
}

int32_t index4eofTake(INDEX4FILE* i) {
  const uint64_t length = file4lenLow(&i->file);
  if (length == UINT64_MAX) return -1;
  const uint64_t unit = i->multiplier > cdx4blockUnit ? i->multiplier : cdx4blockUnit;
  uint64_t end = (length + unit - 1) / unit * unit;
  if (end < cdx4headerSize) end = cdx4headerSize;  // never a node in the file header
  const uint32_t block = block4fromOffset(i, end);
  if (block == block4none)
    return error4describe(i->codeBase, e4index, kLocEof, i->file.name, nullptr, nullptr);
  i->eofBlock = block;
  return 0;
}

bool index4exclusive(const INDEX4FILE* i) { return i->file.accessMode == 1; }

bool index4othersMayWrite(const INDEX4FILE* i) {
  // Access mode 2 lets others only read: nobody else writes then.
  return i->file.accessMode == 0 && !i->locked;
}

void index4changed(INDEX4FILE* i) {
  if (i->tagIndex != nullptr) i->tagIndex->header.version = i->versionSeen + 1;
}

int32_t index4cacheJoin(INDEX4FILE* i) {
  return file4cacheSet(&i->file, i->codeBase->fileBuffering, file4cacheIndex, 0, i);
}
