// The function table as data: its names in order, its variant groups, and
// the lookup the parser finds rows with.
#include "engine/index/expr4table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

int lookupOperator(const char* text) {
  return expr4lookup(text, static_cast<int32_t>(std::strlen(text)), -1, expr4rowFirstOperator,
                     expr4rowLastOperator);
}

int lookupFunction(const char* name) {
  const auto n = static_cast<int32_t>(std::strlen(name));
  return expr4lookup(name, n, n, expr4rowFirstFunction, expr4rowEnd - 1);
}

TEST(Expr4Table, NamesStandInTableOrder) {
  const std::vector<std::string> expected = {
      ".TRUE.",  ".T.",     ".FALSE.", ".F.",  ".NOT.",   "!",        ".OR.",     ".AND.", "+",
      "-",       "#",       "<>",      ">=",   "=>",      "<=",       "=<",       "=",     ">",
      "<",       "^",       "**",      "*",    "/",       "$",        "CHR",      "DEL",   "STR",
      "STR",     "STRZERO", "SUBSTR",  "TIME", "UPPER",   "DTOS",     "DTOC",     "TRIM",  "LTRIM",
      "ALLTRIM", "LEFT",    "RIGHT",   "PADL", "PADR",    "IIF",      "DATETIME", "STOD",  "CTOD",
      "DATE",    "DAY",     "MONTH",   "YEAR", "DELETED", "RECCOUNT", "RECNO",    "VAL",   "L2BIN",
      "PAGENO",  "DESCEND", "ASCEND"};
  std::vector<std::string> names;
  for (int r = 0; r < expr4functionCount; r++) {
    const EXPR4FUNCTION& f = expr4functions[r];
    ASSERT_NE(f.code, -1) << "row " << r;
    if (f.name == nullptr) continue;
    names.push_back(f.name);
    EXPECT_EQ(f.nameLen, std::strlen(f.name));
  }
  EXPECT_EQ(names, expected);
  EXPECT_EQ(expr4functions[expr4rowEnd].code, -1);
}

TEST(Expr4Table, VariantsOfACodeStandTogetherBehindTheirName) {
  std::map<int, int> lastRowOfCode;
  for (int r = 0; r < expr4functionCount; r++) {
    const EXPR4FUNCTION& f = expr4functions[r];
    auto seen = lastRowOfCode.find(f.code);
    // Row 23 (memo as text) shares code 7 with the N field push by design.
    if (seen != lastRowOfCode.end() && r != expr4rowMemo) {
      EXPECT_EQ(seen->second, r - 1) << "code " << f.code << " split at row " << r;
    }
    lastRowOfCode[f.code] = r;
    // Unnamed rows are variants, but for the field pushes, the constants
    // and the named calculation's two rows, which the parser emits by number.
    const bool byNumber = r <= expr4rowText || r == expr4rowCalc || r == expr4rowTotal;
    if (!byNumber && f.name == nullptr) {
      EXPECT_EQ(expr4functions[r - 1].code, f.code) << "unnamed row " << r << " starts a code";
      EXPECT_EQ(expr4functions[r - 1].parmCount, f.parmCount) << "row " << r;
    }
  }
}

TEST(Expr4Table, OperatorsMatchTheirLongestSpellingFirst) {
  EXPECT_EQ(lookupOperator("<>B"), 46);
  EXPECT_EQ(lookupOperator("<=B"), expr4rowLessEqual);
  EXPECT_EQ(lookupOperator("=<B"), 59);
  EXPECT_EQ(lookupOperator("<B"), expr4rowLess);
  EXPECT_EQ(lookupOperator("=>B"), 53);
  EXPECT_EQ(lookupOperator("=B"), expr4rowEqual);
  EXPECT_EQ(lookupOperator("**2"), 81);
  EXPECT_EQ(lookupOperator("*2"), expr4rowMultiply);
  EXPECT_EQ(lookupOperator(".and.B"), expr4rowAnd);
  EXPECT_EQ(lookupOperator(".Or.B"), expr4rowOr);
  EXPECT_EQ(lookupOperator(".AN"), -1);  // cut short by the end of the text
  EXPECT_EQ(lookupOperator("!B"), -1);   // a negation starts a value, never joins two
}

TEST(Expr4Table, FunctionsMatchByTheirWholeName) {
  EXPECT_EQ(lookupFunction("substr"), expr4rowSubstr);
  EXPECT_EQ(lookupFunction("Str"), expr4rowStr);
  EXPECT_EQ(lookupFunction("RecCount"), expr4rowRecCount);
  EXPECT_EQ(lookupFunction("SUBST"), -1);
  EXPECT_EQ(lookupFunction("SUBSTRING"), -1);
  EXPECT_EQ(lookupFunction("ALLTRIMMED"), -1);  // beyond the nine bytes compared
  EXPECT_EQ(lookupFunction(".AND."), -1);       // not among the functions
}

}  // namespace
