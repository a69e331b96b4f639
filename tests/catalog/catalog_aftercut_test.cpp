// What a start makes of the disks a cut or a failed sync leaves, built by
// hand: the rows an addition lost at its end or in its middle, a sync the
// disk failed (the system answering the next one with success, as Linux
// does), a repair or a deletion the disk refused. Each is said in words,
// never by an engine code, and nothing is called done that the disk does
// not hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "catalog/Pendingchange.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "tests/support/catalogue_audit.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"
#include "tests/support/io_fault_os.h"
#include "tests/support/power_cut.h"
#include "tests/support/program_boxes.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

const char* const kFolder = "data";

class CatalogAfterCutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    c.accessMode = 1;
    startSmallCache(c);
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
  }
  void TearDown() override { code4initUndo(&c); }

  // The start on the folder as it is, recorded and cut at each of its own
  // syncs: the start after any such cut still leaves GAMMA with `gamma`
  // files (-1 gone), as the repair decided, and while the note stands it
  // says so, its user perhaps never having read the cut start's words. The
  // folder is left as it was.
  void cutDuringTheRepair(int32_t gamma) {
    const FolderFiles damaged = keepFolder(kFolder);
    PowerCutRecorder recording(kFolder);
    recording.syncsAnsweredAtOnce = true;
    {
      platform::ScopedOs scoped(recording);
      ErrorRecorder errors(true);
      TDBWrapper db(c, kFolder);
    }
    for (const size_t point : recording.SyncPoints()) {
      for (const PowerCutRecorder::DiskState& state : recording.StatesAt(point)) {
        SCOPED_TRACE("cut during the repair: " + state.label);
        restoreFolder(kFolder, state.files);
        NoWaitOs os;
        platform::ScopedOs scoped(os);
        ErrorRecorder errors(true);
        const auto note = state.files.find(std::string(kFolder) + "/" + kPendingChangeName);
        const bool noted = note != state.files.end() && note->second.starts_with('A');
        TDBWrapper db(c, kFolder);
        std::string problems;
        const ListedMedia media = listMedia(db, problems);
        EXPECT_EQ(problems, "");
        EXPECT_EQ(media.contains("GAMMA") ? media.at("GAMMA").files : -1, gamma);
        const bool removalSaid =
            std::any_of(db.StartReport().begin(), db.StartReport().end(), [](const auto& said) {
              return said.kind == TStartRepair::Kind::kSupportRemoved;
            });
        if (gamma < 0 && noted) {
          EXPECT_TRUE(removalSaid);
        }
      }
    }
    restoreFolder(kFolder, damaged);
  }

  // ALPHA of three files, finished; then `added`, each flushed and the
  // change left open: the folder as a death then leaves it.
  void leftByADeath(const std::vector<std::pair<std::string, int>>& added) {
    FolderFiles kept;
    {
      TDBWrapper db(c, kFolder);
      ASSERT_EQ(AddScannedSupport(db, "ALPHA", 3), 1);
      ASSERT_TRUE(db.FinishChange());
      for (const auto& [name, files] : added) {
        ASSERT_GT(AddScannedSupport(db, name, files), 1);
        ASSERT_TRUE(db.FlushAll());
      }
      kept = keepFolder(kFolder);
    }
    restoreFolder(kFolder, kept);
  }

  char noteKind() {
    const std::string note = readDiskFile(std::string(kFolder) + "/" + kPendingChangeName);
    return note.empty() ? '\0' : note[0];
  }

  CODE4 c;
};

// Writes `bytes` over the file at `offset`, or cuts it there when empty.
void damage(const std::string& name, uint64_t offset, const std::string& bytes) {
  std::string file = readDiskFile(std::string(kFolder) + "/" + name);
  if (bytes.empty())
    file.resize(offset);
  else
    file.replace(offset, bytes.size(), bytes);
  writeDiskFile(std::string(kFolder) + "/" + name, file);
}

std::string le32(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; i++) out[i] = static_cast<char>(value >> (8 * i));
  return out;
}

