// The transaction log's entry: its bytes on disk and its kinds.
//
// A log file is a sequence of entries, all integers little-endian:
//
//   offset  size  field
//   0       4     length word: payload length n + 36
//   4       n     payload, its layout fixed by the entry type
//   4 + n   32    header:
//                   0   4  transaction id (i32), 0 outside transactions
//                   4   4  user slot of the writer (i32), 1..1000
//                   8   4  data id (u32): the data handle concerned, 0 none
//                  12   4  second data id (u32): the same id; 3 in type 16
//                  16   2  entry type (u16)
//                  18   4  payload length n (u32)
//                  22   4  year (u32)
//                  26   1  month 1-12
//                  27   1  day
//                  28   4  seconds since local midnight
//
// A scan position points at a header; the payload lies just before it and
// the length word before that, so the log reads backwards as easily as
// forwards. A valid log starts with a length word of 36 and ends with an
// empty entry of type 16 (the clean end written by the last user to leave).
#pragma once

#include <cstdint>

inline constexpr uint32_t log4headerSize = 32;
inline constexpr uint32_t log4lengthSize = 4;
inline constexpr uint32_t log4overhead = log4lengthSize + log4headerSize;  // 36
// The smallest valid log: two empty entries.
inline constexpr uint64_t log4minimumLength = 2 * log4overhead;

enum : uint16_t {
  log4typeOpen = 1,          // a table was opened
  log4typeOpenTemp = 2,      // a temporary table was opened
  log4typeClose = 3,         // a data handle was closed
  log4typeStart = 4,         // transaction start
  log4typeCommitOne = 5,     // commit, phase one
  log4typeCommitTwo = 6,     // commit, phase two
  log4typeRollbackDone = 7,  // rollback done
  log4typeUpdate = 8,        // record update: old and new images
  log4typeAppend = 9,        // record append
  log4typeVoided = 10,       // an append or record write failed after it was logged
  log4typeCreate = 11,       // table created
  log4typeZap = 13,          // records removed
  log4typeUserOpen = 15,     // a user opened the log
  log4typeCleanEnd = 16,     // log start, and the last user's clean close
  log4typeRefused = 17,      // never valid as the first entry
  log4typeUserClose = 18,    // a user closed the log
};

// The second data id of the clean-end entry.
inline constexpr uint32_t log4cleanEndMarker = 3;

// Byte-range locks on the log, far beyond any real log length.
inline constexpr int64_t log4lockBase = 1000000000;      // + bit b of the held mask
inline constexpr int64_t log4lockAppend = 1000000001;    // appends and whole transactions
inline constexpr int64_t log4lockSlotBase = 1000001000;  // + slot n, held while open
inline constexpr int64_t log4lockSlotCount = 1000;
inline constexpr int64_t log4lockOpen = 1000002001;  // held while a log is validated

struct Log4Header {
  int32_t transactionId = 0;
  int32_t userId = 0;
  uint32_t dataId = 0;
  uint32_t dataId2 = 0;
  uint16_t type = 0;
  uint32_t payloadLength = 0;
  uint32_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint32_t seconds = 0;
};

void log4encodeHeader(const Log4Header& header, unsigned char* bytes);
Log4Header log4decodeHeader(const unsigned char* bytes);

// Whether a length word may open an entry whose header ends at or before
// `available` bytes from the word's own position: it must cover at least
// the word and a header, and the whole entry must fit.
bool log4lengthFits(uint32_t lengthWord, uint64_t available);
