// Walking and seeking in tag order.
#include "engine/storage/data4tag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4zap.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"

using testing_support::EngineTest;

namespace {

const FIELD4INFO kFields[] = {{"ID", 'N', 6, 0, 0}, {"NAME", 'C', 8, 0, 0}, {nullptr, 0, 0, 0, 0}};

class TagWalkTest : public EngineTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.accessMode = static_cast<int8_t>(GetParam());
    Tag4info tags(c);
    tags.add("T_ID", "ID", nullptr, 0, 0);
    tags.add("T_NAME", "NAME", nullptr, 0, 0);
    tags.add("T_DOWN", "NAME", nullptr, 0, 10);
    c.accessMode = 1;  // a production index is made on an exclusive table
    d = data4create(&c, "walk", kFields, tags.tags());
    ASSERT_NE(d, nullptr);
    data4close(d);
    c.accessMode = static_cast<int8_t>(GetParam());
    d = data4open(&c, "walk");
    ASSERT_NE(d, nullptr);
    const char* names[] = {"ABD", "XYZ", "ABC", "MNO", "ABC"};
    for (int i = 0; i < 5; i++) {
      data4appendStart(d, 0);
      data4blank(d);
      field4assignLong(data4field(d, "ID"), 50 - 10 * i);
      field4assign(data4field(d, "NAME"), names[i]);
      ASSERT_EQ(data4append(d), 0);
    }
  }
  void TearDown() override {
    data4close(d);
    EngineTest::TearDown();
  }
  std::string name() {
    std::string value(field4ptr(data4field(d, "NAME")), 8);
    return value.substr(0, value.find(' '));
  }
  std::vector<std::string> walk() {
    std::vector<std::string> seen;
    for (int rc = data4top(d); rc == 0; rc = data4skip(d, 1)) seen.push_back(name());
    return seen;
  }
  DATA4* d = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Access, TagWalkTest, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "Shared" : "Exclusive"; });

TEST_P(TagWalkTest, TagsAreFoundByNameAndWalkedInKeyOrder) {
  ASSERT_NE(data4tag(d, "t_name"), nullptr);
  EXPECT_EQ(data4tag(d, "nope"), nullptr);
  EXPECT_EQ(error4code(&c), e4tagName);
  clearError();
  data4tagSelect(d, data4tag(d, "T_NAME"));
  EXPECT_EQ(walk(), (std::vector<std::string>{"ABC", "ABC", "ABD", "MNO", "XYZ"}));
  data4tagSelect(d, data4tag(d, "T_DOWN"));
  EXPECT_EQ(walk(), (std::vector<std::string>{"XYZ", "MNO", "ABD", "ABC", "ABC"}));
  data4tagSelect(d, data4tag(d, "T_ID"));
  EXPECT_EQ(walk(), (std::vector<std::string>{"ABC", "MNO", "ABC", "XYZ", "ABD"}));
  data4tagSelect(d, nullptr);
  EXPECT_EQ(walk(), (std::vector<std::string>{"ABD", "XYZ", "ABC", "MNO", "ABC"}));
}

TEST_P(TagWalkTest, EndsOfATagOrder) {
  data4tagSelect(d, data4tag(d, "T_NAME"));
  ASSERT_EQ(data4bottom(d), 0);
  EXPECT_EQ(name(), "XYZ");
  EXPECT_EQ(data4skip(d, 1), r4eof);
  EXPECT_EQ(data4skip(d, -1), 0);
  EXPECT_EQ(name(), "XYZ");
  ASSERT_EQ(data4top(d), 0);
  EXPECT_EQ(data4skip(d, -1), r4bof);
  EXPECT_EQ(data4bof(d), 1);
  EXPECT_EQ(name(), "ABC");
}

TEST_P(TagWalkTest, SeeksFindPrefixesAndTheNextGreaterKey) {
  data4tagSelect(d, data4tag(d, "T_NAME"));
  EXPECT_EQ(data4seek(d, "AB"), 0);
  EXPECT_EQ(name(), "ABC");
  EXPECT_EQ(data4seek(d, "ABD"), 0);
  EXPECT_EQ(data4recNo(d), 1);
  EXPECT_EQ(data4seek(d, "B"), r4after);
  EXPECT_EQ(name(), "MNO");
  EXPECT_EQ(data4seek(d, "ZZ"), r4eof);
  data4tagSelect(d, data4tag(d, "T_DOWN"));
  EXPECT_EQ(data4seek(d, "AB"), 0);
  EXPECT_EQ(name(), "ABD");  // the last match in a descending tag
}

TEST_P(TagWalkTest, SeekNextStepsThroughOneKey) {
  data4tagSelect(d, data4tag(d, "T_NAME"));
  ASSERT_EQ(data4seek(d, "ABC"), 0);
  const int32_t first = data4recNo(d);
  ASSERT_EQ(data4seekNext(d, "ABC"), 0);
  EXPECT_NE(data4recNo(d), first);
  EXPECT_EQ(data4seekNext(d, "ABC"), r4entry);  // on ABD now
  EXPECT_EQ(name(), "ABD");
}

