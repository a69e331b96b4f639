#include "app/CStandardTextResources.h"

#include "app/LanguageLibraryCheck.h"
#include "app/ProgramFolder.h"

CStandardTextResources::CStandardTextResources(const std::string& fileName, int32_t startEntry)
    : path_(ProgramFolder() + fileName) {
  language_check::Verdict verdict = language_check::CheckLanguageLibrary(path_, startEntry);
  hasLibrary_ = verdict.usable;
  library_ = std::move(verdict.texts);
  refusal_ = std::move(verdict.refusal);
  LoadLanguage(library_.defaultLanguage);
}

int32_t CStandardTextResources::GetLanguageCount() const {
  return hasLibrary_ ? static_cast<int32_t>(library_.entryIds.size()) : 1;
}

int32_t CStandardTextResources::GetLanguageId(int32_t index) const {
  if (index >= 0 && static_cast<size_t>(index) < library_.entryIds.size())
    return library_.entryIds[static_cast<size_t>(index)];
  return hasLibrary_ && index == library_.startEntry ? library_.startEntryId : 0;
}

std::string CStandardTextResources::GetLanguageName(int32_t languageId) const {
  const language_snapshot::Language* language = library_.Find(languageId);
  return language != nullptr && language->named ? language->name : "Default";
}

bool CStandardTextResources::LoadLanguage(int32_t languageId) {
  current_ = languageId;
  const language_snapshot::Language* language = library_.Find(languageId);
  strings_ = language != nullptr ? &language->strings : nullptr;
  return true;
}

std::string CStandardTextResources::GetString(int32_t id, const std::string& fallback) const {
  if (strings_ == nullptr || id < 0 || static_cast<size_t>(id) >= strings_->size()) return fallback;
  const std::string& text = (*strings_)[static_cast<size_t>(id)];
  return text.empty() ? fallback : text;
}
