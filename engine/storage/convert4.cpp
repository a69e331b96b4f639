#include "engine/storage/convert4.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "engine/storage/error4.h"

namespace {

constexpr int32_t kDoubleDigitsMax = 39;  // bytes read from the first significant one
constexpr int32_t kIntegerTextMax = 127;  // bytes a text-to-integer reads
constexpr int32_t kDecimalsMax = 15;

// 10^n for n = 0..39, each the double nearest to the power. Fractions have
// at most 38 digits (39 bytes less the point).
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                   1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19,
                                   1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29,
                                   1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39};
static_assert(std::size(kPowersOfTen) == kDoubleDigitsMax + 1);

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The readable end of a fixed-width text: `length` bytes at most, cut at
// the first NUL.
const char* textEnd(const char* text, int32_t length) {
  if (text == nullptr || length <= 0) return text;
  return text + strnlen(text, static_cast<size_t>(length));
}

int64_t smallDigitRunValue(const char* digits, int count) {
  int64_t value = 0;
  for (int i = 0; i < count; ++i) value = value * 10 + (digits[i] - '0');
  return value;
}

// The value of a run of decimal digits as the engine has always built it:
// each digit beyond the last nine multiplied in as a double, then times
// 1e9 plus the last nine digits taken as one integer. This order decides
// the last bit of the result, so it is kept exactly.
double digitRunValue(const char* digits, int count) {
  if (count <= 9) return static_cast<double>(smallDigitRunValue(digits, count));
  const int lead = count - 9;
  double value = 0;
  for (int i = 0; i < lead; ++i) value = value * 10 + (digits[i] - '0');
  return value * 1e9 + static_cast<double>(smallDigitRunValue(digits + lead, 9));
}

// Reads [p, end): blanks, sign, integer digits, '.' and fraction digits.
// Leading zeros of the integer part add nothing to its value (nor to the
// order of the operations that build it), so the digit bound counts from
// the first significant byte.
double parseDouble(const char* p, const char* end) {
  while (p < end && *p == ' ') ++p;
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  if (end - p > kDoubleDigitsMax) {
    while (p < end && *p == '0') ++p;
    if (end - p > kDoubleDigitsMax) end = p + kDoubleDigitsMax;
  }

  const char* digits = p;
  while (p < end && isDigit(*p)) ++p;
  double value = digitRunValue(digits, static_cast<int>(p - digits));
  if (p < end && *p == '.') {
    digits = ++p;
    while (p < end && isDigit(*p)) ++p;
    const int count = static_cast<int>(p - digits);
    if (count > 0) value += digitRunValue(digits, count) / kPowersOfTen[count];
  }
  return negative ? -value : value;
}

// Reads white space, a sign and decimal digits from [p, end), clamped to
// [low, high].
int64_t parseInteger(const char* p, const char* end, int64_t low, int64_t high) {
  while (p < end && isWhiteSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  constexpr int64_t kSaturated = int64_t{1} << 33;  // beyond every 32-bit bound
  int64_t magnitude = 0;
  for (; p < end && isDigit(*p); ++p) {
    magnitude = std::min(magnitude * 10 + (*p - '0'), kSaturated);
  }
  return std::clamp(negative ? -magnitude : magnitude, low, high);
}

// The same over the whole 64-bit range: the magnitude stops growing once it
// passes INT64_MAX, so the sign can still be applied before saturating.
int64_t parseInteger64(const char* p, const char* end) {
  while (p < end && isWhiteSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  constexpr uint64_t kBeyond = uint64_t{INT64_MAX} + 1;
  uint64_t magnitude = 0;
  for (; p < end && isDigit(*p); ++p) {
    const uint64_t digit = static_cast<uint64_t>(*p - '0');
    magnitude = magnitude > kBeyond / 10 ? kBeyond : std::min(magnitude * 10 + digit, kBeyond);
  }
  if (negative) return magnitude >= kBeyond ? INT64_MIN : -static_cast<int64_t>(magnitude);
  return magnitude >= kBeyond ? INT64_MAX : static_cast<int64_t>(magnitude);
}

void fillStars(char* buffer, int64_t length) {
  if (length > 0) std::memset(buffer, '*', static_cast<size_t>(length));
}

// True when |value| lies exactly halfway between two multiples of
// 10^-decimals. Such a value is (2k + 1) / (2 * 10^decimals) = odd * 5^-d *
// 2^-(d+1): it is one exactly when its lowest set bit is worth 2^-(d+1).
bool isDecimalTie(double value, int32_t decimals) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const int exponentField = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent = -1074;  // subnormal
  if (exponentField != 0) {
    mantissa |= uint64_t{1} << 52;
    exponent = exponentField - 1075;
  }
  if (mantissa == 0) return false;
  return exponent + std::countr_zero(mantissa) == -(decimals + 1);
}

// Rounded digits "I.F" (or "I" without decimals) in [begin, end); I is "0"
// below 1.
struct FixedDigits {
  // Longest text: 309 integer digits, the point, 15 decimals, and a spare
  // place in front for a carry.
  char text[332];
  const char* begin = nullptr;
  const char* end = nullptr;
};

// The digits of a non-negative finite value rounded half away from zero to
// `decimals` places. std::to_chars rounds the exact binary value correctly,
// ties to even; only exact ties need the other direction.
void roundFixed(double magnitude, int32_t decimals, FixedDigits& out) {
  char* const first = out.text + 1;
  char* const last = out.text + sizeof out.text;
  if (!isDecimalTie(magnitude, decimals)) {
    out.begin = first;
    out.end = std::to_chars(first, last, magnitude, std::chars_format::fixed, decimals).ptr;
    return;
  }
  // The tie has exactly decimals + 1 places, the last a '5': drop it and
  // carry one into the kept digits.
  char* end = std::to_chars(first, last, magnitude, std::chars_format::fixed, decimals + 1).ptr;
  --end;
  if (end[-1] == '.') --end;
  char* p = end;
  while (p != first) {
    --p;
    if (*p == '.') continue;
    if (*p != '9') {
      ++*p;
      break;
    }
    *p = '0';
    if (p == first) {
      *--p = '1';
      break;
    }
  }
  out.begin = p < first ? p : first;
  out.end = end;
}

}  // namespace

