// Parsing: the catalogue's key expressions, the grammar, the refusals with
// their codes and locations, and the reporting switches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/storage/code4.h"
#include "tests/engine/index/expr4_fixture.h"

using namespace testing_support;

namespace {

using Rows = std::vector<int>;

TEST_F(ExprTest, CatalogueKeysOfDbfiles) {
  const EXPR4* supPat = parse("STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))", files, fakeTag());
  ASSERT_NE(supPat, nullptr);
  EXPECT_EQ(supPat->type, 'C');
  EXPECT_EQ(supPat->len, 55);
  // The number is read as a double for STR; the path is copied before
  // SUBSTR cuts it in place; the two texts end up side by side.
  EXPECT_EQ(rows(supPat), (Rows{expr4rowNumberAsDouble, expr4rowStr, expr4rowCopyText,
                                expr4rowSubstr, expr4rowUpper, expr4rowConcat}));
  const EXPR4INFO* s = supPat->steps;
  EXPECT_EQ(s[1].len, 5);
  EXPECT_EQ(s[1].p1, 0);  // decimals
  EXPECT_EQ(s[2].resultPos, 5);
  EXPECT_EQ(s[3].p1, 0);
  EXPECT_EQ(s[3].len, 50);
  EXPECT_EQ(s[5].p1, 5);
  EXPECT_EQ(s[5].entryCount, 6);
  EXPECT_EQ(s[4].entryCount, 3);
  EXPECT_EQ(supPat->workLen, 255);  // the copied path, 250 bytes at 5
  EXPECT_EQ(supPat->varLength, 0);
  EXPECT_EQ(s[0].ref.record, &supPat->tagRecord);
  EXPECT_EQ(supPat->tagRecord, files->record);
  EXPECT_EQ(s[0].p1, 1 + 16 + 250 + 10 + 250);  // F_SUPPID's offset in the record
  EXPECT_EQ(supPat->keyBufferNeed, 250 + 2);    // the copied path is the longest value

  const EXPR4* name = parse("UPPER(SUBSTR(F_NAME,1,60))", files, fakeTag());
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(rows(name), (Rows{expr4rowCopyText, expr4rowSubstr, expr4rowUpper}));
  EXPECT_EQ(name->len, 60);

  const struct {
    const char* text;
    int row, type, len;
  } bareFields[] = {
      {"F_ID", expr4rowFieldNumber, 'N', 16},
      {"F_SUPPID", expr4rowFieldNumber, 'N', 10},
  };
  for (const auto& key : bareFields) {
    const EXPR4* e = parse(key.text, files, fakeTag());
    ASSERT_NE(e, nullptr) << key.text;
    EXPECT_EQ(rows(e), Rows{key.row});
    EXPECT_EQ(e->type, key.type);
    EXPECT_EQ(e->len, key.len);
  }
}

TEST_F(ExprTest, CatalogueKeysOfDbsupportAndDbid) {
  DATA4* support = data4create(&c, "DBSUPPORT", kSupportFields, nullptr);
  DATA4* ids = data4create(&c, "DBID", kIdFields, nullptr);
  ASSERT_NE(support, nullptr);
  ASSERT_NE(ids, nullptr);
  const EXPR4* id = parse("S_ID", support, fakeTag());
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(rows(id), Rows{expr4rowFieldNumber});
  EXPECT_EQ(id->len, 10);
  const EXPR4* table = parse("TBLNAME", ids, fakeTag());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(rows(table), Rows{expr4rowFieldText});  // read in place, never copied
  EXPECT_EQ(table->type, 'C');
  EXPECT_EQ(table->len, 200);
}

TEST_F(ExprTest, NamesAndWordsIgnoreCase) {
  const EXPR4* lower = parse("upper(substr(f_name,1,60))", files);
  const EXPR4* upper = parse("UPPER(SUBSTR(F_NAME,1,60))", files);
  ASSERT_NE(lower, nullptr);
  ASSERT_NE(upper, nullptr);
  EXPECT_EQ(rows(lower), rows(upper));
  EXPECT_EQ(lower->len, 60);
  ASSERT_NE(parse("f_l .and. .t. .Or. .NoT. f_l"), nullptr);
}

TEST_F(ExprTest, LogicalOperatorsGroup) {
  const EXPR4* chain = parse("F_L .AND. F_L .AND. F_L");
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(rows(chain),
            (Rows{expr4rowFieldLogical, expr4rowFieldLogical, expr4rowFieldLogical, expr4rowAnd}));
  EXPECT_EQ(last(chain).parmCount, 3);
  EXPECT_EQ(last(chain).entryCount, 4);

  // (A .AND. B) .OR. C, and A .OR. (B .AND. C .AND. D).
  const EXPR4* mixed = parse("F_L .AND. F_L .OR. F_L");
  ASSERT_NE(mixed, nullptr);
  EXPECT_EQ(rows(mixed), (Rows{5, 5, expr4rowAnd, 5, expr4rowOr}));
  const EXPR4* nested = parse("F_L .OR. F_L .AND. F_L .AND. F_L");
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(rows(nested), (Rows{5, 5, 5, 5, expr4rowAnd, expr4rowOr}));
  EXPECT_EQ(nested->steps[4].parmCount, 3);
  EXPECT_EQ(nested->steps[5].parmCount, 2);

  // A negation takes in the comparison after its operand.
  const EXPR4* negated = parse(".NOT. F_C = 'a' .AND. !F_L");
  ASSERT_NE(negated, nullptr);
  EXPECT_EQ(rows(negated), (Rows{expr4rowFieldText, expr4rowText, expr4rowEqual, expr4rowNot,
                                 expr4rowFieldLogical, 31, expr4rowAnd}));

  // Twenty operands are as many values as the evaluator holds at once.
  std::string twenty = "F_L", twentyOne;
  for (int i = 1; i < 20; i++) twenty += ".AND.F_L";
  ASSERT_NE(parse(twenty.c_str()), nullptr);
  EXPECT_EQ(last(parsed.back()).parmCount, 20);
  twentyOne = twenty + ".AND.F_L";
  expectRefused(twentyOne.c_str(), e4overflow, 90089);
}

TEST_F(ExprTest, NumbersAndSigns) {
  // "1.5.AND." is the number 1.5 and then the operator; "1.2.3" one number.
  const EXPR4* e = parse("1.5=1.2.3.AND.F_L");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(rows(e), (Rows{expr4rowNumber, expr4rowNumber, 66, expr4rowFieldLogical, expr4rowAnd}));
  EXPECT_EQ(numberAt(e, e->steps[0].p1), 1.5);
  EXPECT_EQ(numberAt(e, e->steps[1].p1), 1.2);

  const EXPR4* signs = parse("-5 + +7 - .5");
  ASSERT_NE(signs, nullptr);
  EXPECT_EQ(numberAt(signs, signs->steps[0].p1), -5.0);
  EXPECT_EQ(numberAt(signs, signs->steps[1].p1), 7.0);
  EXPECT_EQ(numberAt(signs, signs->steps[3].p1), 0.5);
  EXPECT_EQ(rows(signs), (Rows{24, 24, expr4rowAdd, 24, expr4rowSubtract}));

  const EXPR4* difference = parse("F_N5-5");
  ASSERT_NE(difference, nullptr);
  EXPECT_EQ(rows(difference), (Rows{expr4rowNumberAsDouble, 24, expr4rowSubtract}));

  expectRefused("-F_N5", e4unrecValue, 90098);  // no sign before a field
  expectRefused("2.F_L", e4unrecOperator, 90093);
  expectRefused("12AB", e4fieldName, 90299);  // a name, looked up as a field
}

TEST_F(ExprTest, TextConstantsAndWhereParsingStops) {
  const EXPR4* empty = parse("''");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->type, 'C');
  EXPECT_EQ(empty->len, 0);

