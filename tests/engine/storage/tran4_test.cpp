// Transactions over the shared log: users and their slots, transaction
// ids, commits that keep every change, rollbacks that leave records, memo
// values and tags exactly as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4log.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4zap.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"
#include "engine/storage/lock4.h"
#include "engine/storage/log4file.h"
#include "engine/storage/memo4field.h"
#include "engine/storage/tran4.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"
#include "tests/support/log_bytes.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {{"ID", 'N', 6, 0, 0},
                              {"NAME", 'C', 10, 0, 0},
                              {"CODE", 'C', 4, 0, 0},
                              {"NOTE", 'M', 10, 0, 0},
                              {nullptr, 0, 0, 0, 0}};

std::vector<uint16_t> logTypes() { return readLog(readDiskFile("C4.log")).types(); }

// The types of the entries after the first `skip`.
std::vector<uint16_t> typesAfter(size_t skip) {
  std::vector<uint16_t> all = logTypes();
  return std::vector<uint16_t>(all.begin() + static_cast<long>(std::min(skip, all.size())), all.end());
}

class TransactionTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.singleOpen = 0;
  }

  // The table "items" with a memo and four tags, one unique.
  DATA4* make() {
    Tag4info tags(c);
    tags.add("T_ID", "ID", nullptr, 0, 0);
    tags.add("T_NAME", "UPPER(NAME)", nullptr, 0, 0);
    tags.add("T_CODE", "CODE", nullptr, r4unique, 0);
    tags.add("T_LIVE", "NAME", ".NOT.DELETED()", 0, 0);
    DATA4* d = data4create(&c, "items", kFields, tags.tags());
    EXPECT_NE(d, nullptr);
    return d;
  }
  static int32_t append(DATA4* d, int id, const char* name, const char* code, const char* note) {
    data4appendStart(d, 0);
    data4blank(d);
    field4assignLong(data4field(d, "ID"), id);
    field4assign(data4field(d, "NAME"), name);
    field4assign(data4field(d, "CODE"), code);
    field4memoAssignN(data4field(d, "NOTE"), note, static_cast<uint32_t>(std::strlen(note)));
    return data4append(d);
  }
  // Every record as "id name code note", in record order.
  static std::vector<std::string> rows(DATA4* d) {
    std::vector<std::string> out;
    for (int32_t r = 1; r <= data4recCount(d); r++) {
      EXPECT_EQ(data4go(d, r), 0);
      // field4str answers in one shared buffer: each value is copied at once.
      std::string row = field4str(data4field(d, "ID"));
      row += field4str(data4field(d, "NAME"));
      row += field4str(data4field(d, "CODE"));
      row += field4memoStr(data4field(d, "NOTE"));
      out.push_back(row);
    }
    return out;
  }
  // The table with record 1 "alpha", in a transaction that has just
  // changed the name in the record buffer.
  DATA4* changedInTransaction(const char* note) {
    writeDiskFile("C4.log", emptyLog());
    DATA4* d = make();
    EXPECT_EQ(append(d, 1, "alpha", "A", note), 0);
    EXPECT_EQ(code4transactionStart(&c), 0);
    EXPECT_EQ(data4go(d, 1), 0);
    field4assign(data4field(d, "NAME"), "changed");
    return d;
  }
  // Every tag's entries as "key:record", after a flush, with the file's
  // invariants checked.
  std::map<std::string, std::vector<std::string>> tags(DATA4* d) {
    EXPECT_EQ(data4flush(d), 0);
    const CdxReport report = checkCdxFile("items.cdx", {{"T_ID", 0}});
    EXPECT_TRUE(report.ok()) << report.text();
    std::map<std::string, std::vector<std::string>> out;
    for (const CdxTagReport& t : report.tags) {
      for (const CdxEntry& e : t.entries) out[t.name].push_back(e.key + ":" + std::to_string(e.record));
    }
    return out;
  }
};

