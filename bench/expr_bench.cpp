// Parsing expressions: the catalogue's keys are parsed each time a table's
// index is opened, and filters each time a search starts.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/index/expr4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"

namespace {

const FIELD4INFO kFilesFields[] = {
    {"F_ID", 'N', 16, 0, 0},    {"F_NAME", 'C', 250, 0, 0},  {"F_EXT", 'C', 10, 0, 0},
    {"F_PATH", 'C', 250, 0, 0}, {"F_SUPPID", 'N', 10, 0, 0}, {"F_COMMENT", 'C', 50, 0, 0},
    {"F_CATEG", 'N', 5, 0, 0},  {"F_CRC", 'C', 33, 0, 0},    {"F_MD5", 'C', 33, 0, 0},
    {"F_DATE", 'F', 20, 10, 0}, {"F_SIZE", 'N', 13, 0, 0},   {"F_ATTR", 'N', 10, 0, 0},
    {"F_TEXT", 'M', 10, 0, 0},  {nullptr, 0, 0, 0, 0},
};

// The DBFILES table, open in a folder of its own.
struct Catalogue {
  Catalogue() {
    char pattern[] = "/tmp/expr-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr || chdir(made) != 0) std::abort();
    folder = made;
    code4initLow(&c, nullptr, 6502, 1611, 1);
    c.safety = 0;
    files = data4create(&c, "DBFILES", kFilesFields, nullptr);
    if (files == nullptr) std::abort();
  }
  ~Catalogue() {
    code4initUndo(&c);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::string folder;
  CODE4 c;
  DATA4* files = nullptr;
};

void parseLoop(benchmark::State& state, const char* text) {
  Catalogue catalogue;
  for (auto _ : state) {
    EXPR4* e = expr4parseLow(catalogue.files, text, nullptr);
    if (e == nullptr) {
      state.SkipWithError("parse failed");
      break;
    }
    benchmark::DoNotOptimize(e->steps);
    expr4free(e);
  }
}

void BM_ParseSupPat(benchmark::State& state) {
  parseLoop(state, "STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))");
}
BENCHMARK(BM_ParseSupPat);

void BM_ParseBareField(benchmark::State& state) { parseLoop(state, "F_ID"); }
BENCHMARK(BM_ParseBareField);

// A search filter of the kind the file search builds: mask, size and date.
void BM_ParseFilter(benchmark::State& state) {
  parseLoop(state,
            "F_SUPPID = 12 .AND. 'TXT' $ UPPER(F_EXT) .AND. F_SIZE >= 1024 .AND. "
            "F_SIZE <= 1048576 .AND. F_DATE >= 38000.5 .AND. .NOT. DELETED()");
}
BENCHMARK(BM_ParseFilter);

}  // namespace
