// Building the keys of the four DBFILES tags: every append of a catalogued
// file builds all four, and a reindex one per record and tag.
//
// Each iteration loads the next of 64 catalogue records into the record
// buffer (as reading a record does) and builds one key. BM_LoadRecord
// measures the load alone. The "allocations" counter counts calls of
// operator new per key built: key building must make none.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "engine/index/expr4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/field4value.h"

namespace {

std::atomic<int64_t> allocations{0};

}  // namespace

// Replaced for counting. Kept out of line: inlined into its callers, the
// pairing of malloc and free behind new and delete draws gcc's
// mismatched-allocation warning.
[[gnu::noinline]] void* operator new(size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

const FIELD4INFO kFilesFields[] = {
    {"F_ID", 'N', 16, 0, 0},    {"F_NAME", 'C', 250, 0, 0},  {"F_EXT", 'C', 10, 0, 0},
    {"F_PATH", 'C', 250, 0, 0}, {"F_SUPPID", 'N', 10, 0, 0}, {"F_COMMENT", 'C', 50, 0, 0},
    {"F_CATEG", 'N', 5, 0, 0},  {"F_CRC", 'C', 33, 0, 0},    {"F_MD5", 'C', 33, 0, 0},
    {"F_DATE", 'F', 20, 10, 0}, {"F_SIZE", 'N', 13, 0, 0},   {"F_ATTR", 'N', 10, 0, 0},
    {"F_TEXT", 'M', 10, 0, 0},  {nullptr, 0, 0, 0, 0},
};

constexpr int kRecords = 64;

// DBFILES holding 64 catalogued files of a few supports, in a folder of
// its own, and the images of their records.
struct Catalogue {
  Catalogue() {
    char pattern[] = "/tmp/eval-bench-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr || chdir(made) != 0) std::abort();
    folder = made;
    code4initLow(&c, nullptr, 6502, 1611, 1);
    c.safety = 0;
    files = data4create(&c, "DBFILES", kFilesFields, nullptr);
    if (files == nullptr) std::abort();
    const char* folders[] = {"\\", "\\Photos\\2023\\Vacances\\", "\\Docs\\Factures\\",
                             "\\Program Files\\Outil\\bin\\"};
    const char* names[] = {"IMG_20230815_123456.jpg", "setup.exe", "Readme.txt",
                           "Facture d'electricite - mars.pdf"};
    for (int i = 0; i < kRecords; i++) {
      data4appendStart(files, 0);
      data4blank(files);
      char name[80];
      std::snprintf(name, sizeof name, "%d_%s", i, names[i % 4]);
      field4assignLong(data4field(files, "F_ID"), 100000 + 7919 * i);
      field4assign(data4field(files, "F_NAME"), name);
      field4assign(data4field(files, "F_PATH"), folders[(i / 4) % 4]);
      field4assignLong(data4field(files, "F_SUPPID"), 1 + i / 16);
      field4assignLong(data4field(files, "F_SIZE"), 4096 * i + 17);
      field4assignDouble(data4field(files, "F_DATE"), 45123.5 + i);
      if (data4append(files) != 0) std::abort();
    }
    const size_t length = files->dataFile->recordLength;
    for (int i = 1; i <= kRecords; i++) {
      if (data4go(files, i) != 0) std::abort();
      images.emplace_back(files->record, files->record + length);
    }
  }
  ~Catalogue() {
    code4initUndo(&c);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  void load(int i) {
    const std::vector<char>& image = images[i % kRecords];
    std::memcpy(files->record, image.data(), image.size());
  }
  std::string folder;
  CODE4 c;
  DATA4* files = nullptr;
  std::vector<std::vector<char>> images;
};

void keyLoop(benchmark::State& state, const char* expression) {
  Catalogue catalogue;
  TAG4FILE tag;
  EXPR4* e = expr4parseLow(catalogue.files, expression, &tag);
  if (e == nullptr) {
    state.SkipWithError("parse failed");
    return;
  }
  int i = 0;
  char* key = nullptr;
  const int64_t before = allocations.load();
  for (auto _ : state) {
    catalogue.load(i++);
    if (expr4key(e, &key, &tag) < 0) {
      state.SkipWithError("key failed");
      break;
    }
    benchmark::DoNotOptimize(key);
  }
  state.counters["allocations"] =
      static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
  expr4free(e);
}

void BM_KeyId(benchmark::State& state) { keyLoop(state, "F_ID"); }
BENCHMARK(BM_KeyId);

void BM_KeySupport(benchmark::State& state) { keyLoop(state, "F_SUPPID"); }
BENCHMARK(BM_KeySupport);

void BM_KeySupportPath(benchmark::State& state) {
  keyLoop(state, "STR(F_SUPPID,5,0)+UPPER(SUBSTR(F_PATH,1,50))");
}
BENCHMARK(BM_KeySupportPath);

void BM_KeyName(benchmark::State& state) { keyLoop(state, "UPPER(SUBSTR(F_NAME,1,60))"); }
BENCHMARK(BM_KeyName);

void BM_LoadRecord(benchmark::State& state) {
  Catalogue catalogue;
  int i = 0;
  for (auto _ : state) {
    catalogue.load(i++);
    benchmark::DoNotOptimize(catalogue.files->record);
  }
}
BENCHMARK(BM_LoadRecord);

}  // namespace
