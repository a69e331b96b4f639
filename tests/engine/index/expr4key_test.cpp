// Keys built from expressions: the catalogue's tags byte for byte, the null
// prefix, collations, memo text, and binding to the handle that builds the
// key.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/index/expr4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"
#include "engine/storage/memo4field.h"
#include "tests/engine/index/expr4_fixture.h"

using namespace testing_support;
using namespace std::string_literals;

namespace {

class KeyTest : public ExprTest {
 protected:
  // The key of `e` for `tag`, or a marker with the failure's code.
  static std::string key(EXPR4* e, TAG4FILE* tag) {
    char* bytes = nullptr;
    const int32_t length = expr4key(e, &bytes, tag);
    if (length < 0) return "<failed " + std::to_string(length) + ">";
    EXPECT_EQ(bytes[length], '\0');
    return std::string(bytes, length);
  }

  static void set(DATA4* d, const char* field, const char* value) {
    ASSERT_EQ(field4assign(data4field(d, field), value), 0) << field;
  }

  static void append(DATA4* d, const char* field, const char* value) {
    ASSERT_EQ(data4appendStart(d, 0), 0);
    ASSERT_EQ(data4blank(d), 0);
    set(d, field, value);
    ASSERT_EQ(data4append(d), 0);
  }

  TAG4FILE tag;  // machine order, no options
};

TEST_F(KeyTest, CatalogueTagsByteForByte) {
  DATA4* support = data4create(&c, "DBSUPPORT", kSupportFields, nullptr);
  DATA4* ids = data4create(&c, "DBID", kIdFields, nullptr);
  ASSERT_NE(support, nullptr);
  ASSERT_NE(ids, nullptr);
  data4blank(files);
  ASSERT_EQ(field4assignLong(data4field(files, "F_ID"), 1234), 0);
  ASSERT_EQ(field4assignLong(data4field(files, "F_SUPPID"), 12), 0);
  set(files, "F_PATH", "\\dir");
  set(files, "F_NAME", "abc.txt");
  data4blank(support);
  ASSERT_EQ(field4assignLong(data4field(support, "S_ID"), 7), 0);
  data4blank(ids);
  set(ids, "TBLNAME", "DBFILES");

  const struct {
    DATA4* table;
    const char* expression;
    std::string expected;
  } tags[] = {
      {files, "F_ID", "\xC0\x93\x48\0\0\0\0\0"s},  // 1234.0 = 0x4093480000000000
      {files, "F_SUPPID", "\xC0\x28\0\0\0\0\0\0"s},
      {files, "STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))", "   12\\DIR" + std::string(46, ' ')},
      {files, "UPPER(SUBSTR(F_NAME,1,60))", "ABC.TXT" + std::string(53, ' ')},
      {support, "S_ID", "\xC0\x1C\0\0\0\0\0\0"s},
      {ids, "TBLNAME", "DBFILES" + std::string(193, ' ')},
  };
  for (const auto& t : tags) {
    EXPR4* e = parse(t.expression, t.table, &tag);
    ASSERT_NE(e, nullptr) << t.expression;
    EXPECT_EQ(key(e, &tag), t.expected) << t.expression;
    EXPECT_EQ(expr4keyLen(e), static_cast<int32_t>(t.expected.size())) << t.expression;
    EXPECT_EQ(expr4nullLow(e, 0), 0);
  }
}

TEST_F(KeyTest, KeysOfEachValueType) {
  data4blank(every);
  set(every, "F_C", " Ab c");
  set(every, "F_L", "T");
  set(every, "F_D", "20240131");
  const unsigned char wide[] = {'A', 0, 0x01, 0x20};
  std::memcpy(every->record + data4field(every, "F_W")->offset, wide, sizeof wide);
  const struct {
    const char* expression;
    std::string expected;
  } cases[] = {
      {"F_L", "T"},
      {".NOT. F_L", "F"},
      {"ASCEND(F_L)", "1"},  // ASCEND's own logical form
      {"DESCEND('ABC')", "\xBE\xBD\xBC"},
      {"TRIM(F_C) + 'x'", " Ab cx     "},      // zero padding becomes blanks
      {"F_D", "\xC1\x42\xC5\x5A\x80\0\0\0"s},  // day 2460341 as a double key
      {"STOD('20240131')", "\xC1\x42\xC5\x5A\x80\0\0\0"s},
      {"-1", "\x40\x0F\xFF\xFF\xFF\xFF\xFF\xFF"},
      {"SUBSTR(F_W,1,4)", ""},  // not text of type C: refused by the parser
  };
  for (const auto& test : cases) {
    EXPR4* e = parse(test.expression, every, &tag);
    if (test.expected.empty()) {
      EXPECT_EQ(e, nullptr);
      clearError();
      continue;
    }
    ASSERT_NE(e, nullptr) << test.expression;
    EXPECT_EQ(key(e, &tag), test.expected) << test.expression;
  }
  // Wide text in machine order: every character high byte first.
  EXPR4* w = parse("F_W", every, &tag);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(key(w, &tag).substr(0, 4), "\0A\x20\x01"s);
}

TEST_F(KeyTest, NullableFieldsPrefixTheKey) {
  c.compatibility = 30;
  const FIELD4INFO fields[] = {{"N", 'N', 10, 0, field4nullable}, {nullptr, 0, 0, 0, 0}};
  DATA4* d = data4create(&c, "nulls", fields, nullptr);
  ASSERT_NE(d, nullptr);
  data4blank(d);
  ASSERT_EQ(field4assignLong(data4field(d, "N"), 0), 0);
  EXPR4* e = parse("N", d, &tag);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4nullLow(e, 0), 1);
  EXPECT_EQ(expr4nullLow(e, 1), 0);
  EXPECT_EQ(expr4keyLen(e), 9);
  EXPECT_EQ(key(e, &tag), "\x80\x80\0\0\0\0\0\0\0"s);