// GAMMA, an addition of 300 files to two media of three, flushed, with its
// note still pending and its index marked, as the running program leaves
// it in the middle of a change; then the disk a power cut during its flush
// could have left on older versions or can leave now. A start repairs
// each, says so in words, and leaves a catalogue other tools read and that
// takes a new medium; a copy only read reads each right (its marked index
// rebuilt in memory) and says that the repair waits for a start that can
// write.
TEST_F(CatalogAfterCutTest, AStartRepairsWhatACutLeftOfAnAdditionAndACopyOnlyReadSaysSoOnlyThen) {
  {
    TDBWrapper db(c, kFolder);
    ASSERT_EQ(AddScannedSupport(db, "ALPHA", 3), 1);
    ASSERT_EQ(AddScannedSupport(db, "BETA", 3), 2);
  }
  FolderFiles left;
  {
    TDBWrapper db(c, kFolder);
    ASSERT_EQ(AddScannedSupport(db, "GAMMA", 300), 3);
    ASSERT_TRUE(db.FlushAll());
    left = keepFolder(kFolder);
  }
  const std::string files = readDiskFile(std::string(kFolder) + "/DBFILES.dbf");
  const uint32_t header = littleEndian(files, 8, 2);
  const uint32_t length = littleEndian(files, 10, 2);
  auto record = [&](uint32_t n) { return header + uint64_t{n - 1} * length; };
  using Kind = TStartRepair::Kind;
  const struct {
    const char* what;
    std::function<void()> cut;
    std::vector<Kind> said;
    int32_t gamma;  // its files after the start; -1 gone
  } cases[] = {
      // Each index was marked: the start rebuilds it and says so.
      {"nothing lost", [] {}, {Kind::kIndexFinished, Kind::kIndexFinished}, 300},
      {"the last rows lost, the header's count kept",
       [&] { damage("DBFILES.dbf", record(297), ""); },
       {Kind::kCountTakenBack, Kind::kIndexFinished, Kind::kIndexFinished, Kind::kCountSet},
       290},
      {"rows lost in the middle of those beyond the count",
       [&] {
         damage("DBFILES.dbf", 4, le32(6));
         damage("DBFILES.dbf", record(107), std::string(10 * length, '\0'));
         damage("DBFILES.cdx", 28, "\1");  // the index was being changed
       },
       {Kind::kTailCut, Kind::kIndexFinished, Kind::kIndexFinished, Kind::kSupportRemoved},
       -1},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    for (const bool readOnly : {true, false}) {
      SCOPED_TRACE(readOnly ? "only read" : "written");
      restoreFolder(kFolder, left);
      test.cut();
      if (!readOnly) cutDuringTheRepair(test.gamma);
      ErrorRecorder recorder(true);
      std::vector<Kind> said;
      {
        ReadOnlyOs os;
        std::optional<platform::ScopedOs> scoped;
        if (readOnly) scoped.emplace(os);
        TDBWrapper db(c, kFolder);
        for (const TStartRepair& repair : db.StartReport()) said.push_back(repair.kind);
        std::string problems;
        const ListedMedia media = listMedia(db, problems);
        if (readOnly) {
          // Damaged rows wait for their repair; whole ones are all found.
          if (test.gamma == 300) {
            EXPECT_EQ(problems, "");
          }
          EXPECT_EQ(said, std::vector<Kind>{Kind::kRepairReadOnly});
          continue;
        }
        EXPECT_EQ(problems, "");
        EXPECT_EQ(said, test.said);
        EXPECT_EQ(media.contains("GAMMA") ? media.at("GAMMA").files : -1, test.gamma);
        EXPECT_TRUE(db.MayChange());
      }
      EXPECT_EQ(catalogueDisagrees(kFolder), "");
      TDBWrapper again(c, kFolder);
      EXPECT_TRUE(again.StartReport().empty());
      EXPECT_EQ(AddScannedSupport(again, "OMEGA", 5), 4);
      EXPECT_TRUE(recorder.errors().empty()) << recorder.errors().front().location;
    }
  }
}

