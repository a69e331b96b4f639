// Imports into a catalogue whose file table passes 4 GiB: what a million
// files cost as the table grows. Its rows are 711 bytes: it passes 4 GiB
// at about its 6,040,000th row.
//
// BM_ImportNthMillion/n imports the archive of a million files
// (million_archive.h) as the n-th million of one catalogue kept for the
// whole run; the millions before it are imported untimed when a filter
// left them out. The seventh million crosses 4 GiB, the eighth lies past
// it. They need about 7.5 GB of free disk under /tmp, and say so rather
// than fill it.
//
// BM_ImportMillionAfterSparseRows/g imports the same million into a
// catalogue whose file table begins with g GiB of rows of zeros, sparse,
// which its header counts: the same index, the same rows and the same
// work as an import into an empty catalogue, only the table's offsets
// differ. About 1 GB of disk each.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/million_archive.h"
#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "engine/storage/endian4.h"
#include "features/archive/ArchiveImport.h"

namespace {

using bench_support::kArchiveFiles;

constexpr uint64_t kGiB = 1ull << 30;
// Eight millions of rows, their index and their memos, with room to spare.
constexpr uint64_t kDiskForEightMillions = 7500ull << 20;
constexpr uint64_t kDiskForOneMillion = 1200ull << 20;

std::string archivePath() { return bench_support::millionArchivePath("large-archive"); }

bool importMillion(TDBWrapper& db) {
  archive::ImportCallbacks callbacks;
  // Every million repeats the serials of the one before.
  callbacks.askDuplicate = [](const TSupportRecord&) {
    return archive::DuplicateAnswer{true, true};
  };
  const archive::ImportResult result = archive::ImportArchive(db, archivePath(), callbacks);
  return result.status == archive::ImportStatus::kFinished &&
         result.counts.filesAdded == kArchiveFiles;
}

struct Catalogue {
  Catalogue() : folder(bench_support::makeBenchFolder("large-catalogue")) {
    code4initLow(&code, nullptr, code4libraryVersion, code4structSize, 0);
    open();
  }
  ~Catalogue() {
    db.reset();
    code4initUndo(&code);
    std::filesystem::remove_all(folder);
  }
  void open() { db = std::make_unique<TDBWrapper>(code, folder); }
  uint64_t tableBytes() const { return std::filesystem::file_size(folder + "/DBFILES.dbf"); }

  std::string folder;
  CODE4 code;
  std::unique_ptr<TDBWrapper> db;
  int millions = 0;
};

bool diskHolds(uint64_t bytes) { return std::filesystem::space("/tmp").available >= bytes; }

void BM_ImportNthMillion(benchmark::State& state) {
  static Catalogue growing;
  const int n = static_cast<int>(state.range(0));
  if (growing.millions >= n) {
    state.SkipWithError("this million was imported already");
    return;
  }
  if (!diskHolds(kDiskForEightMillions - growing.tableBytes())) {
    state.SkipWithError("needs about 7.5 GB free under /tmp");
    return;
  }
  archivePath();
  while (growing.millions < n - 1) {
    if (!importMillion(*growing.db)) state.SkipWithError("an untimed million failed");
    growing.millions++;
  }
  const uint64_t before = growing.tableBytes();
  for (auto _ : state) {
    if (!importMillion(*growing.db)) state.SkipWithError("the import did not add every file");
  }
  growing.millions++;
  state.counters["table_GiB_before"] = static_cast<double>(before) / kGiB;
  state.counters["table_GiB_after"] = static_cast<double>(growing.tableBytes()) / kGiB;
  state.SetItemsProcessed(kArchiveFiles);
}
BENCHMARK(BM_ImportNthMillion)
    ->DenseRange(1, 8)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

// Makes the header of the data file `name` count rows of zeros from its
// end on until it holds `length` bytes at least, ended by its end-of-file
// mark; the rows are a hole in the file.
void growSparse(const std::string& name, uint64_t length) {
  const int fd = open(name.c_str(), O_RDWR | O_CLOEXEC);
  unsigned char header[12];
  if (fd < 0 || pread(fd, header, sizeof header, 0) != 12) std::abort();
  const uint64_t start = endian4::readLe16(header + 8);
  const uint64_t recordLength = endian4::readLe16(header + 10);
  const uint64_t count = (length - start + recordLength - 1) / recordLength;
  endian4::writeLe32(header + 4, static_cast<uint32_t>(count));
  const uint64_t end = start + count * recordLength;
  const char mark = 0x1A;
  if (pwrite(fd, header + 4, 4, 4) != 4 || ftruncate(fd, static_cast<off_t>(end)) != 0 ||
      pwrite(fd, &mark, 1, static_cast<off_t>(end)) != 1)
    std::abort();
  close(fd);
}

void BM_ImportMillionAfterSparseRows(benchmark::State& state) {
  const uint64_t head = static_cast<uint64_t>(state.range(0)) * kGiB;
  if (!diskHolds(kDiskForOneMillion)) {
    state.SkipWithError("needs about 1.2 GB free under /tmp");
    return;
  }
  archivePath();
  uint64_t after = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto catalogue = std::make_unique<Catalogue>();
    if (head > 0) {
      catalogue->db.reset();
      growSparse(catalogue->folder + "/DBFILES.dbf", head);
      catalogue->open();
    }
    state.ResumeTiming();
    if (!importMillion(*catalogue->db)) state.SkipWithError("the import did not add every file");
    state.PauseTiming();
    after = catalogue->tableBytes();
    catalogue.reset();
    state.ResumeTiming();
  }
  state.counters["table_GiB_after"] = static_cast<double>(after) / kGiB;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kArchiveFiles);
}
BENCHMARK(BM_ImportMillionAfterSparseRows)
    ->Arg(0)
    ->Arg(2)
    ->Arg(5)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
