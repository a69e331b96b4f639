// Random 512-byte reads over a 100 MB file: straight from the file layer
// (one pread each, the kernel's page cache warm) against the block cache,
// large enough to hold the whole file or holding a fifth of it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/buffer4.h"
#include "engine/storage/cache4.h"
#include "engine/storage/code4.h"
#include "engine/storage/file4.h"

namespace {

constexpr uint64_t kFileSize = 100ull << 20;
constexpr uint32_t kRead = 512;
constexpr int32_t kWholeFile = 128 << 20;  // cache budgets, in bytes
constexpr int32_t kFifth = 20 << 20;

std::string benchFile() {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/cache_bench_" +
         std::to_string(getpid()) + ".bin";
}

// The file, written once per process and removed at its end.
struct BenchFile {
  BenchFile() : name(benchFile()) {
    CODE4 c;
    code4initLow(&c, nullptr, 6502, 1611, 1);
    c.safety = 0;
    FILE4 f;
    file4create(&f, &c, name.c_str(), 0);
    std::vector<char> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); i++) chunk[i] = static_cast<char>(i * 31 + 7);
    for (uint64_t at = 0; at < kFileSize; at += chunk.size())
      file4write(&f, at, chunk.data(), static_cast<uint32_t>(chunk.size()));
    file4close(&f);
    code4initUndo(&c);
  }
  ~BenchFile() { unlink(name.c_str()); }
  std::string name;
};

const std::string& fileName() {
  static BenchFile file;
  return file.name;
}

// An engine with the file open; with a budget, the cache is started and
// the file read through once, so the runs measure hits (and the misses a
// cache smaller than the file cannot avoid).
struct Engine {
  explicit Engine(int32_t budget) {
    code4initLow(&c, nullptr, 6502, 1611, 1);
    c.accessMode = 1;
    file4open(&f, &c, fileName().c_str(), 0);
    file4cacheSet(&f, 1, file4cacheData, kRead, nullptr);
    if (budget > 0) {
      c.bufferingSize = budget;
      started = code4cacheStart(&c) == 0;
    }
    std::vector<char> chunk(1 << 16);
    for (uint64_t at = 0; at < kFileSize; at += chunk.size())
      file4read(&f, at, chunk.data(), static_cast<uint32_t>(chunk.size()));
  }
  ~Engine() {
    file4close(&f);
    code4initUndo(&c);
  }
  CODE4 c;
  FILE4 f;
  bool started = false;
};

void randomReads(benchmark::State& state, int32_t budget) {
  Engine engine(budget);
  if (budget > 0 && !engine.started) {
    state.SkipWithError("the cache did not start");
    return;
  }
  std::mt19937_64 random(42);
  std::uniform_int_distribution<uint64_t> slot(0, kFileSize / kRead - 1);
  char buffer[kRead];
  for (auto _ : state) {
    const uint32_t got = file4read(&engine.f, slot(random) * kRead, buffer, kRead);
    benchmark::DoNotOptimize(got);
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kRead);
}

void BM_RandomReadUncached(benchmark::State& state) { randomReads(state, 0); }
BENCHMARK(BM_RandomReadUncached);

void BM_RandomReadCachedWholeFile(benchmark::State& state) { randomReads(state, kWholeFile); }
BENCHMARK(BM_RandomReadCachedWholeFile);

void BM_RandomReadCachedFifth(benchmark::State& state) { randomReads(state, kFifth); }
BENCHMARK(BM_RandomReadCachedFifth);

}  // namespace