double convert4textToDouble(const char* text, int32_t length) {
  if (text == nullptr) return 0;
  return parseDouble(text, textEnd(text, length));
}

double convert4stringToDouble(const char* text) {
  if (text == nullptr) return 0;
  return parseDouble(text, text + std::strlen(text));
}

int32_t convert4textToInt(const char* text, int32_t length) {
  return convert4textToLong(text, length);
}

int32_t convert4textToLong(const char* text, int32_t length) {
  if (text == nullptr) return 0;
  return static_cast<int32_t>(
      parseInteger(text, textEnd(text, std::min(length, kIntegerTextMax)), INT32_MIN, INT32_MAX));
}

uint32_t convert4textToUnsigned(const char* text, int32_t length) {
  if (text == nullptr) return 0;
  return static_cast<uint32_t>(
      parseInteger(text, textEnd(text, std::min(length, kIntegerTextMax)), 0, UINT32_MAX));
}

int64_t convert4textToInt64(const char* text, int32_t length) {
  if (text == nullptr) return 0;
  return parseInteger64(text, textEnd(text, std::min(length, kIntegerTextMax)));
}

int32_t convert4doubleToText(double value, char* buffer, int32_t length, int32_t decimals) {
  if (buffer == nullptr || length < 1) return e4overflow;
  if (!std::isfinite(value)) {
    fillStars(buffer, length);
    return e4overflow;
  }
  decimals = decimals < 1 ? 0 : std::min({decimals, kDecimalsMax, length - 1});
  const int32_t integerWidth = decimals > 0 ? length - decimals - 1 : length;

  FixedDigits digits;
  roundFixed(std::fabs(value), decimals, digits);
  const char* point = decimals > 0 ? digits.end - decimals - 1 : digits.end;
  const char* integerDigits = digits.begin;
  if (point - integerDigits == 1 && *integerDigits == '0') ++integerDigits;  // below 1
  const int32_t integerCount = static_cast<int32_t>(point - integerDigits);
  const bool isZero = integerCount == 0 &&
                      std::all_of(point, digits.end, [](char c) { return c == '.' || c == '0'; });
  const bool negative = value < 0 && !isZero;

  const int32_t needed = integerCount + (negative ? 1 : 0);
  if (needed > integerWidth) {
    fillStars(buffer, length);
    return e4overflow;
  }
  std::memset(buffer, ' ', static_cast<size_t>(integerWidth));
  int32_t firstDigit = integerWidth - integerCount;
  std::memcpy(buffer + firstDigit, integerDigits, static_cast<size_t>(integerCount));
  if (integerCount == 0 && integerWidth > needed) buffer[--firstDigit] = '0';
  if (negative) buffer[firstDigit - 1] = '-';
  if (decimals > 0) std::memcpy(buffer + integerWidth, point, static_cast<size_t>(decimals) + 1);
  return 0;
}

int32_t convert4longToText(int32_t value, char* buffer, int32_t length) {
  const bool zeroPadded = length < 0;
  const int64_t width = zeroPadded ? -static_cast<int64_t>(length) : length;
  if (buffer == nullptr || width == 0) return e4overflow;

  const bool negative = value < 0;
  uint64_t magnitude = static_cast<uint64_t>(negative ? -static_cast<int64_t>(value) : value);
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);

  if ((zeroPadded && negative) || count + (negative ? 1 : 0) > width) {
    fillStars(buffer, width);
    return e4overflow;
  }
  std::memset(buffer, zeroPadded ? '0' : ' ', static_cast<size_t>(width - count));
  for (int i = 0; i < count; ++i) buffer[width - 1 - i] = digits[i];
  if (negative) buffer[width - count - 1] = '-';
  return 0;
}

void convert4numberToKeyText(char* text, int32_t length) {
  if (text == nullptr) return;
  bool negative = false;
  for (int32_t i = 0; i < length; ++i) {
    if (text[i] == '-') {
      negative = true;
    } else if (text[i] != ' ') {
      break;
    }
    text[i] = '0';
  }
  if (!negative) return;
  for (int32_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(92 - static_cast<unsigned char>(text[i]));
  }
}

int32_t bits4log2(int32_t value) {
  if (value < 2) return 0;
  return static_cast<int32_t>(std::bit_width(static_cast<uint32_t>(value))) - 1;
}
