#include "engine/index/cdx4freelist.h"

#include <cerrno>

#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "tests/engine/index/node_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

class FreeListTest : public NodeTest {
 protected:
  uint32_t& head() { return tagIndex.header.freeList; }
  uint32_t nextOf(uint32_t block) {
    unsigned char field[4];
    EXPECT_EQ(file4readAll(&index.file, block, field, 4), 0);
    return endian4::readLe32(field);
  }
  void setNext(uint32_t block, uint32_t next) {
    unsigned char field[4];
    endian4::writeLe32(field, next);
    ASSERT_EQ(file4write(&index.file, block, field, 4), 0);
  }
};

TEST_F(FreeListTest, FreedBlocksComeBackLastInFirstOut) {
  const uint32_t eof = index.eofBlock;
  ASSERT_EQ(index4freeBlock(&index, 4096), 0);
  ASSERT_EQ(index4freeBlock(&index, 4608), 0);
  EXPECT_EQ(head(), 4608u);
  EXPECT_EQ(nextOf(4608), 4096u);
  EXPECT_EQ(nextOf(4096), 0u);
  EXPECT_EQ(index4extend(&index), 4608u);
  EXPECT_EQ(index4extend(&index), 4096u);
  EXPECT_EQ(head(), 0u);
  EXPECT_EQ(index4extend(&index), eof);
  EXPECT_EQ(index.eofBlock, eof + 512);
}

// A head that cannot be a node of the file is dropped as one beyond its
// end would be: the block comes from the end of the file, without error.
TEST_F(FreeListTest, UnusableHeadsYieldTheEndOfFileBlock) {
  const uint32_t eof = index.eofBlock;
  for (uint32_t bad : {eof, eof + 4096, 512u, 4100u}) {
    head() = bad;
    const uint32_t end = index.eofBlock;
    EXPECT_EQ(index4extend(&index), end) << bad;
    EXPECT_EQ(head(), 0u);
  }
  EXPECT_TRUE(recorder.errors().empty());
  // A block naming itself as its successor ends the list.
  setNext(2048, 2048);
  head() = 2048;
  EXPECT_EQ(index4extend(&index), 2048u);
  EXPECT_EQ(head(), 0u);
}

class FailingReads : public FakeOs {
 public:
  int64_t readAt(int, void*, size_t, uint64_t) override { return -EIO; }
};

TEST_F(FreeListTest, AFailedReadLeavesTheHead) {
  head() = 2048;
  FailingReads os;
  platform::ScopedOs door(os);
  EXPECT_EQ(index4extend(&index), block4none);
  EXPECT_EQ(lastError().code, e4read);
  EXPECT_EQ(lastError().text3, "index4extend");
  EXPECT_EQ(head(), 2048u);
}

TEST_F(FreeListTest, FreeingRefusesWhatCannotBeAFreeNode) {
  head() = 2048;
  for (uint32_t bad : {512u, 2048u, index.eofBlock, 4100u}) {
    recorder.clear();
    EXPECT_EQ(index4freeBlock(&index, bad), e4index) << bad;
    EXPECT_EQ(lastError().location, 80307);
    clearError();
  }
  FakeOs os;
  os.diskSpace = 0;
  platform::ScopedOs door(os);
  EXPECT_EQ(index4freeBlock(&index, 4096), e4write);
  EXPECT_EQ(head(), 2048u);
}

// Near the last block number, with two nodes left at the end of the file
// and two on the free list: as many nodes as index4extend will hand out
// are reserved, one more is refused as a full disk is, nothing changed.
TEST_F(FreeListTest, BlockNumbersRunOutWhereTheEndAndTheFreeListDo) {
  ASSERT_EQ(index4freeBlock(&index, 4096), 0);
  ASSERT_EQ(index4freeBlock(&index, 4608), 0);
  index.eofBlock = 0xFFFFFA00;
  EXPECT_EQ(index4reserve(&index, 5), e4write);
  EXPECT_EQ(lastError().location, index4locFull);
  clearError();
  EXPECT_EQ(head(), 4608u);
  EXPECT_EQ(index.eofBlock, 0xFFFFFA00u);
  ASSERT_EQ(index4reserve(&index, 4), 0);
  for (uint32_t expected : {4608u, 4096u, 0xFFFFFA00u, 0xFFFFFC00u})
    EXPECT_EQ(index4extend(&index), expected);
  EXPECT_EQ(index4reserve(&index, 1), e4write);
  clearError();
  EXPECT_EQ(index4extend(&index), block4none);
  EXPECT_EQ(lastError().location, index4locFull);
}

}  // namespace
