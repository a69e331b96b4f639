// Logic and comparisons.
//
// Text compares the first p1 bytes of its operands (the shorter one's
// length) as unsigned bytes, so "=" finds a text equal to every longer
// text that begins with it. When those bytes are equal, ">" and "<" answer
// with the tie value the parser stored: ">" holds when the left text is the
// longer, "<" when it is the shorter. Numbers and dates compare as doubles
// (0 equals -0; a NaN is unordered, so only "#" holds for it), currency and
// date-time values through their own comparisons.
#include <cstring>

#include "engine/index/expr4steps.h"
#include "engine/index/expr4table.h"
#include "engine/storage/currency4.h"
#include "engine/storage/datetime4.h"

namespace expr4 {

namespace {

enum Order : int { kBelow = -1, kSame = 0, kAbove = 1, kUnordered = 2 };

template <class T>
int orderOf(T a, T b) {
  if (a < b) return kBelow;
  if (b < a) return kAbove;
  return a == b ? kSame : kUnordered;
}

bool holds(int16_t code, int order) {
  switch (code) {
    case expr4codeEqual:
      return order == kSame;
    case expr4codeNotEqual:
      return order != kSame;
    case expr4codeGreater:
      return order == kAbove;
    case expr4codeLess:
      return order == kBelow;
    case expr4codeGreaterEqual:
      return order == kAbove || order == kSame;
    case expr4codeLessEqual:
      return order == kBelow || order == kSame;
    default:
      return false;
  }
}

void produceComparison(Expr4Eval& e, const EXPR4INFO& step, int order) {
  produceLogical(e, step, holds(expr4functions[step.row].code, order));
}

const unsigned char* bytesOf(const char* p) { return reinterpret_cast<const unsigned char*>(p); }

}  // namespace

void stepTrue(Expr4Eval& e, const EXPR4INFO& step) { produceLogical(e, step, true); }

void stepFalse(Expr4Eval& e, const EXPR4INFO& step) { produceLogical(e, step, false); }

void stepNot(Expr4Eval& e, const EXPR4INFO& step) {
  produceLogical(e, step, int32At(operand(e, step, 0)) == 0);
}

void stepOr(Expr4Eval& e, const EXPR4INFO& step) {
  bool any = false;
  for (int32_t k = 0; k < step.parmCount; k++) any = any || int32At(operand(e, step, k)) != 0;
  produceLogical(e, step, any);
}

void stepAnd(Expr4Eval& e, const EXPR4INFO& step) {
  bool all = true;
  for (int32_t k = 0; k < step.parmCount; k++) all = all && int32At(operand(e, step, k)) != 0;
  produceLogical(e, step, all);
}

void stepCompareText(Expr4Eval& e, const EXPR4INFO& step) {
  const int cmp = step.p1 > 0 ? std::memcmp(operand(e, step, 0), operand(e, step, 1),
                                            static_cast<size_t>(step.p1))
                              : 0;
  int order = cmp < 0 ? kBelow : cmp > 0 ? kAbove : kSame;
  if (order == kSame && step.ref.tie != 0) {
    order = expr4functions[step.row].code == expr4codeLess ? kBelow : kAbove;
  }
  produceComparison(e, step, order);
}

void stepCompareNumber(Expr4Eval& e, const EXPR4INFO& step) {
  produceComparison(e, step, orderOf(numberAt(operand(e, step, 0)), numberAt(operand(e, step, 1))));
}

void stepCompareLogical(Expr4Eval& e, const EXPR4INFO& step) {
  produceComparison(e, step, orderOf(int32At(operand(e, step, 0)), int32At(operand(e, step, 1))));
}

void stepCompareCurrency(Expr4Eval& e, const EXPR4INFO& step) {
  produceComparison(e, step,
                    currency4compare(currency4load(bytesOf(operand(e, step, 0))),
                                     currency4load(bytesOf(operand(e, step, 1)))));
}

void stepCompareDateTime(Expr4Eval& e, const EXPR4INFO& step) {
  produceComparison(e, step,
                    datetime4compare(datetime4load(bytesOf(operand(e, step, 0))),
                                     datetime4load(bytesOf(operand(e, step, 1)))));
}

// The first text is sought at every offset of the second where its whole
// length fits; an empty text is found in any text.
void stepContains(Expr4Eval& e, const EXPR4INFO& step) {
  const char* needle = operand(e, step, 0);
  const char* haystack = operand(e, step, 1);
  const int32_t needleLen = operandStep(step, 0).len;
  const int32_t haystackLen = operandStep(step, 1).len;
  bool found = false;
  for (int32_t at = 0; !found && at + needleLen <= haystackLen; at++) {
    found = std::memcmp(haystack + at, needle, static_cast<size_t>(needleLen)) == 0;
  }
  produceLogical(e, step, found);
}

}  // namespace expr4
