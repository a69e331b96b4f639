// Field values: reading and assigning the value of a field in its handle's
// current record buffer as text, numbers, currency and date-time.
//
// The checks, the write guard and what a write does to the record and the
// null flags are those of field4.h. A type that an operation does not
// support raises -930 at 80053 with the handle's settings object and leaves
// the record as it was; getters then answer 0 (or 0.0, or null), setters
// -930.
//
// Numbers are converted by the engine's own locale-free code (convert4.h):
// a number too wide for an N or F field is written as '*' characters, which
// stay in the record. Doubles become integers through convert4truncate,
// which saturates at the integer's bounds and makes NaN 0.
//
// Texts returned by field4str, field4currency and field4dateTime live in the
// settings object's work buffer, shared by every field of that settings
// object: use a text before the next such call.
#pragma once

#include <cstdint>

#include "engine/storage/field4.h"

// The field's bytes followed by two NULs, in the work buffer.
const char* field4str(const FIELD4* field);

// 1 when the first byte is 'T', 't', 'Y' or 'y', else 0. A field that is
// not logical raises -930 at 80053 and is still tested. Negative on a
// failed check.
int32_t field4true(const FIELD4* field);

// Assigns NUL-terminated text: right-justified to N and F fields
// (field4assignRight), left-aligned to all others (field4assignN).
int32_t field4assign(FIELD4* field, const char* text);
// Assigns `n` bytes left-aligned: when they fit, the field is blanked
// first; otherwise its first length bytes are taken. Null bytes with n
// above 0 raise -935.
int32_t field4assignN(FIELD4* field, const char* bytes, uint32_t n);
// The same, right-aligned when the bytes fit. A text longer than the field
// keeps its first length bytes, for N fields too.
int32_t field4assignRight(FIELD4* field, const char* bytes, uint32_t n);

// By type, for reading:
//   B        the stored double
//   D        the day number of the date text (0 blank, -1 impossible)
//   I, P     the signed 32-bit integer; Q signed 16-bit
//   R        unsigned 16-bit as a double or long, signed as an int
//   M, G, X  of length 4: the binary block number
//   Y        the currency value (its text with four decimals, read back)
//   others   the field's text read as a number
// Refused: '0', L and T everywhere; field4int also refuses D, G, M and X.
double field4double(const FIELD4* field);
int32_t field4long(const FIELD4* field);
int32_t field4int(const FIELD4* field);

// By type, for writing:
//   B        the double; from integers, the integer as a double
//   D        date4assign of the value as a day number (blanks below 1)
//   I, P     32 bits; Q and R the low 16 bits of an integer
//   M, G, X  of length 4: the binary block number
//   Y        the value as currency; one outside the currency range is
//            refused with -440 (not raised) and the field kept
//   others   right-justified number text with the field's decimals (an
//            integer to a field with decimals goes through the double)
// Refused: field4assignDouble '0', '1', '2', '3', '4', '6', L, O, P, Q, R,
// T and W; field4assignLong '0', L and T; field4assignInt '0', D, G, L, M,
// T and X. 0, or -440 (not raised) when '*' were written, or negative when
// refused.
int32_t field4assignDouble(FIELD4* field, double value);
int32_t field4assignLong(FIELD4* field, int32_t value);
int32_t field4assignInt(FIELD4* field, int32_t value);

// A Y field's value as text with 0 to 4 decimals (see currency4toText), in
// the work buffer. Decimals outside 0..4 raise -930 at 90055 without a
// settings object. Null when refused.
const char* field4currency(const FIELD4* field, int32_t decimals);
// Assigns currency text (see currency4fromText) to a Y field: 0; -1 (not
// raised, the field kept) for text that is not a currency value in range.
int32_t field4assignCurrency(FIELD4* field, const char* text);

// A T field's value as "CCYYMMDDHH:MM:SS" (16 characters; the date blank
// for a day below 1), in the work buffer. Null when refused.
const char* field4dateTime(const FIELD4* field);
