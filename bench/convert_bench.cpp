// Conversions run for every numeric and date field a record read or write
// touches, and for every key built from one: each must stay well under a
// microsecond and never touch the heap. The "allocs" counter reports heap
// allocations per conversion (operator new is counted below; the
// conversions call no allocator of the C library either).
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

#include "engine/storage/convert4.h"
#include "engine/storage/date4.h"

namespace {

std::atomic<int64_t> allocations{0};

// Values of the widths the catalogue stores: sizes, ids, day counts with a
// fraction.
constexpr std::array<double, 8> kDoubles = {12345.6789012345, 0.125, -98765.4321,   3.0,
                                            2453173.5123456,  1e-7,  4294967296.75, -0.5};
constexpr std::array<int32_t, 8> kLongs = {0, 7, -5, 123456, -2147483647 - 1, 2147483647, 99, -42};
constexpr std::array<const char*, 4> kTexts = {"    12345.6789012345", "         -0.50000000",
                                               "  2453173.5123456000", "                   3"};

void reportAllocations(benchmark::State& state, int64_t before) {
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(allocations.load() - before),
                                                benchmark::Counter::kAvgIterations);
}

void BM_LongToText(benchmark::State& state) {
  char buffer[11];
  size_t i = 0;
  const int64_t before = allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(convert4longToText(kLongs[i++ % kLongs.size()], buffer, 11));
    benchmark::ClobberMemory();
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_LongToText);

void BM_DoubleToText(benchmark::State& state) {
  char buffer[20];
  size_t i = 0;
  const int64_t before = allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(convert4doubleToText(kDoubles[i++ % kDoubles.size()], buffer, 20, 10));
    benchmark::ClobberMemory();
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_DoubleToText);

void BM_TextToDouble(benchmark::State& state) {
  size_t i = 0;
  const int64_t before = allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(convert4textToDouble(kTexts[i++ % kTexts.size()], 20));
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_TextToDouble);

void BM_DateAssignAndLong(benchmark::State& state) {
  char text[8];
  int32_t julian = 2453173;
  const int64_t before = allocations.load();
  for (auto _ : state) {
    date4assign(text, julian++, 0);
    benchmark::DoNotOptimize(date4long(text));
  }
  reportAllocations(state, before);
}
BENCHMARK(BM_DateAssignAndLong);

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
