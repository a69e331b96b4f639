// Disk errors at every disk call of the catalogue's work, in the manner of
// SQLite's I/O-error tests. Each workload (a first start on an empty
// folder, an indexing, an import of several media, a deletion, an edit, an
// emptying, a start that repairs an addition cut short, a close with an
// addition still in memory) is run once to count the calls it makes to the
// data folder (IoFaultOs); then, for every call k, again with call k
// failing, once alone and once with every later call of its kind failing
// too. A start with a sound disk must then find every medium as before the
// workload or as after it (one being added may hold part of its files, its
// row saying so), every change the run called done, every table ending
// after its records and every tag agreeing with them, no row of no medium,
// and take a new medium. The run itself must have said each failure in
// words, once, with its real cause (never a raw engine code, a read error
// never called a full disk), and written nothing after a failed sync.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "features/archive/ArchiveImport.h"
#include "features/indexing/DirEnumerator.h"
#include "features/indexing/MediumIndexing.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/catalogue_audit.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/io_fault_os.h"
#include "tests/support/program_engine.h"

using namespace testing_support;

namespace {

const char* const kFolder = "data";
const char* const kArchive = "three media.cex";
// Each shard takes every kShards-th call of every workload.
constexpr int kShards = 16;

std::vector<std::string>& rawCodes = ProgramEngine::rawCodes();

// What a run reported: the change called done, and the media an import
// called added; the disk calls made until it returned.
struct Reported {
  bool done = false;
  std::vector<std::string> mediaDone;
  int64_t callsBefore = 0;
};

// A repair a start could not make, which a start on a sound disk never
// leaves.
bool leftUndone(const TStartRepair& said) { return !RepairMade(said.kind); }

struct Workload {
  // Where its faults begin: the start, the operation, or the close.
  enum class From { kStart, kOperation, kClose };
  Workload(const char* name, FolderFiles start, From from,
           std::function<void(TDBWrapper&, Reported&)> operation)
      : name(name), start(std::move(start)), from(from), operation(std::move(operation)) {}
  const char* name;
  // The folder it starts on.
  FolderFiles start;
  From from;
  // Null for a start alone; it runs, then the catalogue closes.
  std::function<void(TDBWrapper&, Reported&)> operation;
  // The media before it and after a run without faults.
  ListedMedia before, after;
  int64_t calls = 0;
};

class CatalogIoErrorTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    std::string archive = header(3);
    uint32_t serial = 9;
    for (const char* name : {"DELTA", "EPSILON", "ZETA"}) {
      archive += volumeBlock(name, serial++, 30);
      for (int i = 0; i < 30; i++) archive += fileBlock(name + std::to_string(i), i);
    }
    writeDiskFile(kArchive, archive);
  }

  // The workloads, their folders made here.
  std::vector<Workload> workloads() {
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    const FolderFiles empty = keepFolder(kFolder);
    {
      TDBWrapper db(engine.Fresh(), kFolder);
      for (const char* name : {"ALPHA", "BETA"}) {
        EXPECT_GT(AddScannedSupport(db, name, 3), 0);
        EXPECT_TRUE(db.FinishChange());
      }
    }
    const FolderFiles two = keepFolder(kFolder);
    FolderFiles cut;
    {
      // What a death in the middle of an addition leaves: the rows the
      // cache let go, the note, the marked indexes.
      TDBWrapper db(engine.Fresh(), kFolder);
      EXPECT_GT(AddScannedSupport(db, "GAMMA", 300), 0);
      cut = keepFolder(kFolder);
    }
    // A medium of 300 files, walked as the indexing dialog walks it.
    std::filesystem::create_directories("GAMMA");
    for (int i = 0; i < 300; i++) writeDiskFile("GAMMA/GAMMA" + std::to_string(i) + ".txt", "x");
    scan = std::make_unique<DirEnumerator>();
    scan->Enumerate("GAMMA");
    auto addGamma = [this](TDBWrapper& db, Reported& r) {
      TVolumeInfo volume;
      volume.volumeName = "GAMMA";
      const TInsertionResult result = InsertScan(db, *scan, volume, "GAMMA", "", nullptr);
      r.done = result.written && result.failed == 0;
      if (r.done) r.mediaDone.push_back("GAMMA");
    };
    return {
        {"a first start", empty, Workload::From::kStart, nullptr},
        {"an indexing", two, Workload::From::kOperation, addGamma},
        {"an import", two, Workload::From::kOperation,
         [](TDBWrapper& db, Reported& r) {
           archive::ImportCallbacks callbacks;
           std::vector<std::string> added;
           const char* const names[] = {"DELTA", "EPSILON", "ZETA"};
           callbacks.supportFinished = [&](int32_t, bool imported) {
             if (imported && added.size() < 3) added.push_back(names[added.size()]);
           };
           const archive::ImportResult result = archive::ImportArchive(db, kArchive, callbacks);
           r.done = result.status == archive::ImportStatus::kFinished &&
                    result.counts.supportsAdded == 3 && result.supportsUnwritten == 0 &&
                    result.filesUnwritten == 0;
           // The medium under way when the import stopped is finished with
           // what it holds: those before it were added whole.
           if (!r.done && !added.empty()) added.pop_back();
           r.mediaDone = added;
         }},
        {"a deletion", two, Workload::From::kOperation,
         [](TDBWrapper& db, Reported& r) { r.done = db.DeleteSupport(1); }},
        {"an edit", two, Workload::From::kOperation,
         [](TDBWrapper& db, Reported& r) {
           r.done = db.UpdateSupportInfo(2, "BETA, edited", std::string(700, 'y'));
         }},
        {"an emptying", two, Workload::From::kOperation, [](TDBWrapper& db, Reported& r) { r.done = db.EmptyBase(); }},
        {"a start that repairs an addition cut short", cut, Workload::From::kStart, nullptr},
        {"a close with an addition in memory", two, Workload::From::kClose,
         [](TDBWrapper& db, Reported&) { EXPECT_GT(AddScannedSupport(db, "GAMMA", 300), 0); }},
    };
  }

  // Runs the workload on `os`: the start, the operation, the close.
  Reported run(Workload& w, IoFaultOs& os, TStartReport& startReport) {
    restoreFolder(kFolder, w.start);
    CODE4& c = engine.Fresh();
    Reported reported;
    platform::ScopedOs scoped(os);
    os.armed = w.from == Workload::From::kStart;
    {
      TDBWrapper db(c, kFolder);
      startReport = db.StartReport();
      os.armed = w.from != Workload::From::kClose;
      if (w.operation) w.operation(db, reported);
      reported.callsBefore = os.calls();
      os.armed = true;
    }
    os.armed = false;
    return reported;
  }

  // A start on a sound disk: the media it lists, and what is wrong with
  // what it found, or with its start, or with the catalogue it leaves.
  ListedMedia startAgain(std::string& problems) {
    ListedMedia media;
    CODE4& c = engine.Fresh();
    {
      TDBWrapper db(c, kFolder);
      if (db.Opening() != TCatalogueOpening::kOpened) problems += "the catalogue did not open\n";
      for (const TStartRepair& said : db.StartReport())
        if (leftUndone(said))
          problems += "a start on a sound disk left a repair undone (" +
                      std::to_string(static_cast<int>(said.kind)) + ")\n";
      media = listMedia(db, problems);
      if (AddScannedSupport(db, "OMEGA", 2) <= 0 || !db.FinishChange())
        problems += "a new medium is not taken\n";
    }
    problems += catalogueTablesDisagree(c, kFolder);
    problems += changeMarksIn(kFolder);
    return media;
  }

  // Each medium as before or as after the workload; one being added, as
  // far as its addition went, saying what it holds; what was called done,
  // as after it.
  static std::string mediaDisagree(const Workload& w, const Reported& r, const ListedMedia& found) {
    std::string problems;
    if (r.done && found != w.after) problems += "the change called done is not whole\n";
    for (const std::string& volume : r.mediaDone) {
      const auto kept = found.find(volume);
      if (kept == found.end() || kept->second != w.after.at(volume))
        problems += volume + " was called added and is not whole\n";
    }
    // An emptying is all or nothing.
    if (w.after.empty() && !w.before.empty() && !found.empty() && found != w.before)
      problems += "an emptying left part of the media\n";
    for (const auto& [volume, medium] : w.before) {
      const auto kept = found.find(volume);
      const auto then = w.after.find(volume);
      const bool asAfter = then == w.after.end() ? kept == found.end()
                                                 : kept != found.end() && kept->second == then->second;
      const bool asBefore = kept != found.end() && kept->second == medium;
      if (!asBefore && !asAfter)
        problems += volume + ": " + (kept == found.end() ? "gone" : describe(kept->second)) + "\n";
    }
    for (const auto& [volume, medium] : found) {
      if (w.before.contains(volume)) continue;
      const auto then = w.after.find(volume);
      if (then == w.after.end())
        problems += volume + " appeared\n";
      else if (medium.files > then->second.files ||
               medium.label != then->second.label || medium.comment != then->second.comment)
        problems += volume + ": " + describe(medium) + ", added as " + describe(then->second) + "\n";
    }
    return problems;
  }

  // What the run said: in words only, each failure once, with its cause.
  static std::string saidWrong(const IoFaultOs& os, const Reported& r,
                               const std::vector<TChangeRefusal>& refusals,
                               const TStartReport& startReport) {
    std::string problems;
    for (const std::string& text : rawCodes) problems += "a raw engine code: " + text + "\n";
    for (size_t i = 0; i < refusals.size(); i++) {
      const TChangeRefusal& refusal = refusals[i];
      const std::string what = "refusal " + std::to_string(static_cast<int>(refusal.why)) + " (" +
                               refusal.file + ", errno " + std::to_string(refusal.error) + ")";
      if (refusal.error != 0 && refusal.error != os.firedErrno())
        problems += what + " names another cause than errno " + std::to_string(os.firedErrno()) +
                    "\n";
      for (size_t j = 0; j < i; j++)
        if (refusals[j].why == refusal.why && refusals[j].file == refusal.file)
          problems += what + " said twice\n";
    }
    bool told = !refusals.empty();
    for (const TStartRepair& said : startReport) told = told || leftUndone(said);
    // A read that failed may have been of no consequence; a room set aside
    // that the disk refused once is asked again for what is needed only.
    const IoFaultOs::Call call = os.firedCall();
    const bool changed = call != IoFaultOs::Call::kRead &&
                         (call != IoFaultOs::Call::kReserve || os.persistent);
    const bool beforeDone = os.firedAt() <= r.callsBefore;
    if (os.fired() && (changed || !r.done) && !told) problems += "the failure was not said\n";
    if (os.fired() && changed && beforeDone && r.done)
      problems += "a change that met a failure was called done\n";
    if (os.wroteAfterFailedSync())
      problems += "written after a failed sync: " + os.writtenAfter() + "\n";
    return problems;
  }

  ProgramEngine engine;
  std::unique_ptr<DirEnumerator> scan;
};

