// The sort engine on the keys of a rebuild of the catalogue's largest tag:
// 100,000 DBFILES records keyed STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50)),
// 55 bytes a key, put in table order and read back in key order.
//
// BM_Sort/<units>/<workers>: units 0 keeps everything in memory (one big
// unit setting), 1 the default setting (a few runs of 15,360 entries),
// 2 small units of 4 KiB (about a hundred short runs). std::sort over the
// same (key, record) pairs is the yardstick.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/index/sort4.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace {

constexpr size_t kRecords = 100000;
constexpr int32_t kKeyLength = 55;

// Supports of a few thousand files each, their paths in enumeration order
// with random names, as a medium's walk appends them.
const std::vector<std::string>& dbfilesKeys() {
  static const std::vector<std::string> keys = [] {
    std::mt19937 random(7);
    std::vector<std::string> out;
    out.reserve(kRecords);
    int support = 1;
    for (size_t i = 0; i < kRecords; i++) {
      if (random() % 3000 == 0) support++;
      char path[80];
      std::snprintf(path, sizeof path, "\\DIR%03u\\SUB%02u\\FILE%06u.%s",
                    static_cast<unsigned>(random() % 200), static_cast<unsigned>(random() % 30),
                    static_cast<unsigned>(random() % 1000000), random() % 2 ? "JPG" : "TXT");
      char support5[16];
      std::snprintf(support5, sizeof support5, "%5d", support);
      std::string key = std::string(support5) + path;
      key.resize(kKeyLength, ' ');
      out.push_back(std::move(key));
    }
    return out;
  }();
  return keys;
}

const int32_t kUnitSettings[] = {1 << 20, 61440, 4096};

void BM_Sort(benchmark::State& state) {
  CODE4 c;
  const bool workers = state.range(1) != 0;
  code4initLow(&c, nullptr, code4libraryVersion, code4structSize, workers ? 0 : 1);
  c.memSizeSortPool = kUnitSettings[state.range(0)];
  const auto& keys = dbfilesKeys();
  uint32_t runs = 0;
  for (auto _ : state) {
    SORT4 s;
    if (sort4init(&s, &c, kKeyLength, 0) != 0) state.SkipWithError("sort4init");
    for (size_t i = 0; i < keys.size(); i++)
      sort4put(&s, static_cast<int32_t>(i + 1), keys[i].data(), nullptr);
    if (sort4getInit(&s) != 0) state.SkipWithError("sort4getInit");
    runs = s.runCount;
    int32_t record;
    const char* key;
    size_t got = 0;
    while (sort4get(&s, &record, &key, nullptr) == 0) {
      benchmark::DoNotOptimize(key);
      got++;
    }
    if (got != keys.size()) state.SkipWithError("entries lost");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
  state.counters["runs"] = runs;
  code4initUndo(&c);
}
BENCHMARK(BM_Sort)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"units", "workers"})
    ->Unit(benchmark::kMillisecond);

void BM_StdSortYardstick(benchmark::State& state) {
  const auto& keys = dbfilesKeys();
  std::vector<std::pair<const char*, int32_t>> entries(keys.size());
  for (auto _ : state) {
    for (size_t i = 0; i < keys.size(); i++)
      entries[i] = {keys[i].data(), static_cast<int32_t>(i + 1)};
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
      const int byKey = std::memcmp(a.first, b.first, kKeyLength);
      return byKey != 0 ? byKey < 0 : a.second < b.second;
    });
    benchmark::DoNotOptimize(entries.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_StdSortYardstick)->Unit(benchmark::kMillisecond);

}  // namespace
