// Removing ranges of records.
#include "engine/storage/data4zap.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {{"N", 'C', 4, 0, 0}, {nullptr, 0, 0, 0, 0}};
constexpr uint32_t kHeader = 65;
constexpr uint32_t kRecord = 5;

class ZapThreadsTest : public EngineTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool withWorkers() const override { return GetParam(); }
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    d = data4create(&c, "z", kFields, nullptr);
    ASSERT_NE(d, nullptr);
    for (const char* value : {"r1", "r2", "r3", "r4", "r5"}) {
      data4appendStart(d, 0);
      data4blank(d);
      std::memcpy(field4ptr(data4field(d, "N")), value, 2);
      ASSERT_EQ(data4append(d), 0);
    }
  }
  void TearDown() override {
    if (d != nullptr) data4close(d);
    EngineTest::TearDown();
  }
  std::string records() {
    std::string out;
    for (int r = 1; r <= data4recCount(d); r++) {
      data4go(d, r);
      out += std::string(field4ptr(data4field(d, "N")), 2);
    }
    return out;
  }
  DATA4* d = nullptr;
};

INSTANTIATE_TEST_SUITE_P(Workers, ZapThreadsTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_P(ZapThreadsTest, RemovingAMiddleRangeMovesTheRestDown) {
  ASSERT_EQ(data4zap(d, 2, 3), 0);
  EXPECT_EQ(data4recCount(d), 3);
  EXPECT_EQ(records(), "r1r4r5");
  data4close(d);
  d = nullptr;
  const std::string dbf = readDiskFile("z.dbf");
  EXPECT_EQ(dbf.size(), kHeader + 3 * kRecord + 1);
  EXPECT_EQ(dbf.back(), '\x1a');
  EXPECT_EQ(dbf[4], 3);
}

TEST_P(ZapThreadsTest, RemovingEverythingLeavesAnEmptyTable) {
  ASSERT_EQ(data4zap(d, 1, 1000000000), 0);
  EXPECT_EQ(data4recCount(d), 0);
  EXPECT_EQ(data4bof(d), 1);
  EXPECT_EQ(data4eof(d), 1);
  data4close(d);
  d = nullptr;
  const std::string dbf = readDiskFile("z.dbf");
  EXPECT_EQ(dbf.size(), kHeader + 1);
  EXPECT_EQ(dbf.back(), '\x1a');
  EXPECT_EQ(dbf[4], 0);
}

TEST_P(ZapThreadsTest, RangesOutsideTheTableRemoveNothing) {
  EXPECT_EQ(data4zap(d, 3, 2), 0);
  EXPECT_EQ(data4zap(d, 9, 12), 0);
  EXPECT_EQ(records(), "r1r2r3r4r5");
  EXPECT_EQ(data4zap(d, 0, 2), e4parm);
}

// A zap that cannot learn the record count (the header cannot be read) or
// cannot move the records it keeps (a full disk) fails and leaves every
// record where it was.
TEST_P(ZapThreadsTest, AZapThatCannotCountOrMoveFailsAndKeepsTheRecords) {
  for (FakeOs::Io io : {FakeOs::Io::read, FakeOs::Io::write}) {
    SCOPED_TRACE(io == FakeOs::Io::read ? "count" : "move");
    {
      FakeOs fake;
      platform::ScopedOs scoped(fake);
      fake.failFile(io, "z.dbf", io == FakeOs::Io::read ? EIO : ENOSPC);
      d->dataFile->liveCount = -1;  // as after another process's append
      EXPECT_LT(data4zap(d, 2, 3), 0);
    }
    clearError();
    EXPECT_EQ(records(), "r1r2r3r4r5");
  }
}

}  // namespace
