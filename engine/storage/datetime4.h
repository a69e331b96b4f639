// Date-time values: a day number and the milliseconds since midnight, as
// T fields store them and the expression evaluator compares them.
//
// Stored form (a T field, 8 bytes):
//   offset size
//     0     4   day number (see date4.h), signed, little-endian; 0 empty
//     4     4   milliseconds since midnight, signed, little-endian
#pragma once

#include <cstdint>

inline constexpr int datetime4size = 8;
inline constexpr int32_t datetime4msPerDay = 86400000;
// Bytes of "HH:MM:SS".
inline constexpr int32_t time4textSize = 8;

struct DATETIME4 {
  int32_t day = 0;
  int32_t ms = 0;
};

DATETIME4 datetime4load(const unsigned char bytes[datetime4size]);
void datetime4store(unsigned char bytes[datetime4size], DATETIME4 value);

// -1, 0 or 1: by day number, then by milliseconds, both signed.
int datetime4compare(DATETIME4 a, DATETIME4 b);

// Writes "HH:MM:SS" (eight bytes, no terminator) for a time of day given in
// milliseconds, rounded to the nearest second (500 ms and more round up),
// so the last half second of a day shows "24:00:00". Stored values outside
// the day are taken at its bounds: below 0 as 0, beyond it as its last
// millisecond; the text never grows past eight bytes.
void time4msToText(char* text, int32_t ms);
