// Walking a large tag from its first key to its last with the block cache
// started as the catalogue starts it (32 MB, an exclusive table, reads
// around the cache for the data file) and cold: every walk opens the table
// afresh, so that the engine holds none of its nodes.
//
// The table: 200,000 records whose 40-byte names were appended in no
// order, as a catalogue's file-name tag grows, so that neighbouring leaves
// lie scattered over the index file.
//   BM_TagWalk/<page cache>/<workers>       the tag alone (tagfile4skip)
//   BM_TableWalk/<page cache>/<workers>     the table in tag order
//                                           (data4skip, each record read)
// page cache 0: the files were dropped from the kernel's page cache before
// the walk; 1: they stay there from the walk before. workers 0: the engine
// runs without its read-ahead and write-behind workers.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/buffer4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"

namespace {

constexpr int kRecords = 200000;
constexpr int32_t kCacheBytes = 32 << 20;

const FIELD4INFO kFields[] = {
    {"NAME", 'C', 40, 0, 0}, {"SIZE", 'N', 12, 0, 0}, {nullptr, 0, 0, 0, 0}};

// The table, made once per program in a folder of its own and removed at
// its end.
struct WalkTable {
  WalkTable() {
    folder =
        std::filesystem::temp_directory_path() / ("tag_walk_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    path = (folder / "walk").string();
    CODE4 c;
    code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 0);
    c.safety = 0;
    c.accessMode = 1;
    startCache(c);
    Tag4info tags(c);
    tags.add("T_NAME", "NAME", nullptr, 0, 0);
    DATA4* d = data4create(&c, path.c_str(), kFields, tags.tags());
    std::mt19937 random(11);
    for (int r = 1; r <= kRecords; r++) {
      data4appendStart(d, 0);
      data4blank(d);
      const std::string name = "file " + std::to_string(random() % 1000000000) + ".dat";
      field4assign(data4field(d, "NAME"), name.c_str());
      field4assignLong(data4field(d, "SIZE"), static_cast<int32_t>(random() % 100000));
      data4append(d);
    }
    data4close(d);
    code4initUndo(&c);
  }
  ~WalkTable() { std::filesystem::remove_all(folder); }

  static void startCache(CODE4& c) {
    c.bufferingSize = kCacheBytes;
    c.bufferingWriteBehind = 0;
    c.bufferingReadsAround = 1;
    code4cacheStart(&c);
  }

  void dropFromPageCache() const {
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
      const int fd = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      fdatasync(fd);
      posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      ::close(fd);
    }
  }

  std::filesystem::path folder;
  std::string path;
};

const WalkTable& table() {
  static const WalkTable made;
  return made;
}

// Opens the table in a fresh engine for each walk; `walk` returns the
// entries it visited.
template <class Walk>
void run(benchmark::State& state, Walk&& walk) {
  const WalkTable& t = table();
  const bool pageCacheWarm = state.range(0) != 0;
  const bool workers = state.range(1) != 0;
  int64_t visited = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!pageCacheWarm) t.dropFromPageCache();
    CODE4 c;
    code4initLow(&c, nullptr, code4libraryVersion, code4structSize, workers ? 0 : 1);
    c.accessMode = 1;
    WalkTable::startCache(c);
    DATA4* d = data4open(&c, t.path.c_str());
    data4tagSelect(d, data4tag(d, "T_NAME"));
    state.ResumeTiming();
    visited = walk(d);
    state.PauseTiming();
    data4close(d);
    code4initUndo(&c);
    state.ResumeTiming();
  }
  if (visited != kRecords) state.SkipWithError("the walk missed entries");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * visited);
}

void BM_TagWalk(benchmark::State& state) {
  run(state, [](DATA4* d) {
    TAG4FILE* t = data4tagSelected(d)->tagFile;
    int64_t visited = 0;
    if (tagfile4top(t) != 0) return visited;
    do {
      visited++;
    } while (tagfile4skip(t, 1) == 1);
    return visited;
  });
}

void BM_TableWalk(benchmark::State& state) {
  run(state, [](DATA4* d) {
    int64_t visited = 0;
    for (int rc = data4top(d); rc == 0; rc = data4skip(d, 1)) visited++;
    return visited;
  });
}

BENCHMARK(BM_TagWalk)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"pagecache", "workers"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableWalk)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"pagecache", "workers"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
