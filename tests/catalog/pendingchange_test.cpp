// The note of a change pending. A note that is damaged, or that was not
// written for the tables beside it, changes nothing: it is said once and
// set aside. A change's note is on the disk before the change's first
// table write, and cleared after the tables at the close. A note that
// cannot be written is still read and repaired, and every change refused
// for it names it.
#include "catalog/Pendingchange.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "features/archive/ArchiveImport.h"
#include "features/indexing/DirEnumerator.h"
#include "features/indexing/MediumIndexing.h"
#include "engine/storage/code4.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

constexpr int kDied = 42;
const char* const kFolder = "data";
const std::string kNote = std::string(kFolder) + "/" + kPendingChangeName;
const std::string kSetAside = std::string(kFolder) + "/" + kSetAsideNoteName;

using Operation = std::function<bool(TDBWrapper&)>;
using Kind = TStartRepair::Kind;

TEST(PendingNoteTest, EveryBitFlippedIsDamageAndASoundNoteReadsBack) {
  TPendingNote note;
  note.kind = TChangeKind::kAdding;
  note.before = {5, 50000, 5, 50000};
  note.supportId = 6;
  note.volume = "NA\xCFVE";
  const std::string bytes = EncodePendingNote(note);
  ASSERT_EQ(bytes.size(), 512u);
  TPendingNote read;
  ASSERT_TRUE(DecodePendingNote(bytes, read));
  EXPECT_EQ(EncodePendingNote(read), bytes);
  for (size_t bit = 0; bit < bytes.size() * 8; bit++) {
    std::string flipped = bytes;
    flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
    EXPECT_FALSE(DecodePendingNote(flipped, read)) << "bit " << bit;
  }
  // What an earlier version wrote: no check, no tie to the tables.
  EXPECT_FALSE(DecodePendingNote("A0000000005\n", read));
  // The last version's layout, without the decision's field: read as a
  // note that decided nothing.
  std::string legacy =
      "A 0000000005 0000050000 0000000005 0000050000 0000000006 0000000000 004ABCD";
  uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : legacy) {
    crc ^= static_cast<unsigned char>(ch);
    for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  char check[10];
  std::snprintf(check, sizeof check, " %08X", ~crc);
  legacy += std::string(check) + "\n";
  legacy.resize(511, ' ');
  ASSERT_TRUE(DecodePendingNote(legacy + "\n", read));
  EXPECT_EQ(read.supportId, 6);
  EXPECT_EQ(read.volume, "ABCD");
  EXPECT_EQ(read.removedSupport, 0);
}

class PendingChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    c.accessMode = 1;
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
  }
  void TearDown() override { code4initUndo(&c); }

  // A catalogue of `supports` supports M1, M2, ... of three files each,
  // closed: its files, and its rows as rowsOf tells them.
  FolderFiles catalogueOf(int supports, std::string& rows) {
    std::filesystem::remove_all(kFolder);
    std::filesystem::create_directory(kFolder);
    {
      TDBWrapper db(c, kFolder);
      for (int i = 1; i <= supports; i++)
        EXPECT_EQ(AddScannedSupport(db, "M" + std::to_string(i), 3), i);
      rows = rowsOf(db);
    }
    return keepFolder(kFolder);
  }

  // The live supports with what they say and the files they hold.
  static std::string rowsOf(TDBWrapper& db) {
    std::string rows;
    db.CountSupports();
    for (int32_t n = 1; db.GotoSupport(n); n++) {
      TSupportRecord support;
      db.ReadCurrentSupport(support);
      int32_t files = 0;
      int64_t size = 0;
      db.CountFilesOfSupport(support.id, files, size);
      rows += std::to_string(support.id) + " " + support.volume + " says " +
              std::to_string(support.fileCount) + " holds " + std::to_string(files) + "\n";
    }
    return rows;
  }

  // The note `operation` leaves on `catalogue` when the program dies at
  // the first write of a table, the note's own write being the first once
  // the tables' first flush (which dates their headers) is done.
  static std::string noteOf(const FolderFiles& catalogue, const Operation& operation) {
    restoreFolder(kFolder, catalogue);
    const int exit = inChildProcess([&](CODE4& own, FakeOs& fake) {
      auto* db = new TDBWrapper(own, kFolder);  // never closed: the process dies
      db->FlushAll();
      fake.exitAtWrite(2, kDied);
      operation(*db);
      db->FlushAll();
      return 0;
    });
    EXPECT_EQ(exit, kDied);
    return readDiskFile(kNote);
  }

  static std::vector<Kind> kindsOf(const TStartReport& report) {
    std::vector<Kind> kinds;
    for (const TStartRepair& repair : report) kinds.push_back(repair.kind);
    return kinds;
  }

  ErrorRecorder recorder{true};
  RefusalRecorder refused;
  CODE4 c;
};

