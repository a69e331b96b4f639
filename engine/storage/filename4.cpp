#include "engine/storage/filename4.h"

#include <climits>
#include <cstring>

#include "engine/storage/error4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocMake = 90342;
constexpr int32_t kLocPiece = 90343;
constexpr int32_t kLocExtension = 90344;
constexpr int32_t kLocExtensionSet = 90345;
constexpr int32_t kLocPath = 90346;
constexpr int32_t kLocCurrent = 90347;
constexpr int32_t kLocClean = 90348;

// Room for a current directory and a relative name joined to it, before
// cleaning shortens them; longer names cannot be opened anyway.
constexpr size_t kWorkSize = 2 * PATH_MAX;

// The last component of a name starts at `fileStart`; its extension's '.'
// stands at `dot`, which is `length` when there is none.
struct NameParts {
  size_t fileStart = 0;
  size_t dot = 0;
  size_t length = 0;
};

const char* lastOf(const char* begin, const char* end, char c) {
  for (const char* p = end; p != begin;) {
    if (*--p == c) return p;
  }
  return nullptr;
}

NameParts splitName(const char* name, size_t length) {
  NameParts parts;
  parts.length = length;
  const char* slash = lastOf(name, name + length, '/');
  parts.fileStart = slash ? static_cast<size_t>(slash - name) + 1 : 0;
  const char* dot = lastOf(name + parts.fileStart, name + length, '.');
  parts.dot = dot ? static_cast<size_t>(dot - name) : length;
  return parts;
}

// Refuses a request: the buffer, when it has room, is left empty.
int32_t refuse(char* buffer, int32_t size, int32_t location) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  return error4(nullptr, e4parm, location);
}

// Copies `count` bytes (which may lie inside `buffer`) and a terminator,
// or refuses when they do not fit.
int32_t copyFitting(char* buffer, int32_t size, const char* from, size_t count, int32_t location) {
  if (count >= static_cast<size_t>(size)) return refuse(buffer, size, location);
  std::memmove(buffer, from, count);
  buffer[count] = '\0';
  return 0;
}

// The length of a directory's parent, ending with '/'; the root stays.
size_t parentLength(const char* directory, size_t length) {
  while (length > 1 && directory[length - 1] == '/') --length;
  while (length > 1 && directory[length - 1] != '/') --length;
  return length;
}

// Calls `visit(begin, length)` for every component followed by a '/'; the
// last component (not followed by one) is left to the caller, whose
// position is returned.
template <typename Visit>
size_t forEachDirectoryComponent(const char* name, Visit visit) {
  size_t start = 0;
  for (size_t i = 0; name[i] != '\0'; ++i) {
    if (name[i] != '/') continue;
    visit(start, i - start);
    start = i + 1;
  }
  return start;
}

bool isDot(const char* component, size_t length) { return length == 1 && component[0] == '.'; }

bool isDotDot(const char* component, size_t length) {
  return length == 2 && component[0] == '.' && component[1] == '.';
}

}  // namespace

int32_t filename4clean(char* name) {
  if (name == nullptr) return error4(nullptr, e4parmNull, kLocClean);

  // Every "../" needs a named component before it; checked first so that a
  // refused name stays as it was.
  size_t depth = 0;
  bool unresolved = false;
  forEachDirectoryComponent(name, [&](size_t start, size_t length) {
    const char* component = name + start;
    if (isDotDot(component, length)) {
      if (depth == 0) unresolved = true;
      if (depth > 0) --depth;
    } else if (length > 0 && !isDot(component, length)) {
      ++depth;
    }
  });
  if (unresolved) return error4(nullptr, e4name, kLocClean);

  // Rewrites in place: the written part never passes the part read.
  size_t written = 0;
  const size_t last = forEachDirectoryComponent(name, [&](size_t start, size_t length) {
    const char* component = name + start;
    if (isDot(component, length)) return;
    if (isDotDot(component, length)) {
      while (written > 0 && name[written - 1] == '/') --written;
      while (written > 0 && name[written - 1] != '/') --written;
      return;
    }
    std::memmove(name + written, component, length + 1);
    written += length + 1;
  });
  const size_t lastLength = std::strlen(name + last);
  std::memmove(name + written, name + last, lastLength);
  name[written + lastLength] = '\0';
  return 0;
}

