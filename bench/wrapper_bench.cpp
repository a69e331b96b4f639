// Indexing a medium into a fresh catalogue: one support with 100,000
// scanned files, then deleting it again.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"

namespace {

constexpr int kFiles = 100000;

void BM_IndexAndDeleteSupport(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    char pattern[] = "/tmp/wrapper-bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    CODE4 code;
    code4initLow(&code, nullptr, 6502, 1611, 0);
    auto db = std::make_unique<TDBWrapper>(code, folder);
    TVolumeInfo volume;
    volume.volumeName = "BENCH";
    volume.cdRom = true;
    std::vector<TFileEntry> entries(kFiles);
    for (int i = 0; i < kFiles; i++) {
      entries[i].name = "file" + std::to_string(i) + ".dat";
      entries[i].extension = ".dat";
      entries[i].directory = "\\dir" + std::to_string(i / 500) + "\\";
      entries[i].attributes = 32;
      entries[i].size = 1000 + i;
      entries[i].date = 45000.5;
    }
    state.ResumeTiming();

    const auto started = std::chrono::steady_clock::now();
    const int32_t support = db->AddScannedSupport("bench", "", 0, kFiles, volume);
    for (TFileEntry& entry : entries) db->AddScannedFile(support, entry, nullptr);
    db->FlushAll();
    const auto indexed = std::chrono::steady_clock::now();
    db->DeleteSupport(support);
    const auto deleted = std::chrono::steady_clock::now();

    state.PauseTiming();
    state.counters["index_ms"] =
        std::chrono::duration<double, std::milli>(indexed - started).count();
    state.counters["delete_ms"] =
        std::chrono::duration<double, std::milli>(deleted - indexed).count();
    db.reset();
    uint64_t bytes = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder)) bytes += file.file_size();
    state.counters["disk_MB"] = bytes / 1e6;
    code4initUndo(&code);
    std::filesystem::remove_all(folder);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_IndexAndDeleteSupport)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
