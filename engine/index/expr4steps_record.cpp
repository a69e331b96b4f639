// Values read from the bound record, constants, and the functions about the
// record and its table (DEL, DELETED, RECCOUNT, RECNO, PAGENO).
//
// Fields are read in place wherever no function changes them: the value is
// a pointer into the record. A field narrower than its type's width (a
// damaged table may declare one), or than the expression took it to be, is
// copied to the step's place in the work area and filled out, so that no
// reader of the value passes the field's end: text with blanks, binary
// values with zero bytes. Q and R fields are widened to 32 bits in the work
// area, the width their values have everywhere after.
#include <algorithm>
#include <cstring>

#include "engine/index/expr4steps.h"
#include "engine/index/expr4table.h"
#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/currency4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4record.h"
#include "engine/storage/date4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"
#include "engine/storage/memo4field.h"

namespace expr4 {

namespace {

constexpr int32_t kLocCalculation = 90104;
constexpr int32_t kDateTextLength = 8;

// The field's first `width` bytes in the record, or when the field is
// narrower, its bytes copied to `scratch` and filled out with `fill`.
const char* fieldBytes(const EXPR4INFO& step, int32_t width, char fill, char* scratch) {
  const char* bytes = recordOf(step) + step.p1;
  const int32_t stored = step.field->length;
  if (stored >= width) return bytes;
  std::memcpy(scratch, bytes, static_cast<size_t>(stored));
  std::memset(scratch + stored, fill, static_cast<size_t>(width - stored));
  return scratch;
}

char fillOf(int32_t row) {
  const bool text = row == expr4rowFieldText || row == expr4rowCopyText ||
                    row == expr4rowFieldDate || row == expr4rowFieldNumber;
  return text ? ' ' : '\0';
}

bool isTrueLetter(char c) { return c == 'T' || c == 't' || c == 'Y' || c == 'y'; }

}  // namespace

void stepFieldRead(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = resultOf(e, step);
  produce(e, step, const_cast<char*>(fieldBytes(step, step.len, fillOf(step.row), out)));
}

void stepFieldCopy(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = resultOf(e, step);
  const char* bytes = fieldBytes(step, step.len, fillOf(step.row), out);
  if (bytes != out) std::memcpy(out, bytes, static_cast<size_t>(step.len));
  produce(e, step, out);
}

void stepFieldLogical(Expr4Eval& e, const EXPR4INFO& step) {
  const bool value = step.field->length > 0 && isTrueLetter(recordOf(step)[step.p1]);
  produceLogical(e, step, value);
}

void stepFieldDateAsNumber(Expr4Eval& e, const EXPR4INFO& step) {
  char scratch[kDateTextLength];
  produceNumber(e, step, date4long(fieldBytes(step, kDateTextLength, ' ', scratch)));
}

void stepFieldNumberAsDouble(Expr4Eval& e, const EXPR4INFO& step) {
  produceNumber(e, step, convert4textToDouble(recordOf(step) + step.p1, step.field->length));
}

void stepFieldShort(Expr4Eval& e, const EXPR4INFO& step) {
  char scratch[2];
  const auto* bytes = reinterpret_cast<const unsigned char*>(fieldBytes(step, 2, 0, scratch));
  char* out = resultOf(e, step);
  putInt32(out, static_cast<int16_t>(endian4::readLe16(bytes)));
  produce(e, step, out);
}

void stepFieldUnsignedShort(Expr4Eval& e, const EXPR4INFO& step) {
  char scratch[2];
  const auto* bytes = reinterpret_cast<const unsigned char*>(fieldBytes(step, 2, 0, scratch));
  char* out = resultOf(e, step);
  putInt32(out, endian4::readLe16(bytes));
  produce(e, step, out);
}

void stepFieldIntAsDouble(Expr4Eval& e, const EXPR4INFO& step) {
  char scratch[4];
  produceNumber(e, step, int32At(fieldBytes(step, 4, 0, scratch)));
}

// The currency value made text with four decimals and read back, as the
// numbers of keys built from it always were.
void stepFieldCurrencyAsDouble(Expr4Eval& e, const EXPR4INFO& step) {
  char scratch[currency4size];
  const auto* bytes =
      reinterpret_cast<const unsigned char*>(fieldBytes(step, currency4size, 0, scratch));
  char text[currency4textMax + 1];
  int32_t length = 0;
  currency4toText(text, sizeof text, currency4load(bytes), currency4decimals, &length);
  produceNumber(e, step, convert4textToDouble(text, length));
}

// The memo's bytes, cut at the step's length and filled out with zero
// bytes. A value that cannot be read fails the evaluation: the caller must
// not take the stale bytes of the work area for it.
void stepMemo(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = resultOf(e, step);
  const char* value = field4memoPtr(step.field);
  int64_t length = 0;
  if (value == nullptr) {
    e.failure = -1;
  } else {
    length = std::min<int64_t>(field4memoLen(step.field), step.len);
    std::memcpy(out, value, static_cast<size_t>(length));
  }
  std::memset(out + length, 0, static_cast<size_t>(step.len - length));
  produce(e, step, out);
}

// An empty text may be the only constant: the constants area is then empty
// and has no address.
void stepConstant(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = resultOf(e, step);
  if (step.len > 0) std::memcpy(out, e.constants + step.p1, static_cast<size_t>(step.len));
  produce(e, step, out);
}

void stepDel(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = resultOf(e, step);
  out[0] = recordOf(step)[0];
  produce(e, step, out);
}

void stepDeleted(Expr4Eval& e, const EXPR4INFO& step) {
  produceLogical(e, step, recordOf(step)[0] == '*');
}

void stepRecCount(Expr4Eval& e, const EXPR4INFO& step) {
  const int32_t count = data4recCount(e.expr->data);
  if (count < 0) e.failure = count;
  produceNumber(e, step, count);
}

void stepRecNo(Expr4Eval& e, const EXPR4INFO& step) {
  produceNumber(e, step, e.expr->data->recNum);
}

void stepPageNo(Expr4Eval& e, const EXPR4INFO& step) {
  produceNumber(e, step, e.expr->codeBase->pageNo);
}

// Named calculations and their totals: this engine keeps none, so the
// parser never makes such a step. One met all the same fails.
void stepCalculation(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = resultOf(e, step);
  std::memset(out, 0, static_cast<size_t>(step.len));
  e.failure =
      error4describe(e.expr->codeBase, e4result, kLocCalculation, e.expr->text, nullptr, nullptr);
  produce(e, step, out);
}

}  // namespace expr4
