#include "app/ProgramFolder.h"

#include <optional>
#include <utility>

#include "platform/os.h"

namespace {

// The path a test put in place of the executable's; used on the interface
// thread only.
std::optional<std::string>& overridePath() {
  static std::optional<std::string> path;
  return path;
}

}  // namespace

std::string ProgramPath() {
  if (overridePath()) return *overridePath();
  return platform::os().executablePath();
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

namespace {

// The executable's full name with its extension, if any, replaced.
std::string withExtension(const char* extension) {
  const std::string path = ProgramPath();
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? path.substr(0, dot) : path) + extension;
}

}  // namespace

std::string IniFilePath() { return withExtension(".ini"); }

std::string HelpFilePath() { return withExtension(".chm"); }

ScopedProgramPath::ScopedProgramPath(std::string path)
    : previous_(overridePath().value_or(std::string())), hadPrevious_(overridePath().has_value()) {
  overridePath() = std::move(path);
}

ScopedProgramPath::~ScopedProgramPath() {
  if (hadPrevious_) {
    overridePath() = previous_;
  } else {
    overridePath().reset();
  }
}
