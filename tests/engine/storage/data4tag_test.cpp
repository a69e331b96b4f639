// Walking and seeking in tag order.
#include "engine/storage/data4tag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/buffer4.h"
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
#include "tests/support/fake_os.h"

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

namespace {

// code4freeBlocks on two exclusive tables run as the catalogue runs its
// tables: the block cache started and holding their writes, so that the
// tags keep their changed nodes in memory. With a small cache whose
// write-outs a full disk refuses, the first release fails and the tag it
// failed on keeps its nodes; once there is room again the release goes
// through. Afterwards no tag holds a node, every tag walks and seeks as
// before, and the files on disk hold every key.
class FreeBlocksTest : public EngineTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  static constexpr int kRecords = 3000;
  static constexpr int kLater = 400;  // appended after the walks, held in the tags

  struct Held {
    int nodes = 0;
    int changed = 0;
  };

  Held held() {
    Held h;
    for (DATA4* d : tables) {
      for (TAG4* tag = data4tagNext(d, nullptr); tag != nullptr; tag = data4tagNext(d, tag)) {
        TAG4FILE* t = tag->tagFile;
        for (int level = 0; level < t->depth; level++) {
          h.nodes++;
          h.changed += t->path[level]->changed ? 1 : 0;
        }
        for (LINK4* link = list4first(&t->spares); link != nullptr;
             link = list4next(&t->spares, link)) {
          h.nodes++;
          h.changed += reinterpret_cast<BLOCK4*>(link)->changed ? 1 : 0;
        }
      }
    }
    return h;
  }

  static std::string nameOf(int id) { return "N" + std::to_string((id * 7919) % 1000); }

  void append(DATA4* d, int id) {
    data4appendStart(d, 0);
    data4blank(d);
    field4assignLong(data4field(d, "ID"), id);
    field4assign(data4field(d, "NAME"), nameOf(id).c_str());
    ASSERT_EQ(data4append(d), 0);
  }

  std::vector<int32_t> walk(DATA4* d, const char* tag) {
    data4tagSelect(d, data4tag(d, tag));
    std::vector<int32_t> seen;
    for (int rc = data4top(d); rc == 0; rc = data4skip(d, 1)) seen.push_back(data4recNo(d));
    return seen;
  }

  DATA4* tables[2] = {};
};

constexpr int32_t kSmallCache = 20000;  // ten blocks: every release writes blocks out

INSTANTIATE_TEST_SUITE_P(Cache, FreeBlocksTest, ::testing::Values(4 << 20, kSmallCache),
                         [](const auto& info) {
                           return info.param == kSmallCache ? "SmallOnAFullDisk" : "Large";
                         });

TEST_P(FreeBlocksTest, ReleasesEveryTagsNodesAndLosesNoChange) {
  c.safety = 0;
  c.accessMode = 1;
  c.bufferingSize = GetParam();
  c.bufferingWriteBehind = 0;
  c.bufferingReadsAround = 1;
  ASSERT_EQ(code4cacheStart(&c), 0);
  const char* names[] = {"free1", "free2"};
  for (int n = 0; n < 2; n++) {
    Tag4info tags(c);
    tags.add("T_ID", "ID", nullptr, 0, 0);
    tags.add("T_NAME", "NAME", nullptr, 0, 0);
    tags.add("T_DOWN", "NAME", nullptr, 0, 10);
    tables[n] = data4create(&c, names[n], kFields, tags.tags());
    ASSERT_NE(tables[n], nullptr);
    for (int id = 1; id <= kRecords; id++) append(tables[n], id);
  }
  for (DATA4* d : tables) {
    for (const char* tag : {"T_ID", "T_NAME", "T_DOWN"}) walk(d, tag);
    for (int id = kRecords + 1; id <= kRecords + kLater; id++) append(d, id);
  }
  const Held before = held();
  ASSERT_GT(before.changed, 0);

  if (GetParam() == kSmallCache) {
    testing_support::FakeOs fake;
    platform::ScopedOs scoped(fake);
    fake.failFile(testing_support::FakeOs::Io::write, ".cdx", ENOSPC);
    EXPECT_LT(code4freeBlocks(&c), 0);
    EXPECT_GT(held().changed, 0);
    clearError();
  }
  ASSERT_EQ(code4freeBlocks(&c), 0);
  EXPECT_EQ(held().nodes, 0);

  // Key order: by name, equal names by record; the descending tag the
  // other way round.
  std::vector<int32_t> byName(kRecords + kLater), byId(kRecords + kLater);
  for (int i = 0; i < kRecords + kLater; i++) byName[i] = byId[i] = i + 1;
  std::stable_sort(byName.begin(), byName.end(),
                   [](int32_t a, int32_t b) { return nameOf(a) < nameOf(b); });
  const std::vector<int32_t> down(byName.rbegin(), byName.rend());
  for (DATA4* d : tables) {
    EXPECT_EQ(walk(d, "T_ID"), byId);
    EXPECT_EQ(walk(d, "T_NAME"), byName);
    EXPECT_EQ(walk(d, "T_DOWN"), down);
    ASSERT_EQ(code4freeBlocks(&c), 0);
    for (int id : {1, 977, kRecords, kRecords + kLater}) {
      data4tagSelect(d, data4tag(d, "T_ID"));
      EXPECT_EQ(data4seekDouble(d, id), 0);
      EXPECT_EQ(data4recNo(d), id);
      data4tagSelect(d, data4tag(d, "T_NAME"));
      EXPECT_EQ(data4seek(d, nameOf(id).c_str()), 0);
      EXPECT_EQ(std::string(field4ptr(data4field(d, "NAME")), nameOf(id).size()), nameOf(id));
    }
  }
  for (DATA4*& d : tables) {
    ASSERT_EQ(data4close(d), 0);
    d = nullptr;
  }
  for (const char* name : names) {
    const testing_support::CdxReport report =
        testing_support::checkCdxFile(std::string(name) + ".cdx", {{"T_ID", 0}});
    ASSERT_TRUE(report.ok()) << report.text();
    for (const char* tag : {"T_ID", "T_NAME", "T_DOWN"})
      EXPECT_EQ(report.tag(tag)->entries.size(), static_cast<size_t>(kRecords + kLater)) << tag;
  }
}

}  // namespace
