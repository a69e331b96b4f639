// Storing a walked medium in the catalogue when the disk cannot take it:
// a disk of the test's double, and a real small file system filled by an
// insertion and by an import; and the catalogue read afterwards.
#include "features/indexing/MediumIndexing.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "catalog/Cberrorhook.h"
#include "features/archive/ArchiveImport.h"
#include "features/browser/SupportBrowser.h"
#include "features/indexing/DirEnumerator.h"
#include "features/search/FileSearch.h"
#include "platform/os.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/features/catalogue_fixture.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"
#include "tests/support/program_boxes.h"
#include "tests/support/reader_agreement.h"

namespace {

using testing_support::FeatureCatalogueTest;

constexpr int kCannotMount = 77;

// A folder of `count` small files.
void makeMedium(const std::string& folder, int count) {
  std::filesystem::create_directories(folder);
  for (int i = 0; i < count; i++)
    std::ofstream(folder + "/file" + std::to_string(i) + ".txt") << std::string(i % 50, 'x');
}

// A file system of `kilobytes` at `folder`, in a mount namespace of the
// calling process's own (it goes with the process); or larger again.
bool mountSmallDisk(const std::string& folder, int kilobytes, bool again = false) {
  const std::string size = "size=" + std::to_string(kilobytes) + "k";
  if (again) return mount("small", folder.c_str(), "tmpfs", MS_REMOUNT, size.c_str()) == 0;
  std::filesystem::create_directories(folder);
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("small", folder.c_str(), "tmpfs", 0, size.c_str()) == 0;
}

// What is wrong with the catalogue in `folder` as the next start finds it:
// it opens, reports at most once, and the independent readers agree with
// it. On a disk still full, the file table may wait for room to rebuild
// its index (the disk keeps it as it was, marked, and other tools read its
// records alone until then).
std::string startProblems(CODE4& c, const std::string& folder, bool full = false) {
  testing_support::ErrorRecorder recorder(true);
  std::string problems;
  size_t messages = 0;
  {
    TDBWrapper db(c, folder);
    if ((!full && db.Files().Handle() == nullptr) || db.Supports().Handle() == nullptr)
      problems += "a table does not open\n";
    // The start's repairs are said in one message.
    messages = db.StartReport().empty() ? 0 : 1;
  }
  if (recorder.errors().size() + messages > 1) {
    problems += std::to_string(recorder.errors().size() + messages) + " reports at the start:";
    for (const auto& e : recorder.errors())
      problems += " " + std::to_string(e.code) + "@" + std::to_string(e.location);
    problems += "\n";
  }
  return full ? problems : problems + testing_support::catalogueDisagrees(folder);
}

// The disk fills while a medium is stored: the catalogue's final write
// reports it once for each table it could not write, not once for every
// block it holds, and keeps the rows for a later write. The entries it
// calls recorded are those a start after a death at this moment keeps.
TEST_F(FeatureCatalogueTest, ADiskFullWhileAMediumIsStoredIsReportedOnceATable) {
  std::filesystem::create_directory("medium");
  for (int i = 0; i < 400; i++) std::ofstream("medium/file" + std::to_string(i) + ".txt") << i;
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate("medium"), 400);
  for (const int64_t room : {4 * 1024, 16 * 1024, 40 * 1024}) {
    SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
    std::filesystem::remove_all("died");
    TInsertionResult result;
    {
      testing_support::FakeOs os;
      platform::ScopedOs scoped(os);
      os.diskSpace = room;
      result = InsertScan(*db, walk, TVolumeInfo(), "", "", nullptr);
      // The disk as a death now leaves it.
      std::filesystem::copy("data", "died");
    }
    ASSERT_GE(result.supportId, 1);
    EXPECT_EQ(result.stored + result.failed, 400);
    EXPECT_FALSE(result.written);
    EXPECT_LE(recorder.errors().size(), 3u);  // one a table at most
    recorder.clear();
    {
      CODE4 other;
      ASSERT_EQ(code4initLow(&other, nullptr, 6502, 1611, 1), 0);
      {
        TDBWrapper died(other, "died");
        int32_t kept = 0;
        int64_t size = 0;
        TSupportRecord support;
        if (died.ReadSupportById(result.supportId, support)) {
          ASSERT_TRUE(died.CountFilesOfSupport(result.supportId, kept, size));
          EXPECT_EQ(support.fileCount, kept);
        }
        EXPECT_EQ(result.recorded, kept);
      }
      code4initUndo(&other);
    }
    EXPECT_EQ(testing_support::catalogueDisagrees("died"), "");
    ASSERT_TRUE(db->FlushAll());
    int32_t rows = 0;
    for (bool more = db->FindFirstFileOfSupport(result.supportId) == TFound::kRecord; more;
         more = db->NextFile() == TFound::kRecord)
      rows++;
    EXPECT_EQ(rows, result.stored);
  }
}

