// Text functions: joining, cutting, case, trimming, padding, CHR, IIF and
// STR of wide text.
//
// Text values are fixed-length: the step's len. Functions that shorten a
// text in meaning (TRIM, LTRIM, ALLTRIM) keep its length and fill the freed
// end with zero bytes; the parser then marks the expression as of variable
// length, and "+" after such text moves those zero bytes behind the joined
// text, so that the significant parts meet.
//
// The code pages are fixed here, so that no result depends on the process
// locale: UPPER follows Windows-1252 for tables whose code-page byte says
// Windows ANSI and maps a-z alone for all others; STR of wide text gives
// code page 850, the OEM code page of the tables' origin.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine/index/expr4steps.h"
#include "engine/index/expr4table.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4.h"

namespace expr4 {

namespace {

// The code-page byte of a DBF header that marks Windows ANSI text.
constexpr int32_t kCodePageWindowsAnsi = 3;

using Table = std::array<unsigned char, 256>;

// With `windowsAnsi`, Windows-1252's own pairs besides a-z: the accented
// letters 0xE0-0xFE (not 0xF7, the division sign) to 0xC0-0xDE, and 0x9A,
// 0x9C, 0x9E, 0xFF to 0x8A, 0x8C, 0x8E, 0x9F.
constexpr Table upperTable(bool windowsAnsi) {
  Table table{};
  for (int c = 0; c < 256; c++) {
    int upper = c;
    if (c >= 'a' && c <= 'z') upper = c - 'a' + 'A';
    if (windowsAnsi) {
      if (c >= 0xE0 && c <= 0xFE && c != 0xF7) upper = c - 0x20;
      if (c == 0x9A || c == 0x9C || c == 0x9E) upper = c - 0x10;
      if (c == 0xFF) upper = 0x9F;
    }
    table[c] = static_cast<unsigned char>(upper);
  }
  return table;
}

constexpr Table kAsciiUpper = upperTable(false);
constexpr Table kWindowsUpper = upperTable(true);

static_assert(kWindowsUpper[0xE9] == 0xC9 && kWindowsUpper[0xF7] == 0xF7);
static_assert(kWindowsUpper[0xDF] == 0xDF && kAsciiUpper[0xE9] == 0xE9);

// The characters of bytes 0x80-0xFF of code page 850; bytes below 0x80
// are the characters of the same number.
constexpr uint16_t kOem850High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // 0xC8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // 0xD8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // 0xE0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // 0xE8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};

// Upper case in place: a-z only, or with `windowsAnsi` the letters of
// Windows-1252 as well. Bytes without an upper case of their own in the
// code page (0xDF, 0xB5) stay.
void upperCase(char* text, int32_t length, bool windowsAnsi) {
  const Table& table = windowsAnsi ? kWindowsUpper : kAsciiUpper;
  for (int32_t i = 0; i < length; i++) {
    text[i] = static_cast<char>(table[static_cast<unsigned char>(text[i])]);
  }
}

// Whether UPPER over the table follows Windows-1252.
bool upperFollowsAnsi(const DATA4* data) {
  return data->dataFile->codePage == kCodePageWindowsAnsi;
}

// The byte of OEM code page 850 for a UTF-16 code unit; '?' for a
// character that code page lacks.
char oemFromWide(uint16_t unit) {
  if (unit < 0x80) return static_cast<char>(unit);
  for (int i = 0; i < 128; i++) {
    if (kOem850High[i] == unit) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// The count of `fill` bytes that end the `length` bytes of `text`.
int32_t trailing(const char* text, int32_t length, char fill) {
  int32_t count = 0;
  while (count < length && text[length - 1 - count] == fill) count++;
  return count;
}

// The first operand at the step's place followed by the second, whatever
// lies between them: where the parser put them side by side this moves
// nothing. The joined text's place.
char* join(Expr4Eval& e, const EXPR4INFO& step, int32_t firstKept) {
  char* out = settle(e, step, operand(e, step, 0), step.p1);
  const char* second = operand(e, step, 1);
  const int32_t secondLen = operandStep(step, 1).len;
  if (second != out + firstKept) {
    std::memmove(out + firstKept, second, static_cast<size_t>(secondLen));
  }
  return out;
}

// "+" and "-" that move the first operand's trailing `fill` bytes behind
// the second.
void joinMovingFill(Expr4Eval& e, const EXPR4INFO& step, char fill) {
  const int32_t firstLen = step.p1;
  char* out = settle(e, step, operand(e, step, 0), firstLen);
  const int32_t kept = firstLen - trailing(out, firstLen, fill);
  join(e, step, kept);
  std::memset(out + kept + operandStep(step, 1).len, fill, static_cast<size_t>(firstLen - kept));
  produce(e, step, out);
}

// Trailing blanks and zero bytes of the text made zero bytes.
void trimEnd(char* text, int32_t length) {
  for (int32_t i = length - 1; i >= 0 && (text[i] == ' ' || text[i] == '\0'); i--) text[i] = '\0';
}

// Leading blanks and zero bytes removed, the rest moved to the start and
// the freed end zero filled.
void trimStart(char* text, int32_t length) {
  int32_t skip = 0;
  while (skip < length && (text[skip] == ' ' || text[skip] == '\0')) skip++;
  if (skip == 0) return;
  std::memmove(text, text + skip, static_cast<size_t>(length - skip));
  std::memset(text + length - skip, '\0', static_cast<size_t>(skip));
}

// The operand of a one-operand text function at the step's place.
char* operandInPlace(Expr4Eval& e, const EXPR4INFO& step) {
  return settle(e, step, operand(e, step, 0), step.len);
}

}  // namespace

void stepConcat(Expr4Eval& e, const EXPR4INFO& step) { produce(e, step, join(e, step, step.p1)); }

void stepConcatVary(Expr4Eval& e, const EXPR4INFO& step) { joinMovingFill(e, step, '\0'); }

void stepConcatTrim(Expr4Eval& e, const EXPR4INFO& step) { joinMovingFill(e, step, ' '); }

// SUBSTR, LEFT and RIGHT: len bytes from offset p1, both within the
// operand (the parser clipped them).
void stepSubstr(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = resultOf(e, step);
  std::memmove(out, operand(e, step, 0) + step.p1, static_cast<size_t>(step.len));
  produce(e, step, out);
}

void stepUpper(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = operandInPlace(e, step);
  upperCase(out, step.len, upperFollowsAnsi(e.expr->data));
  produce(e, step, out);
}

void stepTrim(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = operandInPlace(e, step);
  trimEnd(out, step.len);
  produce(e, step, out);
}

void stepLtrim(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = operandInPlace(e, step);
  trimStart(out, step.len);
  produce(e, step, out);
}

void stepAlltrim(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = operandInPlace(e, step);
  trimStart(out, step.len);
  trimEnd(out, step.len);
  produce(e, step, out);
}

// PADL(text, n): the text without its trailing zero bytes, right-aligned
// in n bytes behind blanks; a text longer than n keeps its first n bytes.
void stepPadl(Expr4Eval& e, const EXPR4INFO& step) {
  const int32_t length = operandStep(step, 0).len;
  char* out = settle(e, step, operand(e, step, 0), length);
  const int32_t significant = length - trailing(out, length, '\0');
  if (significant < step.len) {
    const int32_t pad = step.len - significant;
    std::memmove(out + pad, out, static_cast<size_t>(significant));
    std::memset(out, ' ', static_cast<size_t>(pad));
  }
  produce(e, step, out);
}

// PADR(text, n): the text in n bytes, blanks after it and in place of its
// trailing zero bytes.
void stepPadr(Expr4Eval& e, const EXPR4INFO& step) {
  const int32_t kept = std::min(operandStep(step, 0).len, step.len);
  char* out = settle(e, step, operand(e, step, 0), kept);
  std::memset(out + kept, ' ', static_cast<size_t>(step.len - kept));
  for (int32_t i = kept - 1; i >= 0 && out[i] == '\0'; i--) out[i] = ' ';
  produce(e, step, out);
}

void stepChr(Expr4Eval& e, const EXPR4INFO& step) {
  const int32_t code = convert4truncate<int32_t>(numberAt(operand(e, step, 0)));
  char* out = resultOf(e, step);
  out[0] = static_cast<char>(code & 0xFF);
  produce(e, step, out);
}

// The second operand when the first is true, else the third. Text takes
// its own length (p1 or p2) and is blank padded to the longer one's.
void stepIif(Expr4Eval& e, const EXPR4INFO& step) {
  const bool pick = int32At(operand(e, step, 0)) != 0;
  const char* chosen = operand(e, step, pick ? 1 : 2);
  const int32_t length = step.row == expr4rowIif ? (pick ? step.p1 : step.p2) : step.len;
  char* out = resultOf(e, step);
  std::memmove(out, chosen, static_cast<size_t>(length));
  std::memset(out + length, ' ', static_cast<size_t>(step.len - length));
  produce(e, step, out);
}

// STR of a wide field: its characters in code page 850 ('?' for those it
// lacks), then blanks to the field's byte length. A W field of n bytes
// holds n / 2 characters; an O field's last two bytes are no part of it.
void stepStrWide(Expr4Eval& e, const EXPR4INFO& step) {
  const auto* wide = reinterpret_cast<const unsigned char*>(operand(e, step, 0));
  const bool tail = operandStep(step, 0).row == expr4rowFieldWideTail;
  const int32_t characters = std::max(tail ? (step.len - 2) / 2 : step.len / 2, 0);
  char* out = resultOf(e, step);
  for (int32_t i = 0; i < characters; i++) {
    out[i] = oemFromWide(endian4::readLe16(wide + 2 * i));
  }
  std::memset(out + characters, ' ', static_cast<size_t>(step.len - characters));
  produce(e, step, out);
}

}  // namespace expr4

void expr4upperAsTable(const DATA4* data, char* text, int32_t length) {
  expr4::upperCase(text, length, expr4::upperFollowsAnsi(data));
}
