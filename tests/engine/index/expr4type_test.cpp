// The type pass and argument folding: rows chosen for the operand types,
// lengths, parameters and the work-area layout.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/date4.h"
#include "tests/engine/index/expr4_fixture.h"

using namespace testing_support;

namespace {

using Rows = std::vector<int>;

TEST_F(ExprTest, FieldsPushTheRowOfTheirType) {
  const struct {
    const char* name;
    int row, type, len;
  } cases[] = {
      {"F_C", expr4rowFieldText, 'C', 10},     {"F_N5", expr4rowFieldNumber, 'N', 5},
      {"F_F", expr4rowFieldNumber, 'N', 8},    {"F_D", expr4rowFieldDate, 'D', 8},
      {"F_L", expr4rowFieldLogical, 'L', 4},   {"F_B", expr4rowFieldDouble, 'n', 8},
      {"F_T", expr4rowFieldDateTime, 'T', 8},  {"F_Y", expr4rowFieldCurrency, 'Y', 8},
      {"F_I", expr4rowFieldInt, 'I', 4},       {"F_P", expr4rowFieldUnsigned, 'P', 4},
      {"F_Q", expr4rowFieldShort, 'Q', 4},     {"F_R", expr4rowFieldUnsignedShort, 'R', 4},
      {"F_1", expr4rowFieldInt64, '1', 8},     {"F_2", expr4rowFieldDateParts, '2', 6},
      {"F_3", expr4rowFieldTimeParts, '3', 6}, {"F_4", expr4rowFieldDateTimeParts, '4', 16},
      {"F_W", expr4rowFieldWide, 'W', 20},     {"F_M", expr4rowMemo, 'C', 1024},
      {"F_G", expr4rowMemo, 'C', 1024},
  };
  for (const auto& test : cases) {
    const EXPR4* e = parse(test.name);
    ASSERT_NE(e, nullptr) << test.name;
    EXPECT_EQ(rows(e), Rows{test.row}) << test.name;
    EXPECT_EQ(e->type, test.type) << test.name;
    EXPECT_EQ(e->len, test.len) << test.name;
    EXPECT_EQ(e->varLength, test.row == expr4rowMemo ? 1 : 0) << test.name;
  }
  const EXPR4* wideTail = parse("F_O");
  ASSERT_NE(wideTail, nullptr);
  EXPECT_EQ(wideTail->type, 'O');
  EXPECT_EQ(wideTail->len, data4field(every, "F_O")->length - 2);

  // A memo in a key is held to what a key can carry.
  EXPECT_EQ(parse("F_M", every, fakeTag())->len, 240);
  EXPECT_EQ(parse("F_MNULL", every, fakeTag())->len, 239);
  c.memoExprLength = 100;
  EXPECT_EQ(parse("F_M", every, fakeTag())->len, 100);
  EXPECT_EQ(parse("F_M")->len, 100);
}

TEST_F(ExprTest, FieldsAreReadAsDoublesWhereNumbersAreWanted) {
  const struct {
    const char* text;
    Rows rows;
    int type;
  } cases[] = {
      {"F_N3 = F_N3", {expr4rowNumberAsDouble, expr4rowNumberAsDouble, 66}, 'L'},
      {"F_D - F_D", {expr4rowDateAsNumber, expr4rowDateAsNumber, expr4rowSubtractDates}, 'n'},
      {"F_D + 1", {expr4rowDateAsNumber, expr4rowNumber, expr4rowAddDateNumber}, 'd'},
      {"1 + F_D", {expr4rowNumber, expr4rowDateAsNumber, expr4rowAddNumberDate}, 'd'},
      {"F_I * F_B", {expr4rowIntAsDouble, expr4rowFieldDouble, expr4rowMultiply}, 'n'},
      {"F_Y = F_Y", {expr4rowCurrencyAsDouble, expr4rowCurrencyAsDouble, 66}, 'L'},
      {"F_T = F_T", {expr4rowFieldDateTime, expr4rowFieldDateTime, 69}, 'L'},
      {"DTOS(F_D)", {expr4rowFieldDate, expr4rowDtos}, 'C'},
      {"DTOS(DATE())", {expr4rowDate, expr4rowDtos + 1}, 'C'},
      {"YEAR(F_D) + DAY(DATE())", {7, expr4rowYear, 111, expr4rowDay + 1, expr4rowAdd}, 'n'},
      {"IIF(F_L, F_N5, F_I)", {5, expr4rowNumberAsDouble, expr4rowIntAsDouble, 105}, 'n'},
  };
  for (const auto& test : cases) {
    const EXPR4* e = parse(test.text);
    ASSERT_NE(e, nullptr) << test.text;
    EXPECT_EQ(rows(e), test.rows) << test.text;
    EXPECT_EQ(e->type, test.type) << test.text;
  }
  // A three-byte field read as a double takes 8 bytes, and the next value
  // was placed behind them.
  const EXPR4* narrow = parse("F_N3 = F_N3");
  EXPECT_EQ(narrow->steps[1].resultPos, 8);
  EXPECT_EQ(narrow->workLen, 16);
  EXPECT_EQ(narrow->steps[0].len, 8);
}

TEST_F(ExprTest, TextFunctionsWorkOnCopiesOfFields) {
  const struct {
    const char* text;
    Rows rows;
    int len;
  } cases[] = {
      {"UPPER(F_C)", {expr4rowCopyText, expr4rowUpper}, 10},
      {"F_C = 'ab'", {expr4rowFieldText, expr4rowText, expr4rowEqual}, 4},
      {"F_C $ 'ab'", {expr4rowFieldText, expr4rowText, expr4rowContains}, 4},
      {"F_W + F_W", {expr4rowCopyWide, expr4rowCopyWide, expr4rowConcatWide}, 40},
      {"F_O + F_O", {expr4rowFieldWideTail, expr4rowFieldWideTail, expr4rowConcatWideTail}, 36},
      {"F_C - 'x'", {expr4rowCopyText, expr4rowText, expr4rowConcatTrim}, 11},
      {"STR(F_W)", {expr4rowFieldWide, expr4rowStrWide}, 20},
      {"DESCEND(F_C)", {expr4rowCopyText, expr4rowDescend}, 10},
      {"IIF(F_L, F_C, 'x')", {5, expr4rowFieldText, expr4rowText, expr4rowIif}, 10},
      {"VAL(F_C) + 1", {expr4rowFieldText, expr4rowVal, 24, expr4rowAdd}, 8},
  };
  for (const auto& test : cases) {
    const EXPR4* e = parse(test.text);
    ASSERT_NE(e, nullptr) << test.text;
    EXPECT_EQ(rows(e), test.rows) << test.text;
    EXPECT_EQ(e->len, test.len) << test.text;
  }
  const EXPR4INFO& iif = last(parse("IIF(F_L, F_C, 'x')"));
  EXPECT_EQ(iif.p1, 10);
  EXPECT_EQ(iif.p2, 1);
}

TEST_F(ExprTest, ZeroPaddedTextMakesLaterJoinsVariable) {
  const EXPR4* joined = parse("TRIM(F_C) + F_C");
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(rows(joined),
            (Rows{expr4rowCopyText, expr4rowTrim, expr4rowCopyText, expr4rowConcatVary}));
  EXPECT_EQ(joined->varLength, 1);
  EXPECT_EQ(rows(parse("F_C + F_C")), (Rows{3, 3, expr4rowConcat}));
  EXPECT_EQ(last(parse("F_M + 'x'")).row, expr4rowConcatVary);
  EXPECT_EQ(last(parse("ALLTRIM(F_C) + LTRIM(F_C)")).row, expr4rowConcatVary);

  // RIGHT's start needs its operand's length, known only after typing.
  const EXPR4INFO& right = last(parse("RIGHT(TRIM(F_C),3)"));
  EXPECT_EQ(right.p1, 7);
  EXPECT_EQ(right.len, 3);
}

TEST_F(ExprTest, ComparisonsCarryTheirLengthAndTie) {
  const struct {
    const char* text;
    int p1, tie;
  } cases[] = {
      {"F_C = 'ab'", 2, 0}, {"F_C > 'ab'", 2, 1},  {"'ab' > F_C", 2, 0},  {"'ab' < F_C", 2, 1},
      {"F_C < 'ab'", 2, 0}, {"F_C >= 'ab'", 2, 0}, {"'ab' =< F_C", 2, 0}, {"F_C <> F_C", 10, 0},
      {"F_L = .T.", 4, 0},  {"F_N5 # 1", 8, 0},    {"F_D > F_D", 8, 0},   {"F_T <= F_T", 8, 0},
  };
  for (const auto& test : cases) {
    const EXPR4* e = parse(test.text);
    ASSERT_NE(e, nullptr) << test.text;
    EXPECT_EQ(last(e).p1, test.p1) << test.text;
    EXPECT_EQ(last(e).ref.tie, test.tie) << test.text;
    EXPECT_EQ(e->type, 'L') << test.text;
  }
}

TEST_F(ExprTest, FoldedArgumentsAreBounded) {
  const struct {
    const char* text;
    int len, p1;
  } cases[] = {
      {"LEFT(F_C,4)", 4, 0},
      {"LEFT(F_C,-3)", 0, 0},
      {"LEFT(F_C,40)", 10, 0},
      {"RIGHT(F_C,4)", 4, 6},
      {"RIGHT(F_C,-3)", 0, 10},
      {"RIGHT(F_C,40)", 10, 0},
      {"PADL(F_C,14)", 14, 4},
      {"PADL(F_C,4)", 4, 0},
      {"PADL(F_C,9999999999999)", 65535, 65525},
      {"PADR(F_C,-1)", 0, 0},
      {"SUBSTR(F_C,4)", 7, 3},
      {"SUBSTR(F_C,-5,3)", 3, 0},
      {"SUBSTR(F_C,20)", 0, 10},
      {"SUBSTR(F_C,3,9999999999999)", 8, 2},
      {"SUBSTR(F_C,-9999999999999,2)", 2, 0},
      {"STR(F_N5)", 10, 0},
      {"STR(F_N5,9999999999999)", 65535, 0},
      {"STR(F_N5,-1,2)", 10, 2},
      {"STR(F_N5,3,5)", 3, 1},
      {"STR(F_N5,1,0)", 1, 0},
      {"STR(F_N5,8,-3)", 8, 0},
      {"STR(F_N5,6,9999999999999)", 6, 4},
      {"STRZERO(F_N5,6)", 6, 0},
      {"STRZERO(F_N5,-4)", 0, 0},
  };
  for (const auto& test : cases) {
    const EXPR4* e = parse(test.text);
    ASSERT_NE(e, nullptr) << test.text;
    EXPECT_EQ(e->len, test.len) << test.text;
    EXPECT_EQ(last(e).p1, test.p1) << test.text;
    EXPECT_EQ(last(e).parmCount, 1) << test.text;
    EXPECT_EQ(e->stepCount, 2) << test.text;  // the constants left the steps
  }
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(expr4doubleToInt(std::nan("")), 0);
  EXPECT_EQ(expr4doubleToInt(inf), INT32_MAX);
  EXPECT_EQ(expr4doubleToInt(-inf), INT32_MIN);
  EXPECT_EQ(expr4doubleToInt(1e12), INT32_MAX);
  EXPECT_EQ(expr4doubleToInt(-1e12), INT32_MIN);
  EXPECT_EQ(expr4doubleToInt(-2.9), -2);
}

TEST_F(ExprTest, DatesKeepTheirPictureAndTime) {
  const EXPR4* shown = parse("DTOC(F_D)");
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->len, 8);
  EXPECT_EQ(std::string(shown->constants + last(shown).p1, 9), std::string("MM/DD/YY\0", 9));
  ASSERT_EQ(code4dateFormatSet(&c, "CCYY.MM.DD"), 0);
  EXPECT_EQ(parse("DTOC(F_D)")->len, 10);
  const EXPR4* read = parse("CTOD('2004.06.16')");
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(rows(read), (Rows{expr4rowText, expr4rowCtod}));
  EXPECT_EQ(read->len, 8);
  EXPECT_STREQ(read->constants + last(read).p1, "CCYY.MM.DD");

