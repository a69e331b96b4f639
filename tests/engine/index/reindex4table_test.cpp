// Rebuilding from tables with records: the trees hold what adding each
// record's key through the insert path holds; the catalogue's tables build
// their production indexes as index_dump reads them; zap rebuilds; and a
// table whose appender was killed opens with every whole record indexed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/index/index4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4zap.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "platform/os.h"
#include "tests/support/catalogue_schemas.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {{"NAME", 'C', 24, 0, 0}, {"SIZE", 'N', 10, 2, 0},
                              {"DAY", 'D', 8, 0, 0},   {"DONE", 'L', 1, 0, 0},
                              {nullptr, 0, 0, 0, 0}};
const TAG4INFO kTags[] = {
    {"NAME", "UPPER(NAME)", nullptr, 0, 0},
    {"ONCE", "LEFT(NAME,3)", nullptr, 25, 0},
    {"SIZE", "SIZE", nullptr, 0, 10},
    {"OPEN", "DTOS(DAY)+NAME", ".NOT. DONE", 0, 0},
    {},
};

const TAG4INFO kFilesTags[] = {
    {"T_F_ID", "F_ID", nullptr, 25, 0},
    {"T_F_SUPPID", "F_SUPPID", nullptr, 0, 0},
    {"T_SUP_PAT", "STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))", nullptr, 0, 0},
    {"T_F_NAME", "UPPER(SUBSTR(F_NAME,1,60))", nullptr, 0, 0},
    {},
};
const TAG4INFO kSupportTags[] = {{"T_S_ID", "S_ID", nullptr, 25, 0}, {}};
const TAG4INFO kIdTags[] = {{"T_TBLNAME", "TBLNAME", nullptr, 25, 0}, {}};

INDEX4* firstIndexOf(DATA4* d) { return reinterpret_cast<INDEX4*>(list4first(&d->indexes)); }

class TableReindexTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.accessMode = 1;
  }

  bool append(DATA4* d, const std::map<std::string, std::string>& values) {
    if (data4appendStart(d, 0) != 0 || data4blank(d) != 0) return false;
    for (const auto& [field, value] : values)
      if (field4assign(data4field(d, field.c_str()), value.c_str()) != 0) return false;
    return data4append(d) == 0;
  }

  std::mt19937 random_{1234};
};

TEST_F(TableReindexTest, RebuiltTreesHoldWhatTheInsertPathMakesOfEveryRecord) {
  DATA4* d = data4create(&c, "t", kFields, nullptr);
  ASSERT_NE(d, nullptr);
  // The key-by-key index, made while the table is empty: every append adds
  // its record's keys through the insert path.
  INDEX4* added = index4create(d, "added", kTags);
  ASSERT_NE(added, nullptr);
  static const char kAlphabet[] = "abcXYZ \x01\x1f\xe9-.";
  for (int r = 1; r <= 2500; r++) {
    std::string name;
    for (size_t n = random_() % 16; n > 0; n--) name += kAlphabet[random_() % (sizeof kAlphabet - 1)];
    const std::string day = std::to_string(1990 + random_() % 30) + "0" +
                            std::to_string(1 + random_() % 9) + "1" + std::to_string(random_() % 9);
    ASSERT_TRUE(append(d, {{"NAME", name},
                           {"SIZE", std::to_string(static_cast<int>(random_() % 20000) - 10000)},
                           {"DAY", random_() % 10 == 0 ? "" : day},
                           {"DONE", random_() % 3 == 0 ? "T" : "F"}}));
  }
  // The rebuilt one: created over the records.
  INDEX4* rebuilt = index4create(d, "rebuilt", kTags);
  ASSERT_NE(rebuilt, nullptr);
  ASSERT_EQ(data4close(d), 0);

  const std::map<std::string, unsigned char> pads = {{"ONCE", ' '}, {"SIZE", 0}};
  const CdxReport a = checkCdxFile("added.cdx", pads);
  const CdxReport b = checkCdxFile("rebuilt.cdx", pads);
  ASSERT_TRUE(a.ok()) << a.text();
  ASSERT_TRUE(b.ok()) << b.text();
  for (const char* tag : {"NAME", "ONCE", "SIZE", "OPEN"}) {
    EXPECT_EQ(a.tag(tag)->entries, b.tag(tag)->entries) << tag;
    EXPECT_GT(b.tag(tag)->entries.size(), 0u) << tag;
  }
  EXPECT_LT(b.tag("ONCE")->entries.size(), 2500u);  // duplicates left out
  EXPECT_LT(b.tag("OPEN")->entries.size(), 2500u);  // the filter left some out
}

