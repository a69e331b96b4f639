// Disk errors at every disk call of the catalogue's work, in the manner of
// SQLite's I/O-error tests. Each workload (a first start on an empty
// folder; on a catalogue of three media of 200 files: an indexing of 300
// files, an import of three media of 150 files, a deletion of one medium,
// an edit, an emptying, an export over an older archive, a close with an
// addition still in memory; a start that repairs an addition cut short) is
// run once to count the calls it makes to the data folder from its start
// to its close (IoFaultOs: opens, creations, reads, writes, syncs, length
// changes, renames, removals, room set aside); then again with call k
// failing, for every k, so that a start whose first calls fail is followed
// by the whole workload. Of the reads of a table's records, which a walk
// makes one by one, the first sixteen of each file and every fourth after
// them fail. Two passes: with no workers and a cache small enough that rows
// spill, each call failing once alone and once with every later call of
// its kind; and with the engine as the program starts it (its workers, its
// cache), each call failing one of the two ways in turn. Writes fail with
// EIO and with ENOSPC, room set aside with EOPNOTSUPP and with ENOSPC.
//
// Every run must meet its fault. A start with a sound disk must then find
// every medium as before the workload or as after it (one being added may
// hold part of its files, its row saying so), every change the run called
// done, every table ending after its records and every tag agreeing with
// them, no row of no medium, and take a new medium; an export called done
// wrote the whole catalogue, one not called done left the older archive as
// it was. The run must have said each failure in words, once, each refusal
// and start line naming the kind of call that failed and its errno (never
// a raw engine code), and nothing in the folder may have changed after a
// failed sync, by the calls made or by the files' sizes and times.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "features/archive/ArchiveExport.h"
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
using Call = IoFaultOs::Call;

namespace {

const char* const kFolder = "data";
const char* const kArchive = "three media.cex";
const char* const kExported = "exported.cex";
const char* const kOlderArchive = "an older archive\r\n";
constexpr int kMediumFiles = 200;

std::vector<std::string>& rawCodes = ProgramEngine::rawCodes();

// What a run reported: the change called done, and the media an import
// called added; the disk calls made until it returned.
struct Reported {
  bool done = false;
  std::vector<std::string> mediaDone;
  int64_t callsBefore = 0;
};

// The start's lines that leave something undone, which a start on a sound
// disk never says.
bool leftUndone(TStartRepair::Kind kind) {
  using Kind = TStartRepair::Kind;
  for (Kind undone : {Kind::kEmptyingIncomplete, Kind::kRepairUnwritten, Kind::kRepairWaits,
                      Kind::kRepairReadOnly, Kind::kNoteUnreadable, Kind::kNoteUnwritable,
                      Kind::kIndexWaits, Kind::kIndexInMemory})
    if (kind == undone) return true;
  return false;
}

// The kind of call the words must name for a failure of `call`: reading a
// file, writing one (its bytes, its length, its room, its name), or having
// the disk confirm it.
TDiskCall toldAs(Call call) {
  switch (call) {
    case Call::kRead:
    case Call::kOpen:
      return TDiskCall::kRead;
    case Call::kSync:
      return TDiskCall::kSync;
    default:
      return TDiskCall::kWrite;
  }
}

const char* callText(TDiskCall call) {
  static const char* const texts[] = {"none", "read", "write", "sync"};
  return texts[static_cast<int>(call)];
}

enum class Engine { kSmallCache, kProgram };

struct Workload {
  // Whether it changes the catalogue, or only reads it (a start, an
  // export), or leaves a change unfinished in memory (a close).
  enum class Kind { kChange, kReading, kClose };
  const char* name;
  // The folder it starts on.
  const FolderFiles* start;
  Kind kind;
  // Null for a start alone; it runs, then the catalogue closes.
  std::function<void(TDBWrapper&, Reported&)> operation;
  // It exports the catalogue over an older archive.
  bool exports = false;
  // Calls of these kinds besides opens and reads, which every run makes: a
  // seam that sees none would leave them never failed.
  std::vector<Call> meets;
};

class CatalogIoErrorTest : public ::testing::TestWithParam<std::tuple<int, Engine, int>> {
 protected:
  // The folders the workloads start on.
  void makeFolders() {
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    empty_ = keepFolder(kFolder);
    {
      TDBWrapper db(engine_.Fresh(), kFolder);
      for (const char* name : {"ALPHA", "BETA", "GAMMA"}) {
        EXPECT_GT(AddScannedSupport(db, name, kMediumFiles), 0);
        EXPECT_TRUE(db.FinishChange());
      }
    }
    base_ = keepFolder(kFolder);
    {
      // What a death in the middle of an addition leaves: the rows the
      // cache let go, the note, the marked indexes.
      TDBWrapper db(engine_.Fresh(), kFolder);
      EXPECT_GT(AddScannedSupport(db, "DELTA", 300), 0);
      cut_ = keepFolder(kFolder);
    }
    // ... and the work file of an index rebuilt when the program died
    // before, which the next open removes.
    cut_[std::string(kFolder) + "/DBFILES.cdx.~03"] = std::string(1024, 'w');
    // A medium of 300 files, walked as the indexing dialog walks it; an
    // archive of three media of 150 files.
    std::filesystem::create_directories("DELTA");
    for (int i = 0; i < 300; i++) writeDiskFile("DELTA/DELTA" + std::to_string(i) + ".txt", "x");
    scan_ = std::make_unique<DirEnumerator>();
    scan_->Enumerate("DELTA");
    std::string archive = header(3);
    uint32_t serial = 9;
    for (const char* name : {"EPSILON", "ZETA", "ETA"}) {
      archive += volumeBlock(name, serial++, 150);
      for (int i = 0; i < 150; i++) archive += fileBlock(name + std::to_string(i), i);
    }
    writeDiskFile(kArchive, archive);
  }

