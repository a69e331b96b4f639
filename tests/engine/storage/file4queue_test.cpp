// Delayed writes and read-ahead through the two workers.
#include "engine/storage/file4queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using testing_support::EngineTest;
using testing_support::FakeOs;

namespace {

// Records a completion, which may run on a worker. The caller's bytes and
// this record must stay alive until it has run: a request that has left
// the queue may not have called its completion yet.
struct Completion {
  std::atomic<int> calls{0};
  std::atomic<int32_t> result{12345};
  static void record(void* data, int32_t result) {
    auto* self = static_cast<Completion*>(data);
    self->result = result;
    self->calls++;
  }
  void awaitCall() const {
    while (calls.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

class QueueTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    ASSERT_EQ(file4create(&a, &c, "a.bin", 0), 0);
    ASSERT_EQ(file4create(&b, &c, "b.bin", 0), 0);
  }
  void TearDown() override {
    file4close(&a);
    file4close(&b);
    EngineTest::TearDown();
  }
  std::string contents(FILE4& f) {
    std::string bytes(file4lenLow(&f), '\0');
    if (!bytes.empty()) {
      EXPECT_EQ(file4readLow(&f, 0, bytes.data(), bytes.size()), bytes.size());
    }
    return bytes;
  }
  // Lets every queued transfer of both files finish, so that no worker is
  // still inside a test's fake or completion when the test ends.
  void settle() {
    for (FILE4* f : {&a, &b}) {
      file4writeDelayFlush(f, 1);
      file4advanceCancel(f);
    }
  }
  // Waits until a worker's transfer is held by the fake.
  static void awaitHeld(FakeOs& fake) {
    while (!fake.ioHeld()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  FILE4 a;
  FILE4 b;
};

TEST_F(QueueTest, WithoutWorkersAWriteIsDoneAtOnceAndNoReadIsQueued) {
  Completion done;
  EXPECT_EQ(file4writeDelay(&a, 0, "hello", 5, Completion::record, &done), 0);
  EXPECT_EQ(done.calls, 1);
  EXPECT_EQ(done.result, 0);
  EXPECT_EQ(contents(a), "hello");

  char buffer[5];
  Completion read;
  EXPECT_EQ(file4advanceRead(&a, 0, buffer, 5, Completion::record, &read), 0);
  EXPECT_EQ(read.calls, 0);
  EXPECT_FALSE(a.readAheadUsed);
}

class QueueThreadsTest : public QueueTest {
 protected:
  bool withWorkers() const override { return true; }
};

TEST_F(QueueThreadsTest, AQueuedWriteIsVisibleBeforeItLands) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.holdOtherThreadsIo();
  Completion first, second;
  ASSERT_EQ(file4writeDelay(&a, 0, "0123456789", 10, Completion::record, &first), r4queued);
  awaitHeld(fake);  // the worker holds the first write in progress
  ASSERT_EQ(file4writeDelay(&a, 20, "XY", 2, Completion::record, &second), r4queued);
  char out[22];
  EXPECT_EQ(file4read(&a, 0, out, 22), 22u);
  EXPECT_EQ(std::string(out, 22), std::string("0123456789") + std::string(10, '\0') + "XY");
  EXPECT_EQ(file4read(&a, 5, out, 3), 3u);
  EXPECT_EQ(std::string(out, 3), "567");
  fake.releaseIo();
  EXPECT_EQ(file4writeDelayFlush(&a, 1), 0);
  first.awaitCall();
  second.awaitCall();
}

TEST_F(QueueThreadsTest, AWriteThatCoversAQueuedOneDropsIt) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.holdOtherThreadsIo();
  Completion blocker, covered, covering, partly;
  ASSERT_EQ(file4writeDelay(&a, 0, "busy", 4, Completion::record, &blocker), r4queued);
  awaitHeld(fake);  // the worker is stuck on file a; b's requests stay queued
  ASSERT_EQ(file4writeDelay(&b, 10, "old", 3, Completion::record, &covered), r4queued);
  ASSERT_EQ(file4writeDelay(&b, 0, "abcd", 4, Completion::record, &partly), r4queued);
  ASSERT_EQ(file4writeDelay(&b, 2, "0123456789ABCDEF", 16, Completion::record, &covering),
            r4queued);
  EXPECT_EQ(covered.calls, 1);
  EXPECT_EQ(covered.result, 0);  // dropped
  EXPECT_EQ(partly.calls, 1);    // written first, then overwritten in part
  fake.releaseIo();
  settle();
  blocker.awaitCall();
  covering.awaitCall();
  std::string expected = "ab0123456789ABCDEF";
  EXPECT_EQ(contents(b), expected);
}

TEST_F(QueueThreadsTest, CancellingReadsCallsNoCompletion) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  ASSERT_EQ(file4write(&a, 0, "aaaa", 4), 0);
  ASSERT_EQ(file4write(&b, 0, "bbbb", 4), 0);
  fake.holdOtherThreadsIo();
  char first[4], second[4];
  Completion held, cancelled;
  ASSERT_EQ(file4advanceRead(&a, 0, first, 4, Completion::record, &held), r4queued);
  awaitHeld(fake);
  ASSERT_EQ(file4advanceRead(&b, 0, second, 4, Completion::record, &cancelled), r4queued);
  file4advanceCancel(&b);
  fake.releaseIo();
  file4advanceCancel(&a);  // waits for the read in progress
  settle();
  EXPECT_EQ(held.calls, 1);
  EXPECT_EQ(held.result, 4);
  EXPECT_EQ(std::string(first, 4), "aaaa");
  EXPECT_EQ(cancelled.calls, 0);
}

TEST_F(QueueThreadsTest, AWriteFillsOrSupersedesQueuedReads) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  ASSERT_EQ(file4write(&b, 0, std::string(100, '.').data(), 100), 0);
  fake.holdOtherThreadsIo();
  char blockerBuffer[4], inside[10], partial[10];
  Completion blocker, filled, superseded;
  ASSERT_EQ(file4advanceRead(&a, 0, blockerBuffer, 4, Completion::record, &blocker), r4queued);
  awaitHeld(fake);
  ASSERT_EQ(file4advanceRead(&b, 10, inside, 10, Completion::record, &filled), r4queued);
  ASSERT_EQ(file4advanceRead(&b, 25, partial, 10, Completion::record, &superseded), r4queued);
  ASSERT_EQ(file4write(&b, 5, std::string(25, 'w').data(), 25), 0);  // covers 5..29
  EXPECT_EQ(filled.result, 10);
  EXPECT_EQ(std::string(inside, 10), std::string(10, 'w'));
  EXPECT_EQ(superseded.result, -1);
  fake.releaseIo();
  settle();
  blocker.awaitCall();
}

