// The function and operator table: one row per operator, function or value
// kind, and per variant of it for other operand types. The parser finds
// rows by name and chooses among the variants of one code by the operand
// types; the evaluator runs the row's routine.
//
// Rows sharing a code are variants of one operator or function and stand
// together; the first of them carries the name, the others none (an
// operator with two spellings has both named). The table ends with a row
// whose code is -1. Other parts of the engine refer to rows by number
// (index collation qualifies a key by the rows of its steps), so the row
// numbers below are fixed.
#pragma once

#include <cstdint>

#include "engine/index/expr4.h"

struct EXPR4FUNCTION {
  // The step routine (expr4steps.h); null for the end row.
  Expr4Routine routine;
  const char* name;  // upper case; null for an unnamed variant
  int16_t code;
  uint8_t nameLen;
  uint8_t priority;   // binding of an operator; 0 for values and functions
  char type;          // type letter of the result; 0 for a named calculation
  int8_t parmCount;   // -1: any number, two or more
  char parmTypes[3];  // type letter of each parameter; any-number rows: all alike
};

inline constexpr int32_t expr4functionCount = 161;

// The rows, then the end row.
extern const EXPR4FUNCTION expr4functions[expr4functionCount + 1];

// Row numbers.
enum : int32_t {
  // Field pushes. The read rows give a pointer into the record; the copy
  // rows and the conversions write into the work area.
  expr4rowFieldText = 0,
  expr4rowFieldWide = 1,
  expr4rowFieldWideTail = 2,
  expr4rowCopyText = 3,
  expr4rowCopyWide = 4,
  expr4rowFieldLogical = 5,
  expr4rowDateAsNumber = 6,  // a D field read as a double day number
  expr4rowFieldDate = 7,
  expr4rowNumberAsDouble = 8,  // an N or F field read as a double
  expr4rowFieldNumber = 9,
  expr4rowFieldCurrency = 10,
  expr4rowFieldDouble = 11,  // B
  expr4rowFieldInt = 12,
  expr4rowFieldUnsigned = 13,
  expr4rowFieldShort = 14,
  expr4rowFieldUnsignedShort = 15,
  expr4rowFieldDateTime = 16,
  expr4rowIntAsDouble = 17,
  expr4rowCurrencyAsDouble = 18,
  expr4rowFieldInt64 = 19,
  expr4rowFieldDateParts = 20,
  expr4rowFieldTimeParts = 21,
  expr4rowFieldDateTimeParts = 22,
  expr4rowMemo = 23,  // an M or G field as text
  expr4rowNumber = 24,
  expr4rowText = 25,
  expr4rowTrue = 26,   // and 27 ".T."
  expr4rowFalse = 28,  // and 29 ".F."
  expr4rowNot = 30,    // and 31 "!"
  expr4rowOr = 32,
  expr4rowAnd = 33,
  expr4rowConcat = 34,
  expr4rowConcatWide = 35,
  expr4rowConcatWideTail = 36,
  expr4rowConcatVary = 37,  // after text padded with zero bytes
  expr4rowAdd = 38,
  expr4rowAddNumberDate = 39,
  expr4rowAddDateNumber = 40,
  expr4rowConcatTrim = 41,  // "-" of text
  expr4rowSubtract = 42,
  expr4rowSubtractDates = 43,
  expr4rowSubtractDateNumber = 44,
  expr4rowNotEqual = 45,      // "#", 46 "<>"
  expr4rowGreaterEqual = 52,  // ">=", 53 "=>"
  expr4rowLessEqual = 58,     // "<=", 59 "=<"
  expr4rowEqual = 64,
  expr4rowGreater = 70,
  expr4rowLess = 75,
  expr4rowPower = 80,  // "^", 81 "**"
  expr4rowMultiply = 82,
  expr4rowDivide = 83,
  expr4rowContains = 84,
  expr4rowChr = 85,
  expr4rowDel = 86,
  expr4rowStr = 87,
  expr4rowStrWide = 88,
  expr4rowStrZero = 89,
  expr4rowSubstr = 90,
  expr4rowTime = 91,
  expr4rowUpper = 92,
  expr4rowDtos = 93,
  expr4rowDtoc = 95,
  expr4rowTrim = 97,
  expr4rowLtrim = 98,
  expr4rowAlltrim = 99,
  expr4rowLeft = 100,
  expr4rowRight = 101,
  expr4rowPadl = 102,
  expr4rowPadr = 103,
  expr4rowIif = 104,
  expr4rowDateTime = 108,
  expr4rowStod = 109,
  expr4rowCtod = 110,
  expr4rowDate = 111,
  expr4rowDay = 112,
  expr4rowMonth = 114,
  expr4rowYear = 116,
  expr4rowDeleted = 118,
  expr4rowRecCount = 119,
  expr4rowRecNo = 120,
  expr4rowVal = 121,
  expr4rowL2bin = 122,
  expr4rowCalc = 123,
  expr4rowTotal = 124,
  expr4rowPageNo = 125,
  expr4rowDescend = 126,
  expr4rowAscend = 143,
  expr4rowEnd = 161,
};

// Ranges the parser searches.
enum : int32_t {
  expr4rowFirstWord = 26,  // ".TRUE." .. "!": words that start a value
  expr4rowLastWord = 31,
  expr4rowFirstOperator = 32,  // ".OR." .. "$"
  expr4rowLastOperator = 84,
  expr4rowFirstFunction = 85,
};

// Codes of the comparison operators.
enum : int16_t {
  expr4codeEqual = 40,
  expr4codeNotEqual = 50,
  expr4codeGreaterEqual = 60,
  expr4codeLessEqual = 70,
  expr4codeGreater = 80,
  expr4codeLess = 90,
};

// The first row in [first, last] whose name matches the text at `text`,
// of which `available` bytes may be read: with `length` 0 or more the name
// must be exactly that long and equal the text's first `length` bytes;
// with -1 the name's own length of text is compared. The text is compared
// upper-cased (a-z only) over at most nine bytes, so longer names never
// match. -1 when no row matches; the search stops at the end row.
int32_t expr4lookup(const char* text, int32_t available, int32_t length, int32_t first,
                    int32_t last);

// True for the rows that yield a comparison of two values.
bool expr4isComparison(int32_t row);