TEST_F(TransactionTest, WithoutALogNothingIsWrittenAndNoErrorLingers) {
  DATA4* d = make();
  ASSERT_EQ(append(d, 1, "alpha", "A", "memo"), 0);
  EXPECT_EQ(error4code(&c), 0);
  EXPECT_FALSE(diskFileExists("C4.log"));
  EXPECT_FALSE(c.transaction.enabled);
  // A length change right after the quiet probe works.
  EXPECT_EQ(data4zap(d, 1, 1), 0);
  EXPECT_EQ(code4transactionStart(&c), e4log);
  EXPECT_FALSE(diskFileExists("C4.log"));
  data4close(d);
}

TEST_F(TransactionTest, UsersTakeFreeSlotsAndTheLastOneLeavesTheLogClean) {
  writeDiskFile("C4.log", emptyLog());
  ASSERT_EQ(code4logOpen(&c, nullptr, nullptr), 0);
  EXPECT_EQ(code4logOpen(&c, nullptr, nullptr), r4logOpen);
  CODE4 second;
  ASSERT_EQ(code4initLow(&second, nullptr, 6502, 1611, 1), 0);
  ASSERT_EQ(code4logOpen(&second, "C4", "AVERYLONGUSERNAME"), 0);
  EXPECT_EQ(second.transaction.log.userSlot, 2);
  EXPECT_STREQ(second.transaction.trans.userId, "AVERYLONGU");

  code4logClose(&c);  // another user remains: no clean end yet
  LogContents log = readLog(readDiskFile("C4.log"));
  ASSERT_TRUE(log.whole);
  EXPECT_EQ(log.types(), (std::vector<uint16_t>{16, 16, 15, 15, 18}));
  EXPECT_EQ(log.entries[2].user, 1);
  EXPECT_EQ(log.entries[2].payload, std::string("\0\0\x06\0PUBLIC", 10));
  EXPECT_EQ(log.entries[3].user, 2);

  code4initUndo(&second);
  EXPECT_EQ(logTypes(), (std::vector<uint16_t>{16, 16, 15, 15, 18, 18, 16}));
  LOG4FILE reopened;
  EXPECT_EQ(log4fileOpen(&reopened, &c, "C4.log"), 0);
  log4fileClose(&reopened);
}

TEST_F(TransactionTest, TransactionIdsStayCongruentToTheUserSlot) {
  writeDiskFile("C4.log", emptyLog());
  CODE4 others[2];
  for (CODE4& other : others) {
    ASSERT_EQ(code4initLow(&other, nullptr, 6502, 1611, 1), 0);
    ASSERT_EQ(code4logOpen(&other, nullptr, nullptr), 0);
  }
  ASSERT_EQ(code4logOpen(&c, nullptr, nullptr), 0);
  ASSERT_EQ(c.transaction.log.userSlot, 3);
  for (int32_t expected : {3, 1003}) {
    ASSERT_EQ(code4transactionStart(&c), 0);
    EXPECT_EQ(c.transaction.trans.transactionId, expected);
    ASSERT_EQ(code4transactionCommit(&c), 0);
  }
  for (CODE4& other : others) code4initUndo(&other);
  code4initUndo(&c);

  // A later user of slot 1 goes on from the last id of that slot in the
  // log, and past the largest id starts again from its slot.
  struct Case {
    int32_t earlier;
    int32_t expected;
  } cases[] = {{5001, 6001}, {2147483001, 1}};
  for (const Case& k : cases) {
    writeDiskFile("C4.log", logCleanEnd() + logEntry({4, k.earlier, 1, 0, 0, {}}) +
                                logEntry({6, k.earlier, 1, 0, 0, {}}) + logCleanEnd());
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    ASSERT_EQ(code4transactionStart(&c), 0);
    EXPECT_EQ(c.transaction.trans.transactionId, k.expected);
    ASSERT_EQ(code4transactionRollback(&c), 0);
    code4initUndo(&c);
  }
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
}

