// Arithmetic on doubles and day numbers, and numbers made text (STR,
// STRZERO, L2BIN) or read from text (VAL).
//
// Division by 0 gives 0. Date arithmetic treats day number 0 as the blank
// date: any sum or difference with a blank date is 0. Doubles become
// integers through convert4truncate (toward zero, saturating, NaN as 0).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/index/expr4steps.h"
#include "engine/storage/convert4.h"

namespace expr4 {

namespace {

double first(const Expr4Eval& e, const EXPR4INFO& step) { return numberAt(operand(e, step, 0)); }
double second(const Expr4Eval& e, const EXPR4INFO& step) { return numberAt(operand(e, step, 1)); }

// Digits before the point, the sign counted as one: the value is scaled by
// 0.1 until it drops below 1, as the engine has always counted them.
int32_t integerDigits(double value) {
  int32_t count = value < 0 ? 1 : 0;
  for (double scaled = std::fabs(value); scaled >= 1.0; scaled *= 0.1) count++;
  return count;
}

// Turns the formatted text of STRZERO into its zero-padded form: trailing
// zero decimals (and the point when every decimal is zero) are dropped by
// moving the text right over them, the freed start and the blanks that
// padded the number becoming '0'.
void padWithZeros(char* text, int32_t length) {
  int32_t dropped = 0;
  bool significant = false;
  int32_t at = length - 1;
  for (; at >= 0 && text[at] != '.'; at--) {
    if (!significant && text[at] == '0') {
      dropped++;
    } else {
      significant = true;
    }
  }
  const bool point = at >= 0;
  if (point && !significant) dropped++;
  if (point && dropped > 0) {
    std::memmove(text + dropped, text, static_cast<size_t>(length - dropped));
    std::memset(text, '0', static_cast<size_t>(dropped));
  }
  std::replace(text, text + length, ' ', '0');
}

}  // namespace

void stepAdd(Expr4Eval& e, const EXPR4INFO& step) {
  produceNumber(e, step, first(e, step) + second(e, step));
}

void stepSubtract(Expr4Eval& e, const EXPR4INFO& step) {
  produceNumber(e, step, first(e, step) - second(e, step));
}

void stepMultiply(Expr4Eval& e, const EXPR4INFO& step) {
  produceNumber(e, step, first(e, step) * second(e, step));
}

void stepDivide(Expr4Eval& e, const EXPR4INFO& step) {
  const double divisor = second(e, step);
  produceNumber(e, step, divisor == 0.0 ? 0.0 : first(e, step) / divisor);
}

void stepPower(Expr4Eval& e, const EXPR4INFO& step) {
  produceNumber(e, step, std::pow(first(e, step), second(e, step)));
}

void stepAddNumberDate(Expr4Eval& e, const EXPR4INFO& step) {
  const double date = second(e, step);
  produceNumber(e, step, date == 0.0 ? 0.0 : first(e, step) + date);
}

void stepAddDateNumber(Expr4Eval& e, const EXPR4INFO& step) {
  const double date = first(e, step);
  produceNumber(e, step, date == 0.0 ? 0.0 : date + second(e, step));
}

void stepSubtractDates(Expr4Eval& e, const EXPR4INFO& step) {
  const double later = first(e, step), earlier = second(e, step);
  produceNumber(e, step, later == 0.0 || earlier == 0.0 ? 0.0 : later - earlier);
}

void stepSubtractDateNumber(Expr4Eval& e, const EXPR4INFO& step) {
  const double date = first(e, step);
  produceNumber(e, step, date == 0.0 ? 0.0 : date - second(e, step));
}

void stepVal(Expr4Eval& e, const EXPR4INFO& step) {
  produceNumber(e, step, convert4textToDouble(operand(e, step, 0), operandStep(step, 0).len));
}

void stepL2bin(Expr4Eval& e, const EXPR4INFO& step) {
  const int32_t value = convert4truncate<int32_t>(first(e, step));
  char* out = resultOf(e, step);
  putInt32(out, value);
  produce(e, step, out);
}

void stepStr(Expr4Eval& e, const EXPR4INFO& step) {
  const double value = first(e, step);
  char* out = resultOf(e, step);
  convert4doubleToText(value, out, step.len, step.p1);
  produce(e, step, out);
}

// STRZERO(value, length): the value with as many decimals as the length
// leaves room for, then zero padded. A value whose integer digits do not
// fit, an infinity or a NaN gives '*' over the length.
void stepStrZero(Expr4Eval& e, const EXPR4INFO& step) {
  const double value = first(e, step);
  const int32_t length = step.len;
  char* out = resultOf(e, step);
  const int32_t digits = std::isfinite(value) ? integerDigits(value) : length + 1;
  if (digits > length) {
    std::memset(out, '*', static_cast<size_t>(length));
  } else {
    int32_t decimals = length - digits;
    if (decimals > 0) decimals--;
    convert4doubleToText(value, out, length, decimals);
    padWithZeros(out, length);
  }
  produce(e, step, out);
}

}  // namespace expr4