// The hits of a search, counted by support.
class HitsBySupport : public SearchObserver {
 public:
  void Started(int32_t) override {}
  void HitsFound(std::span<const SearchHit> hits) override {
    for (const SearchHit& hit : hits) counts[hit.supportId]++;
  }
  void Pause(int32_t) override {}
  int32_t HitLimit() override { return INT32_MAX; }
  bool StopRequested() override { return false; }
  std::map<int32_t, int32_t> counts;
};

// Where another tool cannot read an index of the catalogue in `folder`
// through (index_dump walking each tag): a tag that names a node its file
// does not hold, one a full disk kept from it.
std::string indexesOtherToolsCannotRead(const std::string& folder) {
  std::string problems;
  for (const auto& [table, tag, type] : {std::tuple{"DBFILES", "T_F_ID", "num"},
                                         {"DBFILES", "T_F_SUPPID", "num"},
                                         {"DBFILES", "T_SUP_PAT", "char"},
                                         {"DBFILES", "T_F_NAME", "char"},
                                         {"DBSUPPORT", "T_S_ID", "num"},
                                         {"DBID", "T_TBLNAME", "char"}}) {
    int status = 0;
    const std::string out =
        testing_support::runCommand(std::string("/usr/bin/index_dump --type ") + type + " " +
                                        folder + "/" + table + ".cdx " + tag + " 2>&1 >/dev/null",
                                    &status);
    if (status != 0 || !out.empty()) problems += std::string(tag) + ": " + out + "\n";
  }
  return problems;
}

// Every medium read as the windows read it, with what it holds: the list's
// row, the browser's rows and listing, the search and the statistics.
void readsEveryMedium(TDBWrapper& db, const std::map<int32_t, int32_t>& stored) {
  db.CountSupports();
  ASSERT_EQ(db.GetSupportCount(), static_cast<int32_t>(stored.size()));
  int64_t files = 0;
  for (const auto& [id, count] : stored) {
    SCOPED_TRACE("medium " + std::to_string(id));
    TSupportRecord support;
    EXPECT_TRUE(db.GotoSupport(id));
    db.ReadCurrentSupport(support);
    EXPECT_EQ(support.id, id);
    EXPECT_EQ(support.fileCount, count);
    SupportBrowser browser(db);
    browser.LoadSupport(id);
    EXPECT_EQ(browser.FileCount(), count);
    EXPECT_EQ(browser.ListNode(browser.Tree().Root()).items.size(), static_cast<size_t>(count));
    files += count;
  }
  HitsBySupport search;
  SearchCriteria criteria;
  criteria.mask = "file*";
  FileSearch(db).Run(criteria, search);
  EXPECT_EQ(search.counts, stored);
  const TSupportTotals totals = db.SumSupports();
  EXPECT_EQ(totals.supports, static_cast<int32_t>(stored.size()));
  EXPECT_EQ(totals.files, files);
}

