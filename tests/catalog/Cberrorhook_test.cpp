#include "catalog/Cberrorhook.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

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
  std::thread worker([this] { error4(&c, e4write, 90075); });
  worker.join();
  EXPECT_TRUE(shown.empty());
  // The owner's next engine call shows it there, and it is cleared.
  EXPECT_EQ(error4code(&c), 0);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("Code1=-120\nCode2=90075"), std::string::npos);
}

TEST_F(ErrorHookTest, AnErrorWithoutSettingsObjectShowsNothing) {
  EXPECT_EQ(error4(nullptr, e4object, 60123), e4object);
  EXPECT_TRUE(shown.empty());
}

}  // namespace
