// The power-cut model of the tests' disk: data waits for its file's sync,
// folder entries for the folder's, sectors land whole, and the states of a
// cut cover every way the pending operations may have reached the disk.
#include "tests/support/power_cut.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "tests/support/disk_file.h"

namespace testing_support {
namespace {

using Content = std::optional<std::string>;  // none: the file is not there

Content contentOf(const FolderFiles& files, const std::string& name) {
  const auto found = files.find(name);
  return found == files.end() ? Content() : Content(found->second);
}

void put(int fd, const std::string& bytes, uint64_t at) {
  ASSERT_EQ(platform::os().writeAt(fd, bytes.data(), bytes.size(), at),
            static_cast<int64_t>(bytes.size()));
}

TEST(PowerCut, StatesKeepWhatSyncsMadeDurableAndMayLoseOrReorderTheRest) {
  std::filesystem::create_directory("d");
  writeDiskFile("d/old", "old");
  PowerCutRecorder recorder("./d/");
  platform::ScopedOs door(recorder);
  platform::Os& os = platform::os();

  // Outside the folder: passed through, never logged.
  const int elsewhere = os.openFile("elsewhere", O_RDWR | O_CREAT, 0600);
  put(elsewhere, "x", 0);
  os.syncFile(elsewhere);
  os.closeFile(elsewhere);

  const int log = os.openFile("d/log", O_RDWR | O_CREAT | O_EXCL, 0600);
  put(log, "a", 0);
  put(log, "b", 1);
  put(log, "c", 2);
  const size_t unsynced = recorder.Position();
  recorder.syncError = EIO;
  ASSERT_NE(os.syncFile(log), 0);  // a failed sync makes nothing durable
  ASSERT_EQ(os.syncFile(log), 0);
  ASSERT_EQ(os.syncFolder("d"), 0);
  const int tmp = os.openFile("./d/tmp", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  put(tmp, "new", 0);
  ASSERT_EQ(os.syncFile(tmp), 0);
  os.closeFile(tmp);
  ASSERT_EQ(os.renameFile("d/tmp", "d/old"), 0);
  const size_t renamed = recorder.Position();
  const std::string x(512, 'x');
  const std::string y(512, 'y');
  put(log, x + y, 0);
  const size_t torn = recorder.Position();
  ASSERT_EQ(os.syncFolder("d/"), 0);
  os.closeFile(log);
  const size_t end = recorder.Position();

  EXPECT_EQ(recorder.SyncPoints(), (std::vector<size_t>{4, 5, 8, 11, 12}));
  EXPECT_EQ(recorder.Durable(torn), (FolderFiles{{"d/log", "abc"}, {"d/old", "old"}}));
  // Before its folder sync the rename leaves three distinct disks: neither
  // entry, the new file beside the old one, the new file in its place.
  EXPECT_EQ(recorder.StatesAt(renamed).size(), 3u);

  // eachInSome: every content listed is the file's in some state;
  // inEvery: in every state the file holds one of them.
  enum class Expect { eachInSome, inEvery };
  struct Case {
    const char* what;
    size_t position;
    const char* file;
    Expect expect;
    std::vector<Content> contents;
  };
  const Case cases[] = {
      {"a new file not yet in a synced folder can vanish, or stay empty, and every prefix "
       "or subset of its writes may have landed",
       unsynced,
       "d/log",
       Expect::eachInSome,
       {std::nullopt, "", "a", "ab", "abc", std::string("\0bc", 3), std::string("a\0c", 3)}},
      {"a synced write is in every state", renamed, "d/log", Expect::inEvery, {"abc"}},
      {"a rename not followed by a folder sync can be undone",
       renamed,
       "d/old",
       Expect::eachInSome,
       {"old", "new"}},
      {"and the renamed file may still be under its old name",
       renamed,
       "d/tmp",
       Expect::eachInSome,
       {std::nullopt, "new"}},
      {"an unsynced write may be lost, land whole or land torn",
       torn,
       "d/log",
       Expect::eachInSome,
       {"abc", x + y, x}},
      {"a torn write keeps whole sectors only", torn, "d/log", Expect::inEvery, {"abc", x + y, x}},
      {"after the folder sync the rename holds", end, "d/old", Expect::inEvery, {"new"}},
      {"after the folder sync the old name is gone", end, "d/tmp", Expect::inEvery, {std::nullopt}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<PowerCutRecorder::DiskState> states = recorder.StatesAt(c.position);
    auto holds = [&](const PowerCutRecorder::DiskState& state, const Content& content) {
      return contentOf(state.files, c.file) == content;
    };
    if (c.expect == Expect::eachInSome) {
      for (const Content& content : c.contents)
        EXPECT_TRUE(std::any_of(states.begin(), states.end(), [&](const auto& state) {
          return holds(state, content);
        })) << (content ? "\"" + content->substr(0, 8) + "\"..." : "absent");
    } else {
      for (const auto& state : states)
        EXPECT_TRUE(std::any_of(c.contents.begin(), c.contents.end(), [&](const Content& content) {
          return holds(state, content);
        })) << state.label;
    }
  }
}

}  // namespace
}  // namespace testing_support