  const EXPR4* quoted = parse("\"it's\" + [say \"hi\"] + 'x'");
  ASSERT_NE(quoted, nullptr);
  EXPECT_EQ(quoted->len, 4 + 8 + 1);
  EXPECT_EQ(std::string(quoted->constants, 13), "it'ssay \"hi\"x");
  EXPECT_EQ(quoted->steps[1].resultPos, 4);

  const EXPR4* cut = parse("F_C)F_N5 garbage");
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(rows(cut), Rows{expr4rowFieldText});
  EXPECT_STREQ(cut->text, "F_C)F_N5 garbage");
}

TEST_F(ExprTest, RefusalsCarryTheirCodeAndLocation) {
  const struct {
    const char* text;
    int32_t code, location;
  } cases[] = {
      {"", e4unrecValue, 90098},
      {"F_C + ", e4unrecValue, 90098},
      {"(F_N5", e4rightMissing, 90098},
      {"STR(F_N5,5", e4rightMissing, 90097},
      {"'abc", e4unterminated, 90098},
      {"[abc'", e4unterminated, 90098},
      {"NOPE->F_C", e4dataName, 90098},
      {"SUBSTR(F_C,F_N5,3)", e4constParm, 90097},
      {"LEFT(F_C,2+1)", e4constParm, 90097},
      {"SUBSTR(F_C)", e4numParms, 80022},
      {"DATE(1)", e4numParms, 80022},
      {"UPPER(F_C,F_C)", e4numParms, 80022},
      {"F_C + F_N5", e4typeSub, 90089},
      {"UPPER(F_N5)", e4typeSub, 90089},
      {"STR(F_O)", e4typeSub, 90089},
      {"F_Z", e4typeSub, 80017},
      {"F_X", e4typeSub, 80017},
      {"F_5", e4typeSub, 80017},
      {"F_V", e4typeSub, 80017},
      {"FOO(1)", e4unrecFunction, 90097},
      {"SUBSTRING(F_C,1)", e4unrecFunction, 90097},
      {"F_C ? F_C", e4unrecOperator, 90093},
      {"F_C ! F_C", e4unrecOperator, 90093},
      {"ABCDEFGHIJK", e4unrecValue, 90098},
      {"NOPE", e4fieldName, 90299},
  };
  for (const auto& test : cases) expectRefused(test.text, test.code, test.location);
}

