// The transaction log file: opening and checking it, its byte-range locks,
// appending entries and reading them back (the entry format is in
// log4entry.h).
//
// Several processes may share one log. They coordinate through byte-range
// locks only: the append lock serialises appends (a transaction keeps it
// from start to end), each user holds the lock of its slot while the log
// is open, and the open lock is held while a log is checked.
//
// Thread rule: a LOG4FILE belongs to its settings object's calling thread.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/file4.h"
#include "engine/storage/log4entry.h"

struct CODE4;

// Log status: idle, or a commit or rollback running.
enum : int32_t {
  log4idle = 10,
  log4busy = 20,
};

struct LOG4FILE {
  int32_t lastTransactionId = -1;  // the last id issued to this user; -1 not looked up
  int32_t status = log4idle;
  uint32_t heldLocks = 0;   // bit b: lock log4lockBase + b is held
  bool needsFlush = false;  // appended since the last flush (write-ahead)
  bool isOpen = false;
  FILE4 file;
  uint64_t appendPosition = 0;
  int32_t userSlot = 0;  // 1..1000 once a slot is taken
};

// Puts every member but the file back to its starting value.
void log4fileReset(LOG4FILE* log);

// Opens an existing log for sharing and checks it: 0 open, 70 (quiet, the
// error code left as it was) when there is no such file, negative when it
// exists but is not a usable log (the file is then closed).
int32_t log4fileOpen(LOG4FILE* log, CODE4* c, const char* name);
// Creates a new log holding the clean-end entry.
int32_t log4fileCreate(LOG4FILE* log, CODE4* c, const char* name);
// Releases the locks of the held mask and closes the file.
int32_t log4fileClose(LOG4FILE* log);

// The checks a log must pass before it is used, under the open lock. A
// log that another user holds open is accepted as it stands.
int32_t log4fileValidate(LOG4FILE* log);

// Lock `offset` (log4lockBase + b, b < 32), waiting as long as needed;
// its bit records it. Taking a lock makes the end of the file the append
// position. Release: -110 when the bit is clear.
int32_t log4lockTake(LOG4FILE* log, int64_t offset);
int32_t log4lockRelease(LOG4FILE* log, int64_t offset);
// One attempt at a range: 0 taken, 50 held by someone else, or an error.
int32_t log4lockTry(LOG4FILE* log, int64_t offset, int64_t length);

// Appends one assembled entry (length word, payload, header) with a single
// write, under the append lock unless it is already held. A failed write
// cuts the file back to where the entry began, so later scans never meet a
// torn entry. With `flush` the log reaches the disk before the return.
int32_t log4fileAppend(LOG4FILE* log, const unsigned char* entry, uint32_t length, int flush);
// Flushes the log when an append has not reached the disk yet.
int32_t log4fileFlushPending(LOG4FILE* log);

// A reading position in a log: the header at `position` with its payload,
// which is followed by a zero byte.
struct Log4Scan {
  FILE4* file = nullptr;
  int64_t position = -1;  // -1: none
  Log4Header header;
  std::vector<unsigned char> payload;
};

// Reads the entry whose header starts at `position`: 0, or -1210 (80143)
// when the bytes there cannot be an entry.
int32_t log4scanRead(Log4Scan* scan, uint64_t position);
// The last entry: 0, 4 for an empty log, or an error.
int32_t log4scanLast(Log4Scan* scan);
// The entry before: 0, or 4 when the scan is at the first entry.
int32_t log4scanBack(Log4Scan* scan);
// The entry after: 0, or 3 when the scan is at the last entry.
int32_t log4scanForward(Log4Scan* scan);

// Reads fields of a payload in order; reading past its end is -1210 at
// 90283.
class Log4PayloadReader {
 public:
  Log4PayloadReader(CODE4* c, const std::vector<unsigned char>& payload, uint32_t length)
      : c_(c), data_(payload.data()), length_(length) {}
  int32_t u32(uint32_t* value);
  int32_t bytes(const unsigned char** start, uint32_t n);

 private:
  CODE4* c_;
  const unsigned char* data_;
  uint32_t length_;
  uint32_t at_ = 0;
};