TEST_F(TransactionTest, StatesAreEnforced) {
  writeDiskFile("C4.log", emptyLog());
  ASSERT_EQ(code4logOpen(&c, nullptr, nullptr), 0);
  EXPECT_EQ(code4transactionRollback(&c), e4transStatus);
  clearError();
  EXPECT_EQ(code4transactionCommitPhaseTwo(&c, 0), e4transStatus);
  clearError();

  // An empty rollback still records its end.
  const size_t before = logTypes().size();
  ASSERT_EQ(code4transactionStart(&c), 0);
  EXPECT_EQ(code4transactionStart(&c), e4log);
  clearError();
  EXPECT_EQ(code4unlock(&c), e4transViolation);
  clearError();
  EXPECT_EQ(code4transactionRollback(&c), 0);
  EXPECT_EQ(typesAfter(before), (std::vector<uint16_t>{4, 7}));
  EXPECT_EQ(c.transactionState, tran4inactive);

  // A commit that finds another still running refuses instead of waiting.
  ASSERT_EQ(code4transactionStart(&c), 0);
  c.transaction.log.status = log4busy;
  EXPECT_EQ(code4transactionCommit(&c), -1);
  EXPECT_EQ(lastError().code, e4log);
  clearError();
  c.transaction.log.status = log4idle;
  EXPECT_EQ(code4transactionCommit(&c), 0);
  EXPECT_EQ(typesAfter(before), (std::vector<uint16_t>{4, 7, 4, 5, 6}));

  c.autoOpenLog = 0;
  code4logClose(&c);
  EXPECT_EQ(code4transactionStart(&c), e4log);
  EXPECT_EQ(lastError().location, 80148);
}

