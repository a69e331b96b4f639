#include "app/TextFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// One conversion as written: %[flags][width][.precision][length]letter.
struct Conversion {
  bool left = false;       // '-'
  bool plus = false;       // '+'
  bool space = false;      // ' '
  bool alternate = false;  // '#'
  bool zero = false;       // '0'
  int width = 0;
  bool widthArg = false;      // '*'
  int precision = -1;         // -1: none given
  bool precisionArg = false;  // '.*'
  char letter = 0;
};

constexpr std::string_view kLengthModifiers = "hlLqjzt";

int readNumber(std::string_view format, size_t& i) {
  int value = 0;
  while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
    value = std::min(value * 10 + (format[i] - '0'), kMaxFieldWidth);
    i++;
  }
  return value;
}

// Reads the conversion after the '%' at i - 1; false at the end of the text.
bool readConversion(std::string_view format, size_t& i, Conversion& conversion) {
  for (; i < format.size(); i++) {
    const char c = format[i];
    if (c == '-')
      conversion.left = true;
    else if (c == '+')
      conversion.plus = true;
    else if (c == ' ')
      conversion.space = true;
    else if (c == '#')
      conversion.alternate = true;
    else if (c == '0')
      conversion.zero = true;
    else
      break;
  }
  if (i < format.size() && format[i] == '*') {
    conversion.widthArg = true;
    i++;
  } else {
    conversion.width = readNumber(format, i);
  }
  if (i < format.size() && format[i] == '.') {
    i++;
    if (i < format.size() && format[i] == '*') {
      conversion.precisionArg = true;
      i++;
    } else {
      conversion.precision = readNumber(format, i);
    }
  }
  while (i < format.size() && kLengthModifiers.find(format[i]) != std::string_view::npos) i++;
  if (i >= format.size()) return false;
  conversion.letter = format[i++];
  return true;
}

bool kindOf(char letter, FormatArg::Kind& kind) {
  if (std::strchr("diuoxXc", letter) != nullptr) {
    kind = FormatArg::Kind::Integer;
  } else if (std::strchr("fFeEgGaA", letter) != nullptr) {
    kind = FormatArg::Kind::Real;
  } else if (letter == 's') {
    kind = FormatArg::Kind::Text;
  } else {
    return false;
  }
  return true;
}

// Hands out the values in order; past the last one there are none.
class Args {
 public:
  Args(const FormatArg* begin, const FormatArg* end) : next_(begin), end_(end) {}
  const FormatArg* take() { return next_ != end_ ? next_++ : nullptr; }

 private:
  const FormatArg* next_;
  const FormatArg* end_;
};

// ASCII only: the letters of hexadecimal digits, exponents, "inf" and "nan".
void toUpperAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

void pad(std::string& out, int count, char fill) {
  if (count > 0) out.append(static_cast<size_t>(count), fill);
}

// Writes sign + prefix + body into a field of the conversion's width.
void emitNumber(std::string& out, const Conversion& conversion, std::string_view sign,
                std::string_view prefix, std::string_view body, bool zeroAllowed) {
  const int length = static_cast<int>(sign.size() + prefix.size() + body.size());
  const int gap = conversion.width - length;
  if (conversion.left) {
    out.append(sign).append(prefix).append(body);
    pad(out, gap, ' ');
  } else if (conversion.zero && zeroAllowed) {
    out.append(sign).append(prefix);
    pad(out, gap, '0');
    out.append(body);
  } else {
    pad(out, gap, ' ');
    out.append(sign).append(prefix).append(body);
  }
}

std::string_view signOf(bool negative, const Conversion& conversion) {
  if (negative) return "-";
  if (conversion.plus) return "+";
  if (conversion.space) return " ";
  return "";
}

void emitInteger(std::string& out, const Conversion& conversion, const FormatArg& arg) {
  const bool isSigned = conversion.letter == 'd' || conversion.letter == 'i';
  const int64_t signedValue = arg.asSigned();
  const bool negative = isSigned && signedValue < 0;
  uint64_t magnitude = isSigned ? (negative ? 0 - static_cast<uint64_t>(signedValue)
                                            : static_cast<uint64_t>(signedValue))
                                : arg.asUnsigned();
  const int base = conversion.letter == 'o'                                 ? 8
                   : (conversion.letter == 'x' || conversion.letter == 'X') ? 16
                                                                            : 10;
  std::array<char, 24> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  std::string body(digits.data(), result.ptr);
  if (conversion.letter == 'X') toUpperAscii(body);
  // An explicit precision is the least number of digits; 0 with a value
  // of 0 writes no digit at all, as C does.
  if (conversion.precision == 0 && magnitude == 0) body.clear();
  if (conversion.precision > static_cast<int>(body.size()))
    body.insert(0, static_cast<size_t>(conversion.precision) - body.size(), '0');
  std::string_view prefix;
  if (conversion.alternate && base == 16 && magnitude != 0)
    prefix = conversion.letter == 'X' ? "0X" : "0x";
  if (conversion.alternate && base == 8 && (body.empty() || body[0] != '0')) body.insert(0, "0");
  emitNumber(out, conversion, isSigned ? signOf(negative, conversion) : "", prefix, body,
             conversion.precision < 0);
}

