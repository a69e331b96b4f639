// Indexing a medium end to end as the indexing dialog runs it, without its
// window: the volume's facts and the walk of a generated 100,000-entry tree
// (bench/generated_tree.h), then the support and every entry stored in a
// fresh catalogue, written to disk once at the end. The tree is read from a
// warm cache; the catalogue's closing is not timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "bench/generated_catalogue.h"
#include "bench/generated_tree.h"
#include "features/indexing/DirEnumerator.h"
#include "features/indexing/MediumIndexing.h"
#include "features/indexing/VolumeInfo.h"

namespace {

using bench_support::kTreeEntries;

double millisSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

void BM_IndexMedium(benchmark::State& state) {
  static const bench_support::GeneratedTree tree;
  DirEnumerator scan;
  double walkMillis = 0, insertMillis = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto catalogue = std::make_unique<bench_support::GeneratedCatalogue>(0, 0);
    TDBWrapper& db = catalogue->open();
    state.ResumeTiming();

    const auto started = std::chrono::steady_clock::now();
    TVolumeInfo volume;
    GetVolumeInfo(tree.root(), volume);
    scan.Enumerate(tree.root(), [](TFileEntry&, int32_t) {});
    walkMillis += millisSince(started);
    const auto walked = std::chrono::steady_clock::now();
    const TInsertionResult result = InsertScan(db, scan, volume, "bench", "", [](int32_t) {});
    insertMillis += millisSince(walked);

    state.PauseTiming();
    if (result.stored != kTreeEntries || !result.written)
      state.SkipWithError("not every entry was stored");
    catalogue.reset();
    state.ResumeTiming();
  }
  state.counters["walk_ms"] = benchmark::Counter(walkMillis, benchmark::Counter::kAvgIterations);
  state.counters["insert_ms"] =
      benchmark::Counter(insertMillis, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations() * kTreeEntries);
}
BENCHMARK(BM_IndexMedium)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
