// The log a session leaves, read back by an independent reader
// (log4decode.py): which entries, in which order, with which ids, record
// numbers and memo lengths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4zap.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"
#include "engine/storage/memo4field.h"
#include "engine/storage/tran4.h"
#include "tests/engine/storage/log4decoded.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {
    {"ID", 'N', 6, 0, 0}, {"NAME", 'C', 10, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};

class LogInteropTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.accessMode = 1;
    writeDiskFile("C4.log", minimalLog());
  }
  void makeTable() {
    Tag4info tags(c);
    tags.add("T_ID", "ID");
    tags.add("T_NAME", "UPPER(NAME)");
    DATA4* d = data4create(&c, "people", kFields, tags.tags());
    ASSERT_NE(d, nullptr) << errorText();
    ASSERT_EQ(data4close(d), 0);
  }
  std::string errorText() {
    std::string text;
    for (const RaisedError& e : recorder.errors())
      text += std::to_string(e.code) + " at " + std::to_string(e.location) + " " + e.text1 + "\n";
    return text;
  }
  static int32_t append(DATA4* d, int id, const char* name, const std::string& note) {
    data4appendStart(d, 0);
    data4blank(d);
    field4assignLong(data4field(d, "ID"), id);
    field4assign(data4field(d, "NAME"), name);
    field4memoAssignN(data4field(d, "NOTE"), note.data(), static_cast<uint32_t>(note.size()));
    return data4append(d);
  }
};

