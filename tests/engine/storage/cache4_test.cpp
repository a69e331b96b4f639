// The block cache: joining, sizing, held writes, lengths, reuse of blocks,
// priority lists, locks, failures, and the workers that carry its
// write-outs and read-ahead.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "engine/storage/buffer4.h"
#include "engine/storage/cache4core.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"
#include "engine/storage/file4.h"
#include "engine/storage/file4queue.h"
#include "engine/storage/request4.h"
#include "engine/storage/seqwrite4.h"
#include "platform/os.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

// 512-byte blocks, eight to a buffer: a budget of 40000 bytes holds five
// buffers, 40 blocks.
constexpr int32_t kBlock = 512;
constexpr int32_t kBuffer = 4096;
constexpr int32_t kBudget = 40000;
constexpr uint32_t kBlocks = 40;

class CacheTest : public EngineTest {
 protected:
  void SetUp() override {
    fake.sector = 512;
    EngineTest::SetUp();
    c.safety = 0;
    c.lockAttempts = 1;
  }
  void TearDown() override {
    fake.diskSpace = -1;
    fake.releaseIo();
    file4close(&f);
    file4close(&g);
    code4cacheSuspend(&c);
    EngineTest::TearDown();
  }

  void start(int32_t budget = kBudget, int32_t blockSize = kBlock, int32_t bufferSize = kBuffer) {
    c.cache.settings.blockSize = blockSize;
    c.cache.settings.bufferSize = bufferSize;
    c.bufferingSize = budget;
    ASSERT_EQ(code4cacheStart(&c), 0);
  }

  // Opens `name` holding `contents`, in access mode `mode`, joined as `type`.
  void join(FILE4& file, const char* name, int8_t mode, int type,
            const std::string& contents = "") {
    writeDiskFile(name, contents);
    c.accessMode = mode;
    ASSERT_EQ(file4open(&file, &c, name, 1), 0);
    ASSERT_EQ(file4cacheSet(&file, 1, type, 100, nullptr), 0);
  }

  static std::string read(FILE4& file, uint64_t at, uint32_t n) {
    std::string bytes(n, '?');
    bytes.resize(file4read(&file, at, bytes.data(), n));
    return bytes;
  }