const char* const kCallNames[] = {"read", "write", "sync", "length change", "rename", "reserve"};

TEST_P(CatalogIoErrorTest, EveryDiskCallThatFailsIsSaidAndLosesNothing) {
  std::vector<Workload> all = workloads();
  int64_t runs = 0;
  for (Workload& w : all) {
    SCOPED_TRACE(w.name);
    {
      // Counted on a sound disk; the media before and after.
      std::string problems;
      restoreFolder(kFolder, w.start);
      if (w.from != Workload::From::kStart) w.before = startAgain(problems);
      IoFaultOs os(kFolder);
      RefusalRecorder refusals;
      rawCodes.clear();
      TStartReport report;
      const Reported reported = run(w, os, report);
      ASSERT_TRUE(reported.done || w.from != Workload::From::kOperation);
      w.calls = os.calls();
      ASSERT_TRUE(refusals.refusals().empty() && rawCodes.empty());
      w.after = startAgain(problems);
      ASSERT_EQ(problems, "");
      w.before.erase("OMEGA");
      w.after.erase("OMEGA");
      if (w.from == Workload::From::kStart) w.before = w.after;
    }
    for (int64_t k = 1 + GetParam(); k <= w.calls; k += kShards) {
      for (const bool persistent : {false, true}) {
        IoFaultOs os(kFolder);
        os.failAt = k;
        os.persistent = persistent;
        RefusalRecorder refusals;
        rawCodes.clear();
        TStartReport startReport;
        const Reported reported = run(w, os, startReport);
        std::string problems = saidWrong(os, reported, refusals.refusals(), startReport);
        SCOPED_TRACE(std::string("call ") + std::to_string(k) + " of " + std::to_string(w.calls) +
                     " fails (" + kCallNames[static_cast<int>(os.firedCall())] +
                     (persistent ? ", and every later one of its kind)" : ")"));
        rawCodes.clear();
        const ListedMedia found = startAgain(problems);
        problems += mediaDisagree(w, reported, found);
        if (!rawCodes.empty()) problems += "a raw engine code at the next start\n";
        EXPECT_EQ(problems, "");
        if (HasFailure()) return;
        runs++;
      }
    }
  }
  std::printf("%lld runs with a failing call\n", static_cast<long long>(runs));
}

INSTANTIATE_TEST_SUITE_P(Shards, CatalogIoErrorTest, ::testing::Range(0, kShards));

}  // namespace
