#include "engine/storage/file4.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "engine/storage/error4.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using testing_support::EngineTest;
using testing_support::FakeOs;

namespace {

void writeDiskFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string readDiskFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool diskFileExists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }

class FileTest : public EngineTest {
 protected:
  void TearDown() override {
    file4close(&f);
    file4close(&g);
    EngineTest::TearDown();
  }
  FILE4 f;
  FILE4 g;
};

// --- open and create -------------------------------------------------------

TEST_F(FileTest, CreateRefusesAnExistingFileUnlessSafetyIsOff) {
  writeDiskFile("t.dbf", "old contents");
  EXPECT_EQ(file4create(&f, &c, "t.dbf", 0), e4create);
  EXPECT_EQ(lastError().location, 90058);
  EXPECT_EQ(lastError().text1, "t.dbf");
  EXPECT_EQ(f.handle, -1);
  clearError();

  code4errCreateSet(&c, 0);
  EXPECT_EQ(file4create(&f, &c, "t.dbf", 0), r4noCreate);
  EXPECT_EQ(error4code(&c), r4noCreate);  // quiet, but stored
  clearError();

  c.safety = 0;
  ASSERT_EQ(file4create(&f, &c, "t.dbf", 1), 0);
  EXPECT_EQ(file4lenLow(&f), 0u);  // replaced
}

TEST_F(FileTest, ReplacingAFileInUseElsewhereFails) {
  writeDiskFile("busy.dbf", "data");
  ASSERT_EQ(file4open(&g, &c, "busy.dbf", 0), 0);
  c.safety = 0;
  code4errCreateSet(&c, 0);
  EXPECT_EQ(file4create(&f, &c, "busy.dbf", 0), r4noCreate);
  EXPECT_EQ(readDiskFile("busy.dbf"), "data");
}

TEST_F(FileTest, OpenFailuresAreMappedOrQuiet) {
  EXPECT_EQ(file4open(&f, &c, "missing.dbf", 0), e4fileFind);
  EXPECT_EQ(lastError().location, 90071);
  EXPECT_EQ(lastError().text1, "missing.dbf");
  clearError();
  c.errOpen = 0;
  EXPECT_EQ(file4open(&f, &c, "missing.dbf", 0), r4noOpen);
  EXPECT_EQ(error4code(&c), r4noOpen);
  EXPECT_EQ(f.handle, -1);
}

TEST(FileErrnoTest, ErrnoValuesMapToEngineCodes) {
  EXPECT_EQ(file4openErrorCode(ENOENT), e4fileFind);
  EXPECT_EQ(file4openErrorCode(ENOTDIR), e4fileFind);
  EXPECT_EQ(file4openErrorCode(ENAMETOOLONG), e4fileFind);
  EXPECT_EQ(file4openErrorCode(EMFILE), e4numFiles);
  EXPECT_EQ(file4openErrorCode(ENFILE), e4numFiles);
  EXPECT_EQ(file4openErrorCode(EACCES), e4permiss);
  EXPECT_EQ(file4openErrorCode(EPERM), e4permiss);
  EXPECT_EQ(file4openErrorCode(EWOULDBLOCK), e4permiss);
  EXPECT_EQ(file4openErrorCode(ENOSPC), e4write);
  EXPECT_EQ(file4openErrorCode(EDQUOT), e4write);
  EXPECT_EQ(file4openErrorCode(EIO), e4open);
}

TEST_F(FileTest, InjectedOpenFaultsReachTheCaller) {
  writeDiskFile("a.dbf", "x");
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.openError = EMFILE;
  EXPECT_EQ(file4open(&f, &c, "a.dbf", 0), e4numFiles);
  clearError();
  fake.openError = EACCES;  // refused for writing: opens read-only instead
  ASSERT_EQ(file4open(&f, &c, "a.dbf", 0), 0);
  EXPECT_TRUE(f.isReadOnly);
}

