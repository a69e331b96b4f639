// Archives of a catalogue of 1,000,000 files (bench/million_archive.h: 500
// supports of 2,000 files each). The import reads such an archive into an
// empty catalogue (every support and file appended with new ids, the
// catalogue flushed after each support); the export writes that catalogue
// back out.
// SQLite reading a script of the same rows runs beside the import.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/million_archive.h"
#include "bench/sqlite_schema.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "features/archive/ArchiveExport.h"
#include "features/archive/ArchiveImport.h"

namespace {

using bench_support::forEachArchiveRow;
constexpr int32_t kSupports = bench_support::kArchiveSupports;
constexpr int64_t kFiles = bench_support::kArchiveFiles;

std::string makeFolder() { return bench_support::makeBenchFolder("archive-bench"); }

// A text as an SQL literal.
std::string sqlText(const std::string& text) {
  std::string literal = "'";
  for (char ch : text) literal += ch == '\'' ? std::string("''") : std::string(1, ch);
  return literal + "'";
}

// The same rows as sqlite3's .dump writes a database of the catalogue's
// tables: one transaction, the tables, their rows, then their indexes.
void writeSqlDump(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out.precision(17);
  out << "BEGIN TRANSACTION;\n" << kTables;
  out << "INSERT INTO DBID VALUES('DBSUPPORT'," << kSupports << ");\n"
      << "INSERT INTO DBID VALUES('DBFILES'," << kFiles << ");\n";
  forEachArchiveRow(
      [&](const TSupportRecord& s) {
        out << "INSERT INTO DBSUPPORT VALUES(" << s.id << "," << sqlText(s.type) << "," << s.size
            << "," << sqlText(s.volume) << "," << s.volumeSerial << "," << s.fileCount << ","
            << sqlText(s.userId) << "," << s.dateRecorded << "," << sqlText(s.text) << ");\n";
      },
      [&](const TFileRecord& f) {
        out << "INSERT INTO DBFILES VALUES(" << f.id << "," << sqlText(f.name) << ","
            << sqlText(f.ext) << "," << sqlText(f.path) << "," << f.supportId << ","
            << sqlText(f.comment) << "," << f.category << "," << sqlText(f.crc) << ","
            << sqlText(f.md5) << "," << f.date << "," << f.size << "," << f.attributes << ","
            << sqlText(f.text) << ");\n";
      });
  out << kIndexes << "COMMIT;\n";
  if (!out) std::abort();
}

// A fresh catalogue in its own folder, with the engine it runs on.
struct Catalogue {
  Catalogue() : folder(makeFolder()) {
    code4initLow(&code, nullptr, code4libraryVersion, code4structSize, 0);
    db = std::make_unique<TDBWrapper>(code, folder);
  }
  ~Catalogue() {
    db.reset();
    code4initUndo(&code);
    std::filesystem::remove_all(folder);
  }
  std::string folder;
  CODE4 code;
  std::unique_ptr<TDBWrapper> db;
};

std::string archivePath() { return bench_support::millionArchivePath("archive-bench"); }

void BM_ImportMillionFiles(benchmark::State& state) {
  const std::string path = archivePath();
  for (auto _ : state) {
    state.PauseTiming();
    auto catalogue = std::make_unique<Catalogue>();
    state.ResumeTiming();
    const archive::ImportResult result = archive::ImportArchive(*catalogue->db, path, {});
    state.PauseTiming();
    if (result.status != archive::ImportStatus::kFinished || result.counts.filesAdded != kFiles)
      state.SkipWithError("the import did not add every file");
    catalogue.reset();
    state.ResumeTiming();
  }
  state.counters["archive_MB"] = std::filesystem::file_size(path) / 1e6;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFiles);
}
BENCHMARK(BM_ImportMillionFiles)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// SQLite beside the import: `sqlite3 <new database> .read <dump>`, the dump
// holding the same rows (written before the timing). Needs the sqlite3
// program, which scripts/bench installs for it.
void BM_SqliteReadMillionFiles(benchmark::State& state) {
  if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) {
    state.SkipWithError("the sqlite3 program is not installed");
    return;
  }
  const std::string folder = makeFolder();
  writeSqlDump(folder + "/million.sql");
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(folder + "/million.db");
    const std::string command =
        "sqlite3 " + folder + "/million.db '.read " + folder + "/million.sql'";
    state.ResumeTiming();
    if (std::system(command.c_str()) != 0) state.SkipWithError("sqlite3 failed");
  }
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFiles);
}
BENCHMARK(BM_SqliteReadMillionFiles)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_ExportMillionFiles(benchmark::State& state) {
  Catalogue catalogue;
  if (archive::ImportArchive(*catalogue.db, archivePath(), {}).counts.filesAdded != kFiles) {
    state.SkipWithError("the catalogue could not be built");
    return;
  }
  // Beside the catalogue's folder: an export never writes into it.
  const std::string folder = makeFolder();
  const std::string target = folder + "/export.cex";
  for (auto _ : state) {
    const archive::ExportResult result =
        archive::ExportArchive(*catalogue.db, target, archive::kWholeCatalogue, {});
    if (result.status != archive::ExportStatus::kDone || result.files != kFiles) {
      state.SkipWithError("the export did not write every file");
      break;
    }
  }
  std::error_code ignored;
  state.counters["archive_MB"] = std::filesystem::file_size(target, ignored) / 1e6;
  std::filesystem::remove_all(folder);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFiles);
}
BENCHMARK(BM_ExportMillionFiles)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
