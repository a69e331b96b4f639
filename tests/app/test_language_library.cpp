// Language libraries for the loader's tests, built from this file twice.
//
// The small one: one language (id 7) of 300 strings, "string <i>" for
// string i, except that string 7 is missing, string 9 is "%s items" (a
// translation of "%d items" with the wrong conversion) and string 10 is
// "%d éléments" in Windows-1252; it exports no language names.
//
// The hostile one (HOSTILE_LIBRARY): counts far beyond any range, a
// negative first string id, strings that overflow the buffer without a
// NUL and claim lengths they do not have, and a null language name.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/language/LanguageLibrary.h"

namespace lib = language_library;

extern "C" {

#ifndef HOSTILE_LIBRARY

__attribute__((visibility("default"))) int32_t _DLLUpdate2(int32_t selector, int32_t argument) {
  switch (selector) {
    case lib::kSelectDefaultLanguage:
      return 7;
    case lib::kSelectLanguageCount:
      return 1;
    case lib::kSelectLanguageId:
      return argument == 0 ? 7 : 0;
    case lib::kSelectFirstStringId:
      return argument == 7 ? 500 : 0;
    case lib::kSelectStringCount:
      return 300;
    default:
      return 0;
  }
}

__attribute__((visibility("default"))) int32_t _DLLLoadString(uint32_t id, char* buffer,
                                                              int32_t size) {
  if (id < 500 || id >= 800 || id == 507) return 0;
  const uint32_t i = id - 500;
  if (i == 9) return std::snprintf(buffer, static_cast<size_t>(size), "%%s items");
  if (i == 10) return std::snprintf(buffer, static_cast<size_t>(size), "%%d \xE9l\xE9ments");
  return std::snprintf(buffer, static_cast<size_t>(size), "string %u", i);
}

#else

__attribute__((visibility("default"))) int32_t _DLLUpdate2(int32_t selector, int32_t) {
  switch (selector) {
    case lib::kSelectLanguageCount:
    case lib::kSelectStringCount:
      return 1000000;
    case lib::kSelectFirstStringId:
      return -2;
    default:
      return 0;
  }
}

__attribute__((visibility("default"))) const char* _DLLUpdate3(int32_t, int32_t) { return nullptr; }

__attribute__((visibility("default"))) int32_t _DLLLoadString(uint32_t, char* buffer,
                                                              int32_t size) {
  std::memset(buffer, 'x', static_cast<size_t>(size));
  return 100000;
}

#endif

}  // extern "C"
