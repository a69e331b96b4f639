#include "engine/storage/log4file.h"

#include <cstring>
#include <new>

#include "engine/storage/code4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/filename4.h"

namespace {

constexpr int32_t kLocBadLog = 80135;
constexpr int32_t kLocScan = 80143;
constexpr int32_t kLocRefusedFirst = 80149;
constexpr int32_t kLocLog = 90283;
constexpr int kPathMax = 4096;

// Runs `body` with the lock attempts set to `attempts`.
template <typename Body>
int32_t withAttempts(CODE4* c, int32_t attempts, Body body) {
  const int32_t saved = c->lockAttempts;
  c->lockAttempts = attempts;
  const int32_t rc = body();
  c->lockAttempts = saved;
  return rc;
}

int32_t readWord(FILE4* f, uint64_t position, uint32_t* word) {
  unsigned char bytes[log4lengthSize];
  if (const int32_t rc = file4readAll(f, position, bytes, sizeof bytes); rc < 0) return rc;
  *word = endian4::readLe32(bytes);
  return 0;
}

int32_t readHeader(FILE4* f, uint64_t position, Log4Header* header) {
  unsigned char bytes[log4headerSize];
  if (const int32_t rc = file4readAll(f, position, bytes, sizeof bytes); rc < 0) return rc;
  *header = log4decodeHeader(bytes);
  return 0;
}

// 1 when another user holds a slot of the log, 0 when none does. One lock
// over every slot's byte answers what a lock of each in turn would.
int32_t otherUserPresent(LOG4FILE* log) {
  const int64_t range = log4lockSlotCount + 1;
  const int32_t rc = log4lockTry(log, log4lockSlotBase, range);
  if (rc == r4locked) return 1;
  if (rc < 0) return rc;
  const int32_t released = file4unlock(&log->file, log4lockSlotBase, range);
  return released < 0 ? released : 0;
}

// A log nobody has open must start with an empty entry that is not of the
// refused kind and end with the clean-end entry.
int32_t checkEnds(LOG4FILE* log) {
  FILE4* f = &log->file;
  CODE4* c = f->codeBase;
  const uint64_t length = file4lenLow(f);
  if (length == UINT64_MAX) return -1;
  if (length < log4minimumLength)
    return error4describe(c, e4log, kLocBadLog, f->name, nullptr, nullptr);
  uint32_t word = 0;
  Log4Header header;
  if (const int32_t rc = readWord(f, 0, &word); rc < 0) return rc;
  if (word != log4overhead) return error4describe(c, e4read, kLocLog, f->name, nullptr, nullptr);
  if (const int32_t rc = readHeader(f, log4lengthSize, &header); rc < 0) return rc;
  if (header.type == log4typeRefused)
    return error4describe(c, e4log, kLocRefusedFirst, f->name, nullptr, nullptr);
  if (const int32_t rc = readWord(f, length - log4overhead, &word); rc < 0) return rc;
  if (const int32_t rc = readHeader(f, length - log4headerSize, &header); rc < 0) return rc;
  if (word != log4overhead || header.type != log4typeCleanEnd)
    return error4describe(c, e4log, kLocBadLog, f->name, nullptr, nullptr);
  return 0;
}

// The name with the extension "log" when it has none: 0 or -930.
int32_t logName(CODE4* c, const char* name, char* full) {
  if (std::strlen(name) >= kPathMax) return error4(c, e4parm, kLocLog);
  std::strcpy(full, name);
  return filename4extensionSet(full, kPathMax, "log", 0) < 0 ? -1 : 0;
}

int32_t scanError(const Log4Scan* scan) {
  return error4describe(scan->file->codeBase, e4log, kLocScan, scan->file->name, nullptr, nullptr);
}

}  // namespace

void log4fileReset(LOG4FILE* log) {
  log->lastTransactionId = -1;
  log->status = log4idle;
  log->heldLocks = 0;
  log->needsFlush = false;
  log->isOpen = false;
  log->appendPosition = 0;
  log->userSlot = 0;
}