// The disk fills while a medium is stored, after the rows held in memory
// filled the cache (a small one: a few hundred rows fill it as tens of
// thousands fill the program's). The running program still reads every
// medium as its windows do, with no error, the medium the disk refused
// with what was stored, on the disk or waiting for it, and nothing refused.
// Then room comes back while it runs, and the next flush writes what
// waited; or the program ends with the disk still full: the index files it
// leaves are sound for other tools, and a start on the still-full disk
// reads every medium the same way (what waited is lost), saying so in one
// message in words and no engine box; once there is room, the next start
// puts every index right and the one after says nothing.
TEST_F(FeatureCatalogueTest, AfterTheDiskRefusedAMediumEveryStoredMediumReads) {
  makeMedium("alpha", 2000);
  makeMedium("beta", 3000);
  DirEnumerator alpha;
  DirEnumerator beta;
  alpha.Enumerate("alpha");
  beta.Enumerate("beta");
  // The disk fills early or late in the insertion: a few or many of the
  // cache's write-outs reach it first.
  size_t startsInMemory = 0;
  for (const int64_t fullAt : {5, 20, 60, 150}) {
    for (const bool endsFull : {false, true}) {
      SCOPED_TRACE("the disk full at write " + std::to_string(fullAt) +
                   (endsFull ? ", the program ends so" : ", room again"));
      db.reset();
      std::filesystem::remove_all("data");
      std::filesystem::create_directory("data");
      code4cacheSuspend(&c);
      testing_support::startSmallCache(c);
      db = std::make_unique<TDBWrapper>(c, "data");
      ASSERT_TRUE(InsertScan(*db, alpha, TVolumeInfo(), "", "", nullptr).written);
      testing_support::FakeOs os;
      platform::ScopedOs scoped(os);
      os.fillDiskAtWrite(fullAt);
      const TInsertionResult refused = InsertScan(*db, beta, TVolumeInfo(), "", "", nullptr);
      ASSERT_GT(refused.failed, 0);
      ASSERT_FALSE(refused.written);
      ASSERT_LT(refused.recorded, refused.stored);
      recorder.clear();
      readsEveryMedium(*db, {{1, 2000}, {2, refused.stored}});
      EXPECT_TRUE(recorder.errors().empty());

      if (!endsFull) {
        os.fillDiskAtWrite(0);
        EXPECT_TRUE(db->FlushAll());
        db.reset();
        db = std::make_unique<TDBWrapper>(c, "data");
        int32_t kept = 0;
        int64_t size = 0;
        ASSERT_TRUE(db->CountFilesOfSupport(2, kept, size));
        EXPECT_EQ(kept, refused.stored);
        EXPECT_TRUE(recorder.errors().empty());
        continue;
      }
      size_t inMemory = 0;  // lines of a start that kept an index in memory
      // A medium none of whose files reached the disk is not kept.
      std::map<int32_t, int32_t> kept = {{1, 2000}};
      if (refused.recorded > 0) kept[2] = refused.recorded;
      {
        testing_support::ProgramBoxes boxes;
        db.reset();
        EXPECT_EQ(indexesOtherToolsCannotRead("data"), "");
        db = std::make_unique<TDBWrapper>(c, "data");
        for (const TStartRepair& repair : db->StartReport())
          inMemory += repair.kind == TStartRepair::Kind::kIndexInMemory ? 1 : 0;
        EXPECT_LE(inMemory, 1u);
        readsEveryMedium(*db, kept);
        EXPECT_EQ(boxes.boxes(), std::vector<std::string>());
        EXPECT_LE(boxes.refusals().size(), 1u);
        for (const TChangeRefusal& refusal : boxes.refusals())
          EXPECT_EQ(refusal.why, TChangeRefusal::Why::kWriteRefused);
      }
      os.fillDiskAtWrite(0);
      db.reset();
      db = std::make_unique<TDBWrapper>(c, "data");
      // Room again: an index left in memory is put right on the disk, and
      // said, with the cause: the disk had no room.
      bool finished = false;
      for (const TStartRepair& repair : db->StartReport()) {
        if (repair.kind != TStartRepair::Kind::kIndexFinished) continue;
        finished = true;
        EXPECT_EQ(repair.error, ENOSPC);
      }
      EXPECT_EQ(finished, inMemory > 0);
      startsInMemory += inMemory;
      EXPECT_TRUE(db->MayChange());
      readsEveryMedium(*db, kept);
      db.reset();
      db = std::make_unique<TDBWrapper>(c, "data");
      EXPECT_TRUE(db->StartReport().empty());
      db.reset();
      EXPECT_EQ(testing_support::catalogueDisagrees("data"), "");
      db = std::make_unique<TDBWrapper>(c, "data");
    }
  }
  // The disk kept the file index marked at least once: a start read it from memory.
  EXPECT_GT(startsInMemory, 0u);
}

