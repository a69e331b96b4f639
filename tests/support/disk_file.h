// Whole-file helpers for tests that look at bytes on disk.
#pragma once

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

inline std::string readDiskFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

inline void writeDiskFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
}

inline bool diskFileExists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }

// Runs a shell command and returns what it printed; `status` gets its exit code.
std::string runCommand(const std::string& command, int* status = nullptr);

}  // namespace testing_support
