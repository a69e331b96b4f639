// Indexing a medium into the catalogue: 100,000 AppendFile calls into a
// fresh DBFILES, each drawing its F_ID from DBID as the indexing does, with
// the four tags of DBFILES kept current; the closing of the tables (which
// writes what the engine held back) is counted too. 50 folders of 2,000
// entries, names in no order, sizes up to 5 GB. For comparison, the same
// appends with ids given by the caller: what drawing the ids costs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "catalog/Dbfiledatahandler.h"
#include "catalog/Dbidhandler.h"
#include "catalog/Dbsupportdatahandler.h"
#include "engine/storage/code4.h"

namespace {

constexpr int32_t kFiles = 100000;

void appendLoop(benchmark::State& state, bool drawIds) {
  CODE4 c;
  code4initLow(&c, nullptr, code4libraryVersion, code4structSize, 0);
  c.accessMode = 1;
  std::mt19937 random(11);
  for (auto _ : state) {
    state.PauseTiming();
    char pattern[] = "/tmp/catalog-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    const std::string folder = pattern;
    {
      TIDHandler ids(c, folder);
      TFileDataHandler files(c, folder, &ids);
      TSupportDataHandler supports(c, folder, &ids);
      ids.Open();
      files.Open();
      supports.Open();
      int32_t support = -1;
      supports.AppendSupport(support, "CD/DVD", 0, "PHOTOS", 0x1234abcd, kFiles, "photos", 45000,
                             "");
      state.ResumeTiming();
      std::string path;
      for (int32_t n = 0; n < kFiles; n++) {
        if (n % 2000 == 0) path = "/Photos/" + std::to_string(random() % 100000) + "/";
        const std::string name = "img_" + std::to_string(random() % 1000000) + ".jpg";
        int32_t id = drawIds ? -1 : n + 1;
        if (files.AppendFile(id, name, "jpg", path, support, "", -1, "", "", 45000.5 + n * 1e-5,
                             static_cast<int64_t>(random()) * 2, 32, "") != 0) {
          state.SkipWithError("an append failed");
          break;
        }
      }
      ids.Close();
      files.Close();
      supports.Close();
      state.PauseTiming();
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    state.ResumeTiming();
  }
  code4initUndo(&c);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFiles);
}
void BM_AppendFilesDrawingIds(benchmark::State& state) { appendLoop(state, true); }
BENCHMARK(BM_AppendFilesDrawingIds)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_AppendFilesGivenIds(benchmark::State& state) { appendLoop(state, false); }
BENCHMARK(BM_AppendFilesGivenIds)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
