// Shared by the fuzz targets: the fuzzer's input as a file on disk, in a
// folder of this process's own.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

// Writes the input to `leaf` in the work folder and returns its path;
// empty when it cannot be written.
inline std::string fuzz4writeInput(const char* leaf, const uint8_t* data, size_t size) {
  static const std::string folder = [] {
    char pattern[] = "/tmp/fuzz-input-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  const std::string path = folder + "/" + leaf;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return {};
  const bool written = std::fwrite(data, 1, size, out) == size;
  return std::fclose(out) == 0 && written ? path : std::string();
}
