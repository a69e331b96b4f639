// A fixture with an initialised settings object (no workers) and a
// recording error hook that leaves raised errors pending, as engine tests
// want to see them.
#pragma once

#include <gtest/gtest.h>

#include "engine/storage/code4.h"
#include "tests/support/error_recorder.h"

namespace testing_support {

class EngineTest : public ::testing::Test {
 protected:
  // Whether the read-ahead and write-behind workers run.
  virtual bool withWorkers() const { return false; }

  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, withWorkers() ? 0 : 1), 0);
    if (withWorkers()) {
      ASSERT_TRUE(c.writeBehind.running());
      ASSERT_TRUE(c.readAhead.running());
    }
  }
  void TearDown() override { code4initUndo(&c); }

  // The last raised error; fails the test when none was raised.
  RaisedError lastError() {
    auto errors = recorder.errors();
    EXPECT_FALSE(errors.empty());
    return errors.empty() ? RaisedError{} : errors.back();
  }

  // Clears the pending error so that the next engine call proceeds.
  void clearError() { error4set(&c, 0); }

  ErrorRecorder recorder;
  CODE4 c;
};

}  // namespace testing_support