TEST_F(FileTest, ASecondExclusiveOpenIsASharingViolation) {
  writeDiskFile("x.dbf", "x");
  c.accessMode = 1;
  ASSERT_EQ(file4open(&f, &c, "x.dbf", 0), 0);
  EXPECT_EQ(file4open(&g, &c, "x.dbf", 0), e4permiss);
  clearError();
  c.accessMode = 0;  // a shared open conflicts too
  EXPECT_EQ(file4open(&g, &c, "x.dbf", 0), e4permiss);
  clearError();
  file4close(&f);
  EXPECT_EQ(file4open(&g, &c, "x.dbf", 0), 0);
}

TEST_F(FileTest, NamesAreFoundInAnyLetterCase) {
  writeDiskFile("DBFILES.DBF", "upper");
  EXPECT_EQ(file4exists("dbfiles.dbf"), 0);
  EXPECT_NE(file4exists("dbfiles.cdx"), 0);
  ASSERT_EQ(file4open(&f, &c, "dbfiles.dbf", 0), 0);
  char bytes[5];
  EXPECT_EQ(file4read(&f, 0, bytes, 5), 5u);
  file4close(&f);

  // A create must not put a lower-case twin beside the existing table.
  c.safety = 0;
  ASSERT_EQ(file4create(&f, &c, "dbfiles.dbf", 0), 0);
  file4close(&f);
  EXPECT_TRUE(diskFileExists("DBFILES.DBF"));
  EXPECT_FALSE(diskFileExists("dbfiles.dbf"));
}

TEST_F(FileTest, ACloseThatFailsStillClosesTheHandle) {
  ASSERT_EQ(file4create(&f, &c, "c.dbf", 1), 0);
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.closeError = EIO;
  EXPECT_EQ(file4close(&f), e4close);
  EXPECT_EQ(lastError().text1, "c.dbf");
  EXPECT_EQ(f.handle, -1);
  clearError();
  EXPECT_EQ(file4close(&f), 0);
  FILE4 never;
  EXPECT_EQ(file4close(&never), 0);
}

// --- reading and writing ---------------------------------------------------

TEST_F(FileTest, ReadsOfNothingTouchNothing) {
  ASSERT_EQ(file4create(&f, &c, "r.dbf", 0), 0);
  char byte = 'q';
  EXPECT_EQ(file4read(&f, 0, &byte, 0), 0u);
  EXPECT_EQ(file4readAll(&f, 0, &byte, 0), 0);
  EXPECT_EQ(byte, 'q');
  EXPECT_TRUE(recorder.errors().empty());
}

TEST_F(FileTest, AShortReadAllNamesThePlaceAndTheFunction) {
  ASSERT_EQ(file4create(&f, &c, "s.dbf", 0), 0);
  ASSERT_EQ(file4write(&f, 0, "abc", 3), 0);
  char buffer[8];
  EXPECT_EQ(file4read(&f, 1, buffer, 8), 2u);
  EXPECT_EQ(file4readAll(&f, 1, buffer, 8), e4read);
  const auto error = lastError();
  EXPECT_EQ(error.location, 90077);
  EXPECT_EQ(error.text1, "s.dbf");
  EXPECT_EQ(error.text2, std::string(18, ' ') + "1" + std::string(19, ' ') + "8");
  EXPECT_EQ(error.text3, "file4readAllLow");
  // Pending: the next calls return at once.
  EXPECT_EQ(file4readAll(&f, 0, buffer, 1), -1);
  EXPECT_EQ(file4read(&f, 0, buffer, 1), 0u);
}