// Memory units so small that every tag's sort spills runs to its work file
// and merges them: the trees are those of a sort in memory, and no work
// file stays.
TEST_F(TableReindexTest, SortsThatSpillToTheirWorkFileBuildTheSameTrees) {
  const std::filesystem::path work = std::filesystem::current_path() / "work";
  std::filesystem::create_directory(work);
  FakeOs fake;
  fake.environmentVariables = std::map<std::string, std::string>{{"TMPDIR", work.string()}};
  platform::ScopedOs scoped(fake);
  DATA4* d = data4create(&c, "t", kFields, nullptr);
  ASSERT_NE(d, nullptr);
  for (int r = 1; r <= 3000; r++)
    ASSERT_TRUE(append(d, {{"NAME", std::to_string(random_() % 700)},
                           {"SIZE", std::to_string(random_() % 900)},
                           {"DONE", r % 2 == 0 ? "T" : "F"}}));
  ASSERT_NE(index4create(d, "memory", kTags), nullptr);
  c.memSizeSortPool = 2048;
  ASSERT_NE(index4create(d, "spilled", kTags), nullptr);
  ASSERT_EQ(data4close(d), 0);
  const std::map<std::string, unsigned char> pads = {{"SIZE", 0}};
  const CdxReport memory = checkCdxFile("memory.cdx", pads);
  const CdxReport spilled = checkCdxFile("spilled.cdx", pads);
  ASSERT_TRUE(spilled.ok()) << spilled.text();
  for (const char* tag : {"NAME", "ONCE", "SIZE", "OPEN"})
    EXPECT_EQ(memory.tag(tag)->entries, spilled.tag(tag)->entries) << tag;
  EXPECT_TRUE(std::filesystem::is_empty(work));
  size_t workFiles = 0;
  for (const std::string& removed : fake.removed())
    if (removed.starts_with(work.string())) workFiles++;
  EXPECT_EQ(workFiles, 4u) << "one work file a tag";
}

// UPPER as the catalogue's keys apply it to ASCII names: a-z only. The C
// library's toupper follows the locale, and a Turkish one keeps 'i'.
std::string asciiUpper(std::string text) {
  for (char& ch : text)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return text;
}

