// Every append and record write keeps the tags of its table current.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/buffer4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"
#include "engine/storage/memo4field.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {{"ID", 'N', 6, 0, 0},
                              {"NAME", 'C', 8, 0, 0},
                              {"CODE", 'C', 4, 0, 0},
                              {"NOTE", 'M', 10, 0, 0},
                              {nullptr, 0, 0, 0, 0}};

class KeysTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.accessMode = 1;
  }
  // Makes the table with its production index: ID unique (mode), NAME,
  // CODE unique refusing quietly, and a filtered tag of live names.
  DATA4* make(int16_t idMode) {
    Tag4info tags(c);
    tags.add("T_ID", "ID", nullptr, idMode, 0);
    tags.add("T_NAME", "UPPER(NAME)", nullptr, 0, 0);
    tags.add("T_CODE", "CODE", nullptr, r4unique, 0);
    tags.add("T_LIVE", "NAME", ".NOT.DELETED()", 0, 0);
    DATA4* d = data4create(&c, "keys", kFields, tags.tags());
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
  // The entries of one tag as "key:record" lines, after a flush.
  // The records of a tag's entries, in key order.
  std::vector<uint32_t> records(DATA4* d, const char* tag) {
    EXPECT_EQ(data4flush(d), 0);
    const CdxReport report = checkCdxFile("keys.cdx", {{"T_ID", 0}});
    EXPECT_TRUE(report.ok()) << report.text();
    std::vector<uint32_t> out;
    if (const CdxTagReport* t = report.tag(tag))
      for (const CdxEntry& e : t->entries) out.push_back(e.record);
    return out;
  }
  std::vector<std::string> entries(DATA4* d, const char* tag) {
    EXPECT_EQ(data4flush(d), 0);
    const CdxReport report = checkCdxFile("keys.cdx", {{"T_ID", 0}});
    EXPECT_TRUE(report.ok()) << report.text();
    std::vector<std::string> out;
    if (const CdxTagReport* t = report.tag(tag)) {
      for (const CdxEntry& e : t->entries) {
        std::string key = e.key;
        key.erase(std::find_if(key.rbegin(), key.rend(), [](char ch) { return ch != ' '; }).base(),
                  key.end());
        out.push_back(key + ":" + std::to_string(e.record));
      }
    }
    return out;
  }
};

TEST_F(KeysTest, AppendsAddTheirKeysToEveryTag) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 2, "beta", "B"), 0);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  ASSERT_EQ(append(d, 3, "Alpha", "C"), 0);
  EXPECT_EQ(entries(d, "T_NAME"), (std::vector<std::string>{"ALPHA:2", "ALPHA:3", "BETA:1"}));
  EXPECT_EQ(entries(d, "T_CODE"), (std::vector<std::string>{"A:2", "B:1", "C:3"}));
  EXPECT_EQ(records(d, "T_ID"), (std::vector<uint32_t>{2, 1, 3}));
  data4close(d);
  int status = 0;
  const std::string dump = runCommand("index_dump --type char keys.cdx T_NAME", &status);
  EXPECT_EQ(status, 0) << dump;
  EXPECT_NE(dump.find("BETA"), std::string::npos) << dump;
}

// A tag kept without its expression (as a damaged tag of a read-only
// index file is) refuses the write through the error hook, naming its
// file and tag, and every tag stays as it was.
TEST_F(KeysTest, ATagWithoutItsExpressionRefusesTheWriteAloud) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  TAG4* name = data4tag(d, "T_NAME");
  ASSERT_NE(name, nullptr);
  name->tagFile->disabled = true;
  recorder.clear();
  EXPECT_LT(append(d, 2, "beta", "B"), 0);
  ASSERT_FALSE(recorder.errors().empty());
  EXPECT_EQ(recorder.errors()[0].c, &c);
  EXPECT_EQ(recorder.errors()[0].code, e4index);
  EXPECT_EQ(recorder.errors()[0].location, 80336);
  EXPECT_NE(recorder.errors()[0].text1.find("keys.cdx"), std::string::npos);
  EXPECT_EQ(recorder.errors()[0].text2, "T_NAME");
  name->tagFile->disabled = false;
  error4set(&c, 0);
  EXPECT_EQ(entries(d, "T_CODE"), std::vector<std::string>{"A:1"});
  data4close(d);
}

