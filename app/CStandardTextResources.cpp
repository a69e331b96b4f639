#include "app/CStandardTextResources.h"

#include <algorithm>
#include <cstring>

#include "app/LanguageLibraryCheck.h"
#include "app/ProgramFolder.h"
#include "platform/os.h"

namespace lib = language_library;

CStandardTextResources::CStandardTextResources(const std::string& fileName, int32_t startEntry)
    : path_(ProgramFolder() + fileName) {
  const language_check::Verdict verdict = language_check::CheckLanguageLibrary(path_, startEntry);
  if (verdict.usable) {
    load();
  } else {
    refusal_ = verdict.cause;
  }
  LoadLanguage(query(lib::kSelectDefaultLanguage, 0, 0));
}

CStandardTextResources::CStandardTextResources(const std::string& path, Trusted) : path_(path) {
  load();
  LoadLanguage(query(lib::kSelectDefaultLanguage, 0, 0));
}

std::unique_ptr<CStandardTextResources> CStandardTextResources::LoadTrusted(
    const std::string& path) {
  return std::unique_ptr<CStandardTextResources>(new CStandardTextResources(path, Trusted{}));
}

void CStandardTextResources::load() {
  platform::Os& os = platform::os();
  std::string error;
  library_ = os.loadLibrary(path_.c_str(), error);
  if (library_ == nullptr) {
    refusal_ = language_check::NotLoadedCause(error);
    return;
  }
  query_ = reinterpret_cast<lib::QueryFunction>(os.librarySymbol(library_, lib::kQueryExport));
  name_ = reinterpret_cast<lib::NameFunction>(os.librarySymbol(library_, lib::kNameExport));
  loadString_ = reinterpret_cast<lib::LoadStringFunction>(
      os.librarySymbol(library_, lib::kLoadStringExport));
}

CStandardTextResources::~CStandardTextResources() { platform::os().freeLibrary(library_); }

int32_t CStandardTextResources::query(int32_t selector, int32_t argument, int32_t fallback) const {
  return query_ != nullptr ? query_(selector, argument) : fallback;
}

int32_t CStandardTextResources::stringCount() const {
  return std::clamp(query(lib::kSelectStringCount, 0, kCountWithoutLibrary), 0, kMaxCount);
}

int32_t CStandardTextResources::GetLanguageCount() const {
  return std::clamp(query(lib::kSelectLanguageCount, 0, 1), 0, kMaxCount);
}

int32_t CStandardTextResources::GetLanguageId(int32_t index) const {
  return query(lib::kSelectLanguageId, index, 0);
}

std::string CStandardTextResources::GetLanguageName(int32_t languageId) const {
  const char* name = name_ != nullptr ? name_(lib::kSelectLanguageName, languageId) : nullptr;
  if (name == nullptr) return "Default";
  return std::string(name, strnlen(name, lib::kStringBufferSize));
}

std::string CStandardTextResources::loadString(int64_t stringId) const {
  if (loadString_ == nullptr || stringId < 0 || stringId > UINT32_MAX) return kMissingMarker;
  char buffer[lib::kStringBufferSize] = {};
  const int32_t length =
      loadString_(static_cast<uint32_t>(stringId), buffer, lib::kStringBufferSize);
  // The length is the library's word; the buffer's own NUL bounds it too.
  const size_t kept =
      std::min<size_t>(std::max(length, 0), strnlen(buffer, lib::kStringBufferSize - 1));
  if (kept == 0) return kMissingMarker;
  return std::string(buffer, kept);
}

bool CStandardTextResources::LoadLanguage(int32_t languageId) {
  current_ = languageId;
  const int64_t first = query(lib::kSelectFirstStringId, languageId, 0);
  const int32_t count = stringCount();
  strings_.clear();
  strings_.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; i++) strings_.push_back(loadString(first + i));
  return true;
}

std::string CStandardTextResources::GetString(int32_t id, const std::string& fallback) const {
  if (id < 0 || static_cast<size_t>(id) >= strings_.size()) return fallback;
  const std::string& text = strings_[static_cast<size_t>(id)];
  return text == kMissingMarker ? fallback : text;
}