// The catalogue's tables with their production indexes: index_dump walks
// every tag in the order the records' keys give.
TEST_F(TableReindexTest, TheCatalogueTablesBuildIndexesOtherToolsRead) {
  DATA4* files = data4create(&c, "dbfiles", kFilesFields, kFilesTags);
  DATA4* supports = data4create(&c, "dbsupport", kSupportFields, kSupportTags);
  DATA4* ids = data4create(&c, "dbid", kIdFields, kIdTags);
  ASSERT_TRUE(files && supports && ids);
  std::multiset<std::pair<std::string, int>> names, paths;
  for (int r = 1; r <= 3000; r++) {
    const int support = 1 + (r - 1) / 700;
    const std::string name = "img_" + std::to_string(random_() % 5000) + ".jpg";
    const std::string path = "/photos/" + std::to_string(random_() % 40) + "/";
    ASSERT_TRUE(append(files, {{"F_ID", std::to_string(r)},
                               {"F_NAME", name},
                               {"F_PATH", path},
                               {"F_SUPPID", std::to_string(support)}}));
    names.emplace(asciiUpper(name), r);
    const std::string pathKey = asciiUpper(path);
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%5d", support);
    paths.emplace(prefix + pathKey, r);
  }
  for (int s = 1; s <= 5; s++)
    ASSERT_TRUE(append(supports, {{"S_ID", std::to_string(s)}, {"S_VOL", "disc " + std::to_string(s)}}));
  ASSERT_TRUE(append(ids, {{"TBLNAME", "DBSUPPORT"}, {"IDINC", "5"}}));
  ASSERT_TRUE(append(ids, {{"TBLNAME", "DBFILES"}, {"IDINC", "3000"}}));
  for (DATA4* d : {files, supports, ids}) {
    ASSERT_EQ(index4reindex(firstIndexOf(d)), 0);
    ASSERT_EQ(data4close(d), 0);
  }

  auto dump = [](const std::string& type, const std::string& file, const std::string& tag) {
    int status = 0;
    const std::string out =
        runCommand("/usr/bin/index_dump --type " + type + " " + file + " " + tag, &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  };
  std::string expected;
  for (const auto& [key, record] : names) expected += key + " " + std::to_string(record) + "\n";
  EXPECT_EQ(dump("char", "dbfiles.cdx", "T_F_NAME"), expected);
  expected.clear();
  for (const auto& [key, record] : paths) expected += key + " " + std::to_string(record) + "\n";
  EXPECT_EQ(dump("char", "dbfiles.cdx", "T_SUP_PAT"), expected);
  expected.clear();
  for (int r = 1; r <= 3000; r++) expected += std::to_string(r) + " " + std::to_string(r) + "\n";
  EXPECT_EQ(dump("num", "dbfiles.cdx", "T_F_ID"), expected);
  const std::string bySupport = dump("num", "dbfiles.cdx", "T_F_SUPPID");
  EXPECT_EQ(std::count(bySupport.begin(), bySupport.end(), '\n'), 3000);
  EXPECT_EQ(bySupport.substr(0, 4), "1 1\n");
  EXPECT_EQ(dump("num", "dbsupport.cdx", "T_S_ID"), "1 1\n2 2\n3 3\n4 4\n5 5\n");
  EXPECT_EQ(dump("char", "dbid.cdx", "T_TBLNAME"), "DBFILES 2\nDBSUPPORT 1\n");
  for (const char* file : {"dbfiles.cdx", "dbsupport.cdx", "dbid.cdx"}) {
    const CdxReport report = checkCdxFile(file, {{"T_F_ID", 0}, {"T_F_SUPPID", 0}, {"T_S_ID", 0}});
    EXPECT_TRUE(report.ok()) << file << report.text();
  }
}

TEST_F(TableReindexTest, ZapRebuildsFromTheRecordsLeft) {
  DATA4* d = data4create(&c, "t", kFields, kTags);
  ASSERT_NE(d, nullptr);
  for (const char* name : {"one", "two", "three", "four", "five"})
    ASSERT_TRUE(append(d, {{"NAME", name}}));
  ASSERT_EQ(index4reindex(firstIndexOf(d)), 0);
  ASSERT_EQ(data4zap(d, 2, 3), 0);
  ASSERT_EQ(data4close(d), 0);
  const CdxReport report = checkCdxFile("t.cdx", {{"SIZE", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  std::vector<CdxEntry> expected = {{"FIVE", 3}, {"FOUR", 2}, {"ONE", 1}};
  for (CdxEntry& e : expected) e.key.resize(24, ' ');
  EXPECT_EQ(report.tag("NAME")->entries, expected);
}

// Keys of a tag in its order, by walking it.
std::vector<std::string> walk(TAG4FILE* t) {
  std::vector<std::string> keys;
  if (tagfile4top(t) != 0 || tagfile4eof(t)) return keys;
  do {
    const unsigned char* k = tagfile4keyEntry(t);
    keys.emplace_back(reinterpret_cast<const char*>(k), tagfile4keyLength(t));
  } while (tagfile4skip(t, 1) == 1);
  return keys;
}

// Tags that refuse null keys refuse duplicates as well: a rebuild that
// meets one ends the creation with 20 (quietly for 15, raised for -360).
TEST_F(TableReindexTest, TagsRefusingNullKeysRefuseDuplicatesWhenBuilt) {
  DATA4* d = data4create(&c, "t", kFields, nullptr);
  ASSERT_NE(d, nullptr);
  for (const char* name : {"same", "other", "same"}) ASSERT_TRUE(append(d, {{"NAME", name}}));
  const TAG4INFO quiet[] = {{"NAME", "NAME", nullptr, 15, 0}, {}};
  EXPECT_EQ(index4create(d, "q", quiet), nullptr);
  EXPECT_EQ(error4code(&c), r4unique);
  EXPECT_TRUE(recorder.errors().empty());
  clearError();
  const TAG4INFO raised[] = {{"NAME", "NAME", nullptr, -360, 0}, {}};
  EXPECT_EQ(index4create(d, "r", raised), nullptr);
  EXPECT_EQ(error4code(&c), r4unique);
  EXPECT_EQ(lastError().code, e4unique);
  clearError();
  EXPECT_FALSE(diskFileExists("q.cdx") || diskFileExists("r.cdx"));
  EXPECT_EQ(data4close(d), 0);
}

// With the general collation switched on, a key of text takes it (twice
// the bytes: weights, then accents), and a numeric key stays in machine
// order.
TEST_F(TableReindexTest, TextKeysTakeTheGeneralCollationWhenAsked) {
  c.collateGeneral = 1;
  DATA4* d = data4create(&c, "t", kFields, nullptr);
  ASSERT_NE(d, nullptr);
  for (const char* name : {"b", "\xe1", "A", "a", "B"}) ASSERT_TRUE(append(d, {{"NAME", name}}));
  const TAG4INFO tags[] = {{"NAME", "NAME", nullptr, 0, 0}, {"SIZE", "SIZE", nullptr, 0, 0}, {}};
  ASSERT_NE(index4create(d, nullptr, tags), nullptr);
  ASSERT_EQ(data4close(d), 0);
  const std::string cdx = readDiskFile("t.cdx");
  EXPECT_EQ(cdx.substr(1024 + 494, 8), std::string("GENERAL\0", 8));
  EXPECT_EQ(cdx.substr(2048 + 494, 8), std::string(8, '\0'));
  const CdxReport report = checkCdxFile("t.cdx", {{"NAME", 0}, {"SIZE", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_EQ(report.tag("NAME")->keyLength, 48);
  std::vector<uint32_t> order;
  for (const CdxEntry& e : report.tag("NAME")->entries) order.push_back(e.record);
  // Letters first without regard to case or accent; the accent then
  // decides between equal letters.
  EXPECT_EQ(order.size(), 5u);
  EXPECT_EQ(std::set<uint32_t>(order.begin(), order.begin() + 3), (std::set<uint32_t>{2, 3, 4}));
  EXPECT_EQ(order[2], 2u);
  EXPECT_EQ(std::set<uint32_t>(order.begin() + 3, order.end()), (std::set<uint32_t>{1, 5}));
}

// The progress of a rebuild read from another thread: between 0 and 1,
// growing and never going back while it runs, -1 before and after. At
// each of its ticks the rebuilding thread hands over to the reader and
// waits until it has read the progress, so that the reader sees every
// step whatever the scheduler does.
TEST_F(TableReindexTest, ThreadsReadingTheProgressSeeItGrow) {
  DATA4* d = data4create(&c, "t", kFields, kTags);
  ASSERT_NE(d, nullptr);
  for (int r = 1; r <= 20000; r++) ASSERT_TRUE(append(d, {{"NAME", std::to_string(r * 7 % 1000)}}));
  EXPECT_EQ(index4reindexProgress(&c), -1.0);
  struct Handover {
    std::mutex mutex;
    std::condition_variable changed;
    int ticks = 0;  // guarded by mutex, as are the fields below
    int read = 0;
    bool done = false;
  } handover;
  c.reindexProgress.tickContext = &handover;
  c.reindexProgress.tick = [](void* context) {
    auto& h = *static_cast<Handover*>(context);
    std::unique_lock lock(h.mutex);
    h.ticks++;
    h.changed.notify_all();
    h.changed.wait(lock, [&] { return h.read == h.ticks; });
  };
  std::vector<double> seen;
  std::thread reader([&] {
    std::unique_lock lock(handover.mutex);
    for (;;) {
      handover.changed.wait(lock, [&] { return handover.read < handover.ticks || handover.done; });
      if (handover.read == handover.ticks) return;
      seen.push_back(index4reindexProgress(&c));
      handover.read++;
      handover.changed.notify_all();
    }
  });
  EXPECT_EQ(index4reindex(firstIndexOf(d)), 0);
  {
    std::lock_guard lock(handover.mutex);
    handover.done = true;
    handover.changed.notify_all();
  }
  reader.join();
  c.reindexProgress.tick = nullptr;
  EXPECT_EQ(index4reindexProgress(&c), -1.0);
  ASSERT_GE(seen.size(), 4u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GE(seen.front(), 0.0);
  EXPECT_LT(seen.front(), seen.back());
  EXPECT_LE(seen.back(), 1.0);
  EXPECT_EQ(data4close(d), 0);
}

// A file of one tag without a tag of tags: its header at 0 is the tag's.
// It opens, and a rebuild keeps that form.
TEST_F(TableReindexTest, ASingleTagFileOpensAndRebuildsInItsOwnForm) {
  DATA4* d = data4create(&c, "t", kFields, nullptr);
  ASSERT_NE(d, nullptr);
  for (int r = 1; r <= 600; r++) ASSERT_TRUE(append(d, {{"NAME", "n" + std::to_string(r % 250)}}));
  const TAG4INFO one[] = {{"NAME", "UPPER(NAME)", nullptr, 0, 0}, {}};
  ASSERT_EQ(index4close(index4create(d, "one", one)), 0);
  // The tag's header moved to 0 without the compound option; the nodes stay
  // where they are.
  const std::string compound = readDiskFile("one.cdx");
  std::string header = compound.substr(1024, 1024);
  header[14] = static_cast<char>(header[14] & ~0x40);
  writeDiskFile("single.cdx", header + compound.substr(1024));

  INDEX4* single = index4open(d, "single");
  ASSERT_NE(single, nullptr);
  ASSERT_EQ(single->tags.nLink, 1u);
  TAG4FILE* t = reinterpret_cast<TAG4*>(list4first(&single->tags))->tagFile;
  const std::vector<std::string> before = walk(t);
  ASSERT_EQ(before.size(), 600u);
  ASSERT_TRUE(std::is_sorted(before.begin(), before.end()));
  ASSERT_EQ(index4reindex(single), 0);
  EXPECT_EQ(walk(t), before);
  ASSERT_EQ(data4close(d), 0);
  const std::string rebuilt = readDiskFile("single.cdx");
  EXPECT_EQ(rebuilt[14], 0x20);
  EXPECT_LT(rebuilt.size(), compound.size());
}

constexpr int32_t kChildRecords = 10000;

// The child's part: appends to DBFILES, opened exclusively, until killed.
[[noreturn]] void appendUntilKilled() {
  CODE4 own;
  if (code4initLow(&own, nullptr, code4libraryVersion, code4structSize, 1) != 0) _exit(2);
  own.accessMode = 1;
  DATA4* d = data4open(&own, "dbfiles");
  if (d == nullptr) _exit(3);
  for (int32_t r = 1; r <= kChildRecords; r++) {
    const std::string name = "file " + std::to_string(r);
    const std::string path = "/photos/" + std::to_string(r % 50) + "/";
    if (data4appendStart(d, 0) != 0 || data4blank(d) != 0 ||
        field4assignLong(data4field(d, "F_ID"), r) != 0 ||
        field4assign(data4field(d, "F_NAME"), name.c_str()) != 0 ||
        field4assign(data4field(d, "F_PATH"), path.c_str()) != 0 ||
        field4assignLong(data4field(d, "F_SUPPID"), 1 + r / 500) != 0 || data4append(d) != 0)
      _exit(4);
  }
  _exit(0);
}

uint64_t wholeRecords(uint64_t headerLength, uint64_t recordLength) {
  const uint64_t size = std::filesystem::file_size("dbfiles.dbf");
  return size < headerLength ? 0 : (size - headerLength) / recordLength;
}

// A child appends 10,000 records to a DBFILES-shaped table it holds
// exclusively and is killed with SIGKILL at a random moment. The table
// then opens with every whole record, and its production index, rebuilt
// on that open, holds exactly those records in every tag.
TEST_F(TableReindexTest, AKilledAppenderLeavesATableThatOpensWithEveryWholeRecordIndexed) {
  DATA4* d = data4create(&c, "dbfiles", kFilesFields, kFilesTags);
  ASSERT_NE(d, nullptr);
  const uint64_t headerLength = d->dataFile->header.headerLength;
  const uint64_t recordLength = d->dataFile->recordLength;
  ASSERT_EQ(data4close(d), 0);
  const uint64_t killAt = std::random_device()() % (kChildRecords - 1000);
  SCOPED_TRACE("killed after " + std::to_string(killAt) + " records");

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) appendUntilKilled();
  int status = 0;
  while (wholeRecords(headerLength, recordLength) < killAt && waitpid(child, &status, WNOHANG) == 0)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
  const auto whole = static_cast<int32_t>(wholeRecords(headerLength, recordLength));

  d = data4open(&c, "dbfiles");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(data4recCount(d), whole);
  for (int32_t r = 1; r <= whole; r++) {
    ASSERT_EQ(data4go(d, r), 0);
    ASSERT_EQ(field4long(data4field(d, "F_ID")), r);
  }
  ASSERT_EQ(data4close(d), 0);
  const CdxReport report = checkCdxFile("dbfiles.cdx", {{"T_F_ID", 0}, {"T_F_SUPPID", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  for (const CdxTagReport& tag : report.tags) {
    std::set<uint32_t> records;
    for (const CdxEntry& e : tag.entries) records.insert(e.record);
    EXPECT_EQ(tag.entries.size(), static_cast<size_t>(whole)) << tag.name;
    EXPECT_EQ(records.size(), static_cast<size_t>(whole)) << tag.name;
    if (!records.empty()) {
      EXPECT_EQ(*records.rbegin(), static_cast<uint32_t>(whole)) << tag.name;
    }
  }
}

}  // namespace
