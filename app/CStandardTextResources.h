// CStandardTextResources: the interface texts of the current language,
// fetched by text id from the language library beside the executable
// (language/LanguageLibrary.h), each with the caller's built-in French
// text as the fallback. Without the library the program speaks French.
//
// Texts are Windows-1252 bytes. The program never loads the library
// itself: loading and calling one runs its code, and one damaged byte of it
// crashes or hangs whoever does. A child process loads it and reads every
// answer the program may need (LanguageLibraryCheck.h); a library whose
// child crashed, stopped, hung or reported nonsense is refused, and
// RefusalCause tells why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/LanguageLibraryCheck.h"
#include "app/LanguageSnapshot.h"

class CStandardTextResources {
 public:
  static constexpr int32_t kMaxCount = language_snapshot::kMaxCount;

  // Takes the texts of `fileName` in the program folder once its check
  // passed (a missing file is no error; a refused one gives RefusalCause)
  // and makes the library's default language current (0 without one).
  // `startEntry` is the entry whose language the start will make current,
  // which the check reads too.
  explicit CStandardTextResources(const std::string& fileName, int32_t startEntry = 0);
  CStandardTextResources(const CStandardTextResources&) = delete;
  CStandardTextResources& operator=(const CStandardTextResources&) = delete;

  // Number of language entries: 1 without the library.
  int32_t GetLanguageCount() const;
  // The language id of an entry: 0 without the library, and for an index
  // that is neither an entry's nor the start entry's.
  int32_t GetLanguageId(int32_t index) const;
  // The display name of a language: "Default" without the library, for a
  // language it does not name, and for one the check did not read.
  std::string GetLanguageName(int32_t languageId) const;
  int32_t GetCurrentLanguage() const { return current_; }
  // Makes `languageId` current with its strings (none for a language the
  // check did not read); always true.
  bool LoadLanguage(int32_t languageId);
  // The string of text id `id` in the current language, or `fallback`
  // when the id is out of range or the library lacks the string.
  std::string GetString(int32_t id, const std::string& fallback) const;

  // Whether the texts come from the library.
  bool HasLibrary() const { return hasLibrary_; }
  const std::string& LibraryPath() const { return path_; }
  // Why the library file in place is not used (Why::kNone when it is used
  // or there is none); its built-in French words (UTF-8), empty then.
  const language_check::Refusal& Refusal() const { return refusal_; }
  std::string RefusalCause() const { return language_check::FrenchRefusal(refusal_); }

 private:
  std::string path_;
  language_check::Refusal refusal_;
  bool hasLibrary_ = false;
  // What the check read, and the strings of the current language in it.
  language_snapshot::Snapshot library_;
  const std::vector<std::string>* strings_ = nullptr;
  int32_t current_ = 0;
};
