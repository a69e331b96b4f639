#include "platform/ansi.h"

namespace platform {
namespace {

// Bytes 0x80-0x9F, the only ones that differ from Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Decodes one UTF-8 character at `text[i]`, advancing `i`. Returns -1 for
// a malformed byte (which is then consumed alone).
int32_t decodeUtf8(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i++);
  if (lead < 0x80) return lead;
  int extra;
  int32_t value;
  int32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, value = lead & 0x07, minimum = 0x10000;
  } else {
    return -1;
  }
  if (i + extra > text.size()) return -1;
  for (int k = 0; k < extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return -1;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return -1;
  i += extra;
  return value;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

char32_t ansiToUnicode(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
  return byte;
}

int unicodeToAnsi(char32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<int>(codePoint);
  }
  for (int k = 0; k < 32; ++k) {
    if (kHighControls[k] == codePoint) return 0x80 + k;
  }
  return -1;
}

std::string utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const int32_t c = decodeUtf8(utf8, i);
    const int b = c < 0 ? -1 : unicodeToAnsi(static_cast<char32_t>(c));
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return out;
}

std::string ansiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() + ansi.size() / 4);
  for (const char c : ansi) appendUtf8(out, ansiToUnicode(static_cast<uint8_t>(c)));
  return out;
}

}  // namespace platform