TEST_F(KeysTest, AChangedRecordMovesItsKeysWhenWritten) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  ASSERT_EQ(append(d, 2, "beta", "B"), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  field4assign(data4field(d, "NAME"), "zeta");
  ASSERT_EQ(data4go(d, 2), 0);  // writes record 1
  EXPECT_EQ(entries(d, "T_NAME"), (std::vector<std::string>{"BETA:2", "ZETA:1"}));
  EXPECT_EQ(entries(d, "T_CODE"), (std::vector<std::string>{"A:1", "B:2"}));  // untouched
  data4delete(d);  // record 2 leaves the filtered tag
  ASSERT_EQ(data4go(d, 1), 0);
  EXPECT_EQ(entries(d, "T_LIVE"), (std::vector<std::string>{"zeta:1"}));
  data4close(d);
  int status = 0;
  const std::string read = runCommand(
      "/usr/bin/python3 -c \"import dbfread\n"
      "t = dbfread.DBF('keys.dbf')\n"
      "print([(r['ID'], r['NAME'], r['CODE']) for r in t])\n"
      "print([r['NAME'] for r in t.deleted])\"",
      &status);
  ASSERT_EQ(status, 0) << read;
  EXPECT_EQ(read, "[(1, 'zeta', 'A')]\n['beta']\n");
}

TEST_F(KeysTest, AUniqueRefusalWritesNothing) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  const std::string dbfBefore = readDiskFile("keys.dbf");
  EXPECT_EQ(append(d, 2, "other", "A"), r4unique);  // CODE refuses the duplicate
  EXPECT_EQ(data4recCount(d), 1);
  EXPECT_EQ(entries(d, "T_NAME"), (std::vector<std::string>{"ALPHA:1"}));
  EXPECT_EQ(records(d, "T_ID"), (std::vector<uint32_t>{1}));
  EXPECT_EQ(readDiskFile("keys.dbf").size(), dbfBefore.size());
  data4close(d);
}

TEST_F(KeysTest, ARefusedWriteLeavesEarlierTagsWithTheirOldKeys) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  ASSERT_EQ(append(d, 2, "beta", "B"), 0);
  ASSERT_EQ(data4go(d, 2), 0);
  field4assign(data4field(d, "NAME"), "gamma");  // second tag changes
  field4assign(data4field(d, "CODE"), "A");      // third tag refuses
  EXPECT_EQ(data4go(d, 1), r4unique);
  EXPECT_EQ(data4flush(d), r4unique);  // still refused, and said so
  EXPECT_EQ(d->recordChanged, 1);      // the new values stay in the buffer
  d->recordChanged = 0;
  EXPECT_EQ(entries(d, "T_NAME"), (std::vector<std::string>{"ALPHA:1", "BETA:2"}));
  EXPECT_EQ(entries(d, "T_CODE"), (std::vector<std::string>{"A:1", "B:2"}));
  data4close(d);
}

TEST_F(KeysTest, DuplicatesInAKeepRecordTagKeepTheFirst) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 7, "a", "A"), 0);
  ASSERT_EQ(append(d, 7, "b", "B"), 0);  // kept, without its ID key
  EXPECT_EQ(data4recCount(d), 2);
  EXPECT_EQ(records(d, "T_ID"), (std::vector<uint32_t>{1}));
  data4close(d);
}

