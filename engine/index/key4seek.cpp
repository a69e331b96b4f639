// Seek keys: converters from a seek argument given as text or as a double,
// and the table a tag picks them from by its key type.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/index/collate4.h"
#include "engine/index/key4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/date4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocKeyType = 80121;

// `text` laid into `out` (size bytes): what lies beyond `length` is blank.
void fixedPositions(const char* text, int32_t length, char* out, int32_t size) {
  const int32_t have = std::clamp(length, 0, size);
  std::memcpy(out, text, static_cast<size_t>(have));
  std::memset(out + have, ' ', static_cast<size_t>(size - have));
}

// A decimal field of fixed positions; a character other than a digit is 0.
uint32_t digits(const char* p, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; i++)
    value = value * 10 + (p[i] >= '0' && p[i] <= '9' ? static_cast<uint32_t>(p[i] - '0') : 0);
  return value;
}

// Hours, minutes and seconds at characters 1-2, 4-5 and 7-8.
void timeParts(const char* text, int32_t length, uint16_t parts[3]) {
  char fixed[8];
  fixedPositions(text, length, fixed, sizeof fixed);
  for (int i = 0; i < 3; i++) parts[i] = static_cast<uint16_t>(digits(fixed + 3 * i, 2));
}

// The double truncated toward zero into [low, high]; NaN gives 0.
// Currency text: the count of 1/10000 units. Blanks, then one '-' or '+',
// the integer digits, and after a '.' at most four decimals; at most 20
// digits in all (four counted for the decimals). Anything else, or nothing,
// gives 0. Values beyond the 64-bit range saturate, so that a seek past
// the largest currency lands after it (the field setters refuse them).
int64_t currencyFromText(const char* text, int32_t length) {
  const char* p = text;
  const char* end = text + std::max(length, 0);
  while (p < end && *p == ' ') ++p;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  const char* integerStart = p;
  while (p < end && *p >= '0' && *p <= '9') ++p;
  const char* integerEnd = p;
  while (integerStart + 1 < integerEnd && *integerStart == '0') ++integerStart;
  const char* fraction = p;
  int decimals = 0;
  if (p < end && *p == '.') {
    fraction = ++p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    decimals = static_cast<int>(p - fraction);
  }
  const int64_t integerDigits = integerEnd - integerStart;
  if (decimals > 4 || integerDigits + 4 > 20) return 0;
  // 20 digits can exceed 64 bits: accumulate unsigned and saturate.
  constexpr unsigned __int128 kBeyond = static_cast<unsigned __int128>(INT64_MAX) + 1;
  unsigned __int128 units = 0;
  for (const char* q = integerStart; q < integerEnd; ++q) units = units * 10 + (*q - '0');
  for (int i = 0; i < 4; i++) units = units * 10 + (i < decimals ? fraction[i] - '0' : 0);
  if (negative) return units >= kBeyond ? INT64_MIN : -static_cast<int64_t>(units);
  return units >= kBeyond ? INT64_MAX : static_cast<int64_t>(units);
}

// Adapters to the table's common form.
template <int32_t (*convert)(char*, const char*, int32_t)>
int32_t plain(COLLATE4*, char* key, const char* text, int32_t length, int32_t* keyLength) {
  *keyLength = convert(key, text, length);
  return 0;
}

int32_t wideMachine(COLLATE4*, char* key, const char* text, int32_t length, int32_t* keyLength) {
  key4fromWide(key, text, length);
  *keyLength = std::max(length, 0);
  return 0;
}

// A type-3 tag holds keys built from values (no sign adjustment).
int32_t timeAsParts(char* key, const char* text, int32_t length) {
  uint16_t parts[3];
  timeParts(text, length, parts);
  key4fromDateParts(key, parts);
  return key4partsLength;
}

}  // namespace

void key4fromDoubleAsInt(char* key, double value) {
  key4fromInt(key, convert4truncate<int32_t>(value));
}

void key4fromDoubleAsUnsigned(char* key, double value) {
  key4fromUnsigned(key, convert4truncate<uint32_t>(value));
}

void key4fromDoubleAsInt64(char* key, double value) {
  key4fromInt64(key, convert4truncate<int64_t>(value));
}

void key4fromDoubleAsCurrency(char* key, double value) {
  constexpr double kBound = 9223372036854775808.0;  // 2^63 units of 1/10000
  if (std::isnan(value)) return key4fromCurrency(key, 0);
  if (value * 10000 >= kBound) return key4fromCurrency(key, INT64_MAX);
  if (value * 10000 <= -kBound) return key4fromCurrency(key, INT64_MIN);
  // Through the text a currency field would receive, so that the rounding
  // is the field's.
  char text[24];
  convert4doubleToText(value, text, sizeof text, 4);
  key4fromCurrency(key, currencyFromText(text, sizeof text));
}

int32_t key4fromCharText(char* key, const char* text, int32_t length) {
  const int32_t n = std::max(length, 0);
  std::memmove(key, text, static_cast<size_t>(n));
  return n;
}

int32_t key4fromDateText(char* key, const char* text, int32_t length) {
  char date[8];
  fixedPositions(text, length, date, sizeof date);
  key4fromDouble(key, date4long(date));
  return std::clamp(length, 0, key4doubleLength);
}

