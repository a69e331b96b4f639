// Text functions: joining, cutting, case, trimming, padding, CHR, IIF and
// STR of wide text.
//
// Text values are fixed-length: the step's len. Functions that shorten a
// text in meaning (TRIM, LTRIM, ALLTRIM) keep its length and fill the freed
// end with zero bytes; the parser then marks the expression as of variable
// length, and "+" after such text moves those zero bytes behind the joined
// text, so that the significant parts meet.
#include <algorithm>
#include <cstring>

#include "engine/index/expr4codepage.h"
#include "engine/index/expr4steps.h"
#include "engine/index/expr4table.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4.h"

namespace expr4 {

namespace {

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
  const bool ansi = e.expr->data->dataFile->codePage == expr4codePageWindowsAnsi;
  expr4upper(out, step.len, ansi);
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
    out[i] = expr4oemFromWide(endian4::readLe16(wide + 2 * i));
  }
  std::memset(out + characters, ' ', static_cast<size_t>(step.len - characters));
  produce(e, step, out);
}

}  // namespace expr4
