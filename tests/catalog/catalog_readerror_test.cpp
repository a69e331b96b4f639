// A read the disk refuses is an error wherever it falls, never the end of
// the rows: a deletion whose walk over a medium of several hundred files
// meets one at any of its reads stops there and keeps its note; an export
// writes only a catalogue it opened whole and read to its end, and leaves
// an older archive byte for byte as it was otherwise; an emptying that
// cannot read its tables is refused in words; and every reader of the
// catalogue (counts, totals, the search, the browser) says that it did not
// read to the end, never a shorter answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "features/archive/ArchiveExport.h"
#include "features/browser/DirectoryListing.h"
#include "features/browser/SupportBrowser.h"
#include "features/search/FileSearch.h"
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
const char* const kArchive = "catalogue.cex";
const char* const kOlderArchive = "an archive the user keeps\r\n";

std::vector<std::string>& rawCodes = ProgramEngine::rawCodes();

class CatalogReadErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(kFolder);
    TDBWrapper db(engine.Fresh(), kFolder);
    // BETA's keys fill many leaves of every tag of the files' index.
    for (const auto& [name, files] : {std::pair{"ALPHA", 150}, {"BETA", 450}, {"GAMMA", 150}}) {
      EXPECT_GT(AddScannedSupport(db, name, files), 0);
      EXPECT_TRUE(db.FinishChange());
    }
    threeMedia = keepFolder(kFolder);
  }

  // A start on a sound disk: the media it lists, and what is wrong with it.
  ListedMedia soundStart(std::string& problems) {
    CODE4& c = engine.Fresh();
    ListedMedia media;
    {
      TDBWrapper db(c, kFolder);
      media = listMedia(db, problems);
    }
    problems += catalogueTablesDisagree(c, kFolder);
    return media;
  }

  // Every refusal names the read that failed with EIO, and no raw code is
  // shown.
  static std::string toldWrong(const std::vector<TChangeRefusal>& refusals) {
    std::string problems;
    for (const std::string& text : rawCodes) problems += "a raw engine code: " + text + "\n";
    for (const TChangeRefusal& refusal : refusals)
      if (refusal.call != TDiskCall::kRead || refusal.error != EIO)
        problems += "refusal " + std::to_string(static_cast<int>(refusal.why)) +
                    " does not name the failed read\n";
    return problems;
  }

  ProgramEngine engine;
  FolderFiles threeMedia;
};

// Reads of the deletion of BETA fail in turn (each of its index, every
// eighth of its records): the deletion stops there, unless the read was
// asked again, and a start finds BETA whole or gone, never some of its
// files without it.
TEST_F(CatalogReadErrorTest, ADeletionStopsAtTheReadItCouldNotMakeWhereverItFalls) {
  auto deleteBeta = [&](IoFaultOs& os) {
    restoreFolder(kFolder, threeMedia);
    platform::ScopedOs scoped(os);
    TDBWrapper db(engine.Fresh(), kFolder);
    os.armed = true;
    const bool done = db.DeleteSupport(2);
    os.armed = false;
    return done;
  };
  IoFaultOs counting(kFolder);
  counting.onlyKind = Call::kRead;
  ASSERT_TRUE(deleteBeta(counting));
  const std::vector<IoFaultOs::Counted> reads = counting.counted();
  const auto ofIndex = std::count_if(reads.begin(), reads.end(),
                                     [](const auto& read) { return read.file.ends_with(".cdx"); });
  ASSERT_GT(ofIndex, 4);  // the walk crosses leaves
  for (int64_t k = 1; k < static_cast<int64_t>(reads.size()); k++) {
    if (!reads[k].file.ends_with(".cdx") && k % 8 != 1) continue;
    IoFaultOs os(kFolder);
    os.onlyKind = Call::kRead;
    os.failAt = k;
    RefusalRecorder refusals;
    rawCodes.clear();
    const bool done = deleteBeta(os);
    SCOPED_TRACE("read " + std::to_string(k) + " fails, of " + os.firedFile());
    ASSERT_TRUE(os.fired());
    std::string problems = toldWrong(refusals.refusals());
    const ListedMedia media = soundStart(problems);
    if (done && media.contains("BETA")) problems += "a deletion called done left BETA\n";
    if (media.contains("BETA") && media.at("BETA").files != 450) problems += "BETA is not whole\n";
    if (!done && refusals.refusals().empty()) problems += "the failed read was not said\n";
    EXPECT_EQ(problems, "");
    if (HasFailure()) return;
  }
}

// A start meets a refused read of one of the catalogue's files, at its
// first reads or for good; an export then over an archive the user keeps
// writes the whole catalogue, or leaves that archive byte for byte.
TEST_F(CatalogReadErrorTest, AnExportWritesOnlyACatalogueItReadWhole) {
  std::string whole;
  {
    restoreFolder(kFolder, threeMedia);
    TDBWrapper db(engine.Fresh(), kFolder);
    ASSERT_EQ(archive::ExportArchive(db, kArchive, archive::kWholeCatalogue, {}).status,
              archive::ExportStatus::kDone);
    whole = readDiskFile(kArchive);
  }
  for (const char* file : {"DBSUPPORT.dbf", "DBSUPPORT.fpt", "DBSUPPORT.cdx", "DBFILES.dbf",
                           "DBFILES.fpt", "DBFILES.cdx", "DBID.dbf"}) {
    for (const bool once : {true, false}) {
      SCOPED_TRACE(std::string(file) + (once ? ", its first read" : ", every read"));
      restoreFolder(kFolder, threeMedia);
      writeDiskFile(kArchive, kOlderArchive);
      IoFaultOs os(kFolder);
      os.failCalls(Call::kRead, file, once);
      RefusalRecorder refusals;
      rawCodes.clear();
      archive::ExportStatus status;
      {
        platform::ScopedOs scoped(os);
        TDBWrapper db(engine.Fresh(), kFolder);
        status = archive::ExportArchive(db, kArchive, archive::kWholeCatalogue, {}).status;
      }
      EXPECT_TRUE(os.fired());
      EXPECT_EQ(toldWrong(refusals.refusals()), "");
      if (status == archive::ExportStatus::kDone)
        EXPECT_EQ(readDiskFile(kArchive), whole);
      else
        EXPECT_EQ(readDiskFile(kArchive), kOlderArchive);
      // An index that cannot be read is rebuilt in memory from the
      // records; records that cannot be read leave nothing to export.
      if (!once && !std::string(file).ends_with(".cdx")) {
        EXPECT_NE(status, archive::ExportStatus::kDone);
      }
    }
  }
}