  // DTOC with a second argument is DTOS, whatever the argument was.
  EXPECT_EQ(rows(parse("DTOC(F_D,1)")), (Rows{expr4rowFieldDate, expr4rowDtos}));
  EXPECT_EQ(rows(parse("DTOC(DATE(),1)")), (Rows{expr4rowDate, expr4rowDtos + 1}));
  const EXPR4* dropped = parse("DTOC(F_D, F_N5 + 1)");
  ASSERT_NE(dropped, nullptr);
  EXPECT_EQ(rows(dropped), (Rows{expr4rowFieldDate, expr4rowDtos}));
  EXPECT_EQ(dropped->len, 8);

  const EXPR4* stamp = parse("DATETIME(2004,6,16,12,30,15)");
  ASSERT_NE(stamp, nullptr);
  EXPECT_EQ(rows(stamp), (Rows{24, 24, 24, expr4rowDateTime}));
  EXPECT_EQ(last(stamp).parmCount, 3);
  EXPECT_EQ(last(stamp).p1, 45015000);
  EXPECT_EQ(stamp->type, 'T');
  EXPECT_EQ(last(parse("DATETIME(F_N5,6,16)")).p1, 0);
  EXPECT_EQ(last(parse("DATETIME(2004,6,16,9999999999999)")).p1, INT32_MAX);
  expectRefused("DATETIME(2004,6,16,F_N5)", e4constParm, 90097);
  expectRefused("DATETIME(2004,6)", e4numParms, 80022);
}

