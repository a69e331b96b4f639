// Evaluation: what each function and operator yields on a record of the
// every-type table, and the failures of evaluation itself.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "engine/index/expr4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4record.h"
#include "engine/storage/date4.h"
#include "engine/storage/datetime4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/memo4field.h"
#include "tests/engine/index/expr4_fixture.h"

using namespace testing_support;

namespace {

class EvalTest : public ExprTest {
 protected:
  void SetUp() override {
    ExprTest::SetUp();
    data4blank(every);
    set("F_C", " Ab c");
    set("F_N5", "12");
    set("F_D", "20240131");
    set("F_L", "F");
    ASSERT_EQ(field4assignLong(data4field(every, "F_I"), 21), 0);
  }

  void set(const char* field, const char* value, DATA4* d = nullptr) {
    ASSERT_EQ(field4assign(data4field(d != nullptr ? d : every, field), value), 0) << field;
  }

  // The result bytes of `text` evaluated on the every-type table.
  std::string value(const char* text, DATA4* d = nullptr) {
    EXPR4* e = parse(text, d);
    if (e == nullptr) return "<parse failed>";
    char* result = nullptr;
    const int32_t length = expr4vary(e, &result);
    if (length < 0) return "<evaluation failed>";
    return std::string(result, length);
  }

  double number(const char* text) {
    const std::string bytes = value(text);
    double n = NAN;
    if (bytes.size() == sizeof n) std::memcpy(&n, bytes.data(), sizeof n);
    return n;
  }

