#include "engine/storage/currency4.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr uint64_t kUnitsPerWhole = 10000;
// Magnitudes a value may have: 2^63 - 1 positive, 2^63 negative.
constexpr uint64_t kMaxPositive = static_cast<uint64_t>(INT64_MAX);
constexpr uint64_t kMaxNegative = kMaxPositive + 1;
// More integer digits than this cannot fit: 10^15 whole units are already
// beyond 2^63 / 10^4, and 15 digits with the fraction stay below 2^64.
constexpr int kIntegerDigitsMax = 15;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// |value| without overflow: the magnitude of INT64_MIN is 2^63.
uint64_t magnitudeOf(int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  return value < 0 ? 0 - bits : bits;
}

int64_t fromUnsigned(uint64_t bits) { return static_cast<int64_t>(bits); }

}  // namespace

CURRENCY4 currency4load(const unsigned char bytes[currency4size]) {
  return {fromUnsigned(endian4::readLe(bytes, currency4size))};
}

void currency4store(unsigned char bytes[currency4size], CURRENCY4 value) {
  endian4::writeLe(bytes, static_cast<uint64_t>(value.units), currency4size);
}

CURRENCY4 currency4add(CURRENCY4 a, CURRENCY4 b) {
  return {fromUnsigned(static_cast<uint64_t>(a.units) + static_cast<uint64_t>(b.units))};
}

CURRENCY4 currency4subtract(CURRENCY4 a, CURRENCY4 b) {
  return {fromUnsigned(static_cast<uint64_t>(a.units) - static_cast<uint64_t>(b.units))};
}

CURRENCY4 currency4negate(CURRENCY4 value) {
  return {fromUnsigned(0 - static_cast<uint64_t>(value.units))};
}

CURRENCY4 currency4multiplyShort(CURRENCY4 value, int16_t factor) {
  // Modulo 2^64 the product does not depend on the signs' handling, so the
  // unsigned product is the wrapped signed one.
  const auto product = static_cast<uint64_t>(value.units) * static_cast<uint64_t>(int64_t{factor});
  return {fromUnsigned(product)};
}

int currency4compare(CURRENCY4 a, CURRENCY4 b) {
  if (a.units < b.units) return -1;
  return a.units > b.units ? 1 : 0;
}

int32_t currency4toText(char* output, int32_t size, CURRENCY4 value, int32_t decimals,
                        int32_t* length) {
  if (length != nullptr) *length = 0;
  if (output == nullptr || size < 0) return e4parm;
  decimals = std::clamp(decimals, 0, currency4decimals);

  const uint64_t magnitude = magnitudeOf(value.units);
  uint64_t whole = magnitude / kUnitsPerWhole;
  uint64_t fraction = magnitude % kUnitsPerWhole;

  char text[currency4textMax + 1];
  int32_t used = 0;
  if (value.units < 0) text[used++] = '-';
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  while (count > 0) text[used++] = digits[--count];
  if (decimals > 0) {
    text[used++] = '.';
    char four[4];
    for (int i = 3; i >= 0; i--, fraction /= 10) four[i] = static_cast<char>('0' + fraction % 10);
    std::memcpy(text + used, four, static_cast<size_t>(decimals));
    used += decimals;
  }

  std::memset(output, 0, static_cast<size_t>(size));
  const int32_t written = std::min(used, size);
  std::memcpy(output, text, static_cast<size_t>(written));
  if (length != nullptr) *length = written;
  return 0;
}

int32_t currency4fromText(CURRENCY4* output, const char* text, int32_t n) {
  if (output == nullptr) return -1;
  output->units = 0;
  if (text == nullptr || n <= 0) return 0;
  const char* p = text;
  const char* const end = text + strnlen(text, static_cast<size_t>(n));

  while (p < end && *p == ' ') ++p;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  while (p < end && *p == '0') ++p;

  uint64_t whole = 0;
  int integerDigits = 0;
  for (; p < end && isDigit(*p); ++p) {
    if (++integerDigits > kIntegerDigitsMax) return -1;
    whole = whole * 10 + static_cast<uint64_t>(*p - '0');
  }
  uint64_t fraction = 0;
  int fractionDigits = 0;
  if (p < end && *p == '.') {
    for (++p; p < end && isDigit(*p); ++p) {
      if (++fractionDigits > currency4decimals) return -1;
      fraction = fraction * 10 + static_cast<uint64_t>(*p - '0');
    }
  }
  for (int i = fractionDigits; i < currency4decimals; i++) fraction *= 10;

  const uint64_t magnitude = whole * kUnitsPerWhole + fraction;
  if (magnitude > (negative ? kMaxNegative : kMaxPositive)) return -1;
  output->units = fromUnsigned(negative ? 0 - magnitude : magnitude);
  return 0;
}
