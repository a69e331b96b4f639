#include "engine/storage/memo4file.h"

#include <cstring>
#include <string>

#include "engine/storage/cache4.h"
#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/filename4.h"
#include "engine/storage/system4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocCreate = 80188;
constexpr int32_t kLocOpenHeader = 80139;
constexpr int32_t kLocTempNames = 80012;
constexpr int32_t kLocTemp = 90377;
constexpr int kTempAttempts = 100;
constexpr int kPathMax = 4096;

uint16_t readBe16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void writeBe16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value >> 8);
  p[1] = static_cast<unsigned char>(value);
}

void encodeHeader(unsigned char out[memo4headerSize], uint16_t blockSize) {
  std::memset(out, 0, memo4headerSize);
  // The first block after the header; blocks larger than the header start at 1.
  const uint32_t firstFree = blockSize <= memo4headerSize ? memo4headerSize / blockSize : 1;
  endian4::writeBe32(out, firstFree);
  writeBe16(out + 6, blockSize);
}

// A temporary memo file beside the data file: "TEMP" and four digits taken
// from the clock, tried until a name is free.
int32_t createTemporary(MEMO4FILE* memo, CODE4* c, DATA4FILE* dataFile) {
  char folder[kPathMax] = "";
  if (dataFile != nullptr && dataFile->file.name != nullptr &&
      filename4path(folder, sizeof folder, dataFile->file.name) < 0)
    return e4parm;
  const int32_t savedErrCreate = code4errCreateSet(c, 0);
  const int8_t savedSafety = c->safety;
  c->safety = 1;  // never replace an existing file
  int32_t rc = r4noCreate;
  for (int attempt = 0; attempt < kTempAttempts && rc == r4noCreate; attempt++) {
    time4delay(50);
    char digits[5] = {};
    convert4longToText(platform::os().localTime().millisecond % 10000, digits, -4);
    const std::string path = std::string(folder) + "TEMP" + digits + ".tmp";
    rc = file4create(&memo->file, c, path.c_str(), 1);
    if (rc != r4noCreate) break;
    error4set(c, 0);
    // Only a name already taken is worth another try.
    if (file4exists(path.c_str()) != 0) {
      rc = e4create;
      break;
    }
  }
  c->safety = savedSafety;
  code4errCreateSet(c, savedErrCreate);
  if (rc == r4noCreate) return error4(c, e4create, kLocTempNames);
  if (rc < 0) return error4(nullptr, rc, kLocTemp);
  if (rc > 0) return rc;
  memo->file.isTemp = true;
  return 0;
}

}  // namespace

int32_t memo4fileCreate(MEMO4FILE* memo, CODE4* c, DATA4FILE* dataFile, const char* name) {
  memo->dataFile = dataFile;
  memo->blockSize = static_cast<uint16_t>(c->memoBlockSize);
  unsigned char header[memo4headerSize];
  encodeHeader(header, memo->blockSize);
  if (name != nullptr) {
    char path[kPathMax];
    if (std::strlen(name) >= sizeof path) return error4(c, e4parm, kLocCreate);
    std::strcpy(path, name);
    if (filename4extensionSet(path, sizeof path, code4memoExtension(c), 1) < 0) return e4parm;
    // file4create reports its own failures.
    const int32_t rc = file4create(&memo->file, c, path, 1);
    if (rc != 0) return rc;
  } else {
    const int32_t rc = createTemporary(memo, c, dataFile);
    if (rc < 0) return rc;
  }
  int32_t rc = file4write(&memo->file, 0, header, sizeof header);
  if (rc == 0) rc = file4lenSetLow(&memo->file, memo4headerSize);
  return rc;
}

int32_t memo4fileOpen(MEMO4FILE* memo, DATA4FILE* dataFile, const char* name) {
  memo->dataFile = dataFile;
  CODE4* c = dataFile->codeBase;
  if (file4open(&memo->file, c, name, 1) != 0) return -1;
  memo->file.logWriteAhead = true;
  // The cache may serve reads but holds no writes: a memo text reaches the
  // disk before the record that names it, which the cache, writing out
  // blocks in its own order, could not promise.
  file4cacheSet(&memo->file, c->fileBuffering, file4cacheOther, 0, memo);
  file4cacheWriteOpt(&memo->file, 0);
  unsigned char header[8];
  int32_t rc = file4readAll(&memo->file, 0, header, sizeof header) < 0 ? -1 : 0;
  if (rc == 0) {
    memo->blockSize = readBe16(header + 6);
    // A block size of 0 would place every entry at offset 0.
    if (memo->blockSize == 0)
      rc = error4describe(c, e4data, kLocOpenHeader, name, nullptr, nullptr);
  }
  if (rc < 0) {
    // A refused file is let go with its descriptor and its exclusive lock:
    // the next open then meets the same refusal.
    const int32_t kept = error4set(c, 0);
    file4close(&memo->file);
    error4set(c, kept);
  }
  return rc;
}
