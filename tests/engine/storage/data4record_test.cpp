// Records: appending, writing back, moving in record order, memo values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/memo4field.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {
    {"NAME", 'C', 10, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
constexpr uint32_t kHeader = 32 * 2 + 33;
constexpr uint32_t kRecord = 1 + 10 + 10;

class RecordTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
  }
  DATA4* make(const char* name = "t", const FIELD4INFO* fields = kFields) {
    DATA4* d = data4create(&c, name, fields, nullptr);
    EXPECT_NE(d, nullptr);
    return d;
  }
  static void setName(DATA4* d, const std::string& value) {
    char* bytes = field4ptr(data4field(d, "NAME"));
    std::memset(bytes, ' ', 10);
    std::memcpy(bytes, value.data(), value.size());
    d->recordChanged = 1;
  }
  static std::string name(DATA4* d) { return std::string(field4ptr(data4field(d, "NAME")), 10); }
  static int32_t append(DATA4* d, const std::string& value, const std::string& note = "") {
    data4appendStart(d, 0);
    data4blank(d);
    setName(d, value);
    if (!note.empty()) field4memoAssignN(data4field(d, "NOTE"), note.data(), note.size());
    return data4append(d);
  }
};

TEST_F(RecordTest, AppendsEndWithTheEndByteAtLevelsBelowThirty) {
  DATA4* d = make();
  ASSERT_EQ(append(d, "one"), 0);
  ASSERT_EQ(append(d, "two"), 0);
  EXPECT_EQ(data4recNo(d), 2);
  EXPECT_EQ(data4recCount(d), 2);
  data4close(d);
  const std::string dbf = readDiskFile("t.dbf");
  ASSERT_EQ(dbf.size(), kHeader + 2 * kRecord + 1);
  EXPECT_EQ(dbf.back(), '\x1a');
  EXPECT_EQ(dbf.substr(kHeader + kRecord, 11), " two       ");
  EXPECT_EQ(dbf.substr(4, 4), std::string("\x02\0\0\0", 4));

  c.compatibility = 30;
  d = make("t30");
  ASSERT_EQ(append(d, "x"), 0);
  data4close(d);
  const std::string v30 = readDiskFile("t30.dbf");
  EXPECT_EQ(v30.size() % 1, 0u);
  EXPECT_NE(v30.back(), '\x1a');
}

TEST_F(RecordTest, AnExclusiveTableWritesItsCountAtFlushOnly) {
  c.accessMode = 1;
  DATA4* d = make();
  ASSERT_EQ(append(d, "one"), 0);
  EXPECT_EQ(readDiskFile("t.dbf").substr(4, 4), std::string(4, '\0'));
  ASSERT_EQ(data4flush(d), 0);
  EXPECT_EQ(readDiskFile("t.dbf").substr(4, 4), std::string("\x01\0\0\0", 4));
  data4close(d);

  c.accessMode = 0;  // shared: every append publishes the count
  d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(append(d, "two"), 0);
  EXPECT_EQ(readDiskFile("t.dbf").substr(4, 4), std::string("\x02\0\0\0", 4));
  data4close(d);
}

TEST_F(RecordTest, AChangeIsWrittenOnceWhenTheHandleMoves) {
  DATA4* d = make();
  for (const char* value : {"a", "b", "c"}) ASSERT_EQ(append(d, value), 0);
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.recordWrites = true;
  ASSERT_EQ(data4go(d, 2), 0);
  ASSERT_EQ(data4go(d, 3), 0);
  EXPECT_TRUE(fake.writeSizes().empty());  // moving without a change writes nothing
  setName(d, "changed");
  ASSERT_EQ(data4go(d, 1), 0);
  ASSERT_EQ(data4go(d, 2), 0);
  EXPECT_EQ(fake.writeSizes().size(), 1u);
  ASSERT_EQ(data4go(d, 3), 0);
  EXPECT_EQ(name(d), "changed   ");
  data4close(d);
}