  std::vector<Workload> workloads() {
    auto index = [this](TDBWrapper& db, Reported& r) {
      TVolumeInfo volume;
      volume.volumeName = "DELTA";
      const TInsertionResult result = InsertScan(db, *scan_, volume, "DELTA", "", nullptr);
      r.done = result.written && result.failed == 0;
      if (r.done) r.mediaDone.push_back("DELTA");
    };
    auto import = [](TDBWrapper& db, Reported& r) {
      archive::ImportCallbacks callbacks;
      std::vector<std::string> added;
      const char* const names[] = {"EPSILON", "ZETA", "ETA"};
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
    };
    auto exportAll = [](TDBWrapper& db, Reported& r) {
      r.done = archive::ExportArchive(db, kExported, archive::kWholeCatalogue, {}).status ==
               archive::ExportStatus::kDone;
    };
    using Kind = Workload::Kind;
    return {
        {"first start",
         &empty_,
         Kind::kReading,
         nullptr,
         false,
         {Call::kCreate, Call::kWrite, Call::kLength, Call::kRename, Call::kSync}},
        {"indexing", &base_, Kind::kChange, index, false, {Call::kWrite, Call::kReserve}},
        {"import", &base_, Kind::kChange, import, false, {Call::kWrite, Call::kSync}},
        {"deletion",
         &base_,
         Kind::kChange,
         [](TDBWrapper& db, Reported& r) { r.done = db.DeleteSupport(2); },
         false,
         {Call::kWrite, Call::kSync}},
        {"edit",
         &base_,
         Kind::kChange,
         [](TDBWrapper& db, Reported& r) {
           r.done = db.UpdateSupportInfo(2, "BETA, edited", std::string(700, 'y'));
         },
         false,
         {Call::kWrite, Call::kLength}},
        {"emptying",
         &base_,
         Kind::kChange,
         [](TDBWrapper& db, Reported& r) { r.done = db.EmptyBase(); },
         false,
         {Call::kLength, Call::kRename}},
        {"export", &base_, Kind::kReading, exportAll, true, {}},
        {"repairing start",
         &cut_,
         Kind::kReading,
         nullptr,
         false,
         {Call::kWrite, Call::kRename, Call::kRemove}},
        {"close",
         &base_,
         Kind::kClose,
         [](TDBWrapper& db, Reported&) { AddScannedSupport(db, "DELTA", 300); },
         false,
         {Call::kWrite, Call::kReserve}},
    };
  }

  // Runs the workload from its start to its close, every call counted.
  Reported run(const Workload& w, IoFaultOs& os, TStartReport& startReport) {
    restoreFolder(kFolder, *w.start);
    writeDiskFile(kExported, kOlderArchive);
    CODE4& c = engine_.Fresh(std::get<1>(GetParam()) == Engine::kProgram);
    Reported reported;
    platform::ScopedOs scoped(os);
    os.armed = true;
    {
      TDBWrapper db(c, kFolder);
      startReport = db.StartReport();
      // A start is done when it opened the catalogue and left nothing
      // undone.
      reported.done = db.Opening() == TCatalogueOpening::kOpened &&
                      std::none_of(startReport.begin(), startReport.end(),
                                   [](const TStartRepair& said) { return leftUndone(said.kind); });
      if (w.operation) {
        // What the operation calls done; a close's change is never done.
        reported.done = false;
        w.operation(db, reported);
      }
      reported.callsBefore = os.calls();
    }
    // The workers end with the settings object: their calls count too.
    engine_.Fresh();
    os.armed = false;
    return reported;
  }