int32_t key4fromNumericText(char* key, const char* text, int32_t length) {
  key4fromDouble(key, convert4textToDouble(text, length));
  return key4doubleLength;
}

int32_t key4fromCurrencyText(char* key, const char* text, int32_t length) {
  key4fromCurrency(key, currencyFromText(text, length));
  return key4int64Length;
}

int32_t key4fromIntText(char* key, const char* text, int32_t length) {
  key4fromInt(key, convert4textToLong(text, length));
  return key4intLength;
}

int32_t key4fromUnsignedText(char* key, const char* text, int32_t length) {
  key4fromUnsigned(key, convert4textToUnsigned(text, length));
  return key4intLength;
}

int32_t key4fromInt64Text(char* key, const char* text, int32_t length) {
  key4fromInt64(key, convert4textToInt64(text, length));
  return key4int64Length;
}

int32_t key4fromLogicalText(char* key, const char* text, int32_t length) {
  key[0] = 'F';
  for (int32_t i = 0; i < length; i++) {
    const char c = text[i];
    if (c == 'f' || c == 'F' || c == 'n' || c == 'N') break;
    if (c == 't' || c == 'T' || c == 'y' || c == 'Y') {
      key[0] = 'T';
      break;
    }
  }
  return key4logicalLength;
}

int32_t key4fromDateTimeText(char* key, const char* text, int32_t length) {
  if (length < 16) {
    std::memset(key, 0, key4doubleLength);
    return key4doubleLength;
  }
  const int64_t milliseconds = digits(text + 8, 2) * 3600000LL + digits(text + 11, 2) * 60000LL +
                               digits(text + 14, 2) * 1000LL;
  key4fromDateTime(key, date4long(text), static_cast<int32_t>(milliseconds));
  return key4doubleLength;
}

int32_t key4fromDatePartsText(char* key, const char* text, int32_t length) {
  char fixed[8];
  fixedPositions(text, length, fixed, sizeof fixed);
  const uint16_t parts[3] = {static_cast<uint16_t>(digits(fixed, 4)),
                             static_cast<uint16_t>(digits(fixed + 4, 2)),
                             static_cast<uint16_t>(digits(fixed + 6, 2))};
  key4fromDateParts(key, parts);
  return key4partsLength;
}

int32_t key4fromTimeText(char* key, const char* text, int32_t length) {
  uint16_t parts[3];
  timeParts(text, length, parts);
  for (uint16_t& part : parts) part ^= 0x8000;
  key4fromDateParts(key, parts);
  return key4partsLength;
}

int32_t key4fromDateTimePartsText(char* key, const char* text, int32_t length) {
  char fixed[17];
  fixedPositions(text, length, fixed, sizeof fixed);
  const uint16_t parts[6] = {
      static_cast<uint16_t>(digits(fixed, 4)),      static_cast<uint16_t>(digits(fixed + 4, 2)),
      static_cast<uint16_t>(digits(fixed + 6, 2)),  static_cast<uint16_t>(digits(fixed + 8, 2)),
      static_cast<uint16_t>(digits(fixed + 11, 2)), static_cast<uint16_t>(digits(fixed + 14, 2))};
  const uint32_t last = length > 17 ? convert4textToUnsigned(text + 17, length - 17) : 0;
  key4fromDateTimeParts(key, parts, last);
  return key4dateTimePartsLength;
}

int32_t key4seekConverters(CODE4* c, int32_t keyType, bool collated, Key4Seek* seek) {
  *seek = Key4Seek{};
  switch (keyType) {
    case 'C':
      if (collated) {
        seek->fromText = collate4stringToKey;
      } else {
        seek->fromText = plain<key4fromCharText>;
        seek->pad = ' ';
      }
      return 0;
    case 'W':
    case 'O':
      seek->fromText = collated ? key4fromWideCollate : wideMachine;
      return 0;
    case 'D':
    case 'd':
      *seek = {plain<key4fromDateText>, key4fromDouble, 0};
      return 0;
    case 'N':
    case 'n':
      *seek = {plain<key4fromNumericText>, key4fromDouble, 0};
      return 0;
    case 'Y':
      *seek = {plain<key4fromCurrencyText>, key4fromDoubleAsCurrency, 0};
      return 0;
    case 'I':
    case 'Q':
      *seek = {plain<key4fromIntText>, key4fromDoubleAsInt, 0};
      return 0;
    case 'P':
    case 'R':
      *seek = {plain<key4fromUnsignedText>, key4fromDoubleAsUnsigned, 0};
      return 0;
    case 'L':
      *seek = {plain<key4fromLogicalText>, nullptr, -1};
      return 0;
    case 'T':
      *seek = {plain<key4fromDateTimeText>, nullptr, 0};
      return 0;
    case '1':
      *seek = {plain<key4fromInt64Text>, key4fromDoubleAsInt64, 0};
      return 0;
    case '2':
      *seek = {plain<key4fromDatePartsText>, key4fromJulianAsParts, 0};
      return 0;
    case '3':
      *seek = {plain<timeAsParts>, nullptr, 0};
      return 0;
    case '4':
      *seek = {plain<key4fromDateTimePartsText>, nullptr, 0};
      return 0;
    default:
      return error4(c, e4info, kLocKeyType);
  }
}
