#include "engine/index/expr4table.h"

#include <string_view>

namespace {

constexpr EXPR4FUNCTION row(const char* name, int16_t code, uint8_t priority, char type,
                            int8_t parmCount, char t1 = 0, char t2 = 0, char t3 = 0) {
  const auto length = name == nullptr ? 0 : std::string_view(name).size();
  return EXPR4FUNCTION{nullptr,  name, code,      static_cast<uint8_t>(length),
                       priority, type, parmCount, {t1, t2, t3}};
}

// An unnamed variant of the row above it.
constexpr EXPR4FUNCTION variant(int16_t code, uint8_t priority, char type, int8_t parmCount,
                                char t1 = 0, char t2 = 0, char t3 = 0) {
  return row(nullptr, code, priority, type, parmCount, t1, t2, t3);
}

constexpr uint8_t kOr = 3, kAnd = 4, kNot = 5, kCompare = 6, kSum = 7, kProduct = 8, kPower = 9;

}  // namespace

constexpr EXPR4FUNCTION expr4functions[expr4functionCount + 1] = {
    // 0-22: field pushes, one per field type and reading.
    variant(0, 0, 'C', 0),    // C field, read
    variant(0, 0, 'W', 0),    // W field, read
    variant(0, 0, 'O', 0),    // O field, copied
    variant(1, 0, 'C', 0),    // C field, copied
    variant(2, 0, 'W', 0),    // W field, copied
    variant(3, 0, 'L', 0),    // L field
    variant(4, 0, 'd', 0),    // D field as a day number
    variant(5, 0, 'D', 0),    // D field, read
    variant(6, 0, 'n', 0),    // N or F field as a double
    variant(7, 0, 'N', 0),    // N or F field, read
    variant(440, 0, 'Y', 0),  // Y
    variant(441, 0, 'n', 0),  // B
    variant(442, 0, 'I', 0),  // I
    variant(443, 0, 'P', 0),
    variant(444, 0, 'Q', 0),
    variant(445, 0, 'R', 0),
    variant(446, 0, 'T', 0),
    variant(447, 0, 'n', 0),  // I as a double
    variant(448, 0, 'n', 0),  // Y as a double
    variant(449, 0, '1', 0),
    variant(450, 0, '2', 0),
    variant(451, 0, '3', 0),
    variant(452, 0, '4', 0),
    // 23: M or G field as text.
    variant(7, 0, 'C', 0),
    // 24-25: constants.
    variant(8, 0, 'n', 0),
    variant(9, 0, 'C', 0),
    // 26-31: logical words.
    row(".TRUE.", 14, 0, 'L', 0),
    row(".T.", 14, 0, 'L', 0),
    row(".FALSE.", 16, 0, 'L', 0),
    row(".F.", 16, 0, 'L', 0),
    row(".NOT.", 18, kNot, 'L', 1, 'L'),
    row("!", 18, kNot, 'L', 1, 'L'),
    // 32-33: n-ary logical operators.
    row(".OR.", 20, kOr, 'L', -1, 'L', 'L', 'L'),
    row(".AND.", 22, kAnd, 'L', -1, 'L', 'L', 'L'),
    // 34-40: "+".
    row("+", 25, kSum, 'C', 2, 'C', 'C'),
    variant(25, kSum, 'W', 2, 'W', 'W'),
    variant(25, kSum, 'O', 2, 'O', 'O'),
    variant(25, kSum, 'C', 2, 'C', 'C'),  // after text padded with zero bytes
    variant(25, kSum, 'n', 2, 'n', 'n'),
    variant(25, kSum, 'd', 2, 'n', 'd'),
    variant(25, kSum, 'd', 2, 'd', 'n'),
    // 41-44: "-".
    row("-", 30, kSum, 'C', 2, 'C', 'C'),
    variant(30, kSum, 'n', 2, 'n', 'n'),
    variant(30, kSum, 'n', 2, 'd', 'd'),
    variant(30, kSum, 'd', 2, 'd', 'n'),
    // 45-51: "#", "<>".
    row("#", 50, kCompare, 'L', 2, 'C', 'C'),
    row("<>", 50, kCompare, 'L', 2, 'C', 'C'),
    variant(50, kCompare, 'L', 2, 'n', 'n'),
    variant(50, kCompare, 'L', 2, 'd', 'd'),
    variant(50, kCompare, 'L', 2, 'L', 'L'),
    variant(50, kCompare, 'L', 2, 'Y', 'Y'),
    variant(50, kCompare, 'L', 2, 'T', 'T'),
    // 52-57: ">=", "=>".
    row(">=", 60, kCompare, 'L', 2, 'C', 'C'),
    row("=>", 60, kCompare, 'L', 2, 'C', 'C'),
    variant(60, kCompare, 'L', 2, 'n', 'n'),
    variant(60, kCompare, 'L', 2, 'd', 'd'),
    variant(60, kCompare, 'L', 2, 'Y', 'Y'),
    variant(60, kCompare, 'L', 2, 'T', 'T'),
    // 58-63: "<=", "=<".
    row("<=", 70, kCompare, 'L', 2, 'C', 'C'),
    row("=<", 70, kCompare, 'L', 2, 'C', 'C'),
    variant(70, kCompare, 'L', 2, 'n', 'n'),
    variant(70, kCompare, 'L', 2, 'd', 'd'),
    variant(70, kCompare, 'L', 2, 'Y', 'Y'),
    variant(70, kCompare, 'L', 2, 'T', 'T'),
    // 64-69: "=".
    row("=", 40, kCompare, 'L', 2, 'C', 'C'),
    variant(40, kCompare, 'L', 2, 'L', 'L'),
    variant(40, kCompare, 'L', 2, 'n', 'n'),
    variant(40, kCompare, 'L', 2, 'd', 'd'),
    variant(40, kCompare, 'L', 2, 'Y', 'Y'),
    variant(40, kCompare, 'L', 2, 'T', 'T'),
    // 70-74: ">".
    row(">", 80, kCompare, 'L', 2, 'C', 'C'),
    variant(80, kCompare, 'L', 2, 'n', 'n'),
    variant(80, kCompare, 'L', 2, 'd', 'd'),
    variant(80, kCompare, 'L', 2, 'Y', 'Y'),
    variant(80, kCompare, 'L', 2, 'T', 'T'),
    // 75-79: "<".
    row("<", 90, kCompare, 'L', 2, 'C', 'C'),
    variant(90, kCompare, 'L', 2, 'n', 'n'),
    variant(90, kCompare, 'L', 2, 'd', 'd'),
    variant(90, kCompare, 'L', 2, 'Y', 'Y'),
    variant(90, kCompare, 'L', 2, 'T', 'T'),
    // 80-84: arithmetic and "$".
    row("^", 100, kPower, 'n', 2, 'n', 'n'),
    row("**", 100, kPower, 'n', 2, 'n', 'n'),
    row("*", 102, kProduct, 'n', 2, 'n', 'n'),
    row("/", 105, kProduct, 'n', 2, 'n', 'n'),
    row("$", 110, kCompare, 'L', 2, 'C', 'C'),
    // 85-125: functions.
    row("CHR", 120, 0, 'C', 1, 'n'),
    row("DEL", 130, 0, 'C', 0),
    row("STR", 140, 0, 'C', 1, 'n'),
    row("STR", 140, 0, 'C', 1, 'W'),
    row("STRZERO", 145, 0, 'C', 1, 'n'),
    row("SUBSTR", 150, 0, 'C', 1, 'C'),
    row("TIME", 160, 0, 'C', 0),
    row("UPPER", 170, 0, 'C', 1, 'C'),
    row("DTOS", 180, 0, 'C', 1, 'D'),
    variant(180, 0, 'C', 1, 'd'),
    row("DTOC", 200, 0, 'C', 1, 'D'),
    variant(200, 0, 'C', 1, 'd'),
    row("TRIM", 220, 0, 'C', 1, 'C'),
    row("LTRIM", 230, 0, 'C', 1, 'C'),
    row("ALLTRIM", 235, 0, 'C', 1, 'C'),
    row("LEFT", 240, 0, 'C', 1, 'C'),
    row("RIGHT", 245, 0, 'C', 1, 'C'),
    row("PADL", 246, 0, 'C', 1, 'C'),
    row("PADR", 247, 0, 'C', 1, 'C'),
    row("IIF", 250, 0, 'C', 3, 'L', 'C', 'C'),
    variant(250, 0, 'n', 3, 'L', 'n', 'n'),
    variant(250, 0, 'd', 3, 'L', 'd', 'd'),
    variant(250, 0, 'L', 3, 'L', 'L', 'L'),
    row("DATETIME", 259, 0, 'T', 3, 'n', 'n', 'n'),
    row("STOD", 260, 0, 'd', 1, 'C'),
    row("CTOD", 270, 0, 'd', 1, 'C'),
    row("DATE", 280, 0, 'd', 0),
    row("DAY", 290, 0, 'n', 1, 'D'),
    variant(290, 0, 'n', 1, 'd'),
    row("MONTH", 310, 0, 'n', 1, 'D'),
    variant(310, 0, 'n', 1, 'd'),
    row("YEAR", 340, 0, 'n', 1, 'D'),
    variant(340, 0, 'n', 1, 'd'),
    row("DELETED", 350, 0, 'L', 0),
    row("RECCOUNT", 360, 0, 'n', 0),
    row("RECNO", 370, 0, 'n', 0),
    row("VAL", 380, 0, 'n', 1, 'C'),
    row("L2BIN", 385, 0, 'C', 1, 'n'),
    variant(390, 0, 0, 0),    // named calculation: its expression's type
    variant(400, 0, 'n', 0),  // a named calculation's total
    row("PAGENO", 410, 0, 'n', 0),
    // 126-142: DESCEND, by operand type.
    row("DESCEND", 420, 0, 'C', 1, 'C'),
    variant(420, 0, 'C', 1, 'N'),
    variant(420, 0, 'C', 1, 'd'),
    variant(420, 0, 'C', 1, 'L'),
    variant(420, 0, 'C', 1, 'T'),
    variant(420, 0, 'C', 1, 'I'),
    variant(420, 0, 'C', 1, 'Y'),
    variant(420, 0, 'C', 1, 'W'),
    variant(420, 0, 'C', 1, 'O'),
    variant(420, 0, 'C', 1, 'n'),
    variant(420, 0, 'C', 1, '1'),
    variant(420, 0, 'C', 1, 'P'),
    variant(420, 0, 'C', 1, 'R'),
    variant(420, 0, 'C', 1, 'Q'),
    variant(420, 0, 'C', 1, '2'),
    variant(420, 0, 'C', 1, '3'),
    variant(420, 0, 'C', 1, '4'),
    // 143-160: ASCEND, by operand type.
    row("ASCEND", 430, 0, 'C', 1, 'C'),
    variant(430, 0, 'C', 1, 'W'),
    variant(430, 0, 'C', 1, 'O'),
    variant(430, 0, 'C', 1, 'N'),
    variant(430, 0, 'C', 1, 'D'),
    variant(430, 0, 'C', 1, 'd'),
    variant(430, 0, 'C', 1, 'L'),
    variant(430, 0, 'C', 1, 'I'),
    variant(430, 0, 'C', 1, 'T'),
    variant(430, 0, 'C', 1, 'Y'),
    variant(430, 0, 'C', 1, 'n'),
    variant(430, 0, 'C', 1, 'P'),
    variant(430, 0, 'C', 1, 'R'),
    variant(430, 0, 'C', 1, 'Q'),
    variant(430, 0, 'C', 1, '1'),
    variant(430, 0, 'C', 1, '2'),
    variant(430, 0, 'C', 1, '3'),
    variant(430, 0, 'C', 1, '4'),
    // 161: the end.
    variant(-1, 0, 0, 0),
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
