#include "app/SingleInstanceNames.h"

#include <cstdint>
#include <cstdio>

#include "platform/os.h"

namespace {

constexpr const char* kStemPrefix = "instance-";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kSocketSuffix = ".socket";

// FNV-1a, 64 bits: stable across builds and machines, which std::hash is
// not bound to be.
uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string escaped(const std::string& marker) {
  std::string name;
  for (char c : marker) {
    if (c == '/') {
      name += "%2F";
    } else if (c == '%') {
      name += "%25";
    } else {
      name += c;
    }
  }
  return name;
}

// The user's runtime folder and whether it is the user's alone.
std::string runtimeFolder(bool& isPrivate) {
  const char* folder = platform::os().environment("XDG_RUNTIME_DIR");
  isPrivate = folder != nullptr && folder[0] == '/';
  return isPrivate ? std::string(folder) : std::string("/tmp");
}

}  // namespace

SingleInstanceNames SingleInstanceNamesFor(const std::string& marker) {
  bool isPrivate = false;
  const std::string folder = runtimeFolder(isPrivate);
  std::string prefix = kStemPrefix;
  if (!isPrivate) prefix += std::to_string(platform::os().userId()) + "-";
  std::string stem = prefix + escaped(marker);
  const size_t socketLength = folder.size() + 1 + stem.size() + std::string(kSocketSuffix).size();
  if (socketLength > kMaxSocketPath) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(marker)));
    stem = prefix + hash;
  }
  return {folder + "/" + stem + kLockSuffix, folder + "/" + stem + kSocketSuffix};
}
