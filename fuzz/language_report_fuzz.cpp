// Reads the language checker's report from output that is the fuzzer's
// input, as the program reads what its checker child wrote: any bytes must
// read without a crash, a hang or an allocation beyond what they can hold,
// and a report that reads must encode back to the very bytes it was read
// from.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/LanguageLibraryCheck.h"
#include "app/LanguageSnapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string output(reinterpret_cast<const char*>(data), size);
  language_snapshot::Snapshot snapshot;
  if (!language_check::ReadCheckerReport(output, snapshot)) return 0;
  const std::string report = language_check::CheckerReport(snapshot);
  if (output.size() < report.size() ||
      output.compare(output.size() - report.size(), report.size(), report) != 0) {
    std::abort();
  }
  return 0;
}
