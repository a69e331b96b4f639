// Power cuts in short runs of the table engine. Each run is recorded
// through the platform (PowerCutRecorder); at every sync of it, the disks
// a cut there could leave are rebuilt (writes not yet synced lost, kept in
// part, in any order, or torn) and the table is opened on each as the next
// start opens it: exclusively, settling its tail and rebuilding an index
// left unfinished. The table must then hold only records the run wrote,
// every record a step reported done (a flush or a close) kept, and tags
// that agree with its count and records: every counted record found by a
// seek on its key, and, as the independent checker reads the index, each
// tag holding exactly the counted records' keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/index/cdx4header.h"
#include "engine/index/expr4.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/buffer4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/data4zap.h"
#include "engine/storage/field4.h"
#include "engine/storage/field4value.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/power_cut.h"

using namespace testing_support;

namespace {

const char* const kFolder = "cut";
const char* const kTable = "cut/t";
const FIELD4INFO kFields[] = {{"ID", 'N', 6, 0, 0}, {"NAME", 'C', 20, 0, 0}, {nullptr, 0, 0, 0, 0}};
const TAG4INFO kTags[] = {{"T_ID", "ID", nullptr, 0, 0},
                          {"T_NAME", "UPPER(NAME)", nullptr, 0, 0},
                          {nullptr, nullptr, nullptr, 0, 0}};

// The records of a table by ID: the name each holds.
using Records = std::map<int32_t, std::string>;

std::string nameOf(int32_t id) {
  return "n" + std::to_string(id * 7919 % 1000) + "-" + std::to_string(id);
}
std::string renamed(int32_t id) { return "edited" + std::to_string(id); }

// A moment a step was reported done, and what the table holds from then on.
struct Milestone {
  size_t position;
  Records records;
  bool made;  // the table exists; before, a start may find none
};

// A recorded run: the records as its steps leave them, and the steps
// reported done.
struct Journal {
  PowerCutRecorder& recorder;
  Records records;
  bool made;
  std::vector<Milestone> milestones{};
  void reached() { milestones.push_back({recorder.Position(), records, made}); }
};

// How a run's writes reach the disk: held by the block cache as the
// catalogue has it and written out by the calling thread, held and handed
// to the write-behind worker in two-block runs, or written at once.
enum class Writes { held, heldBehind, direct };

// Exclusive, the writes reaching the disk as asked.
void begin(CODE4& c, Writes writes) {
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, writes == Writes::heldBehind ? 0 : 1), 0);
  c.safety = 0;
  c.accessMode = 1;
  if (writes == Writes::direct) return;
  c.cache.settings.bufferSize = 2048;
  startSmallCache(c);
  c.bufferingWriteBehind = writes == Writes::heldBehind ? 1 : 0;
}

// Ends the settings object of a scope, its workers first.
struct Ended {
  CODE4& c;
  ~Ended() { code4initUndo(&c); }
};

// The record count a data file's header holds.
uint32_t countOf(const std::string& table) {
  if (table.size() < 8) return 0;
  uint32_t value = 0;
  for (int i = 7; i >= 4; i--) value = value << 8 | static_cast<unsigned char>(table[i]);
  return value;
}

void appendRecords(DATA4* d, Records& records, int32_t from, int32_t to) {
  for (int32_t id = from; id <= to; id++) {
    ASSERT_EQ(data4appendStart(d, 0), 0);
    data4blank(d);
    field4assignLong(data4field(d, "ID"), id);
    field4assign(data4field(d, "NAME"), nameOf(id).c_str());
    ASSERT_EQ(data4append(d), 0);
    records[id] = nameOf(id);
  }
}

void rename(DATA4* d, Records& records, int32_t record) {
  ASSERT_EQ(data4go(d, record), 0);
  const int32_t id = field4long(data4field(d, "ID"));
  field4assign(data4field(d, "NAME"), renamed(id).c_str());
  records[id] = renamed(id);
}

