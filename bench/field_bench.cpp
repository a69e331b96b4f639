// Field values on the catalogue's hot path: every file entry stored or
// searched reads or writes its date, an N(20,10) field, through these
// operations. Each call is a structure check, the conversion and, for
// field4str, a copy into the settings object's work buffer.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/field4value.h"

namespace {

constexpr std::array<double, 4> kValues = {2453173.5123456, 12345.6789012345, -0.5, 38000.25};

// A settings object with one table of a single N(20,10) field, in a
// temporary folder removed afterwards.
class Table {
 public:
  Table() {
    char pattern[] = "/tmp/field-bench-XXXXXX";
    folder_ = mkdtemp(pattern);
    code4initLow(&c_, nullptr, code4libraryVersion, code4structSize, 1);
    const FIELD4INFO fields[] = {{"F_DATE", 'N', 20, 10, 0}, {nullptr, 0, 0, 0, 0}};
    d_ = data4create(&c_, (folder_ + "/bench").c_str(), fields, nullptr);
    field_ = d_ != nullptr ? data4field(d_, "F_DATE") : nullptr;
  }
  ~Table() {
    if (d_ != nullptr) data4close(d_);
    code4initUndo(&c_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  FIELD4* field() const { return field_; }

 private:
  std::string folder_;
  CODE4 c_;
  DATA4* d_ = nullptr;
  FIELD4* field_ = nullptr;
};

void BM_FieldAssignDouble(benchmark::State& state) {
  Table table;
  if (table.field() == nullptr) return state.SkipWithError("no table");
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(field4assignDouble(table.field(), kValues[i++ % kValues.size()]));
  }
}
BENCHMARK(BM_FieldAssignDouble);

void BM_FieldDouble(benchmark::State& state) {
  Table table;
  if (table.field() == nullptr) return state.SkipWithError("no table");
  field4assignDouble(table.field(), kValues[0]);
  for (auto _ : state) benchmark::DoNotOptimize(field4double(table.field()));
}
BENCHMARK(BM_FieldDouble);

void BM_FieldStr(benchmark::State& state) {
  Table table;
  if (table.field() == nullptr) return state.SkipWithError("no table");
  field4assignDouble(table.field(), kValues[0]);
  for (auto _ : state) benchmark::DoNotOptimize(field4str(table.field()));
}
BENCHMARK(BM_FieldStr);

}  // namespace
