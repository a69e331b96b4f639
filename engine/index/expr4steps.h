// The evaluator's inside: the state of one evaluation, the helpers the
// step routines share, and the routines the function table names.
//
// A routine reads its operands from the top of the operand stack (the last
// operand on top), writes its result at its step's resultPos in the work
// area (the layout contract of expr4.h) and leaves one entry, its result,
// in place of its operands. Values in the work area:
//   L              32-bit 0 or 1, little-endian
//   n, d           8-byte doubles in memory order
//   I, P, Q, R     32-bit little-endian (Q and R widened from 16 bits)
//   other types    as their fields store them (field4.h)
// Text operands that a routine changes in place lie at its resultPos: the
// parser copies field operands there, and `settle` moves any other.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/index/expr4.h"
#include "engine/storage/endian4.h"

// One evaluation. It lives on the stack of the call that evaluates, which
// holds memory4evaluationLock() throughout: the work area it writes is the
// expression's own.
struct Expr4Eval {
  // The type pass never leaves more values pending.
  static constexpr int32_t kStackMax = 20;

  EXPR4* expr = nullptr;
  char* work = nullptr;
  const char* constants = nullptr;
  // Operands: pointers into the bound record or the work area, never into
  // the constants.
  char* stack[kStackMax] = {};
  int32_t depth = 0;
  // A negative code once a step has failed; the steps after it still run
  // on defined bytes, and the evaluation fails at its end.
  int32_t failure = 0;
};