// Notes of an addition, a deletion and an emptying, each begun on a
// catalogue of three media and on one of five: beside its own tables a
// note finishes its change; beside the other ones (tables that moved on
// since, or a backup restored) or damaged (an addition's note turned into
// an emptying's), it is said once, set aside, and no row changes. Media
// added after an addition's mark are taken as its series (whose renamings
// may not have reached the disk): whole, they need nothing.
TEST_F(PendingChangeTest, ANoteDamagedOrNotOfTheseTablesIsSetAsideAndChangesNothing) {
  std::string threeRows, fiveRows;
  const FolderFiles five = catalogueOf(5, fiveRows);
  const FolderFiles three = catalogueOf(3, threeRows);
  const struct {
    const char* what;
    Operation operation;
    std::vector<Kind> finished;  // said beside its own tables
    std::string rowsAfter;       // of the catalogue of three
    std::vector<Kind> movedOn;   // said beside the catalogue of five
  } changes[] = {
      {"adding",
       [](TDBWrapper& db) { return AddScannedSupport(db, "NEW", 3) > 0; },
       {},
       threeRows,
       {}},
      {"deleting",
       [](TDBWrapper& db) { return db.DeleteSupport(2); },
       {Kind::kDeletionCompleted},
       "1 M1 says 3 holds 3\n3 M3 says 3 holds 3\n",
       {Kind::kNoteStale}},
      {"emptying",
       [](TDBWrapper& db) { return db.EmptyBase(); },
       {Kind::kEmptyingCompleted},
       "",
       {Kind::kNoteStale}},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.what);
    const std::string ofThree = noteOf(three, change.operation);
    const std::string ofFive = noteOf(five, change.operation);
    std::string damaged = ofThree;
    damaged[0] = damaged[0] == 'E' ? 'A' : 'E';
    const struct {
      const char* what;
      const FolderFiles& tables;
      const std::string& rows;
      const std::string& note;
      std::vector<Kind> said;
    } cases[] = {
        {"its own tables", three, change.rowsAfter, ofThree, change.finished},
        {"tables that moved on", five, fiveRows, ofThree, change.movedOn},
        {"a restored backup", three, threeRows, ofFive, {Kind::kNoteStale}},
        {"a damaged note", three, threeRows, damaged, {Kind::kNoteDamaged}},
    };
    for (const auto& test : cases) {
      SCOPED_TRACE(test.what);
      restoreFolder(kFolder, test.tables);
      writeDiskFile(kNote, test.note);
      {
        TDBWrapper db(c, kFolder);
        EXPECT_EQ(kindsOf(db.StartReport()), test.said);
        EXPECT_EQ(rowsOf(db), test.rows);
      }
      const bool setAside = test.said == std::vector<Kind>{Kind::kNoteStale} ||
                            test.said == std::vector<Kind>{Kind::kNoteDamaged};
      if (setAside) {
        EXPECT_EQ(readDiskFile(kSetAside), test.note);
      }
      TDBWrapper again(c, kFolder);
      EXPECT_TRUE(again.StartReport().empty());
      EXPECT_EQ(rowsOf(again), test.rows);
    }
  }
  EXPECT_TRUE(recorder.errors().empty());
}

