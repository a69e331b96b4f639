// A language library loaded in this process and read whole: what the
// checker (LanguageLibraryCheck.h) does in its child process, and only it,
// since loading and calling a library runs its code, which may be damaged.
//
// What the library says is not trusted: its language and string counts
// are held to 0..kMaxCount, a null name counts as no name, a string that
// fills the buffer without a NUL keeps what fits with one, and a string id
// that overflows is a missing string.
#pragma once

#include <cstdint>
#include <string>

#include "app/LanguageSnapshot.h"
#include "app/language/LanguageLibrary.h"

class LanguageLibraryReader {
 public:
  // Strings per language of a library that does not answer the question.
  static constexpr int32_t kCountWithoutAnswer = 300;

  // Loads the library at `path` (Os::loadLibrary): its initialisers run.
  explicit LanguageLibraryReader(const std::string& path);
  // Unloads it: its finalisers run.
  ~LanguageLibraryReader();
  LanguageLibraryReader(const LanguageLibraryReader&) = delete;
  LanguageLibraryReader& operator=(const LanguageLibraryReader&) = delete;

  bool IsLoaded() const { return library_ != nullptr; }
  // Why it is not loaded, in the loader's words.
  const std::string& Error() const { return error_; }

  // Every answer the program may need when it starts through entry
  // `startEntry` and when its preferences offer each entry: the counts,
  // each entry's language id, and the name and strings of the default
  // language, of each entry's and of the start entry's. False, with the
  // snapshot partly read, once its encoding would pass
  // language_snapshot::kMaxBytes.
  bool Read(int32_t startEntry, language_snapshot::Snapshot& snapshot) const;

 private:
  int32_t query(int32_t selector, int32_t argument, int32_t fallback) const;
  language_snapshot::Language language(int32_t id, int32_t stringCount) const;
  std::string loadString(int64_t stringId) const;

  std::string error_;
  void* library_ = nullptr;
  language_library::QueryFunction query_ = nullptr;
  language_library::NameFunction name_ = nullptr;
  language_library::LoadStringFunction loadString_ = nullptr;
};