DATA4* openTable(CODE4& c) {
  DATA4* d = data4open(&c, kTable);
  EXPECT_NE(d, nullptr);
  return d;
}

// The starting disks, made without recording: the records a start finds.
Records tableOf(CODE4& c, int32_t count) {
  Records records;
  DATA4* d = data4create(&c, kTable, kFields, kTags);
  EXPECT_NE(d, nullptr);
  if (d != nullptr) appendRecords(d, records, 1, count);
  EXPECT_EQ(data4close(d), 0);
  return records;
}

// Twelve whole records under a count of eight and an index of those eight,
// as a writer that died before its header and index took the last four in
// leaves them: the next start adopts them and rebuilds the index.
Records tailBeyondCount(CODE4& c) {
  Records records = tableOf(c, 8);
  const std::string index = readDiskFile("cut/t.cdx");
  DATA4* d = openTable(c);
  if (d != nullptr) appendRecords(d, records, 9, 12);
  EXPECT_EQ(data4close(d), 0);
  writeDiskFile("cut/t.cdx", index);
  std::string table = readDiskFile("cut/t.dbf");
  table[4] = 8;
  writeDiskFile("cut/t.dbf", table);
  return records;
}

struct Case {
  const char* name;
  std::function<Records(CODE4&)> prepare;
  std::function<void(CODE4&, Journal&)> run;
  Writes writes = Writes::held;
  // The run moves records over others: cut before it is reported done, the
  // table may hold them mixed, and only its tags are checked.
  bool movesRecords = false;
};

const Case kCases[] = {
    // The table's files reach the folder for good before anything in them
    // is reported flushed.
    {"CreateAndFlush", [](CODE4&) { return Records(); },
     [](CODE4& c, Journal& j) {
       DATA4* d = data4create(&c, kTable, kFields, kTags);
       ASSERT_NE(d, nullptr);
       appendRecords(d, j.records, 1, 20);
       ASSERT_EQ(data4flush(d), 0);
       j.made = true;
       j.reached();
       ASSERT_EQ(data4close(d), 0);
     }},
    // A close that only clears the index's change mark: the record whose
    // key changed is synced before.
    {"KeyChangedInPlaceThenClosed", [](CODE4& c) { return tableOf(c, 20); },
     [](CODE4& c, Journal& j) {
       DATA4* d = openTable(c);
       rename(d, j.records, 7);
       ASSERT_EQ(data4close(d), 0);
     },
     Writes::direct},
    // The count the start corrects reaches the disk while the index is
    // rebuilt: the old index must not be trusted over it.
    {"TailAdoptedAtOpen", tailBeyondCount,
     [](CODE4& c, Journal& j) {
       DATA4* d = openTable(c);
       ASSERT_EQ(data4flush(d), 0);
       j.reached();
       ASSERT_EQ(data4close(d), 0);
     }},
    // The rebuilt index goes in only over the moved records and the new
    // count.
    {"PartialZap", [](CODE4& c) { return tableOf(c, 60); },
     [](CODE4& c, Journal& j) {
       DATA4* d = openTable(c);
       ASSERT_EQ(data4zap(d, 5, 10), 0);
       for (int32_t id = 5; id <= 10; id++) j.records.erase(id);
       ASSERT_EQ(data4close(d), 0);
     },
     Writes::held, true},
    // The rebuilt index goes in only over the records it was built from.
    {"ReindexAfterEdits", [](CODE4& c) { return tableOf(c, 20); },
     [](CODE4& c, Journal& j) {
       DATA4* d = openTable(c);
       for (int32_t record : {3, 11, 17}) rename(d, j.records, record);
       ASSERT_EQ(data4reindex(d), 0);
       ASSERT_EQ(data4close(d), 0);
     },
     Writes::direct},
    // A rebuilt index that carries no mark is in the folder for good
    // before the changes that follow it are: else the old one comes back
    // under records it never had.
    {"ReindexThenAppends", [](CODE4& c) { return tableOf(c, 20); },
     [](CODE4& c, Journal& j) {
       DATA4* d = openTable(c);
       ASSERT_EQ(data4reindex(d), 0);
       appendRecords(d, j.records, 21, 30);
       ASSERT_EQ(data4flush(d), 0);
       j.reached();
       ASSERT_EQ(data4close(d), 0);
     }},
    // The count reaches the disk after the records it takes in, the first
    // block's among them, with write-behind as without.
    {"AppendsWrittenBehind", [](CODE4& c) { return tableOf(c, 20); },
     [](CODE4& c, Journal& j) {
       DATA4* d = openTable(c);
       appendRecords(d, j.records, 21, 140);
       ASSERT_EQ(data4flush(d), 0);
       j.reached();
       ASSERT_EQ(data4close(d), 0);
     },
     Writes::heldBehind},
    // Without the cache the header goes straight to the disk: the records
    // it takes in are synced before it, at a flush as at the close.
    {"AppendsWrittenAtOnce", [](CODE4& c) { return tableOf(c, 20); },
     [](CODE4& c, Journal& j) {
       DATA4* d = openTable(c);
       appendRecords(d, j.records, 21, 40);
       ASSERT_EQ(data4flush(d), 0);
       j.reached();
       appendRecords(d, j.records, 41, 60);
       ASSERT_EQ(data4close(d), 0);
     },
     Writes::direct},
};