int32_t filename4current(char* buffer, int32_t size, const char* name) {
  if (buffer == nullptr || name == nullptr || size < 1) return refuse(buffer, size, kLocCurrent);
  char work[kWorkSize];
  if (name[0] == '/') {
    const size_t length = strnlen(name, kWorkSize);
    if (length == kWorkSize) return refuse(buffer, size, kLocCurrent);
    std::memcpy(work, name, length + 1);
  } else {
    if (!platform::os().currentDirectory(work, sizeof work)) {
      buffer[0] = '\0';
      return -1;
    }
    size_t used = std::strlen(work);
    const char* rest = name;
    for (; std::strncmp(rest, "../", 3) == 0; rest += 3) used = parentLength(work, used);
    if (used == 0 || work[used - 1] != '/') work[used++] = '/';
    const size_t restLength = strnlen(rest, kWorkSize - used);
    if (used + restLength >= kWorkSize) return refuse(buffer, size, kLocCurrent);
    std::memcpy(work + used, rest, restLength + 1);
  }
  const int32_t cleaned = filename4clean(work);
  if (cleaned < 0) {
    buffer[0] = '\0';
    return cleaned;
  }
  return copyFitting(buffer, size, work, std::strlen(work), kLocCurrent);
}

int32_t filename4make(char* buffer, int32_t size, const char* directory, const char* name) {
  if (buffer == nullptr || name == nullptr || size < 1) return refuse(buffer, size, kLocMake);
  const bool nameAlone = name[0] == '/' || directory == nullptr || directory[0] == '\0';
  const size_t directoryLength = nameAlone ? 0 : std::strlen(directory);
  const size_t separator = !nameAlone && directory[directoryLength - 1] != '/' ? 1 : 0;
  const size_t nameLength = std::strlen(name);
  const size_t total = directoryLength + separator + nameLength;
  if (total >= static_cast<size_t>(size)) return refuse(buffer, size, kLocMake);
  // The name moves first, so that either text may already lie in the buffer.
  std::memmove(buffer + directoryLength + separator, name, nameLength + 1);
  if (directoryLength > 0) std::memmove(buffer, directory, directoryLength);
  if (separator) buffer[directoryLength] = '/';
  return 0;
}

int32_t filename4piece(char* buffer, int32_t size, const char* name, int keepPath,
                       int keepExtension) {
  if (buffer == nullptr || name == nullptr || size < 1) return refuse(buffer, size, kLocPiece);
  const NameParts parts = splitName(name, std::strlen(name));
  const size_t begin = keepPath ? 0 : parts.fileStart;
  const size_t end = keepExtension ? parts.length : parts.dot;
  return copyFitting(buffer, size, name + begin, end - begin, kLocPiece);
}

int32_t filename4path(char* buffer, int32_t size, const char* name) {
  if (buffer == nullptr || name == nullptr || size < 1) return refuse(buffer, size, kLocPath);
  const NameParts parts = splitName(name, std::strlen(name));
  const int32_t result = copyFitting(buffer, size, name, parts.fileStart, kLocPath);
  return result < 0 ? result : static_cast<int32_t>(parts.fileStart);
}

int32_t filename4extension(char* buffer, int32_t size, const char* name) {
  if (buffer == nullptr || name == nullptr || size < 3) {
    return error4(nullptr, e4parm, kLocExtension);
  }
  std::memset(buffer, 0, static_cast<size_t>(size));
  const NameParts parts = splitName(name, std::strlen(name));
  if (parts.dot == parts.length) return 0;
  size_t count = parts.length - parts.dot - 1;
  if (count > static_cast<size_t>(size) - 1) count = static_cast<size_t>(size) - 1;
  std::memcpy(buffer, name + parts.dot + 1, count);
  return static_cast<int32_t>(count);
}

int32_t filename4extensionSet(char* name, int32_t size, const char* extension, int replace) {
  if (name == nullptr || extension == nullptr || size < 1) {
    return error4(nullptr, e4parm, kLocExtensionSet);
  }
  size_t length = strnlen(name, static_cast<size_t>(size));
  if (length == static_cast<size_t>(size)) return error4(nullptr, e4parm, kLocExtensionSet);
  while (length > 0 && name[length - 1] == ' ') --length;
  const NameParts parts = splitName(name, length);
  if (parts.dot < length && !replace) {
    name[length] = '\0';
    return 0;
  }
  if (extension[0] == '.') ++extension;
  const size_t extensionLength = std::strlen(extension);
  const size_t total = parts.dot + 1 + extensionLength;
  if (total >= static_cast<size_t>(size)) return error4(nullptr, e4parm, kLocExtensionSet);
  name[parts.dot] = '.';
  std::memmove(name + parts.dot + 1, extension, extensionLength);
  name[total] = '\0';
  return 0;
}