TEST_F(FileTest, PositionsBeyondFourGibibytes) {
  ASSERT_EQ(file4create(&f, &c, "big.dbf", 0), 0);
  const uint64_t far = (5ull << 32) + 123;  // a sparse file
  ASSERT_EQ(file4write(&f, far, "tail", 4), 0);
  EXPECT_TRUE(f.isLong);
  EXPECT_EQ(file4lenLow(&f), far + 4);
  char back[4];
  ASSERT_EQ(file4readAll(&f, far, back, 4), 0);
  EXPECT_EQ(std::string(back, 4), "tail");
  ASSERT_EQ(file4lenSetLow(&f, 10), 0);
  EXPECT_FALSE(f.isLong);
  EXPECT_EQ(file4lenLow(&f), 10u);
}

TEST_F(FileTest, AReadOnlyFileRefusesChanges) {
  writeDiskFile("ro.dbf", "abc");
  c.readOnly = 1;
  ASSERT_EQ(file4open(&f, &c, "ro.dbf", 0), 0);
  EXPECT_TRUE(f.isReadOnly);
  EXPECT_EQ(file4write(&f, 0, "x", 1), e4write);
  EXPECT_EQ(lastError().location, 80013);
  clearError();
  EXPECT_EQ(file4lenSetLow(&f, 0), e4parm);
  EXPECT_EQ(lastError().location, 80014);
  clearError();
  EXPECT_EQ(file4flush(&f), 0);
  EXPECT_EQ(readDiskFile("ro.dbf"), "abc");
}

TEST_F(FileTest, AFullDiskIsReported) {
  ASSERT_EQ(file4create(&f, &c, "full.dbf", 0), 0);
  ASSERT_EQ(file4write(&f, 0, "0123456789", 10), 0);
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.diskSpace = 4;  // room for four more bytes
  EXPECT_EQ(file4write(&f, 10, "abcdefgh", 8), e4write);
  EXPECT_EQ(lastError().location, 90075);
  EXPECT_EQ(lastError().text1, "full.dbf");
}

TEST_F(FileTest, TheFullDeviceIsReported) {
  if (!diskFileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_EQ(file4open(&f, &c, "/dev/full", 0), 0);
  EXPECT_EQ(file4write(&f, 0, "x", 1), e4write);
}

TEST_F(FileTest, OnlyAnExplicitFlushSyncsAndOnlyWhatWasWritten) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  ASSERT_EQ(file4create(&f, &c, "sync.dbf", 0), 0);
  for (int i = 0; i < 10; i++) ASSERT_EQ(file4write(&f, i * 4, "abcd", 4), 0);
  ASSERT_EQ(file4lenSetLow(&f, 8), 0);
  EXPECT_EQ(fake.syncCalls.load(), 0);
  EXPECT_EQ(file4flush(&f), 0);
  EXPECT_EQ(fake.syncCalls.load(), 1);
  // Nothing written since: nothing to sync.
  EXPECT_EQ(file4flush(&f), 0);
  EXPECT_EQ(fake.syncCalls.load(), 1);
  // A sync that fails is final. The system answers the next one with
  // success (FakeOs fails once, as Linux reports a lost write-back once)
  // though what it could not write may be gone: every later flush and the
  // close fail, without asking the disk again.
  ASSERT_EQ(file4write(&f, 0, "x", 1), 0);
  fake.syncError = EIO;
  EXPECT_EQ(file4flush(&f), e4optFlush);
  EXPECT_EQ(lastError().location, 90066);
  EXPECT_TRUE(c.syncFailed);
  clearError();
  EXPECT_EQ(file4flush(&f), e4optFlush);
  clearError();
  ASSERT_EQ(file4write(&f, 0, "y", 1), 0);
  EXPECT_EQ(file4flush(&f), e4optFlush);
  clearError();
  EXPECT_EQ(file4close(&f), e4optFlush);
  EXPECT_EQ(lastError().location, 90059);
  clearError();
  EXPECT_EQ(fake.syncCalls.load(), 2);
}

// --- temporary files -------------------------------------------------------

class TempFileTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    folder = std::string(cwd) + "/tmp";
    mkdir(folder.c_str(), 0700);
    fake.environmentVariables = std::map<std::string, std::string>{{"TMPDIR", folder}};
    fake.now = platform::LocalTime{2026, 12, 7, 10, 0, 0, 0};
  }
  std::string temp(int number, const char* extension = "TMP") {
    char name[32];
    std::snprintf(name, sizeof name, "/TEMP%04d.%s", number, extension);
    return folder + name;
  }
  FakeOs fake;
  platform::ScopedOs scoped{fake};
  std::string folder;
};

TEST_F(TempFileTest, ATemporaryFileIsPrivateAndVanishesAtClose) {
  ASSERT_EQ(file4tempLow(&f, &c, 1, 1, nullptr), 0);
  EXPECT_EQ(std::string(f.name), temp(1));
  struct stat status {};
  ASSERT_EQ(stat(f.name, &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(file4close(&f), 0);
  EXPECT_FALSE(diskFileExists(temp(1)));
  EXPECT_EQ(c.accessMode, 0);  // restored
}

TEST_F(TempFileTest, TakenNamesAreSkippedAndTheHundredFirstFails) {
  for (int n = 1; n <= 2; n++) writeDiskFile(temp(n), "");
  ASSERT_EQ(file4tempLow(&f, &c, 1, 1, nullptr), 0);
  EXPECT_EQ(std::string(f.name), temp(3));
  EXPECT_EQ(error4code(&c), 0);  // the quiet failures leave nothing behind
  file4close(&f);

  for (int n = 1; n <= 100; n++) writeDiskFile(temp(n), "");
  EXPECT_EQ(file4tempLow(&f, &c, 1, 1, nullptr), e4create);
  EXPECT_EQ(lastError().location, 80012);
  EXPECT_EQ(c.accessMode, 0);
  EXPECT_EQ(code4errCreate(&c), 1);
}

TEST_F(TempFileTest, NumbersWrapWithinFourDigits) {
  fake.now = platform::LocalTime{2026, 12, 7, 10, 0, 9, 999};  // 9999
  ASSERT_EQ(file4tempLow(&f, &c, 1, 1, "dbf"), 0);
  EXPECT_EQ(std::string(f.name), temp(0, "dbf"));
}

TEST_F(TempFileTest, ATemporaryTableNeedsItsCompanionNamesFree) {
  writeDiskFile(temp(1, "cdx"), "");
  writeDiskFile(temp(2, "fpt"), "");
  ASSERT_EQ(file4tempLow(&f, &c, 1, 1, "dbf"), 0);
  EXPECT_EQ(std::string(f.name), temp(3, "dbf"));
  EXPECT_FALSE(diskFileExists(temp(1, "dbf")));  // tried, then removed
  EXPECT_FALSE(diskFileExists(temp(2, "dbf")));
}

TEST_F(TempFileTest, ANullNameCreatesATemporaryFile) {
  c.createTemp = 1;
  ASSERT_EQ(file4create(&f, &c, nullptr, 0), 0);
  EXPECT_TRUE(f.isTemp);
  const std::string name = f.name;
  file4close(&f);
  EXPECT_FALSE(diskFileExists(name));
}

// --- byte-range locks ------------------------------------------------------

class LockTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    writeDiskFile("lock.dbf", std::string(100, 'x'));
    ASSERT_EQ(file4open(&f, &c, "lock.dbf", 0), 0);
    ASSERT_EQ(file4open(&g, &c, "lock.dbf", 0), 0);
    c.lockDelay = 1;  // ten milliseconds between attempts
  }
};

TEST_F(LockTest, ARangeHeldByAnotherDescriptionGivesFiftyAfterOneAttempt) {
  c.lockAttempts = 1;
  ASSERT_EQ(file4lock(&f, 0x40000000, 1), 0);
  EXPECT_EQ(file4lock(&g, 0x40000000, 1), r4locked);
  EXPECT_EQ(file4lock(&g, 0x40000001, 1), 0);  // the next byte is free
  EXPECT_EQ(file4lock(&f, 0x40000000, 1), r4locked);  // a handle cannot relock
  EXPECT_EQ(file4unlock(&f, 0x40000000, 1), 0);
  EXPECT_EQ(file4lock(&g, 0x40000000, 1), 0);
  EXPECT_TRUE(recorder.errors().empty());
}

