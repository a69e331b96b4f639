// Transactions under a second look: rollbacks that must leave records,
// counts, file lengths and tags as they were before the transaction, in
// shared and exclusive access and with several handles on one table, and
// failures that must not leave the engine inside a transaction.
#include <gtest/gtest.h>

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

// Without a memo field: nothing but the record bytes tells what a record
// held before a write.
const FIELD4INFO kPlainFields[] = {
    {"ID", 'N', 6, 0, 0}, {"NAME", 'C', 10, 0, 0}, {"CODE", 'C', 4, 0, 0}, {nullptr, 0, 0, 0, 0}};

class TransactionReviewTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.singleOpen = 0;
    // Every test starts from a fresh, clean log of its own.
    writeDiskFile("C4.log", emptyLog());
  }

  // The table "plain" with an ordinary, a unique and a filtered tag.
  DATA4* make() {
    Tag4info tags(c);
    tags.add("T_ID", "ID", nullptr, 0, 0);
    tags.add("T_CODE", "CODE", nullptr, r4unique, 0);
    tags.add("T_LIVE", "NAME", ".NOT.DELETED()", 0, 0);
    DATA4* d = data4create(&c, "plain", kPlainFields, tags.tags());
    EXPECT_NE(d, nullptr);
    return d;
  }
  static int32_t append(DATA4* d, int id, const char* name, const char* code) {
    data4appendStart(d, 0);
    data4blank(d);
    field4assignLong(data4field(d, "ID"), id);
    field4assign(data4field(d, "NAME"), name);
    field4assign(data4field(d, "CODE"), code);
    return data4append(d);
  }
  static std::vector<std::string> rows(DATA4* d) {
    std::vector<std::string> out;
    for (int32_t r = 1; r <= data4recCount(d); r++) {
      EXPECT_EQ(data4go(d, r), 0);
      std::string row = data4deleted(d) ? "*" : " ";
      row += field4str(data4field(d, "ID"));
      row += field4str(data4field(d, "NAME"));
      row += field4str(data4field(d, "CODE"));
      out.push_back(row);
    }
    return out;
  }
  // Every tag's entries as "key:record", after a flush, with the file's
  // invariants checked.
  std::map<std::string, std::vector<std::string>> tags(DATA4* d) {
    EXPECT_EQ(data4flush(d), 0);
    const CdxReport report = checkCdxFile("plain.cdx", {{"T_ID", 0}});
    EXPECT_TRUE(report.ok()) << report.text();
    std::map<std::string, std::vector<std::string>> out;
    for (const CdxTagReport& t : report.tags) {
      for (const CdxEntry& e : t.entries) out[t.name].push_back(e.key + ":" + std::to_string(e.record));
    }
    return out;
  }
  // The record count in the stored header and the file's length.
  static uint32_t storedCount() { return static_cast<uint32_t>(getLe(readDiskFile("plain.dbf"), 4, 4)); }
  static size_t fileLength() { return readDiskFile("plain.dbf").size(); }
};

