// Power cuts at every moment the catalogue waits for the disk. One run of
// the program is recorded through the platform (PowerCutRecorder): a new
// catalogue made and two media added, a start that rebuilds a damaged
// index, an addition alone, a deletion, additions in a series (as an import
// makes them), an emptying, another addition and the clean close. At every sync of the run, the
// disks a cut there could leave are rebuilt (writes not yet synced lost, kept in part, in any
// order, or torn) and the program is started on each. The start must leave
// every medium whole or gone, no file of no medium, every table ending
// right after its counted records, every index agreeing with its table,
// every change reported done before the cut kept, say what it did in words
// only (no engine error), and leave a catalogue that takes a new medium.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/index/expr4.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/field4value.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/power_cut.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

const char* const kFolder = "data";
constexpr int kShards = 4;

// Media by volume name: the files each says it holds.
using Media = std::map<std::string, int32_t>;

// The moment a change was reported done, and the media from then on.
struct Milestone {
  size_t position;
  Media media;
};

// The disk of the checks: nothing is waited for.
class NoWaitOs : public platform::Os {
 public:
  int syncFile(int) override { return 0; }
  int syncFolder(const char*) override { return 0; }
  int startWriteback(int) override { return 0; }
};

uint32_t le(const std::string& bytes, size_t at, int n) {
  uint32_t value = 0;
  for (int i = n - 1; i >= 0; i--) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The table's end, and its index against its records: each tag holds, for
// every counted record, the key the engine makes of it, and nothing else.
// The index is read by the independent checker.
std::string tableDisagrees(CODE4& c, const std::string& table) {
  const std::string base = std::string(kFolder) + "/" + table;
  const std::string dbf = readDiskFile(base + ".dbf");
  if (dbf.size() < 12) return table + ": no header\n";
  const uint32_t count = le(dbf, 4, 4);
  const uint64_t end = le(dbf, 8, 2) + uint64_t{count} * le(dbf, 10, 2);
  std::string problems;
  if (dbf.size() != end + 1 || dbf.back() != '\x1a')
    problems += table + ": " + std::to_string(dbf.size()) + " bytes, " + std::to_string(end + 1) +
                " for its " + std::to_string(count) + " records\n";
  const CdxReport index =
      checkCdxFile(base + ".cdx", {{"T_F_ID", 0}, {"T_F_SUPPID", 0}, {"T_S_ID", 0}});
  if (!index.ok()) return problems + table + ".cdx: " + index.text();
  c.readOnly = 1;
  DATA4* d = data4open(&c, base.c_str());
  c.readOnly = 0;
  if (d == nullptr) return problems + table + ": does not open\n";
  for (TAG4* t = data4tagNext(d, nullptr); t != nullptr; t = data4tagNext(d, t)) {
    TAG4FILE* tag = t->tagFile;
    expr4context(tag->expr, d);
    std::vector<CdxEntry> expected;
    for (int32_t record = 1; record <= data4recCount(d); record++) {
      char* key = nullptr;
      if (data4go(d, record) != 0) return problems + table + ": a record does not read\n";
      const int32_t length = expr4key(tag->expr, &key, tag);
      expected.push_back({std::string(key, static_cast<size_t>(std::max(length, 0))),
                          static_cast<uint32_t>(record)});
    }
    std::sort(expected.begin(), expected.end(), [](const CdxEntry& a, const CdxEntry& b) {
      return a.key != b.key ? a.key < b.key : a.record < b.record;
    });
    const CdxTagReport* found = index.tag(tag->name);
    if (found == nullptr || found->entries != expected)
      problems += table + " " + tag->name + ": " +
                  std::to_string(found ? found->entries.size() : 0) + " keys, " +
                  std::to_string(expected.size()) + " records\n";
  }
  data4close(d);
  return problems;
}

class CatalogAfterCutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    c.accessMode = 1;
    // A few hundred rows spill from the cache before their flush, as in a
    // large catalogue.
    startSmallCache(c);
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
  }
  void TearDown() override { code4initUndo(&c); }

  // The media the catalogue lists, each with the files it says it holds;
  // problems where it holds others (through the index and through the
  // records) or where a live file belongs to no listed medium.
  Media listed(TDBWrapper& db, std::string& problems) {
    Media found;
    std::map<int32_t, int32_t> held;  // support id -> live files, by the records
    for (int32_t record = 1; db.Files().Handle() && record <= data4recCount(db.Files().Handle());
         record++) {
      DATA4* d = db.Files().Handle();
      data4go(d, record);
      if (!data4deleted(d)) held[field4long(data4field(d, "F_SUPPID"))]++;
    }
    db.CountSupports();
    for (int32_t n = 1; db.GotoSupport(n); n++) {
      TSupportRecord s;
      db.ReadCurrentSupport(s);
      int32_t files = 0;
      int64_t size = 0;
      db.CountFilesOfSupport(s.id, files, size);
      if (files != s.fileCount || held[s.id] != s.fileCount)
        problems += s.volume + " says " + std::to_string(s.fileCount) + " files, its index finds " +
                    std::to_string(files) + ", its records " + std::to_string(held[s.id]) + "\n";
      held.erase(s.id);
      found[s.volume] = s.fileCount;
    }
    for (const auto& [id, files] : held)
      problems += std::to_string(files) + " files of support " + std::to_string(id) +
                  ", which is not listed\n";
    return found;
  }

  CODE4 c;
};