// A medium whose row a start had deleted when a cut took the rest of its
// removal, in a series whose note names another: the next start removes
// its files and names it by the label its row holds, as it does every
// medium whose row it reads.
TEST_F(CatalogAfterCutTest, AStartNamesEachMediumByTheLabelItsRowHolds) {
  // A series, as an import makes it: the note names DELTA, the last.
  leftByADeath({{"GAMMA", 30}, {"DELTA", 5}});
  const std::string name = std::string(kFolder) + "/DBSUPPORT.dbf";
  std::string supports = readDiskFile(name);
  supports[littleEndian(supports, 8, 2) + littleEndian(supports, 10, 2)] = '*';
  writeDiskFile(name, supports);
  TDBWrapper db(c, kFolder);
  const TStartReport& said = db.StartReport();
  const auto removed = std::find_if(said.begin(), said.end(), [](const TStartRepair& r) {
    return r.kind == TStartRepair::Kind::kFilesRemoved;
  });
  ASSERT_NE(removed, said.end());
  EXPECT_EQ(removed->supportId, 2);
  EXPECT_EQ(removed->volume, "GAMMA");
  EXPECT_EQ(removed->count, 30);
}

// One sync fails during the second of three changes, of a table's records
// or of an index's change mark; the system answers every later one with
// success, whatever it lost. That change fails, the third is refused, the
// user reads it once, in words, and the note stays for the next start,
// which repairs from it as after a cut.
TEST_F(CatalogAfterCutTest, ASyncThatFailsIsNeverRetriedIntoSuccess) {
  for (const char* file : {"DBFILES.dbf", "DBSUPPORT.cdx"}) {
    SCOPED_TRACE(file);
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    ProgramBoxes boxes;
    {
      FakeOs os;
      platform::ScopedOs scoped(os);
      TDBWrapper db(c, kFolder);
      ASSERT_EQ(AddScannedSupport(db, "ALPHA", 3), 1);
      ASSERT_TRUE(db.FinishChange());
      os.failFile(FakeOs::Io::sync, file, EIO, true);
      AddScannedSupport(db, "BETA", 3);
      EXPECT_FALSE(db.FinishChange());
      EXPECT_EQ(AddScannedSupport(db, "GAMMA", 3), -1);
      EXPECT_FALSE(db.MayChange());
    }
    EXPECT_EQ(boxes.boxes(), std::vector<std::string>());
    std::vector<TChangeRefusal::Why> said;
    for (const TChangeRefusal& refusal : boxes.refusals()) said.push_back(refusal.why);
    using Why = TChangeRefusal::Why;
    // Every change after it is refused for that sync, whatever the
    // catalogue holds in memory.
    EXPECT_EQ(said, (std::vector<Why>{Why::kSyncFailed, Why::kSyncFailedEarlier,
                                      Why::kSyncFailedEarlier}));
    EXPECT_EQ(noteKind(), 'A');
    TDBWrapper again(c, kFolder);
    std::string problems;
    const ListedMedia media = listMedia(again, problems);
    EXPECT_EQ(problems, "");
    EXPECT_TRUE(media.contains("ALPHA"));
    EXPECT_FALSE(media.contains("GAMMA"));
    EXPECT_TRUE(again.MayChange());
    EXPECT_EQ(boxes.boxes(), std::vector<std::string>());
  }
}

// A start's repair that the disk does not take (its sync fails) says so
// and nothing else: no line calls done what the disk may not hold, and the
// note stays for the next start, which finds the change complete or
// completes it.
TEST_F(CatalogAfterCutTest, ARepairTheDiskRefusesIsNotCalledDoneAndKeepsItsNote) {
  leftByADeath({{"GAMMA", 300}});
  // The last rows lost, the header's count kept: the repair sets GAMMA's
  // count to the files the table holds.
  const std::string files = readDiskFile(std::string(kFolder) + "/DBFILES.dbf");
  const uint64_t cut = littleEndian(files, 8, 2) + uint64_t{296} * littleEndian(files, 10, 2);
  writeDiskFile(std::string(kFolder) + "/DBFILES.dbf", files.substr(0, cut));
  using Kind = TStartRepair::Kind;
  ProgramBoxes boxes;
  std::vector<Kind> said;
  {
    FakeOs os;
    platform::ScopedOs scoped(os);
    os.failFile(FakeOs::Io::sync, "DBSUPPORT.dbf", EIO, true);
    TDBWrapper db(c, kFolder);
    for (const TStartRepair& repair : db.StartReport()) said.push_back(repair.kind);
  }
  EXPECT_EQ(said, (std::vector<Kind>{Kind::kCountTakenBack, Kind::kIndexFinished,
                                     Kind::kIndexFinished, Kind::kRepairUnwritten}));
  EXPECT_EQ(boxes.boxes(), std::vector<std::string>());
  EXPECT_EQ(noteKind(), 'A');
  TDBWrapper again(c, kFolder);
  for (const TStartRepair& repair : again.StartReport()) EXPECT_EQ(repair.kind, Kind::kCountSet);
  std::string problems;
  EXPECT_EQ(listMedia(again, problems).at("GAMMA").files, 293);
  EXPECT_EQ(problems, "");
}

