// Record, append and whole-file locks: where they lie, how handles of one
// process see each other's, and what another process sees.
#include "engine/storage/lock4.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/lock4offsets.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

// Header 32 x 2 + 33 = 97 bytes, records of 20.
const FIELD4INFO kFields[] = {{"NAME", 'C', 10, 0, 0}, {"MORE", 'C', 9, 0, 0}, {nullptr, 0, 0, 0, 0}};

bool holdsRange(const DATA4* d, int64_t offset) {
  const auto& ranges = d->dataFile->file.heldRanges;
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](const auto& r) { return r.offset == static_cast<uint64_t>(offset); });
}

class LockTableTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    DATA4* d = data4create(&c, "t", kFields, nullptr);
    ASSERT_NE(d, nullptr);
    data4close(d);
    c.singleOpen = 0;
    c.lockAttempts = 1;
    c.lockDelay = 1;
  }
  DATA4* open() {
    DATA4* d = data4open(&c, "t");
    EXPECT_NE(d, nullptr);
    return d;
  }
};

TEST_F(LockTableTest, LocksLieWhereOtherProcessesLookForThem) {
  DATA4* d = open();
  ASSERT_EQ(data4lock(d, 3, 0, lock4system), 0);
  EXPECT_TRUE(holdsRange(d, 0x40000000 + 137));
  EXPECT_EQ(lock4appendRange(d->dataFile).offset, 0x40000000);
  d->dataFile->header.flags |= dbf4flagProductionIndex;  // as a table with an index
  EXPECT_EQ(lock4recordRange(d->dataFile, 3).offset, 0x7FFFFFFE - 3);
  EXPECT_EQ(lock4appendRange(d->dataFile).offset, 0x7FFFFFFE);
  d->dataFile->header.flags = 0;
  EXPECT_EQ(lock4fileRange(d->dataFile).length, 0x3FFFFFFF);
  data4close(d);
}

TEST_F(LockTableTest, AnExclusiveFileNeedsNoLocks) {
  c.accessMode = 1;
  DATA4* d = open();
  EXPECT_EQ(data4lock(d, 1, 0, lock4system), 0);
  EXPECT_EQ(data4lockAppend(d, 0), 0);
  EXPECT_EQ(data4lockFile(d, 0, lock4system), 0);
  EXPECT_EQ(data4lockAll(d, 0), 0);
  EXPECT_EQ(data4lockTest(d, 99, lock4system), 1);
  EXPECT_EQ(data4lockTestAppend(d), 1);
  EXPECT_TRUE(d->dataFile->file.heldRanges.empty());
  EXPECT_EQ(d->locks.nLink, 0u);
  data4close(d);
}

TEST_F(LockTableTest, HandlesOfOneProcessSeeEachOthersLocks) {
  DATA4* first = open();
  DATA4* second = open();
  ASSERT_EQ(data4lock(first, 2, 0, lock4system), 0);
  EXPECT_EQ(data4lockTest(first, 2, lock4system), 1);
  EXPECT_EQ(data4lockTest(second, 2, lock4system), r4locked);
  EXPECT_EQ(data4lock(second, 2, 0, lock4system), r4locked);
  EXPECT_EQ(second->dataFile->lastHolderServer, first->id);
  c.lockAttempts = -1;  // waiting for ever on ourselves would never end
  EXPECT_EQ(data4lock(second, 2, 0, lock4system), e4lock);
  EXPECT_EQ(lastError().location, 80076);
  clearError();
  c.lockAttempts = 1;

  ASSERT_EQ(data4lockAppend(first, 0), 0);
  EXPECT_EQ(data4lockAppend(second, 0), r4locked);
  EXPECT_EQ(data4lockFile(second, 0, lock4system), r4locked);
  EXPECT_EQ(data4unlock(first), 0);
  EXPECT_EQ(data4lockFile(second, 0, lock4system), 0);
  EXPECT_EQ(data4lockTest(first, 5, lock4system), r4locked);  // the whole file is taken
  EXPECT_EQ(data4lockTest(second, 5, lock4system), 1);
  data4close(first);
  data4close(second);
}

TEST_F(LockTableTest, AWholeFileLockIsRefusedOverOwnRecordLocks) {
  DATA4* d = open();
  ASSERT_EQ(data4lock(d, 1, 0, lock4system), 0);
  EXPECT_EQ(data4lockFile(d, 0, lock4system), r4locked);
  c.lockAttempts = -1;
  EXPECT_EQ(data4lockFile(d, 0, lock4system), e4lock);
  clearError();
  EXPECT_EQ(data4lockFile(d, 1, lock4system), 0);  // released first
  EXPECT_EQ(d->locks.nLink, 0u);
  data4close(d);
}

TEST_F(LockTableTest, TheHolderOfALockIsNamed) {
  DATA4* first = open();
  DATA4* second = open();
  std::strcpy(first->alias, "HOLDER");
  ASSERT_EQ(data4lock(first, 2, 0, lock4system), 0);
  ASSERT_EQ(data4lock(second, 2, 0, lock4system), r4locked);
  code4lockInfoSet(second->dataFile, 2, 1);
  EXPECT_EQ(c.lockedRecord, 2);
  EXPECT_STREQ(c.lockedAlias, "HOLDER");
  data4close(first);
  data4close(second);
}