  int32_t truth(const char* text) {
    EXPR4* e = parse(text);
    return e == nullptr ? -99 : expr4true(e);
  }
};

using namespace std::string_literals;

TEST_F(EvalTest, TextFunctions) {
  const struct {
    const char* text;
    std::string expected;
  } cases[] = {
      {"F_C", " Ab c     "},
      {"UPPER(F_C)", " AB C     "},
      {"SUBSTR(F_C,2,3)", "Ab "},
      {"LEFT(F_C,3) + RIGHT('xyz',2)", " Abyz"},
      {"TRIM(F_C)", " Ab c\0\0\0\0\0"s},
      {"LTRIM(F_C)", "Ab c     \0"s},
      {"ALLTRIM(F_C)", "Ab c\0\0\0\0\0\0"s},
      {"F_C + 'x'", " Ab c     x"},
      {"F_C - 'x'", " Ab cx     "},
      {"TRIM(F_C) + 'x'", " Ab cx\0\0\0\0\0"s},
      {"'x' + TRIM(F_C) + 'y'", "x Ab cy\0\0\0\0\0"s},
      {"PADL('ab',4) + PADR('ab',4)", "  abab  "},
      {"PADL(TRIM(F_C),8)", "    Ab c"},
      {"PADR(TRIM(F_C),7)", " Ab c  "},
      {"PADL(F_C,3)", " Ab"},  // shorter than its argument: its first bytes
      {"IIF(F_L,'yes','no')", "no "},
      {"IIF(.NOT. F_L,'yes','no')", "yes"},
      {"CHR(65) + CHR(321)", "AA"},
      {"DEL()", " "},
      {"STR(12.5,6,2) + STR(-3)", " 12.50        -3"},
      {"STR(123456,3)", "***"},
      {"STR(F_N5,4)", "  12"},
      {"STRZERO(5,4)", "0005"},
      {"STRZERO(5.5,4)", "05.5"},
      {"STRZERO(0,3)", "000"},
      {"STRZERO(123,2)", "**"},
      {"STRZERO(10^400,5)", "*****"},  // an infinity ends, in '*'
      {"STRZERO(5,20)", "00000000000000000005"},
      {"L2BIN(258)", "\x02\x01\0\0"s},
      {"DTOS(F_D) + DTOC(F_D)", "2024013101/31/24"},
      {"DTOS(F_D + 1)", "20240201"},
      {"DTOS(STOD('2024'))", "        "},  // a short text reads as blanks beyond it
      {"DTOC(F_D, 1)", "20240131"},
      {"ASCEND(F_C)", " Ab c     "},
      {"DESCEND('ABC')", "\xBE\xBD\xBC"},
      {"ASCEND(F_L) + ASCEND(.T.)", "01"},
      {"ASCEND(F_D)", "20240131"},
      {"ASCEND(F_D + 0)", "20240131"},
      {"ASCEND(F_I)", "\x80\0\0\x15"s},
  };
  for (const auto& test : cases) EXPECT_EQ(value(test.text), test.expected) << test.text;
}

TEST_F(EvalTest, NumbersAndDates) {
  const double jan31 = date4long("20240131");
  const struct {
    const char* text;
    double expected;
  } cases[] = {
      {"F_N5 + 2", 14},
      {"F_I * 2 - 1", 41},
      {"7 / 0", 0},
      {"2 ^ 10 + 2 ** 3", 1032},
      {"VAL('  12.5x')", 12.5},
      {"VAL(F_C)", 0},
      {"YEAR(F_D) * 10000 + MONTH(F_D) * 100 + DAY(F_D)", 20240131},
      {"DAY(STOD('20240229'))", 29},
      {"YEAR(STOD('        '))", 0},
      {"F_D - STOD('20240101')", 30},
      {"F_D + 0", jan31},
      {"1 + F_D", jan31 + 1},
      {"F_D - 31", jan31 - 31},
      {"CTOD('01/31/24') - F_D", 0},
      {"RECNO() + PAGENO()", -1},
      {"RECCOUNT()", 0},
  };
  for (const auto& test : cases) EXPECT_EQ(number(test.text), test.expected) << test.text;

  // Arithmetic with a blank date gives 0.
  set("F_D", "");
  for (const char* blank : {"F_D + 1", "1 + F_D", "F_D - 1", "F_D - STOD('20240101')"}) {
    EXPECT_EQ(number(blank), 0) << blank;
  }
  EXPECT_EQ(value("DTOS(F_D)"), "        ");
}

TEST_F(EvalTest, ComparisonsAndLogic) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      // Text compares over the shorter length; ties go by the lengths.
      {"'A' = 'AB'", 1},
      {"'AB' = 'A'", 1},
      {"'A' > 'AB'", 0},
      {"'AB' > 'A'", 1},
      {"'A' < 'AB'", 1},
      {"'AB' < 'A'", 0},
      {"'A' >= 'AB'", 1},
      {"'AB' >= 'A'", 1},
      {"'AB' <= 'A'", 1},
      {"'A' # 'B'", 1},
      {"'b' > 'B'", 1},
      {"'\xE9' > 'z'", 1},  // unsigned bytes
      {"'b' $ F_C", 1},
      {"'bc' $ F_C", 0},
      {"'' $ 'abc'", 1},
      {"F_C $ 'x'", 0},
      // Numbers by value: 0 and -0 are equal.
      {"0 = -0", 1},
      {"0 # -0", 0},
      {"0 <> -0.0", 0},
      {"1.5 >= 1.5", 1},
      {"2 < 1", 0},
      {"F_N5 = 12", 1},
      {"F_D = STOD('20240131')", 1},
      {"F_D > STOD('20240130')", 1},
      {"F_L = .F.", 1},
      {"F_L # .T.", 1},
      {".T. .AND. .T. .AND. .F.", 0},
      {".F. .OR. .F. .OR. .T.", 1},
      {".NOT. F_L", 1},
      {"!(1 > 2) .AND. .T.", 1},
      {"DELETED()", 0},
  };
  for (const auto& test : cases) EXPECT_EQ(truth(test.text), test.expected) << test.text;
}