TEST_P(TagWalkTest, NumbersAreSoughtInNumericTags) {
  data4tagSelect(d, data4tag(d, "T_ID"));
  EXPECT_EQ(data4seekDouble(d, 30), 0);
  EXPECT_EQ(data4recNo(d), 3);
  EXPECT_EQ(data4seekDouble(d, 31), r4after);
  EXPECT_EQ(data4recNo(d), 2);
  data4tagSelect(d, data4tag(d, "T_NAME"));
  EXPECT_EQ(data4seekDouble(d, 1), e4tagNotNumeric);
}

// A record the selected tag leaves out (its filter refuses it): a skip
// from it moves to the entries on either side of where its key would be.
TEST_P(TagWalkTest, SkipsFromARecordOutsideTheTagReachItsNeighbours) {
  data4close(d);
  Tag4info tags(c);
  tags.add("T_LIVE", "NAME", "ID > 0", 0, 0);
  const int8_t access = c.accessMode;
  c.accessMode = 1;
  d = data4create(&c, "filt", kFields, tags.tags());
  ASSERT_NE(d, nullptr);
  data4close(d);
  c.accessMode = access;
  d = data4open(&c, "filt");
  ASSERT_NE(d, nullptr);
  const std::pair<int, const char*> rows[] = {{1, "ABC"}, {2, "MNO"}, {0, "DEF"}, {4, "XYZ"}};
  for (const auto& [id, text] : rows) {
    data4appendStart(d, 0);
    data4blank(d);
    field4assignLong(data4field(d, "ID"), id);
    field4assign(data4field(d, "NAME"), text);
    ASSERT_EQ(data4append(d), 0);
  }
  data4tagSelect(d, data4tag(d, "T_LIVE"));
  ASSERT_EQ(data4go(d, 3), 0);  // DEF, outside the tag
  EXPECT_EQ(data4skip(d, -1), 0);
  EXPECT_EQ(name(), "ABC");
  ASSERT_EQ(data4go(d, 3), 0);
  EXPECT_EQ(data4skip(d, 1), 0);
  EXPECT_EQ(name(), "MNO");
}

}  // namespace

namespace {

// A larger table: walking each tag both ways visits exactly the entries the
// independent checker finds in the file, in the same order; a zap then
// leaves every tag empty and sound.
class BigTagWalkTest : public EngineTest {};

TEST_F(BigTagWalkTest, WalksAgreeWithTheFileAndZapEmptiesEveryTag) {
  c.safety = 0;
  c.accessMode = 1;
  Tag4info tags(c);
  tags.add("T_ID", "ID", nullptr, 0, 0);
  tags.add("T_NAME", "NAME", nullptr, 0, 0);
  DATA4* d = data4create(&c, "big", kFields, tags.tags());
  ASSERT_NE(d, nullptr);
  std::mt19937 random(7);
  for (int i = 0; i < 10000; i++) {
    data4appendStart(d, 0);
    data4blank(d);
    field4assignLong(data4field(d, "ID"), static_cast<int32_t>(random() % 5000));
    const std::string name = "N" + std::to_string(random() % 100000);
    field4assign(data4field(d, "NAME"), name.c_str());
    ASSERT_EQ(data4append(d), 0);
  }
  ASSERT_EQ(data4flush(d), 0);
  const testing_support::CdxReport report = testing_support::checkCdxFile("big.cdx", {{"T_ID", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  for (const char* name : {"T_ID", "T_NAME"}) {
    SCOPED_TRACE(name);
    std::vector<int32_t> expected;
    for (const auto& entry : report.tag(name)->entries) expected.push_back(static_cast<int32_t>(entry.record));
    data4tagSelect(d, data4tag(d, name));
    std::vector<int32_t> forward, backward;
    for (int rc = data4top(d); rc == 0; rc = data4skip(d, 1)) forward.push_back(data4recNo(d));
    for (int rc = data4bottom(d); rc == 0; rc = data4skip(d, -1)) backward.push_back(data4recNo(d));
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(forward, expected);
    EXPECT_EQ(backward, expected);
  }
  ASSERT_EQ(data4zap(d, 1, 1000000000), 0);
  ASSERT_EQ(data4flush(d), 0);
  const testing_support::CdxReport emptied = testing_support::checkCdxFile("big.cdx", {{"T_ID", 0}});
  ASSERT_TRUE(emptied.ok()) << emptied.text();
  EXPECT_TRUE(emptied.tag("T_ID")->entries.empty());
  EXPECT_TRUE(emptied.tag("T_NAME")->entries.empty());
  data4close(d);
  int status = 0;
  const std::string count = testing_support::runCommand(
      "/usr/bin/python3 -c \"import dbfread; print(len(list(dbfread.DBF('big.dbf'))))\"", &status);
  EXPECT_EQ(status, 0) << count;
  EXPECT_EQ(count, "0\n");
}

}  // namespace
