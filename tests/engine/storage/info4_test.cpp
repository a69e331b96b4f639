#include "engine/storage/info4.h"

#include <gtest/gtest.h>

#include "engine/storage/data4.h"
#include "tests/support/engine_fixture.h"

using testing_support::EngineTest;

namespace {

class InfoTest : public EngineTest {};

TEST_F(InfoTest, FieldNamesAreCutAndUpperCasedAndTheListEndsZeroed) {
  Field4info fields(c);
  ASSERT_EQ(fields.add("f_name x", 'C', 250), 0);
  ASSERT_EQ(fields.add("twelve_chars", 'N', 10, 2), 0);
  ASSERT_EQ(fields.numFields(), 2);
  EXPECT_STREQ(fields.fields()[0].name, "F_NAME");
  EXPECT_STREQ(fields.fields()[1].name, "TWELVE_CHA");
  EXPECT_EQ(fields.fields()[1].dec, 2);
  EXPECT_EQ(fields.fields()[2].name, nullptr);
  EXPECT_EQ(fields.fields()[2].type, 0);
  fields.free();
  EXPECT_EQ(fields.numFields(), 0);
  EXPECT_EQ(fields.fields(), nullptr);
}

TEST_F(InfoTest, TagListsCopyTheirTextsAndEndZeroed) {
  Tag4info tags(c);
  std::string expression = "UPPER(F_NAME)";
  ASSERT_EQ(tags.add("f_name", expression.c_str(), nullptr, 0, 0), 0);
  ASSERT_EQ(tags.add("f_id", "F_ID", ".NOT.DELETED()", 20, 1), 0);
  expression[0] = 'x';  // the list keeps its own copy
  EXPECT_STREQ(tags.tags()[0].expression, "UPPER(F_NAME)");
  EXPECT_EQ(tags.tags()[0].filter, nullptr);
  EXPECT_STREQ(tags.tags()[1].name, "F_ID");
  EXPECT_STREQ(tags.tags()[1].filter, ".NOT.DELETED()");
  EXPECT_EQ(tags.tags()[1].unique, 20);
  EXPECT_EQ(tags.tags()[2].name, nullptr);
}

TEST_F(InfoTest, ABuiltFieldListCreatesTheTable) {
  Field4info fields(c);
  fields.add("name", 'C', 20);
  fields.add("size", 'N', 13);
  DATA4* d = data4create(&c, "built", fields.fields(), nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(data4numFields(d), 2);
  EXPECT_NE(data4field(d, "SIZE"), nullptr);
  data4close(d);
}

}  // namespace
