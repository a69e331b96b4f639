// CStandardTextResources: the interface texts of the current language,
// fetched by text id from the language library beside the executable
// (language/LanguageLibrary.h), each with the caller's built-in French
// text as the fallback. Without the library the program speaks French.
//
// Texts are Windows-1252 bytes. Every text is copied out of the library
// when a language is loaded, so nothing handed out points into it; the
// library stays loaded for the object's lifetime. What the library says is
// not trusted: its language and string counts are held to 0..kMaxCount,
// a null name counts as "Default", and a string id that overflows is a
// missing string. Nor are its bytes: a child process checks that loading
// and calling it does no harm before it is loaded (LanguageLibraryCheck.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/language/LanguageLibrary.h"

class CStandardTextResources {
 public:
  // The text that stands in the list for a string the library lacks.
  static constexpr const char* kMissingMarker = "<<Resource Not found !>>";
  // Strings per language without a library.
  static constexpr int32_t kCountWithoutLibrary = 300;
  static constexpr int32_t kMaxCount = 4096;

  // Loads `fileName` from the program folder once the check passed (a
  // missing file is no error; a refused one gives RefusalCause) and the
  // library's default language (0 without one). `startEntry` is the entry
  // whose language the start will make current, which the check makes
  // current too.
  explicit CStandardTextResources(const std::string& fileName, int32_t startEntry = 0);
  // Loads the library at `path` without a check: for the checker only.
  static std::unique_ptr<CStandardTextResources> LoadTrusted(const std::string& path);
  ~CStandardTextResources();
  CStandardTextResources(const CStandardTextResources&) = delete;
  CStandardTextResources& operator=(const CStandardTextResources&) = delete;

  // Number of language entries: 1 without the library.
  int32_t GetLanguageCount() const;
  // The language id of an entry: 0 without the library.
  int32_t GetLanguageId(int32_t index) const;
  // The display name of a language: "Default" without the library.
  std::string GetLanguageName(int32_t languageId) const;
  int32_t GetCurrentLanguage() const { return current_; }
  // Makes `languageId` current and copies its strings; always true.
  bool LoadLanguage(int32_t languageId);
  // The string of text id `id` in the current language, or `fallback`
  // when the id is out of range or the library lacks the string.
  std::string GetString(int32_t id, const std::string& fallback) const;

  bool IsLibraryLoaded() const { return library_ != nullptr; }
  const std::string& LibraryPath() const { return path_; }
  // Why the library file in place is not used, in French (UTF-8); empty
  // when it is loaded or there is none.
  const std::string& RefusalCause() const { return refusal_; }

 private:
  struct Trusted {};
  CStandardTextResources(const std::string& path, Trusted);
  void load();
  int32_t query(int32_t selector, int32_t argument, int32_t fallback) const;
  int32_t stringCount() const;
  std::string loadString(int64_t stringId) const;

  std::string path_;
  std::string refusal_;
  void* library_ = nullptr;
  language_library::QueryFunction query_ = nullptr;
  language_library::NameFunction name_ = nullptr;
  language_library::LoadStringFunction loadString_ = nullptr;
  std::vector<std::string> strings_;  // entry i: text id i, or the marker
  int32_t current_ = 0;
};
