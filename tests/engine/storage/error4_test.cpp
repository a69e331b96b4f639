#include "engine/storage/error4.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/memory4.h"
#include "tests/support/error_recorder.h"

using testing_support::ErrorRecorder;

namespace {

class ErrorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0); }
  void TearDown() override { code4initUndo(&c); }
  CODE4 c;
};

TEST_F(ErrorTest, WithoutSettingsObjectNothingIsStoredButTheHookHears) {
  ErrorRecorder recorder;
  EXPECT_EQ(error4describe(nullptr, e4fieldName, 90017, "NAME", nullptr, "x"), e4fieldName);
  EXPECT_EQ(error4code(&c), 0);
  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].c, nullptr);
  EXPECT_EQ(errors[0].code, e4fieldName);
  EXPECT_EQ(errors[0].location, 90017);
  EXPECT_EQ(errors[0].text1, "NAME");
  EXPECT_EQ(errors[0].text3, "x");
}

TEST_F(ErrorTest, WithSettingsObjectCodeAndLocationAreStoredUntilCleared) {
  ErrorRecorder recorder;
  EXPECT_EQ(error4(&c, e4read, 90060), e4read);
  EXPECT_EQ(c.errorCode.load(), e4read);
  EXPECT_EQ(c.errorLocation.load(), 90060);
  ASSERT_EQ(recorder.errors().size(), 1u);
  EXPECT_EQ(recorder.errors()[0].c, &c);
}

TEST_F(ErrorTest, AClearingHookLeavesNothingPending) {
  ErrorRecorder recorder(/*clearing=*/true);
  error4(&c, e4write, 90070);
  EXPECT_EQ(error4code(&c), 0);
  EXPECT_EQ(c.errorLocation.load(), 0);
}

TEST_F(ErrorTest, SetReturnsThePreviousValueAndCallsNoHook) {
  ErrorRecorder recorder;
  EXPECT_EQ(error4set(&c, e4memory), 0);
  EXPECT_EQ(error4set(&c, 0), e4memory);
  EXPECT_EQ(error4setLocation(&c, 123), 0);
  EXPECT_EQ(error4setLocation(&c, 0), 123);
  EXPECT_TRUE(recorder.errors().empty());
}

TEST_F(ErrorTest, APendingErrorRefusesEngineCallsUntilCleared) {
  error4set(&c, e4read);
  MEMORY4* pool = nullptr;
  EXPECT_EQ(memory4createAlloc(&c, &pool, 4, 32, 4, false, true), nullptr);
  EXPECT_EQ(pool, nullptr);
  error4set(&c, 0);
  void* unit = memory4createAlloc(&c, &pool, 4, 32, 4, false, true);
  EXPECT_NE(unit, nullptr);
  memory4free(pool, unit);
  memory4release(pool);
}

// An error raised on another thread (a worker) never blocks the owner
// unseen: the owner's next engine call raises it on the owner's thread,
// where a hook like the program's shows and clears it, and goes on.
TEST_F(ErrorTest, ThreadsRaisingLeaveTheirErrorsForTheOwnersNextCall) {
  ErrorRecorder recorder(true);
  std::thread worker([this] { error4describe(&c, e4write, 90075, "t.dbf", nullptr, nullptr); });
  worker.join();
  EXPECT_TRUE(recorder.errors().empty());
  EXPECT_EQ(c.errorCode.load(), 0);
  EXPECT_EQ(data4open(&c, "missing"), nullptr);
  const auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].code, e4write);
  EXPECT_EQ(errors[0].location, 90075);
  EXPECT_EQ(errors[0].text1, "t.dbf");
  EXPECT_EQ(errors[0].thread, std::this_thread::get_id());
  EXPECT_EQ(errors[1].code, e4fileFind);  // the open itself went on
  EXPECT_EQ(error4code(&c), 0);
}

TEST_F(ErrorTest, StructureCheckAcceptsOnlyMarkedStructures) {
  ErrorRecorder recorder;
  EXPECT_EQ(structure4check(&c, structure4code, 90200), 0);
  EXPECT_EQ(structure4check(&c, 7, 90200), 0);  // unknown kinds pass unchecked

  CODE4 never;
  EXPECT_EQ(structure4check(&never, structure4code, 90201), e4parm);
  EXPECT_EQ(structure4check(nullptr, structure4code, 90202), e4parm);
  EXPECT_EQ(structure4check(&c, -1, 90203), e4parm);

  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 3u);
  for (const auto& e : errors) {
    EXPECT_EQ(e.c, nullptr);
    EXPECT_EQ(e.code, e4parm);
    EXPECT_EQ(e.text1, "Function was Passed an Invalid Structure Pointer");
  }
  EXPECT_EQ(errors[0].location, 90201);
  EXPECT_EQ(error4code(&c), 0);  // raised without a settings object
}

}  // namespace