// The writes and syncs of a run of changes, through the platform: the note
// in force on the disk when a table is written or synced is always the
// note of the change that writes it; a note is replaced or renamed only
// once every data and memo file written before it is synced, and an index
// file's first write (its change mark) is synced before any other; the
// close clears the note once every table file, index files included, is
// synced.
TEST_F(PendingChangeTest, EachChangesNoteIsOnTheDiskBeforeItsTablesAndClearedAfterThem) {
  FakeOs os;
  platform::ScopedOs scoped(os);
  std::vector<size_t> starts;
  std::string kinds;
  {
    TDBWrapper db(c, kFolder);
    os.recordEvents = true;
    // A change begins by writing what came before it: that is done first,
    // so that what follows the mark is the change's own.
    auto change = [&](char kind, const std::function<void()>& body) {
      EXPECT_TRUE(db.FlushAll());
      starts.push_back(os.events().size());
      kinds += kind;
      body();
    };
    auto addition = [&](const char* name) {
      EXPECT_GT(AddScannedSupport(db, name, 3), 0);
      EXPECT_TRUE(db.FlushAll());
    };
    change('A', [&] { addition("ONE"); });
    change('A', [&] { addition("TWO"); });
    change('D', [&] { EXPECT_TRUE(db.DeleteSupport(1)); });
    change('E', [&] { EXPECT_TRUE(db.EmptyBase()); });
    change('A', [&] { addition("THREE"); });
    // The close writes what the last change left.
    EXPECT_TRUE(db.FlushAll());
    starts.push_back(os.events().size());
  }
  const std::vector<std::string> events = os.events();
  char written = ' ';
  char onDisk = ' ';
  std::set<std::string> unsynced;  // table files written since their last sync
  std::set<std::string> extensions;
  std::map<std::string, int> indexWrites;  // since its first sync, or before it
  auto isIndex = [](const std::string& file) { return file.ends_with(".cdx"); };
  size_t change = 0;
  for (size_t i = starts[0]; i < events.size(); i++) {
    while (change + 1 < starts.size() && i >= starts[change + 1]) change++;
    const std::string& event = events[i];
    SCOPED_TRACE(std::to_string(i) + ": " + event + " in change " + std::to_string(change));
    const size_t name = event.find(' ') + 1;
    const std::string file = event.substr(name, event.find(' ', name) - name);
    if (file == kPendingChangeName) {
      if (event.starts_with("write")) {
        written = event.back();
        const bool closing = i + 2 == events.size();
        for (const std::string& table : unsynced) EXPECT_TRUE(isIndex(table) && !closing) << table;
      }
      if (event.starts_with("sync")) onDisk = written;
      continue;
    }
    if (event.starts_with("sync")) {
      unsynced.erase(file);
      if (isIndex(file)) indexWrites[file] = -1;  // marked on the disk
    } else {
      unsynced.insert(file);
      extensions.insert(file.substr(file.rfind('.') + 1));
      if (isIndex(file) && indexWrites[file] >= 0) {
        EXPECT_EQ(indexWrites[file]++, 0) << file;
      }
    }
    EXPECT_EQ(onDisk, kinds[std::min(change, kinds.size() - 1)]);
  }
  // Every kind of table file was written.
  for (const char* extension : {"cdx", "dbf", "fpt"}) EXPECT_TRUE(extensions.contains(extension));
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], std::string("write ") + kPendingChangeName + "  ");
  EXPECT_EQ(events.back(), std::string("sync ") + kPendingChangeName);
}

// Makes `path` a file this process may not write, or writable again: an
// immutable file where the file system lets the user mark one, else one
// without write permission for a user who is not root. False when neither
// holds here.
bool setUnwritable(const std::string& path, bool unwritable) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = unwritable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  if (done) return true;
  if (geteuid() == 0) return false;
  return chmod(path.c_str(), unwritable ? 0444 : 0644) == 0;
}

