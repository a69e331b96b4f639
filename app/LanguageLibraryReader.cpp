#include "app/LanguageLibraryReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/os.h"

namespace lib = language_library;
namespace snap = language_snapshot;

LanguageLibraryReader::LanguageLibraryReader(const std::string& path) {
  platform::Os& os = platform::os();
  library_ = os.loadLibrary(path.c_str(), error_);
  if (library_ == nullptr) return;
  query_ = reinterpret_cast<lib::QueryFunction>(os.librarySymbol(library_, lib::kQueryExport));
  name_ = reinterpret_cast<lib::NameFunction>(os.librarySymbol(library_, lib::kNameExport));
  loadString_ =
      reinterpret_cast<lib::LoadStringFunction>(os.librarySymbol(library_, lib::kLoadStringExport));
}

LanguageLibraryReader::~LanguageLibraryReader() { platform::os().freeLibrary(library_); }

int32_t LanguageLibraryReader::query(int32_t selector, int32_t argument, int32_t fallback) const {
  return query_ != nullptr ? query_(selector, argument) : fallback;
}

std::string LanguageLibraryReader::loadString(int64_t stringId) const {
  if (loadString_ == nullptr || stringId < 0 || stringId > UINT32_MAX) return {};
  char buffer[lib::kStringBufferSize] = {};
  const int32_t length =
      loadString_(static_cast<uint32_t>(stringId), buffer, lib::kStringBufferSize);
  // The length is the library's word; the buffer's own NUL bounds it too.
  const size_t kept =
      std::min<size_t>(std::max(length, 0), strnlen(buffer, lib::kStringBufferSize - 1));
  return std::string(buffer, kept);
}

snap::Language LanguageLibraryReader::language(int32_t id, int32_t stringCount) const {
  snap::Language language;
  language.id = id;
  const char* name = name_ != nullptr ? name_(lib::kSelectLanguageName, id) : nullptr;
  language.named = name != nullptr;
  if (name != nullptr) language.name.assign(name, strnlen(name, snap::kMaxText));
  const int64_t first = query(lib::kSelectFirstStringId, id, 0);
  language.strings.reserve(static_cast<size_t>(stringCount));
  for (int32_t i = 0; i < stringCount; i++) language.strings.push_back(loadString(first + i));
  return language;
}

bool LanguageLibraryReader::Read(int32_t startEntry, snap::Snapshot& snapshot) const {
  snapshot = snap::Snapshot{};
  snapshot.defaultLanguage = query(lib::kSelectDefaultLanguage, 0, 0);
  const int32_t entries = std::clamp(query(lib::kSelectLanguageCount, 0, 1), 0, snap::kMaxCount);
  for (int32_t i = 0; i < entries; i++)
    snapshot.entryIds.push_back(query(lib::kSelectLanguageId, i, 0));
  snapshot.startEntry = startEntry;
  snapshot.startEntryId = query(lib::kSelectLanguageId, startEntry, 0);
  snapshot.stringCount =
      std::clamp(query(lib::kSelectStringCount, 0, kCountWithoutAnswer), 0, snap::kMaxCount);

  std::vector<int32_t> ids = {snapshot.defaultLanguage};
  ids.insert(ids.end(), snapshot.entryIds.begin(), snapshot.entryIds.end());
  ids.push_back(snapshot.startEntryId);
  size_t bytes = 24 + 4 * snapshot.entryIds.size();
  for (int32_t id : ids) {
    if (snapshot.Find(id) != nullptr) continue;
    snapshot.languages.push_back(language(id, snapshot.stringCount));
    bytes += snap::EncodedSize(snapshot.languages.back(), snapshot.stringCount);
    if (bytes > snap::kMaxBytes) return false;
  }
  return true;
}