// In shared access a transaction keeps the table's append lock to its end.
// Undoing its appends newest first must keep it as well: every appended
// record goes, with its keys, and the earlier updates are undone too.
TEST_F(TransactionReviewTest, SharedRollbackUndoesEveryAppendAndTheUpdatesBefore) {
  c.accessMode = 0;
  DATA4* d = make();
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  ASSERT_EQ(append(d, 2, "beta", "B"), 0);
  ASSERT_EQ(code4unlock(&c), 0);
  const auto rowsBefore = rows(d);
  const auto tagsBefore = tags(d);
  const size_t lengthBefore = fileLength();

  ASSERT_EQ(code4transactionStart(&c), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  field4assign(data4field(d, "NAME"), "changed");
  data4delete(d);
  ASSERT_EQ(append(d, 3, "gamma", "C"), 0);
  ASSERT_EQ(append(d, 4, "delta", "D"), 0);
  ASSERT_EQ(append(d, 5, "echo", "E"), 0);
  EXPECT_EQ(data4recCount(d), 5);

  EXPECT_EQ(code4transactionRollback(&c), 0);
  EXPECT_EQ(error4code(&c), 0);
  clearError();
  EXPECT_EQ(c.transactionState, tran4inactive);
  EXPECT_EQ(data4recCount(d), 2);
  EXPECT_EQ(storedCount(), 2u);
  EXPECT_EQ(fileLength(), lengthBefore);
  EXPECT_EQ(rows(d), rowsBefore);
  EXPECT_EQ(tags(d), tagsBefore);
  data4close(d);
}

// A record's first update in a transaction must log what the file holds,
// not what the writing handle last read: another handle on the table may
// have rewritten the record since. Otherwise a rollback brings back a
// value older than the transaction and loses a change made before it.
TEST_F(TransactionReviewTest, RollbackKeepsWhatAnotherHandleWroteBeforeTheTransaction) {
  c.accessMode = 1;
  DATA4* first = make();
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(append(first, 1, "alpha", "A"), 0);
  ASSERT_EQ(data4flush(first), 0);
  DATA4* second = data4open(&c, "plain");
  ASSERT_NE(second, nullptr);

  ASSERT_EQ(data4go(first, 1), 0);  // `first` reads "alpha"
  ASSERT_EQ(data4go(second, 1), 0);
  field4assign(data4field(second, "NAME"), "committed");
  field4assign(data4field(second, "CODE"), "K");
  ASSERT_EQ(data4flush(second), 0);
  const auto rowsBefore = rows(second);
  const auto tagsBefore = tags(second);
  ASSERT_EQ(rowsBefore, (std::vector<std::string>{"      1committed K   "}));

  ASSERT_EQ(code4transactionStart(&c), 0);
  // `first` writes from the buffer it read before the transaction.
  field4assignLong(data4field(first, "ID"), 9);
  ASSERT_EQ(data4flush(first), 0);
  ASSERT_EQ(code4transactionRollback(&c), 0);

  EXPECT_EQ(rows(second), rowsBefore);
  EXPECT_EQ(tags(second), tagsBefore);
  data4close(second);
  data4close(first);
}

// A write in the automatic mode is a transaction of its own. When its
// commit fails half way (the disk fills while phase one or phase two is
// written), the write must not leave the engine inside that transaction,
// nor the log's append lock held: every other user's transaction would
// wait for it for ever, and this user could start none.
TEST_F(TransactionReviewTest, AFailedCommitOfAnAutomaticWriteLeavesNoTransactionOpen) {
  c.accessMode = 1;
  c.logMode = log4modeAuto;
  DATA4* d = make();
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  FakeOs os;
  platform::ScopedOs scoped(os);
  os.recordWrites = true;
  // One write in full, to learn what it puts on disk and in which order:
  // ... start, update, tags, record, phase one, phase two, header.
  os.diskSpace = 1 << 30;
  ASSERT_EQ(data4go(d, 1), 0);
  field4assign(data4field(d, "NAME"), "first");
  ASSERT_EQ(data4flush(d), 0);
  const std::vector<size_t> sizes = os.writeSizes();
  size_t phaseOne = 0;  // the index of the phase-one entry: the last but one of 36 bytes
  for (size_t i = 0, seen = 0; i < sizes.size(); i++) {
    if (sizes[sizes.size() - 1 - i] == log4overhead && ++seen == 2) phaseOne = sizes.size() - 1 - i;
  }
  ASSERT_GT(phaseOne, 0u);
  int64_t before = 0;
  for (size_t i = 0; i < phaseOne; i++) before += static_cast<int64_t>(sizes[i]);
  os.recordWrites = false;

  const uint32_t appendBit = 1u << (log4lockAppend - log4lockBase);
  struct Case {
    const char* name;
    int64_t space;  // the disk fills inside this entry
    bool open;      // the write never committed: the caller keeps its values
  } cases[] = {{"phase one", before + 10, true}, {"phase two", before + log4overhead + 10, false}};
  const char* values[] = {"second", "third"};
  int k = 0;
  for (const Case& failing : cases) {
    SCOPED_TRACE(failing.name);
    const std::vector<std::string> rowsBefore = rows(d);
    ASSERT_EQ(data4go(d, 1), 0);
    field4assign(data4field(d, "NAME"), values[k++]);
    os.diskSpace = failing.space;
    EXPECT_LT(data4flush(d), 0);
    os.diskSpace = -1;
    clearError();
    EXPECT_EQ(c.transactionState, tran4inactive);
    EXPECT_EQ(c.transaction.log.heldLocks & appendBit, 0u);
    EXPECT_EQ(c.transaction.log.status, log4idle);
    // Undoing the record needs the full disk too: the caller is told and
    // keeps the new values to write again.
    EXPECT_EQ(data4changed(d, -1), failing.open ? 1 : 0);
    if (failing.open) {
      EXPECT_EQ(std::string(field4str(data4field(d, "NAME"))).substr(0, 6), values[k - 1]);
      ASSERT_EQ(data4flush(d), 0);
    }
    EXPECT_NE(rows(d), rowsBefore);
    // Explicit transactions work again.
    EXPECT_EQ(code4transactionStart(&c), 0);
    EXPECT_EQ(code4transactionRollback(&c), 0);
    clearError();
    // Leave a clean state for the next case whatever happened.
    if (c.transactionState == tran4phaseOne) code4transactionCommitPhaseTwo(&c, 0);
    if (c.transactionState == tran4active) code4transactionRollback(&c);
    clearError();
  }
  data4close(d);
}

// An append that cannot learn the record count (the header cannot be
// read) is refused before anything is written; it must not leave its own
// transaction open nor the log's append lock held behind it.
TEST_F(TransactionReviewTest, AnAppendThatCannotReadTheCountLeavesNoTransactionOpen) {
  c.accessMode = 0;
  c.logMode = log4modeAuto;
  DATA4* d = make();
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);  // shared: the count is read anew each time
  ASSERT_EQ(data4unlock(d), 0);
  ASSERT_EQ(data4lockFile(d, 0, lock4system), 0);
  const std::vector<std::string> before = rows(d);
  {
    FakeOs os;
    platform::ScopedOs scoped(os);
    os.failFile(FakeOs::Io::read, "plain.dbf", EIO);
    d->dataFile->liveCount = -1;  // as after another process's append
    EXPECT_LT(append(d, 2, "beta", "B"), 0);
  }
  clearError();
  EXPECT_EQ(c.transactionState, tran4inactive);
  const uint32_t appendBit = 1u << (log4lockAppend - log4lockBase);
  EXPECT_EQ(c.transaction.log.heldLocks & appendBit, 0u);
  EXPECT_EQ(c.transaction.log.status, log4idle);
  EXPECT_EQ(rows(d), before);
  EXPECT_EQ(append(d, 3, "gamma", "C"), 0);
  ASSERT_EQ(data4close(d), 0);
}

}  // namespace
