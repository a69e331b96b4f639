#include "engine/storage/code4.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>

#include "engine/storage/buffer4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"

using testing_support::ErrorRecorder;
using testing_support::FakeOs;
using testing_support::Gate;

namespace {

// Undoes `c` on another thread and reports whether it finished in time.
bool undoFinishesWithin(CODE4& c, std::chrono::seconds limit) {
  auto undo = std::async(std::launch::async, [&c] { return code4initUndo(&c); });
  return undo.wait_for(limit) == std::future_status::ready;
}

TEST(Code4InitTest, AWrongVersionOrSizeIsRefusedAndSetsNothing) {
  ErrorRecorder recorder;
  CODE4 c;
  EXPECT_EQ(code4initLow(&c, nullptr, 6501, 1611, 1), e4version);
  EXPECT_EQ(code4initLow(&c, nullptr, 6502, 1612, 1), e4struct);
  EXPECT_EQ(c.initialized, 0);
  EXPECT_EQ(c.validityMarker, 0);
  EXPECT_EQ(code4initUndo(&c), -1);  // never initialised: not a valid structure

  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].c, nullptr);
  EXPECT_EQ(errors[0].text1, "Library: 6502");
  EXPECT_EQ(errors[0].text2, "Headers: 6501");
  EXPECT_EQ(errors[1].text1, "Library struct size: 1611");
  EXPECT_EQ(errors[1].text2, "Header struct size: 1612");
  EXPECT_EQ(errors[1].location, 80061);
}

TEST(Code4InitTest, InitialisationSetsTheDefaultsAndUndoIsIdempotent) {
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 0, 1), 0);  // size 0 skips the check
  EXPECT_EQ(c.validityMarker, 21121);
  EXPECT_EQ(c.initialized, 1);
  EXPECT_STREQ(c.datePicture, "MM/DD/YY");
  EXPECT_EQ(c.compatibility, 25);
  EXPECT_EQ(c.errDefaultUnique, 25);
  EXPECT_EQ(c.lockAttempts, -1);
  EXPECT_EQ(c.singleOpen, 1);
  EXPECT_NE(c.allocator, nullptr);
  EXPECT_TRUE(code4binaryDoubles());
  EXPECT_FALSE(code4descendNegated());
  EXPECT_FALSE(code4memoBinary());
  EXPECT_TRUE(memory4active());

  EXPECT_EQ(code4initUndo(&c), 0);
  EXPECT_EQ(c.initialized, 0);
  EXPECT_FALSE(memory4active());
  EXPECT_EQ(code4initUndo(&c), 0);
}

TEST(Code4InitTest, InitialisingTwiceUndoesTheFirstInitialisation) {
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  c.compatibility = 30;
  MEMORY4* pool = memory4create(&c, 2, 32, 2, false);
  ASSERT_NE(pool, nullptr);
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  EXPECT_EQ(c.compatibility, 25);
  EXPECT_EQ(code4initialisedCount(), 1);
  EXPECT_EQ(code4initUndo(&c), 0);
  EXPECT_EQ(code4initialisedCount(), 0);
}

TEST(Code4InitTest, UndoReturnsTheErrorRaisedLast) {
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  error4set(&c, e4read);  // cleared by the undo itself
  EXPECT_EQ(code4initUndo(&c), 0);
}

TEST(Code4InitTest, NoThreadsStartsNoWorker) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  EXPECT_EQ(fake.threadsStarted(), 0);
  EXPECT_FALSE(c.writeBehind.running());
  EXPECT_FALSE(c.readAhead.running());
  EXPECT_EQ(code4initUndo(&c), 0);
}

TEST(Code4ThreadsTest, BothWorkersRunAndUndoJoinsThem) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 0), 0);
  EXPECT_EQ(fake.threadsStarted(), 2);
  EXPECT_TRUE(c.writeBehind.running());
  EXPECT_TRUE(c.readAhead.running());
  ASSERT_TRUE(undoFinishesWithin(c, std::chrono::seconds(10)));
  EXPECT_FALSE(c.writeBehind.thread.joinable());
  EXPECT_FALSE(c.readAhead.thread.joinable());
}

TEST(Code4ThreadsTest, AWorkerThatCannotStartIsNotUsed) {
  FakeOs fake;
  fake.refuseThreadsFrom = 1;  // the read-ahead worker's start is refused
  platform::ScopedOs scoped(fake);
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 0), 0);
  EXPECT_TRUE(c.writeBehind.running());
  EXPECT_FALSE(c.readAhead.running());
  EXPECT_FALSE(c.readAhead.thread.joinable());
  ASSERT_TRUE(undoFinishesWithin(c, std::chrono::seconds(10)));
}

TEST(Code4ThreadsTest, ALateWorkerIsAbandonedAndStillJoined) {
  FakeOs fake;
  Gate gate;
  fake.threadGate = &gate;   // workers cannot report...
  fake.clockStep = 3000;     // ...before the clock passes five seconds
  platform::ScopedOs scoped(fake);
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 0), 0);
  EXPECT_FALSE(c.writeBehind.running());
  EXPECT_FALSE(c.readAhead.running());
  EXPECT_EQ(c.writeBehind.state.load(), Worker4::Abandoned);
  gate.open();  // they report late, see they were abandoned and end
  ASSERT_TRUE(undoFinishesWithin(c, std::chrono::seconds(10)));
  EXPECT_FALSE(c.writeBehind.thread.joinable());
  EXPECT_FALSE(c.readAhead.thread.joinable());
}

TEST(Code4ThreadsTest, InitAndUndoTwiceWithWorkers) {
  CODE4 c;
  for (int round = 0; round < 2; round++) {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 0), 0);
    EXPECT_TRUE(c.readAhead.running());
    ASSERT_TRUE(undoFinishesWithin(c, std::chrono::seconds(10)));
  }
}

TEST(Code4QueryTest, FormatExtensionsAndSwitches) {
  ErrorRecorder recorder;
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  EXPECT_EQ(code4indexFormat(&c), 200);
  EXPECT_EQ(code4indexFormat(nullptr), 204);
  EXPECT_STREQ(code4indexExtension(&c), "cdx");
  EXPECT_STREQ(code4memoExtension(&c), "fpt");
  EXPECT_EQ(code4switches(), 0x031820C1u);
  EXPECT_EQ(code4errCreateSet(&c, 0), 1);
  EXPECT_EQ(code4errCreate(&c), 0);
  EXPECT_EQ(code4logOpen(nullptr, nullptr, nullptr), e4parmNull);
  EXPECT_EQ(code4logOpen(&c, nullptr, nullptr), 0);  // no log file: logging stays off
  EXPECT_EQ(c.transaction.enabled, 0);
  EXPECT_EQ(recorder.errors().size(), 2u);
  code4initUndo(&c);
}

TEST(Code4BufferingTest, TheBudgetIsAShareOfAvailableMemoryIn64Bits) {
  FakeOs fake;
  fake.memory = 400ull * 1000 * 1000;
  platform::ScopedOs scoped(fake);
  CODE4 c;
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  EXPECT_EQ(c.bufferingSize, 100 * 1000 * 1000);

  fake.memory = 64ull << 30;  // 25% of 64 GiB does not fit 32 bits
  code4cacheSizes(&c, 25);
  EXPECT_EQ(c.bufferingSize, INT32_MAX);

  code4cacheSizes(&c, 101);
  EXPECT_TRUE(c.bufferingDisabled);
  fake.memory = 1000;
  code4cacheSizes(&c, 50);  // disabled for good
  EXPECT_EQ(c.bufferingSize, INT32_MAX);
  code4initUndo(&c);
}

}  // namespace
