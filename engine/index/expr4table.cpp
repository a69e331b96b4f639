#include "engine/index/expr4table.h"

#include <string_view>

#include "engine/index/expr4steps.h"

namespace {

using namespace expr4;

constexpr EXPR4FUNCTION row(Expr4Routine routine, const char* name, int16_t code, uint8_t priority,
                            char type, int8_t parmCount, char t1 = 0, char t2 = 0, char t3 = 0) {
  const auto length = name == nullptr ? 0 : std::string_view(name).size();
  return EXPR4FUNCTION{routine,  name, code,      static_cast<uint8_t>(length),
                       priority, type, parmCount, {t1, t2, t3}};
}

// An unnamed variant of the row above it.
constexpr EXPR4FUNCTION variant(Expr4Routine routine, int16_t code, uint8_t priority, char type,
                                int8_t parmCount, char t1 = 0, char t2 = 0, char t3 = 0) {
  return row(routine, nullptr, code, priority, type, parmCount, t1, t2, t3);
}

constexpr uint8_t kOr = 3, kAnd = 4, kNot = 5, kCompare = 6, kSum = 7, kProduct = 8, kPower = 9;

}  // namespace

constexpr EXPR4FUNCTION expr4functions[expr4functionCount + 1] = {
    // 0-22: field pushes, one per field type and reading.
    variant(stepFieldRead, 0, 0, 'C', 0),            // C field, read
    variant(stepFieldRead, 0, 0, 'W', 0),            // W field, read
    variant(stepFieldCopy, 0, 0, 'O', 0),            // O field, copied
    variant(stepFieldCopy, 1, 0, 'C', 0),            // C field, copied
    variant(stepFieldCopy, 2, 0, 'W', 0),            // W field, copied
    variant(stepFieldLogical, 3, 0, 'L', 0),         // L field
    variant(stepFieldDateAsNumber, 4, 0, 'd', 0),    // D field as a day number
    variant(stepFieldRead, 5, 0, 'D', 0),            // D field, read
    variant(stepFieldNumberAsDouble, 6, 0, 'n', 0),  // N or F field as a double
    variant(stepFieldRead, 7, 0, 'N', 0),            // N or F field, read
    variant(stepFieldRead, 440, 0, 'Y', 0),          // Y
    variant(stepFieldRead, 441, 0, 'n', 0),          // B
    variant(stepFieldRead, 442, 0, 'I', 0),          // I
    variant(stepFieldRead, 443, 0, 'P', 0),
    variant(stepFieldShort, 444, 0, 'Q', 0),          // Q, widened to 32 bits
    variant(stepFieldUnsignedShort, 445, 0, 'R', 0),  // R, widened to 32 bits
    variant(stepFieldRead, 446, 0, 'T', 0),
    variant(stepFieldIntAsDouble, 447, 0, 'n', 0),       // I as a double
    variant(stepFieldCurrencyAsDouble, 448, 0, 'n', 0),  // Y as a double
    variant(stepFieldRead, 449, 0, '1', 0),
    variant(stepFieldRead, 450, 0, '2', 0),
    variant(stepFieldRead, 451, 0, '3', 0),
    variant(stepFieldRead, 452, 0, '4', 0),
    // 23: M or G field as text.
    variant(stepMemo, 7, 0, 'C', 0),
    // 24-25: constants.
    variant(stepConstant, 8, 0, 'n', 0),
    variant(stepConstant, 9, 0, 'C', 0),
    // 26-31: logical words.
    row(stepTrue, ".TRUE.", 14, 0, 'L', 0),
    row(stepTrue, ".T.", 14, 0, 'L', 0),
    row(stepFalse, ".FALSE.", 16, 0, 'L', 0),
    row(stepFalse, ".F.", 16, 0, 'L', 0),
    row(stepNot, ".NOT.", 18, kNot, 'L', 1, 'L'),
    row(stepNot, "!", 18, kNot, 'L', 1, 'L'),
    // 32-33: n-ary logical operators.
    row(stepOr, ".OR.", 20, kOr, 'L', -1, 'L', 'L', 'L'),
    row(stepAnd, ".AND.", 22, kAnd, 'L', -1, 'L', 'L', 'L'),
    // 34-40: "+".
    row(stepConcat, "+", 25, kSum, 'C', 2, 'C', 'C'),
    variant(stepConcat, 25, kSum, 'W', 2, 'W', 'W'),
    variant(stepConcat, 25, kSum, 'O', 2, 'O', 'O'),
    variant(stepConcatVary, 25, kSum, 'C', 2, 'C', 'C'),  // after text padded with zero bytes
    variant(stepAdd, 25, kSum, 'n', 2, 'n', 'n'),
    variant(stepAddNumberDate, 25, kSum, 'd', 2, 'n', 'd'),
    variant(stepAddDateNumber, 25, kSum, 'd', 2, 'd', 'n'),
    // 41-44: "-".
    row(stepConcatTrim, "-", 30, kSum, 'C', 2, 'C', 'C'),
    variant(stepSubtract, 30, kSum, 'n', 2, 'n', 'n'),
    variant(stepSubtractDates, 30, kSum, 'n', 2, 'd', 'd'),
    variant(stepSubtractDateNumber, 30, kSum, 'd', 2, 'd', 'n'),
    // 45-51: "#", "<>".
    row(stepCompareText, "#", 50, kCompare, 'L', 2, 'C', 'C'),
    row(stepCompareText, "<>", 50, kCompare, 'L', 2, 'C', 'C'),
    variant(stepCompareNumber, 50, kCompare, 'L', 2, 'n', 'n'),
    variant(stepCompareNumber, 50, kCompare, 'L', 2, 'd', 'd'),
    variant(stepCompareLogical, 50, kCompare, 'L', 2, 'L', 'L'),
    variant(stepCompareCurrency, 50, kCompare, 'L', 2, 'Y', 'Y'),
    variant(stepCompareDateTime, 50, kCompare, 'L', 2, 'T', 'T'),
    // 52-57: ">=", "=>".
    row(stepCompareText, ">=", 60, kCompare, 'L', 2, 'C', 'C'),
    row(stepCompareText, "=>", 60, kCompare, 'L', 2, 'C', 'C'),
    variant(stepCompareNumber, 60, kCompare, 'L', 2, 'n', 'n'),
    variant(stepCompareNumber, 60, kCompare, 'L', 2, 'd', 'd'),
    variant(stepCompareCurrency, 60, kCompare, 'L', 2, 'Y', 'Y'),
    variant(stepCompareDateTime, 60, kCompare, 'L', 2, 'T', 'T'),
    // 58-63: "<=", "=<".
    row(stepCompareText, "<=", 70, kCompare, 'L', 2, 'C', 'C'),
    row(stepCompareText, "=<", 70, kCompare, 'L', 2, 'C', 'C'),
    variant(stepCompareNumber, 70, kCompare, 'L', 2, 'n', 'n'),
    variant(stepCompareNumber, 70, kCompare, 'L', 2, 'd', 'd'),
    variant(stepCompareCurrency, 70, kCompare, 'L', 2, 'Y', 'Y'),
    variant(stepCompareDateTime, 70, kCompare, 'L', 2, 'T', 'T'),
    // 64-69: "=".
    row(stepCompareText, "=", 40, kCompare, 'L', 2, 'C', 'C'),
    variant(stepCompareLogical, 40, kCompare, 'L', 2, 'L', 'L'),
    variant(stepCompareNumber, 40, kCompare, 'L', 2, 'n', 'n'),
    variant(stepCompareNumber, 40, kCompare, 'L', 2, 'd', 'd'),
    variant(stepCompareCurrency, 40, kCompare, 'L', 2, 'Y', 'Y'),
    variant(stepCompareDateTime, 40, kCompare, 'L', 2, 'T', 'T'),
    // 70-74: ">".
    row(stepCompareText, ">", 80, kCompare, 'L', 2, 'C', 'C'),
    variant(stepCompareNumber, 80, kCompare, 'L', 2, 'n', 'n'),
    variant(stepCompareNumber, 80, kCompare, 'L', 2, 'd', 'd'),
    variant(stepCompareCurrency, 80, kCompare, 'L', 2, 'Y', 'Y'),
    variant(stepCompareDateTime, 80, kCompare, 'L', 2, 'T', 'T'),
    // 75-79: "<".
    row(stepCompareText, "<", 90, kCompare, 'L', 2, 'C', 'C'),
    variant(stepCompareNumber, 90, kCompare, 'L', 2, 'n', 'n'),
    variant(stepCompareNumber, 90, kCompare, 'L', 2, 'd', 'd'),
    variant(stepCompareCurrency, 90, kCompare, 'L', 2, 'Y', 'Y'),
    variant(stepCompareDateTime, 90, kCompare, 'L', 2, 'T', 'T'),
    // 80-84: arithmetic and "$".
    row(stepPower, "^", 100, kPower, 'n', 2, 'n', 'n'),
    row(stepPower, "**", 100, kPower, 'n', 2, 'n', 'n'),
    row(stepMultiply, "*", 102, kProduct, 'n', 2, 'n', 'n'),
    row(stepDivide, "/", 105, kProduct, 'n', 2, 'n', 'n'),
    row(stepContains, "$", 110, kCompare, 'L', 2, 'C', 'C'),
    // 85-125: functions.
    row(stepChr, "CHR", 120, 0, 'C', 1, 'n'),
    row(stepDel, "DEL", 130, 0, 'C', 0),
    row(stepStr, "STR", 140, 0, 'C', 1, 'n'),
    row(stepStrWide, "STR", 140, 0, 'C', 1, 'W'),
    row(stepStrZero, "STRZERO", 145, 0, 'C', 1, 'n'),
    row(stepSubstr, "SUBSTR", 150, 0, 'C', 1, 'C'),
    row(stepTime, "TIME", 160, 0, 'C', 0),
    row(stepUpper, "UPPER", 170, 0, 'C', 1, 'C'),
    row(stepDtosText, "DTOS", 180, 0, 'C', 1, 'D'),
    variant(stepDtosNumber, 180, 0, 'C', 1, 'd'),
    row(stepDtocText, "DTOC", 200, 0, 'C', 1, 'D'),
    variant(stepDtocNumber, 200, 0, 'C', 1, 'd'),
    row(stepTrim, "TRIM", 220, 0, 'C', 1, 'C'),
    row(stepLtrim, "LTRIM", 230, 0, 'C', 1, 'C'),
    row(stepAlltrim, "ALLTRIM", 235, 0, 'C', 1, 'C'),
    row(stepSubstr, "LEFT", 240, 0, 'C', 1, 'C'),
    row(stepSubstr, "RIGHT", 245, 0, 'C', 1, 'C'),
    row(stepPadl, "PADL", 246, 0, 'C', 1, 'C'),
    row(stepPadr, "PADR", 247, 0, 'C', 1, 'C'),
    row(stepIif, "IIF", 250, 0, 'C', 3, 'L', 'C', 'C'),
    variant(stepIif, 250, 0, 'n', 3, 'L', 'n', 'n'),
    variant(stepIif, 250, 0, 'd', 3, 'L', 'd', 'd'),
    variant(stepIif, 250, 0, 'L', 3, 'L', 'L', 'L'),
    row(stepDateTime, "DATETIME", 259, 0, 'T', 3, 'n', 'n', 'n'),
    row(stepStod, "STOD", 260, 0, 'd', 1, 'C'),
    row(stepCtod, "CTOD", 270, 0, 'd', 1, 'C'),
    row(stepDate, "DATE", 280, 0, 'd', 0),
    row(stepDatePartText, "DAY", 290, 0, 'n', 1, 'D'),
    variant(stepDatePartNumber, 290, 0, 'n', 1, 'd'),
    row(stepDatePartText, "MONTH", 310, 0, 'n', 1, 'D'),
    variant(stepDatePartNumber, 310, 0, 'n', 1, 'd'),
    row(stepDatePartText, "YEAR", 340, 0, 'n', 1, 'D'),
    variant(stepDatePartNumber, 340, 0, 'n', 1, 'd'),
    row(stepDeleted, "DELETED", 350, 0, 'L', 0),
    row(stepRecCount, "RECCOUNT", 360, 0, 'n', 0),
    row(stepRecNo, "RECNO", 370, 0, 'n', 0),
    row(stepVal, "VAL", 380, 0, 'n', 1, 'C'),
    row(stepL2bin, "L2BIN", 385, 0, 'C', 1, 'n'),
    variant(stepCalculation, 390, 0, 0, 0),    // named calculation: its expression's type
    variant(stepCalculation, 400, 0, 'n', 0),  // a named calculation's total
    row(stepPageNo, "PAGENO", 410, 0, 'n', 0),
    // 126-142: DESCEND, by operand type.
    row(stepDescend, "DESCEND", 420, 0, 'C', 1, 'C'),
    variant(stepDescend, 420, 0, 'C', 1, 'N'),
    variant(stepDescend, 420, 0, 'C', 1, 'd'),
    variant(stepDescend, 420, 0, 'C', 1, 'L'),
    variant(stepDescend, 420, 0, 'C', 1, 'T'),
    variant(stepDescend, 420, 0, 'C', 1, 'I'),
    variant(stepDescend, 420, 0, 'C', 1, 'Y'),
    variant(stepDescend, 420, 0, 'C', 1, 'W'),
    variant(stepDescend, 420, 0, 'C', 1, 'O'),
    variant(stepDescend, 420, 0, 'C', 1, 'n'),
    variant(stepDescend, 420, 0, 'C', 1, '1'),
    variant(stepDescend, 420, 0, 'C', 1, 'P'),
    variant(stepDescend, 420, 0, 'C', 1, 'R'),
    variant(stepDescend, 420, 0, 'C', 1, 'Q'),
    variant(stepDescend, 420, 0, 'C', 1, '2'),
    variant(stepDescend, 420, 0, 'C', 1, '3'),
    variant(stepDescend, 420, 0, 'C', 1, '4'),
    // 143-160: ASCEND, by operand type.
    row(stepAscend, "ASCEND", 430, 0, 'C', 1, 'C'),
    variant(stepAscend, 430, 0, 'C', 1, 'W'),
    variant(stepAscend, 430, 0, 'C', 1, 'O'),
    variant(stepAscend, 430, 0, 'C', 1, 'N'),
    variant(stepAscend, 430, 0, 'C', 1, 'D'),
    variant(stepAscend, 430, 0, 'C', 1, 'd'),
    variant(stepAscend, 430, 0, 'C', 1, 'L'),
    variant(stepAscend, 430, 0, 'C', 1, 'I'),
    variant(stepAscend, 430, 0, 'C', 1, 'T'),
    variant(stepAscend, 430, 0, 'C', 1, 'Y'),
    variant(stepAscend, 430, 0, 'C', 1, 'n'),
    variant(stepAscend, 430, 0, 'C', 1, 'P'),
    variant(stepAscend, 430, 0, 'C', 1, 'R'),
    variant(stepAscend, 430, 0, 'C', 1, 'Q'),
    variant(stepAscend, 430, 0, 'C', 1, '1'),
    variant(stepAscend, 430, 0, 'C', 1, '2'),
    variant(stepAscend, 430, 0, 'C', 1, '3'),
    variant(stepAscend, 430, 0, 'C', 1, '4'),
    // 161: the end.
    variant(nullptr, -1, 0, 0, 0),
};