// A folder of the note's name says no change can be pending: the start
// says the note cannot be written, and every change is refused with the
// file and the cause. A note file the program may not write, holding an
// addition that a death cut short at any write of its flush, is read and
// repaired all the same; changes are refused until it can be written.
TEST_F(PendingChangeTest, ANoteThatCannotBeWrittenIsStillRepairedAndEveryRefusalNamesIt) {
  std::string rows;
  const FolderFiles three = catalogueOf(3, rows);
  auto everyChangeRefused = [&](TDBWrapper& db, int error) {
    refused.refusals().clear();
    EXPECT_LT(AddScannedSupport(db, "NEW", 2), 0);
    EXPECT_FALSE(db.DeleteSupport(1));
    EXPECT_FALSE(db.EmptyBase());
    ASSERT_EQ(refused.refusals().size(), 3u);
    for (const TChangeRefusal& refusal : refused.refusals()) {
      EXPECT_EQ(refusal.why, TChangeRefusal::Why::kNoteUnwritable);
      EXPECT_EQ(refusal.file, kNote);
      EXPECT_EQ(refusal.error, error);
    }
  };

  std::filesystem::remove(kNote);
  std::filesystem::create_directory(kNote);
  {
    TDBWrapper db(c, kFolder);
    ASSERT_EQ(kindsOf(db.StartReport()), std::vector<Kind>{Kind::kNoteUnwritable});
    EXPECT_EQ(db.StartReport()[0].error, EISDIR);
    everyChangeRefused(db, EISDIR);
    EXPECT_EQ(rowsOf(db), rows);
  }
  std::filesystem::remove(kNote);

  auto insertion = [](TDBWrapper& db) {
    return AddScannedSupport(db, "NEW", 40) > 0 && db.FlushAll();
  };
  restoreFolder(kFolder, three);
  const int writes = inChildProcess([&](CODE4& own, FakeOs& fake) {
    TDBWrapper* db = new TDBWrapper(own, kFolder);
    fake.exitAtWrite(0, 0);
    return insertion(*db) ? static_cast<int>(fake.writesSeen()) : 0;
  });
  ASSERT_GT(writes, 2);
  bool unwritableHere = true;
  for (int k = 2; k <= writes && unwritableHere; k++) {
    SCOPED_TRACE("died at write " + std::to_string(k) + " of " + std::to_string(writes));
    restoreFolder(kFolder, three);
    ASSERT_EQ(inChildProcess([&](CODE4& own, FakeOs& fake) {
                TDBWrapper* db = new TDBWrapper(own, kFolder);
                fake.exitAtWrite(k, kDied);
                insertion(*db);
                return 0;
              }),
              kDied);
    unwritableHere = setUnwritable(kNote, true);
    if (!unwritableHere) break;
    int error = 0;
    {
      TDBWrapper db(c, kFolder);
      const std::vector<Kind> said = kindsOf(db.StartReport());
      ASSERT_FALSE(said.empty());
      EXPECT_EQ(said.back(), Kind::kNoteUnwritable);
      error = db.StartReport().back().error;
      everyChangeRefused(db, error);
    }
    EXPECT_TRUE(error == EPERM || error == EACCES) << error;
    EXPECT_EQ(catalogueDisagrees(kFolder), "");
    ASSERT_TRUE(setUnwritable(kNote, false));
    TDBWrapper db(c, kFolder);
    EXPECT_TRUE(db.StartReport().empty());
    EXPECT_GT(AddScannedSupport(db, "LATER", 2), 3);
  }
  if (!unwritableHere) GTEST_SKIP() << "no file can be made unwritable here";
}

// At the end of an indexing and of each medium of an import, the tables
// are synced files first, then the supports that count them, then the ids
// they drew: a power cut never keeps a medium that counts files it lost,
// nor rows whose ids a counter would hand out again.
TEST_F(PendingChangeTest, TheFilesAreSyncedBeforeTheSupportsAndTheSupportsBeforeTheIds) {
  std::filesystem::create_directories("medium/sub");
  for (int i = 0; i < 40; i++) writeDiskFile("medium/sub/f" + std::to_string(i) + ".txt", "x");
  DirEnumerator walk;
  ASSERT_GT(walk.Enumerate("medium"), 40);
  std::string archive = header(2);
  for (const char* name : {"ARCH1", "ARCH2"}) {
    archive += volumeBlock(name, name[4]);
    for (int i = 0; i < 20; i++) archive += fileBlock(name + std::to_string(i));
  }
  writeDiskFile("media.cex", archive);
  FakeOs os;
  platform::ScopedOs scoped(os);
  TDBWrapper db(c, kFolder);
  os.recordEvents = true;
  EXPECT_TRUE(InsertScan(db, walk, TVolumeInfo(), "", "", nullptr).written);
  EXPECT_EQ(archive::ImportArchive(db, "media.cex", {}).counts.supportsAdded, 2);
  // A table's records are synced before the count that takes them in: the
  // syncs of one table, one after the other, are one.
  std::vector<std::string> syncs;
  for (const std::string& event : os.events()) {
    const std::string file = event.substr(event.find(' ') + 1);
    if (event.starts_with("sync ") && file.ends_with(".dbf") && (syncs.empty() || syncs.back() != file))
      syncs.push_back(file);
  }
  const char* const order[] = {"DBFILES.dbf", "DBSUPPORT.dbf", "DBID.dbf"};
  // At least the indexing's flush and the import's two, each of every table.
  ASSERT_GE(syncs.size(), 9u);
  for (size_t i = 0; i < syncs.size(); i++) EXPECT_EQ(syncs[i], order[i % 3]) << i;
}

}  // namespace