TEST_F(EvalTest, CurrencyAndDateTimeCompareByValue) {
  const FIELD4INFO fields[] = {{"Y1", 'Y', 8, 4, 0},
                               {"Y2", 'Y', 8, 4, 0},
                               {"T1", 'T', 8, 0, 0},
                               {"T2", 'T', 8, 0, 0},
                               {nullptr, 0, 0, 0, 0}};
  DATA4* pairs = data4create(&c, "pairs", fields, nullptr);
  ASSERT_NE(pairs, nullptr);
  data4blank(pairs);
  ASSERT_EQ(field4assignCurrency(data4field(pairs, "Y1"), "-1.5"), 0);
  ASSERT_EQ(field4assignCurrency(data4field(pairs, "Y2"), "2"), 0);
  const int32_t jan31 = date4long("20240131");
  const int32_t noonHalf = 12 * 3600000 + 30 * 60000 + 15000;
  auto* t1 = reinterpret_cast<unsigned char*>(pairs->record + data4field(pairs, "T1")->offset);
  auto* t2 = reinterpret_cast<unsigned char*>(pairs->record + data4field(pairs, "T2")->offset);
  datetime4store(t1, DATETIME4{jan31, noonHalf});
  datetime4store(t2, DATETIME4{jan31, noonHalf + 1});
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"Y1 # Y2", 1},
      {"Y2 # Y1", 1},
      {"Y1 < Y2", 1},
      {"Y1 = Y1", 1},
      {"Y2 <= Y1", 0},
      {"T1 # T2", 1},
      {"T2 # T1", 1},
      {"T1 < T2", 1},
      {"T2 >= T1", 1},
      {"T1 = T1", 1},
      {"Y1 + 1 = -0.5", 1},  // currency as a double, through its text
      {"DATETIME(2024,1,31,12,30,15) = T1", 1},
      {"DATETIME(2024,1,31) < T1", 1},
  };
  for (const auto& test : cases) {
    EXPR4* e = parse(test.text, pairs);
    ASSERT_NE(e, nullptr) << test.text;
    EXPECT_EQ(expr4true(e), test.expected) << test.text;
  }
}

TEST_F(EvalTest, UpperFollowsWindowsAnsiOnlyForSuchTables) {
  set("F_C", "\xE9t\xE9 \xFF\x9A\xDF");
  EXPECT_EQ(value("UPPER(F_C)"), "\xE9T\xE9 \xFF\x9A\xDF   ");
  c.codePage = 3;
  const FIELD4INFO fields[] = {{"T", 'C', 8, 0, 0}, {nullptr, 0, 0, 0, 0}};
  DATA4* ansi = data4create(&c, "ansi", fields, nullptr);
  ASSERT_NE(ansi, nullptr);
  data4blank(ansi);
  set("T", "\xE9t\xE9 \xFF\x9A\xDF", ansi);
  EXPECT_EQ(value("UPPER(T)", ansi), "\xC9T\xC9 \x9F\x8A\xDF ");
}

TEST_F(EvalTest, StrOfWideTextReadsOnlyTheField) {
  // "A", e-acute, the euro sign (no OEM 850 form) in a 20-byte field of
  // ten characters, zero filled; STR gives ten bytes, then blanks.
  const unsigned char wide[] = {'A', 0, 0xE9, 0, 0xAC, 0x20};
  FIELD4* w = data4field(every, "F_W");
  std::memset(every->record + w->offset, 0, w->length);
  std::memcpy(every->record + w->offset, wide, sizeof wide);
  // The field after it must not show through.
  std::memset(every->record + data4field(every, "F_O")->offset, 'Z', 18);
  EXPECT_EQ(value("STR(F_W)"), "A\x82?\0\0\0\0\0\0\0          "s);
}

TEST_F(EvalTest, ShortFieldsAreWidenedByTheirStoredWidth) {
  // Q -2 and R 65535, with a neighbour that the 16-bit values must not
  // take in.
  const unsigned char q[] = {0xFE, 0xFF}, r[] = {0xFF, 0xFF};
  std::memcpy(every->record + data4field(every, "F_Q")->offset, q, 2);
  std::memcpy(every->record + data4field(every, "F_R")->offset, r, 2);
  std::memset(every->record + data4field(every, "F_1")->offset, 0x55, 8);
  EXPECT_EQ(value("ASCEND(F_Q)"), "\x7F\xFF\xFF\xFE");
  EXPECT_EQ(value("DESCEND(F_R)"), "\xFF\xFF\0\0"s);
}

