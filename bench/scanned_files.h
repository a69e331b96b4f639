// The scanned files of the insertion benchmarks: 100,000 entries named
// file<n>.dat in directories of 500, as a walk of one medium delivers them.
#pragma once

#include <string>
#include <vector>

#include "catalog/Mediatypes.h"

namespace bench_support {

inline constexpr int kScannedFiles = 100000;

inline std::vector<TFileEntry> scannedFiles() {
  std::vector<TFileEntry> entries(kScannedFiles);
  for (int i = 0; i < kScannedFiles; i++) {
    entries[i].name = "file" + std::to_string(i) + ".dat";
    entries[i].extension = ".dat";
    entries[i].directory = "\\dir" + std::to_string(i / 500) + "\\";
    entries[i].attributes = 32;
    entries[i].size = 1000 + i;
    entries[i].date = 45000.5;
  }
  return entries;
}

}  // namespace bench_support
