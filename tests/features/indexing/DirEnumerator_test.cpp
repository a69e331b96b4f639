#include "features/indexing/DirEnumerator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/os.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kThreeGiB = int64_t{3} << 30;

void makeFile(const fs::path& path, const std::string& content = "") {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<TFileEntry> entriesOf(const DirEnumerator& walk) {
  std::vector<TFileEntry> entries;
  for (int32_t i = 0; i < walk.Count(); ++i) entries.push_back(*walk.GetEntry(i));
  return entries;
}

// Breadth-first: the root's entries, then each folder's contents in the
// order the folders themselves were listed.
void expectBreadthFirst(const std::vector<TFileEntry>& entries) {
  std::vector<std::string> folders = {"\\"};
  for (const TFileEntry& e : entries) {
    if (e.attributes & kDirectoryAttribute) folders.push_back(e.directory + e.name + "\\");
  }
  size_t current = 0;
  for (const TFileEntry& e : entries) {
    while (current < folders.size() && folders[current] != e.directory) ++current;
    ASSERT_LT(current, folders.size()) << "out of order: " << e.directory << e.name;
  }
}

// A chain of `depth` folders of one long name under `top`, with bottom.txt
// in the last: its path below `top` passes the 4096 bytes the system takes
// in one call. Made and removed a folder at a time, as no single path
// reaches it.
class DeepChain {
 public:
  DeepChain(const char* top, int depth) : name_(240, 'd') {
    mkdir(top, 0755);
    folders_.push_back(open(top, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i < depth; ++i) {
      mkdirat(folders_.back(), name_.c_str(), 0755);
      folders_.push_back(
          openat(folders_.back(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    close(openat(folders_.back(), "bottom.txt", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
  }
  ~DeepChain() {
    unlinkat(folders_.back(), "bottom.txt", 0);
    for (size_t i = folders_.size() - 1; i > 0; --i) {
      close(folders_[i]);
      unlinkat(folders_[i - 1], name_.c_str(), AT_REMOVEDIR);
    }
    close(folders_[0]);
  }

 private:
  std::string name_;
  std::vector<int> folders_;
};

// Sets TZ for the test's lifetime.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (previous_.empty())
      unsetenv("TZ");
    else
      setenv("TZ", previous_.c_str(), 1);
    tzset();
  }

 private:
  std::string previous_;
};

TEST(DirEnumeratorTest, ListsEveryEntryBreadthFirstWithItsStoredFacts) {
  makeFile("medium/a.txt", "hello");
  makeFile("medium/.hidden", "h");
  makeFile("medium/read-only.doc", "abc");
  fs::permissions("medium/read-only.doc", fs::perms::owner_read | fs::perms::group_read);
  makeFile("medium/archive.tar.gz");
  makeFile("medium/back\\slash");
  makeFile("medium/tab\tname");
  makeFile("medium/caf\xC3\xA9.txt");
  makeFile("medium/\xE6\x97\xA5\xE6\x9C\xAC.txt");
  makeFile("medium/sparse.img");
  fs::resize_file("medium/sparse.img", kThreeGiB);
  fs::create_directory_symlink(".", "medium/loop");
  fs::create_directory_symlink("..", "medium/up");
  makeFile("medium/sub.dir/inner.txt", "in");
  makeFile("medium/sub.dir/deeper/x");
  fs::create_directory("medium/empty");

  struct Expected {
    const char* directory;
    const char* name;
    int32_t attributes;
    int64_t size;
    const char* extension;
  };
  const Expected expected[] = {
      {"\\", "a.txt", 0x20, 5, ".txt"},
      {"\\", ".hidden", 0x22, 1, ".hidden"},
      {"\\", "read-only.doc", 0x21, 3, ".doc"},
      {"\\", "archive.tar.gz", 0x20, 0, ".gz"},
      {"\\", "back?slash", 0x20, 0, ""},  // a '\' would split the stored path
      {"\\", "tab?name", 0x20, 0, ""},    // control bytes would break archive lines
      {"\\", "caf\xE9.txt", 0x20, 0, ".txt"},
      {"\\", "??.txt", 0x20, 0, ".txt"},  // no Windows-1252 form
      {"\\", "sparse.img", 0x20, kThreeGiB, ".img"},
      {"\\", "loop", 0x20, 1, ""},  // links are listed, never entered
      {"\\", "up", 0x20, 2, ""},
      {"\\", "sub.dir", 0x10, 0, ".dir"},
      {"\\", "empty", 0x10, 0, ""},
      {"\\sub.dir\\", "inner.txt", 0x20, 2, ".txt"},
      {"\\sub.dir\\", "deeper", 0x10, 0, ""},
      {"\\sub.dir\\deeper\\", "x", 0x20, 0, ""},
  };

  DirEnumerator walk;
  std::vector<int32_t> numbers;
  const int32_t found =
      walk.Enumerate("medium", [&](TFileEntry&, int32_t number) { numbers.push_back(number); });

  const std::vector<TFileEntry> entries = entriesOf(walk);
  ASSERT_EQ(found, static_cast<int32_t>(std::size(expected)));
  expectBreadthFirst(entries);
  std::map<std::string, const TFileEntry*> byPath;
  for (const TFileEntry& e : entries) byPath[e.directory + e.name] = &e;
  for (const Expected& x : expected) {
    const auto it = byPath.find(std::string(x.directory) + x.name);
    ASSERT_NE(it, byPath.end()) << x.directory << x.name;
    const TFileEntry& e = *it->second;
    EXPECT_EQ(e.attributes, x.attributes) << x.name;
    EXPECT_EQ(e.size, x.size) << x.name;
    EXPECT_EQ(e.extension, x.extension) << x.name;
    EXPECT_EQ(e.drive, "medium");
    EXPECT_EQ(e.databaseId, -1);
    EXPECT_EQ(e.parentIndex, -1);
  }
  EXPECT_EQ(walk.FileCount(), 13);
  EXPECT_EQ(walk.DirectoryCount(), 3);
  EXPECT_EQ(walk.TotalSize(), kThreeGiB + 5 + 1 + 3 + 1 + 2 + 2);
  std::vector<int32_t> oneToN(entries.size());
  for (size_t i = 0; i < oneToN.size(); ++i) oneToN[i] = static_cast<int32_t>(i + 1);
  EXPECT_EQ(numbers, oneToN);
}

TEST(DirEnumeratorTest, TheCallbackCanStopTheWalkButNotRestartOrClearIt) {
  for (int i = 0; i < 5; ++i) makeFile("medium/d" + std::to_string(i) + "/f");

  DirEnumerator walk;
  EXPECT_EQ(walk.Enumerate("medium", [&](TFileEntry&, int32_t) { walk.Abort(); }), 1);
  EXPECT_EQ(walk.Count(), 1);

  int32_t nested = 0;
  int32_t countAfterClear = 0;
  const int32_t found = walk.Enumerate("medium", [&](TFileEntry&, int32_t number) {
    EXPECT_TRUE(walk.Busy());
    if (number != 3) return;
    nested = walk.Enumerate("medium");
    walk.Clear();
    countAfterClear = walk.Count();
  });
  EXPECT_EQ(nested, -1);
  EXPECT_EQ(countAfterClear, 3);
  EXPECT_EQ(found, 10);  // a new walk cleared the abort of the last one
  EXPECT_FALSE(walk.Busy());

  walk.Clear();
  EXPECT_EQ(walk.Count(), 0);
  EXPECT_EQ(walk.TotalSize(), 0);
  EXPECT_EQ(walk.GetEntry(0), nullptr);
  EXPECT_EQ(walk.Enumerate("no such medium"), 0);
}

// Refuses to open folders whose name ends in "locked", as folders the walk
// may not read; and shows every folder whose name starts with "twin" as one
// and the same folder, as a bind mount shows a folder twice.
class StrangeFolders : public platform::Os {
 public:
  int openFolderAt(int at, const char* name, bool followLink) override {
    const std::string_view path = name;
    if (path.size() >= 6 && path.substr(path.size() - 6) == "locked") return -EACCES;
    return Os::openFolderAt(at, name, followLink);
  }
  int entryStatusAt(int at, const char* name, platform::EntryStatus& status) override {
    const int result = Os::entryStatusAt(at, name, status);
    if (result == 0 && std::string_view(name).substr(0, 4) == "twin") status.inode = 1;
    return result;
  }
};

TEST(DirEnumeratorTest, FoldersThatCannotBeOpenedOrWereSeenBeforeAreListedButNotWalked) {
  makeFile("medium/locked/hidden-inside");
  makeFile("medium/open/visible");
  makeFile("medium/open/locked/deeper");
  makeFile("medium/twin-a/inside");
  makeFile("medium/twin-b/inside");
  StrangeFolders system;
  platform::ScopedOs scoped(system);

  DirEnumerator walk;
  walk.Enumerate("medium");

  std::set<std::string> paths;
  for (const TFileEntry& e : entriesOf(walk)) paths.insert(e.directory + e.name);
  const std::string walkedTwin = paths.count("\\twin-a\\inside") ? "\\twin-a" : "\\twin-b";
  EXPECT_EQ(paths, (std::set<std::string>{"\\locked", "\\open", "\\open\\visible", "\\open\\locked",
                                          "\\twin-a", "\\twin-b", walkedTwin + "\\inside"}));
}

TEST(DirEnumeratorTest, FoldersDeeperThanOneSystemCallReachesAreWalked) {
  const DeepChain chain("medium", 18);
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate("medium"), 19);
  EXPECT_EQ(walk.DirectoryCount(), 18);
  EXPECT_EQ(walk.GetEntry(18)->name, "bottom.txt");
}

TEST(DirEnumeratorTest, DatesAreLocalDaysSince1899WithSecondsRoundedDownToEven) {
  const ScopedTimeZone utc("UTC");
  struct Case {
    int hour, minute, second;
    int storedSecond;
  };
  const Case cases[] = {{5, 6, 7, 6}, {5, 6, 8, 8}, {23, 59, 59, 58}, {0, 0, 1, 0}};
  for (const Case& c : cases) {
    fs::remove_all("medium");
    makeFile("medium/file");
    tm moment{};
    moment.tm_year = 2021 - 1900;
    moment.tm_mon = 2;
    moment.tm_mday = 4;
    moment.tm_hour = c.hour;
    moment.tm_min = c.minute;
    moment.tm_sec = c.second;
    const timespec times[2] = {{timegm(&moment), 0}, {timegm(&moment), 999999999}};
    ASSERT_EQ(utimensat(AT_FDCWD, "medium/file", times, 0), 0);

    DirEnumerator walk;
    walk.Enumerate("medium");
    ASSERT_EQ(walk.Count(), 1);
    // 4 March 2021 is day 44259 after 30 December 1899.
    const int secondOfDay = c.hour * 3600 + c.minute * 60 + c.storedSecond;
    EXPECT_DOUBLE_EQ(walk.GetEntry(0)->date, 44259 + secondOfDay / 86400.0) << c.second;
  }
}

TEST(DirEnumeratorTest, FullPathsAndZipNames) {
  TFileEntry entry;
  entry.drive = "/media/usb/";
  entry.directory = "\\sub\\deeper\\";
  entry.name = "caf\xE9.txt";
  EXPECT_EQ(GetFullPath(entry), "/media/usb/sub/deeper/caf\xC3\xA9.txt");
  entry.drive = "/";
  entry.directory = "\\";
  EXPECT_EQ(GetFullPath(entry), "/caf\xC3\xA9.txt");
  entry.directory = "";
  EXPECT_EQ(GetFullPath(entry), "/caf\xC3\xA9.txt");

  struct Case {
    const char* text;
    bool endsWithZip;
    bool isZipExtension;
  };
  const Case cases[] = {{"a.Zip", true, false}, {".zip", true, true},  {".ZIP", true, true},
                        {"x.zip", true, false}, {"zip", false, false}, {"a.zipx", false, false},
                        {"", false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(EndsWithZip(c.text), c.endsWithZip) << c.text;
    EXPECT_EQ(IsZipExtension(c.text), c.isZipExtension) << c.text;
  }
}

}  // namespace
