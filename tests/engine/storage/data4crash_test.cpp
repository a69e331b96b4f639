// Process deaths in the middle of appends and flushes, and what the next
// exclusive open makes of the files they leave: tags that agree with the
// records, as the independent readers see them. Each runs twice: writing
// through, and with the block cache holding the writes as the catalogue
// has it (written out by the calling thread).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/storage/buffer4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/memo4field.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {
    {"ID", 'N', 6, 0, 0}, {"NAME", 'C', 10, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
const TAG4INFO kTags[] = {{"T_ID", "ID", nullptr, 0, 0},
                          {"T_NAME", "UPPER(NAME)", nullptr, 0, 0},
                          {nullptr, nullptr, nullptr, 0, 0}};
const std::vector<TagAgreement> kAgreement = {{"T_ID", "num", "r['ID']"},
                                              {"T_NAME", "char", "r['NAME'].upper()"}};
const char* const kFiles[] = {"crash.dbf", "crash.cdx", "crash.fpt"};
constexpr int kDied = 42;

class CrashTest : public EngineTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.accessMode = 1;
  }

  // inChildProcess, with the block cache started first when the test runs
  // cached.
  template <class Body>
  int inChild(Body body) {
    const bool cached = GetParam();
    return inChildProcess([&](CODE4& own, FakeOs& fake) {
      if (cached) {
        own.bufferingSize = 1 << 20;
        own.bufferingWriteBehind = 0;
        if (code4cacheStart(&own) != 0) return 93;
      }
      return body(own, fake);
    });
  }

  static int32_t append(DATA4* d, int id) {
    const std::string name = "name" + std::to_string(id);
    const std::string note(600, static_cast<char>('a' + id % 26));  // two memo blocks
    if (data4appendStart(d, 0) != 0 || data4blank(d) != 0) return -1;
    field4assignLong(data4field(d, "ID"), id);
    field4assign(data4field(d, "NAME"), name.c_str());
    field4memoAssignN(data4field(d, "NOTE"), note.data(), static_cast<uint32_t>(note.size()));
    return data4append(d);
  }

  // Makes the table with three records, and keeps its files' bytes.
  void make() {
    DATA4* d = data4create(&c, "crash", kFields, kTags);
    ASSERT_NE(d, nullptr);
    for (int id = 1; id <= 3; id++) ASSERT_EQ(append(d, id), 0);
    ASSERT_EQ(data4close(d), 0);
    for (const char* name : kFiles) kept.push_back(readDiskFile(name));
  }
  void restore() {
    for (size_t i = 0; i < kept.size(); i++) writeDiskFile(kFiles[i], kept[i]);
  }

  // What a reopen makes of the files: the table opens, the readers agree
  // with it, and a record appended now gets keys of its own only.
  void expectRecovered() {
    DATA4* d = data4open(&c, "crash");
    ASSERT_NE(d, nullptr);
    const int32_t count = data4recCount(d);
    ASSERT_EQ(data4close(d), 0);
    EXPECT_EQ(readersDisagree("crash", kAgreement), "");
    const CdxReport report = checkCdxFile("crash.cdx", {{"T_ID", 0}});
    EXPECT_TRUE(report.ok()) << report.text();
    d = data4open(&c, "crash");
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(append(d, 100), 0);
    EXPECT_EQ(data4recCount(d), count + 1);
    ASSERT_EQ(data4close(d), 0);
    EXPECT_EQ(readersDisagree("crash", kAgreement), "");
  }

  std::vector<std::string> kept;
};

// A death at each write of the first append after an open (a clean point,
// as a flush is), with a memo value: before the keys, between them and
// the memo, between the memo and the record, and after all of it.
TEST_P(CrashTest, ADeathAtAnyWriteOfAnAppendLeavesTagsThatAgreeWithTheRecords) {
  make();
  const int writes = inChild([](CODE4& own, FakeOs& fake) {
    DATA4* d = data4open(&own, "crash");
    if (d == nullptr) return 91;
    fake.exitAtWrite(0, 0);
    if (append(d, 4) != 0) return 92;
    return static_cast<int>(fake.writesSeen());
  });
  // Held in the cache, the append writes only the index's change mark.
  ASSERT_GT(writes, GetParam() ? 0 : 3);
  ASSERT_LT(writes, 90);
  restore();
  for (int k = 1; k <= writes + 1; k++) {
    SCOPED_TRACE("died at write " + std::to_string(k) + " of " + std::to_string(writes));
    restore();
    const int exit = inChild([k](CODE4& own, FakeOs& fake) {
      DATA4* d = data4open(&own, "crash");
      if (d == nullptr) return 91;
      fake.exitAtWrite(k, kDied);
      return append(d, 4) == 0 ? 0 : 92;  // ends without a close, as a death after the append
    });
    ASSERT_EQ(exit, k <= writes ? kDied : 0);
    expectRecovered();
  }
}