// What a start on one disk state must find: the table as the steps
// reported done before the cut left it, or as the step under way leaves it.
// Records are not checked while a step that moves them is under way.
struct Expected {
  const Milestone& before;
  const Milestone& after;
  bool checkRecords;
};

using Keys = std::map<std::string, std::vector<CdxEntry>>;

// Problems where a counted record is not one the run wrote. A record past
// the count the disk held was adopted by the start as whole: a cut may
// have torn its name, which may hold any byte, so only its ID is checked.
std::string checkRecord(const Expected& e, int32_t record, uint32_t diskCount, DATA4* d,
                        Records& found) {
  const int32_t id = field4long(data4field(d, "ID"));
  std::string name(field4ptr(data4field(d, "NAME")), field4len(data4field(d, "NAME")));
  name.erase(name.find_last_not_of(' ') + 1);
  found[id] = name;
  auto wrote = [&](const Records& r) {
    return r.contains(id) && (r.at(id) == name || static_cast<uint32_t>(record) > diskCount);
  };
  if (!e.checkRecords || (!data4deleted(d) && (wrote(e.before.records) || wrote(e.after.records))))
    return "";
  return "record " + std::to_string(record) + " holds " + std::to_string(id) + " \"" + name +
         "\", which the run never wrote\n";
}

// Reads the open table: problems with its records, with records the run
// kept, and with the seeks of their IDs; and each tag's entries as the
// engine makes them.
std::string readTable(const Expected& e, uint32_t diskCount, DATA4* d, Keys& keys) {
  std::string problems;
  Records found;
  for (int32_t record = 1; record <= data4recCount(d); record++) {
    if (data4go(d, record) != 0) return problems + "a record does not read\n";
    problems += checkRecord(e, record, diskCount, d, found);
    for (TAG4* t = data4tagNext(d, nullptr); t != nullptr; t = data4tagNext(d, t)) {
      char* key = nullptr;
      const int32_t length = expr4key(t->tagFile->expr, &key, t->tagFile);
      keys[t->tagFile->name].push_back({std::string(key, static_cast<size_t>(std::max(length, 0))),
                                        static_cast<uint32_t>(record)});
    }
  }
  for (const auto& [id, name] : e.before.records)
    if (e.checkRecords && e.after.records.contains(id) && !found.contains(id))
      problems += "record " + std::to_string(id) + " lost\n";
  data4tagSelect(d, data4tag(d, "T_ID"));
  for (const auto& [id, name] : found)
    if (data4seekDouble(d, id) != 0 || field4long(data4field(d, "ID")) != id)
      problems += "the seek of " + std::to_string(id) + " lands on record " +
                  std::to_string(data4recNo(d)) + "\n";
  return problems;
}

