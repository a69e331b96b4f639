// SQLite beside the catalogue: the rows of bench/wrapper_bench.cpp (one
// support, 100,000 scanned files) inserted into the same three tables with
// the same indexes, each id drawn from the DBID counters, in one
// transaction. Only this benchmark links SQLite; the program never does.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/scanned_files.h"
#include "bench/sqlite_schema.h"

namespace {

double millisSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

void check(sqlite3* db, int rc, benchmark::State& state) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    state.SkipWithError(sqlite3_errmsg(db));
}

// The next id of a table, drawn as the catalogue draws it.
int64_t nextId(sqlite3_stmt* draw, const char* table) {
  sqlite3_bind_text(draw, 1, table, -1, SQLITE_STATIC);
  int64_t id = -1;
  if (sqlite3_step(draw) == SQLITE_ROW) id = sqlite3_column_int64(draw, 0);
  sqlite3_reset(draw);
  return id;
}

void bindText(sqlite3_stmt* s, int column, const std::string& text) {
  sqlite3_bind_text(s, column, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void BM_SqliteIndexSupport(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::vector<TFileEntry> entries = bench_support::scannedFiles();
    char pattern[] = "/tmp/sqlite-bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    sqlite3* db = nullptr;
    check(db, sqlite3_open((folder + "/catalogue.db").c_str(), &db), state);
    check(db, sqlite3_exec(db, kTables, nullptr, nullptr, nullptr), state);
    check(db, sqlite3_exec(db, kIndexes, nullptr, nullptr, nullptr), state);
    check(db,
          sqlite3_exec(db, "INSERT INTO DBID VALUES ('DBSUPPORT', 0), ('DBFILES', 0);", nullptr,
                       nullptr, nullptr),
          state);
    sqlite3_stmt* draw = nullptr;
    sqlite3_stmt* support = nullptr;
    sqlite3_stmt* file = nullptr;
    sqlite3_prepare_v2(db, "UPDATE DBID SET IDINC = IDINC + 1 WHERE TBLNAME = ? RETURNING IDINC",
                       -1, &draw, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO DBSUPPORT VALUES (?, 'CD/DVD', 0, 'BENCH', 0, ?, 'bench', "
                       "45000.5, '')", -1, &support, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO DBFILES VALUES (?, ?, ?, ?, ?, '', -1, '', '', ?, ?, ?, '')",
                       -1, &file, nullptr);
    state.ResumeTiming();

    const auto started = std::chrono::steady_clock::now();
    check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), state);
    const int64_t supportId = nextId(draw, "DBSUPPORT");
    sqlite3_bind_int64(support, 1, supportId);
    sqlite3_bind_int64(support, 2, bench_support::kScannedFiles);
    check(db, sqlite3_step(support), state);
    for (const TFileEntry& entry : entries) {
      sqlite3_bind_int64(file, 1, nextId(draw, "DBFILES"));
      bindText(file, 2, entry.name);
      bindText(file, 3, entry.extension);
      bindText(file, 4, entry.directory);
      sqlite3_bind_int64(file, 5, supportId);
      sqlite3_bind_double(file, 6, entry.date);
      sqlite3_bind_int64(file, 7, entry.size);
      sqlite3_bind_int64(file, 8, entry.attributes);
      check(db, sqlite3_step(file), state);
      sqlite3_reset(file);
    }
    check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), state);
    state.counters["index_ms"] = millisSince(started);

    state.PauseTiming();
    sqlite3_finalize(draw);
    sqlite3_finalize(support);
    sqlite3_finalize(file);
    sqlite3_close(db);
    state.counters["disk_MB"] =
        static_cast<double>(std::filesystem::file_size(folder + "/catalogue.db")) / 1e6;
    std::filesystem::remove_all(folder);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SqliteIndexSupport)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
