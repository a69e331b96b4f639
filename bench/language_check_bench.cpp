// What the language library's check costs a start: the check of the
// library built with the program (the program started on itself, the
// library loaded and read whole, unloaded, the report sent and read back),
// beside reading the library in this process (what the program did before
// it had the check) and beside the checker's start and end alone (an
// argument it refuses at once). Wall time: the program waits for the
// child unless the check ran ahead.
#include <benchmark/benchmark.h>

#include <memory>

#include "app/LanguageLibraryCheck.h"
#include "app/LanguageLibraryReader.h"
#include "platform/os.h"

namespace {

const std::string kProgram = BUILT_PROGRAM_FOLDER "/vantrelodisk";
const std::string kLibrary = BUILT_PROGRAM_FOLDER "/QuendrixResDemo.dll";

void BM_CheckLanguageLibrary(benchmark::State& state) {
  const language_check::ScopedLanguageCheck checker(kProgram);
  for (auto _ : state) {
    const language_check::Verdict verdict = language_check::CheckLanguageLibrary(kLibrary, 0);
    if (!verdict.usable)
      state.SkipWithError(language_check::FrenchRefusal(verdict.refusal).c_str());
  }
}
BENCHMARK(BM_CheckLanguageLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadLanguageLibraryInProcess(benchmark::State& state) {
  for (auto _ : state) {
    const LanguageLibraryReader library(kLibrary);
    language_snapshot::Snapshot snapshot;
    if (!library.Read(0, snapshot)) state.SkipWithError(library.Error().c_str());
  }
}
BENCHMARK(BM_ReadLanguageLibraryInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StartAndEndTheChecker(benchmark::State& state) {
  for (auto _ : state) {
    platform::ChildEnd end;
    platform::os().runWithTimeLimit({kProgram, language_check::kCheckArgument}, 5000, 4096, end);
    if (end.exitCode != language_check::kUsage) state.SkipWithError("the checker did not start");
  }
}
BENCHMARK(BM_StartAndEndTheChecker)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