  static void write(FILE4& file, uint64_t at, const std::string& bytes) {
    ASSERT_EQ(file4write(&file, at, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  }

  uint32_t freeBlocks() const { return c.cache.freeBlocks.size(); }

  FakeOs fake;
  platform::ScopedOs scoped{fake};
  FILE4 f;
  FILE4 g;
};

// --- joining and sizing ----------------------------------------------------

TEST_F(CacheTest, WithoutACacheAJoinedFileKeepsItsTypeAndUsesTheDisk) {
  join(f, "a.bin", 1, file4cacheData);
  EXPECT_EQ(f.cacheType, file4cacheData);
  EXPECT_EQ(c.cache.files.nLink, 1u);
  EXPECT_FALSE(f.cached);
  EXPECT_EQ(f.writeOptimisation, 1);  // exclusive: it may hold writes once served
  write(f, 0, "hello");
  EXPECT_EQ(readDiskFile("a.bin"), "hello");
  EXPECT_EQ(read(f, 0, 10), "hello");

  EXPECT_EQ(file4cacheSet(&f, 2, file4cacheData, 0, nullptr), e4parm);
  EXPECT_EQ(lastError().location, 90072);
  clearError();
  EXPECT_EQ(file4cacheSet(&f, 1, 4, 0, nullptr), e4parm);
  clearError();
  EXPECT_EQ(file4cacheWriteOpt(&f, 2), e4parm);
  EXPECT_EQ(lastError().location, 90073);
  clearError();

  ASSERT_EQ(file4close(&f), 0);
  EXPECT_EQ(c.cache.files.nLink, 0u);
}

TEST_F(CacheTest, BlockAndBufferSizesFollowTheSectorAndTheBudget) {
  fake.sector = 4096;  // a block is at least one sector
  start(1 << 20, 1024, 32768);
  EXPECT_EQ(c.cache.blockSize, 4096u);
  EXPECT_EQ(c.cache.bufferSize, 32768u);
  EXPECT_EQ(c.cache.bufferCount, 28u);  // 32 fit the budget; four are left to work areas
  EXPECT_EQ(c.cache.totalBlocks, 224u);
  EXPECT_EQ(c.cache.hashMask, 255u);
  EXPECT_TRUE(c.bufferingRunning);
  EXPECT_EQ(code4cacheStart(&c), 0);  // running already
  ASSERT_EQ(code4cacheSuspend(&c), 0);
  EXPECT_FALSE(c.cache.started());
  EXPECT_FALSE(c.bufferingRunning);

  // 1536 is whole sectors but not a power of two; buffers shrink until
  // eight fit the budget.
  fake.sector = 512;
  start(100000, 1536, 32768);
  EXPECT_EQ(c.cache.blockSize, 1024u);
  EXPECT_EQ(c.cache.bufferSize, 12288u);
  EXPECT_EQ(c.cache.bufferCount, 4u);
  EXPECT_EQ(c.cache.totalBlocks, 48u);
  ASSERT_EQ(code4cacheSuspend(&c), 0);

  c.bufferingSize = 5000;  // not eight blocks
  EXPECT_EQ(code4cacheStart(&c), -1);
  EXPECT_FALSE(c.cache.started());
}

TEST_F(CacheTest, StartingServesJoinedFilesAndSuspendingWritesTheirBlocksOut) {
  join(f, "held.bin", 1, file4cacheData);
  join(g, "shared.bin", 0, file4cacheOther);
  start();
  EXPECT_TRUE(f.cached);
  EXPECT_TRUE(f.bufferWrites);  // exclusive
  EXPECT_TRUE(g.cached);
  EXPECT_FALSE(g.bufferWrites);  // shared and not locked
  write(f, 0, "held");
  write(g, 0, "through");
  EXPECT_EQ(readDiskFile("held.bin"), "");
  EXPECT_EQ(readDiskFile("shared.bin"), "through");

  ASSERT_EQ(code4cacheSuspend(&c), 0);
  EXPECT_EQ(readDiskFile("held.bin"), "held");
  EXPECT_FALSE(f.cached);
  EXPECT_FALSE(f.bufferWrites);
  write(f, 4, "!");
  EXPECT_EQ(readDiskFile("held.bin"), "held!");
}

TEST_F(CacheTest, TablesJoinAsTheyOpenAndReadBackElsewhereWhenWrittenThroughTheCache) {
  const FIELD4INFO fields[] = {
      {"NAME", 'C', 10, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
  c.accessMode = 1;
  DATA4* d = data4create(&c, "t", fields, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->dataFile->file.cacheType, file4cacheData);
  EXPECT_EQ(d->dataFile->memoFile.file.cacheType, file4cacheOther);
  start();
  ASSERT_TRUE(d->dataFile->file.cached);
  for (int i = 0; i < 200; i++) {
    data4appendStart(d, 0);
    data4blank(d);
    std::string name = "n";
    name += std::to_string(i);
    std::memcpy(field4ptr(data4field(d, "NAME")), name.data(), name.size());
    ASSERT_EQ(data4append(d), 0);
  }
  ASSERT_EQ(data4close(d), 0);
  int status = 0;
  const std::string out = runCommand(
      "/usr/bin/python3 -c \"import dbfread\n"
      "r = list(dbfread.DBF('t.dbf'))\n"
      "print(len(r), r[0]['NAME'], r[199]['NAME'])\"",
      &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(out, "200 n0 n199\n");
}

// --- reading, held writes and lengths -------------------------------------

TEST_F(CacheTest, AReadReturnsTheBytesUpToTheEndOfTheFile) {
  join(f, "a.bin", 1, file4cacheOther, std::string(1500, 'x'));
  start();
  EXPECT_EQ(read(f, 1000, 2000), std::string(500, 'x'));
  const uint32_t before = freeBlocks();
  EXPECT_EQ(read(f, 4000, 10), "");
  EXPECT_EQ(freeBlocks(), before);  // nothing past the end is kept
  char buffer[600];
  EXPECT_EQ(file4readAll(&f, 1000, buffer, 600), e4read);
  EXPECT_EQ(lastError().text3, "file4readAll");
}

TEST_F(CacheTest, HeldWritesReachTheDiskAtFlushAndTheGapReadsAsZeros) {
  join(f, "a.bin", 1, file4cacheData, "0123456789");
  start();
  write(f, 5000, "tail");
  write(f, 2, "AB");
  EXPECT_EQ(readDiskFile("a.bin"), "0123456789");
  EXPECT_EQ(file4lenLow(&f), 5004u);
  const std::string expected = "01AB456789" + std::string(4990, '\0') + "tail";
  EXPECT_EQ(read(f, 0, 6000), expected);
  ASSERT_EQ(file4flush(&f), 0);
  EXPECT_EQ(readDiskFile("a.bin"), expected);
}

TEST_F(CacheTest, ANewShorterLengthForgetsWhatLiesBeyondIt) {
  join(f, "a.bin", 1, file4cacheData);
  start();
  write(f, 0, std::string(3000, 'h'));
  ASSERT_EQ(file4lenSetLow(&f, 1000), 0);
  EXPECT_EQ(file4lenLow(&f), 1000u);
  EXPECT_EQ(read(f, 0, 3000), std::string(1000, 'h'));
  ASSERT_EQ(file4lenSetLow(&f, 2000), 0);  // the block holding 1000 grows with zeros
  const std::string expected = std::string(1000, 'h') + std::string(1000, '\0');
  EXPECT_EQ(read(f, 0, 3000), expected);
  ASSERT_EQ(file4flush(&f), 0);
  EXPECT_EQ(readDiskFile("a.bin"), expected);
}

TEST_F(CacheTest, AFileThatGrewPastAShortBlockReadsWhole) {
  join(f, "through.bin", 0, file4cacheOther, "abc");
  join(g, "held.bin", 1, file4cacheData, "abc");
  start();
  for (FILE4* file : {&f, &g}) {
    EXPECT_EQ(read(*file, 0, 512), "abc");  // a block of three valid bytes
    write(*file, 700, "xyz");
    EXPECT_EQ(read(*file, 0, 703), "abc" + std::string(697, '\0') + "xyz");
  }
}

TEST_F(CacheTest, ALockedFileHoldsItsWritesUntilTheUnlock) {
  join(f, "s.bin", 0, file4cacheData, "........");
  ASSERT_EQ(file4cacheWriteOpt(&f, 1), 0);
  start();
  write(f, 0, "ab");
  EXPECT_EQ(readDiskFile("s.bin"), "ab......");  // not locked: written through
  ASSERT_EQ(file4lock(&f, 1000, 1), 0);
  write(f, 2, "cd");
  EXPECT_EQ(readDiskFile("s.bin"), "ab......");
  EXPECT_EQ(read(f, 0, 8), "abcd....");
  ASSERT_EQ(file4unlock(&f, 1000, 1), 0);
  EXPECT_EQ(readDiskFile("s.bin"), "abcd....");
}

TEST_F(CacheTest, HeldWritesAboveTwoGiBAreReadBack) {
  constexpr uint64_t k2_5GiB = 5ull << 29;
  writeDiskFile("big.bin", "");
  code4largeOn(&c);
  c.accessMode = 1;
  ASSERT_EQ(file4open(&f, &c, "big.bin", 1), 0);
  ASSERT_EQ(file4lenSetLow(&f, 3ull << 30), 0);  // sparse
  ASSERT_EQ(file4cacheSet(&f, 1, file4cacheData, 100, nullptr), 0);
  start();
  ASSERT_TRUE(f.cached);
  write(f, k2_5GiB, "far");
  EXPECT_EQ(read(f, k2_5GiB - 1, 5), std::string("\0far\0", 5));
  ASSERT_EQ(file4flush(&f), 0);
  char disk[3];
  EXPECT_EQ(platform::readFully(f.handle, disk, 3, k2_5GiB), 3);
  EXPECT_EQ(std::string(disk, 3), "far");
}

TEST_F(CacheTest, AFileThatChangesTypeKeepsItsHeldBlocks) {
  join(f, "a.bin", 1, file4cacheData);
  start();
  write(f, 0, "held");
  ASSERT_EQ(file4cacheSet(&f, 1, file4cacheIndex, 0, nullptr), 0);
  write(f, 600, "more");
  ASSERT_EQ(file4close(&f), 0);
  EXPECT_EQ(readDiskFile("a.bin"), "held" + std::string(596, '\0') + "more");
}

TEST_F(CacheTest, ASequentialWriterKeepsTheCacheCurrent) {
  join(f, "a.bin", 0, file4cacheData, std::string(8192, '.'));
  start();
  char buffer[2048];  // halves of 1024 bytes
  FILE4SEQWRITE writer;
  ASSERT_EQ(file4seqWriteInit(&writer, &f, 0, buffer, sizeof buffer), 0);
  EXPECT_EQ(read(f, 0, 4), "....");  // cached after the writer was set up
  ASSERT_EQ(file4seqWrite(&writer, std::string(1024, 'a').data(), 1024), 0);
  ASSERT_EQ(file4seqWrite(&writer, std::string(1024, 'b').data(), 1024), 0);  // hands 'a' over
  EXPECT_EQ(read(f, 0, 4), "aaaa");
  ASSERT_EQ(file4seqWriteFlush(&writer), 0);
  EXPECT_EQ(readDiskFile("a.bin").substr(1020, 8), "aaaabbbb");
}

// --- reuse of blocks -------------------------------------------------------

TEST_F(CacheTest, ReusedBlocksLeaveInRunsForDataFilesAndOneByOneForOthers) {
  join(f, "data.bin", 1, file4cacheData);
  join(g, "index.bin", 1, file4cacheIndex);
  start();
  fake.recordWrites = true;
  const std::string block(kBlock, 'd');
  for (uint32_t i = 0; i < 2 * kBlocks; i++) write(f, uint64_t{i} * kBlock, block);
  const size_t dataWrites = fake.writeSizes().size();
  ASSERT_GT(dataWrites, 0u);  // the cache could not hold them all
  for (size_t size : fake.writeSizes()) EXPECT_EQ(size, static_cast<size_t>(kBuffer));
  ASSERT_EQ(file4flush(&f), 0);  // the first block stayed cached: it goes now

  const size_t before = fake.writeSizes().size();
  for (uint32_t i = 0; i < 2 * kBlocks; i++) write(g, uint64_t{i} * kBlock, block);
  const std::vector<size_t> sizes = fake.writeSizes();
  ASSERT_GT(sizes.size(), before);
  for (size_t i = before; i < sizes.size(); i++) EXPECT_EQ(sizes[i], static_cast<size_t>(kBlock));
  ASSERT_EQ(file4flush(&g), 0);
  EXPECT_EQ(readDiskFile("data.bin"), std::string(2 * kBlocks * kBlock, 'd'));
  EXPECT_EQ(readDiskFile("index.bin"), std::string(2 * kBlocks * kBlock, 'd'));
}

TEST_F(CacheTest, FirstBlocksAndBranchNodesOutliveOrdinaryBlocks) {
  join(f, "data.bin", 1, file4cacheData, std::string(200 * kBlock, 'r'));
  std::string index(2 * kBlock, '\0');
  index[kBlock] = 2;  // the node of block 1 is a leaf; that of block 0 a branch
  join(g, "index.bin", 1, file4cacheIndex, index);
  start();
  auto blockRead = [&](FILE4& file, uint32_t block) { read(file, uint64_t{block} * kBlock, 1); };
  blockRead(f, 0);
  blockRead(f, 1);
  blockRead(g, 0);
  for (uint32_t i = 2; i < kBlocks; i++) blockRead(f, i);
  // The cache is full. The first block to go is the oldest ordinary one,
  // not the data file's first block, older still.
  blockRead(f, kBlocks);
  fake.readCalls = 0;
  blockRead(f, 0);
  EXPECT_EQ(fake.readCalls, 0);
  blockRead(f, 1);
  EXPECT_EQ(fake.readCalls, 1);

  // A branch node stays for twice the cache's turnover; least recent use
  // alone would let it go after one.
  blockRead(g, 0);
  for (uint32_t i = kBlocks + 1; i < kBlocks + 61; i++) blockRead(f, i);
  fake.readCalls = 0;
  blockRead(g, 0);
  EXPECT_EQ(fake.readCalls, 0);
}

// --- failures --------------------------------------------------------------

TEST_F(CacheTest, AWriteTheDiskRefusesLeavesTheOldBytesReadable) {
  join(f, "a.bin", 0, file4cacheOther, std::string(2048, 'o'));
  join(g, "held.bin", 1, file4cacheIndex);
  start();
  EXPECT_EQ(read(f, 0, 1024), std::string(1024, 'o'));
  fake.diskSpace = 0;
  EXPECT_EQ(file4write(&f, 100, "new", 3), e4write);
  clearError();
  fake.diskSpace = -1;
  EXPECT_EQ(read(f, 0, 1024), std::string(1024, 'o'));

  // Refused halfway: one block still free, the others holding writes the
  // disk will not take.
  ASSERT_EQ(file4flushBlocks(&f, 1), 0);
  for (uint32_t i = 0; i < kBlocks - 1; i++) write(g, uint64_t{i} * kBlock, "held");
  ASSERT_EQ(freeBlocks(), 1u);
  fake.diskSpace = 0;
  EXPECT_EQ(file4write(&f, 1280, std::string(kBlock, 'n').data(), kBlock), e4write);
  clearError();
  fake.diskSpace = -1;
  EXPECT_EQ(read(f, 1024, 1024), std::string(1024, 'o'));
}

// A file whose writes the cache may hold keeps its length in the cache,
// and bytes below it that the disk lacks read as zeros. A read the disk
// fails is no such gap, nor the end of a file whose length the cache does
// not keep: it fails, as without the cache, and nothing of it is kept. A
// write to part of a block reads the rest of the block first; when that
// read fails the write fails too, rather than leave a block in which
// zeros stand for the file's bytes.
TEST_F(CacheTest, AReadTheDiskFailsIsNotTakenForZeros) {
  join(f, "a.bin", 1, file4cacheIndex, std::string(4 * kBlock, 'x'));
  join(g, "shared.bin", 0, file4cacheOther, std::string(4 * kBlock, 'x'));
  start();
  fake.failFile(FakeOs::Io::read, "a.bin", EIO);
  EXPECT_EQ(read(f, kBlock, 8), "");
  char buffer[8];
  EXPECT_EQ(file4readAll(&f, kBlock, buffer, 8), e4read);
  clearError();
  fake.failFile(FakeOs::Io::read, "a.bin", 0);
  EXPECT_EQ(read(f, kBlock, 8), "xxxxxxxx");

  fake.failFile(FakeOs::Io::read, "shared.bin", EIO, true);
  EXPECT_EQ(file4write(&g, kBlock + 4, "new", 3), e4write);
  clearError();
  EXPECT_EQ(read(g, kBlock, 4), "xxxx");
}

TEST_F(CacheTest, HeldBytesTheDiskRefusesStayReadableAndAreReported) {
  join(f, "a.bin", 1, file4cacheIndex);
  start();
  for (uint32_t i = 0; i < kBlocks; i++)
    write(f, uint64_t{i} * kBlock, std::string(kBlock, 'a' + i % 26));
  fake.diskSpace = 0;
  // Every block holds bytes the disk has not taken: none can be reused.
  EXPECT_EQ(file4write(&f, uint64_t{kBlocks} * kBlock, "more", 4), e4write);
  clearError();
  EXPECT_EQ(read(f, 0, 4), "aaaa");
  EXPECT_LT(file4flush(&f), 0);
  clearError();
  EXPECT_EQ(code4cacheSuspend(&c), e4cacheSuspend);
  EXPECT_EQ(lastError().location, 90209);
}

TEST_F(CacheTest, WithoutWriteBehindARefusedRunOfDataBlocksStaysChangedEveryBlock) {
  join(f, "data.bin", 1, file4cacheData);
  c.bufferingWriteBehind = 0;
  start();
  std::string expected;
  for (uint32_t i = 0; i <= kBlocks; i++) expected += std::string(kBlock, 'a' + i % 26);
  for (uint32_t i = 0; i < kBlocks; i++)
    write(f, uint64_t{i} * kBlock, expected.substr(i * kBlock, kBlock));
  fake.recordWrites = true;
  fake.diskSpace = 0;
  // Reusing a block would write its run first: refused, nothing is reused.
  EXPECT_EQ(file4write(&f, uint64_t{kBlocks} * kBlock, expected.data() + kBlocks * kBlock, kBlock),
            e4write);
  clearError();
  fake.diskSpace = -1;
  EXPECT_EQ(read(f, 2 * kBlock, 4), "cccc");
  // A write that grows the file can find room only on the disk: it tries
  // the disk again, and with room there the refused records go first, in
  // whole runs.
  const size_t tried = fake.writeSizes().size();
  write(f, uint64_t{kBlocks} * kBlock, expected.substr(kBlocks * kBlock));
  ASSERT_EQ(file4flush(&f), 0);
  const std::vector<size_t> sizes = fake.writeSizes();
  EXPECT_EQ(std::count(sizes.begin() + static_cast<std::ptrdiff_t>(tried), sizes.end(),
                       static_cast<size_t>(kBuffer)),
            kBlocks * kBlock / kBuffer);
  EXPECT_EQ(readDiskFile("data.bin"), expected);
}

TEST_F(CacheTest, ReadsAroundTheCacheTakeDataBlocksFromTheDiskAndKeepNone) {
  const std::string disk =
      std::string(kBlock, 'a') + std::string(kBlock, 'b') + std::string(kBlock, 'c');
  join(f, "data.bin", 1, file4cacheData, disk);
  join(g, "other.bin", 1, file4cacheOther, disk);
  c.bufferingReadsAround = 1;
  start();
  write(f, kBlock + 10, "HELD");
  write(f, 3 * kBlock, "tail");  // past the disk's end
  const uint32_t before = freeBlocks();
  std::string expected = disk + "tail";
  expected.replace(kBlock + 10, 4, "HELD");
  EXPECT_EQ(read(f, 0, 4 * kBlock), expected);
  EXPECT_EQ(read(f, 2 * kBlock - 2, 4), "bbcc");
  EXPECT_EQ(freeBlocks(), before);
  EXPECT_EQ(readDiskFile("data.bin"), disk);
  // Files of other kinds still keep what they read.
  EXPECT_EQ(read(g, 0, 2 * kBlock), disk.substr(0, 2 * kBlock));
  EXPECT_LT(freeBlocks(), before);
  ASSERT_EQ(file4flush(&f), 0);
  EXPECT_EQ(readDiskFile("data.bin"), expected);
}

// --- with the workers ------------------------------------------------------

class CacheThreadsTest : public CacheTest {
 protected:
  bool withWorkers() const override { return true; }
  void awaitHeld() {
    while (!fake.ioHeld()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Waits until the write-behind worker has taken the file's oldest
  // queued write (or done it).
  void awaitTaken(FILE4& file) {
    for (;;) {
      {
        std::lock_guard guard(c.writeBehind.section);
        LINK4* link = list4first(&file.pendingWrites);
        if (link == nullptr || request4ofFileLink(link)->state == request4inProgress) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  bool writeBuffersBack() {
    std::lock_guard guard(c.cache.writes.mutex);
    return c.cache.writes.isFree[0] && c.cache.writes.isFree[1];
  }
};

TEST_F(CacheThreadsTest, ARunInTheWriteBehindQueueIsReadBackBeforeItLands) {
  join(f, "a.bin", 1, file4cacheData, std::string(64 * kBlock, '.'));
  start();
  for (uint32_t i = 0; i < kBlocks; i++) write(f, uint64_t{i} * kBlock, std::string(kBlock, 'n'));
  fake.holdOtherThreadsIo();
  // Blocks 1-8 are reused first (block 0 sits in a priority list) and leave
  // as one run that the held worker cannot write; no second run is needed.
  for (uint32_t i = kBlocks; i < kBlocks + 9; i++) read(f, uint64_t{i} * kBlock, 1);
  awaitHeld();
  EXPECT_EQ(readDiskFile("a.bin").substr(kBlock, 4), "....");
  EXPECT_EQ(read(f, kBlock, 4), "nnnn");
  fake.releaseIo();
  ASSERT_EQ(file4flush(&f), 0);
  EXPECT_EQ(readDiskFile("a.bin").substr(0, kBlocks * kBlock), std::string(kBlocks * kBlock, 'n'));
}

TEST_F(CacheThreadsTest, ReadAheadNeverOvertakesAGatheredRun) {
  join(f, "a.bin", 1, file4cacheData, std::string(64 * kBlock, '.'));
  start();
  write(f, 16 * kBlock, std::string(3 * kBlock, 'n'));
  // Blocks 16-18 leave the cache as they would to be reused: gathered for
  // the disk, not handed to it yet.
  for (uint64_t offset = 16 * kBlock; offset < 19 * kBlock; offset += kBlock) {
    Cache4Block* b = cache4lookup(c.cache, &f, offset);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(cache4writeOut(&c, b, true), 0);
    cache4forget(c.cache, b, false);
  }
  // A full run of blocks 8-15 reads the next buffer, blocks 16-23, ahead.
  EXPECT_EQ(read(f, 8 * kBlock, 2 * kBlock), std::string(2 * kBlock, '.'));
  EXPECT_EQ(read(f, 16 * kBlock, 4), "nnnn");
  EXPECT_EQ(read(f, 18 * kBlock + kBlock - 4, 8), "nnnn....");
}

// Bytes the disk refused never reach a reader through the buffer read
// ahead of a run of blocks.
TEST_F(CacheThreadsTest, AWriteTheDiskRefusesLeavesNoTraceInTheReadAheadBuffer) {
  join(f, "a.bin", 0, file4cacheData, std::string(64 * kBlock, '.'));
  ASSERT_EQ(file4cacheWriteOpt(&f, 0), 0);  // writes go through
  start();
  // A full run of blocks 8-15 reads the next buffer, blocks 16-23, ahead.
  EXPECT_EQ(read(f, 8 * kBlock, 2 * kBlock), std::string(2 * kBlock, '.'));
  {
    std::unique_lock lock(c.cache.ahead.mutex);
    c.cache.ahead.arrived.wait(lock, [&] { return c.cache.ahead.state != file4aheadReading; });
    ASSERT_EQ(c.cache.ahead.state, file4aheadValid);
  }
  fake.diskSpace = 0;
  EXPECT_EQ(file4write(&f, 17 * kBlock + 4, "new", 3), e4write);
  clearError();
  fake.diskSpace = -1;
  EXPECT_EQ(read(f, 17 * kBlock, 8), "........");
}

// A write-out handed to the worker takes its bytes out of the cache: when
// the disk refuses it, the flush after it fails, and so does every later
// one, whether the write had landed before the flush (a run of data
// blocks), still waited in the queue behind another transfer (a spare
// copy of an index block, then done by the flush itself), or was under way
// on the worker when the flush came.
TEST_F(CacheThreadsTest, AWriteTheWorkerCouldNotDoFailsEveryFlushAfterIt) {
  enum class Refused { landed, queued, underWay };
  for (const Refused refused : {Refused::landed, Refused::queued, Refused::underWay}) {
    SCOPED_TRACE(static_cast<int>(refused));
    recorder.clear();
    FILE4& file = refused == Refused::landed ? f : g;
    if (refused == Refused::landed) {
      join(f, "a.bin", 1, file4cacheData);
      start();
      fake.diskSpace = 0;
      // Nine blocks reused: eight leave as one run, handed over at the ninth.
      for (uint32_t i = 0; i < kBlocks + 9; i++)
        write(f, uint64_t{i} * kBlock, std::string(kBlock, 'w'));
      while (!writeBuffersBack()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_TRUE(recorder.errors().empty());  // the worker raises nothing
      fake.diskSpace = -1;
    } else {
      join(g, "b.bin", 1, file4cacheIndex);
      start();
      write(g, kBlock, std::string(kBlock, 'w'));
      if (refused == Refused::queued) {
        join(f, "x.bin", 1, file4cacheOther);
        fake.holdOtherThreadsIo();
        ASSERT_EQ(file4writeDelay(&f, 0, "held", 4, nullptr, nullptr), r4queued);
        awaitHeld();
      } else {
        fake.slowOtherThreadsIo(50000);
      }
      fake.failFile(FakeOs::Io::write, "b.bin", EIO);
      // The block leaves the cache as it would to be reused.
      Cache4Block* b = cache4lookup(c.cache, &g, kBlock);
      ASSERT_NE(b, nullptr);
      ASSERT_EQ(cache4writeOut(&c, b, true), 0);
      cache4forget(c.cache, b, false);
      if (refused == Refused::underWay) awaitTaken(g);
    }
    for (int flush = 0; flush < 2; flush++) {
      EXPECT_EQ(file4flush(&file), -1);
      EXPECT_EQ(lastError().code, e4write);
      EXPECT_EQ(lastError().thread, std::this_thread::get_id());
      clearError();
    }
    if (refused == Refused::queued) {
      // So does a queued write of a file the cache does not serve.
      FILE4 plain;
      writeDiskFile("c.bin", "");
      ASSERT_EQ(file4open(&plain, &c, "c.bin", 1), 0);
      fake.failFile(FakeOs::Io::write, "c.bin", EIO);
      ASSERT_EQ(file4writeDelay(&plain, 0, "lost", 4, nullptr, nullptr), r4queued);
      EXPECT_EQ(file4flush(&plain), -1);
      clearError();
      fake.failFile(FakeOs::Io::write, "c.bin", 0);
      file4close(&plain);
    }
    fake.failFile(FakeOs::Io::write, "b.bin", 0);
    fake.slowOtherThreadsIo(0);
    fake.releaseIo();
    file4close(&f);
    file4close(&g);
    clearError();
    code4cacheSuspend(&c);
  }
}

// A block read ahead is read by the worker, and the cache takes it from
// the file's buffer. A change the worker's read missed (the read
// landed, then the file was cut and grew back, then the read reported)
// leaves that read unused, and so does a write the disk refused.
TEST_F(CacheThreadsTest, ABlockReadAheadIsTakenFromTheBufferAndNeverOutlivesAChangeItMissed) {
  join(f, "a.bin", 1, file4cacheIndex, std::string(16 * kBlock, '.'));
  start();
  for (const bool pageCacheHolds : {true, false}) {
    // Read by the worker, or at once where the kernel holds the block.
    fake.pageCacheHolds = pageCacheHolds;
    const uint64_t at = (pageCacheHolds ? 6 : 5) * kBlock;
    file4advanceReadBlock(&f, at, kBlock);
    {
      std::unique_lock lock(f.aheadMutex);
      f.aheadArrived.wait(lock, [&] { return f.readAheadState != file4aheadReading; });
    }
    fake.failFile(FakeOs::Io::read, "a.bin", EIO);  // only the buffer can answer now
    EXPECT_EQ(read(f, at + 8, 4), "....");
    fake.failFile(FakeOs::Io::read, "a.bin", 0);
  }
  fake.pageCacheHolds = false;

  fake.holdOtherThreadsIo();
  file4advanceReadBlock(&f, 9 * kBlock, kBlock);
  awaitHeld();
  {
    // The read's report waits for the worker's section.
    std::lock_guard section(c.readAhead.section);
    const int landed = fake.readCalls + 1;
    fake.releaseIo();
    while (fake.readCalls < landed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(file4lenSetLow(&f, 9 * kBlock), 0);
    ASSERT_EQ(file4lenSetLow(&f, 16 * kBlock), 0);
  }
  EXPECT_EQ(read(f, 9 * kBlock, 4), std::string(4, '\0'));

  // Bytes the disk refused never reach a reader through the buffer.
  join(g, "b.bin", 0, file4cacheIndex, std::string(16 * kBlock, '.'));
  file4advanceReadBlock(&g, 3 * kBlock, kBlock);
  fake.diskSpace = 0;
  EXPECT_EQ(file4write(&g, 3 * kBlock + 4, "new", 3), e4write);
  clearError();
  fake.diskSpace = -1;
  EXPECT_EQ(read(g, 3 * kBlock, 8), "........");
}

}  // namespace
