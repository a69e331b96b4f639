// Sort keys: byte encodings of values whose unsigned byte order is the order
// of the values, and the converters that build them from evaluated values,
// from seek arguments (text or a double) and in place for ASCEND/DESCEND.
//
// Encodings; every multi-byte value is written high byte first:
//
//   value                         type letters   bytes  encoding
//   double                        N n D d        8      value >= 0 (and -0): the IEEE bits
//                                                       with the top bit set; negative: the
//                                                       IEEE bits complemented
//   signed 32-bit integer         I Q            4      two's complement, top bit flipped
//   unsigned 32-bit integer       P R            4      as it is
//   signed 64-bit integer         1              8      two's complement, top bit flipped
//   currency (1/10000 units)      Y              8      as the signed 64-bit integer
//   three 16-bit parts            2 3            6      each part as it is
//   six 16-bit, one 32-bit part   4              16     each part as it is
//   date-time                     T              8      double key of the day number plus
//                                                       the whole seconds (key4fromDateTime)
//   logical                       L              1      'T' or 'F'
//   text                          C              n      the bytes, or collated (collate4.h)
//   wide text                     W O            n      each 16-bit character high byte
//                                                       first, or collated (collate4.h)
//
// Keys are fixed-width binary, not C strings: nothing here writes a NUL.
// Every converter works in the caller's buffer without allocating; the
// buffer must hold the key's bytes (at most 16, or the text's own length for
// text keys).
#pragma once

#include <cstdint>

struct CODE4;
struct COLLATE4;

inline constexpr int32_t key4doubleLength = 8;
inline constexpr int32_t key4intLength = 4;
inline constexpr int32_t key4int64Length = 8;
inline constexpr int32_t key4partsLength = 6;
inline constexpr int32_t key4dateTimePartsLength = 16;
inline constexpr int32_t key4logicalLength = 1;

// Converters from an evaluated value.
void key4fromDouble(char* key, double value);
void key4fromInt(char* key, int32_t value);
void key4fromUnsigned(char* key, uint32_t value);
void key4fromInt64(char* key, int64_t value);
void key4fromCurrency(char* key, int64_t value);
// Types 2 and 3: year, month, day (or hour, minute, second). The two names
// give the same key.
void key4fromDateParts(char* key, const uint16_t parts[3]);
void key4fromDatePartsUnsigned(char* key, const uint16_t parts[3]);
// Type 4: year, month, day, hour, minute, second, then the 32-bit part.
void key4fromDateTimeParts(char* key, const uint16_t parts[6], uint32_t last);
// 'T' for a value of exactly 1, else 'F' (a logical result is 0 or 1; any
// other value is not true).
void key4fromLogical(char* key, int32_t value);
// Wide text in memory order (low byte first) to machine-order key bytes:
// each pair swapped. An odd last byte is copied as it is.
void key4fromWide(char* key, const char* text, int32_t byteLength);

// Date-time key of a day number and milliseconds since midnight:
//  1. the milliseconds rounded to whole seconds, 500 ms rounding up;
//  2. value = day + rounded ms x (1 / 86,400,000), computed in extended
//     precision and stored as a double;
//  3. when bit s + 1 of the correction table is set (s = the rounded
//     seconds; bits outside the table count as clear), the double's lowest
//     byte is lowered by one, a zero lowest byte becoming 255 and lowering
//     the next byte (one borrow only);
//  4. the double key of that value.
// Keys stored by earlier writers were built this way; it must not change.
void key4fromDateTime(char* key, int32_t julianDay, int32_t milliseconds);

// The date-time correction table: 86,400 bits, bit b set exactly when
// 338 <= (91 x (b - 1)) mod 675 <= 513 for 1 <= b <= 86,399 (22,528 bits).
// Built once per process, on first use, and never freed.
bool key4correctionBit(int64_t bit);

// Year, month and day of a day number (see date4.h). Day numbers of 0 or
// less, and those beyond 31 December 65535, give three zero parts and -1;
// otherwise 0.
int32_t date4partsFromJulian(int32_t julianDay, uint16_t parts[3]);

// Every byte of `length` complemented, written from the last byte to the
// first: `key` and `source` may be the same buffer.
void key4descend(char* key, const char* source, int32_t length);