  // A start on a sound disk: the media it lists, and what is wrong with
  // what it found, or with its start, or with the catalogue it leaves. A
  // start is what its folder makes it: one the runs have met already, byte
  // for byte, is not made again (most faults leave the folder of the run
  // without them).
  ListedMedia startAgain(std::string& problems, const IoFaultOs* os = nullptr) {
    std::string folder;
    for (const auto& [name, bytes] : keepFolder(kFolder)) folder += name + '\0' + bytes + '\0';
    folder += std::to_string(os != nullptr ? os->firedErrno() : 0);
    const auto seen = soundStarts_.find(folder);
    if (seen != soundStarts_.end()) {
      problems += seen->second.problems;
      if (seen->second.rawCode) rawCodes.push_back("at an identical start");
      return seen->second.media;
    }
    const size_t rawBefore = rawCodes.size();
    std::string found;
    const ListedMedia media = startOnce(found, os);
    problems += found;
    soundStarts_[folder] = SoundStart{media, found, rawCodes.size() != rawBefore};
    return media;
  }

  ListedMedia startOnce(std::string& problems, const IoFaultOs* os) {
    ListedMedia media;
    CODE4& c = engine_.Fresh();
    {
      TDBWrapper db(c, kFolder);
      if (db.Opening() != TCatalogueOpening::kOpened) problems += "the catalogue did not open\n";
      for (const TStartRepair& said : db.StartReport()) {
        if (leftUndone(said.kind))
          problems += "a start on a sound disk left a repair undone (" +
                      std::to_string(static_cast<int>(said.kind)) + ")\n";
        // A sound disk fails no call; a cause a start finds noted on the
        // disk is the one the run met.
        if (said.call != TDiskCall::kNone ||
            (said.error != 0 && (os == nullptr || said.error != os->firedErrno())))
          problems += "a start's line (" + std::to_string(static_cast<int>(said.kind)) +
                      ") names a failure: " + callText(said.call) + ", errno " +
                      std::to_string(said.error) + "\n";
      }
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
  std::string mediaDisagree(const Workload& w, const Reported& r, const ListedMedia& found) const {
    std::string problems;
    if (r.done && found != after_) problems += "the change called done is not whole\n";
    for (const std::string& volume : r.mediaDone) {
      const auto kept = found.find(volume);
      if (kept == found.end() || kept->second != after_.at(volume))
        problems += volume + " was called added and is not whole\n";
    }
    // An emptying is all or nothing.
    if (after_.empty() && !before_.empty() && !found.empty() && found != before_)
      problems += "an emptying left part of the media\n";
    for (const auto& [volume, medium] : before_) {
      const auto kept = found.find(volume);
      const auto then = after_.find(volume);
      const bool asAfter = then == after_.end()
                               ? kept == found.end()
                               : kept != found.end() && kept->second == then->second;
      const bool asBefore = kept != found.end() && kept->second == medium;
      if (!asBefore && !asAfter)
        problems += volume + ": " + (kept == found.end() ? "gone" : describe(kept->second)) + "\n";
    }
    for (const auto& [volume, medium] : found) {
      if (before_.contains(volume)) continue;
      const auto then = after_.find(volume);
      if (then == after_.end())
        problems += volume + " appeared\n";
      else if (medium.files > then->second.files || medium.label != then->second.label ||
               medium.comment != then->second.comment)
        problems += volume + ": " + describe(medium) + ", added as " + describe(then->second) + "\n";
    }
    // An export is whole, or leaves the archive it would replace.
    if (w.exports) {
      const std::string target = readDiskFile(kExported);
      if (r.done && target != exported_) problems += "an export called done is not whole\n";
      if (!r.done && target != kOlderArchive) problems += "a failed export replaced its target\n";
    }
    return problems;
  }

  // What the run said: in words only, each failure once, naming the call
  // that failed and its errno.
  static std::string saidWrong(const IoFaultOs& os, const Workload& w, const Reported& r,
                               const std::vector<TChangeRefusal>& refusals,
                               const TStartReport& startReport) {
    std::string problems;
    for (const std::string& text : rawCodes) problems += "a raw engine code: " + text + "\n";
    const TDiskCall call = toldAs(os.firedCall());
    for (size_t i = 0; i < refusals.size(); i++) {
      const TChangeRefusal& refusal = refusals[i];
      const std::string what = "refusal " + std::to_string(static_cast<int>(refusal.why)) + " (" +
                               refusal.file + ", " + callText(refusal.call) + ", errno " +
                               std::to_string(refusal.error) + ")";
      if (refusal.call != call || refusal.error != os.firedErrno())
        problems += what + " does not name the " + callText(call) + " that failed with errno " +
                    std::to_string(os.firedErrno()) + "\n";
      for (size_t j = 0; j < i; j++)
        if (refusals[j].why == refusal.why && refusals[j].file == refusal.file)
          problems += what + " said twice\n";
    }
    for (const TStartRepair& said : startReport)
      if (said.call != TDiskCall::kNone && (said.call != call || said.error != os.firedErrno()))
        problems += "the start's line (" + std::to_string(static_cast<int>(said.kind)) +
                    ") names the " + callText(said.call) + " that failed with errno " +
                    std::to_string(said.error) + "\n";
    bool told = !refusals.empty();
    for (const TStartRepair& said : startReport) told = told || leftUndone(said.kind);
    // A read or an open that failed may have been of no consequence (one
    // read ahead, or asked again), and so may a file's creation; a room set
    // aside that the disk refused once is asked again for what is needed
    // only, and one the file system cannot set aside is written instead.
    // The folder's lock only guards against a second program: without it
    // the work goes on.
    const Call fired = os.firedCall();
    const bool lock = os.firedFile().ends_with("CATALOG.LCK");
    const bool retried =
        fired == Call::kRead || fired == Call::kOpen ||
        (fired == Call::kCreate && !os.persistent) ||
        (fired == Call::kReserve && (!os.persistent || os.firedErrno() == EOPNOTSUPP));
    const bool changed = !retried && !lock;
    const bool beforeDone = os.firedAt() <= r.callsBefore;
    if ((changed || (!r.done && !lock && w.kind != Workload::Kind::kClose)) && !told)
      problems += "the failure was not said\n";
    if (changed && beforeDone && r.done && w.kind == Workload::Kind::kChange)
      problems += "a change that met a failure was called done\n";
    if (os.wroteAfterFailedSync())
      problems += "the folder changed after a failed sync: " + os.writtenAfter() + "\n";
    if (const std::string changed = os.folderChangedSinceFailedSync(); !changed.empty())
      problems += "the folder's files changed after a failed sync\n" + changed;
    return problems;
  }

  // The media before and after a run of `w` without faults, its calls, and
  // what its export wrote.
  void countSoundRun(const Workload& w) {
    std::string problems;
    restoreFolder(kFolder, *w.start);
    before_ = startAgain(problems);
    // The workers may read ahead a block more than a run needs: of a few
    // runs, the one with the fewest calls, each of which every run makes.
    const int counts = std::get<1>(GetParam()) == Engine::kProgram ? 3 : 1;
    for (int n = 0; n < counts; n++) {
      IoFaultOs os(kFolder);
      RefusalRecorder refusals;
      rawCodes.clear();
      TStartReport report;
      const Reported reported = run(w, os, report);
      ASSERT_TRUE(reported.done || w.kind != Workload::Kind::kChange);
      ASSERT_TRUE(refusals.refusals().empty() && rawCodes.empty());
      // A seam that sees no call would pass every run unchecked.
      ASSERT_GT(os.callsOf(Call::kOpen), 0);
      ASSERT_GT(os.callsOf(Call::kRead), 0);
      for (const Call kind : w.meets) ASSERT_GT(os.callsOf(kind), 0) << IoFaultOs::nameOf(kind);
      if (n > 0 && os.calls() >= calls_) continue;
      calls_ = os.calls();
      counted_ = os.counted();
    }
    exported_ = readDiskFile(kExported);
    if (w.exports) {
      ASSERT_NE(exported_, kOlderArchive);
    }
    after_ = startAgain(problems);
    ASSERT_EQ(problems, "");
    for (ListedMedia* media : {&before_, &after_}) media->erase("OMEGA");
    if (!w.operation) before_ = after_;
  }

  struct SoundStart {
    ListedMedia media;
    std::string problems;
    bool rawCode = false;
  };
  // By the folder's files and the errno the run failed with.
  std::map<std::string, SoundStart> soundStarts_;
  ProgramEngine engine_;
  FolderFiles empty_, base_, cut_;
  std::unique_ptr<DirEnumerator> scan_;
  ListedMedia before_, after_;
  std::string exported_;
  int64_t calls_ = 0;
  std::vector<IoFaultOs::Counted> counted_;
};

// The calls a pass fails: every one, but of the reads of a table's records
// (one walk reads them one by one, hundreds alike) the first sixteen of
// each file and every fourth after them.
std::vector<int64_t> callsToFail(const std::vector<IoFaultOs::Counted>& counted) {
  std::vector<int64_t> chosen;
  std::map<std::string, int> readsOf;
  for (int64_t k = 1; k < static_cast<int64_t>(counted.size()); k++) {
    const IoFaultOs::Counted& call = counted[static_cast<size_t>(k)];
    const bool record = call.kind == Call::kRead && call.file.ends_with(".dbf");
    const int n = record ? readsOf[call.file]++ : 0;
    if (!record || n < 16 || n % 4 == 0) chosen.push_back(k);
  }
  return chosen;
}

struct Slicing {
  const char* name;
  int slices;  // each a test of its own, under its limit under the sanitizers
};
const Slicing kWorkloads[] = {{"FirstStart", 3}, {"Indexing", 3},       {"Import", 4},
                              {"Deletion", 5},   {"Edit", 2},           {"Emptying", 3},
                              {"Export", 4},     {"RepairingStart", 3}, {"Close", 3}};

// Every slice of every workload, in both passes.
std::vector<std::tuple<int, Engine, int>> everySlice() {
  std::vector<std::tuple<int, Engine, int>> all;
  for (int which = 0; which < static_cast<int>(std::size(kWorkloads)); which++)
    for (const Engine engine : {Engine::kSmallCache, Engine::kProgram})
      for (int slice = 0; slice < kWorkloads[which].slices; slice++)
        all.emplace_back(which, engine, slice);
  return all;
}

TEST_P(CatalogIoErrorTest, EveryDiskCallThatFailsIsSaidAndLosesNothing) {
  const auto [which, engine, slice] = GetParam();
  const int slices = kWorkloads[which].slices;
  makeFolders();
  const Workload w = workloads()[static_cast<size_t>(which)];
  countSoundRun(w);
  if (HasFatalFailure()) return;
  const std::vector<int64_t> chosen = callsToFail(counted_);
  int64_t runs = 0;
  for (size_t at = static_cast<size_t>(slice); at < chosen.size();
       at += static_cast<size_t>(slices)) {
    const int64_t k = chosen[at];
    // The small cache's pass fails each call once and for good; the
    // program's pass, each call one way, in turn.
    std::vector<bool> ways{false, true};
    if (engine == Engine::kProgram) ways = {at % 2 == 1};
    for (const bool persistent : ways) {
      // The workers' reads ahead may come before the owner's reads or after
      // them, or not at all: a call one run of the program's pass did not
      // reach is asked of another.
      for (int attempt = 1;; attempt++) {
        IoFaultOs os(kFolder);
        os.failAt = k;
        os.persistent = persistent;
        // Each pass meets writes failing both ways, and room set aside
        // refused both ways, once or for good.
        const bool eio = persistent == (engine == Engine::kProgram);
        os.writeErrno = eio ? EIO : ENOSPC;
        os.reserveErrno = eio ? EOPNOTSUPP : ENOSPC;
        RefusalRecorder refusals;
        rawCodes.clear();
        TStartReport startReport;
        const Reported reported = run(w, os, startReport);
        if (!os.fired() && engine == Engine::kProgram && attempt < 4) continue;
        SCOPED_TRACE(std::string("call ") + std::to_string(k) + " of " + std::to_string(calls_) +
                     " fails (" + IoFaultOs::nameOf(os.firedCall()) + " of " + os.firedFile() +
                     ", errno " + std::to_string(os.firedErrno()) +
                     (persistent ? ", and every later one of its kind)" : ")"));
        ASSERT_TRUE(os.fired()) << "the fault was never met";
        std::string problems = saidWrong(os, w, reported, refusals.refusals(), startReport);
        rawCodes.clear();
        const ListedMedia found = startAgain(problems, &os);
        problems += mediaDisagree(w, reported, found);
        if (!rawCodes.empty()) problems += "a raw engine code at the next start\n";
        EXPECT_EQ(problems, "");
        if (HasFailure()) return;
        runs++;
        break;
      }
    }
  }
  std::printf("%s: %lld runs with a failing call\n", w.name, static_cast<long long>(runs));
}

std::string runName(const ::testing::TestParamInfo<std::tuple<int, Engine, int>>& info) {
  const auto [which, engine, slice] = info.param;
  return std::string(kWorkloads[which].name) +
         (engine == Engine::kProgram ? "_Program_" : "_SmallCache_") + std::to_string(slice);
}

INSTANTIATE_TEST_SUITE_P(Runs, CatalogIoErrorTest, ::testing::ValuesIn(everySlice()), runName);

}  // namespace