// One bit of DBFILES.cdx damaged (the tag of tags' option): the catalogue
// says so once as it opens, makes the index anew, and a medium indexed then
// is stored with every entry, which another tool finds in the index.
TEST_F(FeatureCatalogueTest, AMediumIsStoredWholeAfterADamagedIndexIsRebuilt) {
  db.reset();
  std::string index;
  for (const auto& entry : std::filesystem::directory_iterator("data"))
    if (entry.path().filename().string() == "DBFILES.cdx") index = entry.path().string();
  ASSERT_FALSE(index.empty());
  std::string bytes = testing_support::readDiskFile(index);
  ASSERT_EQ(bytes[14], '\xE0');
  bytes[14] = 0x60;
  testing_support::writeDiskFile(index, bytes);
  recorder.clear();
  db = std::make_unique<TDBWrapper>(c, "data");
  EXPECT_TRUE(recorder.errors().empty());
  ASSERT_EQ(db->StartReport().size(), 1u);
  EXPECT_EQ(db->StartReport()[0].kind, TStartRepair::Kind::kIndexRebuilt);
  EXPECT_NE(db->StartReport()[0].file.find("DBFILES"), std::string::npos);

  std::filesystem::create_directory("medium");
  for (int i = 0; i < 30; i++) std::ofstream("medium/file" + std::to_string(i) + ".txt") << i;
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate("medium"), 30);
  const TInsertionResult result = InsertScan(*db, walk, TVolumeInfo(), "", "", nullptr);
  EXPECT_EQ(result.supportId, 1);
  EXPECT_EQ(result.stored, 30);
  EXPECT_EQ(result.failed, 0);
  EXPECT_TRUE(result.written);
  EXPECT_TRUE(recorder.errors().empty());
  db.reset();
  int status = 0;
  const std::string keys = testing_support::runCommand(
      "/usr/bin/index_dump --type num " + index + " T_F_SUPPID", &status);
  EXPECT_EQ(status, 0) << keys;
  EXPECT_EQ(std::count(keys.begin(), keys.end(), '\n'), 30) << keys;
}

std::vector<std::string> codeBoxes;

void keepCodeBox(const std::string&, const std::string& text) { codeBoxes.push_back(text); }

// DBFILES.cdx grown, sparse, to within a few nodes of the last its 32-bit
// block numbers can name (about 98 million files' worth): an insertion and
// an import stop at the first file it cannot take, which the program's
// error hook tells once, in words and not by a code, with every row stored
// before it written, counted, and found by the independent readers.
TEST(IndexLimitTest, AnIndexThatCanGrowNoMoreRefusesTheRestOnceInWords) {
  constexpr int kEntries = 3000;
  makeMedium("medium", kEntries);
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate("medium"), kEntries);
  std::string archive =
      testing_support::header(1) + testing_support::volumeBlock("BIG", 9, kEntries);
  for (int i = 0; i < kEntries; i++) archive += testing_support::fileBlock("f" + std::to_string(i));
  testing_support::writeDiskFile("big.cex", archive);
  // The last node a block number can name starts at 0xFFFFFC00. The room
  // left decides whether the first refusal meets a leaf, a branch or a
  // root being split.
  const struct {
    bool import;
    int nodes;  // the room left
  } cases[] = {{false, 1}, {true, 3}, {true, 7}};
  for (const auto& [import, nodes] : cases) {
    SCOPED_TRACE((import ? "import, room for " : "insertion, room for ") + std::to_string(nodes));
    std::filesystem::remove_all("data");
    std::filesystem::create_directory("data");
    CODE4 c;
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    {
      TDBWrapper db(c, "data");
      ASSERT_GE(testing_support::AddScannedSupport(db, "SMALL", 5), 1);
    }
    std::filesystem::resize_file("data/DBFILES.cdx", 0xFFFFFE00ull - nodes * 512ull);
    const Error4Hook previousHook = error4hookSet(&error4hook);
    const DbErrorPresenter previousPresenter = SetDbErrorPresenter(&keepCodeBox);
    codeBoxes.clear();
    testing_support::RefusalRecorder refusals;
    int32_t support = -1, stored = 0;
    {
      TDBWrapper db(c, "data");
      if (import) {
        const archive::ImportResult result = archive::ImportArchive(db, "big.cex", {});
        EXPECT_EQ(result.status, archive::ImportStatus::kWriteFailed);
        EXPECT_EQ(result.refusedFiles, 1);
        EXPECT_EQ(result.filesUnwritten, 0);
        EXPECT_EQ(result.counts.supportsAdded, 1);
        stored = result.counts.filesAdded;
        support = 2;
      } else {
        const TInsertionResult result = InsertScan(db, walk, TVolumeInfo(), "", "", nullptr);
        EXPECT_TRUE(result.written);
        EXPECT_EQ(result.recorded, result.stored);
        EXPECT_EQ(result.stored + result.failed, kEntries);
        stored = result.stored;
        support = result.supportId;
      }
      EXPECT_LT(stored, kEntries);
    }
    EXPECT_EQ(codeBoxes, std::vector<std::string>());
    ASSERT_EQ(refusals.refusals().size(), 1u);
    EXPECT_EQ(refusals.refusals()[0].why, TChangeRefusal::Why::kIndexFull);
    EXPECT_TRUE(refusals.refusals()[0].file.ends_with("/data/DBFILES.cdx"))
        << refusals.refusals()[0].file;
    {
      TDBWrapper db(c, "data");
      EXPECT_TRUE(db.StartReport().empty());
      TSupportRecord row;
      ASSERT_TRUE(db.ReadSupportById(support, row));
      int32_t found = 0;
      int64_t size = 0;
      ASSERT_TRUE(db.CountFilesOfSupport(support, found, size));
      EXPECT_EQ(found, stored);
      EXPECT_EQ(row.fileCount, stored);
    }
    EXPECT_EQ(codeBoxes, std::vector<std::string>());
    EXPECT_EQ(refusals.refusals().size(), 1u);
    SetDbErrorPresenter(previousPresenter);
    error4hookSet(previousHook);
    code4initUndo(&c);
    EXPECT_EQ(testing_support::catalogueDisagrees("data"), "");
  }
  std::filesystem::remove_all("data");
}

