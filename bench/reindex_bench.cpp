// Rebuilding the production index of a DBFILES table of 100,000 records,
// exclusively, with the catalogue's four tags:
//   T_F_ID      F_ID                                            unique
//   T_F_SUPPID  F_SUPPID
//   T_SUP_PAT   STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))
//   T_F_NAME    UPPER(SUBSTR(F_NAME,1,60))
// 50 supports of 2,000 files each, 20 files a folder, names in no order.
// Each tag alone too: its share of the cost (keys read, sorted, written).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "engine/index/index4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"

namespace {

constexpr int32_t kRecords = 100000;

const FIELD4INFO kFilesFields[] = {
    {"F_ID", 'N', 16, 0, 0},    {"F_NAME", 'C', 250, 0, 0},  {"F_EXT", 'C', 10, 0, 0},
    {"F_PATH", 'C', 250, 0, 0}, {"F_SUPPID", 'N', 10, 0, 0}, {"F_COMMENT", 'C', 50, 0, 0},
    {"F_CATEG", 'N', 5, 0, 0},  {"F_CRC", 'C', 33, 0, 0},    {"F_MD5", 'C', 33, 0, 0},
    {"F_DATE", 'F', 20, 10, 0}, {"F_SIZE", 'N', 13, 0, 0},   {"F_ATTR", 'N', 10, 0, 0},
    {"F_TEXT", 'M', 10, 0, 0},  {nullptr, 0, 0, 0, 0},
};

const TAG4INFO kFilesTags[] = {
    {"T_F_ID", "F_ID", nullptr, 25, 0},
    {"T_F_SUPPID", "F_SUPPID", nullptr, 0, 0},
    {"T_SUP_PAT", "STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))", nullptr, 0, 0},
    {"T_F_NAME", "UPPER(SUBSTR(F_NAME,1,60))", nullptr, 0, 0},
    {},
};

// The table with its records, in a folder of its own, opened exclusively.
struct Catalogue {
  explicit Catalogue(const TAG4INFO* tags) {
    char pattern[] = "/tmp/reindex-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    folder = made;
    code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 0);
    c.safety = 0;
    c.accessMode = 1;
    const std::string name = folder + "/DBFILES";
    files = data4create(&c, name.c_str(), kFilesFields, tags);
    if (files == nullptr || !fill()) std::abort();
    index = reinterpret_cast<INDEX4*>(list4first(&files->indexes));
  }
  ~Catalogue() {
    code4initUndo(&c);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  bool fill() {
    std::mt19937 random(7);
    FIELD4* id = data4field(files, "F_ID");
    FIELD4* name = data4field(files, "F_NAME");
    FIELD4* path = data4field(files, "F_PATH");
    FIELD4* support = data4field(files, "F_SUPPID");
    FIELD4* size = data4field(files, "F_SIZE");
    uint32_t folders[100] = {};
    for (int32_t r = 1; r <= kRecords; r++) {
      if ((r - 1) % 2000 == 0)
        for (uint32_t& f : folders) f = random() % 100000;
      const std::string folderPath =
          "/Photos/" + std::to_string(folders[((r - 1) % 2000) / 20]) + "/Album/";
      const std::string file = "img_" + std::to_string(random() % 1000000) + ".jpg";
      if (data4appendStart(files, 0) != 0 || data4blank(files) != 0) return false;
      field4assignLong(id, r);
      field4assign(name, file.c_str());
      field4assign(path, folderPath.c_str());
      field4assignLong(support, 1 + (r - 1) / 2000);
      field4assignDouble(size, static_cast<double>(random() % 5000000));
      if (data4append(files) != 0) return false;
    }
    return data4flush(files) == 0;
  }

  std::string folder;
  CODE4 c;
  DATA4* files = nullptr;
  INDEX4* index = nullptr;
};

void reindexLoop(benchmark::State& state, const TAG4INFO* tags) {
  Catalogue catalogue(tags);
  for (auto _ : state) {
    if (index4reindex(catalogue.index) != 0) {
      state.SkipWithError("the rebuild failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRecords);
}

void BM_ReindexDbfilesFourTags(benchmark::State& state) { reindexLoop(state, kFilesTags); }
BENCHMARK(BM_ReindexDbfilesFourTags)->Unit(benchmark::kMillisecond);

void BM_ReindexDbfilesOneTag(benchmark::State& state) {
  const TAG4INFO one[] = {kFilesTags[state.range(0)], {}};
  state.SetLabel(one[0].name);
  reindexLoop(state, one);
}
BENCHMARK(BM_ReindexDbfilesOneTag)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
