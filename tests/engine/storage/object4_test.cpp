// Value objects over fields: what the catalogue's assignments leave in the
// record, and the text a field gives back.
#include "engine/storage/object4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/lock4.h"
#include "tests/support/engine_fixture.h"

using testing_support::EngineTest;

namespace {

class ObjectTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.compatibility = 30;
    const FIELD4INFO fields[] = {
        {"NAME", 'C', 10, 0, 0}, {"SIZE", 'N', 5, 0, 0},  {"COUNT", 'I', 4, 0, 0},
        {"SMALL", 'Q', 2, 0, 0}, {"AFTER", 'C', 4, 0, 0}, {"VALUE", 'B', 8, 2, 0},
        {"NOTE", 'M', 4, 0, 0},  {nullptr, 0, 0, 0, 0}};
    d = data4create(&c, "obj", fields, nullptr);
    ASSERT_NE(d, nullptr);
    data4appendStart(d, 0);
    data4blank(d);
    ASSERT_EQ(data4append(d), 0);
  }
  void TearDown() override {
    data4close(d);
    EngineTest::TearDown();
  }
  std::string bytes(const char* name) {
    FIELD4* f = data4field(d, name);
    return std::string(field4ptr(f), f->length);
  }
  DATA4* d = nullptr;
};

TEST_F(ObjectTest, AssignmentsLeaveTheFieldAsTheCatalogueExpects) {
  Field4 name(*d, "NAME");
  EXPECT_EQ(name.assign("abc"), 0);
  EXPECT_EQ(bytes("NAME"), "abc       ");
  EXPECT_EQ(name.assign("a text longer than ten"), -1);
  EXPECT_EQ(bytes("NAME"), "a text lon");

  Field4 size(*d, "SIZE");
  EXPECT_EQ(size.assignLong(42, -1, 0), 0);
  EXPECT_EQ(bytes("SIZE"), "   42");
  EXPECT_EQ(size.assignLong(42, -1, 1), 0);
  EXPECT_EQ(bytes("SIZE"), "00042");
  EXPECT_EQ(d->recordChanged, 1);
}

TEST_F(ObjectTest, NumbersIntoShortBinaryFieldsStayInTheirField) {
  Field4 after(*d, "AFTER");
  after.assign("keep");
  Field4 small(*d, "SMALL");
  EXPECT_EQ(small.assignDouble(7.0), e4parm);  // the field's own refusal
  clearError();
  EXPECT_EQ(small.assignLong(300), 0);
  EXPECT_EQ(bytes("AFTER"), "keep");
  EXPECT_EQ(field4int(data4field(d, "SMALL")), 300);
}

TEST_F(ObjectTest, FieldsGiveTheirValueAsText) {
  Field4 count(*d, "COUNT");
  count.assignLong(-120);
  EXPECT_STREQ(count.str(), "-120");
  count.assignLong(0);
  EXPECT_STREQ(count.str(), "0");

  Field4 name(*d, "NAME");
  name.assign("ab");
  EXPECT_STREQ(name.str(), "ab        ");

  Field4 value(*d, "VALUE");
  value.assignDouble(-1234.5);
  EXPECT_STREQ(value.str(), "-1234.50");
  value.assignDouble(1e300);  // wider than any text buffer: stars, not an overrun
  EXPECT_EQ(std::strlen(value.str()), 256u);
  value.assignDouble(std::numeric_limits<double>::quiet_NaN());
  EXPECT_NE(value.str(), nullptr);
}

TEST_F(ObjectTest, AMissingFieldRefusesAndChangesNothing) {
  Field4 missing(*d, "NOPE");
  clearError();
  const std::string before(d->record, d->dataFile->recordLength);
  EXPECT_EQ(missing.changed(), e4object);
  EXPECT_EQ(missing.assign("x"), e4object);
  EXPECT_EQ(std::string(d->record, d->dataFile->recordLength), before);
}

TEST_F(ObjectTest, AGrowingMemoKeepsItsBytes) {
  Field4memo note(*d, "NOTE");
  ASSERT_EQ(note.assign("start"), 0);
  ASSERT_EQ(note.setLen(100), 0);
  EXPECT_EQ(std::string(note.ptrConst(), 5), "start");
  EXPECT_EQ(note.len(), 100u);
  ASSERT_EQ(note.assign("final text"), 0);
  ASSERT_EQ(data4go(d, 1), 0);  // written with the record
  EXPECT_STREQ(note.str(), "final text");
}

// A memo value that cannot take its new length refuses the whole
// assignment with that failure: here locks are enforced and the record is
// not locked, which only the memo's own length rule sees on a table others
// may only read.
TEST_F(ObjectTest, AMemoAssignmentWhoseLengthIsRefusedKeepsTheValue) {
  Field4memo note(*d, "NOTE");
  ASSERT_EQ(note.assign("kept"), 0);
  ASSERT_EQ(data4flush(d), 0);
  ASSERT_EQ(data4unlock(d), 0);
  c.accessMode = 2;
  c.lockEnforce = 1;
  EXPECT_EQ(note.assignN("a longer value", 14), e4lock);
  clearError();
  c.lockEnforce = 0;
  EXPECT_EQ(std::string(note.ptrConst(), note.len()), "kept");
}

}  // namespace