void emitReal(std::string& out, const Conversion& conversion, double value) {
  const char lower = static_cast<char>(conversion.letter | 0x20);
  const bool upper = conversion.letter != lower;
  const bool negative = std::signbit(value);
  const double magnitude = std::fabs(value);
  std::string body;
  if (std::isnan(magnitude) || std::isinf(magnitude)) {
    body = std::isnan(magnitude) ? "nan" : "inf";
  } else {
    std::chars_format format = std::chars_format::fixed;
    if (lower == 'e') format = std::chars_format::scientific;
    if (lower == 'g') format = std::chars_format::general;
    if (lower == 'a') format = std::chars_format::hex;
    int precision = conversion.precision < 0 ? 6 : conversion.precision;
    if (lower == 'g' && precision == 0) precision = 1;
    // The widest text: 309 integer digits, the point and the capped precision.
    std::array<char, 400 + kMaxFieldWidth> digits{};
    const auto result =
        (lower == 'a' && conversion.precision < 0)
            ? std::to_chars(digits.data(), digits.data() + digits.size(), magnitude, format)
            : std::to_chars(digits.data(), digits.data() + digits.size(), magnitude, format,
                            precision);
    if (result.ec != std::errc()) return;
    body.assign(digits.data(), result.ptr);
    if (conversion.alternate && body.find('.') == std::string::npos && lower == 'f') body += '.';
  }
  if (upper) toUpperAscii(body);
  std::string_view prefix;
  if (lower == 'a') prefix = upper ? "0X" : "0x";
  emitNumber(out, conversion, signOf(negative, conversion), prefix, body, std::isfinite(magnitude));
}

void emitText(std::string& out, const Conversion& conversion, std::string_view text) {
  if (conversion.precision >= 0) text = text.substr(0, static_cast<size_t>(conversion.precision));
  const int gap = conversion.width - static_cast<int>(text.size());
  if (!conversion.left) pad(out, gap, ' ');
  out.append(text);
  if (conversion.left) pad(out, gap, ' ');
}

}  // namespace

int64_t FormatArg::asSigned() const {
  if (kind_ == Kind::Real) {
    return std::isfinite(real_) && std::fabs(real_) < 9.2e18 ? static_cast<int64_t>(real_) : 0;
  }
  if (kind_ == Kind::Text) return 0;
  return integer_;
}

uint64_t FormatArg::asUnsigned() const {
  const int64_t value = asSigned();
  // A 32-bit value shows its 32-bit pattern, as C shows an int under %u.
  if (!wide_ && !unsigned_) return static_cast<uint32_t>(value);
  return static_cast<uint64_t>(value);
}

double FormatArg::asReal() const {
  if (kind_ == Kind::Real) return real_;
  if (kind_ == Kind::Text) return 0.0;
  return unsigned_ ? static_cast<double>(static_cast<uint64_t>(integer_))
                   : static_cast<double>(integer_);
}

std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args) {
  Args values(args.begin(), args.end());
  std::string out;
  size_t i = 0;
  while (i < format.size()) {
    const size_t percent = format.find('%', i);
    out.append(
        format.substr(i, percent == std::string_view::npos ? std::string_view::npos : percent - i));
    if (percent == std::string_view::npos) break;
    i = percent + 1;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      i++;
      continue;
    }
    Conversion conversion;
    if (!readConversion(format, i, conversion)) break;
    if (conversion.widthArg) {
      const FormatArg* width = values.take();
      const int64_t w = width ? width->asSigned() : 0;
      conversion.left = conversion.left || w < 0;
      conversion.width = static_cast<int>(std::min<int64_t>(w < 0 ? -w : w, kMaxFieldWidth));
    }
    if (conversion.precisionArg) {
      const FormatArg* precision = values.take();
      const int64_t p = precision ? precision->asSigned() : -1;
      conversion.precision = p < 0 ? -1 : static_cast<int>(std::min<int64_t>(p, kMaxFieldWidth));
    }
    FormatArg::Kind kind;
    if (!kindOf(conversion.letter, kind)) continue;
    const FormatArg* value = values.take();
    if (value == nullptr) continue;
    if (conversion.letter == 'c') {
      emitText(out, conversion, std::string(1, static_cast<char>(value->asSigned())));
    } else if (kind == FormatArg::Kind::Integer) {
      emitInteger(out, conversion, *value);
    } else if (kind == FormatArg::Kind::Real) {
      emitReal(out, conversion, value->asReal());
    } else {
      emitText(out, conversion, value->kind() == FormatArg::Kind::Text ? value->asText() : "");
    }
  }
  return out;
}

bool ConversionKinds(std::string_view format, std::vector<FormatArg::Kind>& kinds) {
  kinds.clear();
  size_t i = 0;
  while ((i = format.find('%', i)) != std::string_view::npos) {
    i++;
    if (i < format.size() && format[i] == '%') {
      i++;
      continue;
    }
    Conversion conversion;
    FormatArg::Kind kind;
    if (!readConversion(format, i, conversion) || !kindOf(conversion.letter, kind)) return false;
    if (conversion.widthArg) kinds.push_back(FormatArg::Kind::Integer);
    if (conversion.precisionArg) kinds.push_back(FormatArg::Kind::Integer);
    kinds.push_back(kind);
  }
  return true;
}

std::string FormatTranslated(std::string_view translated, std::string_view builtIn,
                             std::initializer_list<FormatArg> args) {
  std::vector<FormatArg::Kind> wanted;
  std::vector<FormatArg::Kind> offered;
  const bool fits =
      ConversionKinds(translated, offered) && ConversionKinds(builtIn, wanted) && offered == wanted;
  return FormatText(fits ? translated : builtIn, args);
}
