// The support browser on a support of 100,000 files (plus its 1,100
// folders; with the ".zip" files, 11,000 tree nodes), beside another
// support of as many: building the tree from the support's rows, and listing a folder of 100 files
// and the top folder of 100 folders; then a folder of 100 files of the same supports stored under
// a folder of 55 characters, where every row of the support shares the key of its path's first 50
// characters and a listing walks them all. cold_ms is the first run after the catalogue was opened
// with its files dropped from the page cache; the timings are warm runs.
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/generated_catalogue.h"
#include "features/browser/SupportBrowser.h"

namespace {

bench_support::GeneratedCatalogue& catalogue() { return bench_support::TwoLargeSupports(); }

constexpr int32_t kSupport = 2;

template <typename Work>
void measure(benchmark::State& state, Work work,
             bench_support::GeneratedCatalogue& generated = catalogue()) {
  TDBWrapper& db = generated.open(true);
  const auto started = std::chrono::steady_clock::now();
  work(db);
  state.counters["cold_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  for (auto _ : state) work(db);
  generated.close();
}

void BM_LoadSupportTree(benchmark::State& state) {
  int32_t folders = 0;
  measure(state, [&](TDBWrapper& db) {
    SupportBrowser browser(db);
    browser.LoadSupport(kSupport);
    folders = browser.FolderCount();
  });
  state.counters["folders"] = folders;
}
BENCHMARK(BM_LoadSupportTree)->Unit(benchmark::kMillisecond);

void BM_ListFolder(benchmark::State& state) {
  size_t items = 0;
  measure(state, [&](TDBWrapper& db) {
    items = ListDirectory(db, kSupport, "\\dir50\\sub5\\").items.size();
  });
  state.counters["items"] = items;
}
BENCHMARK(BM_ListFolder)->Unit(benchmark::kMillisecond);

void BM_ListTopFolder(benchmark::State& state) {
  size_t items = 0;
  measure(state, [&](TDBWrapper& db) { items = ListDirectory(db, kSupport, "\\").items.size(); });
  state.counters["items"] = items;
}
BENCHMARK(BM_ListTopFolder)->Unit(benchmark::kMillisecond);

void BM_ListFolderUnderLongPath(benchmark::State& state) {
  size_t items = 0;
  measure(
      state,
      [&](TDBWrapper& db) {
        const std::string folder = std::string(bench_support::kLongFolder) + "\\dir50\\sub5\\";
        items = ListDirectory(db, kSupport, folder).items.size();
      },
      bench_support::TwoLargeSupportsDeep());
  state.counters["items"] = items;
}
BENCHMARK(BM_ListFolderUnderLongPath)->Unit(benchmark::kMillisecond);

}  // namespace