// create, open, a committed transaction (an update changing the memo and
// an append), a rolled-back one, a zap outside transactions, close and
// leave: every entry as written, and the log clean at the end.
TEST_F(LogInteropTest, AReaderOfItsOwnDecodesASession) {
  makeTable();
  DATA4* d = data4open(&c, "people");
  ASSERT_NE(d, nullptr) << error4code(&c) << " " << errorText();
  ASSERT_EQ(d->logMode, 0);
  // Outside transactions, mode 0 logs no record change.
  ASSERT_EQ(append(d, 1, "ann", "first"), 0);
  ASSERT_EQ(append(d, 2, "bob", "second"), 0);

  ASSERT_EQ(code4transactionStart(&c), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  const std::string longer(300, 'x');
  ASSERT_EQ(field4memoAssignN(data4field(d, "NOTE"), longer.data(), 300), 0);
  ASSERT_EQ(append(d, 3, "cid", "third"), 0);
  ASSERT_EQ(code4transactionCommit(&c), 0);

  ASSERT_EQ(code4transactionStart(&c), 0);
  ASSERT_EQ(data4go(d, 2), 0);
  ASSERT_EQ(field4assign(data4field(d, "NAME"), "changed"), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  ASSERT_EQ(code4transactionRollback(&c), 0);
  ASSERT_EQ(data4go(d, 2), 0);
  EXPECT_STREQ(field4str(data4field(d, "NAME")), "bob       ");

  ASSERT_EQ(data4zap(d, 2, 2), 0);
  ASSERT_EQ(data4recCount(d), 2);
  const uint32_t id = static_cast<uint32_t>(d->id);
  ASSERT_EQ(data4close(d), 0);
  ASSERT_EQ(code4initUndo(&c), 0);
  EXPECT_TRUE(recorder.errors().empty());

  const DecodedLog log = decodeLog("C4.log");
  ASSERT_EQ(log.status, 0) << log.output;
  // data4create logs the create and opens the new table for its caller.
  const std::vector<std::string> expected = {
      "clean-end",     "clean-end", "user-open", "create",     "open",       "close", "open",
      "start",         "update",    "append",    "commit-one", "commit-two", "start", "update",
      "rollback-done", "zap",       "close",     "user-close", "clean-end"};
  ASSERT_EQ(log.kinds(), expected) << log.output;
  const size_t kCreate = 3, kOpen = 6, kStart1 = 7, kUpdate1 = 8, kAppend = 9, kCommit2 = 11,
               kStart2 = 12, kUpdate2 = 13, kRollback = 14, kZap = 15, kClose = 16;

  // Everything this user wrote is in slot 1, its data ids twice.
  for (size_t i = 2; i + 1 < log.entries.size(); i++) {
    EXPECT_EQ(log.number(i, "slot"), 1) << log.output;
    EXPECT_EQ(log.number(i, "data2"), log.number(i, "data")) << log.output;
  }
  EXPECT_EQ(log.number(log.entries.size() - 1, "data2"), 3);
  EXPECT_EQ(log.entries[2].at("userid"), "PUBLIC");
  EXPECT_EQ(log.entries[kCreate].at("memos"), "1");
  EXPECT_EQ(log.number(kCreate, "fields"), 3);
  EXPECT_EQ(log.number(kCreate, "tags"), 2);
  EXPECT_EQ(log.entries[kCreate].at("name"), log.entries[kOpen].at("name"));
  EXPECT_EQ(log.number(kOpen - 1, "data"), log.number(kOpen - 2, "data"));
  EXPECT_EQ(log.number(kOpen, "reclen"), 1 + 6 + 10 + 10);
  EXPECT_EQ(log.number(kOpen, "records"), 0);
  for (size_t i : {kOpen, kUpdate1, kAppend, kUpdate2, kZap, kClose})
    EXPECT_EQ(log.number(i, "data"), id) << i;
  for (size_t i : {kStart1, kCommit2 - 1, kCommit2, kStart2, kRollback})
    EXPECT_EQ(log.number(i, "data"), 0) << i;

  // Transaction ids: congruent to the slot within a transaction, 0 outside.
  const long long first = log.number(kStart1, "txn");
  const long long second = log.number(kStart2, "txn");
  EXPECT_EQ(first % 1000, 1);
  EXPECT_EQ(second, first + 1000);
  for (size_t i = 0; i < log.entries.size(); i++) {
    const long long want = i >= kStart1 && i <= kCommit2    ? first
                           : i >= kStart2 && i <= kRollback ? second
                                                            : 0;
    EXPECT_EQ(log.number(i, "txn"), want) << log.output;
  }

  EXPECT_EQ(log.number(kUpdate1, "record"), 1);
  EXPECT_EQ(log.entries[kUpdate1].at("memos"), "5:300");
  EXPECT_EQ(log.number(kAppend, "record"), 3);
  EXPECT_EQ(log.entries[kAppend].at("memos"), "5");
  EXPECT_EQ(log.number(kUpdate2, "record"), 2);
  EXPECT_EQ(log.entries[kUpdate2].at("memos"), "0:0");
  EXPECT_EQ(log.number(kZap, "first"), 2);
  EXPECT_EQ(log.number(kZap, "last"), 2);

  // The reader is strict: a torn last entry or a header that disagrees
  // with its length word is refused.
  const std::string bytes = readDiskFile("C4.log");
  writeDiskFile("torn.log", bytes.substr(0, bytes.size() - 1));
  EXPECT_NE(decodeLog("torn.log").status, 0);
  std::string disagreeing = bytes;
  disagreeing[bytes.size() - 32 + 18] = 1;  // the clean end's payload length
  writeDiskFile("disagreeing.log", disagreeing);
  EXPECT_NE(decodeLog("disagreeing.log").status, 0);
}

// A log the session left clean is opened again by the next one, which
// continues this user's transaction ids past the last one logged.
TEST_F(LogInteropTest, TheNextSessionContinuesTheIds) {
  makeTable();
  DATA4* d = data4open(&c, "people");
  ASSERT_NE(d, nullptr) << error4code(&c) << " " << errorText();
  for (int round = 0; round < 2; round++) {
    ASSERT_EQ(code4transactionStart(&c), 0);
    ASSERT_EQ(append(d, round, "n", "memo"), 0);
    ASSERT_EQ(code4transactionCommit(&c), 0);
  }
  ASSERT_EQ(code4initUndo(&c), 0);

  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  c.accessMode = 1;
  d = data4open(&c, "people");
  ASSERT_NE(d, nullptr) << error4code(&c) << " " << errorText();
  ASSERT_TRUE(c.transaction.enabled);
  ASSERT_EQ(code4transactionStart(&c), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  ASSERT_EQ(field4assign(data4field(d, "NAME"), "again"), 0);
  ASSERT_EQ(code4transactionCommit(&c), 0);
  ASSERT_EQ(code4initUndo(&c), 0);
  EXPECT_TRUE(recorder.errors().empty());

  const DecodedLog log = decodeLog("C4.log");
  ASSERT_EQ(log.status, 0) << log.output;
  std::vector<long long> starts;
  for (size_t i = 0; i < log.entries.size(); i++)
    if (log.kinds()[i] == "start") starts.push_back(log.number(i, "txn"));
  ASSERT_EQ(starts.size(), 3u) << log.output;
  EXPECT_EQ(starts[1], starts[0] + 1000);
  EXPECT_EQ(starts[2], starts[1] + 1000);
  EXPECT_EQ(log.kinds().back(), "clean-end");
}

}  // namespace
