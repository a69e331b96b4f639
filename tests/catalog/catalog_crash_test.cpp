// Process deaths at every write of the catalogue's operations, and disks
// that fill at every write, run as the program runs them (tables opened
// exclusively, the block cache holding their writes). The next start finds
// every change stored before the operation, and the operation undone,
// done, or for an insertion a support that says exactly what it holds; the
// independent readers agree with the tags, find no file row of a support
// that is not listed, and every support's count and size those of its rows.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Dbfieldvalues.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

constexpr int kDied = 42;
const char* const kFolder = "data";
const char* const kExtensions[] = {".dbf", ".cdx", ".fpt"};
constexpr int kManyFiles = 300;
// The enumerations of every write run in this many shards, each far from
// its time limit under the address sanitizer on a busy machine.
constexpr int kShards = 4;

using Operation = std::function<bool(TDBWrapper&)>;

// What a table holds, one record a line: its number, '*' when deleted,
// and the fields that `describe` picks.
std::string tableText(CODE4& c, const std::string& table,
                      const std::function<std::string(DATA4*)>& describe) {
  DATA4* d = data4open(&c, (std::string(kFolder) + "/" + table).c_str());
  if (d == nullptr) return table + " does not open\n";
  std::string text;
  for (int32_t n = 1; n <= data4recCount(d); n++) {
    if (data4go(d, n) != 0) return text + "record " + std::to_string(n) + " does not read\n";
    text += std::to_string(n) + (data4deleted(d) ? "*" : " ") + describe(d) + "\n";
  }
  data4close(d);
  return text;
}

std::string field(DATA4* d, const char* name) {
  return std::to_string(field4long(data4field(d, name)));
}

class CatalogCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    c.accessMode = 1;
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
  }
  void TearDown() override { code4initUndo(&c); }

  // Two supports of three files each, stored and closed.
  void make() {
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    kept.clear();
    {
      TDBWrapper db(c, kFolder);
      ASSERT_EQ(AddScannedSupport(db, "ALPHA", 3), 1);
      ASSERT_EQ(AddScannedSupport(db, "BETA", 3), 2);
    }
    kept = keepFolder(kFolder);
  }
  void restore() { restoreFolder(kFolder, kept); }

  // Runs `operation` on the catalogue in a child that dies at its write
  // `k` (0: never), and ends without closing. Returns the child's exit
  // code, or with k = 0 the count of writes the operation made.
  static int runDying(const Operation& operation, int k) {
    return inChildProcess([&](CODE4& own, FakeOs& fake) {
      startSmallCache(own);
      auto* db = new TDBWrapper(own, kFolder);  // never closed: the process ends
      fake.exitAtWrite(k, kDied);
      if (!operation(*db)) return 92;
      return k == 0 ? static_cast<int>(fake.writesSeen()) : 0;
    });
  }

  // The catalogue as the next start finds it, after it has opened once
  // (healing what it must), checked by the independent readers: the rows
  // of DBFILES and DBSUPPORT.
  std::string reopened() {
    { TDBWrapper db(c, kFolder); }
    EXPECT_EQ(catalogueDisagrees(kFolder), "");
    return rows();
  }
  std::string rows() {
    return tableText(c, "DBFILES",
                     [](DATA4* d) { return field(d, "F_ID") + " " + field(d, "F_SUPPID"); }) +
           "--\n" + tableText(c, "DBSUPPORT", [](DATA4* d) {
             return field(d, "S_ID") + " " + field(d, "S_SIZE") + " " + field(d, "S_FCOUNT") + " " +
                    catalog::fieldText(data4field(d, "S_USRID"));
           });
  }

  // Dies at each write of the operation in turn from `first` on (of
  // shard `shard` only, unless it is -1); `acceptable` judges what the next
  // start finds, given the rows before and after a whole run.
  void dieAtEveryWrite(const Operation& operation,
                       const std::function<void(const std::string&, const std::string&,
                                                const std::string&)>& acceptable,
                       int first = 1, int shard = -1) {
    make();
    const std::string before = reopened();
    restore();
    const int writes = runDying(operation, 0);
    ASSERT_GT(writes, 0);
    ASSERT_LT(writes, 150);
    restore();
    ASSERT_EQ(runDying(operation, writes + 1), 0);
    const std::string after = reopened();
    ASSERT_NE(after, before);
    for (int k = first; k <= writes; k++) {
      if (shard >= 0 && k % kShards != shard) continue;
      SCOPED_TRACE("died at write " + std::to_string(k) + " of " + std::to_string(writes));
      restore();
      ASSERT_EQ(runDying(operation, k), kDied);
      acceptable(before, after, reopened());
    }
  }

  ErrorRecorder recorder{true};
  CODE4 c;
  FolderFiles kept;
};

