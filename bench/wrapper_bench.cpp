// Indexing a medium into a fresh catalogue: one support with 100,000
// scanned files, written to disk and finished as the program finishes it
// (FinishChange); then, in the second benchmark, deleting the support
// again.
//
// Counters: index_ms (the insertion, its FlushAll and the finish),
// finish_ms (of those, the finish alone: the indexes synced and their
// change marks cleared, the note cleared), delete_ms, and the sizes of the
// files the insertion left (dbf_MB, cdx_MB, disk_MB in all).
// bench/sqlite_bench.cpp inserts the same rows into SQLite side by side.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/scanned_files.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"

namespace {

using bench_support::kScannedFiles;
using bench_support::scannedFiles;

double millisSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// A fresh catalogue in a temporary folder, for one iteration.
class FreshCatalogue {
 public:
  FreshCatalogue() {
    char pattern[] = "/tmp/wrapper-bench-XXXXXX";
    folder_ = mkdtemp(pattern);
    code4initLow(&code_, nullptr, code4libraryVersion, code4structSize, 0);
    db_ = std::make_unique<TDBWrapper>(code_, folder_);
  }
  ~FreshCatalogue() {
    close();
    code4initUndo(&code_);
    std::filesystem::remove_all(folder_);
  }
  FreshCatalogue(const FreshCatalogue&) = delete;
  FreshCatalogue& operator=(const FreshCatalogue&) = delete;

  TDBWrapper& db() { return *db_; }
  void close() { db_.reset(); }

  // Megabytes of the closed catalogue's files whose names end in
  // `extension` (all of them for an empty one).
  double megabytes(const std::string& extension) const {
    uint64_t bytes = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder_)) {
      const std::string name = file.path().filename().string();
      if (extension.empty() || (name.size() > extension.size() &&
                                name.compare(name.size() - extension.size(), extension.size(),
                                             extension) == 0))
        bytes += file.file_size();
    }
    return static_cast<double>(bytes) / 1e6;
  }

 private:
  std::string folder_;
  CODE4 code_;
  std::unique_ptr<TDBWrapper> db_;
};

// Adds the support and its files, writes them to disk and finishes the
// change; `finishMillis` gets what the finish took beyond the flush.
int32_t indexSupport(TDBWrapper& db, std::vector<TFileEntry>& entries, double* finishMillis) {
  TVolumeInfo volume;
  volume.volumeName = "BENCH";
  volume.cdRom = true;
  const int32_t support = db.AddScannedSupport("bench", "", 0, kScannedFiles, volume);
  for (TFileEntry& entry : entries) db.AddScannedFile(support, entry, nullptr);
  db.FlushAll();
  const auto flushed = std::chrono::steady_clock::now();
  db.FinishChange();
  *finishMillis = millisSince(flushed);
  return support;
}

// What one iteration works on, made outside its timing.
struct Iteration {
  std::vector<TFileEntry> entries = scannedFiles();
  std::unique_ptr<FreshCatalogue> catalogue = std::make_unique<FreshCatalogue>();
};

void BM_IndexSupport(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto [entries, catalogue] = Iteration{};
    state.ResumeTiming();

    const auto started = std::chrono::steady_clock::now();
    double finishMillis = 0;
    indexSupport(catalogue->db(), entries, &finishMillis);
    const double indexMillis = millisSince(started);

    state.PauseTiming();
    state.counters["index_ms"] = indexMillis;
    state.counters["finish_ms"] = finishMillis;
    catalogue->close();
    state.counters["dbf_MB"] = catalogue->megabytes(".dbf");
    state.counters["cdx_MB"] = catalogue->megabytes(".cdx");
    state.counters["disk_MB"] = catalogue->megabytes("");
    catalogue.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_IndexSupport)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_IndexAndDeleteSupport(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto [entries, catalogue] = Iteration{};
    state.ResumeTiming();

    const auto started = std::chrono::steady_clock::now();
    double finishMillis = 0;
    const int32_t support = indexSupport(catalogue->db(), entries, &finishMillis);
    const auto indexed = std::chrono::steady_clock::now();
    catalogue->db().DeleteSupport(support);

    state.PauseTiming();
    state.counters["index_ms"] =
        std::chrono::duration<double, std::milli>(indexed - started).count();
    state.counters["delete_ms"] = millisSince(indexed);
    catalogue.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_IndexAndDeleteSupport)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