TEST_F(KeysTest, AWriteThatFailsLeavesTagsAndRecordAsTheyWere) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  ASSERT_EQ(append(d, 2, "beta", "B"), 0);
  ASSERT_EQ(data4flush(d), 0);
  const std::string before = readDiskFile("keys.dbf");
  {
    FakeOs fake;
    platform::ScopedOs scoped(fake);
    fake.diskSpace = 0;  // the memo file cannot grow
    ASSERT_EQ(data4go(d, 1), 0);
    field4assign(data4field(d, "NAME"), "omega");
    const std::string note(2000, 'n');
    field4memoAssignN(data4field(d, "NOTE"), note.data(), note.size());
    EXPECT_LT(data4go(d, 2), 0);
    EXPECT_EQ(error4code(&c), e4write);
    EXPECT_EQ(data4recNo(d), 1);  // the failed write does not move the handle
    EXPECT_EQ(d->recordChanged, 1);
  }
  clearError();
  d->recordChanged = 0;
  EXPECT_EQ(entries(d, "T_NAME"), (std::vector<std::string>{"ALPHA:1", "BETA:2"}));
  EXPECT_EQ(readDiskFile("keys.dbf"), before);
  data4close(d);
}

// An append whose memo value or record cannot be written (a full disk)
// leaves every tag as it was: the next append, which takes that record
// number once there is room again, gets keys of its own only.
TEST_F(KeysTest, AnAppendThatCannotBeWrittenLeavesEveryTagAsItWas) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  ASSERT_EQ(data4flush(d), 0);
  const char* failingFiles[] = {"keys.fpt", "keys.dbf"};
  int id = 2;
  for (const char* failing : failingFiles) {
    SCOPED_TRACE(failing);
    {
      FakeOs fake;
      platform::ScopedOs scoped(fake);
      fake.failFile(FakeOs::Io::write, failing, ENOSPC);
      data4appendStart(d, 0);
      data4blank(d);
      field4assignLong(data4field(d, "ID"), id);
      field4assign(data4field(d, "NAME"), "ghost");
      field4assign(data4field(d, "CODE"), std::to_string(id).c_str());
      const std::string note(2000, 'n');
      field4memoAssignN(data4field(d, "NOTE"), note.data(), note.size());
      EXPECT_LT(data4append(d), 0);
      id++;
    }
    clearError();
    EXPECT_EQ(data4recCount(d), 1);
    EXPECT_EQ(entries(d, "T_NAME"), (std::vector<std::string>{"ALPHA:1"}));
    EXPECT_EQ(records(d, "T_ID"), (std::vector<uint32_t>{1}));
  }
  ASSERT_EQ(append(d, 9, "omega", "O"), 0);
  EXPECT_EQ(entries(d, "T_NAME"), (std::vector<std::string>{"ALPHA:1", "OMEGA:2"}));
  ASSERT_EQ(data4close(d), 0);
  EXPECT_EQ(readersDisagree("keys", {{"T_ID", "num", "r['ID']"},
                                     {"T_NAME", "char", "r['NAME'].upper()"},
                                     {"T_CODE", "char", "r['CODE']"},
                                     {"T_LIVE", "char", "r['NAME']"}}),
            "");
}

// The keys to take out are those of the stored record: a write that
// cannot read it again fails with nothing changed, instead of taking the
// old keys from a blank image and leaving the real old key in the tag.
TEST_F(KeysTest, AWriteThatCannotReadTheStoredRecordChangesNothing) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  ASSERT_EQ(append(d, 2, "beta", "B"), 0);
  ASSERT_EQ(data4flush(d), 0);
  const std::string before = readDiskFile("keys.dbf");
  ASSERT_EQ(data4go(d, 1), 0);
  field4assign(data4field(d, "NAME"), "omega");
  {
    FakeOs fake;
    platform::ScopedOs scoped(fake);
    fake.failFile(FakeOs::Io::read, "keys.dbf", EIO);
    EXPECT_LT(data4flush(d), 0);
    EXPECT_EQ(error4code(&c), e4read);
  }
  clearError();
  EXPECT_EQ(d->recordChanged, 1);  // the new value waits to be written
  EXPECT_EQ(readDiskFile("keys.dbf"), before);
  ASSERT_EQ(data4flush(d), 0);
  EXPECT_EQ(entries(d, "T_NAME"), (std::vector<std::string>{"BETA:2", "OMEGA:1"}));
  ASSERT_EQ(data4close(d), 0);
}

