// The FPT memo file: entries, block allocation, and damaged files.
#include "engine/storage/memo4file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

class MemoFileTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    ASSERT_EQ(memo4fileCreate(&memo, &c, nullptr, "notes.dbf"), 0);
  }
  void TearDown() override {
    file4close(&memo.file);
    memory4freeBlock(buffer);
    EngineTest::TearDown();
  }
  int64_t write(int64_t block, const std::string& value) {
    EXPECT_EQ(memo4fileWrite(&memo, &block, value.data(), value.size()), 0);
    return block;
  }
  std::string read(int64_t block) {
    uint32_t length = 0;
    if (memo4fileRead(&memo, block, &buffer, &capacity, &length, 0, UINT32_MAX, nullptr) != 0)
      return "<failed>";
    return std::string(buffer == nullptr ? "" : buffer, length);
  }
  uint64_t fileLength() { return file4lenLow(&memo.file); }

  MEMO4FILE memo;
  char* buffer = nullptr;
  uint32_t capacity = 0;
};

TEST_F(MemoFileTest, ValuesTakeWholeBlocksAfterTheirHeader) {
  EXPECT_EQ(memo4blockCount(504, 512), 1);
  EXPECT_EQ(memo4blockCount(505, 512), 2);
  const int64_t first = write(0, std::string(504, 'a'));
  const int64_t second = write(0, std::string(505, 'b'));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(fileLength(), 4u * 512);
  EXPECT_EQ(read(first), std::string(504, 'a'));
  EXPECT_EQ(read(second), std::string(505, 'b'));
  EXPECT_EQ(buffer[505], '\0');
  EXPECT_EQ(buffer[506], '\0');
}

// A value never overwrites the entry it replaces, even one it would fit:
// the entry stays whole until the record that names it moves on.
TEST_F(MemoFileTest, AValueAlwaysTakesNewBlocksAndLeavesTheOldEntryWhole) {
  const int64_t block = write(0, std::string(600, 'x'));  // two blocks
  const int64_t shorter = write(block, "short");
  EXPECT_EQ(shorter, 3);  // the next block never handed out
  EXPECT_EQ(read(shorter), "short");
  EXPECT_EQ(read(block), std::string(600, 'x'));
  const uint64_t before = fileLength();
  const int64_t moved = write(shorter, std::string(2000, 'y'));
  EXPECT_EQ(moved, 4);
  EXPECT_EQ(fileLength(), before + 4 * 512);
  EXPECT_EQ(read(moved), std::string(2000, 'y'));
  EXPECT_EQ(read(shorter), "short");
}

TEST_F(MemoFileTest, AnEmptyValueHasNoBlockAndWritesNothing) {
  const std::string before = readDiskFile("notes.fpt");
  int64_t block = 7;
  EXPECT_EQ(memo4fileWrite(&memo, &block, "", 0), 0);
  EXPECT_EQ(block, 0);
  EXPECT_EQ(readDiskFile("notes.fpt"), before);
  EXPECT_EQ(read(0), "");
}

TEST_F(MemoFileTest, AnEntryReachingPastTheFileIsDamage) {
  const int64_t block = write(0, "hello");
  std::string fpt = readDiskFile("notes.fpt");
  fpt[512 + 4] = '\x7f';  // a length of about 2 GiB
  writeDiskFile("notes.fpt", fpt);
  uint32_t length = 99;
  EXPECT_EQ(memo4fileRead(&memo, block, &buffer, &capacity, &length, 0, UINT32_MAX, nullptr), e4read);
  EXPECT_EQ(length, 0u);
  clearError();
  EXPECT_EQ(memo4fileRead(&memo, block, &buffer, &capacity, &length, 10, UINT32_MAX, nullptr), e4read);
}

// A next free block inside the header (0) or inside the entries written
// (3, where the second of three two-block values lies) is damage: new
// entries go after everything the file holds.
TEST_F(MemoFileTest, ADamagedNextFreeBlockNeverOverwritesTheHeaderOrData) {
  std::vector<std::pair<int64_t, std::string>> kept;
  for (char fill : {'a', 'b', 'c'}) {
    const std::string value(600, fill);
    kept.emplace_back(write(0, value), value);
  }
  ASSERT_EQ(kept[1].first, 3);
  const std::string sound = readDiskFile("notes.fpt");
  for (const char* nextFree : {"\0\0\0\0", "\0\0\0\3"}) {
    std::string fpt = sound;
    fpt.replace(0, 4, std::string(nextFree, 4));
    writeDiskFile("notes.fpt", fpt);
    const int64_t block = write(0, "new");
    SCOPED_TRACE(block);
    EXPECT_GE(block, 7);
    for (const auto& [at, value] : kept) EXPECT_EQ(read(at), value);
    EXPECT_EQ(read(block), "new");
  }
}

TEST_F(MemoFileTest, AFileWithBlockSizeZeroIsRefused) {
  file4close(&memo.file);
  std::string fpt = readDiskFile("notes.fpt");
  fpt[6] = fpt[7] = 0;
  writeDiskFile("notes.fpt", fpt);
  MEMO4FILE other;
  DATA4FILE df;
  df.codeBase = &c;
  EXPECT_EQ(memo4fileOpen(&other, &df, "notes.fpt"), e4data);
  file4close(&other.file);
}

}  // namespace
