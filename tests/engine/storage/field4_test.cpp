// Fields themselves and their text: descriptors, checks, the write guard,
// null flags, blanking, text assignment and logicals.
#include "engine/storage/field4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/lock4.h"
#include "tests/support/field_table.h"

using namespace testing_support;

namespace {

class FieldTest : public FieldTableTest {
 protected:
  bool isNull(const char* name) { return field4null(field(name)) == 1; }
  void setNullBit(const char* name) {
    FIELD4* f = field(name);
    d->record[d->nullFlags->offset + f->nullByte] |= static_cast<char>(f->nullMask);
  }
};

TEST_F(FieldTest, DescriptorsAsCallersSeeThem) {
  const struct {
    const char* name;
    int type, typeExpr;
    uint32_t length;
    int32_t decimals, number;
  } cases[] = {
      {"NAME", 'C', 'C', 10, 0, 1},  {"BIN", 'Z', 'Z', 6, 0, 2},   {"AMOUNT", 'N', 'N', 5, 0, 3},
      {"RATE", 'F', 'N', 20, 10, 5}, {"NOTE", 'M', 'M', 4, 0, 8},  {"BLOB", 'X', 'X', 4, 0, 9},
      {"COST", 'Y', 'Y', 8, 4, 12},  {"OPTN", 'N', 'N', 5, 0, 19},
  };
  for (const auto& e : cases) {
    SCOPED_TRACE(e.name);
    FIELD4* f = field(e.name);
    EXPECT_EQ(field4type(f), e.type);
    EXPECT_EQ(field4typeExpr(f), e.typeExpr);
    EXPECT_EQ(field4len(f), e.length);
    EXPECT_EQ(field4decimals(f), e.decimals);
    EXPECT_EQ(field4number(f), e.number);
    EXPECT_STREQ(field4name(f), e.name);
  }
}

// Every operation checks its field first, at its own location, without a
// settings object.
TEST_F(FieldTest, NullAndInvalidFieldsAreRefusedAtTheOperationsLocation) {
  FIELD4 stale = *field("NAME");
  stale.validityMarker = 0;
  const struct {
    int32_t location;
    std::function<void(FIELD4*)> call;
  } cases[] = {
      {90045, [](FIELD4* f) { EXPECT_EQ(field4ptr(f), nullptr); }},
      {90020, [](FIELD4* f) { EXPECT_EQ(field4assignPtr(f), nullptr); }},
      {90024, [](FIELD4* f) { EXPECT_EQ(field4len(f), 0u); }},
      {90023, [](FIELD4* f) { EXPECT_EQ(field4decimals(f), -1); }},
      {90026, [](FIELD4* f) { EXPECT_EQ(field4type(f), 0); }},
      {90051, [](FIELD4* f) { EXPECT_LT(field4number(f), 0); }},
      {90053, [](FIELD4* f) { EXPECT_LT(field4null(f), 0); }},
      {90021, [](FIELD4* f) { EXPECT_LT(field4blank(f), 0); }},
      {90049, [](FIELD4* f) { EXPECT_EQ(field4str(f), nullptr); }},
      {90050, [](FIELD4* f) { EXPECT_LT(field4true(f), 0); }},
      {90046, [](FIELD4* f) { EXPECT_LT(field4assign(f, "x"), 0); }},
      {90047, [](FIELD4* f) { EXPECT_LT(field4assignN(f, "x", 1), 0); }},
      {90017, [](FIELD4* f) { EXPECT_LT(field4assignDouble(f, 1), 0); }},
      {90018, [](FIELD4* f) { EXPECT_EQ(field4double(f), 0.0); }},
      {90029, [](FIELD4* f) { EXPECT_LT(field4assignLong(f, 1), 0); }},
      {90030, [](FIELD4* f) { EXPECT_EQ(field4long(f), 0); }},
      {90027, [](FIELD4* f) { EXPECT_LT(field4assignInt(f, 1), 0); }},
      {90028, [](FIELD4* f) { EXPECT_EQ(field4int(f), 0); }},
      {90054, [](FIELD4* f) { EXPECT_LT(field4assignCurrency(f, "1"), 0); }},
      {90055, [](FIELD4* f) { EXPECT_EQ(field4currency(f, 2), nullptr); }},
      {90056, [](FIELD4* f) { EXPECT_EQ(field4dateTime(f), nullptr); }},
  };
  for (const auto& [location, call] : cases) {
    SCOPED_TRACE(location);
    recorder.clear();
    call(nullptr);
    EXPECT_EQ(lastError().code, e4parmNull);
    EXPECT_EQ(lastError().location, location);
    EXPECT_EQ(lastError().c, nullptr);
    call(&stale);
    EXPECT_EQ(lastError().code, e4parm);
    EXPECT_EQ(lastError().location, location);
  }
  EXPECT_EQ(error4code(&c), 0);
}

TEST_F(FieldTest, BlankValuesFollowTheBinaryFlag) {
  for (FIELD4& f : d->fields) std::memset(d->record + f.offset, 'x', f.length);
  for (const char* name :
       {"NAME", "AMOUNT", "DAY", "FLAG", "BIN", "COUNT", "COST", "STAMP", "NOTE", "PARTS"}) {
    EXPECT_EQ(field4blank(field(name)), 0) << name;
  }
  EXPECT_EQ(stored("NAME"), std::string(10, ' '));
  EXPECT_EQ(stored("AMOUNT"), "     ");
  EXPECT_EQ(stored("DAY"), "        ");
  EXPECT_EQ(stored("FLAG"), " ");
  EXPECT_EQ(stored("BIN"), std::string(6, '\0'));
  EXPECT_EQ(stored("COUNT"), le32(0));
  EXPECT_EQ(stored("COST"), le64(0));
  EXPECT_EQ(stored("STAMP"), le64(0));
  EXPECT_EQ(stored("NOTE"), le32(0));
  EXPECT_EQ(stored("PARTS"), le16(1899) + le16(12) + le16(30));
  EXPECT_EQ(d->recordChanged, 1);
}

// Below version 0x30 no field carries a binary flag: binary types are
// blanked with blanks there, as other tools expect of those files.
TEST_F(FieldTest, BinaryTypesOfOlderFilesBlankWithBlanks) {
  const FIELD4INFO fields[] = {
      {"SMALL", 'Q', 2, 0, 0}, {"PCOUNT", 'P', 4, 0, 0}, {nullptr, 0, 0, 0, 0}};
  c.compatibility = 25;
  DATA4* old = data4create(&c, "older", fields, nullptr);
  ASSERT_NE(old, nullptr);
  FIELD4* small = data4field(old, "SMALL");
  std::memset(old->record + small->offset, 0, 2);
  EXPECT_EQ(field4blank(small), 0);
  EXPECT_EQ(std::string(old->record + 1, 6), "      ");
  data4close(old);
}

TEST_F(FieldTest, TextAssignment) {
  const struct {
    const char* field;
    std::string given;
    bool right;  // field4assignRight instead of field4assignN
    std::string stored;
  } cases[] = {
      {"NAME", "12", false, "12        "},
      {"NAME", "abcdefghijklm", false, "abcdefghij"},  // its first length bytes
      {"NAME", std::string("ab\0cd", 5), false, std::string("ab\0cd     ", 10)},
      {"NAME", "xy", true, "        xy"},
      {"NAME", "abcdefghijklm", true, "abcdefghij"},
      {"NAME", "", false, "          "},
      {"BIN", "ab", false, std::string("ab\0\0\0\0", 6)},  // a binary field blanks with zeros
  };
  for (const auto& e : cases) {
    SCOPED_TRACE(e.field + (" given '" + e.given + "'"));
    FIELD4* f = field(e.field);
    const auto n = static_cast<uint32_t>(e.given.size());
    EXPECT_EQ(
        e.right ? field4assignRight(f, e.given.data(), n) : field4assignN(f, e.given.data(), n), 0);
    EXPECT_EQ(stored(e.field), e.stored);
  }
}

// field4assign puts number fields' text on the right, every other on the left.
TEST_F(FieldTest, AssignAlignsByType) {
  const struct {
    const char* field;
    const char* text;
    std::string stored;
  } cases[] = {
      {"AMOUNT", "12", "   12"},
      {"NAME", "12", "12        "},
      {"RATE", "1.5", std::string(17, ' ') + "1.5"},
      {"AMOUNT", "1234567", "12345"},  // longer than an N field: its first characters
      {"DAY", "20040616", "20040616"},
      {"FLAG", "T", "T"},
  };
  for (const auto& e : cases) {
    EXPECT_EQ(field4assign(field(e.field), e.text), 0) << e.field;
    EXPECT_EQ(stored(e.field), e.stored) << e.field;
  }
}

TEST_F(FieldTest, NullBytesAreRefusedUnlessEmpty) {
  put("NAME", "abcdefghij");
  EXPECT_EQ(field4assignN(field("NAME"), nullptr, 3), e4parmNull);
  EXPECT_EQ(lastError().location, 90047);
  EXPECT_EQ(stored("NAME"), "abcdefghij");
  EXPECT_EQ(field4assign(field("NAME"), nullptr), e4parmNull);
  EXPECT_EQ(field4assignN(field("NAME"), nullptr, 0), 0);
  EXPECT_EQ(stored("NAME"), std::string(10, ' '));
}

TEST_F(FieldTest, StrGivesTheBytesAndTwoNulsInTheSharedBuffer) {
  put("NAME", "abc       ");
  const char* first = field4str(field("NAME"));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::string(first, 12), std::string("abc       \0\0", 12));
  put("COUNT", le32(0x41424344));
  const char* second = field4str(field("COUNT"));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(std::string(second, 6), std::string("DCBA\0\0", 6));
  EXPECT_EQ(second, c.fieldBuffer);  // each call overwrites the last
}

