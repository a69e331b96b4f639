// The sequential reader and writer, with the workers on and off.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/seqread4.h"
#include "engine/storage/seqwrite4.h"
#include "engine/storage/tran4.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"
#include "tests/support/log_bytes.h"

using testing_support::EngineTest;
using testing_support::FakeOs;

namespace {

std::string patterned(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (auto& b : bytes) b = static_cast<char>(random());
  return bytes;
}

class SeqThreadsTest : public EngineTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool withWorkers() const override { return GetParam(); }
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    ASSERT_EQ(file4create(&f, &c, "seq.bin", 0), 0);
  }
  void TearDown() override {
    file4close(&f);
    EngineTest::TearDown();
  }
  void fill(const std::string& bytes) { ASSERT_EQ(file4write(&f, 0, bytes.data(), bytes.size()), 0); }
  std::string fileBytes() {
    std::string bytes(file4lenLow(&f), '\0');
    if (!bytes.empty()) {
      EXPECT_EQ(file4readAll(&f, 0, bytes.data(), bytes.size()), 0);
    }
    return bytes;
  }
  FILE4 f;
};

INSTANTIATE_TEST_SUITE_P(Workers, SeqThreadsTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_P(SeqThreadsTest, AReaderRealignsToKibibyteBoundariesAfterItsFirstTransfer) {
  const std::string bytes = patterned(20000, 1);
  fill(bytes);
  FILE4SEQREAD reader;
  std::vector<char> buffer(4096);
  ASSERT_EQ(file4seqReadInit(&reader, &f, 100, buffer.data(), buffer.size(), 0), 0);
  char out[10];
  ASSERT_EQ(file4seqRead(&reader, out, 10), 10u);
  EXPECT_EQ(reader.available, 3996u);
  EXPECT_EQ(reader.position, 4096u);
  std::string rest(3986 + 1, '\0');
  ASSERT_EQ(file4seqRead(&reader, rest.data(), rest.size()), rest.size());
  EXPECT_EQ(reader.available, 4096u);
  EXPECT_EQ(reader.position, 8192u);
  EXPECT_EQ(std::string(out, 10) + rest, bytes.substr(100, 3997));
}

TEST_P(SeqThreadsTest, ReadingPastTheEndGivesTheRestThenNothing) {
  const std::string bytes = patterned(10000, 2);
  fill(bytes);
  for (int doubled = 0; doubled < 2; doubled++) {
    FILE4SEQREAD reader;
    std::vector<char> buffer(4096);
    ASSERT_EQ(file4seqReadInit(&reader, &f, 0, buffer.data(), buffer.size(), doubled), 0);
    std::string out(20000, '\0');
    EXPECT_EQ(file4seqRead(&reader, out.data(), out.size()), 10000u);
    EXPECT_EQ(out.substr(0, 10000), bytes);
    EXPECT_EQ(file4seqRead(&reader, out.data(), 1), 0u);
    EXPECT_EQ(file4seqReadAll(&reader, out.data(), 1), e4read);
    EXPECT_EQ(lastError().text3, "file4seqReadAll");
    file4seqReadDone(&reader);
    clearError();
  }
}

TEST_P(SeqThreadsTest, DoubleBufferedReadsDeliverEveryByteInOrder) {
  const std::string bytes = patterned(300000, 3);
  fill(bytes);
  FILE4SEQREAD reader;
  std::vector<char> buffer(8192);
  ASSERT_EQ(file4seqReadInit(&reader, &f, 37, buffer.data(), buffer.size(), 1), 0);
  std::string out;
  std::mt19937 random(4);
  for (;;) {
    std::string piece(random() % 5000 + 1, '\0');
    const uint32_t got = file4seqRead(&reader, piece.data(), piece.size());
    out += piece.substr(0, got);
    if (got < piece.size()) break;
  }
  file4seqReadDone(&reader);
  EXPECT_EQ(out, bytes.substr(37));
  EXPECT_EQ(f.readAheadUsed, GetParam());
}

TEST_P(SeqThreadsTest, ASmallBufferReadsAndWritesDirectly) {
  FILE4SEQWRITE writer;
  char buffer[1000];
  ASSERT_EQ(file4seqWriteInit(&writer, &f, 0, buffer, sizeof buffer), 0);
  EXPECT_EQ(writer.current, nullptr);
  ASSERT_EQ(file4seqWrite(&writer, "abc", 3), 0);
  EXPECT_EQ(fileBytes(), "abc");  // already on disk, without a flush

  FILE4SEQREAD reader;
  ASSERT_EQ(file4seqReadInit(&reader, &f, 1, buffer, 1000, 0), 0);
  EXPECT_EQ(reader.current, nullptr);
  char out[4];
  EXPECT_EQ(file4seqRead(&reader, out, 4), 2u);
  EXPECT_EQ(std::string(out, 2), "bc");
}

TEST_P(SeqThreadsTest, RepeatWritesGoInBlocksOf512) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.recordWrites = true;
  FILE4SEQWRITE writer;
  ASSERT_EQ(file4seqWriteInit(&writer, &f, 0, nullptr, 0), 0);
  ASSERT_EQ(file4seqWriteRepeat(&writer, 0, 'x'), 0);
  ASSERT_EQ(file4seqWriteRepeat(&writer, 1300, 'x'), 0);
  EXPECT_EQ(fake.writeSizes(), (std::vector<size_t>{512, 512, 276}));
  EXPECT_EQ(fileBytes(), std::string(1300, 'x'));
  EXPECT_EQ(file4seqWriteRepeat(&writer, -1, 'x'), e4parm);
}

