// The numbers of archive lines as text and back, independent of the locale.
//
// Readers take what the C library's atoi and strtod took from a value:
// leading white space, a sign, then as many digits as stand there; anything
// after them is ignored and no digits at all read as 0. Unlike those, they
// never overflow: a value beyond its type's range saturates at its bound.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace archive {

// Appends a decimal integer, as "%d" and "%lld" write it.
void AppendDecimal(std::string& out, int64_t value);
// Appends a day count with a '.' and exactly six decimals, as "%f" writes
// it in the C locale.
void AppendSixDecimals(std::string& out, double value);
// The whole second nearest to a day count, as the catalogue stores a
// second: whole days, then the second of the day over 86400 counted
// forward from the day's midnight (for a count below 0, away from 0). A
// time that rounds to 24:00 is the next day's midnight. Six decimals of a
// day lie 0.0864 s apart, so the second a whole-second date was written
// from is the nearest one.
double NearestSecond(double days);

int64_t ParseInt64(std::string_view text);
int32_t ParseInt32(std::string_view text);
// A volume serial, as strtoul took it with a 32-bit unsigned long: a
// negative value wraps ("-1" is 4294967295), a magnitude beyond 32 bits
// saturates at 4294967295.
uint32_t ParseSerial(std::string_view text);
// A decimal floating-point number with an optional exponent. Text that is
// no finite number (none, "inf", "nan", or out of the double range) reads
// as 0: it is stored as a date, and a field cannot hold anything else.
double ParseDouble(std::string_view text);

}  // namespace archive