TEST_F(LockTest, UnlockingARangeNotHeldFails) {
  EXPECT_EQ(file4unlock(&f, 10, 1), e4unlock);
  EXPECT_EQ(lastError().location, 90070);
  clearError();
  ASSERT_EQ(file4lock(&f, 10, 5), 0);
  EXPECT_EQ(file4unlock(&f, 10, 1), e4unlock);  // only the range as locked
  clearError();
  EXPECT_EQ(file4unlock(&f, 10, 5), 0);
  EXPECT_EQ(file4unlock(&f, 10, 5), e4unlock);
}

TEST_F(LockTest, ClosingAnotherDescriptorKeepsTheLock) {
  c.lockAttempts = 1;
  ASSERT_EQ(file4lock(&f, 50, 1), 0);
  FILE4 third;
  ASSERT_EQ(file4open(&third, &c, "lock.dbf", 0), 0);
  file4close(&third);
  EXPECT_EQ(file4lock(&g, 50, 1), r4locked);
}

TEST_F(LockTest, ExclusiveFilesTakeNoLocks) {
  file4close(&f);
  file4close(&g);
  c.accessMode = 1;
  ASSERT_EQ(file4open(&f, &c, "lock.dbf", 0), 0);
  EXPECT_EQ(file4lock(&f, 0, 10), 0);
  EXPECT_EQ(file4lock(&f, 0, 10), 0);
  EXPECT_EQ(file4unlock(&f, 99, 1), 0);
  EXPECT_TRUE(f.heldRanges.empty());
}

TEST_F(LockTest, BadArgumentsAreRefused) {
  EXPECT_EQ(file4lock(&f, -1, 1), e4parm);
  clearError();
  EXPECT_EQ(file4lock(&f, 0, 0), 0);
  FILE4 closed;
  closed.codeBase = &c;
  EXPECT_EQ(file4lock(&closed, 0, 1), e4parm);
  EXPECT_EQ(lastError().location, 80015);
}

TEST_F(LockTest, AnotherProcessSeesTheLock) {
  c.lockAttempts = 1;
  ASSERT_EQ(file4lock(&f, 7, 1), 0);
  const pid_t child = fork();
  if (child == 0) {
    // The child has no test harness: it answers through its exit code.
    FILE4 other;
    CODE4 childCode;
    code4initLow(&childCode, nullptr, 6502, 1611, 1);
    childCode.lockAttempts = 1;
    int status = file4open(&other, &childCode, "lock.dbf", 0) != 0 ? 10
                 : file4lock(&other, 7, 1) == r4locked           ? 0
                                                                  : 11;
    _exit(status);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(LockTest, ThreadsWaitForeverUntilTheRangeIsFree) {
  c.lockAttempts = -1;
  ASSERT_EQ(file4lock(&f, 20, 1), 0);
  std::thread releaser([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    file4unlock(&f, 20, 1);
  });
  EXPECT_EQ(file4lock(&g, 20, 1), 0);
  releaser.join();
}

TEST(FlagsTest, BitsAreReadWithinTheSet) {
  unsigned char bytes[2] = {0x05, 0x80};
  F4FLAG flags;
  flags.flags = bytes;
  flags.numFlags = 16;
  EXPECT_TRUE(flags4isSet(&flags, 0));
  EXPECT_FALSE(flags4isSet(&flags, 1));
  EXPECT_TRUE(flags4isSet(&flags, 2));
  EXPECT_TRUE(flags4isSet(&flags, 15));
  EXPECT_FALSE(flags4isSet(&flags, 16));
}

}  // namespace
