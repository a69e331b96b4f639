// The frame of one parse: everything expr4parseLow keeps while it turns a
// text into steps, shared by the grammar (expr4parse.cpp), field
// references (expr4field.cpp), argument folding (expr4fold.cpp) and the
// type pass (expr4type.cpp). Nothing of it outlives the parse but what
// finish() hands to the EXPR4.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/index/expr4.h"
#include "engine/index/expr4scan.h"

namespace expr4 {

// Locations of the parser's errors.
inline constexpr int32_t kLocParse = 90092;      // arguments, leftovers, memory
inline constexpr int32_t kLocOperator = 90093;   // unknown operator
inline constexpr int32_t kLocCall = 90097;       // function calls and their arguments
inline constexpr int32_t kLocValue = 90098;      // values, fields, parentheses
inline constexpr int32_t kLocStack = 90099;      // operator stack full
inline constexpr int32_t kLocTypes = 90089;      // the type pass
inline constexpr int32_t kLocFieldType = 80017;  // a field type no row reads
inline constexpr int32_t kLocArgCount = 80022;   // a call with the wrong argument count
inline constexpr int32_t kLocOtherData = 80025;  // a tag expression naming another handle

// Folded lengths and counts stay within what a field or key can hold.
inline constexpr int32_t kLengthMax = 65535;
// Bytes the work area of one expression may take; beyond it the parse
// fails as out of memory rather than asking for a block of that size.
inline constexpr int64_t kWorkAreaMax = int64_t{1} << 24;

// The operator stack: row numbers and the markers below. At most 32
// entries; the 33rd push fails.
class OperatorStack {
 public:
  static constexpr int32_t kOpen = -5;   // "(" or a function's argument list
  static constexpr int32_t kMore = -6;   // one more operand of the operator above
  static constexpr int32_t kEmpty = -3;  // what reading an empty stack gives
  static constexpr int32_t kCapacity = 32;

  bool push(int32_t entry);
  int32_t pop() { return count_ == 0 ? kEmpty : entries_[--count_]; }
  int32_t top() const { return count_ == 0 ? kEmpty : entries_[count_ - 1]; }
  int32_t size() const { return count_; }

 private:
  int32_t entries_[kCapacity] = {};
  int32_t count_ = 0;
};

class Parser {
 public:
  Parser(DATA4* data, const char* text, int32_t length, TAG4FILE* tag);

  // The whole text up to its end or an outer ")" or ",", into steps.
  int32_t parseTop();
  // Types every step, lays out the work area; 0 or the failure's code.
  int32_t typePass();
  // The finished expression; throws std::bad_alloc.
  EXPR4* finish();

  // Raises `code` when the settings object reports expression errors
  // (-510 always) and returns it. `text1` defaults to the expression text.
  int32_t fail(int32_t code, int32_t location, const char* text1 = nullptr,
               const char* text2 = nullptr);

 private:
  // A call's folded form: the row to emit, its operand count and the
  // values folded into the step.
  struct Call {
    int32_t row = 0;
    int32_t parmCount = 0;
    int32_t len = 0;
    int32_t p1 = 0;
  };

  int32_t parseExpression();
  int32_t parseValue();
  int32_t parseNegation(int32_t row);
  int32_t parseNumber(int32_t length);
  int32_t parseText();
  int32_t parseName();
  int32_t parseCall(const char* name, int32_t length);
  int32_t parseArguments(std::vector<int32_t>& starts);
  int32_t parseField(const char* name, int32_t length);
  int32_t fold(int32_t row, const std::vector<int32_t>& starts, Call& call);
  int32_t takeConstant(int32_t start, double& value);

  EXPR4INFO& emit(int32_t row);
  void emitOperator(int32_t row);
  int32_t appendConstant(const void* bytes, int32_t length);
  int32_t pushOperator(int32_t entry);

  DATA4* data_;
  CODE4* c_;
  TAG4FILE* tag_;
  const char* source_;
  int32_t sourceLength_;
  Expr4Scan scan_;
  OperatorStack ops_;
  // Negations whose operand is being parsed; each will take a stack entry.
  int32_t pendingNegations_ = 0;
  std::vector<EXPR4INFO> steps_;
  std::vector<char> constants_;

  // What the type pass found.
  int32_t resultType_ = 0;
  int32_t resultLen_ = 0;
  int64_t workLen_ = 0;
  int32_t keyBufferNeed_ = 0;
  bool varLength_ = false;
  friend class TypePass;
};

}  // namespace expr4
