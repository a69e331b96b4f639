// Dates and times: date text ("CCYYMMDD", D) and day numbers (d, doubles),
// conversions between them and to pictured text, today and now, the parts
// of a date, and date-time values (T).
//
// Readers of date text take exactly eight bytes: a shorter text operand is
// blank padded into a copy first. The date picture of DTOC and CTOD is
// the one kept in the constants when the expression was parsed.
#include <algorithm>
#include <cstring>

#include "engine/index/expr4steps.h"
#include "engine/index/expr4table.h"
#include "engine/storage/convert4.h"
#include "engine/storage/date4.h"
#include "engine/storage/datetime4.h"

namespace expr4 {

namespace {

constexpr int32_t kDateLength = 8;

// What DTOS makes of a D value written as a right-aligned zero.
constexpr char kZeroDate[kDateLength + 1] = "       0";

int32_t dayOf(double number) { return convert4truncate<int32_t>(number); }

// The date text of operand 0 of `step`, blank padded to eight bytes.
void dateTextOf(const Expr4Eval& e, const EXPR4INFO& step, char* text) {
  const int32_t length = std::clamp(operandStep(step, 0).len, 0, kDateLength);
  std::memset(text, ' ', kDateLength);
  std::memcpy(text, operand(e, step, 0), static_cast<size_t>(length));
}

// The date shown through the picture at p1, cut or blank padded to the
// step's length.
void pictured(Expr4Eval& e, const EXPR4INFO& step, const char* dateText) {
  char shown[date4pictureSize + 1] = {};
  char* out = resultOf(e, step);
  const int32_t written = date4format(dateText, shown, e.constants + step.p1) == 0
                              ? static_cast<int32_t>(strnlen(shown, date4pictureSize))
                              : 0;
  const int32_t length = std::min(written, step.len);
  std::memcpy(out, shown, static_cast<size_t>(length));
  std::memset(out + length, ' ', static_cast<size_t>(step.len - length));
  produce(e, step, out);
}

// DAY, MONTH and YEAR: characters 7-8, 5-6 or 1-4 of the date text.
double partOf(const EXPR4INFO& step, const char* dateText) {
  if (step.row < expr4rowMonth) return convert4textToDouble(dateText + 6, 2);
  if (step.row < expr4rowYear) return convert4textToDouble(dateText + 4, 2);
  return convert4textToDouble(dateText, 4);
}

}  // namespace

void stepDtosText(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = settle(e, step, operand(e, step, 0), kDateLength);
  if (std::memcmp(out, kZeroDate, kDateLength) == 0) std::memset(out, ' ', kDateLength);
  produce(e, step, out);
}

void stepDtosNumber(Expr4Eval& e, const EXPR4INFO& step) {
  const int32_t day = dayOf(numberAt(operand(e, step, 0)));
  char* out = resultOf(e, step);
  date4assign(out, day, 0);
  produce(e, step, out);
}

void stepDtocText(Expr4Eval& e, const EXPR4INFO& step) {
  char text[kDateLength];
  std::memcpy(text, operand(e, step, 0), kDateLength);
  pictured(e, step, text);
}

void stepDtocNumber(Expr4Eval& e, const EXPR4INFO& step) {
  char text[kDateLength];
  date4assign(text, dayOf(numberAt(operand(e, step, 0))), 0);
  pictured(e, step, text);
}

void stepTime(Expr4Eval& e, const EXPR4INFO& step) {
  char* out = resultOf(e, step);
  date4timeNow(out);
  produce(e, step, out);
}

void stepDate(Expr4Eval& e, const EXPR4INFO& step) {
  char text[kDateLength];
  date4today(text);
  produceNumber(e, step, date4long(text));
}

void stepStod(Expr4Eval& e, const EXPR4INFO& step) {
  char text[kDateLength];
  dateTextOf(e, step, text);
  produceNumber(e, step, date4long(text));
}

// The text read through the picture at p1. The reader stops at a zero
// byte, so it gets a terminated copy of at most a picture's length.
void stepCtod(Expr4Eval& e, const EXPR4INFO& step) {
  char input[date4pictureSize] = {};
  const int32_t length = std::clamp(operandStep(step, 0).len, 0, date4pictureSize - 1);
  std::memcpy(input, operand(e, step, 0), static_cast<size_t>(length));
  char text[kDateLength];
  const bool read = date4init(text, input, e.constants + step.p1) == 0;
  produceNumber(e, step, read ? date4long(text) : 0.0);
}

// DATETIME(year, month, day): the day number and the milliseconds folded
// into p1.
void stepDateTime(Expr4Eval& e, const EXPR4INFO& step) {
  const int32_t year = dayOf(numberAt(operand(e, step, 0)));
  const int32_t month = dayOf(numberAt(operand(e, step, 1)));
  const int32_t day = dayOf(numberAt(operand(e, step, 2)));
  char* out = resultOf(e, step);
  datetime4store(reinterpret_cast<unsigned char*>(out),
                 DATETIME4{date4julian(year, month, day), step.p1});
  produce(e, step, out);
}

void stepDatePartText(Expr4Eval& e, const EXPR4INFO& step) {
  char text[kDateLength];
  dateTextOf(e, step, text);
  produceNumber(e, step, partOf(step, text));
}

void stepDatePartNumber(Expr4Eval& e, const EXPR4INFO& step) {
  char text[kDateLength];
  date4assign(text, dayOf(numberAt(operand(e, step, 0))), 0);
  produceNumber(e, step, partOf(step, text));
}

}  // namespace expr4
