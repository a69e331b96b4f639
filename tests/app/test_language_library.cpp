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
//
// Three that harm whoever loads them, as damaged libraries do: the small
// one whose initialiser never returns (HANGING_LIBRARY) or ends the process
// with exit code 0 (EXITING_LIBRARY); and one of two languages, 1 and 2,
// whose default language 1 works and whose language 2 crashes as its first
// string is asked for (CRASHING_LIBRARY).
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/language/LanguageLibrary.h"

namespace lib = language_library;

#if defined(HANGING_LIBRARY)
__attribute__((constructor)) static void neverReturn() {
  for (;;) pause();
}
#elif defined(EXITING_LIBRARY)
__attribute__((constructor)) static void endTheProcess() { std::exit(0); }
#endif

extern "C" {

#if defined(CRASHING_LIBRARY)

__attribute__((visibility("default"))) int32_t _DLLUpdate2(int32_t selector, int32_t argument) {
  switch (selector) {
    case lib::kSelectDefaultLanguage:
      return 1;
    case lib::kSelectLanguageCount:
      return 2;
    case lib::kSelectLanguageId:
      return argument + 1;
    case lib::kSelectFirstStringId:
      return argument * 1000;
    case lib::kSelectStringCount:
      return 10;
    default:
      return 0;
  }
}

__attribute__((visibility("default"))) int32_t _DLLLoadString(uint32_t id, char* buffer,
                                                              int32_t size) {
  if (id >= 2000) std::raise(SIGSEGV);
  return std::snprintf(buffer, static_cast<size_t>(size), "string %u", id - 1000);
}

#elif !defined(HOSTILE_LIBRARY)

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
