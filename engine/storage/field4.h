// FIELD4: one field of an open table, built from its descriptor when the
// table is opened, and the operations on the field itself: where its bytes
// are, what it is, its null flag and its blank value. Conversions of its
// value live in field4value.h.
//
// How each type letter holds its value in the record:
//   C       text, blank padded on the right ('Z' when the binary flag is 1)
//   N, F    right-justified decimal text with the field's decimals
//   D       date text "CCYYMMDD" (date4.h)
//   L       one character; 'T', 't', 'Y' and 'y' are true
//   M, G    memo block number: ten characters of text, or a 4-byte binary
//           integer when the length is 4 (an M field with binary flag 1
//           is shown as 'X')
//   I, P    signed 32-bit integer
//   Q       signed 16-bit integer
//   R       16-bit integer, read unsigned as a long and signed as an int
//   B       IEEE double (version 0x30 files)
//   T       date-time (datetime4.h)
//   Y       currency (currency4.h)
//   2       three 16-bit integers: year, month, day
//   0       the null flags: one bit per nullable field
// Every number is little-endian.
//
// Every operation checks the field's validity marker first: a null field
// raises -935, an invalid one -930, both at the operation's location and
// without a settings object. Operations that write also return -1 at once
// while the settings object holds an error, and with locking enforced
// refuse (-50 raised at their location) a write on the handle's current
// record (number 1 or more) unless the handle holds its lock. A write
// marks the record changed and clears the field's null flag.
#pragma once

#include <cstdint>

struct DATA4;
struct MEMO4FIELD;

struct FIELD4 {
  char name[11] = {};     // upper case, NUL-terminated
  uint16_t length = 0;    // bytes in the record
  uint16_t decimals = 0;  // N and F; B, T and Y in version 0x30 files
  int16_t type = 0;       // the descriptor's letter, upper case
  uint32_t offset = 0;    // first byte in the record; the first field is at 1
  DATA4* data = nullptr;
  int8_t nullable = 0;         // version 0x30 files only
  uint16_t nullBit = 0;        // among the nullable fields, from 0
  int8_t binary = 0;           // 1 binary storage; 2 an M or G field (0x30 files only)
  uint16_t nullByte = 0;       // nullBit / 8
  uint8_t nullMask = 0;        // 1 << (nullBit % 8)
  MEMO4FIELD* memo = nullptr;  // the memo buffer entry of an M or G field
  int16_t validityMarker = 0;
  int8_t autoIncrement = 0;
};

// The field's bytes in the current record buffer (null on a failed check).
char* field4ptr(const FIELD4* field);
// The same bytes for writing: the write checks pass, the null flag is
// cleared and the record marked changed before the caller writes. Null
// when refused.
char* field4assignPtr(FIELD4* field);

uint32_t field4len(const FIELD4* field);      // 0 on a failed check
int32_t field4decimals(const FIELD4* field);  // -1 on a failed check
const char* field4name(const FIELD4* field);  // null for a null field

// The type letter as callers see it: 'Z' for a binary C field, 'X' for an
// M field with binary flag 1, else the stored letter. 0 on a failed check.
int field4type(const FIELD4* field);
// The letter as the expression parser types values: as field4type, and
// 'N' for F fields.
int field4typeExpr(const FIELD4* field);

// The field's 1-based position in its handle's field table; negative on a
// failed check.
int32_t field4number(const FIELD4* field);

// 1 when the field is nullable and its bit in the null flags is set, else
// 0; negative on a failed check.
int32_t field4null(const FIELD4* field);
// Clears the field's null flag when it is set (and then marks the record
// changed): 0, or negative when refused.
int32_t field4assignNotNull(FIELD4* field);

// Blanks the value (see field4blankBytes): 0, or negative when refused.
int32_t field4blank(FIELD4* field);

// Writes the blank value of `field` into `bytes` (the field's length): the
// date 1899-12-30 for a '2' field; otherwise blanks when the binary flag is
// 0, zero bytes when it is set. Binary types in files other than version
// 0x30 carry no binary flag and so are blanked with blanks, as other tools
// expect of those files.
void field4blankBytes(const FIELD4* field, char* bytes);