TEST_F(FieldTest, Logicals) {
  for (char byte : std::string("TtYy")) {
    put("FLAG", std::string(1, byte));
    EXPECT_EQ(field4true(field("FLAG")), 1) << byte;
  }
  for (char byte : std::string("FfNn ?")) {
    put("FLAG", std::string(1, byte));
    EXPECT_EQ(field4true(field("FLAG")), 0) << byte;
  }
  EXPECT_TRUE(recorder.errors().empty());
  // Another type is refused and still tested.
  put("NAME", "Yes       ");
  EXPECT_EQ(field4true(field("NAME")), 1);
  EXPECT_EQ(lastError().code, e4parm);
  EXPECT_EQ(lastError().location, 80053);
}

TEST_F(FieldTest, NullFlags) {
  EXPECT_FALSE(isNull("OPT"));
  EXPECT_FALSE(isNull("NAME"));  // not nullable
  setNullBit("OPT");
  setNullBit("OPTN");
  EXPECT_TRUE(isNull("OPT"));
  EXPECT_TRUE(isNull("OPTN"));
  EXPECT_EQ(field4assign(field("OPT"), "x"), 0);  // every write clears the flag
  EXPECT_FALSE(isNull("OPT"));
  EXPECT_TRUE(isNull("OPTN"));
  d->recordChanged = 0;
  EXPECT_EQ(field4assignNotNull(field("OPTN")), 0);
  EXPECT_FALSE(isNull("OPTN"));
  EXPECT_EQ(d->recordChanged, 1);
  setNullBit("OPTN");
  EXPECT_EQ(field4blank(field("OPTN")), 0);
  EXPECT_FALSE(isNull("OPTN"));
  setNullBit("OPT");
  ASSERT_NE(field4assignPtr(field("OPT")), nullptr);
  EXPECT_FALSE(isNull("OPT"));
}