int32_t log4fileOpen(LOG4FILE* log, CODE4* c, const char* name) {
  char full[kPathMax];
  if (logName(c, name, full) < 0) return -1;
  log4fileReset(log);
  const int8_t savedMode = c->accessMode;
  const int32_t savedReadOnly = c->readOnly;
  const int32_t savedErrOpen = c->errOpen;
  const int32_t before = error4code(c);
  c->accessMode = 0;
  c->readOnly = 0;
  c->errOpen = 0;
  const int32_t rc = file4open(&log->file, c, full, 1);
  c->accessMode = savedMode;
  c->readOnly = savedReadOnly;
  c->errOpen = savedErrOpen;
  if (rc == r4noOpen) {
    // No log: the quiet code must not outlive the probe.
    error4set(c, before);
    return r4noOpen;
  }
  if (rc != 0) return rc;
  if (log4fileValidate(log) < 0) {
    const int32_t kept = error4set(c, 0);
    file4close(&log->file);
    error4set(c, kept);
    return -1;
  }
  log->isOpen = true;
  return 0;
}

int32_t log4fileCreate(LOG4FILE* log, CODE4* c, const char* name) {
  char full[kPathMax];
  if (logName(c, name, full) < 0) return -1;
  log4fileReset(log);
  const int8_t savedMode = c->accessMode;
  c->accessMode = 0;
  int32_t rc = file4create(&log->file, c, full, 1);
  c->accessMode = savedMode;
  if (rc != 0) return error4describe(c, e4log, kLocLog, full, nullptr, nullptr);
  log->isOpen = true;
  unsigned char entry[log4overhead];
  endian4::writeLe32(entry, log4overhead);
  Log4Header header;
  header.type = log4typeCleanEnd;
  header.dataId2 = log4cleanEndMarker;
  log4encodeHeader(header, entry + log4lengthSize);
  rc = log4fileAppend(log, entry, sizeof entry, 1);
  return rc < 0 ? error4describe(c, e4log, kLocLog, full, nullptr, nullptr) : 0;
}

int32_t log4fileClose(LOG4FILE* log) {
  int32_t result = 0;
  for (int b = 0; b < 32; b++) {
    if ((log->heldLocks & (1u << b)) == 0) continue;
    if (const int32_t rc = log4lockRelease(log, log4lockBase + b); rc < 0) result = rc;
  }
  if (log->isOpen) {
    if (const int32_t rc = file4close(&log->file); rc < 0) result = rc;
  }
  log4fileReset(log);
  return result;
}

int32_t log4fileValidate(LOG4FILE* log) {
  FILE4* f = &log->file;
  CODE4* c = f->codeBase;
  int32_t rc = withAttempts(c, -1, [&] { return file4lock(f, log4lockOpen, 1); });
  if (rc != 0) return rc < 0 ? rc : error4describe(c, e4log, kLocBadLog, f->name, nullptr, nullptr);
  rc = otherUserPresent(log);
  if (rc == 0) rc = checkEnds(log);
  const int32_t kept = error4set(c, 0);
  const int32_t unlocked = file4unlock(f, log4lockOpen, 1);
  error4set(c, kept);
  if (rc < 0) return rc;
  return unlocked < 0 ? unlocked : 0;
}

int32_t log4lockTake(LOG4FILE* log, int64_t offset) {
  CODE4* c = log->file.codeBase;
  if (offset < log4lockBase || offset - log4lockBase >= 32) return error4(c, e4parm, kLocLog);
  const uint32_t bit = 1u << (offset - log4lockBase);
  if ((log->heldLocks & bit) != 0) return 0;
  FILE4* f = &log->file;
  const int32_t rc = withAttempts(c, -1, [&] { return file4lock(f, offset, 1); });
  if (rc != 0) return rc;
  log->heldLocks |= bit;
  const uint64_t length = file4lenLow(f);
  if (length == UINT64_MAX) return -1;
  log->appendPosition = length;
  return 0;
}

int32_t log4lockRelease(LOG4FILE* log, int64_t offset) {
  CODE4* c = log->file.codeBase;
  if (offset < log4lockBase || offset - log4lockBase >= 32) return error4(c, e4parm, kLocLog);
  const uint32_t bit = 1u << (offset - log4lockBase);
  if ((log->heldLocks & bit) == 0) return error4(c, e4unlock, kLocLog);
  log->heldLocks &= ~bit;
  return file4unlock(&log->file, offset, 1);
}

int32_t log4lockTry(LOG4FILE* log, int64_t offset, int64_t length) {
  return withAttempts(log->file.codeBase, 1, [&] { return file4lock(&log->file, offset, length); });
}

