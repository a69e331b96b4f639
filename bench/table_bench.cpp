// Tables as the catalogue uses them: appending DBFILES-shaped records with
// their four tags, seeking ids, and walking names in tag order; and one
// small change finished as the program finishes it when it goes idle.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "engine/storage/buffer4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"
#include "tests/support/catalogue_schemas.h"

namespace {

constexpr int kRecords = 100000;

struct Catalogue {
  Catalogue() {
    char pattern[] = "/tmp/table-bench-XXXXXX";
    folder = mkdtemp(pattern);
    code4initLow(&c, nullptr, 6502, 1611, 0);
    c.accessMode = 1;
    c.safety = 0;
  }
  ~Catalogue() {
    code4initUndo(&c);
    std::system(("rm -rf " + folder).c_str());
  }
  DATA4* create() {
    Tag4info tags(c);
    tags.add("T_F_ID", "F_ID", nullptr, r4uniqueContinue, 0);
    tags.add("T_F_SUPPID", "F_SUPPID", nullptr, 0, 0);
    tags.add("T_SUP_PAT", "STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))", nullptr, 0, 0);
    tags.add("T_F_NAME", "UPPER(SUBSTR(F_NAME,1,60))", nullptr, 0, 0);
    return data4create(&c, (folder + "/DBFILES").c_str(), testing_support::kFilesFields,
                       tags.tags());
  }
  static void append(DATA4* d, int id, std::mt19937& random) {
    data4appendStart(d, 0);
    data4blank(d);
    const std::string name = "file" + std::to_string(random() % 1000000) + ".txt";
    const std::string path = "\\dir" + std::to_string(id / 100) + "\\";
    field4assignLong(data4field(d, "F_ID"), id);
    field4assign(data4field(d, "F_NAME"), name.c_str());
    field4assign(data4field(d, "F_EXT"), ".txt");
    field4assign(data4field(d, "F_PATH"), path.c_str());
    field4assignLong(data4field(d, "F_SUPPID"), 1 + id / 10000);
    field4assignLong(data4field(d, "F_CATEG"), -1);
    field4assignDouble(data4field(d, "F_DATE"), 45000.5 + id);
    field4assignLong(data4field(d, "F_SIZE"), id * 17);
    field4assignLong(data4field(d, "F_ATTR"), 32);
    data4append(d);
  }
  std::string folder;
  CODE4 c;
};

void BM_AppendDbfilesRecords(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Catalogue catalogue;
    DATA4* d = catalogue.create();
    std::mt19937 random(1);
    state.ResumeTiming();
    for (int id = 1; id <= kRecords; id++) Catalogue::append(d, id, random);
    data4close(d);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_AppendDbfilesRecords)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SeekIdsAndWalkNames(benchmark::State& state) {
  Catalogue catalogue;
  DATA4* d = catalogue.create();
  std::mt19937 random(2);
  for (int id = 1; id <= kRecords; id++) Catalogue::append(d, id, random);
  for (auto _ : state) {
    data4tagSelect(d, data4tag(d, "T_F_ID"));
    for (int i = 0; i < 10000; i++)
      benchmark::DoNotOptimize(data4seekDouble(d, 1 + random() % kRecords));
    data4tagSelect(d, data4tag(d, "T_F_NAME"));
    int walked = 0;
    for (int rc = data4seek(d, "FILE5"); rc == 0 && walked < 10000; rc = data4skip(d, 1)) walked++;
    benchmark::DoNotOptimize(walked);
  }
  data4close(d);
}
BENCHMARK(BM_SeekIdsAndWalkNames)->Unit(benchmark::kMillisecond);

// One record appended to a table of 10,000 and the change finished
// (data4settle): the index marked and synced before its first changed
// node, the records and nodes synced, the mark cleared and synced. What a
// finished change costs beyond its work is these syncs. Argument 0: no
// block cache; 1: the cache as the catalogue starts it (held writes
// written out by the calling thread).
void BM_AppendOneAndSettle(benchmark::State& state) {
  Catalogue catalogue;
  if (state.range(0) == 1) {
    catalogue.c.bufferingSize = 4 << 20;
    catalogue.c.bufferingWriteBehind = 0;
    catalogue.c.bufferingReadsAround = 1;
    code4cacheStart(&catalogue.c);
  }
  DATA4* d = catalogue.create();
  std::mt19937 random(3);
  int id = 1;
  for (; id <= 10000; id++) Catalogue::append(d, id, random);
  data4settle(d);
  for (auto _ : state) {
    Catalogue::append(d, id++, random);
    if (data4settle(d) != 0) state.SkipWithError("the settle failed");
  }
  data4close(d);
}
BENCHMARK(BM_AppendOneAndSettle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
