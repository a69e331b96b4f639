#include "tests/support/test_folders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Moves into a new sub-folder before each test and back out after it: a
// file one test leaves (a table, a transaction log) is never seen by the
// next.
class FolderPerTest : public testing::EmptyTestEventListener {
 public:
  explicit FolderPerTest(std::string root) : root_(std::move(root)) {}
  void OnTestStart(const testing::TestInfo&) override {
    const std::string folder = root_ + "/test-" + std::to_string(++count_);
    std::error_code error;
    std::filesystem::create_directory(folder, error);
    if (error || chdir(folder.c_str()) != 0) perror("test folder");
  }
  void OnTestEnd(const testing::TestInfo&) override {
    if (chdir(root_.c_str()) != 0) perror("test folder");
  }

 private:
  std::string root_;
  int count_ = 0;
};

}  // namespace

int RunTestsInTemporaryFolders() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/engine-test-XXXXXX";
  char* folder = mkdtemp(pattern.data());
  if (folder == nullptr || chdir(folder) != 0) {
    perror("temporary test folder");
    return 2;
  }
  testing::UnitTest::GetInstance()->listeners().Append(new FolderPerTest(pattern));
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(pattern, ignored);
  return result;
}