int32_t log4fileAppend(LOG4FILE* log, const unsigned char* entry, uint32_t length, int flush) {
  CODE4* c = log->file.codeBase;
  const bool takeLock = (log->heldLocks & (1u << (log4lockAppend - log4lockBase))) == 0;
  if (takeLock) {
    if (const int32_t rc = log4lockTake(log, log4lockAppend); rc != 0) return rc < 0 ? rc : -1;
  }
  const uint64_t start = log->appendPosition;
  int32_t rc = file4write(&log->file, start, entry, length);
  if (rc < 0) {
    const int32_t kept = error4set(c, 0);
    file4lenSetLow(&log->file, start);
    error4set(c, kept);
  } else {
    log->appendPosition = start + length;
    log->needsFlush = true;
  }
  if (takeLock) {
    const int32_t kept = error4set(c, 0);
    Error4Steps release(c);
    const int32_t released = log4lockRelease(log, log4lockAppend);
    release.note(released);
    // A release error the hook has cleared stays cleared.
    error4set(c, kept < 0 ? kept : release.mayLeave() ? released : 0);
    if (rc == 0 && released < 0) rc = released;
  }
  if (rc == 0 && flush) rc = log4fileFlushPending(log);
  return rc;
}

int32_t log4fileFlushPending(LOG4FILE* log) {
  if (!log->needsFlush || !log->isOpen) return 0;
  // A flush that fails leaves the entries due: the write-ahead rule must
  // go on holding back the records they can undo.
  if (const int32_t rc = file4flush(&log->file); rc < 0) return rc;
  log->needsFlush = false;
  return 0;
}

int32_t log4scanRead(Log4Scan* scan, uint64_t position) {
  FILE4* f = scan->file;
  const uint64_t length = file4lenLow(f);
  if (length == UINT64_MAX) return -1;
  if (position < log4lengthSize || position > length || length - position < log4headerSize)
    return scanError(scan);
  Log4Header header;
  if (const int32_t rc = readHeader(f, position, &header); rc < 0) return rc;
  // The payload and its length word must lie before the header, and the
  // word must agree with the header about the payload's length.
  const uint64_t n = header.payloadLength;
  if (n > position - log4lengthSize) return scanError(scan);
  uint32_t word = 0;
  if (const int32_t rc = readWord(f, position - n - log4lengthSize, &word); rc < 0) return rc;
  if (word != n + log4overhead) return scanError(scan);
  try {
    scan->payload.resize(n + 1);
  } catch (const std::bad_alloc&) {
    return error4(f->codeBase, e4memory, kLocLog);
  }
  if (n > 0) {
    if (const int32_t rc =
            file4readAll(f, position - n, scan->payload.data(), static_cast<uint32_t>(n));
        rc < 0)
      return rc;
  }
  scan->payload[n] = 0;
  scan->header = header;
  scan->position = static_cast<int64_t>(position);
  return 0;
}

int32_t log4scanLast(Log4Scan* scan) {
  const uint64_t length = file4lenLow(scan->file);
  if (length == UINT64_MAX) return -1;
  if (length == 0) return r4bof;
  if (length < log4overhead) return scanError(scan);
  return log4scanRead(scan, length - log4headerSize);
}

int32_t log4scanBack(Log4Scan* scan) {
  if (scan->position < 0) return scanError(scan);
  const uint64_t position = static_cast<uint64_t>(scan->position);
  const uint64_t step = static_cast<uint64_t>(scan->header.payloadLength) + log4overhead;
  if (position < step) return r4bof;
  return log4scanRead(scan, position - step);
}

int32_t log4scanForward(Log4Scan* scan) {
  if (scan->position < 0) return scanError(scan);
  const uint64_t length = file4lenLow(scan->file);
  if (length == UINT64_MAX) return -1;
  const uint64_t next = static_cast<uint64_t>(scan->position) + log4headerSize;
  if (next > length || length - next < log4lengthSize) return r4eof;
  uint32_t word = 0;
  if (const int32_t rc = readWord(scan->file, next, &word); rc < 0) return rc;
  if (!log4lengthFits(word, length - next)) return scanError(scan);
  return log4scanRead(scan, next + word - log4headerSize);
}

int32_t Log4PayloadReader::u32(uint32_t* value) {
  const unsigned char* start = nullptr;
  if (const int32_t rc = bytes(&start, 4); rc < 0) return rc;
  *value = endian4::readLe32(start);
  return 0;
}

int32_t Log4PayloadReader::bytes(const unsigned char** start, uint32_t n) {
  if (n > length_ - at_) return error4(c_, e4log, kLocLog);
  *start = data_ + at_;
  at_ += n;
  return 0;
}
