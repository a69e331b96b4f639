// Files and the cache: joining and leaving, the permission to hold writes,
// and write buffering that follows byte-range locks.
//
// A file joins with a type (cacheType 1-3) and stays on the cache's list of
// files until it leaves, whether or not the cache is started; it is served
// (`cached`) only while the cache is started and the file is below 4 GiB.
// The cache holds a file's writes only while both its write optimisation
// and its write buffering are on; buffering is on while the file is locked
// or opened exclusively.
#include <algorithm>

#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4queue.h"

namespace {

constexpr int32_t kLocSet = 90072;
constexpr int32_t kLocWriteOpt = 90073;
constexpr uint64_t k4GiB = 1ull << 32;

double readWeight(const Cache4& k, uint32_t expectedReadSize) {
  const uint32_t blockSize =
      k.started() ? k.blockSize : static_cast<uint32_t>(std::max(k.settings.blockSize, 1));
  return std::min(1.0, static_cast<double>(expectedReadSize) / blockSize);
}

// Writes out what the cache holds of the file and settles its queued
// writes, so that the disk has all of it.
int32_t publish(FILE4* f) {
  int32_t rc = file4flushBlocks(f, 0);
  if (file4writeDelayFlush(f, 1) < 0) rc = -1;
  return rc;
}

int32_t switchOff(FILE4* f) {
  CODE4* c = f->codeBase;
  int32_t rc = file4cacheWriteOpt(f, 0);
  if (f->cached) {
    if (file4flushBlocks(f, 1) < 0) rc = error4(c, e4optFlush, kLocSet);
    // Blocks that could not be written go too: the file is leaving.
    cache4forgetFile(c->cache, f);
    cache4unserve(f);
  }
  list4remove(&c->cache.files, &f->cacheLink);
  f->cacheType = file4cacheNone;
  return rc;
}

}  // namespace

bool cache4serve(CODE4* c, FILE4* f) {
  Cache4& k = c->cache;
  if (f->isLong || f->handle < 0) return false;
  f->knownLength = UINT64_MAX;
  const uint64_t length = cache4diskLength(f);
  if (length == UINT64_MAX || length >= k4GiB) return false;
  f->hashBase = k.hashTrail * k.blockSize;
  k.hashTrail = static_cast<uint32_t>((length / k.blockSize + k.hashTrail) % k.totalBlocks);
  f->cached = true;
  if (f->accessMode == 1 && f->writeOptimisation == 1) f->bufferWrites = true;
  return true;
}

void cache4unserve(FILE4* f) {
  // A block read ahead for the cache goes with it.
  file4aheadDrop(f);
  f->cached = false;
  f->bufferWrites = false;
  f->knownLength = UINT64_MAX;
}

int32_t file4cacheSet(FILE4* f, int on, int type, uint32_t expectedReadSize, void* owner) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocSet);
  CODE4* c = f->codeBase;
  if (c == nullptr || on < -1 || on > 1 || type < file4cacheNone || type > file4cacheOther)
    return error4(c, e4parm, kLocSet);
  if (on == -1) on = f->accessMode != 0 ? 1 : 0;
  if (on == 0) return f->cacheType == file4cacheNone ? 0 : switchOff(f);
  if (f->isLong) return 0;
  Cache4& k = c->cache;
  f->readCounter = 0;
  f->cacheOwner = owner;
  if (f->cacheType == file4cacheNone) list4add(&k.files, &f->cacheLink);
  // Switching on without a type keeps the one the file has.
  if (type != file4cacheNone) {
    f->cacheType = static_cast<uint8_t>(type);
  } else if (f->cacheType == file4cacheNone) {
    f->cacheType = file4cacheOther;
  }
  if (!f->cached && k.started()) cache4serve(c, f);
  if (f->cacheType == file4cacheData) f->readWeight = readWeight(k, expectedReadSize);
  return file4cacheWriteOpt(f, k.settings.writeOptimisation);
}

int32_t file4cacheWriteOpt(FILE4* f, int setting) {
  if (f == nullptr) return error4(nullptr, e4parmNull, kLocWriteOpt);
  if (setting < -1 || setting > 1) return error4(f->codeBase, e4parm, kLocWriteOpt);
  if (setting == -1) setting = f->accessMode == 1 ? 1 : 0;
  if (setting == f->writeOptimisation) return 0;
  if (setting == 0) {
    const int32_t rc = f->cached && f->bufferWrites ? publish(f) : 0;
    f->writeOptimisation = 0;
    f->bufferWrites = false;
    f->knownLength = UINT64_MAX;
    return rc;
  }
  f->writeOptimisation = 1;
  if (f->accessMode == 1 && f->cached) f->bufferWrites = true;
  return 0;
}

int32_t file4cacheWriteSet(FILE4* f, int on) {
  if (f == nullptr || f->writeOptimisation != 1) return 0;
  if (on) {
    f->bufferWrites = true;
    return 0;
  }
  if (!f->bufferWrites) return 0;
  const int32_t rc = f->cached ? publish(f) : 0;
  f->bufferWrites = false;
  f->knownLength = UINT64_MAX;
  return rc;
}