// A death at each write of a flush after three appends and of the close
// after it, and of a close without a flush.
TEST_P(CrashTest, ADeathAtAnyWriteOfAFlushOrCloseLeavesTagsThatAgreeWithTheRecords) {
  make();
  auto appendThree = [](CODE4& own) -> DATA4* {
    DATA4* d = data4open(&own, "crash");
    for (int id = 4; d != nullptr && id <= 6; id++)
      if (append(d, id) != 0) return nullptr;
    return d;
  };
  for (const bool flush : {true, false}) {
    SCOPED_TRACE(flush ? "flush, then close" : "close alone");
    const int writes = inChild([&](CODE4& own, FakeOs& fake) {
      DATA4* d = appendThree(own);
      if (d == nullptr) return 91;
      fake.exitAtWrite(0, 0);
      if ((flush && data4flush(d) != 0) || data4close(d) != 0) return 92;
      return static_cast<int>(fake.writesSeen());
    });
    ASSERT_GT(writes, 1);
    ASSERT_LT(writes, 90);
    for (int k = 1; k <= writes; k++) {
      SCOPED_TRACE("died at write " + std::to_string(k) + " of " + std::to_string(writes));
      restore();
      const int exit = inChild([&](CODE4& own, FakeOs& fake) {
        DATA4* d = appendThree(own);
        if (d == nullptr) return 91;
        fake.exitAtWrite(k, kDied);
        if (flush) data4flush(d);
        data4close(d);
        return 0;
      });
      ASSERT_EQ(exit, kDied);
      expectRecovered();
    }
  }
}

// The recovery at open adopts the records beyond the header's count only
// while they are sound: a delete flag of ' ' or '*' and no NUL byte in a
// field that holds text alone. A tail of zeros, a record torn by a full
// disk (its first bytes, then a hole), another program's bytes after a
// record the count missed, or part of a record after the last whole one is
// reported once and cut, the file ending with its end-of-file mark: the
// next start finds nothing to report, and other tools read the table.
TEST_P(CrashTest, ATailThatIsNoRecordIsReportedOnceAndCut) {
  make();
  const std::string& dbf = kept[0];
  const size_t headerLength =
      static_cast<unsigned char>(dbf[8]) | static_cast<unsigned char>(dbf[9]) << 8;
  const size_t recordLength =
      static_cast<unsigned char>(dbf[10]) | static_cast<unsigned char>(dbf[11]) << 8;
  const std::string stored = dbf.substr(0, headerLength + 3 * recordLength);
  const std::string record1 = stored.substr(headerLength, recordLength);
  const std::string torn = record1.substr(0, 4) + std::string(recordLength - 4, '\0');
  struct Case {
    const char* what;
    std::string tail;
    int32_t count;
  } cases[] = {{"zeros", std::string(2 * recordLength, '\0'), 3},
               {"a record, then foreign bytes", record1 + std::string(recordLength, 'X'), 4},
               {"a record, then a torn one", record1 + torn + std::string(recordLength, '\0'), 4},
               {"part of a record", record1.substr(0, recordLength / 2), 3},
               {"a record, then part of one", record1 + record1.substr(0, 5), 4},
               {"a stray byte", "X", 3}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    restore();
    writeDiskFile("crash.dbf", stored + test.tail);
    for (const bool first : {true, false}) {
      recorder.clear();
      DATA4* d = data4open(&c, "crash");
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(data4recCount(d), test.count);
      if (first) {
        ASSERT_EQ(recorder.errors().size(), 1u);
        EXPECT_EQ(recorder.errors().back().code, e4data);
      } else {
        EXPECT_TRUE(recorder.errors().empty());
      }
      ASSERT_EQ(data4close(d), 0);
    }
    const std::string found = readDiskFile("crash.dbf");
    ASSERT_EQ(found.size(), headerLength + test.count * recordLength + 1);
    EXPECT_EQ(found.back(), '\x1a');
    EXPECT_EQ(readersDisagree("crash", kAgreement), "");
    expectRecovered();
  }
  // Whole records after a damaged one, with the cut deferred (for a
  // caller to note what it decided first): the table counts those before
  // the damaged one, and neither the file nor the count it holds changes
  // until the cut, a close on the way included.
  restore();
  const std::string damaged = stored + record1 + torn + record1;
  writeDiskFile("crash.dbf", damaged);
  c.tailCutDeferred = 1;
  DATA4* d = data4open(&c, "crash");
  c.tailCutDeferred = 0;
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(data4recCount(d), 4);
  data4close(d);
  clearError();
  EXPECT_EQ(readDiskFile("crash.dbf"), damaged);
}

INSTANTIATE_TEST_SUITE_P(WritingThroughAndCached, CrashTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Cached" : "WrittenThrough";
                         });

}  // namespace