TEST_P(SeqThreadsTest, ABufferedWriterWritesEveryByteFromAMisalignedStart) {
  const std::string bytes = patterned(200000, 5);
  fill(std::string(100, '-'));
  FILE4SEQWRITE writer;
  std::vector<char> buffer(10000);
  ASSERT_EQ(file4seqWriteInit(&writer, &f, 100, buffer.data(), buffer.size()), 0);
  EXPECT_EQ(writer.halfSize, 4608u);
  std::mt19937 random(6);
  for (size_t at = 0; at < bytes.size();) {
    const size_t n = std::min<size_t>(random() % 3000 + 1, bytes.size() - at);
    ASSERT_EQ(file4seqWrite(&writer, bytes.data() + at, n), 0);
    at += n;
  }
  ASSERT_EQ(file4seqWriteFlush(&writer), 0);
  EXPECT_EQ(fileBytes(), std::string(100, '-') + bytes);
}

TEST_P(SeqThreadsTest, AFullDiskFailsTheWholePassOnTheCallersThread) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.diskSpace = 5000;
  const std::string bytes = patterned(100000, 7);
  FILE4SEQWRITE writer;
  std::vector<char> buffer(8192);
  ASSERT_EQ(file4seqWriteInit(&writer, &f, 0, buffer.data(), buffer.size()), 0);
  int32_t rc = 0;
  for (size_t at = 0; at < bytes.size() && rc == 0; at += 1000)
    rc = file4seqWrite(&writer, bytes.data() + at, 1000);
  const int32_t flushed = file4seqWriteFlush(&writer);
  EXPECT_LT(flushed, 0);
  EXPECT_EQ(writer.firstError, e4write);
  // Raised on this thread, never on a worker's.
  auto errors = recorder.errors();
  ASSERT_FALSE(errors.empty());
  for (const auto& error : errors) {
    EXPECT_EQ(error.code, e4write);
    EXPECT_EQ(error.thread, std::this_thread::get_id());
    EXPECT_EQ(error.text1, "seq.bin");
  }
}

// A file holding records may be written only once the transaction log is
// on disk. When the log cannot be flushed, the halves handed over are
// refused: the flush reports it instead of waiting for ever on a half no
// completion will give back.
TEST_P(SeqThreadsTest, ALogThatCannotBeFlushedFailsThePassWithoutHanging) {
  testing_support::writeDiskFile("C4.log", testing_support::emptyLog());
  ASSERT_EQ(code4logOpen(&c, nullptr, nullptr), 0);
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.failFile(FakeOs::Io::sync, "C4.log", EIO);
  f.logWriteAhead = true;
  c.transaction.log.needsFlush = true;  // an entry not yet on disk
  const std::string bytes = patterned(30000, 8);
  FILE4SEQWRITE writer;
  std::vector<char> buffer(8192);
  ASSERT_EQ(file4seqWriteInit(&writer, &f, 0, buffer.data(), buffer.size()), 0);
  auto pass = std::async(std::launch::async, [&] {
    for (size_t at = 0; at < bytes.size(); at += 1000)
      if (file4seqWrite(&writer, bytes.data() + at, 1000) < 0) break;
    return file4seqWriteFlush(&writer);
  });
  if (pass.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the flush waits for ever";
    std::_Exit(1);
  }
  EXPECT_LT(pass.get(), 0);
  EXPECT_TRUE(c.transaction.log.needsFlush);  // still due
  EXPECT_EQ(file4lenLow(&f), 0u);
  clearError();
  fake.failFile(FakeOs::Io::sync, "C4.log", 0);
  code4logClose(&c);
}

}  // namespace