// An emptying whose tables could not be read at the start, or cannot be
// read now, is refused in words, and the catalogue stays whole.
TEST_F(CatalogReadErrorTest, AnEmptyingThatCannotReadItsTablesIsRefusedInWords) {
  for (const char* file : {"DBFILES.dbf", "DBSUPPORT.dbf", "DBSUPPORT.fpt", "DBFILES.cdx"}) {
    for (const bool fromTheStart : {true, false}) {
      SCOPED_TRACE(std::string(file) + (fromTheStart ? " from the start" : " once open"));
      restoreFolder(kFolder, threeMedia);
      IoFaultOs os(kFolder);
      RefusalRecorder refusals;
      rawCodes.clear();
      bool emptied;
      {
        platform::ScopedOs scoped(os);
        if (fromTheStart) os.failCalls(Call::kRead, file);
        TDBWrapper db(engine.Fresh(), kFolder);
        if (!fromTheStart) os.failCalls(Call::kRead, file);
        emptied = db.EmptyBase();
      }
      // Once open, an emptying may need nothing more of a file.
      ASSERT_TRUE(os.fired() || !fromTheStart);
      if (!os.fired()) continue;
      EXPECT_FALSE(emptied);
      EXPECT_FALSE(refusals.refusals().empty());
      std::string problems = toldWrong(refusals.refusals());
      const ListedMedia media = soundStart(problems);
      if (!media.empty() && media.size() != 3) problems += "an emptying left part of the media\n";
      EXPECT_EQ(problems, "");
    }
  }
}

SearchCriteria maskOnly(const char* mask) {
  SearchCriteria criteria;
  criteria.mask = mask;
  return criteria;
}

class NoPause : public SearchObserver {
 public:
  void Started(int32_t) override {}
  void HitsFound(std::span<const SearchHit>) override {}
  void Pause(int32_t) override {}
  int32_t HitLimit() override { return 100000; }
  bool StopRequested() override { return false; }
};

// Once the catalogue is open, the reads of one of its files fail for good:
// each reader answers that it could not read to the end, said in words.
TEST_F(CatalogReadErrorTest, EveryReaderSaysItCouldNotReadToTheEnd) {
  NoPause observer;
  const struct {
    const char* what;
    const char* file;
    std::function<bool(TDBWrapper&)> readsWhole;
  } readers[] = {
      {"the statistics' totals", "DBSUPPORT.dbf",
       [](TDBWrapper& db) { return db.SumSupports().whole; }},
      {"the count of media", "DBSUPPORT.dbf", [](TDBWrapper& db) { return db.CountSupports(); }},
      {"the media of a serial", "DBSUPPORT.dbf",
       [](TDBWrapper& db) { return db.CountSupportsWithSerial(7, nullptr) >= 0; }},
      {"the serials", "DBSUPPORT.dbf",
       [](TDBWrapper& db) {
         std::unordered_map<uint32_t, int32_t> serials;
         return db.CountSupportsBySerial(serials);
       }},
      {"the list of media", "DBSUPPORT.dbf",
       [](TDBWrapper& db) { return db.FindSupport(3) != TFound::kFailed; }},
      {"a medium's files counted", "DBFILES.cdx",
       [](TDBWrapper& db) {
         int32_t count = 0;
         int64_t size = 0;
         return db.CountFilesOfSupport(2, count, size);
       }},
      {"a search over every record", "DBFILES.dbf",
       [&](TDBWrapper& db) {
         return FileSearch(db).Run(maskOnly("*.txt"), observer).end != SearchEnd::kUnreadable;
       }},
      {"a search by a name's beginning", "DBFILES.cdx",
       [&](TDBWrapper& db) {
         return FileSearch(db).Run(maskOnly("BETA*"), observer).end != SearchEnd::kUnreadable;
       }},
      {"a medium's tree", "DBFILES.cdx",
       [](TDBWrapper& db) {
         SupportBrowser browser(db);
         browser.LoadSupport(2);
         return !browser.Unreadable();
       }},
      {"a folder's listing", "DBFILES.cdx",
       [](TDBWrapper& db) { return !ListDirectory(db, 2, "\\BETA\\").unreadable; }},
  };
  for (const auto& reader : readers) {
    SCOPED_TRACE(reader.what);
    restoreFolder(kFolder, threeMedia);
    IoFaultOs os(kFolder);
    RefusalRecorder refusals;
    rawCodes.clear();
    platform::ScopedOs scoped(os);
    TDBWrapper db(engine.Fresh(), kFolder);
    os.failCalls(Call::kRead, reader.file);
    EXPECT_FALSE(reader.readsWhole(db));
    EXPECT_TRUE(os.fired());
    EXPECT_FALSE(refusals.refusals().empty());
    EXPECT_EQ(toldWrong(refusals.refusals()), "");
  }
}

}  // namespace
