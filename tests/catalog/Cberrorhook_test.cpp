#include "catalog/Cberrorhook.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "tests/support/error_recorder.h"

namespace {

std::vector<std::string> shown;

void remember(const std::string& caption, const std::string& text) {
  shown.push_back(caption + "|" + text);
}

class ErrorHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    previousHook = error4hookSet(&error4hook);
    previousPresenter = SetDbErrorPresenter(&remember);
    shown.clear();
  }
  void TearDown() override {
    SetDbErrorPresenter(previousPresenter);
    error4hookSet(previousHook);
    code4initUndo(&c);
  }
  CODE4 c;
  Error4Hook previousHook = nullptr;
  DbErrorPresenter previousPresenter = nullptr;
};

TEST_F(ErrorHookTest, AnErrorIsShownWithItsCodeAndPlaceThenCleared) {
  EXPECT_EQ(error4(&c, e4permiss, 90071), e4permiss);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Erreur de base de donn\xE9" "es|Error de base de donn\xE9" "es : Code1=-61\nCode2=90071\n");
  EXPECT_EQ(error4code(&c), 0);
  EXPECT_EQ(c.errorLocation.load(), 0);
}

TEST_F(ErrorHookTest, ThreadsRaisingOffTheOwnerWaitForIt) {
  std::thread worker([this] { error4(&c, e4read, 90077); });
  worker.join();
  EXPECT_TRUE(shown.empty());
  // The owner's next engine call shows it there, and it is cleared.
  EXPECT_EQ(error4code(&c), 0);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("Code1=-70\nCode2=90077"), std::string::npos);
}

// A full disk fails write after write, table after table: one refusal in
// words says it, and no code; once the disk took every write again, the
// next refusal is said anew.
TEST_F(ErrorHookTest, WritesTheDiskRefusesAreOneRefusalInWords) {
  testing_support::RefusalRecorder refusals;
  for (int turn = 0; turn < 2; turn++) {
    c.writeErrno = ENOSPC;
    error4describe(&c, e4write, 90075, "data/DBFILES.dbf", nullptr, nullptr);
    error4describe(&c, e4write, 90075, "data/DBFILES.cdx", nullptr, nullptr);
    error4describe(&c, e4lenSet, 90062, "data/DBFILES.dbf", nullptr, nullptr);
    error4describe(&c, e4optFlush, 90072, "data/DBSUPPORT.dbf", nullptr, nullptr);
    EXPECT_EQ(error4code(&c), 0);
    WritesSucceeded();
  }
  EXPECT_TRUE(shown.empty());
  ASSERT_EQ(refusals.refusals().size(), 2u);
  for (const TChangeRefusal& refusal : refusals.refusals()) {
    EXPECT_EQ(refusal.why, TChangeRefusal::Why::kWriteRefused);
    EXPECT_EQ(refusal.file, "data/DBFILES.dbf");
    EXPECT_EQ(refusal.error, ENOSPC);
  }
  // A write to a file opened for reading only is the caller's fault: a code.
  error4(&c, e4write, 80013);
  EXPECT_EQ(shown.size(), 1u);
}

TEST_F(ErrorHookTest, AnErrorWithoutSettingsObjectShowsNothing) {
  EXPECT_EQ(error4(nullptr, e4object, 60123), e4object);
  EXPECT_TRUE(shown.empty());
}

}  // namespace
