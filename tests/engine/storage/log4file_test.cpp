// The log file: which files count as logs, reading entries from damaged
// bytes, and appends that fail half way.
#include <gtest/gtest.h>

#include <string>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/log4file.h"
#include "engine/storage/tran4.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"
#include "tests/support/log_bytes.h"

using namespace testing_support;

namespace {

class LogFileTest : public EngineTest {
 protected:
  void TearDown() override {
    log4fileClose(&log);
    EngineTest::TearDown();
  }
  int32_t open(const std::string& bytes) {
    writeDiskFile("test.log", bytes);
    return log4fileOpen(&log, &c, "test.log");
  }
  LOG4FILE log;
};

TEST_F(LogFileTest, OnlyACompleteLogEndingCleanlyIsAccepted) {
  // Shorter than two entries: refused whatever the bytes say.
  for (size_t length = 36; length < 72; length++) {
    EXPECT_LT(open((emptyLog() + emptyLog()).substr(0, length)), 0) << length;
    EXPECT_EQ(lastError().code, e4log) << length;
    clearError();
  }
  EXPECT_EQ(open(emptyLog()), 0);
  log4fileClose(&log);

  const std::string start = logEntry({4, 1, 1, 0, 0, {}});
  struct Case {
    const char* what;
    std::string bytes;
    int32_t code;
  } cases[] = {
      {"first entry not empty", logEntry({16, 0, 0, 0, 3, "x"}) + logCleanEnd(), e4read},
      {"first entry of the refused kind", logEntry({17, 0, 0, 0, 3, {}}) + logCleanEnd(), e4log},
      {"ends inside a transaction", logCleanEnd() + start, e4log},
      {"ends with a payload", logCleanEnd() + logEntry({16, 0, 0, 0, 3, "xy"}), e4log},
  };
  for (const Case& k : cases) {
    EXPECT_LT(open(k.bytes), 0) << k.what;
    EXPECT_EQ(lastError().code, k.code) << k.what;
    clearError();
  }
}

TEST_F(LogFileTest, AMissingLogIsQuietAndLeavesTheErrorCodeAlone) {
  error4set(&c, r4entry);
  EXPECT_EQ(log4fileOpen(&log, &c, "absent"), r4noOpen);
  EXPECT_EQ(error4code(&c), r4entry);
  clearError();
  EXPECT_EQ(log4fileOpen(&log, &c, "absent"), r4noOpen);
  EXPECT_EQ(error4code(&c), 0);
  EXPECT_TRUE(recorder.errors().empty());
}

TEST_F(LogFileTest, ScansBothWaysAndRefusesLengthsThatCannotBe) {
  const std::string body = logCleanEnd() + logEntry({15, 0, 1, 0, 0, std::string(10, 'u')}) +
                           logEntry({4, 1, 1, 0, 0, {}}) + logCleanEnd();
  ASSERT_EQ(open(body), 0);
  Log4Scan scan;
  scan.file = &log.file;
  std::vector<uint16_t> backwards;
  for (int32_t rc = log4scanLast(&scan); rc == 0; rc = log4scanBack(&scan))
    backwards.push_back(scan.header.type);
  EXPECT_EQ(backwards, (std::vector<uint16_t>{16, 4, 15, 16}));
  std::vector<uint16_t> forwards{scan.header.type};
  int32_t rc = 0;
  while ((rc = log4scanForward(&scan)) == 0) forwards.push_back(scan.header.type);
  EXPECT_EQ(rc, r4eof);
  EXPECT_EQ(forwards, (std::vector<uint16_t>{16, 15, 4, 16}));
  EXPECT_STREQ(reinterpret_cast<const char*>(scan.payload.data()), "");

  // A header claiming a payload longer than the bytes before it, one that
  // disagrees with its length word, and length words too small to hold a
  // header are all damage, never a read past the entry.
  std::string huge = logCleanEnd() + logEntry({8, 1, 1, 0, 0, "abc"});
  huge.replace(huge.size() - 14, 4, std::string(4, '\xff'));
  std::string disagreeing = logCleanEnd() + logEntry({8, 1, 1, 0, 0, "abc"});
  disagreeing[36] = 40;
  for (const std::string& damaged : {huge, disagreeing}) {
    writeDiskFile("damaged.log", damaged);
    FILE4 file;
    ASSERT_EQ(file4open(&file, &c, "damaged.log", 1), 0);
    Log4Scan bad;
    bad.file = &file;
    EXPECT_EQ(log4scanLast(&bad), e4log);
    clearError();
    file4close(&file);
  }
  for (uint32_t word = 32; word < 36; word++) {
    std::string shortWord = logCleanEnd() + logCleanEnd();
    shortWord[36] = static_cast<char>(word);
    writeDiskFile("damaged.log", shortWord);
    FILE4 file;
    ASSERT_EQ(file4open(&file, &c, "damaged.log", 1), 0);
    Log4Scan bad;
    bad.file = &file;
    ASSERT_EQ(log4scanRead(&bad, 4), 0);
    EXPECT_EQ(log4scanForward(&bad), e4log) << word;
    clearError();
    file4close(&file);
  }
}

TEST_F(LogFileTest, AnAppendCutShortLeavesNoTornEntry) {
  ASSERT_EQ(open(emptyLog()), 0);
  const std::string entry = logEntry({15, 0, 1, 0, 0, std::string(100, 'u')});
  const auto* bytes = reinterpret_cast<const unsigned char*>(entry.data());
  FakeOs os;
  {
    platform::ScopedOs scoped(os);
    os.diskSpace = 50;
    EXPECT_LT(log4fileAppend(&log, bytes, static_cast<uint32_t>(entry.size()), 0), 0);
    clearError();
    os.diskSpace = -1;
    EXPECT_EQ(log4fileAppend(&log, bytes, static_cast<uint32_t>(entry.size()), 1), 0);
  }
  const LogContents contents = readLog(readDiskFile("test.log"));
  EXPECT_TRUE(contents.whole);
  EXPECT_EQ(contents.types(), (std::vector<uint16_t>{16, 16, 15}));
  EXPECT_EQ(log.heldLocks, 0u);
}

}  // namespace