namespace expr4 {

inline char* resultOf(Expr4Eval& e, const EXPR4INFO& step) { return e.work + step.resultPos; }

// Operand k (from 0) of `step`.
inline char* operand(const Expr4Eval& e, const EXPR4INFO& step, int32_t k) {
  return e.stack[e.depth - step.parmCount + k];
}

// The step that produced operand k of `step`: the last operand is the step
// before it, and each operand before that ends where the next one's steps
// begin.
inline const EXPR4INFO& operandStep(const EXPR4INFO& step, int32_t k) {
  const EXPR4INFO* producer = &step - 1;
  for (int32_t i = step.parmCount - 1; i > k; i--) producer -= producer->entryCount;
  return *producer;
}

// Replaces the step's operands on the stack by its result.
inline void produce(Expr4Eval& e, const EXPR4INFO& step, char* value) {
  e.depth -= step.parmCount;
  e.stack[e.depth++] = value;
}

inline double numberAt(const char* p) {
  double value;
  std::memcpy(&value, p, sizeof value);
  return value;
}
inline void putNumber(char* p, double value) { std::memcpy(p, &value, sizeof value); }

inline int32_t int32At(const char* p) {
  return static_cast<int32_t>(endian4::readLe32(reinterpret_cast<const unsigned char*>(p)));
}
inline void putInt32(char* p, int32_t value) {
  endian4::writeLe32(reinterpret_cast<unsigned char*>(p), static_cast<uint32_t>(value));
}

// Writes `number` at the step's place and makes it the result.
inline void produceNumber(Expr4Eval& e, const EXPR4INFO& step, double number) {
  char* out = resultOf(e, step);
  putNumber(out, number);
  produce(e, step, out);
}
inline void produceLogical(Expr4Eval& e, const EXPR4INFO& step, bool value) {
  char* out = resultOf(e, step);
  putInt32(out, value ? 1 : 0);
  produce(e, step, out);
}

// `length` bytes of `value` moved to the step's result position unless they
// lie there already; that position.
inline char* settle(Expr4Eval& e, const EXPR4INFO& step, const char* value, int32_t length) {
  char* out = resultOf(e, step);
  if (value != out && length > 0) std::memmove(out, value, static_cast<size_t>(length));
  return out;
}

// The record buffer the step's reference names (fields, DEL, DELETED).
inline char* recordOf(const EXPR4INFO& step) { return *step.ref.record; }

// ---- Routines, by file ----

// expr4steps_record.cpp: fields, constants and the record functions.
void stepFieldRead(Expr4Eval&, const EXPR4INFO&);
void stepFieldCopy(Expr4Eval&, const EXPR4INFO&);
void stepFieldLogical(Expr4Eval&, const EXPR4INFO&);
void stepFieldDateAsNumber(Expr4Eval&, const EXPR4INFO&);
void stepFieldNumberAsDouble(Expr4Eval&, const EXPR4INFO&);
void stepFieldShort(Expr4Eval&, const EXPR4INFO&);
void stepFieldUnsignedShort(Expr4Eval&, const EXPR4INFO&);
void stepFieldIntAsDouble(Expr4Eval&, const EXPR4INFO&);
void stepFieldCurrencyAsDouble(Expr4Eval&, const EXPR4INFO&);
void stepMemo(Expr4Eval&, const EXPR4INFO&);
void stepConstant(Expr4Eval&, const EXPR4INFO&);
void stepDel(Expr4Eval&, const EXPR4INFO&);
void stepDeleted(Expr4Eval&, const EXPR4INFO&);
void stepRecCount(Expr4Eval&, const EXPR4INFO&);
void stepRecNo(Expr4Eval&, const EXPR4INFO&);
void stepPageNo(Expr4Eval&, const EXPR4INFO&);
void stepCalculation(Expr4Eval&, const EXPR4INFO&);

// expr4steps_compare.cpp: logic and comparisons.
void stepTrue(Expr4Eval&, const EXPR4INFO&);
void stepFalse(Expr4Eval&, const EXPR4INFO&);
void stepNot(Expr4Eval&, const EXPR4INFO&);
void stepOr(Expr4Eval&, const EXPR4INFO&);
void stepAnd(Expr4Eval&, const EXPR4INFO&);
void stepCompareText(Expr4Eval&, const EXPR4INFO&);
void stepCompareNumber(Expr4Eval&, const EXPR4INFO&);
void stepCompareLogical(Expr4Eval&, const EXPR4INFO&);
void stepCompareCurrency(Expr4Eval&, const EXPR4INFO&);
void stepCompareDateTime(Expr4Eval&, const EXPR4INFO&);
void stepContains(Expr4Eval&, const EXPR4INFO&);

// expr4steps_number.cpp: arithmetic and numbers made text.
void stepAdd(Expr4Eval&, const EXPR4INFO&);
void stepSubtract(Expr4Eval&, const EXPR4INFO&);
void stepMultiply(Expr4Eval&, const EXPR4INFO&);
void stepDivide(Expr4Eval&, const EXPR4INFO&);
void stepPower(Expr4Eval&, const EXPR4INFO&);
void stepAddNumberDate(Expr4Eval&, const EXPR4INFO&);
void stepAddDateNumber(Expr4Eval&, const EXPR4INFO&);
void stepSubtractDates(Expr4Eval&, const EXPR4INFO&);
void stepSubtractDateNumber(Expr4Eval&, const EXPR4INFO&);
void stepVal(Expr4Eval&, const EXPR4INFO&);
void stepL2bin(Expr4Eval&, const EXPR4INFO&);
void stepStr(Expr4Eval&, const EXPR4INFO&);
void stepStrZero(Expr4Eval&, const EXPR4INFO&);

// expr4steps_text.cpp: text functions.
void stepConcat(Expr4Eval&, const EXPR4INFO&);
void stepConcatVary(Expr4Eval&, const EXPR4INFO&);
void stepConcatTrim(Expr4Eval&, const EXPR4INFO&);
void stepSubstr(Expr4Eval&, const EXPR4INFO&);
void stepUpper(Expr4Eval&, const EXPR4INFO&);
void stepTrim(Expr4Eval&, const EXPR4INFO&);
void stepLtrim(Expr4Eval&, const EXPR4INFO&);
void stepAlltrim(Expr4Eval&, const EXPR4INFO&);
void stepPadl(Expr4Eval&, const EXPR4INFO&);
void stepPadr(Expr4Eval&, const EXPR4INFO&);
void stepChr(Expr4Eval&, const EXPR4INFO&);
void stepIif(Expr4Eval&, const EXPR4INFO&);
void stepStrWide(Expr4Eval&, const EXPR4INFO&);

// expr4steps_date.cpp: dates and times.
void stepDtosText(Expr4Eval&, const EXPR4INFO&);
void stepDtosNumber(Expr4Eval&, const EXPR4INFO&);
void stepDtocText(Expr4Eval&, const EXPR4INFO&);
void stepDtocNumber(Expr4Eval&, const EXPR4INFO&);
void stepTime(Expr4Eval&, const EXPR4INFO&);
void stepDate(Expr4Eval&, const EXPR4INFO&);
void stepStod(Expr4Eval&, const EXPR4INFO&);
void stepCtod(Expr4Eval&, const EXPR4INFO&);
void stepDateTime(Expr4Eval&, const EXPR4INFO&);
void stepDatePartText(Expr4Eval&, const EXPR4INFO&);
void stepDatePartNumber(Expr4Eval&, const EXPR4INFO&);

// expr4key.cpp: ASCEND and DESCEND.
void stepAscend(Expr4Eval&, const EXPR4INFO&);
void stepDescend(Expr4Eval&, const EXPR4INFO&);

// expr4eval.cpp: runs the steps of `expr` on its bound record; the caller
// holds memory4evaluationLock(). The result's length with `*result` set,
// or a negative code.
int32_t evaluateLocked(EXPR4* expr, char** result);

// The null prefix of the expression's keys on the bound record: -1 for none
// (no nullable field read, or a tag refusing null keys), 0 when every
// nullable field read holds a value, 1 when one is null. The caller holds
// memory4evaluationLock() and has evaluated since the last rebinding.
int32_t keyNullState(const EXPR4* expr);

}  // namespace expr4
