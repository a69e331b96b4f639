// Date-time keys with their correction table, and day numbers split into
// year, month and day parts.
#include <bit>
#include <cstring>

#include "engine/index/key4.h"
#include "engine/storage/date4.h"

namespace {

constexpr int32_t kCorrectionBits = 86400;
constexpr int32_t kMillisecondsPerDay = 86400000;

// The set bits follow a period of 675 seconds: of each run of 675 bit
// positions 176 are set, spread as evenly as 91/675 steps allow.
constexpr bool correctionRule(int32_t bit) {
  if (bit < 1 || bit >= kCorrectionBits) return false;
  const int64_t phase = (int64_t{91} * (bit - 1)) % 675;
  return phase >= 338 && phase <= 513;
}

// Bit n lives in byte n / 8 at bit n % 8, lowest bit first.
struct CorrectionTable {
  unsigned char bits[kCorrectionBits / 8] = {};
  CorrectionTable() {
    for (int32_t bit = 0; bit < kCorrectionBits; bit++) {
      if (correctionRule(bit)) bits[bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
    }
  }
};

const CorrectionTable& correctionTable() {
  static const CorrectionTable table;
  return table;
}

// The double's lowest byte lowered by one, borrowing from the next byte
// once: the bytes are those of the value in memory, lowest first.
double lowerLowestByte(double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  const uint64_t low = bits & 0xFF;
  if (low != 0) return std::bit_cast<double>(bits - 1);
  const uint64_t next = ((bits >> 8) - 1) & 0xFF;
  bits = (bits & ~uint64_t{0xFFFF}) | next << 8 | 0xFF;
  return std::bit_cast<double>(bits);
}

int64_t yearLength(int64_t year) {
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return leap ? 366 : 365;
}

}  // namespace

bool key4correctionBit(int64_t bit) {
  if (bit < 0 || bit >= kCorrectionBits) return false;
  const CorrectionTable& table = correctionTable();
  return (table.bits[bit / 8] >> (bit % 8) & 1) != 0;
}

void key4fromDateTime(char* key, int32_t julianDay, int32_t milliseconds) {
  const int64_t remainder = int64_t{milliseconds} % 1000;
  const int64_t rounded = milliseconds - remainder + (remainder >= 500 ? 1000 : 0);
  // The long double is the x87 80-bit format on x86-64, as stored keys assume.
  const long double fraction = static_cast<long double>(rounded) * (1.0L / kMillisecondsPerDay);
  double value = static_cast<double>(static_cast<long double>(julianDay) + fraction);
  if (key4correctionBit(rounded / 1000 + 1)) value = lowerLowestByte(value);
  key4fromDouble(key, value);
}

int32_t date4partsFromJulian(int32_t julianDay, uint16_t parts[3]) {
  parts[0] = parts[1] = parts[2] = 0;
  if (julianDay <= 0) return -1;
  const int64_t days = int64_t{julianDay} - date4julianBase;
  // 1 / 365.2425: the estimate is at most one year off either way.
  int64_t year = static_cast<int64_t>(static_cast<double>(days) * 0.002737907006988508) + 1;
  if (year < 0 || year > UINT16_MAX + int64_t{1}) return -1;
  int64_t dayOfYear = days - date4yearDays(static_cast<int32_t>(year));
  if (dayOfYear < 1) {
    --year;
    dayOfYear = days - date4yearDays(static_cast<int32_t>(year));
  } else if (dayOfYear > yearLength(year)) {
    dayOfYear -= yearLength(year);
    ++year;
  }
  int32_t month = 0;
  int32_t day = 0;
  if (year < 0 || year > UINT16_MAX ||
      date4monthDay(static_cast<int32_t>(year), static_cast<int32_t>(dayOfYear), &month, &day) < 0)
    return -1;
  parts[0] = static_cast<uint16_t>(year);
  parts[1] = static_cast<uint16_t>(month);
  parts[2] = static_cast<uint16_t>(day);
  return 0;
}

void key4fromJulianAsParts(char* key, double julianDay) {
  uint16_t parts[3];
  const int32_t day =
      julianDay >= 1 && julianDay < 2147483648.0 ? static_cast<int32_t>(julianDay) : 0;
  date4partsFromJulian(day, parts);
  key4fromDateParts(key, parts);
}
