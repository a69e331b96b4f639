// Currency values: signed 64-bit counts of 1/10000, as Y fields store them
// and the expression evaluator computes with them.
//
// Stored form (a Y field, 8 bytes):
//   offset size
//     0     8   the count, two's complement, little-endian
//
// Arithmetic wraps modulo 2^64 like the stored integer does; nothing here
// raises. Text is read and written by the engine's own digit code, so no
// locale takes part.
#pragma once

#include <cstdint>

inline constexpr int currency4size = 8;
inline constexpr int32_t currency4decimals = 4;  // implied decimal places

// The longest currency text: "-922337203685477.5808".
inline constexpr int32_t currency4textMax = 21;

struct CURRENCY4 {
  int64_t units = 0;  // value x 10000
};

CURRENCY4 currency4load(const unsigned char bytes[currency4size]);
void currency4store(unsigned char bytes[currency4size], CURRENCY4 value);

CURRENCY4 currency4add(CURRENCY4 a, CURRENCY4 b);
CURRENCY4 currency4subtract(CURRENCY4 a, CURRENCY4 b);
CURRENCY4 currency4negate(CURRENCY4 value);
CURRENCY4 currency4multiplyShort(CURRENCY4 value, int16_t factor);

// -1, 0 or 1 as a is below, equal to or above b.
int currency4compare(CURRENCY4 a, CURRENCY4 b);

// Writes the value as text: '-' for a negative value, the integer part
// ("0" when it is zero), then for `decimals` above 0 a '.' and the first
// `decimals` of the four fraction digits, cut without rounding. `decimals`
// is taken within 0..4. A negative value keeps its '-' even when every
// digit shown is zero ("-0" for -0.5 with no decimals).
//
// The text goes left-aligned into `output`, whose `size` bytes are first
// zero-filled; a longer text is cut at `size` bytes, so the output ends in
// a NUL only when size exceeds the text (currency4textMax + 1 always
// does). `length`, when given, receives the bytes written. Returns 0, or
// -930 (not raised) for a null output or a negative size.
int32_t currency4toText(char* output, int32_t size, CURRENCY4 value, int32_t decimals,
                        int32_t* length);

// Reads currency text from at most `n` bytes of `text` (a NUL ends it
// sooner): leading blanks, one '-' or '+', integer digits, then an optional
// '.' with at most four fraction digits; the first byte that cannot
// continue the number ends it. Empty or blank text is 0.
// Returns 0 with the value in `output`, or -1 with `output` zero when the
// fraction has more than four digits or the value lies outside the 64-bit
// range (-922337203685477.5808 to 922337203685477.5807).
int32_t currency4fromText(CURRENCY4* output, const char* text, int32_t n);
