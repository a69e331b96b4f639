// One disk call that fails where the catalogue once went on past it: each
// case makes the calls of one kind to one file fail (IoFaultOs) while the
// catalogue runs an ordinary path. The change must be refused, said in
// words once with its real cause (never a raw engine code), nothing may
// be written to the folder after a failed sync, and a start on a sound
// disk must find every medium whole or gone, no file of no medium, and
// every index agreeing with its table.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "tests/support/catalogue_audit.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/io_fault_os.h"
#include "tests/support/program_engine.h"

using namespace testing_support;

namespace {

using Call = IoFaultOs::Call;
using Why = TChangeRefusal::Why;

const char* const kFolder = "data";

std::vector<std::string>& rawCodes = ProgramEngine::rawCodes();

struct Fault {
  Call kind;
  // The end of its name, the folder's name for a folder sync; null when
  // the case sets the fault itself.
  const char* file;
  bool once;
};

class CatalogDiskErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(kFolder);
    empty = keepFolder(kFolder);
    {
      TDBWrapper db(engine.Fresh(), kFolder);
      EXPECT_EQ(AddScannedSupport(db, "ALPHA", 3), 1);
      EXPECT_TRUE(db.FinishChange());
      EXPECT_EQ(AddScannedSupport(db, "BETA", 200), 2);
      EXPECT_TRUE(db.FinishChange());
    }
    twoMedia = keepFolder(kFolder);
    {
      // What a death in the middle of an addition leaves.
      TDBWrapper db(engine.Fresh(), kFolder);
      EXPECT_EQ(AddScannedSupport(db, "GAMMA", 300), 3);
      cutAddition = keepFolder(kFolder);
    }
  }

  // A start on a sound disk: what is wrong with the catalogue it finds.
  std::string soundStartFinds(ListedMedia& media) {
    std::string problems;
    CODE4& c = engine.Fresh();
    {
      TDBWrapper db(c, kFolder);
      media = listMedia(db, problems);
    }
    return problems + catalogueTablesDisagree(c, kFolder);
  }

  ProgramEngine engine;
  FolderFiles empty, twoMedia, cutAddition;
};

TEST_F(CatalogDiskErrorTest, AFailingCallRefusesItsChangeInWordsAndNothingGoesOnPastIt) {
  const FolderFiles noNote = [&] {
    FolderFiles files = twoMedia;
    files.erase(std::string(kFolder) + "/CATALOG.PND");
    return files;
  }();
  const FolderFiles damagedNote = [&] {
    FolderFiles files = twoMedia;
    files[std::string(kFolder) + "/CATALOG.PND"] = std::string(512, 'Z');
    return files;
  }();
  auto addGamma = [](TDBWrapper& db, IoFaultOs&) {
    return AddScannedSupport(db, "GAMMA", 3) > 0 && db.FinishChange();
  };
  const struct {
    const char* what;
    const FolderFiles& start;
    Fault fault;
    bool fromTheStart;  // else once the catalogue is open
    std::function<bool(TDBWrapper&, IoFaultOs&)> act;
    Why said;
    const char* notedAfterTheClose = nullptr;  // the note's kind left on the disk
  } cases[] = {
      {"a deletion whose index cannot be read", twoMedia, {Call::kRead, "DBFILES.cdx", false},
       false, [](TDBWrapper& db, IoFaultOs&) { return db.DeleteSupport(2); }, Why::kReadRefused},
      {"a deletion whose records cannot be read", twoMedia, {Call::kRead, "DBFILES.dbf", false},
       false, [](TDBWrapper& db, IoFaultOs&) { return db.DeleteSupport(2); }, Why::kReadRefused},
      {"the next addition after a finish whose sync failed", twoMedia,
       {Call::kSync, nullptr, true}, false,
       [](TDBWrapper& db, IoFaultOs& os) {
         const bool first = AddScannedSupport(db, "GAMMA", 3) > 0;
         os.failCalls(Call::kSync, "DBFILES.cdx", true);
         const bool finished = db.FinishChange();
         TFileRecord row = FileRow(3, "\\", "late.txt");
         return first && (finished || AddScannedSupport(db, "DELTA", 300) > 0 ||
                          db.AddFileRecord(row) > 0);
       },
       Why::kSyncFailed},
      {"an addition whose index's change mark does not sync", twoMedia,
       {Call::kSync, "DBSUPPORT.cdx", true}, false, addGamma, Why::kSyncFailed},
      {"an addition after the note's folder did not sync", noNote, {Call::kSync, kFolder, true},
       true, addGamma, Why::kSyncFailed},
      {"an addition after a damaged note was set aside unsynced", damagedNote,
       {Call::kSync, kFolder, true}, true, addGamma, Why::kSyncFailed},
      {"an edit whose record does not sync", twoMedia, {Call::kSync, "DBSUPPORT.dbf", true}, false,
       [](TDBWrapper& db, IoFaultOs&) {
         return db.UpdateSupportInfo(2, "BETA, edited", std::string(700, 'y'));
       },
       Why::kSyncFailed},
      {"a close that meets a failed sync", twoMedia, {Call::kSync, "DBFILES.dbf", false}, false,
       [](TDBWrapper& db, IoFaultOs&) {
         AddScannedSupport(db, "GAMMA", 3);
         return false;
       },
       Why::kSyncFailed},
      {"a first start whose folder does not sync", empty, {Call::kSync, kFolder, false}, true,
       nullptr, Why::kSyncFailed},
      {"a start whose repair meets a failed sync", cutAddition, {Call::kSync, "DBFILES.cdx", false},
       true, nullptr, Why::kSyncFailed, "A"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    restoreFolder(kFolder, test.start);
    IoFaultOs os(kFolder);
    RefusalRecorder refusals;
    rawCodes.clear();
    bool done = false;
    {
      platform::ScopedOs scoped(os);
      auto fail = [&] {
        if (test.fault.file != nullptr)
          os.failCalls(test.fault.kind, test.fault.file, test.fault.once);
      };
      if (test.fromTheStart) fail();
      TDBWrapper db(engine.Fresh(), kFolder);
      if (!test.fromTheStart) fail();
      if (test.act) done = test.act(db, os);
    }
    EXPECT_TRUE(os.fired());
    EXPECT_FALSE(done);
    EXPECT_EQ(rawCodes, std::vector<std::string>{});
    int told = 0;
    for (const TChangeRefusal& refusal : refusals.refusals()) {
      told += refusal.why == test.said;
      const bool unfinishedSaid = refusal.why == Why::kChangeUnfinished;
      EXPECT_FALSE(test.fault.kind == Call::kSync && unfinishedSaid) << "a failed sync said so";
      EXPECT_TRUE(refusal.error == 0 || refusal.error == IoFaultOs::errnoOf(test.fault.kind))
          << "errno " << refusal.error << " said for " << static_cast<int>(refusal.why);
    }
    EXPECT_EQ(told, 1);
    EXPECT_EQ(os.writtenAfter(), "");
    if (test.notedAfterTheClose != nullptr) {
      EXPECT_EQ(readDiskFile(std::string(kFolder) + "/CATALOG.PND").substr(0, 1),
                test.notedAfterTheClose);
    }
    ListedMedia media;
    EXPECT_EQ(soundStartFinds(media), "");
    if (media.contains("BETA")) {
      EXPECT_EQ(media["BETA"].files, 200);
    }
    EXPECT_FALSE(media.contains("DELTA"));
  }
}

}  // namespace
