#include "engine/storage/system4.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "engine/storage/error4.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"

using testing_support::ErrorRecorder;
using testing_support::FakeOs;

namespace {

bool exists(const char* name) {
  struct stat status {};
  return stat(name, &status) == 0;
}

TEST(EnvironmentTest, MissingRequiredVariableIsRaisedWithItsName) {
  FakeOs fake;
  fake.environmentVariables = std::map<std::string, std::string>{{"TEMP", "/var/tmp"}};
  platform::ScopedOs scope(fake);
  ErrorRecorder recorder;

  EXPECT_STREQ(environment4get("TEMP", 1), "/var/tmp");
  EXPECT_EQ(environment4get("TMP", 0), nullptr);
  EXPECT_TRUE(recorder.errors().empty());

  EXPECT_EQ(environment4get("TMP", 1), nullptr);
  EXPECT_EQ(environment4get(nullptr, 0), nullptr);
  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].code, e4info);
  EXPECT_EQ(errors[0].location, 80179);
  EXPECT_EQ(errors[0].text1, "TMP");
  EXPECT_EQ(errors[0].c, nullptr);
  EXPECT_EQ(errors[1].code, e4parmNull);
  EXPECT_EQ(errors[1].location, 90341);
}

TEST(DelayTest, SleepsInHundredthsOfASecond) {
  FakeOs fake;
  fake.skipSleeps = true;
  platform::ScopedOs scope(fake);
  time4delay(50);
  time4delay(0);
  time4delay(-3);
  EXPECT_EQ(fake.millisSlept(), 500);
}

TEST(FileRemoveTest, RemovesFilesOnly) {
  std::ofstream("gone.tmp") << "x";
  ASSERT_EQ(mkdir("folder.tmp", 0700), 0);
  EXPECT_EQ(file4remove("gone.tmp"), 0);
  EXPECT_FALSE(exists("gone.tmp"));
  EXPECT_EQ(file4remove("gone.tmp"), -1);
  EXPECT_EQ(file4remove("folder.tmp"), -1);
  EXPECT_TRUE(exists("folder.tmp"));

  FakeOs fake;
  fake.removeErrno = EACCES;
  platform::ScopedOs scope(fake);
  std::ofstream("kept.tmp") << "x";
  EXPECT_EQ(file4remove("kept.tmp"), -1);
  EXPECT_TRUE(exists("kept.tmp"));

  ErrorRecorder recorder;
  EXPECT_EQ(file4remove(nullptr), e4parmNull);
  ASSERT_EQ(recorder.errors().size(), 1u);
  EXPECT_EQ(recorder.errors()[0].location, 90339);
}

}  // namespace
