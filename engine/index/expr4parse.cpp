// The grammar: operator precedence over values, left to right.
//
// Operators wait on the operator stack until one of lower or equal
// priority arrives, so equal priorities group to the left. ".AND." and
// ".OR." take any number of operands: a second ".AND." meeting the first
// on the stack leaves a marker in its place, and the one step finally
// emitted counts the markers beneath it as extra operands. A function's
// argument list and a parenthesis put a marker on the stack that stops
// the operators of the enclosing expression from being emitted inside.
#include <cstring>

#include "engine/index/expr4parser.h"
#include "engine/index/expr4table.h"
#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"

namespace expr4 {

bool OperatorStack::push(int32_t entry) {
  if (count_ == kCapacity) return false;
  entries_[count_++] = entry;
  return true;
}

Parser::Parser(DATA4* data, const char* text, int32_t length, TAG4FILE* tag)
    : data_(data),
      c_(data->codeBase),
      tag_(tag),
      source_(text),
      sourceLength_(length),
      scan_(text, length) {}

int32_t Parser::fail(int32_t code, int32_t location, const char* text1, const char* text2) {
  if (c_->errExpr != 0 || code == e4tagExpr) {
    error4describe(c_, code, location, text1 != nullptr ? text1 : source_, text2, nullptr);
  }
  return code;
}

EXPR4INFO& Parser::emit(int32_t row) {
  EXPR4INFO& step = steps_.emplace_back();
  step.row = row;
  const int8_t parms = expr4functions[row].parmCount;
  step.parmCount = parms < 0 ? 2 : parms;
  return step;
}

void Parser::emitOperator(int32_t row) {
  EXPR4INFO& step = emit(row);
  while (ops_.top() == OperatorStack::kMore) {
    ops_.pop();
    step.parmCount++;
  }
}

int32_t Parser::appendConstant(const void* bytes, int32_t length) {
  const auto offset = static_cast<int32_t>(constants_.size());
  const auto* first = static_cast<const char*>(bytes);
  constants_.insert(constants_.end(), first, first + length);
  return offset;
}

int32_t Parser::pushOperator(int32_t entry) {
  return ops_.push(entry) ? 0 : fail(e4memory, kLocStack);
}

int32_t Parser::parseTop() {
  if (const int32_t rc = parseExpression(); rc < 0) return rc;
  if (ops_.size() != 0) return fail(e4complete, kLocParse);
  return 0;
}

int32_t Parser::parseExpression() {
  if (const int32_t rc = parseValue(); rc < 0) return rc;
  for (;;) {
    scan_.skipBlanks();
    const char next = scan_.peek();
    if (next == '\0' || next == ')' || next == ',') break;
    const int32_t row = expr4lookup(scan_.here(), scan_.remaining(), -1, expr4rowFirstOperator,
                                    expr4rowLastOperator);
    if (row < 0) return fail(e4unrecOperator, kLocOperator);
    scan_.advance(expr4functions[row].nameLen);
    while (ops_.top() >= 0) {
      const int32_t top = ops_.top();
      if (expr4functions[row].priority > expr4functions[top].priority) break;
      ops_.pop();
      if (top == row && expr4functions[row].parmCount < 0) {
        ops_.push(OperatorStack::kMore);  // takes the place just freed
        break;
      }
      emitOperator(top);
    }
    if (const int32_t rc = pushOperator(row); rc < 0) return rc;
    if (const int32_t rc = parseValue(); rc < 0) return rc;
  }
  while (ops_.top() >= 0) emitOperator(ops_.pop());
  return 0;
}

int32_t Parser::parseValue() {
  scan_.skipBlanks();
  const char first = scan_.peek();
  if (first == '(') {
    scan_.advance(1);
    if (const int32_t rc = pushOperator(OperatorStack::kOpen); rc < 0) return rc;
    if (const int32_t rc = parseExpression(); rc < 0) return rc;
    scan_.skipBlanks();
    if (scan_.peek() != ')') return fail(e4rightMissing, kLocValue);
    scan_.advance(1);
    ops_.pop();
    return 0;
  }
  if (first == '"' || first == '\'' || first == '[') return parseText();
  if (first == '!' || first == '.') {
    const int32_t row =
        expr4lookup(scan_.here(), scan_.remaining(), -1, expr4rowFirstWord, expr4rowLastWord);
    if (row >= 0) {
      scan_.advance(expr4functions[row].nameLen);
      if (row >= expr4rowNot) return parseNegation(row);
      emit(row);
      return 0;
    }
  }
  if (expr4isDigit(first) || first == '-' || first == '+' || first == '.') {
    if (const int32_t length = scan_.numberLength(); length > 0) return parseNumber(length);
  }
  if (expr4isNameChar(first)) return parseName();
  return fail(e4unrecValue, kLocValue);
}

// The negation goes on the operator stack after its operand, so that it
// takes in the operators of higher priority that follow: .NOT. A = B
// negates the comparison. Every negation waiting for its operand will take
// a stack entry; counting them bounds the recursion as the stack bounds
// parentheses and calls.
int32_t Parser::parseNegation(int32_t row) {
  if (ops_.size() + pendingNegations_ + 1 > OperatorStack::kCapacity) {
    return fail(e4memory, kLocStack);
  }
  pendingNegations_++;
  const int32_t rc = parseValue();
  pendingNegations_--;
  if (rc < 0) return rc;
  return pushOperator(row);
}

int32_t Parser::parseNumber(int32_t length) {
  const char* text = scan_.here();
  int32_t digits = length;
  // The engine's conversion takes a '-' but no '+'.
  if (text[0] == '+') {
    text++;
    digits--;
  }
  const double value = convert4textToDouble(text, digits);
  const int32_t offset = appendConstant(&value, sizeof value);
  EXPR4INFO& step = emit(expr4rowNumber);
  step.len = sizeof value;
  step.p1 = offset;
  scan_.advance(length);
  return 0;
}

int32_t Parser::parseText() {
  const char open = scan_.peek();
  const int32_t distance = scan_.closingDistance(open == '[' ? ']' : open);
  if (distance < 0) return fail(e4unterminated, kLocValue);
  const int32_t offset = appendConstant(scan_.here() + 1, distance - 1);
  EXPR4INFO& step = emit(expr4rowText);
  step.len = distance - 1;
  step.p1 = offset;
  scan_.advance(distance + 1);
  return 0;
}

int32_t Parser::parseName() {
  const char* name = scan_.here();
  const int32_t length = scan_.nameLength();
  scan_.advance(length);
  scan_.skipBlanks();
  if (scan_.peek() == '(') return parseCall(name, length);
  return parseField(name, length);
}

int32_t Parser::parseCall(const char* name, int32_t length) {
  // Named calculations would be looked up here; this engine never keeps
  // any, so a name that is no function is unknown.
  const int32_t row = expr4lookup(name, length, length, expr4rowFirstFunction, expr4rowEnd - 1);
  if (row < 0) return fail(e4unrecFunction, kLocCall);
  scan_.advance(1);
  if (const int32_t rc = pushOperator(OperatorStack::kOpen); rc < 0) return rc;
  std::vector<int32_t> starts;
  if (const int32_t rc = parseArguments(starts); rc < 0) return rc;
  ops_.pop();

  Call call;
  if (const int32_t rc = fold(row, starts, call); rc < 0) return rc;
  EXPR4INFO& step = emit(call.row);
  step.parmCount = call.parmCount;
  step.len = call.len;
  step.p1 = call.p1;
  if (call.row == expr4rowDel || call.row == expr4rowDeleted) {
    step.ref.record = tag_ != nullptr ? nullptr : &data_->record;  // a tag's is set at the end
  } else if (call.row == expr4rowRecCount) {
    step.ref.dataFile = data_->dataFile;
  }
  return 0;
}

// Each argument's first step goes into `starts`. After a successful
// expression the text stands at ")", "," or its end, so only the end is
// met here in practice; any other character is refused all the same.
int32_t Parser::parseArguments(std::vector<int32_t>& starts) {
  scan_.skipBlanks();
  if (scan_.peek() == ')') {
    scan_.advance(1);
    return 0;
  }
  for (;;) {
    starts.push_back(static_cast<int32_t>(steps_.size()));
    if (const int32_t rc = parseExpression(); rc < 0) return rc;
    scan_.skipBlanks();
    const char next = scan_.peek();
    if (next == ')') {
      scan_.advance(1);
      return 0;
    }
    if (next != ',') return fail(next == '\0' ? e4rightMissing : e4commaExpected, kLocCall);
    scan_.advance(1);
  }
}

}  // namespace expr4
