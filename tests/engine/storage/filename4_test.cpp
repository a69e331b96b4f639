#include "engine/storage/filename4.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "engine/storage/error4.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"

using testing_support::ErrorRecorder;
using testing_support::FakeOs;

namespace {

std::string cleaned(std::string name, int32_t expected = 0) {
  EXPECT_EQ(filename4clean(name.data()), expected) << name;
  return name.c_str();
}

TEST(FilenameCleanTest, ResolvesWholeDotComponentsOnly) {
  EXPECT_EQ(cleaned("/A/B/../C"), "/A/C");
  EXPECT_EQ(cleaned("A/./B"), "A/B");
  EXPECT_EQ(cleaned("./A"), "A");
  EXPECT_EQ(cleaned("/A/B/../../C"), "/C");
  EXPECT_EQ(cleaned("A/../B"), "B");
  EXPECT_EQ(cleaned("/A//../B"), "/B");
  EXPECT_EQ(cleaned("a./b"), "a./b");  // not a "./" component
  EXPECT_EQ(cleaned("x../b"), "x../b");
  EXPECT_EQ(cleaned("C:\\A\\..\\B"), "C:\\A\\..\\B");  // '\' is a name character
  EXPECT_EQ(cleaned("/A/B/.."), "/A/B/..");            // a last component stays
}

TEST(FilenameCleanTest, ADotDotWithoutADirectoryIsRefused) {
  ErrorRecorder recorder;
  EXPECT_EQ(cleaned("/../A", e4name), "/../A");
  EXPECT_EQ(cleaned("A/../../B", e4name), "A/../../B");
  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].location, 90348);
  EXPECT_EQ(errors[0].c, nullptr);
}

TEST(FilenameCurrentTest, RelativeNamesStartFromTheCurrentDirectory) {
  FakeOs fake;
  fake.workingDirectory = "/home/u/work";
  platform::ScopedOs scope(fake);
  char buffer[64];
  auto current = [&](const char* name) {
    EXPECT_EQ(filename4current(buffer, sizeof buffer, name), 0) << name;
    return std::string(buffer);
  };
  EXPECT_EQ(current("t.dbf"), "/home/u/work/t.dbf");
  EXPECT_EQ(current("../t.dbf"), "/home/u/t.dbf");
  EXPECT_EQ(current("../../../../t.dbf"), "/t.dbf");  // never above the root
  EXPECT_EQ(current("./data/../t.dbf"), "/home/u/work/t.dbf");
  EXPECT_EQ(current("/abs/./x.dbf"), "/abs/x.dbf");
  fake.workingDirectory = "/";
  EXPECT_EQ(current("x"), "/x");

  fake.workingDirectory = "";  // the directory cannot be told
  EXPECT_EQ(filename4current(buffer, sizeof buffer, "x"), -1);
  EXPECT_STREQ(buffer, "");
}

TEST(FilenameCurrentTest, UsesTheProcessDirectoryAndRefusesWhatDoesNotFit) {
  char directory[PATH_MAX];
  ASSERT_NE(getcwd(directory, sizeof directory), nullptr);
  char buffer[PATH_MAX + 16];
  ASSERT_EQ(filename4current(buffer, sizeof buffer, "t.dbf"), 0);
  EXPECT_EQ(std::string(buffer), std::string(directory) + "/t.dbf");

  ErrorRecorder recorder;
  char small[8];
  EXPECT_EQ(filename4current(small, sizeof small, "/abc/defg"), e4parm);
  EXPECT_STREQ(small, "");
  ASSERT_EQ(recorder.errors().size(), 1u);
  EXPECT_EQ(recorder.errors()[0].location, 90347);
}