  FIELD4* n = data4field(d, "N");
  d->record[d->nullFlags->offset + n->nullByte] |= static_cast<char>(n->nullMask);
  EXPECT_EQ(expr4nullLow(e, 1), 1);
  EXPECT_EQ(key(e, &tag), std::string(9, '\0'));

  // A tag that refuses null keys carries no prefix.
  TAG4FILE noNulls;
  noNulls.header.options = 0x04;
  EXPR4* strict = parse("N", d, &noNulls);
  ASSERT_NE(strict, nullptr);
  EXPECT_EQ(expr4nullLow(strict, 0), 0);
  EXPECT_EQ(expr4keyLen(strict), 8);
}

TEST_F(KeyTest, TextUnderTheGeneralCollation) {
  TAG4FILE general;
  std::memcpy(general.header.collation, "GENERAL", 7);
  data4blank(every);
  set(every, "F_C", "abc");
  EXPR4* e = parse("UPPER(F_C)", every, &general);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4keyLen(e), 20);
  // Weights of A, B and C, then the sub-sorts of A and C, zero filled; the
  // trailing blanks are not converted.
  EXPECT_EQ(key(e, &general), "\x60\x61\x62" + std::string(17, '\0'));
  // Zero padding is blanked first, so it collates as the blanks it stands for.
  EXPR4* trimmed = parse("TRIM(F_C)", every, &general);
  ASSERT_NE(trimmed, nullptr);
  EXPECT_EQ(key(trimmed, &general), key(e, &general));
  // Numbers keep their double key under a collation.
  EXPR4* number = parse("F_N5", every, &general);
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(expr4keyLen(number), 8);
}

TEST_F(KeyTest, AMemoThatCannotBeReadFailsTheKey) {
  append(every, "F_C", "x");
  ASSERT_EQ(field4memoAssignN(data4field(every, "F_M"), "hello", 5), 0);
  ASSERT_EQ(data4flush(every), 0);
  ASSERT_EQ(data4go(every, 1), 0);
  EXPR4* e = parse("F_M", every, &tag);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->len, 240);
  EXPECT_EQ(key(e, &tag), "hello" + std::string(235, ' '));

  // The block number now leads past the memo file. Even when the error hook
  // clears the error, as the program's does, no key is made of what the
  // work area held.
  FIELD4* memo = data4field(every, "F_M");
  memo4setBlock(memo, every->record, 99999);
  field4memoReset(memo);
  ErrorRecorder clearing(true);
  EXPECT_EQ(key(e, &tag), "<failed -1>");
  EXPECT_EQ(error4code(&c), 0);
  data4changed(every, 0);
}

TEST_F(KeyTest, EachHandleBuildsKeysFromItsOwnRecord) {
  append(files, "F_NAME", "one.txt");
  append(files, "F_NAME", "two.txt");
  c.singleOpen = 0;
  DATA4* second = data4open(&c, "DBFILES");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(data4go(files, 1), 0);
  ASSERT_EQ(data4go(second, 2), 0);
  EXPR4* e = parse("UPPER(SUBSTR(F_NAME,1,7))", files, &tag);
  EXPR4* plain = parse("F_NAME", files);
  ASSERT_NE(e, nullptr);
  ASSERT_NE(plain, nullptr);

  EXPECT_EQ(key(e, &tag), "ONE.TXT");
  ASSERT_EQ(expr4context(e, second), 0);
  EXPECT_EQ(key(e, &tag), "TWO.TXT");
  ASSERT_EQ(expr4context(plain, second), 0);
  EXPECT_EQ(key(plain, nullptr).substr(0, 7), "two.txt");
  ASSERT_EQ(expr4context(e, files), 0);
  EXPECT_EQ(key(e, &tag), "ONE.TXT");

  // The old key comes from the old-record buffer, the new from the record.
  set(files, "F_NAME", "new.txt");
  ASSERT_EQ(data4readOld(files, 1), 0);
  ASSERT_EQ(expr4contextOld(e, files), 0);
  EXPECT_EQ(key(e, &tag), "ONE.TXT");
  ASSERT_EQ(expr4context(e, files), 0);
  EXPECT_EQ(key(e, &tag), "NEW.TXT");
  data4changed(files, 0);

  // A tag expression left bound to a handle that closes reads an open one;
  // a closed handle is never bound again.
  ASSERT_EQ(expr4context(e, second), 0);
  ASSERT_EQ(data4close(second), 0);
  EXPECT_EQ(key(e, &tag), "NEW.TXT");
  EXPECT_EQ(expr4context(e, second), e4parm);
  EXPECT_EQ(lastError().location, 90102);
  clearError();
  EXPECT_EQ(key(plain, nullptr), "<failed -930>");  // bound to the closed handle
  clearError();
}

TEST_F(KeyTest, Refusals) {
  EXPECT_EQ(expr4key(nullptr, nullptr, nullptr), e4parmNull);
  EXPECT_EQ(lastError().location, 90101);
  EXPR4* e = parse("F_C", every, &tag);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4key(e, nullptr, &tag), e4parmNull);
  char* bytes = nullptr;
  EXPECT_EQ(expr4key(e, &bytes, &tag), -1);  // the error is still pending
  clearError();
  EXPECT_EQ(expr4key(e, &bytes, &tag), 10);
}

}  // namespace
