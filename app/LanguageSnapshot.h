// What a language library answered to every question the program may ask
// it: taken by the checker, a child process that loads the library
// (LanguageLibraryCheck.h), and handed to the program as bytes, so that the
// program never runs the library's code itself.
//
// The encoding, little-endian, every count checked on decoding:
//
//   OFFSET  SIZE  what
//   0       4     the default language's id
//   4       4     entry count n (0..kMaxCount)
//   8       4n    the language id of each entry
//   ..      4     the start's entry (any integer)
//   ..      4     its language id, as the library answered for it
//   ..      4     strings per language s (0..kMaxCount)
//   ..      4     languages m (0..n + 2), each:
//                   4   its id
//                   1   1 when the library named it, else 0
//                   1   name length, then the name's bytes
//                   s   times: length (0 for a missing string), then bytes
//
// Names and strings are Windows-1252 bytes of at most kMaxText bytes, as
// the string buffer of the library's interface leaves them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace language_snapshot {

// Entries, and strings per language, held to 0..kMaxCount.
constexpr int32_t kMaxCount = 4096;
constexpr size_t kMaxText = 255;
// The longest encoding taken: a library with more texts is refused.
constexpr size_t kMaxBytes = 16 << 20;

struct Language {
  int32_t id = 0;
  bool named = false;
  std::string name;
  // Entry i: the string of the language's text i; empty when missing.
  std::vector<std::string> strings;
};

struct Snapshot {
  int32_t defaultLanguage = 0;
  std::vector<int32_t> entryIds;  // by entry index
  int32_t startEntry = 0;
  int32_t startEntryId = 0;
  int32_t stringCount = 0;
  // The default language, each entry's and the start entry's, each once.
  std::vector<Language> languages;

  // The language of that id, or null when the library was not asked.
  const Language* Find(int32_t id) const;
};

std::string Encode(const Snapshot& snapshot);
// The length of the encoding of `language` among `stringCount` strings.
size_t EncodedSize(const Language& language, int32_t stringCount);

// False when `bytes` is not exactly one well-formed snapshot; `snapshot`
// is then unspecified.
bool Decode(std::string_view bytes, Snapshot& snapshot);

}  // namespace language_snapshot
