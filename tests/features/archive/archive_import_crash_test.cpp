// An import of three supports, with a process death at every write and a
// disk that fills at every write (staying full until the catalogue closes,
// or having room again before): the next start keeps every support stored
// before, finds each imported support whole, absent, or saying exactly the
// files it holds, and the independent readers agree with the tags.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "features/archive/ArchiveImport.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

constexpr int kDied = 42;
constexpr int kFilesEach = 100;

class ImportCrashTest : public ArchiveCatalogueTest {
 protected:
  // The catalogue with two supports, closed and kept; the archive of three.
  void SetUp() override {
    ArchiveCatalogueTest::SetUp();
    addSupport("ALPHA", 1, 3);
    addSupport("BETA", 2, 3);
    db.reset();
    kept = keepFolder("data");
    std::string archive = header(3);
    for (const char* name : {"GAMMA", "DELTA", "EPSILON"}) {
      archive += volumeBlock(name, 7, kFilesEach);
      for (int i = 0; i < kFilesEach; i++)
        archive +=
            fileBlock(std::string(name) + std::to_string(i), i, "\\" + std::string(name) + "\\");
    }
    writeDiskFile("in.cex", archive);
    before = supportsText();
  }

  // "id count size" of every live support, as the catalogue reads them.
  std::string supportsText() {
    TDBWrapper reader(c, "data");
    reader.CountSupports();
    std::string text;
    for (int32_t n = 1; reader.GotoSupport(n); n++) {
      TSupportRecord s;
      reader.ReadCurrentSupport(s);
      text += std::to_string(s.id) + " " + std::to_string(s.fileCount) + " " +
              std::to_string(s.size) + "\n";
    }
    return text;
  }

  // Imports in a child (small cache) that runs `beforeImport` on its
  // platform double first and `after` on the catalogue at the end, then
  // ends without closing it: the child's exit code, or the count of
  // writes with `count`.
  template <class BeforeImport, class After>
  int importInChild(BeforeImport beforeImport, After after, bool count = false) {
    return inChildProcess([&](CODE4& own, FakeOs& fake) {
      startSmallCache(own);
      auto* opened = new TDBWrapper(own, "data");  // closed by `after`, or never
      beforeImport(fake);
      const archive::ImportResult result = archive::ImportArchive(*opened, "in.cex", {});
      if (!after(opened)) return 93;
      if (count) return static_cast<int>(fake.writesSeen());
      return result.status == archive::ImportStatus::kFinished ? 0 : 1;
    });
  }

  // What the next start finds: the readers agree, the supports stored
  // before are there as they were.
  void expectAgreement() {
    { TDBWrapper reopen(c, "data"); }
    EXPECT_EQ(catalogueDisagrees("data"), "");
    EXPECT_EQ(supportsText().substr(0, before.size()), before);
  }

  FolderFiles kept;
  std::string before;
};

// Every write in this many shards, each far from its time limit under the
// address sanitizer on a busy machine.
constexpr int kShards = 4;

class ImportCrashShardTest : public ImportCrashTest, public ::testing::WithParamInterface<int> {};

TEST_P(ImportCrashShardTest, ADeathOrAFullDiskAtAnyWriteKeepsEachSupportWholeOrTrue) {
  const int writes = importInChild([](FakeOs& fake) { fake.exitAtWrite(0, 0); },
                                   [](TDBWrapper*) { return true; }, true);
  ASSERT_GT(writes, 10);
  ASSERT_LT(writes, 400);
  for (int k = 1 + GetParam(); k <= writes; k += kShards) {
    SCOPED_TRACE("write " + std::to_string(k) + " of " + std::to_string(writes));
    restoreFolder("data", kept);
    EXPECT_EQ(importInChild([k](FakeOs& fake) { fake.exitAtWrite(k, kDied); },
                            [](TDBWrapper*) { return true; }),
              kDied);
    expectAgreement();
    for (const bool roomAgain : {false, true}) {
      SCOPED_TRACE(roomAgain ? "full, then room again" : "full until the close");
      restoreFolder("data", kept);
      FakeOs* disk = nullptr;
      const int exit = importInChild(
          [&](FakeOs& fake) {
            disk = &fake;
            fake.fillDiskAtWrite(k);
          },
          [&](TDBWrapper* opened) {
            if (roomAgain) disk->fillDiskAtWrite(0);
            delete opened;
            return true;
          });
      EXPECT_TRUE(exit == 0 || exit == 1) << exit;
      expectAgreement();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, ImportCrashShardTest, ::testing::Range(0, kShards));

}  // namespace