TEST(FilenameMakeTest, JoinsDirectoryAndName) {
  char buffer[16];
  auto made = [&](const char* directory, const char* name) {
    EXPECT_EQ(filename4make(buffer, sizeof buffer, directory, name), 0);
    return std::string(buffer);
  };
  EXPECT_EQ(made("/tmp", "a.dbf"), "/tmp/a.dbf");
  EXPECT_EQ(made("/tmp/", "a.dbf"), "/tmp/a.dbf");
  EXPECT_EQ(made("data", "a.dbf"), "data/a.dbf");
  EXPECT_EQ(made("/tmp", "/abs"), "/abs");
  EXPECT_EQ(made("", "a"), "a");
  EXPECT_EQ(made(nullptr, "a"), "a");
  EXPECT_EQ(made("/d", "0123456789"), "/d/0123456789");  // exactly fills the buffer

  ErrorRecorder recorder;
  EXPECT_EQ(filename4make(buffer, sizeof buffer, "/dd", "0123456789ab"), e4parm);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(recorder.errors().at(0).location, 90342);
}

TEST(FilenamePieceTest, PathBaseAndExtension) {
  char buffer[32];
  auto piece = [&](const char* name, int path, int extension) {
    EXPECT_EQ(filename4piece(buffer, sizeof buffer, name, path, extension), 0);
    return std::string(buffer);
  };
  EXPECT_EQ(piece("/d/x.tar.gz", 1, 1), "/d/x.tar.gz");
  EXPECT_EQ(piece("/d/x.tar.gz", 0, 1), "x.tar.gz");
  EXPECT_EQ(piece("/d/x.tar.gz", 0, 0), "x.tar");
  EXPECT_EQ(piece("/d/x.tar.gz", 1, 0), "/d/x.tar");
  EXPECT_EQ(piece("dir.d/name", 0, 0), "name");
  EXPECT_EQ(piece("C:\\A\\b.txt", 0, 0), "C:\\A\\b");

  EXPECT_EQ(filename4path(buffer, sizeof buffer, "/a/b/c.dbf"), 5);
  EXPECT_STREQ(buffer, "/a/b/");
  EXPECT_EQ(filename4path(buffer, sizeof buffer, "c.dbf"), 0);
  EXPECT_STREQ(buffer, "");

  ErrorRecorder recorder;
  char small[4];
  EXPECT_EQ(filename4piece(small, sizeof small, "/d/name.dbf", 0, 0), e4parm);
  EXPECT_EQ(filename4path(small, sizeof small, "/abcd/x"), e4parm);
  EXPECT_STREQ(small, "");
  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].location, 90343);
  EXPECT_EQ(errors[1].location, 90346);
}

TEST(FilenameExtensionTest, ReadsTheExtensionTerminated) {
  char buffer[8];
  EXPECT_EQ(filename4extension(buffer, sizeof buffer, "/a/b.CDX"), 3);
  EXPECT_STREQ(buffer, "CDX");
  EXPECT_EQ(filename4extension(buffer, sizeof buffer, "dir.d/name"), 0);
  EXPECT_STREQ(buffer, "");
  char three[3] = {'x', 'x', 'x'};
  EXPECT_EQ(filename4extension(three, sizeof three, "a.dbf"), 2);
  EXPECT_STREQ(three, "db");

  ErrorRecorder recorder;
  EXPECT_EQ(filename4extension(buffer, 2, "a.dbf"), e4parm);
  EXPECT_EQ(filename4extension(nullptr, 8, "a.dbf"), e4parm);
  EXPECT_EQ(recorder.errors().at(0).location, 90344);
}

TEST(FilenameExtensionTest, SetsOrKeepsTheExtensionWithinTheBuffer) {
  auto withExtension = [](const char* start, const char* extension, int replace) {
    char name[16];
    snprintf(name, sizeof name, "%s", start);
    EXPECT_EQ(filename4extensionSet(name, sizeof name, extension, replace), 0);
    return std::string(name);
  };
  EXPECT_EQ(withExtension("data  ", "dbf", 0), "data.dbf");
  EXPECT_EQ(withExtension("a.txt  ", "dbf", 0), "a.txt");
  EXPECT_EQ(withExtension("a.txt", ".dbf", 1), "a.dbf");
  EXPECT_EQ(withExtension("dir.d/name", "cdx", 0), "dir.d/name.cdx");

  ErrorRecorder recorder;
  char name[12] = "0123456789";
  EXPECT_EQ(filename4extensionSet(name, sizeof name, "dbf", 0), e4parm);
  EXPECT_STREQ(name, "0123456789");
  EXPECT_EQ(recorder.errors().at(0).location, 90345);
}

}  // namespace