TEST_F(EvalTest, AFieldNarrowerThanItsTypeIsReadWithinItself) {
  // A damaged table: a 3-byte field that says it is a 32-bit integer, with
  // a neighbour of 'Z' bytes that the value must not take in.
  const FIELD4INFO fields[] = {{"A", 'C', 3, 0, 0}, {"Z", 'C', 8, 0, 0}, {nullptr, 0, 0, 0, 0}};
  ASSERT_EQ(data4close(data4create(&c, "narrow", fields, nullptr)), 0);
  {
    std::fstream file("narrow.dbf", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(32 + 11);
    file.put('I');
  }
  DATA4* narrow = data4open(&c, "narrow");
  ASSERT_NE(narrow, nullptr);
  data4blank(narrow);
  std::memcpy(narrow->record + 1, "\x01\x02\x03ZZZZZZZZ", 11);
  EXPECT_EQ(value("ASCEND(A)", narrow), "\x80\x03\x02\x01");
  EXPECT_EQ(value("STR(A * 2, 7)", narrow), " 394242");
}

TEST_F(EvalTest, EvaluationFailures) {
  EXPECT_EQ(expr4vary(nullptr, nullptr), e4parmNull);
  EXPECT_EQ(lastError().location, 90104);
  EXPECT_EQ(lastError().c, nullptr);
  EXPR4* e = parse("F_C");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4vary(e, nullptr), e4parmNull);
  clearError();

  // Only logical expressions are true or false.
  EXPECT_EQ(expr4true(e), e4result);
  EXPECT_EQ(lastError().location, 80021);
  EXPECT_EQ(lastError().text1, "F_C");
  // While an error is pending nothing is evaluated.
  char* result = nullptr;
  EXPECT_EQ(expr4vary(e, &result), -1);
  clearError();
  EXPECT_EQ(expr4vary(e, &result), 10);
  EXPECT_STREQ(expr4source(e), "F_C");
  EXPECT_STREQ(expr4source(nullptr), "");
  EXPECT_EQ(expr4keyFlag(e), 0);
}

TEST_F(EvalTest, AFieldOfAClosedAliasFailsTheEvaluation) {
  const FIELD4INFO fields[] = {{"K", 'C', 4, 0, 0}, {nullptr, 0, 0, 0, 0}};
  DATA4* other = data4create(&c, "other", fields, nullptr);
  ASSERT_NE(other, nullptr);
  data4blank(other);
  set("K", "wxyz", other);
  EXPR4* e = parse("OTHER->K + F_C");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(value("OTHER->K + F_C"), "wxyz Ab c     ");
  ASSERT_EQ(data4close(other), 0);
  char* result = nullptr;
  EXPECT_EQ(expr4vary(e, &result), e4parm);
  EXPECT_EQ(lastError().location, 90104);
  clearError();
}

// Evaluations of one expression from several threads take turns: each
// sees its own complete result, never another's half-written work area.
TEST_F(EvalTest, EvaluationsOfSeveralThreadsTakeTurns) {
  EXPR4* e = parse("UPPER(F_C) + STR(F_N5,4) = ' AB C       12' .AND. TRIM(F_C) + 'x' = ' Ab cx'");
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(expr4true(e), 1);
  int failures[4] = {};
  std::thread threads[4];
  for (int t = 0; t < 4; t++) {
    threads[t] = std::thread([e, &failures, t] {
      for (int i = 0; i < 2000; i++) failures[t] += expr4true(e) == 1 ? 0 : 1;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : failures) EXPECT_EQ(count, 0);
}

}  // namespace
