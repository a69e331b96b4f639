// Keys are built for every tag on every append and write, and for every
// record a reindex reads: a double key for each numeric field, a collated
// key for each text field under a GENERAL tag. Neither may touch the heap;
// the "allocs" counter reports heap allocations per key.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "engine/index/collate4.h"
#include "engine/index/key4.h"

namespace {

std::atomic<int64_t> allocations{0};

void reportAllocations(benchmark::State& state, int64_t before) {
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocations.load() - before),
                                                benchmark::Counter::kAvgIterations);
}

// Sizes, ids and day counts with a fraction, as the catalogue stores them.
constexpr std::array<double, 8> kDoubles = {12345.0,         0.125, -98765.4321,  3.0,
                                            2453173.5123456, 1e-7,  4294967296.0, -0.5};

// A file name of a catalogued medium in a 60-byte field: Windows-1252
// text with accents and a ligature, blank padded.
std::string name60() {
  std::string name = "Rapport d'activit\xE9 2023 - \xC9quipe r\xE9seau (\x9C uvre).pdf";
  name.resize(60, ' ');
  return name;
}

void BM_DoubleKey(benchmark::State& state) {
  char key[8];
  size_t i = 0;
  const int64_t before = allocations.load();
  for (auto _ : state) {
    key4fromDouble(key, kDoubles[i++ % kDoubles.size()]);
    benchmark::DoNotOptimize(key);
    benchmark::ClobberMemory();
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_DoubleKey);

void BM_DateTimeKey(benchmark::State& state) {
  char key[8];
  int32_t ms = 0;
  const int64_t before = allocations.load();
  for (auto _ : state) {
    key4fromDateTime(key, 2460370, ms);
    ms = (ms + 7919) % 86400000;
    benchmark::DoNotOptimize(key);
    benchmark::ClobberMemory();
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_DateTimeKey);

void BM_GeneralKey60(benchmark::State& state) {
  const std::string name = name60();
  COLLATE4* general = collate4get(collate4generalWindows);
  char key[120];
  int32_t length = 0;
  const int64_t before = allocations.load();
  for (auto _ : state) {
    collate4stringToKey(general, key, name.data(), 60, &length);
    benchmark::DoNotOptimize(key);
    benchmark::ClobberMemory();
  }
  reportAllocations(state, before);
  state.SetBytesProcessed(state.iterations() * 60);
}
BENCHMARK(BM_GeneralKey60);

void BM_GeneralCompare60(benchmark::State& state) {
  std::string other = name60();
  other[40] = 'x';
  COLLATE4* general = collate4get(collate4generalWindows);
  char stored[120], search[120];
  int32_t length = 0;
  collate4stringToKey(general, stored, name60().data(), 60, &length);
  collate4stringToKey(general, search, other.data(), 60, &length);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        collate4keyCompare(stored, search, length, length, 0, general, nullptr, 0));
  }
}
BENCHMARK(BM_GeneralCompare60);

}  // namespace

// Kept out of line, as the deletes below: inlined into one caller, g++
// takes the malloc and free behind them for a mismatched pair.
[[gnu::noinline]] void* operator new(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, size_t) noexcept { std::free(block); }
