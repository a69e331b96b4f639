// One disk call that fails where the catalogue once went on past it: each
// case makes the calls of one kind to one file fail (IoFaultOs) while the
// catalogue runs an ordinary path. The change must be refused, said in
// words when it happens, once, each refusal naming the kind of call that
// failed and its errno (never a raw engine code); nothing in the folder
// may change after a failed sync; and a start on a sound disk must find
// every medium whole or gone, no file of no medium, and every index
// agreeing with its table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
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

// Fails the n-th write to the files' index from the moment it is armed,
// and that one alone: the disk takes every write before it and after it.
// Calls come from the catalogue's thread (the engine runs without workers).
class NthIndexWriteOs : public IoFaultOs {
 public:
  NthIndexWriteOs(std::string folder, int64_t n) : IoFaultOs(std::move(folder)), n_(n) {}
  void arm() { armedWrites_ = true; }

  // The cache's blocks the same size on every machine: a run meets the
  // same writes wherever it runs.
  uint32_t sectorSize(const char*) override { return 512; }

  int openFile(const char* path, int flags, int mode) override {
    const int fd = IoFaultOs::openFile(path, flags, mode);
    if (fd >= 0 && std::string_view(path).ends_with(kIndex)) index_.insert(fd);
    return fd;
  }
  int closeFile(int fd) override {
    index_.erase(fd);
    return IoFaultOs::closeFile(fd);
  }
  int64_t writeAt(int fd, const void* data, size_t n, uint64_t offset) override {
    if (armedWrites_ && index_.count(fd) != 0 && ++seen_ == n_)
      failCalls(Call::kWrite, kIndex, true);
    return IoFaultOs::writeAt(fd, data, n, offset);
  }

 private:
  static constexpr const char* kIndex = "DBFILES.cdx";
  const int64_t n_;
  bool armedWrites_ = false;
  int64_t seen_ = 0;
  std::set<int> index_;
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
    bool saidAtTheClose = false;               // else before the close
  } cases[] = {
      {"a deletion whose index cannot be read",
       twoMedia,
       {Call::kRead, "DBFILES.cdx", false},
       false,
       [](TDBWrapper& db, IoFaultOs&) { return db.DeleteSupport(2); },
       Why::kReadRefused},
      {"a deletion whose records cannot be read",
       twoMedia,
       {Call::kRead, "DBFILES.dbf", false},
       false,
       [](TDBWrapper& db, IoFaultOs&) { return db.DeleteSupport(2); },
       Why::kReadRefused},
      {"the next addition after a finish whose sync failed",
       twoMedia,
       {Call::kSync, nullptr, true},
       false,
       [](TDBWrapper& db, IoFaultOs& os) {
         const bool first = AddScannedSupport(db, "GAMMA", 3) > 0;
         os.failCalls(Call::kSync, "DBFILES.cdx", true);
         const bool finished = db.FinishChange();
         TFileRecord row = FileRow(3, "\\", "late.txt");
         return first && (finished || AddScannedSupport(db, "DELTA", 300) > 0 ||
                          db.AddFileRecord(row) > 0);
       },
       Why::kSyncFailed},
      {"an addition whose index's change mark does not sync",
       twoMedia,
       {Call::kSync, "DBSUPPORT.cdx", true},
       false,
       addGamma,
       Why::kSyncFailed},
      {"an addition after the note's folder did not sync",
       noNote,
       {Call::kSync, kFolder, true},
       true,
       addGamma,
       Why::kSyncFailed},
      {"an addition after a damaged note was set aside unsynced",
       damagedNote,
       {Call::kSync, kFolder, true},
       true,
       addGamma,
       Why::kSyncFailed},
      {"an edit whose record does not sync",
       twoMedia,
       {Call::kSync, "DBSUPPORT.dbf", true},
       false,
       [](TDBWrapper& db, IoFaultOs&) {
         return db.UpdateSupportInfo(2, "BETA, edited", std::string(700, 'y'));
       },
       Why::kSyncFailed},
      {"a close that meets a failed sync",
       twoMedia,
       {Call::kSync, "DBFILES.dbf", false},
       false,
       [](TDBWrapper& db, IoFaultOs&) {
         AddScannedSupport(db, "GAMMA", 3);
         return false;
       },
       Why::kSyncFailed,
       nullptr,
       true},
      {"a first start whose folder does not sync",
       empty,
       {Call::kSync, kFolder, false},
       true,
       nullptr,
       Why::kSyncFailed},
      {"a start whose repair meets a failed sync",
       cutAddition,
       {Call::kSync, "DBFILES.cdx", false},
       true,
       nullptr,
       Why::kSyncFailed,
       "A"},
      {"an addition after a start that could not read the files' index",
       twoMedia,
       {Call::kRead, "DBFILES.cdx", false},
       true,
       addGamma,
       Why::kReadRefused},
      {"an addition after a start that could not read the note",
       twoMedia,
       {Call::kRead, "CATALOG.PND", true},
       true,
       addGamma,
       Why::kNoteKept},
      {"an emptying whose sync fails",
       twoMedia,
       {Call::kSync, "DBFILES.dbf", true},
       false,
       [](TDBWrapper& db, IoFaultOs&) { return db.EmptyBase(); },
       Why::kSyncFailed},
      {"a deletion asked again after its sync failed",
       twoMedia,
       {Call::kSync, "DBFILES.dbf", true},
       false,
       [](TDBWrapper& db, IoFaultOs&) { return db.DeleteSupport(2) || db.DeleteSupport(2); },
       Why::kSyncFailed},
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
      EXPECT_TRUE(test.saidAtTheClose || !refusals.refusals().empty()) << "said only at the close";
    }
    EXPECT_TRUE(os.fired());
    EXPECT_FALSE(done);
    EXPECT_EQ(rawCodes, std::vector<std::string>{});
    int told = 0;
    const TDiskCall call = test.fault.kind == Call::kRead   ? TDiskCall::kRead
                           : test.fault.kind == Call::kSync ? TDiskCall::kSync
                                                            : TDiskCall::kWrite;
    for (const TChangeRefusal& refusal : refusals.refusals()) {
      told += refusal.why == test.said;
      const bool unfinishedSaid = refusal.why == Why::kChangeUnfinished;
      EXPECT_FALSE(test.fault.kind == Call::kSync && unfinishedSaid) << "a failed sync said so";
      EXPECT_TRUE(refusal.call == call && refusal.error == IoFaultOs::errnoOf(test.fault.kind))
          << "refusal " << static_cast<int>(refusal.why) << " names call "
          << static_cast<int>(refusal.call) << ", errno " << refusal.error;
    }
    EXPECT_EQ(told, 1);
    EXPECT_EQ(os.writtenAfter(), "");
    EXPECT_EQ(os.folderChangedSinceFailedSync(), "");
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

