// Reading and writing memo entries, and handing out blocks.
//
// Entry at block b, offset b x block size, numbers big-endian:
//   0  4  type (1 for every entry written here)
//   4  4  length of the value
//   8  n  the value
#include <algorithm>
#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memo4file.h"
#include "engine/storage/memory4.h"

namespace {

constexpr int32_t kLocRead = 80190;
constexpr int32_t kLocTooBig = 80189;
constexpr int64_t kLockByte = 0x40000000;
constexpr int64_t kMaxBlock = INT32_MAX;  // a record holds the block number in 32 bits
constexpr uint32_t kEntryHeader = 8;
constexpr int32_t kEntryType = 1;

uint32_t blockSizeOf(const MEMO4FILE* memo) { return memo->blockSize == 0 ? 1 : memo->blockSize; }

int32_t damaged(MEMO4FILE* memo) {
  return error4describe(memo->file.codeBase, e4read, kLocRead, memo->file.name, nullptr,
                        "memo4fileRead");
}

}  // namespace

int64_t memo4blockCount(uint64_t bytes, uint32_t blockSize) {
  return static_cast<int64_t>((bytes + blockSize + 7) / blockSize);
}

int32_t memo4fileRead(MEMO4FILE* memo, int64_t block, char** buffer, uint32_t* capacity,
                      uint32_t* length, uint32_t offset, uint32_t maximum, int32_t* type) {
  *length = 0;
  if (*buffer != nullptr) (*buffer)[0] = (*buffer)[1] = '\0';
  if (block <= 0) return 0;
  const uint64_t start = static_cast<uint64_t>(block) * blockSizeOf(memo);
  unsigned char header[kEntryHeader];
  if (file4readAll(&memo->file, start, header, sizeof header) < 0) return -1;
  const uint64_t stored = endian4::readBe32(header + 4);
  if (type != nullptr) *type = static_cast<int32_t>(endian4::readBe32(header));
  // The stored length is only trusted as far as the file reaches.
  const uint64_t fileLength = file4lenLow(&memo->file);
  if (offset > stored || start + kEntryHeader + stored > fileLength) return damaged(memo);
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(stored - offset, maximum));
  if (n > *capacity || *buffer == nullptr) {
    memory4freeBlock(*buffer);
    *buffer = nullptr;
    *capacity = 0;
    auto* grown = static_cast<char*>(memory4allocOrError(memo->file.codeBase, int64_t{n} + 2));
    if (grown == nullptr) return e4memory;
    *buffer = grown;
    *capacity = n;
  }
  (*buffer)[n] = (*buffer)[n + 1] = '\0';
  if (n > 0 && file4readAll(&memo->file, start + kEntryHeader + offset, *buffer, n) < 0) return -1;
  *length = n;
  return 0;
}

int32_t memo4fileWriteEntry(MEMO4FILE* memo, int64_t block, const char* bytes, uint32_t part,
                            uint32_t total, int32_t type) {
  const uint32_t blockSize = blockSizeOf(memo);
  const uint64_t start = static_cast<uint64_t>(block) * blockSize;
  const uint64_t before = file4lenLow(&memo->file);
  unsigned char header[kEntryHeader];
  endian4::writeBe32(header, static_cast<uint32_t>(type));
  endian4::writeBe32(header + 4, total);
  if (int32_t rc = file4write(&memo->file, start, header, sizeof header); rc < 0) return rc;
  if (part > 0) {
    if (int32_t rc = file4write(&memo->file, start + kEntryHeader, bytes, part); rc < 0) return rc;
  }
  const uint64_t end = start + kEntryHeader + total;
  if (end > before && end % blockSize != 0)
    return file4lenSetLow(&memo->file, (end + blockSize - 1) / blockSize * blockSize);
  return 0;
}

int32_t memo4fileWritePart(MEMO4FILE* memo, int64_t* block, const char* bytes, uint32_t total,
                           uint32_t offset, uint32_t part, int32_t type) {
  const uint32_t blockSize = blockSizeOf(memo);
  if (offset > 0)
    return file4write(&memo->file, static_cast<uint64_t>(*block) * blockSize + kEntryHeader + offset,
                      bytes, part);
  if (total == 0) {
    *block = 0;
    return 0;
  }
  // A value never overwrites the entry it replaces, even where it would
  // fit: a power cut could tear the write and leave a text that is neither
  // the old one nor the new one, under a record that still names it. The
  // record takes the new entry once it is written; the old blocks stay
  // unused, the file keeping no free list.
  const int64_t target = memo4fileAllocate(memo, memo4blockCount(total, blockSize));
  if (target < 0) return static_cast<int32_t>(target);
  *block = target;
  return memo4fileWriteEntry(memo, target, bytes, part, total, type);
}

int32_t memo4fileWrite(MEMO4FILE* memo, int64_t* block, const char* bytes, uint32_t n) {
  return memo4fileWritePart(memo, block, bytes, n, 0, n, kEntryType);
}

int64_t memo4fileAllocate(MEMO4FILE* memo, int64_t n) {
  CODE4* c = memo->file.codeBase;
  if (int32_t rc = memo4fileLockFree(memo); rc < 0) return rc;
  unsigned char header[4];
  int64_t result;
  if (file4readAll(&memo->file, 0, header, sizeof header) < 0) {
    result = -1;
  } else {
    const uint32_t blockSize = blockSizeOf(memo);
    // A next-free block inside the header or the data already written is
    // damage: new entries then go after everything the file holds.
    const int64_t firstClear =
        static_cast<int64_t>((file4lenLow(&memo->file) + blockSize - 1) / blockSize);
    const int64_t stored = endian4::readBe32(header);
    const int64_t minimum = std::max<int64_t>(memo4blockCount(0, blockSize), 1);
    const int64_t first = std::max({stored, minimum, firstClear});
    if (first + n > kMaxBlock) {
      result = error4(c, e4memory, kLocTooBig);
    } else {
      endian4::writeBe32(header, static_cast<uint32_t>(first + n));
      const int32_t rc = file4write(&memo->file, 0, header, sizeof header);
      result = rc < 0 ? rc : first;
    }
  }
  const DATA4FILE* df = memo->dataFile;
  if (df == nullptr || !df->memoKeptLocked) memo4fileUnlock(memo);
  return result;
}

int32_t memo4fileLockFree(MEMO4FILE* memo) {
  if (memo->headerLocked) return 0;
  if (memo->file.handle < 0) return -1;
  CODE4* c = memo->file.codeBase;
  const int32_t savedAttempts = c->lockAttempts;
  c->lockAttempts = -1;
  const int32_t rc = file4lock(&memo->file, kLockByte, 1);
  c->lockAttempts = savedAttempts;
  if (rc == 0) memo->headerLocked = true;
  file4refresh(&memo->file);
  return rc;
}

int32_t memo4fileUnlock(MEMO4FILE* memo) {
  if (!memo->headerLocked) return 0;
  memo->headerLocked = false;
  return file4unlock(&memo->file, kLockByte, 1);
}
