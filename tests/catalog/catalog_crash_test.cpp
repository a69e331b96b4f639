// Process deaths at every write of the catalogue's operations other than
// insertion, run as the program runs them (tables opened exclusively, the
// block cache holding their writes): the next start finds every change
// stored before the operation, tags that agree with the records as the
// independent readers see them, and never a file row left live under a
// support that is gone. A disk that fills in an emptying loses nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

constexpr int kDied = 42;
const char* const kFolder = "data";
const char* const kTables[] = {"DBFILES", "DBSUPPORT", "DBID"};
const char* const kExtensions[] = {".dbf", ".cdx", ".fpt"};

const std::map<std::string, std::vector<TagAgreement>> kAgreement = {
    {"DBFILES",
     {{"T_F_ID", "num", "r['F_ID']"},
      {"T_F_SUPPID", "num", "r['F_SUPPID']"},
      {"T_SUP_PAT", "char", "'%5d' % r['F_SUPPID'] + r['F_PATH'][:50].upper()"},
      {"T_F_NAME", "char", "r['F_NAME'][:60].upper()"}}},
    {"DBSUPPORT", {{"T_S_ID", "num", "r['S_ID']"}}},
    {"DBID", {{"T_TBLNAME", "char", "r['TBLNAME']"}}},
};

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

  static int32_t addSupport(TDBWrapper& db, const std::string& name, int files) {
    TVolumeInfo volume;
    volume.volumeName = name;
    volume.serialNumber = 7;
    volume.cdRom = true;
    const int32_t id = db.AddScannedSupport(name, std::string(300, 'x'), 1000, files, volume);
    for (int i = 0; i < files; i++) {
      TFileEntry entry;
      entry.name = name + std::to_string(i) + ".txt";
      entry.extension = ".txt";
      entry.directory = "\\" + name + "\\";
      entry.attributes = 32;
      entry.size = i;
      entry.date = 45000.5;
      if (db.AddScannedFile(id, entry, nullptr) < 0) return -1;
    }
    return id;
  }

  // Two supports of three files each, stored and closed.
  void make() {
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    kept.clear();
    {
      TDBWrapper db(c, kFolder);
      ASSERT_EQ(addSupport(db, "ALPHA", 3), 1);
      ASSERT_EQ(addSupport(db, "BETA", 3), 2);
    }
    for (const char* table : kTables)
      for (const char* extension : kExtensions) {
        const std::string name = std::string(kFolder) + "/" + table + extension;
        if (std::filesystem::exists(name)) kept[name] = readDiskFile(name);
      }
  }
  void restore() {
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    for (const auto& [name, bytes] : kept) writeDiskFile(name, bytes);
  }

  // Runs `operation` on the catalogue in a child that dies at its write
  // `k` (0: never), and ends without closing. Returns the child's exit
  // code, or with k = 0 the count of writes the operation made.
  static int runDying(const std::function<bool(TDBWrapper&)>& operation, int k) {
    return inChildProcess([&](CODE4& own, FakeOs& fake) {
      auto* db = new TDBWrapper(own, kFolder);  // never closed: the process ends
      fake.exitAtWrite(k, kDied);
      if (!operation(*db)) return 92;
      return k == 0 ? static_cast<int>(fake.writesSeen()) : 0;
    });
  }

  // The catalogue as the next start finds it, after it has opened once
  // (healing what it must): the rows of DBFILES and DBSUPPORT.
  std::string reopened() {
    { TDBWrapper db(c, kFolder); }
    for (const auto& [table, tags] : kAgreement)
      EXPECT_EQ(readersDisagree(std::string(kFolder) + "/" + table, tags), "") << table;
    return tableText(c, "DBFILES",
                     [](DATA4* d) { return field(d, "F_ID") + " " + field(d, "F_SUPPID"); }) +
           "--\n" + tableText(c, "DBSUPPORT", [](DATA4* d) {
             return field(d, "S_ID") + " " + field(d, "S_SIZE") + " " + field(d, "S_FCOUNT");
           });
  }

  // Dies at each write of the operation in turn from `first` on;
  // `acceptable` judges what the next start finds, given the rows before
  // and after a whole run.
  void dieAtEveryWrite(const std::function<bool(TDBWrapper&)>& operation,
                       const std::function<void(int, const std::string&, const std::string&,
                                                const std::string&)>& acceptable,
                       int first = 1) {
    make();
    const std::string before = reopened();
    restore();
    const int writes = runDying(operation, 0);
    ASSERT_GT(writes, 0);
    ASSERT_LT(writes, 90);
    restore();
    ASSERT_EQ(runDying(operation, writes + 1), 0);
    const std::string after = reopened();
    ASSERT_NE(after, before);
    for (int k = first; k <= writes; k++) {
      SCOPED_TRACE("died at write " + std::to_string(k) + " of " + std::to_string(writes));
      restore();
      ASSERT_EQ(runDying(operation, k), kDied);
      acceptable(k, before, after, "\n" + reopened());
    }
  }

  ErrorRecorder recorder{true};
  CODE4 c;
  std::map<std::string, std::string> kept;
};