TEST_F(TransactionTest, RollbackPutsRecordsMemosAndTagsBack) {
  writeDiskFile("C4.log", emptyLog());
  c.accessMode = 0;
  DATA4* d = make();
  ASSERT_EQ(append(d, 1, "alpha", "A", "first note"), 0);
  ASSERT_EQ(append(d, 2, "beta", "B", ""), 0);
  ASSERT_EQ(append(d, 3, "gamma", "C", "third note"), 0);
  const std::vector<std::string> rowsBefore = rows(d);
  const auto tagsBefore = tags(d);
  const std::string dbfBefore = readDiskFile("items.dbf");

  ASSERT_EQ(code4transactionStart(&c), 0);
  ASSERT_EQ(data4go(d, 2), 0);
  field4assign(data4field(d, "NAME"), "bravo");
  field4assign(data4field(d, "CODE"), "A2");
  const std::string longNote(3000, 'n');
  field4memoAssignN(data4field(d, "NOTE"), longNote.data(), static_cast<uint32_t>(longNote.size()));
  ASSERT_EQ(data4go(d, 1), 0);  // writes record 2
  field4assign(data4field(d, "CODE"), "B");  // the key record 2 just gave up
  field4memoAssignN(data4field(d, "NOTE"), "", 0);
  data4delete(d);
  ASSERT_EQ(data4go(d, 3), 0);  // writes record 1
  ASSERT_EQ(append(d, 4, "delta", "D", "appended note"), 0);
  EXPECT_EQ(append(d, 5, "echo", "D", "refused"), r4unique);
  clearError();
  EXPECT_EQ(data4recCount(d), 4);

  ASSERT_EQ(code4transactionRollback(&c), 0);
  EXPECT_EQ(data4recNo(d), -1);
  EXPECT_EQ(data4recCount(d), 3);
  EXPECT_EQ(rows(d), rowsBefore);
  EXPECT_EQ(tags(d), tagsBefore);
  data4close(d);
  // Byte for byte but for the header date and the memo references: a memo
  // value put back may live in other blocks.
  auto masked = [](std::string dbf) {
    const size_t header = getLe(dbf, 8, 2);
    const size_t length = getLe(dbf, 10, 2);
    for (size_t at = header; at + length <= dbf.size(); at += length) dbf.replace(at + 21, 10, 10, '.');
    return dbf.substr(4);
  };
  EXPECT_EQ(masked(readDiskFile("items.dbf")), masked(dbfBefore));

  int status = 0;
  const std::string dump = runCommand("index_dump --type char items.cdx T_CODE", &status);
  EXPECT_EQ(status, 0) << dump;
  EXPECT_NE(dump.find("B"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("A2"), std::string::npos) << dump;
  EXPECT_TRUE(readLog(readDiskFile("C4.log")).whole);
}

TEST_F(TransactionTest, CommitKeepsChangesAndReleasesKeysOfUniqueTags) {
  writeDiskFile("C4.log", emptyLog());
  c.accessMode = 0;
  DATA4* d = make();
  ASSERT_EQ(append(d, 1, "alpha", "A", "x"), 0);
  ASSERT_EQ(code4transactionStart(&c), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  field4assign(data4field(d, "CODE"), "Z");
  ASSERT_EQ(append(d, 2, "beta", "A", "y"), 0);  // takes the key record 1 left
  ASSERT_EQ(code4transactionCommit(&c), 0);
  ASSERT_EQ(code4unlock(&c), 0);
  const auto afterCommit = tags(d);
  EXPECT_EQ(afterCommit.at("T_CODE"), (std::vector<std::string>{"A   :2", "Z   :1"}));
  // The header carries the count the transaction left.
  const std::string header = readDiskFile("items.dbf").substr(4, 4);
  EXPECT_EQ(getLe(header, 0, 4), 2u);
  EXPECT_EQ(rows(d), (std::vector<std::string>{"     1alpha     Z   x", "     2beta      A   y"}));
  data4close(d);
}

TEST_F(TransactionTest, EachWriteIsItsOwnTransactionInTheAutomaticMode) {
  writeDiskFile("C4.log", emptyLog());
  c.logMode = log4modeAuto;
  DATA4* d = make();
  ASSERT_EQ(d->logMode, log4modeAuto);
  size_t seen = logTypes().size();
  ASSERT_EQ(append(d, 1, "alpha", "A", "note"), 0);
  EXPECT_EQ(typesAfter(seen), (std::vector<uint16_t>{4, 9, 5, 6}));
  seen = logTypes().size();
  const auto tagsBefore = tags(d);

  ASSERT_EQ(data4go(d, 1), 0);
  field4assign(data4field(d, "NAME"), "renamed");
  ASSERT_EQ(data4flush(d), 0);
  EXPECT_EQ(typesAfter(seen), (std::vector<uint16_t>{4, 8, 5, 6}));
  seen = logTypes().size();

  // A refused append is taken back: nothing of it stays.
  EXPECT_EQ(append(d, 2, "beta", "A", "refused"), r4unique);
  clearError();
  EXPECT_EQ(typesAfter(seen), (std::vector<uint16_t>{4, 9, 10, 7}));
  EXPECT_EQ(data4recCount(d), 1);
  EXPECT_EQ(c.transactionState, tran4inactive);
  const auto tagsAfter = tags(d);
  EXPECT_EQ(tagsAfter.at("T_CODE"), tagsBefore.at("T_CODE"));

  // A refused record write keeps what the caller wrote in the buffer, to
  // be mended and written again.
  ASSERT_EQ(append(d, 2, "beta", "B", "second"), 0);
  seen = logTypes().size();
  ASSERT_EQ(data4go(d, 2), 0);
  field4assign(data4field(d, "CODE"), "A");
  field4memoAssignN(data4field(d, "NOTE"), "edited", 6);
  EXPECT_EQ(data4flush(d), r4unique);
  clearError();
  EXPECT_EQ(typesAfter(seen), (std::vector<uint16_t>{4, 8, 7}));
  EXPECT_EQ(data4changed(d, -1), 1);
  EXPECT_STREQ(field4memoStr(data4field(d, "NOTE")), "edited");
  field4assign(data4field(d, "CODE"), "C");
  ASSERT_EQ(data4flush(d), 0);
  EXPECT_EQ(rows(d), (std::vector<std::string>{"     1renamed   A   note", "     2beta      C   edited"}));

  const LogContents log = readLog(readDiskFile("C4.log"));
  for (const LogEntrySpec& e : log.entries) {
    if (e.type == 8 || e.type == 9) {
      EXPECT_EQ(e.dataId, static_cast<uint32_t>(d->id));
      EXPECT_EQ(e.dataId2, static_cast<uint32_t>(d->id));
      EXPECT_EQ(e.transactionId % 1000, 1);
    }
  }
  data4close(d);
}

TEST_F(TransactionTest, AHandleClosedDuringATransactionIsKeptForItsRollback) {
  DATA4* d = changedInTransaction("kept");
  field4memoAssignN(data4field(d, "NOTE"), "gone", 4);
  ASSERT_EQ(data4close(d), 0);
  EXPECT_EQ(c.closedDataFiles.nLink, 1u);
  ASSERT_EQ(code4transactionRollback(&c), 0);
  EXPECT_EQ(c.closedDataFiles.nLink, 0u);
  EXPECT_EQ(code4dataList(&c)->nLink, 0u);

  d = data4open(&c, "items");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(rows(d), (std::vector<std::string>{"     1alpha     A   kept"}));
  data4close(d);
}

// A rollback whose undo the disk refuses fails, and leaves the settings
// object as the hook left it: with a hook that clears once it has shown
// the error (the program's), nothing stays pending and the next
// transaction starts.
TEST_F(TransactionTest, ARollbackThatCannotUndoLeavesPendingNoErrorTheHookCleared) {
  DATA4* d = changedInTransaction("note");
  ASSERT_EQ(data4flush(d), 0);
  {
    ErrorRecorder hook(/*clearing=*/true);
    FakeOs os;
    platform::ScopedOs scoped(os);
    os.failFile(FakeOs::Io::write, "items.dbf", ENOSPC);
    EXPECT_LT(code4transactionRollback(&c), 0);
    EXPECT_FALSE(hook.errors().empty());
    EXPECT_EQ(error4code(&c), 0);
  }
  EXPECT_EQ(c.transactionState, tran4inactive);
  EXPECT_EQ(code4transactionStart(&c), 0);
  EXPECT_EQ(code4transactionRollback(&c), 0);
  data4close(d);
}

TEST_F(TransactionTest, TheLogReachesTheDiskBeforeTheRecordsItCanUndo) {
  DATA4* d = changedInTransaction("note");
  FakeOs os;
  platform::ScopedOs scoped(os);
  const std::string stored = readDiskFile("items.dbf");
  const int syncsBefore = os.syncCalls;
  ASSERT_EQ(data4flush(d), 0);
  EXPECT_GT(os.syncCalls, syncsBefore);
  EXPECT_FALSE(c.transaction.log.needsFlush);
  EXPECT_NE(readDiskFile("items.dbf"), stored);
  ASSERT_EQ(code4transactionCommit(&c), 0);
  data4close(d);
}

// A log that cannot reach the disk holds the records back, and for good:
// the system answers the sync after a failed one with success whatever it
// lost (FakeOs fails once, as Linux does), so the log is never called
// synced again and its entries stay due.
TEST_F(TransactionTest, ALogWhoseSyncFailedHoldsTheRecordsBackForGood) {
  DATA4* d = changedInTransaction("note");
  FakeOs os;
  platform::ScopedOs scoped(os);
  const std::string stored = readDiskFile("items.dbf");
  os.syncError = EIO;
  EXPECT_LT(data4flush(d), 0);
  clearError();
  EXPECT_TRUE(c.transaction.log.needsFlush);
  EXPECT_LT(log4fileFlushPending(&c.transaction.log), 0);
  clearError();
  EXPECT_LT(data4flush(d), 0);
  clearError();
  EXPECT_TRUE(c.transaction.log.needsFlush);
  EXPECT_EQ(readDiskFile("items.dbf"), stored);
  code4transactionRollback(&c);
  clearError();
  data4close(d);
  clearError();
}

}  // namespace