void undoneOrDone(const std::string& before, const std::string& after, const std::string& found) {
  if (found != before) {
    EXPECT_EQ(found, after);
  }
}

// The rows stored before are all there, whatever became of the rest.
void keptBefore(const std::string& before, const std::string&, const std::string& found) {
  const size_t files = before.find("--");
  EXPECT_EQ(found.substr(0, files), before.substr(0, files));
  const std::string supports = before.substr(files + 3);
  EXPECT_EQ(found.substr(found.find("--") + 3, supports.size()), supports);
}

class CatalogCrashShardTest : public CatalogCrashTest, public ::testing::WithParamInterface<int> {};

// An insertion of a few hundred files, its rows spilling from the cache
// before its flush, then a deletion and an emptying (finished by the next
// start once begun), and an update.
TEST_P(CatalogCrashShardTest, ADeathAtAnyWriteLeavesEachOperationUndoneDoneOrTrue) {
  const struct {
    const char* what;
    Operation operation;
    void (*acceptable)(const std::string&, const std::string&, const std::string&);
  } cases[] = {
      {"insertion",
       [](TDBWrapper& db) { return AddScannedSupport(db, "GAMMA", kManyFiles) == 3 && db.FlushAll(); },
       keptBefore},
      {"deletion", [](TDBWrapper& db) { return db.DeleteSupport(1); }, undoneOrDone},
      {"emptying", [](TDBWrapper& db) { return db.EmptyBase(); }, undoneOrDone},
      {"update",
       [](TDBWrapper& db) { return db.UpdateSupportInfo(1, "renamed", std::string(700, 'y')); },
       undoneOrDone},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    dieAtEveryWrite(test.operation, test.acceptable, 1, GetParam());
  }
}

// An import flushes after each support: a death after GAMMA's flush, in
// DELTA's rows, keeps GAMMA whole.
TEST_F(CatalogCrashTest, ADeathAfterAFlushKeepsTheSupportsStoredBeforeIt) {
  auto first = [](TDBWrapper& db) { return AddScannedSupport(db, "GAMMA", 3) == 3 && db.FlushAll(); };
  make();
  const int flushed = runDying(first, 0);
  restore();
  dieAtEveryWrite(
      [&](TDBWrapper& db) { return first(db) && AddScannedSupport(db, "DELTA", 3) == 4; },
      [&](const std::string&, const std::string&, const std::string& found) {
        for (const char* row : {"\n7 7 3\n", "\n8 8 3\n", "\n9 9 3\n", "\n3 3 3 3 GAMMA\n"})
          EXPECT_NE(found.find(row), std::string::npos) << row << found;
      },
      flushed + 1);
}

// A disk that fills at any write of an insertion and its flush, then either
// stays full until the catalogue closes or has room again before: the
// failure is shown, and the next start finds the support whole, absent, or
// saying what it holds, and takes a new support.
TEST_P(CatalogCrashShardTest, ADiskThatFillsAtAnyWriteOfAnInsertionLeavesACatalogueThatAgrees) {
  make();
  const std::string before = reopened();
  auto insert = [](TDBWrapper& db) {
    return AddScannedSupport(db, "GAMMA", kManyFiles) == 3 && db.FlushAll();
  };
  restore();
  const int writes = runDying(insert, 0);
  ASSERT_GT(writes, 0);
  for (int k = 1 + GetParam(); k <= writes; k += kShards) {
    for (const bool roomAgain : {false, true}) {
      SCOPED_TRACE("full at write " + std::to_string(k) + " of " + std::to_string(writes) +
                   (roomAgain ? ", room again before the close" : ", full until the close"));
      restore();
      recorder.clear();
      const int exit = inChildProcess([&](CODE4& own, FakeOs& fake) {
        startSmallCache(own);
        auto db = std::make_unique<TDBWrapper>(own, kFolder);
        fake.fillDiskAtWrite(k);
        const bool stored = insert(*db);
        if (roomAgain) {
          fake.fillDiskAtWrite(0);
          if (!db->FlushAll()) return 93;
        }
        return stored ? 0 : 1;
      });
      // Late writes only write over what the files hold: they pass.
      ASSERT_TRUE(exit == 0 || exit == 1) << exit;
      const std::string found = reopened();
      keptBefore(before, "", found);
      TDBWrapper db(c, kFolder);
      EXPECT_GE(AddScannedSupport(db, "DELTA", 2), 3);
    }
  }
}