TEST_F(ExprTest, AscendAndDescendTakeTheKeyWidthOfTheirOperand) {
  const struct {
    const char* text;
    int row, len;
  } cases[] = {
      {"DESCEND(F_L)", expr4rowDescend + 3, 1},   {"DESCEND(F_D)", expr4rowDescend + 2, 8},
      {"DESCEND(F_N5)", expr4rowDescend + 1, 5},  {"DESCEND(F_Y)", expr4rowDescend + 6, 8},
      {"DESCEND(F_4)", expr4rowDescend + 16, 16}, {"ASCEND(F_D)", expr4rowAscend + 4, 8},
      {"ASCEND(F_Q)", expr4rowAscend + 13, 4},    {"ASCEND(F_W)", expr4rowAscend + 1, 20},
      {"ASCEND(F_2)", expr4rowAscend + 15, 6},    {"ASCEND(F_L)", expr4rowAscend + 6, 1},
  };
  for (const auto& test : cases) {
    const EXPR4* e = parse(test.text);
    ASSERT_NE(e, nullptr) << test.text;
    EXPECT_EQ(last(e).row, test.row) << test.text;
    EXPECT_EQ(e->len, test.len) << test.text;
  }
  EXPECT_EQ(parse("DESCEND(F_D)")->steps[0].row, expr4rowDateAsNumber);
  EXPECT_EQ(parse("ASCEND(F_W)")->steps[0].row, expr4rowCopyWide);
}

}  // namespace
