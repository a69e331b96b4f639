// Runs the tests of one process inside a fresh temporary folder of its own,
// removed afterwards, so that tests can run in parallel and leave nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/engine-test-XXXXXX";
  char* folder = mkdtemp(pattern.data());
  if (folder == nullptr || chdir(folder) != 0) {
    perror("temporary test folder");
    return 2;
  }
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(pattern, ignored);
  return result;
}
