// Field values by type: numbers, currency and date-time read from and
// written into the record buffer, and what other tools read of them.
#include "engine/storage/field4value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "tests/support/disk_file.h"
#include "tests/support/field_table.h"

using namespace testing_support;

namespace {

class FieldValueTest : public FieldTableTest {};

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();

struct Reading {
  const char* field;
  std::string bytes;
  double asDouble;
  int32_t asLong;
  int32_t asInt;
};

TEST_F(FieldValueTest, EveryNumericGetterByType) {
  const Reading cases[] = {
      {"AMOUNT", "   42", 42, 42, 42},
      {"AMOUNT", "00042", 42, 42, 42},
      {"AMOUNT", "     ", 0, 0, 0},
      {"AMOUNT", "*****", 0, 0, 0},
      {"PRICE", "  -12.75", -12.75, -12, -12},
      {"RATE", "    12345.6789000000", 12345.6789, 12345, 12345},
      {"NAME", "12abc     ", 12, 12, 12},
      {"COUNT", le32(-5), -5, -5, -5},
      {"PCOUNT", le32(kMin32), kMin32, kMin32, kMin32},
      {"SMALL", le16(-2), -2, -2, -2},
      {"USMALL", le16(65535), 65535, 65535, -1},  // unsigned as a long, signed as an int
      {"RATIO", doubleBytes(2.75), 2.75, 2, 2},
      {"RATIO", doubleBytes(-2.75), -2.75, -2, -2},
      {"RATIO", doubleBytes(1e20), 1e20, kMax32, kMax32},  // saturated, not undefined
      {"RATIO", doubleBytes(-1e20), -1e20, kMin32, kMin32},
      {"COST", le64(-15000), -1.5, -1, -1},
      {"COST", le64(kMin64), -922337203685477.5808, kMin32, kMin32},
  };
  for (const Reading& r : cases) {
    SCOPED_TRACE(std::string(r.field) + " holding '" + r.bytes + "'");
    put(r.field, r.bytes);
    FIELD4* f = field(r.field);
    EXPECT_DOUBLE_EQ(field4double(f), r.asDouble);
    EXPECT_EQ(field4long(f), r.asLong);
    EXPECT_EQ(field4int(f), r.asInt);
  }
  EXPECT_TRUE(recorder.errors().empty());
  EXPECT_EQ(d->recordChanged, 0);
}

TEST_F(FieldValueTest, DatesReadAsDayNumbers) {
  const struct {
    std::string text;
    int32_t day;
  } cases[] = {{"20040616", 2453173}, {"00000000", 0}, {"        ", 0}, {"2004O616", -1}};
  for (const auto& [text, day] : cases) {
    put("DAY", text);
    EXPECT_EQ(field4long(field("DAY")), day) << text;
    EXPECT_EQ(field4double(field("DAY")), day) << text;
  }
}

TEST_F(FieldValueTest, BinaryMemoBlockNumbersReadAsIntegers) {
  put("NOTE", le32(7));
  EXPECT_EQ(field4long(field("NOTE")), 7);
  EXPECT_EQ(field4double(field("NOTE")), 7.0);
  put("BLOB", le32(9));
  EXPECT_EQ(field4long(field("BLOB")), 9);
}

TEST_F(FieldValueTest, NanInABinaryDoubleReadsAsZeroInteger) {
  put("RATIO", doubleBytes(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_TRUE(std::isnan(field4double(field("RATIO"))));
  EXPECT_EQ(field4long(field("RATIO")), 0);
  EXPECT_EQ(field4int(field("RATIO")), 0);
}

enum class Op { assignDouble, assignLong, assignInt };

struct Writing {
  const char* field;
  Op op;
  double value;
  std::string bytes;
  int32_t result;
};

TEST_F(FieldValueTest, EveryNumericSetterByType) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Writing cases[] = {
      {"AMOUNT", Op::assignDouble, 42.4, "   42", 0},
      {"AMOUNT", Op::assignDouble, 123456.7, "*****", e4overflow},  // the stars stay
      {"PRICE", Op::assignDouble, 3.14159, "    3.14", 0},
      {"PRICE", Op::assignDouble, -0.125, "   -0.13", 0},
      {"RATE", Op::assignDouble, 0.5, "        0.5000000000", 0},
      {"NAME", Op::assignDouble, 12.5, "        13", 0},
      {"DAY", Op::assignDouble, 2453173.9, "20040616", 0},
      {"DAY", Op::assignDouble, 0.5, "        ", 0},
      {"DAY", Op::assignDouble, 1e12, "        ", 0},
      {"COUNT", Op::assignDouble, -3.9, le32(-3), 0},
      {"COUNT", Op::assignDouble, 1e12, le32(kMax32), 0},
      {"COUNT", Op::assignDouble, nan, le32(0), 0},
      {"RATIO", Op::assignDouble, 2.75, doubleBytes(2.75), 0},
      {"COST", Op::assignDouble, -1.5, le64(-15000), 0},
      {"COST", Op::assignDouble, 0.00005, le64(1), 0},
      // 21 characters: beyond the 20 of a plain number text.
      {"COST", Op::assignDouble, -922337203685477.0, le64(-9223372036854770000), 0},
      {"NOTE", Op::assignDouble, 9, le32(9), 0},
      {"AMOUNT", Op::assignLong, 42, "   42", 0},
      {"AMOUNT", Op::assignLong, -42, "  -42", 0},
      {"AMOUNT", Op::assignLong, 123456, "*****", e4overflow},
      {"PRICE", Op::assignLong, 7, "    7.00", 0},
      {"DAY", Op::assignLong, 2453173, "20040616", 0},
      {"COUNT", Op::assignLong, -1, le32(-1), 0},
      {"PCOUNT", Op::assignLong, 77, le32(77), 0},
      {"SMALL", Op::assignLong, 70000, le16(4464), 0},  // the low 16 bits
      {"USMALL", Op::assignLong, 65535, le16(-1), 0},
      {"RATIO", Op::assignLong, 3, doubleBytes(3), 0},
      {"COST", Op::assignLong, 2, le64(20000), 0},
      {"NOTE", Op::assignLong, 12, le32(12), 0},
      {"AMOUNT", Op::assignInt, 42, "   42", 0},
      {"PRICE", Op::assignInt, 7, "    7.00", 0},
      {"SMALL", Op::assignInt, -2, le16(-2), 0},
      {"COST", Op::assignInt, -2, le64(-20000), 0},
      {"RATIO", Op::assignInt, -4, doubleBytes(-4), 0},
  };
  for (const Writing& w : cases) {
    SCOPED_TRACE(std::string(w.field) + " given " + std::to_string(w.value));
    FIELD4* f = field(w.field);
    d->recordChanged = 0;
    int32_t rc = 0;
    switch (w.op) {
      case Op::assignDouble:
        rc = field4assignDouble(f, w.value);
        break;
      case Op::assignLong:
        rc = field4assignLong(f, static_cast<int32_t>(w.value));
        break;
      case Op::assignInt:
        rc = field4assignInt(f, static_cast<int32_t>(w.value));
        break;
    }
    EXPECT_EQ(rc, w.result);
    EXPECT_EQ(stored(w.field), w.bytes);
    EXPECT_EQ(d->recordChanged, 1);
  }
  EXPECT_TRUE(recorder.errors().empty());
}

TEST_F(FieldValueTest, CurrencyOutOfRangeKeepsTheField) {
  put("COST", le64(123));
  for (double value : {1e300, -1e16, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(field4assignDouble(field("COST"), value), e4overflow) << value;
    EXPECT_EQ(stored("COST"), le64(123));
  }
  EXPECT_EQ(field4assignCurrency(field("COST"), "922337203685477.5808"), -1);
  EXPECT_EQ(field4assignCurrency(field("COST"), "1.23456"), -1);
  EXPECT_EQ(stored("COST"), le64(123));
  EXPECT_EQ(d->recordChanged, 0);
}

// Which operation refuses which type: -930 at 80053 with the settings
// object, nothing written, and 0 or null given back.
TEST_F(FieldValueTest, UnsupportedTypesAreRefused) {
  using Call = std::function<bool(FIELD4*)>;  // true when the answer is the refusal's
  const Call getDouble = [](FIELD4* f) { return field4double(f) == 0.0; };
  const Call getLong = [](FIELD4* f) { return field4long(f) == 0; };
  const Call getInt = [](FIELD4* f) { return field4int(f) == 0; };
  const Call setDouble = [](FIELD4* f) { return field4assignDouble(f, 1) == e4parm; };
  const Call setLong = [](FIELD4* f) { return field4assignLong(f, 1) == e4parm; };
  const Call setInt = [](FIELD4* f) { return field4assignInt(f, 1) == e4parm; };
  const Call currency = [](FIELD4* f) { return field4currency(f, 2) == nullptr; };
  const Call setCurrency = [](FIELD4* f) { return field4assignCurrency(f, "1") == e4parm; };
  const Call dateTime = [](FIELD4* f) { return field4dateTime(f) == nullptr; };
  const struct {
    const char* operation;
    Call call;
    std::vector<const char*> fields;
  } cases[] = {
      {"double", getDouble, {"FLAG", "STAMP", "_NullFlags"}},
      {"long", getLong, {"FLAG", "STAMP"}},
      {"int", getInt, {"DAY", "NOTE", "BLOB", "FLAG", "STAMP"}},
      {"assignDouble", setDouble, {"FLAG", "STAMP", "PCOUNT", "SMALL", "USMALL", "PARTS"}},
      {"assignLong", setLong, {"FLAG", "STAMP"}},
      {"assignInt", setInt, {"DAY", "NOTE", "BLOB", "FLAG", "STAMP"}},
      {"currency", currency, {"AMOUNT", "STAMP"}},
      {"assignCurrency", setCurrency, {"AMOUNT", "RATIO"}},
      {"dateTime", dateTime, {"DAY", "COST"}},
  };
  const std::string before = record();
  for (const auto& [operation, call, fields] : cases) {
    for (const char* name : fields) {
      SCOPED_TRACE(std::string(operation) + " of " + name);
      recorder.clear();
      EXPECT_TRUE(call(field(name)));
      const RaisedError e = lastError();
      EXPECT_EQ(e.code, e4parm);
      EXPECT_EQ(e.location, 80053);
      EXPECT_EQ(e.c, &c);
      clearError();
    }
  }
  EXPECT_EQ(record(), before);
  EXPECT_EQ(d->recordChanged, 0);
}

// The longest text takes every one of its 21 characters and is still
// terminated.
TEST_F(FieldValueTest, CurrencyText) {
  const struct {
    int64_t units;
    int32_t decimals;
    const char* text;
  } cases[] = {
      {-15000, 2, "-1.50"},
      {-15000, 0, "-1"},
      {kMin64, 4, "-922337203685477.5808"},
  };
  for (const auto& [units, decimals, text] : cases) {
    put("COST", le64(units));
    const char* shown = field4currency(field("COST"), decimals);
    ASSERT_NE(shown, nullptr);
    EXPECT_STREQ(shown, text) << units << " with " << decimals;
  }
}

TEST_F(FieldValueTest, CurrencyDecimalsOutsideZeroToFourAreRefused) {
  EXPECT_EQ(field4currency(field("COST"), 5), nullptr);
  EXPECT_EQ(lastError().code, e4parm);
  EXPECT_EQ(lastError().location, 90055);
  EXPECT_EQ(lastError().c, nullptr);
  EXPECT_EQ(field4currency(field("COST"), -1), nullptr);
}

TEST_F(FieldValueTest, CurrencyFromText) {
  EXPECT_EQ(field4assignCurrency(field("COST"), "-1.50"), 0);
  EXPECT_EQ(stored("COST"), le64(-15000));
  EXPECT_EQ(field4assignCurrency(field("COST"), "-922337203685477.5808"), 0);
  EXPECT_EQ(stored("COST"), le64(kMin64));
  EXPECT_EQ(field4assignCurrency(field("COST"), ""), 0);
  EXPECT_EQ(stored("COST"), le64(0));
}

TEST_F(FieldValueTest, DateTimeText) {
  const struct {
    int32_t day, ms;
    const char* text;
  } cases[] = {
      {2453173, 43200000, "2004061612:00:00"},
      {2453173, 1500, "2004061600:00:02"},
      {0, 0, "        00:00:00"},
      {2453173, kMax32, "2004061624:00:00"},  // outside the day: still 16 characters
  };
  for (const auto& [day, ms, text] : cases) {
    put("STAMP", dateTimeBytes(day, ms));
    const char* shown = field4dateTime(field("STAMP"));
    ASSERT_NE(shown, nullptr);
    EXPECT_STREQ(shown, text) << day << " " << ms;
  }
}

// A record filled through the field operations, read back by python's
// dbfread, told to print UTF-8 whatever the locale's character set. The
// record is written at its place directly, as appending is not part of the
// field layer.
TEST_F(FieldValueTest, OtherToolsReadTheValuesWeWrite) {
  data4close(d);
  d = nullptr;
  const FIELD4INFO fields[] = {
      {"NAME", 'C', 10, 0, 0}, {"PRICE", 'N', 8, 2, 0}, {"RATE", 'F', 20, 10, 0},
      {"DAY", 'D', 8, 0, 0},   {"FLAG", 'L', 1, 0, 0},  {"RATIO", 'B', 8, 2, 0},
      {"STAMP", 'T', 8, 0, 0}, {"COST", 'Y', 8, 4, 0},  {"COUNT", 'I', 4, 0, 0},
      {nullptr, 0, 0, 0, 0},
  };
  c.accessMode = 1;
  d = data4create(&c, "shared", fields, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(field4assign(field("NAME"), "caf\xe9"), 0);
  EXPECT_EQ(field4assignDouble(field("PRICE"), -12.75), 0);
  EXPECT_EQ(field4assignDouble(field("RATE"), 0.0000000001), 0);
  EXPECT_EQ(field4assignLong(field("DAY"), 2453173), 0);
  EXPECT_EQ(field4assign(field("FLAG"), "T"), 0);
  EXPECT_EQ(field4assignDouble(field("RATIO"), 2.5), 0);
  put("STAMP", dateTimeBytes(2453173, 45296000));
  EXPECT_EQ(field4assignCurrency(field("COST"), "-1234.5678"), 0);
  EXPECT_EQ(field4assignInt(field("COUNT"), -7), 0);
  ASSERT_EQ(datafile4writeData(d->dataFile, 1, d->record), 0);
  d->dataFile->liveCount = 1;
  ASSERT_EQ(data4close(d), 0);
  d = nullptr;

  int status = 0;
  const std::string out = runCommand(
      "PYTHONIOENCODING=utf-8 /usr/bin/python3 -c \"import dbfread; "
      "r = list(dbfread.DBF('shared.dbf', encoding='cp1252', ignore_missing_memofile=True))[0]; "
      "print('|'.join(str(v) for v in r.values()))\"",
      &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "caf\xc3\xa9|-12.75|1e-10|2004-06-16|True|2.5|2004-06-16 12:34:56|-1234.5678|-7\n");
}

}  // namespace
