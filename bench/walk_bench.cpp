// Walking a medium: DirEnumerator over a generated tree of 100,000 entries
// (bench/generated_tree.h), against `find DIR -printf '%s %T@ %p\n'` on the
// same tree, which stats every entry and prints it as the walk stores it.
// Both read a warm cache.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench/generated_tree.h"
#include "features/indexing/DirEnumerator.h"

namespace {

using bench_support::kTreeEntries;

const bench_support::GeneratedTree& tree() {
  static const bench_support::GeneratedTree made;
  return made;
}

void BM_DirEnumerator(benchmark::State& state) {
  const std::string& root = tree().root();
  DirEnumerator walk;
  for (auto _ : state) {
    if (walk.Enumerate(root, [](TFileEntry&, int32_t) {}) != kTreeEntries) {
      state.SkipWithError("wrong entry count");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kTreeEntries);
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
  state.SetItemsProcessed(state.iterations() * kTreeEntries);
}
BENCHMARK(BM_FindPrintf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