TEST_F(KeysTest, AnotherHandlesRewriteIsSeenBeforeKeysChange) {
  DATA4* first = make(r4uniqueContinue);
  ASSERT_EQ(append(first, 1, "alpha", "A"), 0);
  c.singleOpen = 0;
  DATA4* second = data4open(&c, "keys");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(data4go(first, 1), 0);  // first holds the old image of record 1
  ASSERT_EQ(data4go(second, 1), 0);
  field4assign(data4field(second, "NAME"), "beta");
  ASSERT_EQ(data4flush(second), 0);
  field4assign(data4field(first, "NAME"), "gamma");
  ASSERT_EQ(data4flush(first), 0);
  EXPECT_EQ(entries(first, "T_NAME"), (std::vector<std::string>{"GAMMA:1"}));
  data4close(second);
  data4close(first);
}

// A walk that reads a node first writes back the changed nodes it passed;
// one the disk refuses is dropped, and a change of the tree with it. The
// index then stays unfinished: a clean close keeps its change mark, and the
// next open rebuilds the tags from the records instead of trusting a tree
// that lost a key.
TEST_F(KeysTest, AChangedNodeTheDiskRefusedHasTheIndexRebuilt) {
  // The block cache started as it is for an exclusive index, the tags keep
  // their changed nodes in memory; the cache writes through, so that a node
  // written back meets the disk.
  c.bufferingSize = 1 << 20;
  c.cache.settings.writeOptimisation = 0;
  ASSERT_EQ(code4cacheStart(&c), 0);
  DATA4* d = make(r4uniqueContinue);
  std::vector<std::string> expected;
  for (int id = 1; id <= 300; id++) {
    const std::string name = "N" + std::to_string(1000 + id);
    ASSERT_EQ(append(d, id, name.c_str(), std::to_string(id).c_str()), 0);
    expected.push_back(name + ":" + std::to_string(id));
  }
  ASSERT_EQ(data4close(d), 0);
  d = data4open(&c, "keys");
  ASSERT_NE(d, nullptr);
  // The last leaf takes a key and stays changed in memory; the next append
  // walks to the first leaf, which writes it back.
  ASSERT_EQ(append(d, 301, "ZULU", "301"), 0);
  expected.push_back("ZULU:301");
  {
    FakeOs fake;
    platform::ScopedOs scoped(fake);
    fake.failFile(FakeOs::Io::write, "keys.cdx", ENOSPC);
    EXPECT_LT(append(d, 302, "ALPHA", "302"), 0);
  }
  clearError();
  ASSERT_EQ(data4close(d), 0);
  d = data4open(&c, "keys");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(entries(d, "T_NAME"), expected);
  data4close(d);
}

// The change mark counts as set only once its sync succeeded: the disk may
// have lost a mark whose sync failed, and a change trusted under it would
// outlive a power cut unmarked. The change that met the failure is
// refused, and so is every later one.
TEST_F(KeysTest, ChangesAfterAFailedSyncOfTheChangeMarkAreRefused) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  ASSERT_EQ(data4close(d), 0);
  d = data4open(&c, "keys");
  ASSERT_NE(d, nullptr);
  {
    FakeOs fake;
    platform::ScopedOs scoped(fake);
    fake.failFile(FakeOs::Io::sync, "keys.cdx", EIO, true);
    EXPECT_LT(append(d, 2, "bravo", "B"), 0);
    clearError();
    EXPECT_LT(append(d, 3, "charlie", "C"), 0);
    clearError();
  }
  data4close(d);
  clearError();
}

TEST_F(KeysTest, AStaleRecordNumberIsRefused) {
  DATA4* d = make(r4uniqueContinue);
  ASSERT_EQ(append(d, 1, "alpha", "A"), 0);
  EXPECT_EQ(data4writeLow(d, 5, 0, 0), e4parm);
  data4close(d);
}

}  // namespace
