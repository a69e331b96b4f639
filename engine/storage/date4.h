// Dates: julian day numbers, the date text "CCYYMMDD" and date pictures.
//
// Day numbers count days in the proleptic Gregorian calendar: 1 January of
// year 1 is day 1721426 (the base 1721425 plus one), so a day number is the
// days since 1 January 1970 plus 2440588. 0 stands for an empty date and -1
// for an impossible one. Day numbers are signed 32-bit.
//
// Date text is eight bytes "CCYYMMDD" (century, year, month, day) without
// a terminator; an empty date is eight blanks, or eight '0' where the caller
// asks for zeros. D fields of DBF records hold this text.
//
// A date picture is a NUL-terminated text of fewer than 20 characters in
// which C, Y, M and D (in either case) stand for the digits of the date,
// and a run of three or more M for the month's English name; every other
// character is shown as itself. "MM/DD/YY", "CCYYMMDD", "MMM DD, CCYY".
// The pictures given are never changed.
#pragma once

#include <cstdint>

struct CODE4;

inline constexpr int32_t date4julianBase = 1721425;
// Pictures are shorter than this, terminator included.
inline constexpr int32_t date4pictureSize = 20;

// The day of the year of a date (1-366), or -1 unless year >= 0, month is
// 1-12 and day is within the month (29 February in leap years only).
int32_t date4yearDay(int32_t year, int32_t month, int32_t day);

// Days before 1 January of `year`: 365 (y - 1) + (y - 1) / 4 - (y - 1) / 100
// + (y - 1) / 400, dividing towards zero. From year 1 on this is the
// Gregorian count; for year 0 it is one short (stored day numbers of year 0
// were computed with it).
int64_t date4yearDays(int32_t year);

// Month and day of the `dayOfYear`-th day of `year`: 0, or -1 with both set
// to 0 when the day is not within the year.
int32_t date4monthDay(int32_t year, int32_t dayOfYear, int32_t* month, int32_t* day);

// The day number of a date, or -1 for an impossible date (or one beyond the
// 32-bit range).
int32_t date4julian(int32_t year, int32_t month, int32_t day);

// The day number of a date text: 0 for eight blanks or "00000000", -1 when
// a byte is neither digit nor blank or the date is impossible. Each part is
// read as a number with leading blanks (month " 6" is June).
int32_t date4long(const char* dateText);

// Writes the date text of a day number. Day numbers below 1, and those
// outside years 0 to 9999, give the empty date: eight '0' when `zeros` is
// set, else eight blanks.
void date4assign(char* dateText, int32_t julianDay, int zeros);

// Shows a date text through a picture: `output` receives strlen(picture) + 1
// bytes, the picture's letters upper-cased. A month shown by name with
// blank month digits shows blanks. Returns 0, or -930 (not raised, nothing
// written) for a null argument or a picture of 20 characters or more.
int32_t date4format(const char* dateText, char* output, const char* picture);

// Reads `input` laid out as `picture` into a date text. Each C, Y, M and D
// takes the input byte at its position for the first two of its kind; other
// picture characters skip theirs. When nothing was read the date stays
// empty (blanks); otherwise a picture without C takes today's century, one
// without Y, M or D takes "01" for it, and every blank left becomes '0'. A
// run of three or more M reads up to three letters of the month's name, in
// either case; an unknown or empty name gives month "00". The date is not
// checked (date4long tells). Returns 0, or -930 (not raised, nothing
// written) for a null argument or a picture of 20 characters or more.
int32_t date4init(char* dateText, const char* input, const char* picture);

// Today in local time, as date text (eight bytes, no terminator).
void date4today(char* dateText);
// The local time now as "HH:MM:SS" (eight bytes, no terminator).
void date4timeNow(char* timeText);
// Today as three bytes: year % 100, month, day (the DBF header's date).
void date4todayBytes(uint8_t* bytes);

// The settings object's date picture; null and -935 raised at 90433 without
// a settings object.
const char* code4dateFormat(CODE4* c);
// Stores a new date picture: 0; a null argument raises -935 at 90432
// without a settings object; a picture of 20 characters or more raises -930
// at 90432 and keeps the old one.
int32_t code4dateFormatSet(CODE4* c, const char* picture);
