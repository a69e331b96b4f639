// The files of a catalogue's data folder kept and put back, for tests that
// run an operation again and again from the same catalogue; and the block
// cache started as the program starts it, but small enough that a few
// hundred rows spill from it before a flush, as they do in a large
// catalogue.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "engine/storage/buffer4.h"
#include "engine/storage/code4.h"
#include "tests/support/disk_file.h"

namespace testing_support {

using FolderFiles = std::map<std::string, std::string>;

inline FolderFiles keepFolder(const std::string& folder) {
  FolderFiles files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) files[entry.path().string()] = readDiskFile(entry.path());
  return files;
}

// Files the folder holds already are written over where they are: making
// a file anew costs the file system more than a run of a test costs.
inline void restoreFolder(const std::string& folder, const FolderFiles& files) {
  std::filesystem::create_directory(folder);
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (!entry.is_regular_file() || !files.contains(entry.path().string()))
      std::filesystem::remove_all(entry.path());
  for (const auto& [name, bytes] : files) writeDiskFile(name, bytes);
}

inline constexpr int32_t kSmallCache = 96 << 10;

inline void startSmallCache(CODE4& c) {
  c.bufferingSize = kSmallCache;
  c.bufferingWriteBehind = 0;
  c.bufferingReadsAround = 1;
  code4cacheStart(&c);
}

}  // namespace testing_support
