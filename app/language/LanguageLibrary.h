// The interface of a language library: a shared object beside the
// executable that holds the interface texts of one or more languages.
//
// It exports three functions with C linkage (arguments 32-bit, caller pops
// them):
//   _DLLUpdate2(selector, argument) -> integer, by the selectors below;
//   _DLLUpdate3(kSelectLanguageName, language id) -> the language's display
//     name, a NUL-terminated Windows-1252 text that stays valid while the
//     library is loaded;
//   _DLLLoadString(string id, buffer, buffer size) -> length: copies the
//     string of that id, Windows-1252, cut to buffer size - 1 bytes and
//     NUL-terminated, into the buffer and returns its length without the
//     NUL; 0 when the library holds no string of that id (an empty string
//     is thus the same as a missing one).
//
// The strings of a language are the ids first .. first + count - 1, where
// first comes from kSelectFirstStringId and count from kSelectStringCount;
// string i of a language is the text that the program shows under its
// text id i.
#pragma once

#include <cstdint>

namespace language_library {

// Selectors of _DLLUpdate2 and _DLLUpdate3.
constexpr int32_t kSelectDefaultLanguage = 2874;  // 0 -> id of the default language
constexpr int32_t kSelectLanguageCount = 73298;   // 0 -> number of language entries
constexpr int32_t kSelectLanguageId = 6413;       // entry index -> language id
constexpr int32_t kSelectFirstStringId = 76576;   // language id -> id of its string 0
constexpr int32_t kSelectStringCount = 43676;     // 0 -> strings per language
constexpr int32_t kSelectLanguageName = 38943;    // language id -> display name (_DLLUpdate3)

constexpr const char* kQueryExport = "_DLLUpdate2";
constexpr const char* kNameExport = "_DLLUpdate3";
constexpr const char* kLoadStringExport = "_DLLLoadString";

using QueryFunction = int32_t (*)(int32_t selector, int32_t argument);
using NameFunction = const char* (*)(int32_t selector, int32_t argument);
using LoadStringFunction = int32_t (*)(uint32_t id, char* buffer, int32_t bufferSize);

// The buffer size the program hands to _DLLLoadString.
constexpr int32_t kStringBufferSize = 255;

}  // namespace language_library
