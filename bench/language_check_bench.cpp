// What the language library's check adds to a start: the check of the
// library built with the program (the program started on itself, the
// library loaded, both languages made current, every name read, the
// library unloaded, the child's end collected), beside what the start
// does with the library in any case (loaded in the process with its
// default language, unloaded) and beside the checker's start and end
// alone (an argument it refuses at once). Wall time: the program waits
// for the child.
#include <benchmark/benchmark.h>

#include <memory>

#include "app/CStandardTextResources.h"
#include "app/LanguageLibraryCheck.h"
#include "platform/os.h"

namespace {

const std::string kProgram = BUILT_PROGRAM_FOLDER "/vantrelodisk";
const std::string kLibrary = BUILT_PROGRAM_FOLDER "/QuendrixResDemo.dll";

void BM_CheckLanguageLibrary(benchmark::State& state) {
  const language_check::ScopedLanguageCheck checker(kProgram);
  for (auto _ : state) {
    const language_check::Verdict verdict = language_check::CheckLanguageLibrary(kLibrary, 0);
    if (!verdict.usable) state.SkipWithError(verdict.cause.c_str());
  }
}
BENCHMARK(BM_CheckLanguageLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadLanguageLibraryInProcess(benchmark::State& state) {
  for (auto _ : state) {
    std::unique_ptr<CStandardTextResources> texts = CStandardTextResources::LoadTrusted(kLibrary);
    if (!texts->IsLibraryLoaded()) state.SkipWithError(texts->RefusalCause().c_str());
  }
}
BENCHMARK(BM_LoadLanguageLibraryInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StartAndEndTheChecker(benchmark::State& state) {
  for (auto _ : state) {
    platform::ChildEnd end;
    platform::os().runWithTimeLimit({kProgram, language_check::kCheckArgument}, 5000, 4096, end);
    if (end.exitCode != language_check::kUsage) state.SkipWithError("the checker did not start");
  }
}
BENCHMARK(BM_StartAndEndTheChecker)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