static_assert(expr4functions[expr4rowMemo].code == 7);
static_assert(expr4functions[expr4rowContains].code == 110);
static_assert(expr4functions[expr4rowChr].code == 120);
static_assert(expr4functions[expr4rowIif].code == 250);
static_assert(expr4functions[expr4rowPageNo].code == 410);
static_assert(expr4functions[expr4rowDescend].code == 420);
static_assert(expr4functions[expr4rowAscend].code == 430);
static_assert(expr4functions[expr4rowAscend + 17].parmTypes[0] == '4');
static_assert(expr4functions[expr4rowEnd].code == -1);

namespace {

constexpr int32_t kCompared = 9;

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

int32_t expr4lookup(const char* text, int32_t available, int32_t length, int32_t first,
                    int32_t last) {
  if (text == nullptr || available <= 0 || length == 0 || length > kCompared) return -1;
  char folded[kCompared];
  const int32_t readable = available < kCompared ? available : kCompared;
  for (int32_t i = 0; i < readable; i++) folded[i] = upper(text[i]);
  if (length > readable) return -1;
  for (int32_t r = first < 0 ? 0 : first; r <= last && r < expr4rowEnd; r++) {
    const EXPR4FUNCTION& f = expr4functions[r];
    if (f.name == nullptr || f.name[0] != folded[0]) continue;
    const int32_t n = length < 0 ? f.nameLen : length;
    if (n != f.nameLen || n > readable) continue;
    if (std::string_view(f.name, n) == std::string_view(folded, n)) return r;
  }
  return -1;
}

bool expr4isComparison(int32_t row) { return row >= expr4rowNotEqual && row < expr4rowPower; }