class CatalogPowerCutTest : public CatalogAfterCutTest, public ::testing::WithParamInterface<int> {
 protected:
  // The recorded run; each change reported done is a milestone.
  void record(PowerCutRecorder& recorder) {
    Media media;
    milestones = {{0, media}};
    auto reached = [&] { milestones.push_back({recorder.Position(), media}); };
    auto add = [&](TDBWrapper& db, const char* name, int files) {
      ASSERT_GT(AddScannedSupport(db, name, files), 0);
      ASSERT_TRUE(db.FlushAll());
      media[name] = files;
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
      add(db, "DELTA", 150);
      add(db, "EPSILON", 150);
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
    platform::Os& os = platform::os();
    const std::string name = std::string(kFolder) + "/DBFILES.cdx";
    const int fd = os.openFile(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    char option = 0;
    ASSERT_EQ(os.readAt(fd, &option, 1, 14), 1);
    ASSERT_EQ(option, '\xE0');
    option = 0x60;
    ASSERT_EQ(os.writeAt(fd, &option, 1, 14), 1);
    ASSERT_EQ(os.syncFile(fd), 0);
    os.closeFile(fd);
  }

  // What the media found after a cut at `position` must be.
  std::string mediaDisagree(const Media& found, size_t position) {
    size_t m = 0;
    while (m + 1 < milestones.size() && milestones[m + 1].position <= position) m++;
    const Media& before = milestones[m].media;
    const Media& after = milestones[std::min(m + 1, milestones.size() - 1)].media;
    std::string problems;
    // An emptying under way: all or nothing.
    if (after.empty() && !before.empty() && found.empty()) return problems;
    for (const auto& [volume, files] : before) {
      const auto kept = found.find(volume);
      const bool mayGo = !after.contains(volume);
      if (kept == found.end() ? !mayGo : kept->second != files)
        problems += volume + ": " + (kept == found.end() ? "gone" : std::to_string(kept->second)) +
                    ", reported " + std::to_string(files) + "\n";
    }
    for (const auto& [volume, files] : found) {
      if (!before.contains(volume) && !after.contains(volume)) problems += volume + " appeared\n";
    }
    return problems;
  }

  // Starts on one disk state and checks everything a user relies on.
  void startOn(const PowerCutRecorder::DiskState& state, size_t position) {
    SCOPED_TRACE(state.label);
    restoreFolder(kFolder, state.files);
    NoWaitOs os;
    platform::ScopedOs scoped(os);
    ErrorRecorder recorder(true);
    std::string problems;
    {
      TDBWrapper db(c, kFolder);
      EXPECT_EQ(db.Opening(), TCatalogueOpening::kOpened);
      for (const TStartRepair& said : db.StartReport()) {
        using Kind = TStartRepair::Kind;
        EXPECT_TRUE(said.kind != Kind::kNoteStale && said.kind != Kind::kNoteDamaged &&
                    said.kind != Kind::kRepairWaits && said.kind != Kind::kRepairUnwritten &&
                    said.kind != Kind::kIndexWaits)
            << static_cast<int>(said.kind);
      }
      problems += mediaDisagree(listed(db, problems), position);
    }
    for (const char* table : {"DBFILES", "DBSUPPORT", "DBID"}) problems += tableDisagrees(c, table);
    // The other tools' readers too, on the disks that lost every write not
    // synced (a fifth of a second each).
    if (state.label.ends_with("synced only")) problems += catalogueDisagrees(kFolder);
    EXPECT_EQ(problems, "");
    TDBWrapper again(c, kFolder);
    EXPECT_TRUE(again.StartReport().empty());
    const int32_t id = AddScannedSupport(again, "OMEGA", 5);
    EXPECT_GT(id, 0);
    EXPECT_TRUE(again.FlushAll());
    int32_t files = 0;
    int64_t size = 0;
    EXPECT_TRUE(again.CountFilesOfSupport(id, files, size));
    EXPECT_EQ(files, 5);
    EXPECT_TRUE(recorder.errors().empty()) << recorder.errors().front().location;
    states++;
  }

  std::vector<Milestone> milestones;
  int states = 0;
};

TEST_P(CatalogPowerCutTest, EveryCutLeavesEachMediumWholeOrGoneAndEveryIndexAgreeing) {
  PowerCutRecorder recorder(kFolder);
  record(recorder);
  const std::vector<size_t> points = recorder.SyncPoints();
  std::set<size_t> seen;
  for (size_t i = static_cast<size_t>(GetParam()); i < points.size(); i += kShards) {
    for (const PowerCutRecorder::DiskState& state : recorder.StatesAt(points[i])) {
      size_t hash = 0;
      for (const auto& [name, bytes] : state.files)
        hash = hash * 31 + std::hash<std::string>()(name + '\0' + bytes);
      if (!seen.insert(hash).second) continue;
      startOn(state, points[i]);
      if (HasFailure()) return;
    }
  }
  std::printf("%d disk states started on, at %zu of the run's %zu cuts\n", states,
              (points.size() - static_cast<size_t>(GetParam()) + kShards - 1) / kShards,
              points.size());
}

INSTANTIATE_TEST_SUITE_P(Shards, CatalogPowerCutTest, ::testing::Range(0, kShards));

// A catalogue only read, as a copy on a read-only disk is.
class ReadOnlyOs : public platform::Os {
 public:
  int writeAccess(const char*) override { return -EROFS; }
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
  const uint32_t header = le(files, 8, 2);
  const uint32_t length = le(files, 10, 2);
  auto record = [&](uint32_t n) { return header + uint64_t{n - 1} * length; };
  using Kind = TStartRepair::Kind;
  const struct {
    const char* what;
    std::function<void()> cut;
    std::vector<Kind> said;
    int32_t gamma;  // its files after the start; -1 gone
  } cases[] = {
      {"nothing lost", [] {}, {}, 300},
      {"the last rows lost, the header's count kept",
       [&] { damage("DBFILES.dbf", record(297), ""); },
       {Kind::kCountTakenBack, Kind::kCountSet},
       290},
      {"rows lost in the middle of those beyond the count",
       [&] {
         damage("DBFILES.dbf", 4, le32(6));
         damage("DBFILES.dbf", record(107), std::string(10 * length, '\0'));
         damage("DBFILES.cdx", 28, "\1");  // the index was being changed
       },
       {Kind::kTailCut, Kind::kSupportRemoved},
       -1},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    for (const bool readOnly : {true, false}) {
      SCOPED_TRACE(readOnly ? "only read" : "written");
      restoreFolder(kFolder, left);
      test.cut();
      ErrorRecorder recorder(true);
      std::vector<Kind> said;
      {
        ReadOnlyOs os;
        std::optional<platform::ScopedOs> scoped;
        if (readOnly) scoped.emplace(os);
        TDBWrapper db(c, kFolder);
        for (const TStartRepair& repair : db.StartReport()) said.push_back(repair.kind);
        std::string problems;
        const Media media = listed(db, problems);
        if (readOnly) {
          // Damaged rows wait for their repair; whole ones are all found.
          if (test.said.empty()) {
            EXPECT_EQ(problems, "");
          }
          EXPECT_EQ(said, std::vector<Kind>{Kind::kRepairReadOnly});
          continue;
        }
        EXPECT_EQ(problems, "");
        EXPECT_EQ(said, test.said);
        EXPECT_EQ(media.contains("GAMMA") ? media.at("GAMMA") : -1, test.gamma);
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

}  // namespace