TEST_F(RecordTest, AppendingWithoutBlankingCopiesTheCurrentRecord) {
  DATA4* d = make();
  ASSERT_EQ(append(d, "first", "memo"), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  data4appendStart(d, 0);
  ASSERT_EQ(data4append(d), 0);
  EXPECT_EQ(name(d), "first     ");
  EXPECT_EQ(field4memoLen(data4field(d, "NOTE")), 0u);  // memo values are not carried
  data4close(d);
}

TEST_F(RecordTest, MovingInRecordOrder) {
  DATA4* d = make();
  // An empty table.
  ASSERT_EQ(data4top(d), r4eof);
  EXPECT_EQ(data4bof(d), 1);
  EXPECT_EQ(data4eof(d), 1);
  d->recNum = 1;  // skipping needs a current record
  EXPECT_EQ(data4skip(d, 1), r4eof);
  d->recNum = 1;
  EXPECT_EQ(data4skip(d, -1), r4bof);
  EXPECT_EQ(data4bof(d), 1);
  EXPECT_EQ(data4eof(d), 1);

  for (const char* value : {"a", "b", "c"}) ASSERT_EQ(append(d, value), 0);
  ASSERT_EQ(data4bottom(d), 0);
  EXPECT_EQ(data4skip(d, 1), r4eof);
  EXPECT_EQ(name(d), std::string(10, ' '));
  EXPECT_EQ(data4skip(d, -1), 0);
  EXPECT_EQ(name(d), "c         ");
  ASSERT_EQ(data4top(d), 0);
  EXPECT_EQ(data4skip(d, -1), r4bof);
  EXPECT_EQ(data4recNo(d), 1);
  c.errGo = 0;  // missing records answered quietly
  EXPECT_EQ(data4go(d, 0), r4entry);
  EXPECT_EQ(data4recNo(d), -1);
  EXPECT_EQ(data4go(d, 4), r4entry);
  EXPECT_EQ(name(d), std::string(10, ' '));
  c.errGo = 1;
  EXPECT_EQ(data4go(d, 9), e4read);
  EXPECT_EQ(lastError().text1, "t");
  data4close(d);
}

TEST_F(RecordTest, MemoValuesLiveInTheMemoFile) {
  DATA4* d = make();
  ASSERT_EQ(append(d, "long", std::string(600, 'm')), 0);
  ASSERT_EQ(append(d, "empty"), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  FIELD4* note = data4field(d, "NOTE");
  EXPECT_EQ(std::string(field4memoStr(note)), std::string(600, 'm'));
  EXPECT_EQ(std::string(field4ptr(note), 10), "         1");
  ASSERT_EQ(data4go(d, 2), 0);
  EXPECT_STREQ(field4memoStr(note), "");
  EXPECT_EQ(std::string(field4ptr(note), 10), std::string(10, ' '));

  // Even a shorter value goes to new blocks: the entry the record names on
  // the disk is never written over, so that a cut cannot tear it.
  ASSERT_EQ(data4go(d, 1), 0);
  const std::string before = readDiskFile("t.fpt");
  ASSERT_EQ(field4memoAssignN(note, "short", 5), 0);
  ASSERT_EQ(data4go(d, 2), 0);
  ASSERT_EQ(data4go(d, 1), 0);
  EXPECT_STREQ(field4memoStr(note), "short");
  EXPECT_EQ(std::string(field4ptr(note), 10), "         3");
  EXPECT_EQ(readDiskFile("t.fpt").substr(512, before.size() - 512), before.substr(512));
  data4close(d);

  int status = 0;
  const std::string read = runCommand(
      "/usr/bin/python3 -c \"import dbfread\n"
      "for r in dbfread.DBF('t.dbf'): print(repr(r['NAME']), repr(r['NOTE']))\"",
      &status);
  ASSERT_EQ(status, 0) << read;
  EXPECT_EQ(read, "'long' 'short'\n'empty' None\n");
  const std::string dumped = runCommand("dbf_dump --fs '|' t.dbf", &status);
  ASSERT_EQ(status, 0) << dumped;
  EXPECT_EQ(dumped, "long|short\nempty|\n");
}

TEST_F(RecordTest, MemoFilesWrittenByAnotherToolAreRead) {
  for (const char* blockSize : {"64", "512"}) {
    SCOPED_TRACE(blockSize);
    int status = 0;
    const std::string out = runCommand(
        std::string("/usr/bin/python3 -c \"import dbf\n"
                    "t = dbf.Table('py', 'name C(10); note M', dbf_type='fp', memo_size=") +
            blockSize +
            ")\n"
            "t.open(dbf.READ_WRITE)\n"
            "t.append(('first', 'x' * 1000))\n"
            "t.append(('second', ''))\n"
            "t.append(('third', 'tiny'))\n"
            "t.close()\"",
        &status);
    ASSERT_EQ(status, 0) << out;
    DATA4* d = data4open(&c, "py");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->dataFile->memoFile.blockSize, std::stoi(blockSize));
    FIELD4* note = data4field(d, "NOTE");
    ASSERT_EQ(data4go(d, 1), 0);
    EXPECT_EQ(std::string(field4memoStr(note)), std::string(1000, 'x'));
    ASSERT_EQ(data4go(d, 2), 0);
    EXPECT_STREQ(field4memoStr(note), "");
    ASSERT_EQ(data4go(d, 3), 0);
    EXPECT_STREQ(field4memoStr(note), "tiny");
    data4close(d);
  }
}

}  // namespace
