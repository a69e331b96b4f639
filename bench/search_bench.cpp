// The file search over a generated catalogue of 1,000,000 files on 500
// supports, with the hit limit at its highest (10,000):
// - a prefix mask, which visits the 50,000 names of one word through the
//   file-name tag ("report*7.doc", about 500 hits);
// - "*.iso" with a size range, which reads every record (about 2,000 hits);
// - "*" with a date range of three days, every record (about 400 hits).
// cold_ms is the first search after the catalogue was opened with its
// files dropped from the page cache; the timings are warm searches.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "bench/generated_catalogue.h"
#include "features/search/FileSearch.h"

namespace {

bench_support::GeneratedCatalogue& catalogue() { return bench_support::MillionFiles(); }

class CountingObserver : public SearchObserver {
 public:
  void Started(int32_t) override {}
  void HitsFound(std::span<const SearchHit> hits) override { count += hits.size(); }
  void Pause(int32_t) override {}
  int32_t HitLimit() override { return 10000; }
  bool StopRequested() override { return false; }
  size_t count = 0;
};

void runSearch(benchmark::State& state, const SearchCriteria& criteria) {
  TDBWrapper& db = catalogue().open(true);
  CountingObserver observer;
  const auto started = std::chrono::steady_clock::now();
  SearchOutcome outcome = FileSearch(db).Run(criteria, observer);
  state.counters["cold_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  for (auto _ : state) {
    outcome = FileSearch(db).Run(criteria, observer);
  }
  state.counters["hits"] = outcome.hits;
  state.counters["visited"] = outcome.visited;
  catalogue().close();
}

void BM_SearchPrefixMask(benchmark::State& state) {
  SearchCriteria criteria;
  criteria.mask = "report*7.doc";
  runSearch(state, criteria);
}
BENCHMARK(BM_SearchPrefixMask)->Unit(benchmark::kMillisecond);

void BM_SearchIsoBySize(benchmark::State& state) {
  SearchCriteria criteria;
  criteria.mask = "*.iso";
  criteria.minSize = 4'000'000'000;
  criteria.maxSize = 4'100'000'000;
  runSearch(state, criteria);
}
BENCHMARK(BM_SearchIsoBySize)->Unit(benchmark::kMillisecond);

void BM_SearchDateRange(benchmark::State& state) {
  SearchCriteria criteria;
  criteria.mask = "*";
  criteria.minDate = bench_support::kFirstDay + 1000;
  criteria.maxDate = bench_support::kFirstDay + 1002;
  runSearch(state, criteria);
}
BENCHMARK(BM_SearchDateRange)->Unit(benchmark::kMillisecond);

}  // namespace
