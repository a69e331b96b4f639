// An independent reader: files written through the node routines list, in
// index_dump (Perl XBase), the same keys and record numbers in the same
// order. index_dump is told the key type, so it needs no table beside the
// index.
#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <set>

#include "tests/support/cdx_checker.h"
#include "tests/support/cdx_tree.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/foreign_files.h"

using namespace testing_support;

namespace {

constexpr const char* kIndexDump = "/usr/bin/index_dump";

// index_dump's lines for one tag (or the tag list): "key record".
std::vector<std::string> dump(const std::string& type, const std::string& tag) {
  std::vector<std::string> lines;
  const std::string command = std::string(kIndexDump) + " --type " + type + " t.cdx " + tag;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  std::string line;
  for (int ch; (ch = std::fgetc(pipe)) != EOF;) {
    if (ch != '\n') {
      line += static_cast<char>(ch);
      continue;
    }
    lines.push_back(line);
    line.clear();
  }
  EXPECT_EQ(pclose(pipe), 0) << command;
  return lines;
}

class ReaderTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(access(kIndexDump, X_OK), 0) << "index_dump missing: run scripts/setup";
  }
};

TEST_F(ReaderTest, IndexDumpListsTheSameEntriesAcrossThreeLevels) {
  // Names use no byte below the blank, so their order unpadded is their
  // order as keys.
  std::set<std::pair<std::string, uint32_t>> names, longNames;
  std::set<std::pair<double, uint32_t>> numbers;
  {
    CdxTree tree(&c, "t.cdx", {{"NAME", 30}, {"SIZE", 8, "SIZE", 0}, {"TBLNAME", 200}});
    ASSERT_EQ(tree.status(), 0);
    std::mt19937 random(3);
    for (uint32_t r = 1; r <= 4000; r++) {
      const std::string name = "file " + std::to_string(random() % 3000) + ".txt";
      ASSERT_EQ(tree.add(0, name, r), 0);
      names.emplace(name, r);
      const double size = static_cast<double>(random() % 2000000) / 4 - 100000;
      ASSERT_EQ(tree.add(1, numericKey(size), r), 0);
      numbers.emplace(size, r);
      if (r % 10 == 0) {
        const std::string table = "TABLE" + std::to_string(random() % 1000);
        ASSERT_EQ(tree.add(2, table, r), 0);
        longNames.emplace(table, r);
      }
    }
    for (uint32_t r = 1; r <= 4000; r += 5) {
      const auto name = names.lower_bound({"", 0});
      ASSERT_EQ(tree.remove(0, name->first, name->second), 0);
      names.erase(name);
      const auto size = std::next(numbers.begin(), static_cast<long>(r % numbers.size()));
      ASSERT_EQ(tree.remove(1, numericKey(size->first), size->second), 0);
      numbers.erase(size);
    }
    ASSERT_EQ(tree.finish(), 0);
  }
  const CdxReport report = checkCdxFile("t.cdx", {{"SIZE", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  for (const char* tag : {"NAME", "SIZE", "TBLNAME"}) EXPECT_GE(report.tag(tag)->depth, 3) << tag;

  EXPECT_EQ(dump("char", ""), (std::vector<std::string>{"NAME", "SIZE", "TBLNAME"}));
  std::vector<std::string> expected;
  for (const auto& [name, record] : names) expected.push_back(name + " " + std::to_string(record));
  EXPECT_EQ(dump("char", "NAME"), expected);
  expected.clear();
  for (const auto& [name, record] : longNames) expected.push_back(name + " " + std::to_string(record));
  EXPECT_EQ(dump("char", "TBLNAME"), expected);

  const std::vector<std::string> sizes = dump("num", "SIZE");
  ASSERT_EQ(sizes.size(), numbers.size());
  auto model = numbers.begin();
  for (const std::string& line : sizes) {
    const size_t space = line.rfind(' ');
    double value = 0;
    uint32_t record = 0;
    std::from_chars(line.data(), line.data() + space, value);
    std::from_chars(line.data() + space + 1, line.data() + line.size(), record);
    ASSERT_EQ(std::make_pair(value, record), *model++) << line;
  }
}

}  // namespace
