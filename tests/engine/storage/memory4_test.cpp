#include "engine/storage/memory4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "tests/support/error_recorder.h"

using testing_support::ErrorRecorder;

namespace {

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0); }
  void TearDown() override { code4initUndo(&c); }
  CODE4 c;
};

TEST_F(PoolTest, PoolsOfOneUnitSizeAreSharedAndGrowToTheLargerAsk) {
  MEMORY4* a = memory4create(&c, 4, 40, 2, false);
  MEMORY4* b = memory4create(&c, 8, 40, 1, false);
  MEMORY4* other = memory4create(&c, 4, 200, 2, false);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, other);
  EXPECT_EQ(a->useCount, 2);
  EXPECT_EQ(a->unitStart, 8);
  EXPECT_EQ(a->unitExpand, 2);
  memory4release(b);
  EXPECT_EQ(a->useCount, 1);
  memory4release(a);
  memory4release(other);
}

TEST_F(PoolTest, APrivatePoolIsNeverSharedAndOneReleaseFreesIt) {
  MEMORY4* shared = memory4create(&c, 4, 48, 2, false);
  MEMORY4* mine = memory4create(&c, 4, 48, 2, true);
  MEMORY4* again = memory4create(&c, 4, 48, 2, false);
  EXPECT_NE(mine, shared);
  EXPECT_EQ(again, shared);
  EXPECT_EQ(mine->useCount, -1);
  ASSERT_NE(memory4alloc(mine, true), nullptr);
  memory4release(mine);  // frees it with its units
  memory4release(again);
  memory4release(shared);
}

TEST_F(PoolTest, UnitsAreAlignedLinkSizedAndReusedLastFreedFirst) {
  MEMORY4* pool = memory4create(&c, 3, 1, 2, true);
  EXPECT_GE(pool->unitSize, static_cast<int32_t>(sizeof(LINK4)));
  EXPECT_EQ(pool->unitSize % 16, 0);

  auto* first = static_cast<char*>(memory4alloc(pool, false));
  auto* second = static_cast<char*>(memory4alloc(pool, false));
  EXPECT_EQ(first - second, pool->unitSize);  // a fresh chunk hands out its highest unit first

  memory4free(pool, first);
  memory4free(pool, second);
  EXPECT_EQ(memory4alloc(pool, false), second);
  EXPECT_EQ(memory4alloc(pool, false), first);

  std::set<void*> seen{first, second};
  for (int i = 0; i < 20; i++) {  // well past the first chunk
    void* unit = memory4alloc(pool, false);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(unit) % 16, 0u);
    EXPECT_TRUE(seen.insert(unit).second) << "unit handed out twice";
  }
  EXPECT_GT(pool->chunks.nLink, 1u);
  memory4release(pool);
}

TEST_F(PoolTest, UnitsAreZeroedOnlyWhenAsked) {
  MEMORY4* pool = memory4create(&c, 2, 64, 2, true);
  auto* unit = static_cast<unsigned char*>(memory4alloc(pool, false));
  std::memset(unit, 0xAB, 64);
  memory4free(pool, unit);
  auto* kept = static_cast<unsigned char*>(memory4alloc(pool, false));
  ASSERT_EQ(kept, unit);
  EXPECT_EQ(kept[63], 0xAB);  // beyond the free-list link
  memory4free(pool, kept);
  auto* zeroed = static_cast<unsigned char*>(memory4alloc(pool, true));
  for (int i = 0; i < 64; i++) ASSERT_EQ(zeroed[i], 0) << i;
  memory4release(pool);
}

TEST_F(PoolTest, FreeingAUnitTwiceIsRefused) {
  ErrorRecorder recorder;
  MEMORY4* pool = memory4create(&c, 2, 32, 2, true);
  void* unit = memory4alloc(pool, true);
  EXPECT_EQ(memory4free(pool, unit), 0);
  EXPECT_EQ(memory4free(pool, unit), e4info);
  EXPECT_EQ(pool->freeUnits.nLink, 2u);
  memory4release(pool);
}

TEST_F(PoolTest, BadArgumentsAreRaised) {
  ErrorRecorder recorder;
  EXPECT_EQ(memory4create(&c, 0, 32, 2, false), nullptr);
  EXPECT_EQ(error4code(&c), e4parm);
  error4set(&c, 0);
  EXPECT_EQ(memory4allocZero(0), nullptr);
  EXPECT_EQ(memory4free(nullptr, &c), e4parmNull);
  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].location, 90410);
  EXPECT_EQ(errors[1].location, 80222);
}

TEST(PoolWithoutSettingsTest, NoPoolExistsWithoutAnInitialisedSettingsObject) {
  EXPECT_EQ(memory4create(nullptr, 4, 32, 4, false), nullptr);
}

TEST_F(PoolTest, GrowKeepsContentsAndNeverShrinks) {
  char* buffer = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(memory4grow(&c, &buffer, &size, 8), 0);
  std::memcpy(buffer, "abcdefg", 8);
  ASSERT_EQ(memory4grow(&c, &buffer, &size, 4096), 0);
  EXPECT_EQ(size, 4096u);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(buffer[4095], 0);
  char* before = buffer;
  EXPECT_EQ(memory4grow(&c, &buffer, &size, 16), 0);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(size, 4096u);
  memory4freeBlock(buffer);

  ErrorRecorder recorder;
  char* none = nullptr;
  uint32_t claimed = 10;
  EXPECT_EQ(memory4grow(&c, &none, &claimed, 20), e4parm);
}

TEST_F(PoolTest, ThreadsShareOnePoolSafely) {
  MEMORY4* pool = memory4create(&c, 8, 32, 8, false);
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  std::atomic<int> clashes{0};
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      std::vector<int*> held;
      for (int round = 0; round < kRounds; round++) {
        auto* unit = static_cast<int*>(memory4alloc(pool, false));
        if (unit == nullptr) continue;
        unit[4] = t;
        held.push_back(unit);
        if (held.size() > 5) {
          for (int* h : held) {
            if (h[4] != t) clashes++;
            memory4free(pool, h);
          }
          held.clear();
        }
      }
      for (int* h : held) memory4free(pool, h);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(clashes.load(), 0);
  memory4release(pool);
}

}  // namespace