// Problems where a tag, as the independent checker reads it, does not hold
// exactly the keys of the counted records.
std::string compareIndex(Keys& keys) {
  const CdxReport index = checkCdxFile("cut/t.cdx", {{"T_ID", 0}});
  if (!index.ok()) return index.text();
  std::string problems;
  for (auto& [tag, entries] : keys) {
    std::sort(entries.begin(), entries.end(), [](const CdxEntry& a, const CdxEntry& b) {
      return a.key != b.key ? a.key < b.key : a.record < b.record;
    });
    const CdxTagReport* read = index.tag(tag);
    if (read == nullptr || read->entries != entries)
      problems += tag + ": " + std::to_string(read ? read->entries.size() : 0) + " keys, " +
                  std::to_string(entries.size()) + " records\n";
  }
  return problems;
}

// Starts on one disk state: the problems found, or nothing. Before the
// table was reported made, a start may find none, or one not finished.
std::string startOn(CODE4& c, const PowerCutRecorder::DiskState& state, const Expected& e) {
  restoreFolder(kFolder, state.files);
  const std::string table = readDiskFile("cut/t.dbf");
  NoWaitOs os;
  platform::ScopedOs scoped(os);
  ErrorRecorder errors(true);
  DATA4* d = data4open(&c, kTable);
  if (d == nullptr) return e.before.made ? "the table does not open\n" : "";
  Keys keys;
  std::string problems = readTable(e, countOf(table), d, keys);
  data4close(d);
  // A table not yet made may not name its index yet.
  const bool indexed = table.size() > 28 && (table[28] & 1) != 0;
  return e.before.made || indexed ? problems + compareIndex(keys) : problems;
}

class EnginePowerCutTest : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
  }
};

TEST_P(EnginePowerCutTest, EveryCutLeavesTheRecordsReportedAndTagsThatAgreeWithThem) {
  const Case& run = kCases[GetParam()];
  Records start;
  {
    CODE4 c;
    ASSERT_NO_FATAL_FAILURE(begin(c, Writes::held));
    Ended ended{c};
    start = run.prepare(c);
  }
  PowerCutRecorder recorder(kFolder);
  Journal journal{recorder, start, !start.empty()};
  {
    platform::ScopedOs scoped(recorder);
    CODE4 c;
    ASSERT_NO_FATAL_FAILURE(begin(c, run.writes));
    Ended ended{c};
    journal.reached();
    run.run(c, journal);
    journal.reached();
  }
  ASSERT_FALSE(HasFailure());
  const std::vector<Milestone>& m = journal.milestones;
  CODE4 c;
  ASSERT_NO_FATAL_FAILURE(begin(c, Writes::direct));
  Ended ended{c};
  std::set<std::pair<size_t, size_t>> seen;
  int states = 0;
  for (const size_t point : recorder.SyncPoints()) {
    size_t at = 0;
    while (at + 1 < m.size() && m[at + 1].position <= point) at++;
    const size_t next = std::min(at + 1, m.size() - 1);
    const Expected expected{m[at], m[next], !run.movesRecords || at == next};
    for (const PowerCutRecorder::DiskState& state : recorder.StatesAt(point)) {
      size_t hash = 0;
      for (const auto& [name, bytes] : state.files)
        hash = hash * 31 + std::hash<std::string>()(name + '\0' + bytes);
      if (!seen.insert({at, hash}).second) continue;
      states++;
      EXPECT_EQ(startOn(c, state, expected), "") << state.label;
      if (HasFailure()) return;
    }
  }
  std::printf("%d disk states started on at %zu cuts\n", states, recorder.SyncPoints().size());
}