TEST_F(ExprTest, DeepNestingRunsOutOfOperatorStack) {
  std::string parens(32, '(');
  ASSERT_NE(parse((parens + "F_L" + std::string(32, ')')).c_str()), nullptr);
  expectRefused((parens + "(F_L" + std::string(33, ')')).c_str(), e4memory, 90099);
  std::string negations(32, '!');
  ASSERT_NE(parse((negations + "F_L").c_str()), nullptr);
  expectRefused(std::string(100000, '!').c_str(), e4memory, 90099);
  expectRefused((std::string(5000, '(') + "F_L").c_str(), e4memory, 90099);
}

TEST_F(ExprTest, ReportingFollowsTheSettings) {
  c.errExpr = 0;
  recorder.clear();
  EXPECT_EQ(parse("F_C +"), nullptr);
  EXPECT_EQ(parse("NOPE"), nullptr);
  EXPECT_TRUE(recorder.errors().empty());
  EXPECT_EQ(error4code(&c), 0);
  // A tag expression naming another table is raised all the same.
  expectRefused("DBFILES->F_ID", e4tagExpr, 80025, every, fakeTag());

  c.errExpr = 1;
  c.errFieldName = 0;
  expectRefused("NOPE", e4fieldName, 90098);

  recorder.clear();
  error4set(&c, e4memory);
  EXPECT_EQ(parse("F_C"), nullptr);
  EXPECT_TRUE(recorder.errors().empty());
  clearError();

  EXPECT_EQ(expr4parseLow(every, nullptr, nullptr), nullptr);
  EXPECT_EQ(lastError().code, e4parmNull);
  EXPECT_EQ(lastError().location, 90092);
  EXPECT_EQ(lastError().c, nullptr);
  EXPECT_EQ(expr4parseLow(nullptr, "F_C", nullptr), nullptr);
  EXPECT_EQ(lastError().code, e4parmNull);
}

TEST_F(ExprTest, AliasesNameOtherOpenTables) {
  for (const char* text : {"DBFILES->F_ID", "dbfiles -> f_id", "DBFILES.F_ID"}) {
    const EXPR4* e = parse(text);
    ASSERT_NE(e, nullptr) << text;
    EXPECT_EQ(e->steps[0].field, data4field(files, "F_ID"));
    EXPECT_EQ(e->steps[0].fieldNumber, 1);
    EXPECT_EQ(e->steps[0].sameData, 0);
    EXPECT_EQ(e->steps[0].ref.record, &files->record);
  }
  // Without such an alias the '.' stays for the operator.
  const EXPR4* own = parse("F_L.AND.every.F_L");
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->steps[1].sameData, 1);
  EXPECT_EQ(own->steps[1].ref.record, &every->record);

  const EXPR4* tagged = parse("every->F_C + F_C", every, fakeTag());
  ASSERT_NE(tagged, nullptr);
  EXPECT_EQ(tagged->steps[0].ref.record, &tagged->tagRecord);
  expectRefused("F_C + DBFILES->F_NAME", e4tagExpr, 80025, every, fakeTag());
}

TEST_F(ExprTest, RecordFunctionsKeepTheirReferences) {
  const EXPR4* e = parse("DEL() + IIF(DELETED(), 'a', 'b') + STR(RECCOUNT() + RECNO())");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->steps[0].ref.record, &every->record);
  EXPECT_EQ(e->steps[1].ref.record, &every->record);
  EXPECT_EQ(e->steps[6].ref.dataFile, every->dataFile);
  EXPECT_EQ(e->len, 1 + 1 + 10);

  const EXPR4* tagged = parse("DELETED()", every, fakeTag());
  ASSERT_NE(tagged, nullptr);
  EXPECT_EQ(tagged->steps[0].ref.record, &tagged->tagRecord);
}

}  // namespace
