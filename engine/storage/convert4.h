// Conversions between numbers and the fixed-width text that DBF records and
// index keys hold.
//
// Every conversion here is the engine's own: locale-free and byte-exact, so
// that a number is stored the same whatever locale the process runs under
// (the toolkit sets it from the environment, and a French locale would put
// decimal commas into tables). Nothing here raises: text that is not a
// number converts as far as it is numeric, and a number that does not fit
// its width is written as '*' characters, which then stay in the record.
//
// Number texts are fixed-width fields, not C strings: the writers never add
// a NUL, and the readers stop at `length` bytes or at a NUL, whichever comes
// first. A negative `length` given to a reader reads nothing.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>

// Text to double: leading blanks, an optional '-', the integer digits, then
// an optional '.' and fraction digits; anything else ends the number. The
// whole text is read, at most 39 bytes of it from its first significant
// digit on (blanks, the sign and leading zeros skipped), so a right-aligned
// value in a field of any width reads whole. A text of at most 49 bytes
// with at most 39 after its blanks and sign converts as the engine has
// always converted it: keys stored from such values stay valid.
//
// The value is built as the engine always has (see convert4.cpp), which is
// not always the double nearest to the text; index keys stored on disk were
// built from these values, so the algorithm must not change.
double convert4textToDouble(const char* text, int32_t length);
// The same over a NUL-terminated text.
double convert4stringToDouble(const char* text);

// Text to a 32-bit integer: leading white space, an optional '+' or '-',
// decimal digits up to the first other character; at most 127 bytes.
// Values beyond the type's range saturate (a negative value gives 0 as
// unsigned).
int32_t convert4textToInt(const char* text, int32_t length);
int32_t convert4textToLong(const char* text, int32_t length);
uint32_t convert4textToUnsigned(const char* text, int32_t length);
// The same for a 64-bit integer, saturating at the type's bounds.
int64_t convert4textToInt64(const char* text, int32_t length);

// Double to right-justified fixed-point text over exactly `length` bytes.
// `decimals` below 1 writes no point; otherwise decimals are limited to 15
// and to length - 1, and '.' stands at length - decimals - 1. The value is
// rounded half away from zero on its exact binary value (0.125 to two
// decimals is "0.13"; 0.145, stored as 0.14499..., is "0.14"). Integer
// digits stand right-aligned before the point with blanks in front, a '-'
// directly before the first digit, and a '0' before the point for a value
// below 1 when there is room for it (length 3 with 2 decimals gives ".50").
// A value that rounds to zero carries no sign.
// Returns 0, or -440 (not raised) with the bytes filled with '*' when the
// digits and sign do not fit, the value is NaN or infinite, or length < 1.
int32_t convert4doubleToText(double value, char* buffer, int32_t length, int32_t decimals);

// Integer to right-justified text over |length| bytes. A positive length
// pads with blanks and puts '-' directly before the first digit; a negative
// length pads with zeros ("007") and cannot show a negative value.
// Returns 0, or -440 (not raised) with the bytes filled with '*' when the
// value does not fit, or length is 0.
int32_t convert4longToText(int32_t value, char* buffer, int32_t length);

// Turns a numeric field's text into index-key text in place, so that keys of
// one width and decimals sort bytewise as their numbers do: leading blanks
// and a '-' become '0'; a negative value then has every byte b replaced by
// 92 - b ('0'..'9' become ','..'#', '.' stays), which puts negatives before
// positives and in reverse order of magnitude.
void convert4numberToKeyText(char* text, int32_t length);

// The number of halvings that bring `value` down to 1; 0 below 2.
int32_t bits4log2(int32_t value);

// A double truncated towards zero into a signed integer type, saturating:
// values beyond the type's range give its bound, NaN gives 0. A plain cast
// of such values is undefined behaviour; every double-to-integer conversion
// of stored or computed values goes through here.
template <std::signed_integral Int>
inline Int convert4truncate(double value) {
  // -min is 2^(bits - 1), exact as a double for every integer width.
  constexpr double kBound = -static_cast<double>(std::numeric_limits<Int>::min());
  if (std::isnan(value)) return 0;
  if (value >= kBound) return std::numeric_limits<Int>::max();
  if (value <= -kBound) return std::numeric_limits<Int>::min();
  return static_cast<Int>(value);
}

// The same for unsigned integers: negative values give 0.
template <std::unsigned_integral Int>
inline Int convert4truncate(double value) {
  constexpr double kBound = static_cast<double>(std::numeric_limits<Int>::max()) + 1.0;
  if (std::isnan(value) || value <= 0.0) return 0;
  if (value >= kBound) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);
}