INSTANTIATE_TEST_SUITE_P(Runs, EnginePowerCutTest, ::testing::Range<size_t>(0, std::size(kCases)),
                         [](const auto& info) { return std::string(kCases[info.param].name); });

// Write-behind hands the records of a flush to the worker: they land and
// are synced before the header that counts them is written, and a write-out
// the worker failed keeps that header back for good, so that the disk's
// count never takes in records the disk may lack.
TEST(EngineWriteBehindTest, TheCountFollowsItsRecordsSyncedAndNeverAFailedWriteOut) {
  std::filesystem::create_directory(kFolder);
  ErrorRecorder errors(true);
  Records records;
  {
    CODE4 c;
    ASSERT_NO_FATAL_FAILURE(begin(c, Writes::held));
    Ended ended{c};
    records = tableOf(c, 40);  // the first block full: the appends begin past it
  }
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  CODE4 c;
  ASSERT_NO_FATAL_FAILURE(begin(c, Writes::heldBehind));
  Ended ended{c};
  DATA4* d = openTable(c);
  ASSERT_NE(d, nullptr);
  appendRecords(d, records, 41, 120);
  fake.recordEvents = true;
  ASSERT_EQ(data4flush(d), 0);
  const std::vector<std::string> events = fake.events();
  const auto header = std::find_if(events.begin(), events.end(), [](const std::string& e) {
    return e.starts_with("write t.dbf ");
  });
  ASSERT_NE(header, events.end());
  const auto lastRecords =
      std::find(std::make_reverse_iterator(header), events.rend(), "write t.dbf");
  ASSERT_NE(lastRecords, events.rend());
  EXPECT_TRUE(std::find(lastRecords.base(), header, "sync t.dbf") != header)
      << "the header is written before the records it counts are synced";

  appendRecords(d, records, 121, 200);
  fake.fillDiskAtWrite(1);  // the first run handed over is cut short
  EXPECT_LT(data4flush(d), 0);
  EXPECT_EQ(countOf(readDiskFile("cut/t.dbf")), 120u);
  fake.fillDiskAtWrite(0);
  error4set(&c, 0);
  // The refused run's records left the cache with it: room again brings
  // them back to no count.
  EXPECT_LT(data4flush(d), 0);
  EXPECT_EQ(countOf(readDiskFile("cut/t.dbf")), 120u);
  error4set(&c, 0);
}

// A change finished (data4settle) costs the next open nothing after any
// death: the clearing of each index's change mark is synced before the
// settle returns, so that a power cut while idle keeps it, as a kill does.
TEST(EngineSettleTest, AClearedChangeMarkIsDurableOnceTheSettleReturns) {
  for (const Writes writes : {Writes::held, Writes::heldBehind, Writes::direct}) {
    SCOPED_TRACE(static_cast<int>(writes));
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    Records records;
    {
      CODE4 c;
      ASSERT_NO_FATAL_FAILURE(begin(c, Writes::held));
      Ended ended{c};
      records = tableOf(c, 20);
    }
    PowerCutRecorder recorder(kFolder);
    platform::ScopedOs scoped(recorder);
    CODE4 c;
    ASSERT_NO_FATAL_FAILURE(begin(c, writes));
    Ended ended{c};
    DATA4* d = openTable(c);
    ASSERT_NE(d, nullptr);
    appendRecords(d, records, 21, 60);
    ASSERT_EQ(data4settle(d), 0);
    const std::string index = recorder.Durable(recorder.Position())["cut/t.cdx"];
    ASSERT_GT(index.size(), static_cast<size_t>(cdx4changeMarkOffset));
    EXPECT_EQ(index[cdx4changeMarkOffset], 0) << "the change mark";
    ASSERT_EQ(data4close(d), 0);
  }
}

}  // namespace