// A deletion whose writing the disk refuses is not called done: the
// support list then shows the catalogue as it stands, and the note stays.
// The next start completes it, and names the medium as the list of media
// shows it: by its label, or by the user's own name for it when it has
// none.
TEST_F(CatalogAfterCutTest, ADeletionTheDiskRefusesIsNotCalledDone) {
  ProgramBoxes boxes;
  {
    FakeOs os;
    platform::ScopedOs scoped(os);
    TDBWrapper db(c, kFolder);
    TSupportRecord unlabelled;
    unlabelled.type = "FD";
    unlabelled.userId = "Holiday photos";
    ASSERT_EQ(db.AddSupportRecord(unlabelled), 1);
    TFileRecord file = FileRow(1, "\\", "beach.jpg");
    ASSERT_GT(db.AddFileRecord(file), 0);
    ASSERT_TRUE(db.FinishChange());
    os.failFile(FakeOs::Io::sync, "DBFILES.dbf", EIO, true);
    EXPECT_FALSE(db.DeleteSupport(1));
    EXPECT_EQ(noteKind(), 'D');
    EXPECT_EQ(boxes.boxes(), std::vector<std::string>());
  }
  TDBWrapper db(c, kFolder);
  ASSERT_EQ(db.StartReport().size(), 1u);
  EXPECT_EQ(db.StartReport()[0].kind, TStartRepair::Kind::kDeletionCompleted);
  EXPECT_EQ(db.StartReport()[0].volume, "Holiday photos");
}

// A start that decides to remove a medium whose last rows a cut damaged
// notes its decision before the cut that loses the damage. When the
// note's sync fails, the start says so and goes no further: the damaged
// records stay, the note stays (its decision written or not), and the
// next start removes the medium and says it.
TEST_F(CatalogAfterCutTest, ARemovalWhoseDecisionDoesNotSyncIsLeftToTheNextStart) {
  leftByADeath({{"GAMMA", 300}});
  const std::string files = readDiskFile(std::string(kFolder) + "/DBFILES.dbf");
  const uint32_t header = littleEndian(files, 8, 2);
  const uint32_t length = littleEndian(files, 10, 2);
  damage("DBFILES.dbf", 4, le32(3));
  damage("DBFILES.dbf", header + uint64_t{103} * length, std::string(10 * length, '\0'));
  damage("DBFILES.cdx", 28, "\1");
  const size_t damaged = readDiskFile(std::string(kFolder) + "/DBFILES.dbf").size();
  using Kind = TStartRepair::Kind;
  auto said = [](const TDBWrapper& db, Kind kind) {
    return std::any_of(db.StartReport().begin(), db.StartReport().end(),
                       [&](const TStartRepair& r) { return r.kind == kind; });
  };
  ProgramBoxes boxes;
  {
    IoFaultOs os(kFolder);
    os.failCalls(IoFaultOs::Call::kSync, kPendingChangeName, true);
    platform::ScopedOs scoped(os);
    TDBWrapper db(c, kFolder);
    EXPECT_FALSE(said(db, Kind::kSupportRemoved));
    EXPECT_FALSE(db.MayChange());
  }
  ASSERT_FALSE(boxes.refusals().empty());
  EXPECT_EQ(boxes.refusals()[0].why, TChangeRefusal::Why::kSyncFailed);
  EXPECT_EQ(readDiskFile(std::string(kFolder) + "/DBFILES.dbf").size(), damaged);
  TPendingNote note;
  ASSERT_TRUE(DecodePendingNote(readDiskFile(std::string(kFolder) + "/" + kPendingChangeName), note));
  EXPECT_EQ(note.kind, TChangeKind::kAdding);
  TDBWrapper again(c, kFolder);
  EXPECT_TRUE(said(again, Kind::kSupportRemoved));
  std::string problems;
  EXPECT_FALSE(listMedia(again, problems).contains("GAMMA"));
  EXPECT_EQ(problems, "");
}

}  // namespace