// A nullable field whose bit lies beyond the null flags is never looked up
// there (open refuses such tables; a field table must not rely on it).
TEST_F(FieldTest, ANullBitBeyondTheNullFlagsIsNeverReached) {
  FIELD4* opt = field("OPT");
  opt->nullByte = 200;
  d->record[d->nullFlags->offset] = static_cast<char>(0xFF);
  const std::string before = record();
  EXPECT_EQ(field4null(opt), 0);
  EXPECT_EQ(field4assignNotNull(opt), 0);
  EXPECT_EQ(record(), before);
}

TEST_F(FieldTest, WritesWaitWhileAnErrorIsPending) {
  const std::string before = record();
  error4set(&c, e4read);
  EXPECT_EQ(field4assign(field("NAME"), "x"), -1);
  EXPECT_EQ(field4assignLong(field("AMOUNT"), 1), -1);
  EXPECT_EQ(field4assignDouble(field("RATIO"), 1), -1);
  EXPECT_EQ(field4assignCurrency(field("COST"), "1"), -1);
  EXPECT_EQ(field4blank(field("NAME")), -1);
  EXPECT_EQ(field4assignPtr(field("NAME")), nullptr);
  EXPECT_EQ(record(), before);
  EXPECT_EQ(d->recordChanged, 0);
  // Reading goes on.
  put("AMOUNT", "   42");
  EXPECT_EQ(field4long(field("AMOUNT")), 42);
}

// Exclusive files answer every lock test with 1: enforced locking lets
// their writes through.
TEST_F(FieldTest, EnforcedLockingOnAnExclusiveFileWrites) {
  data4close(d);
  c.accessMode = 1;
  d = data4create(&c, "exclusive", kEveryTypeFields, nullptr);
  ASSERT_NE(d, nullptr);
  c.lockEnforce = 1;
  d->recNum = 1;
  EXPECT_EQ(field4assignLong(field("AMOUNT"), 42), 0);
  EXPECT_EQ(stored("AMOUNT"), "   42");
  EXPECT_EQ(field4blank(field("NAME")), 0);
}

TEST_F(FieldTest, EnforcedLockingRefusesAnUnlockedRecord) {
  c.lockEnforce = 1;
  d->recNum = 0;  // appending: no record to lock yet
  EXPECT_EQ(field4assignLong(field("AMOUNT"), 7), 0);
  d->recNum = 1;
  ASSERT_FALSE(data4lockTestRecordHeld(d, 1));
  const std::string before = record();
  d->recordChanged = 0;
  EXPECT_EQ(field4assignLong(field("AMOUNT"), 42), e4lock);
  EXPECT_EQ(lastError().location, 90029);
  clearError();
  EXPECT_EQ(field4assign(field("NAME"), "x"), e4lock);
  EXPECT_EQ(lastError().location, 90046);
  clearError();
  EXPECT_EQ(field4blank(field("NAME")), e4lock);
  clearError();
  EXPECT_EQ(record(), before);
  EXPECT_EQ(d->recordChanged, 0);
}

}  // namespace
