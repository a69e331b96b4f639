// Power cuts at every moment the catalogue waits for the disk. One run of
// the program is recorded through the platform (PowerCutRecorder): a new
// catalogue made and two media added, a start that rebuilds a damaged
// index, an addition, a deletion, an edit of a medium's comments, an import
// of two media, an emptying, another addition and the clean close. At
// every sync of the run, the disks a cut there could leave are rebuilt
// (writes not yet synced lost, kept in part, in any order, or torn) and the
// program is started on each. The start must leave every medium whole or
// gone (an edit's comments both old or both new; a medium being added never
// kept without any of its files), no file of no medium, every table ending
// right after its counted records, every index agreeing with its table and
// unmarked once the start is idle, every change reported done before the
// cut kept, say what it did in words only (no engine error), and leave a
// catalogue that takes a new medium. A copy only read reads every state
// the disk keeps by its syncs alone right, its marked indexes rebuilt in
// memory. Where a start repaired something, that start is recorded in turn
// and cut at each of its own syncs: the start after such a cut must come to
// what the uncut repair decided.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "features/archive/ArchiveImport.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/catalogue_audit.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/error_recorder.h"
#include "tests/support/power_cut.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

const char* const kFolder = "data";
const char* const kArchive = "two media.cex";
// Each shard takes every kShards-th cut of the run, and under the address
// sanitizer on a busy machine still needs only a part of its time limit.
constexpr int kShards = 32;

// The moment a change was reported done, and the media from then on.
struct Milestone {
  size_t position;
  ListedMedia media;
};

// The repairs of the media a start said, as a set of kinds: empty when it
// repaired none.
std::set<TStartRepair::Kind> repairsOf(const TStartReport& report) {
  using Kind = TStartRepair::Kind;
  std::set<Kind> kinds;
  for (const TStartRepair& said : report) {
    switch (said.kind) {
      case Kind::kFilesRemoved:
      case Kind::kCountSet:
      case Kind::kSupportRemoved:
      case Kind::kSupportNeverFilled:
      case Kind::kDeletionCompleted:
      case Kind::kEditCompleted:
      case Kind::kEmptyingCompleted:
        kinds.insert(said.kind);
        break;
      default:
        break;
    }
  }
  return kinds;
}

class CatalogPowerCutTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    c.accessMode = 1;
    // A few hundred rows spill from the cache before their flush, as in a
    // large catalogue.
    startSmallCache(c);
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    std::string archive = header(2);
    for (const char* name : {"DELTA", "EPSILON"}) {
      archive += volumeBlock(name, 9, 150);
      for (int i = 0; i < 150; i++) archive += fileBlock(name + std::to_string(i), i);
    }
    writeDiskFile(kArchive, archive);
  }
  void TearDown() override { code4initUndo(&c); }

  // The recorded run; each change reported done is a milestone, after
  // which a copy of the folder (what a death while idle leaves) carries no
  // change mark and the independent readers agree with it, and neither
  // does what a power cut while idle leaves: the next start owes the
  // change nothing.
  void record(PowerCutRecorder& recorder, bool checkIdle) {
    ListedMedia media;
    milestones = {{0, media}};
    auto reached = [&] {
      milestones.push_back({recorder.Position(), media});
      if (!checkIdle) return;
      SCOPED_TRACE("idle after change " + std::to_string(milestones.size() - 1));
      EXPECT_EQ(changeMarksIn(kFolder), "");
      for (const auto& [name, bytes] : recorder.Durable(recorder.Position()))
        EXPECT_FALSE(name.ends_with(".cdx") && bytes.size() > cdx4changeMarkOffset &&
                     bytes[cdx4changeMarkOffset] != 0)
            << name << " marked on the disk a power cut leaves";
      std::filesystem::remove_all("idle");
      std::filesystem::copy(kFolder, "idle");
      EXPECT_EQ(catalogueDisagrees("idle"), "");
    };
    auto add = [&](TDBWrapper& db, const char* name, int files) {
      ASSERT_GT(AddScannedSupport(db, name, files), 0);
      ASSERT_TRUE(db.FinishChange());
      media[name] = {files, name, std::string(300, 'x')};
      reached();
    };
    platform::ScopedOs scoped(recorder);
    {
      TDBWrapper db(c, kFolder);  // a new catalogue: its tables are made
      add(db, "ALPHA", 3);
      add(db, "BETA", 3);
    }
    reached();
    damageIndex();
    {
      TDBWrapper db(c, kFolder);
      ASSERT_EQ(db.StartReport().size(), 1u);  // the index rebuilt
      add(db, "GAMMA", 300);
      ASSERT_TRUE(db.DeleteSupport(1));
      media.erase("ALPHA");
      reached();
      // Comments whose record and memo entry cross sectors.
      ASSERT_TRUE(db.UpdateSupportInfo(2, "BETA, edited", std::string(700, 'y')));
      media["BETA"] = {3, "BETA, edited", std::string(700, 'y')};
      reached();
      const archive::ImportResult imported = archive::ImportArchive(db, kArchive, {});
      ASSERT_EQ(imported.status, archive::ImportStatus::kFinished);
      media["DELTA"] = media["EPSILON"] = {150, "", ""};
      media["DELTA"].label = "DELTA disc";
      media["EPSILON"].label = "EPSILON disc";
      reached();
      ASSERT_TRUE(db.EmptyBase());
      media.clear();
      reached();
      add(db, "ZETA", 40);
    }
    reached();
  }

  // One bit of DBFILES.cdx damaged (the tag of tags' option), written
  // through the platform and synced, so that the next start rebuilds the
  // index.
  static void damageIndex() {
    std::string cdx = readDiskFile(std::string(kFolder) + "/DBFILES.cdx");
    ASSERT_EQ(cdx[14], '\xE0');
    platform::Os& os = platform::os();
    const std::string name = std::string(kFolder) + "/DBFILES.cdx";
    const int fd = os.openFile(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    const char option = 0x60;
    ASSERT_EQ(os.writeAt(fd, &option, 1, 14), 1);
    ASSERT_EQ(os.syncFile(fd), 0);
    os.closeFile(fd);
  }

  // What the media found after a cut at `position` must be: each medium of
  // the change under way as before or as after it, no medium being added
  // kept without any of its files.
  std::string mediaDisagree(const ListedMedia& found, size_t position) {
    size_t m = 0;
    while (m + 1 < milestones.size() && milestones[m + 1].position <= position) m++;
    const ListedMedia& before = milestones[m].media;
    const ListedMedia& after = milestones[std::min(m + 1, milestones.size() - 1)].media;
    std::string problems;
    // An emptying under way: all or nothing.
    if (after.empty() && !before.empty() && found.empty()) return problems;
    for (const auto& [volume, medium] : before) {
      const auto kept = found.find(volume);
      const auto then = after.find(volume);
      if (kept == found.end()
              ? then != after.end()
              : kept->second != medium && (then == after.end() || kept->second != then->second))
        problems += volume + ": " + (kept == found.end() ? "gone" : describe(kept->second)) +
                    ", reported " + describe(medium) + "\n";
    }
    for (const auto& [volume, medium] : found) {
      if (before.contains(volume)) continue;
      const auto then = after.find(volume);
      if (then == after.end())
        problems += volume + " appeared\n";
      else if (medium.files < 1 || medium.files > then->second.files ||
               medium.label != then->second.label || medium.comment != then->second.comment)
        problems +=
            volume + ": " + describe(medium) + ", being added as " + describe(then->second) + "\n";
    }
    return problems;
  }

  // A start on the folder as it is, and the checks of what it leaves: the
  // media it lists, its report in words only, no mark once it is idle.
  ListedMedia startAndCheck(std::string& problems, std::set<TStartRepair::Kind>& repairs) {
    ErrorRecorder recorder(true);
    ListedMedia media;
    {
      TDBWrapper db(c, kFolder);
      EXPECT_EQ(db.Opening(), TCatalogueOpening::kOpened);
      for (const TStartRepair& said : db.StartReport()) {
        using Kind = TStartRepair::Kind;
        EXPECT_TRUE(said.kind != Kind::kNoteStale && said.kind != Kind::kNoteDamaged &&
                    said.kind != Kind::kRepairWaits && said.kind != Kind::kRepairUnwritten &&
                    said.kind != Kind::kIndexWaits && said.kind != Kind::kIndexInMemory)
            << static_cast<int>(said.kind);
      }
      repairs = repairsOf(db.StartReport());
      media = listMedia(db, problems);
      problems += changeMarksIn(kFolder);
    }
    problems += catalogueTablesDisagree(c, kFolder);
    EXPECT_TRUE(recorder.errors().empty()) << recorder.errors().front().location;
    return media;
  }

  // The next start says nothing and takes a new medium whole.
  void takesANewMedium() {
    ErrorRecorder recorder(true);
    TDBWrapper again(c, kFolder);
    EXPECT_TRUE(again.StartReport().empty());
    const int32_t id = AddScannedSupport(again, "OMEGA", 5);
    EXPECT_GT(id, 0);
    EXPECT_TRUE(again.FinishChange());
    int32_t files = 0;
    int64_t size = 0;
    EXPECT_TRUE(again.CountFilesOfSupport(id, files, size));
    EXPECT_EQ(files, 5);
    EXPECT_TRUE(recorder.errors().empty()) << recorder.errors().front().location;
  }

  // A copy on a read-only disk reads whole what it holds: every medium's
  // files found through the index as through the records.
  void readOnlyCopyReads() {
    SCOPED_TRACE("only read");
    ReadOnlyOs os;
    platform::ScopedOs scoped(os);
    ErrorRecorder recorder(true);
    std::string problems;
    {
      TDBWrapper db(c, kFolder);
      listMedia(db, problems, false);
    }
    EXPECT_EQ(problems, "");
    EXPECT_TRUE(recorder.errors().empty()) << recorder.errors().front().location;
  }

  // Starts on one disk state and checks everything a user relies on.
  void startOn(const PowerCutRecorder::DiskState& state, size_t position) {
    SCOPED_TRACE(state.label);
    restoreFolder(kFolder, state.files);
    const bool syncedOnly = state.label.ends_with("synced only");
    // (A catalogue not yet made is made by a start that can write.)
    bool made = true;
    for (const char* table : {"DBID", "DBFILES", "DBSUPPORT"}) {
      const auto file = state.files.find(std::string(kFolder) + "/" + table + ".dbf");
      made = made && file != state.files.end() && !file->second.empty();
    }
    if (syncedOnly && made) readOnlyCopyReads();
    std::string problems;
    std::set<TStartRepair::Kind> repairs;
    ListedMedia media;
    {
      NoWaitOs os;
      platform::ScopedOs scoped(os);
      media = startAndCheck(problems, repairs);
    }
    problems += mediaDisagree(media, position);
    // The other tools' readers too, on the disks that lost every write not
    // synced (a fifth of a second each).
    if (syncedOnly) problems += catalogueDisagrees(kFolder);
    EXPECT_EQ(problems, "");
    // Each way of repairing is cut in turn once in each shard: every cut of
    // every repair would take many times the run's own.
    if (!repairs.empty() && cutRepairs.insert(repairs).second)
      cutDuringTheRepair(state.files, media);
    {
      NoWaitOs os;
      platform::ScopedOs scoped(os);
      takesANewMedium();
    }
    states++;
  }

  // The start that repaired `before` into `decided`, recorded and cut at
  // each of its own syncs: each start after such a cut comes to the same.
  void cutDuringTheRepair(const FolderFiles& before, const ListedMedia& decided) {
    restoreFolder(kFolder, before);
    PowerCutRecorder recorder(kFolder);
    recorder.syncsAnsweredAtOnce = true;
    {
      platform::ScopedOs scoped(recorder);
      ErrorRecorder errors(true);
      TDBWrapper db(c, kFolder);
    }
    std::set<FolderFiles> seen;
    for (const size_t point : recorder.SyncPoints()) {
      for (const PowerCutRecorder::DiskState& state : recorder.StatesAt(point)) {
        if (!seen.insert(state.files).second) continue;
        SCOPED_TRACE("cut again during the repair: " + state.label);
        restoreFolder(kFolder, state.files);
        NoWaitOs os;
        platform::ScopedOs scoped(os);
        std::string problems;
        std::set<TStartRepair::Kind> again;
        const ListedMedia media = startAndCheck(problems, again);
        EXPECT_EQ(problems, "");
        EXPECT_EQ(media, decided);
        if (HasFailure()) return;
        repairStates++;
      }
    }
  }

  CODE4 c;
  std::vector<Milestone> milestones;
  int states = 0;
  std::set<std::set<TStartRepair::Kind>> cutRepairs;
  int repairStates = 0;
};

