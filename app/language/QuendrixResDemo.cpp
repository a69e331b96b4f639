// The language library built with the program ("QuendrixResDemo.dll", an
// ELF shared object despite its name): English as its first and default
// language, French as its second. See LanguageLibrary.h for the contract.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/language/LanguageLibrary.h"
#include "app/language/LanguageTexts.h"
#include "platform/ansi.h"

namespace {

namespace lib = language_library;
namespace texts = language_texts;

struct Language {
  int32_t id;            // the Windows language id
  const char* name;      // UTF-8
  uint32_t firstString;  // the string id of its text 0
  const texts::Table* table;
};

const Language kLanguages[] = {
    {1033, "English", 1000, &texts::kEnglish},
    {1036, "Français", 2000, &texts::kFrench},
};
constexpr int32_t kLanguageCount = sizeof(kLanguages) / sizeof(kLanguages[0]);

const Language* languageById(int32_t id) {
  for (const Language& language : kLanguages) {
    if (language.id == id) return &language;
  }
  return nullptr;
}

// The names in Windows-1252, made once and kept while the library is loaded.
const std::string& ansiName(const Language& language) {
  static const std::string names[kLanguageCount] = {platform::utf8ToAnsi(kLanguages[0].name),
                                                    platform::utf8ToAnsi(kLanguages[1].name)};
  return names[&language - kLanguages];
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t _DLLUpdate2(int32_t selector, int32_t argument) {
  switch (selector) {
    case lib::kSelectDefaultLanguage:
      return kLanguages[0].id;
    case lib::kSelectLanguageCount:
      return kLanguageCount;
    case lib::kSelectLanguageId:
      return argument >= 0 && argument < kLanguageCount ? kLanguages[argument].id : 0;
    case lib::kSelectFirstStringId: {
      const Language* language = languageById(argument);
      return language != nullptr ? static_cast<int32_t>(language->firstString) : 0;
    }
    case lib::kSelectStringCount:
      return texts::kTextCount;
    default:
      return 0;
  }
}

__attribute__((visibility("default"))) const char* _DLLUpdate3(int32_t selector, int32_t argument) {
  const Language* language = languageById(argument);
  if (selector != lib::kSelectLanguageName || language == nullptr) return "";
  return ansiName(*language).c_str();
}

__attribute__((visibility("default"))) int32_t _DLLLoadString(uint32_t id, char* buffer,
                                                              int32_t bufferSize) {
  if (buffer == nullptr || bufferSize <= 0) return 0;
  buffer[0] = '\0';
  for (const Language& language : kLanguages) {
    if (id < language.firstString || id - language.firstString >= texts::kTextCount) continue;
    const char* text = (*language.table)[id - language.firstString];
    if (text == nullptr) return 0;
    const std::string ansi = platform::utf8ToAnsi(text);
    const size_t length = std::min(ansi.size(), static_cast<size_t>(bufferSize - 1));
    std::memcpy(buffer, ansi.data(), length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
  }
  return 0;
}

}  // extern "C"
