// The log entries of the table operations, and the transactions a handle
// starts around its own record writes and appends.
//
// Payloads (all integers little-endian):
//   open (1, 2)   name length u16, full name, record length u32, field
//                 count u16 (without _NullFlags), record count u32, file
//                 time u32, header date (3 bytes: year mod 100, month, day)
//   update (8)    record u32, old image, new image; per memo field either
//                 old length u32, old bytes, new length u32, new bytes (the
//                 value changed) or two zero words (it did not)
//   append (9)    record u32, image; per memo field length u32 and bytes
//   create (11)   compatibility u16, name length u16, name, field count
//                 u16, tag count u16; per field name length u8, name, type
//                 u16, length u16, decimals u16, nulls u16; per tag name
//                 length u8, name, expression length u16, expression,
//                 filter length u16, filter, unique u16, descending u16
//   zap (13)      first record u32, last record u32
// Entries 3 (close) and 10 (a logged change that failed) carry none.
#pragma once

#include <cstdint>

struct DATA4;
struct FIELD4INFO;
struct TAG4INFO;

// Log modes of a handle.
enum : int32_t {
  log4modeTransactions = 0,  // logged inside the caller's transactions only
  log4modeAuto = 1,          // each write and append is a transaction of its own
  log4modeAlways = 2,        // as 1
  log4modeNone = 3,          // takes part in no logging
};

// Starts a transaction around one write or append when the handle's mode
// asks for it and none is open; `*started` tells whether it did.
int32_t data4logAutoStart(DATA4* d, bool* started);
// Commits the handle's own transaction. A failure in phase one leaves it
// open for data4logAutoRollback; one in phase two has ended it.
int32_t data4logAutoCommit(DATA4* d);
// Rolls the handle's own transaction back while it is still open, keeping
// the error code that made it fail.
void data4logAutoRollback(DATA4* d);

// Each writes its entry when logging is on and returns 0, or -1240 when
// the log refused the entry (-60 when an opened file's status is
// unreadable).
int32_t data4logOpen(DATA4* d);
int32_t data4logClose(DATA4* d);
int32_t data4logUpdate(DATA4* d, int32_t record);
int32_t data4logAppend(DATA4* d, int32_t record);
int32_t data4logVoided(DATA4* d);
int32_t data4logCreate(DATA4* d, const FIELD4INFO* fields, const TAG4INFO* tags);
int32_t data4logZap(DATA4* d, uint32_t first, uint32_t last);