TEST_P(CatalogPowerCutTest, EveryCutLeavesEachMediumWholeOrGoneAndEveryIndexAgreeing) {
  PowerCutRecorder recorder(kFolder);
  recorder.syncsAnsweredAtOnce = true;
  record(recorder, GetParam() == 0);
  if (HasFailure()) return;
  // The run's distinct disk states, dealt to the shards in turn: each
  // shard starts on as many as the next.
  const std::vector<size_t> points = recorder.SyncPoints();
  std::set<size_t> seen;
  size_t dealt = 0;
  for (const size_t point : points) {
    for (const PowerCutRecorder::DiskState& state : recorder.StatesAt(point)) {
      size_t hash = 0;
      for (const auto& [name, bytes] : state.files)
        hash = hash * 31 + std::hash<std::string>()(name + '\0' + bytes);
      if (!seen.insert(hash).second || dealt++ % kShards != static_cast<size_t>(GetParam()))
        continue;
      startOn(state, point);
      if (HasFailure()) return;
    }
  }
  std::printf("%d of the %zu disk states the run's %zu cuts leave started on; %d more after cuts "
              "during a start's repair\n",
              states, dealt, points.size(), repairStates);
}

INSTANTIATE_TEST_SUITE_P(Shards, CatalogPowerCutTest, ::testing::Range(0, kShards));

}  // namespace
