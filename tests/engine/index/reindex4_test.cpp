// Rebuilding index files: the file a rebuild leaves, and what a failure at
// any point of it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/index/index4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/error4.h"
#include "platform/os.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {{"NAME", 'C', 20, 0, 0}, {"SIZE", 'N', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
const TAG4INFO kTags[] = {{"NAME", "NAME", nullptr, 0, 0}, {"SIZE", "SIZE", nullptr, 0, 0}, {}};

INDEX4* firstIndex(DATA4* d) { return reinterpret_cast<INDEX4*>(list4first(&d->indexes)); }
TAG4* firstTag(INDEX4* index) { return reinterpret_cast<TAG4*>(list4first(&index->tags)); }

// Files beside the table other than its own three.
std::vector<std::string> strays() {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    if (entry.path().filename().string().find(".~") != std::string::npos)
      out.push_back(entry.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

class ReindexTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.accessMode = 1;
    c.singleOpen = 0;
  }

  // A table without records whose NAME tag nevertheless holds `count` keys
  // added through the tag: what a rebuild must replace.
  void staleTable(uint32_t count) {
    DATA4* d = data4create(&c, "t", kFields, kTags);
    ASSERT_NE(d, nullptr);
    TAG4* name = firstTag(firstIndex(d));
    for (uint32_t r = 1; r <= count; r++) {
      std::string key = "stale " + std::to_string(r % 97);
      key.resize(20, ' ');
      ASSERT_EQ(tagfile4add(name, reinterpret_cast<const unsigned char*>(key.data()), r), 0);
    }
    ASSERT_EQ(data4close(d), 0);
  }
};

TEST_F(ReindexTest, ARebuildLeavesTheFileACreationWrites) {
  staleTable(400);
  const std::string fresh = readDiskFile("t.cdx");
  ASSERT_GT(checkCdxFile("t.cdx").tag("NAME")->entries.size(), 0u);
  DATA4* d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  d->recNum = 1;
  EXPECT_EQ(index4reindex(firstIndex(d)), 0);
  EXPECT_EQ(d->recNum, -1);
  EXPECT_EQ(index4reindexProgress(&c), -1.0);
  // The handle's tags walk the new trees at once.
  EXPECT_EQ(tagfile4top(firstTag(firstIndex(d))->tagFile), 0);
  EXPECT_TRUE(tagfile4eof(firstTag(firstIndex(d))->tagFile));
  EXPECT_EQ(data4close(d), 0);
  EXPECT_TRUE(strays().empty());
  const CdxReport report = checkCdxFile("t.cdx", {{"SIZE", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_TRUE(report.tag("NAME")->entries.empty());
  EXPECT_EQ(readDiskFile("t.cdx").size(), 4608u);
  EXPECT_EQ(index4reindex(nullptr), e4parmNull);
  clearError();
}

TEST_F(ReindexTest, ARefusedRenameLeavesTheOldFileAndNoWorkFile) {
  staleTable(50);
  const std::string before = readDiskFile("t.cdx");
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  DATA4* d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  fake.renameErrno = EXDEV;
  EXPECT_EQ(index4reindex(firstIndex(d)), e4write);
  EXPECT_EQ(lastError().location, 80338);
  clearError();
  fake.renameErrno = 0;
  // The handle goes on with the old file, which is whole.
  EXPECT_EQ(tagfile4top(firstTag(firstIndex(d))->tagFile), 0);
  EXPECT_FALSE(tagfile4eof(firstTag(firstIndex(d))->tagFile));
  EXPECT_EQ(data4close(d), 0);
  EXPECT_EQ(readDiskFile("t.cdx"), before);
  EXPECT_TRUE(strays().empty());
}

// A disk that fills up after every possible number of bytes, with the
// table opened exclusively (the file is renamed into place) and shared
// (copied in place): afterwards the index reads either as it was or as
// rebuilt, or is refused at open as damaged. It never reads wrong, and no
// work file stays.
class ReindexFaultTest : public ReindexTest, public ::testing::WithParamInterface<int> {};

TEST_P(ReindexFaultTest, AFullDiskAtAnyPointNeverLeavesAnIndexThatReadsWrong) {
  const int8_t access = static_cast<int8_t>(GetParam());
  staleTable(300);
  const std::string before = readDiskFile("t.cdx");
  const std::vector<CdxEntry> old = checkCdxFile("t.cdx").tag("NAME")->entries;
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  bool rebuilt = false, refused = false;
  for (int64_t space = 0; !rebuilt; space += 256) {
    SCOPED_TRACE(space);
    writeDiskFile("t.cdx", before);
    c.accessMode = access;
    DATA4* d = data4open(&c, "t");
    ASSERT_NE(d, nullptr);
    fake.diskSpace = space;
    const int32_t rc = index4reindex(firstIndex(d));
    fake.diskSpace = -1;
    clearError();
    ASSERT_EQ(data4close(d), 0);
    ASSERT_TRUE(strays().empty());
    rebuilt = rc == 0;

    recorder.clear();
    d = data4open(&c, "t");
    if (d == nullptr) {
      // Only a copy in place cut short, and only as damage found at open.
      ASSERT_EQ(access, 0);
      ASSERT_EQ(lastError().code, e4index);
      ASSERT_EQ(lastError().location, 80099);
      clearError();
      refused = true;
      continue;
    }
    ASSERT_EQ(data4close(d), 0);
    const CdxReport report = checkCdxFile("t.cdx", {{"SIZE", 0}});
    ASSERT_TRUE(report.ok()) << report.text();
    if (rebuilt) {
      EXPECT_TRUE(report.tag("NAME")->entries.empty());
    } else {
      EXPECT_EQ(report.tag("NAME")->entries, old);
      if (access == 1) {
        EXPECT_EQ(readDiskFile("t.cdx"), before);
      }
    }
  }
  EXPECT_EQ(refused, access == 0);
}

INSTANTIATE_TEST_SUITE_P(ExclusiveAndShared, ReindexFaultTest, ::testing::Values(1, 0));

// A rebuild killed half way leaves its work file behind. The next open that
// holds the table exclusively removes this table's stale work files, and
// leaves alone those of other tables and a shared open's view.
TEST_F(ReindexTest, AKilledRebuildsWorkFileGoesAtTheNextExclusiveOpen) {
  staleTable(300);
  const int exit = inChildProcess([](CODE4& own, FakeOs& fake) {
    DATA4* d = data4open(&own, "t");
    if (d == nullptr) return 91;
    fake.exitAtWrite(2, 42);
    index4reindex(firstIndex(d));
    return 92;
  });
  ASSERT_EQ(exit, 42);
  ASSERT_EQ(strays(), std::vector<std::string>{"t.cdx.~00"});
  writeDiskFile("other.cdx.~01", "another table's");

  c.accessMode = 0;
  DATA4* d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(data4close(d), 0);
  EXPECT_EQ(strays().size(), 2u);
  c.accessMode = 1;
  d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(strays(), std::vector<std::string>{"other.cdx.~01"});
  ASSERT_EQ(index4reindex(firstIndex(d)), 0);
  ASSERT_EQ(data4close(d), 0);
  EXPECT_EQ(strays(), std::vector<std::string>{"other.cdx.~01"});
}

}  // namespace
