// Printf-style texts filled with typed values, and the guard that keeps a
// translated text from taking values it was not meant to take.
//
// Many interface texts are formats ("%d files processed") whose
// translation comes from a language library. A translation with other
// conversions than the built-in text ("%s" where the program passes a
// number) would make a C printf read memory it was never given; here a
// translation is used only when it takes the same kinds of values in the
// same order as the built-in text, and the formatting itself never reads
// past the values given.
//
// The formatter takes the conversions d i u o x X c s f F e E g G a A and
// "%%", with flags, width, precision and '*'; length modifiers (h, l, ll,
// ...) are read and ignored, since every value carries its own type: "%ld"
// of a 32-bit value shows 32 bits, as on Windows where long is 32 bits, and
// "%u" or "%X" of a negative 32-bit value shows its 32-bit pattern. Numbers
// never depend on the process's locale (the decimal mark is always '.').
// Width and precision are capped at kMaxFieldWidth. A conversion without a
// value left to fill it writes nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

class FormatArg {
 public:
  enum class Kind { Integer, Real, Text };

  template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  FormatArg(T value)  // NOLINT: a value converts to an argument implicitly
      : kind_(Kind::Integer),
        integer_(static_cast<int64_t>(value)),
        wide_(sizeof(T) > 4),
        unsigned_(std::is_unsigned_v<T>) {}
  FormatArg(double value) : kind_(Kind::Real), real_(value) {}                 // NOLINT
  FormatArg(const char* text) : kind_(Kind::Text), text_(text ? text : "") {}  // NOLINT
  FormatArg(std::string_view text) : kind_(Kind::Text), text_(text) {}         // NOLINT
  FormatArg(const std::string& text) : kind_(Kind::Text), text_(text) {}       // NOLINT

  Kind kind() const { return kind_; }
  int64_t asSigned() const;
  uint64_t asUnsigned() const;
  double asReal() const;
  std::string_view asText() const { return text_; }

 private:
  Kind kind_;
  int64_t integer_ = 0;
  double real_ = 0.0;
  std::string_view text_;
  bool wide_ = false;      // from a type of more than 32 bits
  bool unsigned_ = false;  // from an unsigned type
};

constexpr int kMaxFieldWidth = 1024;

// `format` filled with `args` in order.
std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args);

// The kinds of value `format` takes, in order ('*' takes an integer).
// False for a text this formatter does not take: %n, %p, an unknown
// conversion, or a '%' that ends the text.
bool ConversionKinds(std::string_view format, std::vector<FormatArg::Kind>& kinds);

// `translated` filled with `args` when it takes the same kinds of value in
// the same order as `builtIn`; otherwise `builtIn` filled with them.
std::string FormatTranslated(std::string_view translated, std::string_view builtIn,
                             std::initializer_list<FormatArg> args);