// A disk that fills at any write of an emptying, then has room again for
// a flush: an emptying it stopped stays pending, and the next start
// completes it, so that no support is ever left listed without its files.
TEST_F(CatalogCrashTest, AnEmptyingTheDiskStoppedIsCompletedByTheNextStart) {
  make();
  const std::string before = reopened();
  auto emptyOnAFillingDisk = [&](int64_t k, int64_t* writes) {
    TDBWrapper db(c, kFolder);
    FakeOs os;
    platform::ScopedOs scoped(os);
    os.fillDiskAtWrite(k);
    const bool emptied = db.EmptyBase();
    if (writes != nullptr) *writes = os.writesSeen();
    os.fillDiskAtWrite(0);
    EXPECT_TRUE(db.FlushAll());
    return emptied;
  };
  restore();
  int64_t writes = 0;
  ASSERT_TRUE(emptyOnAFillingDisk(0, &writes));
  ASSERT_GT(writes, 2);
  for (int64_t k = 1; k <= writes; k++) {
    SCOPED_TRACE("full at write " + std::to_string(k) + " of " + std::to_string(writes));
    restore();
    recorder.clear();
    const bool emptied = emptyOnAFillingDisk(k, nullptr);
    const std::string found = reopened();
    if (found != "--\n") {
      EXPECT_FALSE(emptied);
      EXPECT_EQ(found, before);
    }
  }
}

// A catalogue whose id table was lost (made anew) gets its counters back
// from the largest ids in use as it opens: a death at any write of that leaves
// counters that never hand out an id in use.
TEST_F(CatalogCrashTest, ADeathWhileCountersAreRaisedNeverReusesAnId) {
  make();
  // The id table as a new catalogue makes it: no counter yet.
  std::filesystem::create_directory("fresh");
  { TDBWrapper fresh(c, "fresh"); }
  for (const char* extension : kExtensions) {
    const std::string name = std::string("fresh/DBID") + extension;
    kept.erase(std::string(kFolder) + "/DBID" + extension);
    if (std::filesystem::exists(name))
      kept[std::string(kFolder) + "/DBID" + extension] = readDiskFile(name);
  }
  auto open = [](int k) {
    return inChildProcess([&](CODE4& own, FakeOs& fake) {
      fake.exitAtWrite(k, kDied);
      new TDBWrapper(own, kFolder);  // never closed: the process ends
      return k == 0 ? static_cast<int>(fake.writesSeen()) : 0;
    });
  };
  restore();
  const int writes = open(0);
  ASSERT_GT(writes, 0);
  ASSERT_LT(writes, 90);
  for (int k = 1; k <= writes + 1; k++) {
    SCOPED_TRACE("died at write " + std::to_string(k) + " of " + std::to_string(writes));
    restore();
    ASSERT_EQ(open(k), k <= writes ? kDied : 0);
    reopened();
    TDBWrapper db(c, kFolder);
    EXPECT_EQ(AddScannedSupport(db, "GAMMA", 1), 3);
    TFileRecord file;
    ASSERT_EQ(db.FindFirstFileOfSupport(3), TFound::kRecord);
    db.ReadCurrentFile(file);
    EXPECT_EQ(file.id, 7);
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, CatalogCrashShardTest, ::testing::Range(0, kShards));

}  // namespace