// A real file system that fills while a medium is stored, and then while
// an archive is imported: the insertion says what it stored; the next
// start in place, with the disk still full, opens the catalogue and
// reports at most once; once there is room again, the next start reports
// at most once, agrees with the readers and takes new media.
TEST(RealFullDiskTest, AFilledFileSystemLeavesACatalogueThatAgreesAndTakesNewMedia) {
  makeMedium("medium", 2000);
  makeMedium("small medium", 20);
  std::string archive = testing_support::header(3);
  for (const char* name : {"GAMMA", "DELTA", "EPSILON"}) {
    archive += testing_support::volumeBlock(name, 7, 700);
    for (int i = 0; i < 700; i++)
      archive +=
          testing_support::fileBlock(name + std::to_string(i), i, "\\" + std::string(name) + "\\");
  }
  testing_support::writeDiskFile("whole.cex", archive);
  std::string problems;
  const int exit = testing_support::inChildProcess([&](CODE4& c, testing_support::FakeOs&) {
    if (!mountSmallDisk("disk", 512)) return kCannotMount;
    std::filesystem::create_directory("disk/data");
    auto note = [&](const std::string& what, const std::string& found) {
      if (!found.empty()) problems += what + ": " + found + "\n";
    };
    testing_support::ErrorRecorder recorder(true);
    DirEnumerator walk;
    walk.Enumerate("medium");
    {
      TDBWrapper db(c, "disk/data");
      const TInsertionResult result = InsertScan(db, walk, TVolumeInfo(), "", "", nullptr);
      if (result.failed == 0 && result.written) note("insertion", "the disk never filled");
      TSupportRecord support;
      if (db.ReadSupportById(result.supportId, support) && support.fileCount != result.stored)
        note("insertion", "the support says " + std::to_string(support.fileCount));
    }
    // The next start with the disk still full, then with room again, when
    // a new medium is stored whole.
    auto startsThenTakesNewMedia = [&](const std::string& what) {
      note(what + ", full, in place", startProblems(c, "disk/data", true));
      if (!mountSmallDisk("disk", 16384, true)) return false;
      note(what + ", room again", startProblems(c, "disk/data"));
      TDBWrapper db(c, "disk/data");
      DirEnumerator small;
      small.Enumerate("small medium");
      const TInsertionResult result = InsertScan(db, small, TVolumeInfo(), "", "", nullptr);
      if (result.failed != 0 || !result.written) note(what + ", a new medium", "not stored");
      return true;
    };
    if (!startsThenTakesNewMedia("insertion")) return kCannotMount;
    {
      TDBWrapper db(c, "disk/data");
      db.EmptyBase();
    }
    // The import meets the full disk: the file system made small again.
    if (!mountSmallDisk("disk", 512, true)) return kCannotMount;
    {
      TDBWrapper db(c, "disk/data");
      const archive::ImportResult result = archive::ImportArchive(db, "whole.cex", {});
      if (result.status != archive::ImportStatus::kWriteFailed)
        note("import", "did not fail: " + std::to_string(static_cast<int>(result.status)) + " " +
                           std::to_string(result.counts.filesAdded));
    }
    if (!startsThenTakesNewMedia("import")) return kCannotMount;
    note("at last", startProblems(c, "disk/data"));
    testing_support::writeDiskFile("problems.txt", problems);
    return 0;
  });
  if (exit == kCannotMount) GTEST_SKIP() << "no small file system can be mounted here (needs root)";
  ASSERT_EQ(exit, 0);
  EXPECT_EQ(testing_support::readDiskFile("problems.txt"), "");
}

}  // namespace