TEST_F(LockTableTest, TheUnlockPolicyDecidesWhatReleaseFirstReleases) {
  DATA4* first = open();
  DATA4* second = open();
  // 2: a handle releases only its own locks.
  c.unlockAllowed = 2;
  ASSERT_EQ(data4lock(first, 1, 0, lock4system), 0);
  ASSERT_EQ(data4lock(second, 2, 0, lock4system), 0);
  ASSERT_EQ(data4lock(second, 3, 1, lock4system), 0);
  EXPECT_EQ(first->locks.nLink, 1u);
  EXPECT_EQ(second->locks.nLink, 1u);
  // 1: taking a lock first releases every handle's.
  c.unlockAllowed = 1;
  ASSERT_EQ(data4lock(second, 4, 1, lock4system), 0);
  EXPECT_EQ(first->locks.nLink, 0u);
  EXPECT_EQ(second->locks.nLink, 1u);
  // 0: single releases do nothing; a full unlock still releases.
  c.unlockAllowed = 0;
  EXPECT_EQ(data4unlockRecord(second, 4), 0);
  EXPECT_EQ(second->locks.nLink, 1u);
  EXPECT_EQ(data4unlock(second), 0);
  EXPECT_EQ(second->locks.nLink, 0u);
  EXPECT_EQ(c.unlockAllowed, 0);
  data4close(first);
  data4close(second);
}

TEST_F(LockTableTest, UnlockingAllIsRefusedDuringATransaction) {
  DATA4* d = open();
  ASSERT_EQ(data4lock(d, 1, 0, lock4system), 0);
  c.transactionState = tran4active;
  EXPECT_EQ(code4unlock(&c), e4transViolation);
  EXPECT_EQ(d->locks.nLink, 1u);
  c.transactionState = 0;
  clearError();
  EXPECT_EQ(code4unlock(&c), 0);
  EXPECT_EQ(d->locks.nLink, 0u);
  data4close(d);
}

// A caller that holds every index lock (a lock of the whole table) keeps
// them across the key maintenance of its appends; asked with no attempts,
// the index locks are tried once, without a wait.
TEST_F(LockTableTest, IndexLocksHeldBeforeAWriteStayHeldAndNoAttemptsTryOnce) {
  const TAG4INFO tags[] = {{"NAME", "NAME", nullptr, 0, 0}, {}};
  DATA4* made = data4create(&c, "ti", kFields, tags);
  ASSERT_NE(made, nullptr);
  ASSERT_EQ(data4close(made), 0);
  DATA4* d = data4open(&c, "ti");
  ASSERT_NE(d, nullptr);
  DATA4FILE* df = d->dataFile;
  EXPECT_EQ(datafile4lockTestIndex(df), 0);
  ASSERT_EQ(data4lockAll(d, 0), 0);
  EXPECT_EQ(datafile4lockTestIndex(df), 1);
  ASSERT_EQ(data4appendStart(d, 0), 0);
  ASSERT_EQ(data4blank(d), 0);
  ASSERT_EQ(field4assign(data4field(d, "NAME"), "alpha"), 0);
  ASSERT_EQ(data4append(d), 0);
  EXPECT_EQ(datafile4lockTestIndex(df), 1);
  ASSERT_EQ(data4unlock(d), 0);
  EXPECT_EQ(datafile4lockTestIndex(df), 0);

  // Another open file description holds the index lock byte.
  const int other = ::open("ti.cdx", O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(platform::os().rangeLock(other, true, 0x7FFFFFFE, 1), 0);
  {
    FakeOs fake;
    platform::ScopedOs scoped(fake);
    c.lockAttempts = 0;
    EXPECT_EQ(datafile4lockIndex(df, d->id), r4locked);
    EXPECT_EQ(fake.millisSlept(), 0);
    EXPECT_EQ(datafile4lockTestIndex(df), 0);
  }
  ::close(other);
  c.lockAttempts = 1;
  EXPECT_EQ(datafile4lockIndex(df, d->id), 0);
  EXPECT_EQ(datafile4unlockIndex(df, d->id), 0);
  clearError();
  ASSERT_EQ(data4close(d), 0);
}

TEST_F(LockTableTest, AnotherProcessWaitsForARecordLock) {
  DATA4* d = open();
  ASSERT_EQ(data4lock(d, 1, 0, lock4system), 0);
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = fork();
  if (child == 0) {
    // No test harness here: the exit code tells what the child saw.
    CODE4 other;
    code4initLow(&other, nullptr, 6502, 1611, 1);
    other.lockAttempts = 1;
    DATA4* mine = data4open(&other, "t");
    int status = mine == nullptr ? 10 : data4lock(mine, 1, 0, lock4system) == r4locked ? 0 : 11;
    char go = 0;
    if (write(toParent[1], "x", 1) != 1 || read(toChild[0], &go, 1) != 1) status = 12;
    other.lockAttempts = -1;  // wait until the parent lets go
    other.lockDelay = 1;
    if (status == 0 && data4lock(mine, 1, 0, lock4system) != 0) status = 13;
    _exit(status);
  }
  char seen = 0;
  ASSERT_EQ(read(toParent[0], &seen, 1), 1);
  EXPECT_EQ(data4unlockRecord(d, 1), 0);
  ASSERT_EQ(write(toChild[1], "x", 1), 1);
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  data4close(d);
}

}  // namespace