TEST_F(QueueThreadsTest, TruncatingCutsOrDropsQueuedWrites) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.holdOtherThreadsIo();
  Completion blocker, dropped, cut;
  ASSERT_EQ(file4writeDelay(&a, 0, "busy", 4, Completion::record, &blocker), r4queued);
  awaitHeld(fake);
  ASSERT_EQ(file4writeDelay(&b, 0, "0123456789", 10, Completion::record, &cut), r4queued);
  ASSERT_EQ(file4writeDelay(&b, 20, "gone", 4, Completion::record, &dropped), r4queued);
  ASSERT_EQ(file4lenSetLow(&b, 6), 0);
  EXPECT_EQ(dropped.calls, 1);
  EXPECT_EQ(dropped.result, 0);
  fake.releaseIo();
  settle();
  blocker.awaitCall();
  cut.awaitCall();
  EXPECT_EQ(contents(b), "012345");
}

TEST_F(QueueThreadsTest, StoppingTheEngineDrainsTheQueue) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.holdOtherThreadsIo();
  std::deque<std::string> data;
  Completion done;
  for (int i = 0; i < 20; i++) {
    data.push_back(std::string(10, static_cast<char>('a' + i)));
    ASSERT_EQ(file4writeDelay(&a, i * 10, data.back().data(), 10, Completion::record, &done),
              r4queued);
  }
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fake.releaseIo();
  });
  EXPECT_EQ(code4initUndo(&c), 0);
  release.join();
  EXPECT_EQ(done.calls, 20);
  std::string expected;
  for (auto& d : data) expected += d;
  EXPECT_EQ(contents(a), expected);
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);  // for TearDown
}

// Random overlapping delayed writes, direct writes, reads and truncations,
// checked against a shadow copy of what the file must hold.
TEST_F(QueueThreadsTest, ThreadsRandomTransfersMatchAShadowModel) {
  std::mt19937 random(2026);
  std::string shadow;
  std::deque<std::string> keep;  // delayed data must outlive its write
  auto apply = [&shadow](uint64_t offset, const std::string& bytes) {
    if (shadow.size() < offset + bytes.size()) shadow.resize(offset + bytes.size(), '\0');
    shadow.replace(offset, bytes.size(), bytes);
  };
  for (int step = 0; step < 3000; step++) {
    const uint64_t offset = random() % 6000;
    const uint32_t n = random() % 700 + 1;
    const int op = random() % 10;
    const char fillByte = static_cast<char>('A' + random() % 58);
    if (op < 4) {
      keep.push_back(std::string(n, fillByte));
      const int32_t rc = file4writeDelay(&a, offset, keep.back().data(), n, nullptr, nullptr);
      ASSERT_TRUE(rc == r4queued || rc == 0) << rc;
      apply(offset, keep.back());
    } else if (op < 6) {
      const std::string bytes(n, fillByte);
      ASSERT_EQ(file4write(&a, offset, bytes.data(), n), 0);
      apply(offset, bytes);
    } else if (op < 9) {
      std::string out(n, '?');
      const uint32_t got = file4read(&a, offset, out.data(), n);
      const uint64_t expected =
          offset >= shadow.size() ? 0 : std::min<uint64_t>(n, shadow.size() - offset);
      ASSERT_EQ(got, expected) << "step " << step;
      if (got > 0) {
        ASSERT_EQ(out.substr(0, got), shadow.substr(offset, got)) << "step " << step;
      }
    } else {
      ASSERT_EQ(file4lenSetLow(&a, offset), 0);
      shadow.resize(offset, '\0');
    }
  }
  ASSERT_EQ(file4writeDelayFlush(&a, 1), 0);
  EXPECT_EQ(contents(a), shadow);
}

}  // namespace