// The engine as the program starts it writes a new table through its
// write-behind worker: a disk that refuses every write with EIO from one
// of a first start on is said to, never to be full, whichever thread made
// the write.
TEST_F(CatalogDiskErrorTest, AWriteAWorkerMadeIsToldWithItsOwnCause) {
  // The errnos the start named, in its refusals and its report.
  auto firstStart = [&](IoFaultOs& os) {
    restoreFolder(kFolder, empty);
    RefusalRecorder refusals;
    std::vector<int> named;
    {
      platform::ScopedOs scoped(os);
      os.armed = true;
      TDBWrapper db(engine.Fresh(true), kFolder);
      os.armed = false;
      for (const TStartRepair& said : db.StartReport())
        if (said.call != TDiskCall::kNone) named.push_back(said.error);
    }
    for (const TChangeRefusal& refusal : refusals.refusals()) named.push_back(refusal.error);
    return named;
  };
  IoFaultOs counting(kFolder);
  counting.onlyKind = Call::kWrite;
  ASSERT_EQ(firstStart(counting), std::vector<int>{});
  for (int64_t k = 1; k <= counting.calls(); k++) {
    SCOPED_TRACE("from write " + std::to_string(k) + " on");
    IoFaultOs os(kFolder);
    os.onlyKind = Call::kWrite;
    os.failAt = k;
    os.persistent = true;
    os.writeErrno = EIO;
    rawCodes.clear();
    const std::vector<int> named = firstStart(os);
    ASSERT_TRUE(os.fired());
    EXPECT_EQ(rawCodes, std::vector<std::string>{});
    EXPECT_FALSE(named.empty());
    for (const int error : named) EXPECT_EQ(error, EIO);
    if (HasFailure()) return;
  }
}

// An append the disk refused halfway through a split leaves the files'
// index half changed. The disk takes the writes after it: every table
// reaches the disk, and the index keeps its change mark for the next
// start's rebuild. The addition is still not done: its note stays for that
// start, and no later change may build on the index.
TEST_F(CatalogDiskErrorTest, AnAdditionThatLeftAnIndexHalfChangedIsNeverDone) {
  // Which write of the index a split makes depends on how the cache spends
  // its blocks: the writes fail in turn, one in a run, until one leaves the
  // index half changed.
  bool met = false;
  for (int64_t n = 1; n <= 100 && !met; n++) {
    SCOPED_TRACE("write " + std::to_string(n) + " of the files' index refused");
    restoreFolder(kFolder, twoMedia);
    NthIndexWriteOs os(kFolder, n);
    RefusalRecorder refusals;
    rawCodes.clear();
    bool added = false;
    bool finished = false;
    bool later = false;
    std::string marks;
    {
      platform::ScopedOs scoped(os);
      TDBWrapper db(engine.Fresh(), kFolder);
      os.arm();
      added = AddScannedSupport(db, "ETA", 1500) > 0;
      finished = db.FinishChange();
      // Every table is on the disk now, whatever the answer: only an index
      // a failure left half changed keeps its mark.
      marks = changeMarksIn(kFolder);
      later = AddScannedSupport(db, "DELTA", 3) > 0;
    }
    ASSERT_TRUE(os.fired()) << "no refused write left the index half changed";
    if (added || marks.find("DBFILES.cdx") == std::string::npos) continue;
    met = true;
    EXPECT_FALSE(finished) << "an addition done while its index is half changed";
    EXPECT_FALSE(later);
    const std::vector<TChangeRefusal>& told = refusals.refusals();
    EXPECT_TRUE(std::any_of(told.begin(), told.end(), [](const TChangeRefusal& refusal) {
      return refusal.why == Why::kChangeUnfinished;
    }));
    EXPECT_EQ(readDiskFile(std::string(kFolder) + "/CATALOG.PND").substr(0, 1), "A");
    EXPECT_EQ(rawCodes, std::vector<std::string>{});
    ListedMedia media;
    EXPECT_EQ(soundStartFinds(media), "");
    EXPECT_EQ(media["BETA"].files, 200);
    EXPECT_FALSE(media.contains("DELTA"));
  }
  EXPECT_TRUE(met);
}

}  // namespace
