// A medium's tree generated for the benchmarks of the walk and of indexing:
// 100,000 entries in a temporary folder, 100 folders of 9 folders of 110
// files, with sizes up to 5 MB held sparse and drawn from a fixed seed.
// Made when constructed, removed when destroyed.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace bench_support {

inline constexpr int kTreeTopFolders = 100;
inline constexpr int kTreeSubFolders = 9;
inline constexpr int kTreeFiles = 110;
inline constexpr int kTreeEntries = kTreeTopFolders * (1 + kTreeSubFolders * (1 + kTreeFiles));
static_assert(kTreeEntries == 100000);

class GeneratedTree {
 public:
  GeneratedTree() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/walk-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    std::mt19937 random(101);
    for (int t = 0; t < kTreeTopFolders; ++t) {
      const std::string top = root_ + "/folder " + std::to_string(t);
      for (int s = 0; s < kTreeSubFolders; ++s) {
        const std::string sub = top + "/sub" + std::to_string(s) + ".d";
        std::filesystem::create_directories(sub);
        for (int f = 0; f < kTreeFiles; ++f) {
          const std::string file = sub + "/file" + std::to_string(f) + ".dat";
          const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
          if (fd < 0 || ::ftruncate(fd, random() % 5000000) != 0) std::abort();
          ::close(fd);
        }
      }
    }
  }
  ~GeneratedTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  GeneratedTree(const GeneratedTree&) = delete;
  GeneratedTree& operator=(const GeneratedTree&) = delete;

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace bench_support
