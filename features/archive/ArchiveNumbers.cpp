#include "features/archive/ArchiveNumbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "engine/storage/convert4.h"

namespace archive {

namespace {

bool isWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view withoutLeadingWhiteSpace(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && isWhiteSpace(text[at])) at++;
  return text.substr(at);
}

// The engine's integer reader looks at 127 bytes at most; the blanks in
// front of a number must not count against that.
int64_t leadingInt64(std::string_view text) {
  const std::string_view number = withoutLeadingWhiteSpace(text);
  return convert4textToInt64(number.data(),
                             static_cast<int32_t>(std::min<size_t>(number.size(), INT32_MAX)));
}

}  // namespace

void AppendDecimal(std::string& out, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void AppendSixDecimals(std::string& out, double value) {
  // Fixed notation of the largest double has 309 digits before the point.
  char text[330];
  const auto made = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  out.append(text, made.ptr);
}

double NearestSecond(double days) {
  constexpr double kSecondsPerDay = 86400;
  double whole = std::trunc(days);
  double seconds = std::round(std::fabs(days - whole) * kSecondsPerDay);
  if (seconds >= kSecondsPerDay) {
    whole += 1;
    seconds = 0;
  }
  return days < 0 && seconds > 0 ? whole - seconds / kSecondsPerDay
                                 : whole + seconds / kSecondsPerDay;
}

int64_t ParseInt64(std::string_view text) { return leadingInt64(text); }

int32_t ParseInt32(std::string_view text) {
  return static_cast<int32_t>(std::clamp<int64_t>(leadingInt64(text), INT32_MIN, INT32_MAX));
}

uint32_t ParseSerial(std::string_view text) {
  const int64_t value = leadingInt64(text);
  constexpr int64_t kLimit = UINT32_MAX;
  if (value > kLimit || value < -kLimit) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

double ParseDouble(std::string_view text) {
  std::string_view number = withoutLeadingWhiteSpace(text);
  // from_chars takes a '-' but no '+'.
  if (!number.empty() && number[0] == '+' && (number.size() < 2 || number[1] != '-'))
    number.remove_prefix(1);
  double value = 0.0;
  const auto read = std::from_chars(number.data(), number.data() + number.size(), value);
  if (read.ec != std::errc() || !std::isfinite(value)) return 0.0;
  return value;
}

}  // namespace archive