// Seek arguments given as a double. Conversions to integers truncate toward
// zero and saturate at the type's bounds; NaN gives 0.
void key4fromDoubleAsInt(char* key, double value);
void key4fromDoubleAsUnsigned(char* key, double value);
void key4fromDoubleAsInt64(char* key, double value);
// The value rounded to four decimals as a currency field stores it.
void key4fromDoubleAsCurrency(char* key, double value);
// The day number (truncated) split into year, month and day parts.
void key4fromJulianAsParts(char* key, double julianDay);

// Seek arguments given as text of `length` bytes (a NUL ends a number's text
// early). Each returns the key length. Where a converter reads characters at
// fixed positions, positions beyond `length` count as blanks, and any
// character other than a digit counts as 0 inside a digit field.
//
// Text copied as it is; the key length is the text's.
int32_t key4fromCharText(char* key, const char* text, int32_t length);
// date4long of "CCYYMMDD" as a double key; the key length is the text's,
// but at most the 8 bytes of the key.
int32_t key4fromDateText(char* key, const char* text, int32_t length);
int32_t key4fromNumericText(char* key, const char* text, int32_t length);
// Currency text: blanks, one sign, digits, at most four decimals and at most
// 20 digits with them; other text gives the key of 0. Saturates.
int32_t key4fromCurrencyText(char* key, const char* text, int32_t length);
int32_t key4fromIntText(char* key, const char* text, int32_t length);
int32_t key4fromUnsignedText(char* key, const char* text, int32_t length);
int32_t key4fromInt64Text(char* key, const char* text, int32_t length);
// The first of f F n N gives 'F', the first of t T y Y gives 'T'; other
// characters are skipped; none of them gives 'F'.
int32_t key4fromLogicalText(char* key, const char* text, int32_t length);
// "CCYYMMDD HH:MM:SS" (any separators): the date-time key; a text shorter
// than 16 characters gives eight zero bytes.
int32_t key4fromDateTimeText(char* key, const char* text, int32_t length);
// Year 1-4, month 5-6, day 7-8: the three parts.
int32_t key4fromDatePartsText(char* key, const char* text, int32_t length);
// Hours 1-2, minutes 4-5, seconds 7-8, each part with its top bit flipped.
int32_t key4fromTimeText(char* key, const char* text, int32_t length);
// Year 1-4, month 5-6, day 7-8, hour 9-10, minute 12-13, second 15-16, and
// the 32-bit part from the digits from character 18 on.
int32_t key4fromDateTimePartsText(char* key, const char* text, int32_t length);

// The seek converters of a key type. `fromText` returns 0 with the key
// length in `keyLength`, or a negative code; its collation argument is read
// only by collated text. `fromDouble` is null where the type takes no
// double. `pad` is the byte that fills short seek keys, or -1 where the
// tag's pad byte stays as it is.
struct Key4Seek {
  int32_t (*fromText)(COLLATE4* collate, char* key, const char* text, int32_t length,
                      int32_t* keyLength) = nullptr;
  void (*fromDouble)(char* key, double value) = nullptr;
  int pad = 0;
};

// Fills `seek` for a key type letter (C, W, O, D, d, N, n, Y, I, Q, P, R, L,
// T, '1'-'4'); `collated` chooses the collated text converters. 0, or -910
// raised at 80121 for any other type.
//
// A type-3 tag's keys are built from values without a sign adjustment, so
// its text converter gives that same form (not key4fromTimeText's): a seek
// must meet the keys the tag holds.
int32_t key4seekConverters(CODE4* c, int32_t keyType, bool collated, Key4Seek* seek);

// Turns an operand of the expression evaluator into key form in place, for
// ASCEND and DESCEND, and returns its new length. `value` holds the operand
// as the evaluator keeps it (fields' little-endian layouts, doubles in
// memory order) and `length` is its length; `integer` is the operand already
// truncated to an integer, used by types 1, I, Q, P, R and d. `value` must
// have room for the key: 8 bytes for 1, T, Y, d and n.
//   1 -> 64-bit integer key of `integer`     I Q -> integer key of `integer`
//   P R -> unsigned key of `integer`         2 3 4 -> the parts keys
//   L -> "1" for a non-zero 32-bit value, else "0"
//   N -> the numeric text made key text (convert4numberToKeyText)
//   W O -> every 2-byte character high byte first
//   T -> the date-time key of (day, milliseconds)   Y -> currency key
//   d -> "CCYYMMDD" of `integer` (date4assign)      n -> double key
//   C, D and any other type -> unchanged
int32_t expr4keyConvert(int32_t type, char* value, int32_t length, int64_t integer);
