// Walking a medium: DirEnumerator over a generated tree of 100,000 entries
// (100 folders of 9 folders of 110 files, sizes up to 5 MB held sparse),
// against `find DIR -printf '%s %T@ %p\n'` on the same tree, which stats
// every entry and prints it as the walk stores it. Both read a warm cache.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "features/indexing/DirEnumerator.h"

namespace {

constexpr int kTopFolders = 100;
constexpr int kSubFolders = 9;
constexpr int kFiles = 110;
constexpr int kEntries = kTopFolders * (1 + kSubFolders * (1 + kFiles));
static_assert(kEntries == 100000);

// The tree, made on first use and removed when the program ends.
class Tree {
 public:
  Tree() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/walk-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    std::mt19937 random(101);
    for (int t = 0; t < kTopFolders; ++t) {
      const std::string top = root_ + "/folder " + std::to_string(t);
      for (int s = 0; s < kSubFolders; ++s) {
        const std::string sub = top + "/sub" + std::to_string(s) + ".d";
        std::filesystem::create_directories(sub);
        for (int f = 0; f < kFiles; ++f) {
          const std::string file = sub + "/file" + std::to_string(f) + ".dat";
          const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
          if (fd < 0 || ::ftruncate(fd, random() % 5000000) != 0) std::abort();
          ::close(fd);
        }
      }
    }
  }
  ~Tree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

const Tree& tree() {
  static const Tree made;
  return made;
}

void BM_DirEnumerator(benchmark::State& state) {
  const std::string& root = tree().root();
  DirEnumerator walk;
  for (auto _ : state) {
    if (walk.Enumerate(root, [](TFileEntry&, int32_t) {}) != kEntries) {
      state.SkipWithError("wrong entry count");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_DirEnumerator)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FindPrintf(benchmark::State& state) {
  const std::string command = "find '" + tree().root() + "' -printf '%s %T@ %p\\n' >/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("find failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_FindPrintf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
