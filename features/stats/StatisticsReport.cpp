#include "features/stats/StatisticsReport.h"

#include <charconv>
#include <string_view>
#include <variant>

#include "engine/storage/convert4.h"

namespace {

constexpr double kBytesPerMegabyte = 1048576.0;
constexpr size_t kRuleWidth = 41;

using Number = std::variant<int64_t, double>;

bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }

// The text of one conversion (flags '-' and '0', a width, a precision,
// d, i, u or f) of `value`; false for any other conversion.
bool convert(std::string_view spec, Number value, std::string& out) {
  size_t at = 1;  // past the '%'
  bool left = false;
  bool zeros = false;
  for (; at < spec.size() && (spec[at] == '-' || spec[at] == '0'); at++) {
    left |= spec[at] == '-';
    zeros |= spec[at] == '0';
  }
  size_t width = 0;
  for (; at < spec.size() && isDigit(spec[at]); at++) width = width * 10 + (spec[at] - '0');
  int precision = -1;
  if (at < spec.size() && spec[at] == '.') {
    precision = 0;
    for (at++; at < spec.size() && isDigit(spec[at]); at++)
      precision = precision * 10 + (spec[at] - '0');
  }
  while (at < spec.size() && (spec[at] == 'l' || spec[at] == 'h')) at++;
  if (at + 1 != spec.size() || width > 64 || precision > 30) return false;

  char digits[128];
  char* end = digits;
  const char conversion = spec[at];
  if (conversion == 'd' || conversion == 'i' || conversion == 'u') {
    const int64_t n = std::holds_alternative<int64_t>(value)
                          ? std::get<int64_t>(value)
                          : convert4truncate<int64_t>(std::get<double>(value));
    end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  } else if (conversion == 'f') {
    const double x = std::holds_alternative<double>(value)
                         ? std::get<double>(value)
                         : static_cast<double>(std::get<int64_t>(value));
    end = std::to_chars(digits, digits + sizeof digits, x, std::chars_format::fixed,
                        precision < 0 ? 6 : precision)
              .ptr;
  } else {
    return false;
  }
  std::string text(digits, end);
  if (text.size() < width) {
    const size_t fill = width - text.size();
    if (left) {
      text.append(fill, ' ');
    } else if (zeros) {
      text.insert(text[0] == '-' ? 1 : 0, fill, '0');
    } else {
      text.insert(0, fill, ' ');
    }
  }
  out += text;
  return true;
}

// `format` with its first conversion replaced by `value`; "%%" is a '%'.
std::string formatted(std::string_view format, Number value) {
  std::string out;
  bool used = false;
  for (size_t at = 0; at < format.size();) {
    if (format[at] != '%') {
      out += format[at++];
      continue;
    }
    if (at + 1 < format.size() && format[at + 1] == '%') {
      out += '%';
      at += 2;
      continue;
    }
    size_t end = at + 1;
    while (end < format.size() &&
           std::string_view("-+ #0123456789.lhL").find(format[end]) != std::string_view::npos)
      end++;
    const std::string_view spec = format.substr(at, end < format.size() ? end + 1 - at : end - at);
    if (used || !convert(spec, value, out)) out += spec;
    used = true;
    at += spec.size();
  }
  return out;
}

double megabytes(uint64_t bytes) { return static_cast<double>(bytes) / kBytesPerMegabyte; }

}  // namespace

std::vector<std::string> StatisticsLines(const TSupportTotals& totals, const DriveSpace& drive,
                                         const StatisticsTexts& texts) {
  const std::string rule(kRuleWidth, '-');
  const uint64_t used = drive.total > drive.free ? drive.total - drive.free : 0;
  return {
      texts.title,
      formatted(texts.supports, int64_t{totals.supports}),
      formatted(texts.files, totals.files),
      formatted(texts.size, static_cast<double>(totals.bytes) / kBytesPerMegabyte),
      formatted(texts.deleted, int64_t{totals.deleted}),
      rule,
      formatted(texts.driveTotal, megabytes(drive.total)),
      formatted(texts.driveUsed, megabytes(used)),
      formatted(texts.driveFree, megabytes(drive.free)),
      rule,
  };
}