TEST_F(CatalogCrashTest, ADeathInADeletionNeverLeavesAFileOfAGoneSupport) {
  dieAtEveryWrite(
      [](TDBWrapper& db) { return db.DeleteSupport(1); },
      [](int, const std::string& before, const std::string& after, const std::string& found) {
        if (found == "\n" + before || found == "\n" + after) return;
        // Some files deleted, the support still there.
        EXPECT_NE(found.find("--\n1 1 1000 3\n"), std::string::npos) << found;
      });
}

TEST_F(CatalogCrashTest, ADeathInAnEmptyingNeverLeavesAFileWithoutItsSupport) {
  dieAtEveryWrite(
      [](TDBWrapper& db) { return db.EmptyBase(); },
      [](int, const std::string& before, const std::string& after, const std::string& found) {
        if (found == "\n" + before || found == "\n" + after) return;
        // The files gone, the supports still there.
        EXPECT_EQ(found.substr(0, 4), "\n--\n") << found;
      });
}

TEST_F(CatalogCrashTest, ADeathInAnUpdateLeavesTheSupportWhole) {
  dieAtEveryWrite(
      [](TDBWrapper& db) {
        return db.UpdateSupportInfo(1, "renamed", std::string(700, 'y')) &&
               db.UpdateSupportTotals(1, 5000, 4);
      },
      [](int, const std::string& before, const std::string& after, const std::string& found) {
        if (found != "\n" + before) {
          EXPECT_EQ(found, "\n" + after);
        }
      });
}

// An import flushes after each support: a death after GAMMA's flush, in
// DELTA's rows, keeps GAMMA whole. (A death before it is one in an
// insertion.)
TEST_F(CatalogCrashTest, ADeathAfterAFlushKeepsTheSupportsStoredBeforeIt) {
  auto first = [](TDBWrapper& db) { return addSupport(db, "GAMMA", 3) == 3 && db.FlushAll(); };
  make();
  const int flushed = runDying(first, 0);
  restore();
  dieAtEveryWrite(
      [&](TDBWrapper& db) { return first(db) && addSupport(db, "DELTA", 3) == 4; },
      [&](int, const std::string&, const std::string&, const std::string& found) {
        for (const char* row : {"\n7 7 3\n", "\n8 8 3\n", "\n9 9 3\n", "\n3 3 1000 3\n"})
          EXPECT_NE(found.find(row), std::string::npos) << row << found;
      },
      flushed + 1);
}

// A disk that fills at any point of an emptying: the failure is shown, a
// flush once there is room keeps every support with its files (or the
// files gone alone), and the emptying asked again completes.
TEST_F(CatalogCrashTest, AnEmptyingThatMeetsAFullDiskCompletesOnceThereIsRoom) {
  make();
  const std::string before = reopened();
  for (const int64_t space : {0, 1, 12, 600, 2000}) {
    SCOPED_TRACE("room for " + std::to_string(space) + " bytes");
    restore();
    recorder.clear();
    {
      TDBWrapper db(c, kFolder);
      {
        FakeOs os;
        platform::ScopedOs scoped(os);
        os.diskSpace = space;
        EXPECT_FALSE(db.EmptyBase());
      }
      EXPECT_FALSE(recorder.errors().empty());
      EXPECT_TRUE(db.FlushAll());
    }
    const std::string found = reopened();
    if (found != before) {
      EXPECT_EQ(found.substr(0, 3), "--\n") << found;
    }
    {
      TDBWrapper db(c, kFolder);
      EXPECT_TRUE(db.EmptyBase());
    }
    EXPECT_EQ(reopened(), "--\n");
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
    EXPECT_EQ(addSupport(db, "GAMMA", 1), 3);
    TFileRecord file;
    ASSERT_TRUE(db.SeekFirstFileOfSupport(3));
    db.ReadCurrentFile(file);
    EXPECT_EQ(file.id, 7);
  }
}

}  // namespace
