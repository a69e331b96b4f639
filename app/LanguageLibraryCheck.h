// The check that a language library can be used without harm, made before
// the program loads one.
//
// Loading a shared object runs its relocations and initialisers inside the
// loading process, and the program then calls its functions: one damaged
// byte (in its relocation table, its dynamic section, its ELF header or its
// code) makes the loader or the library crash the process, stop it on an
// assertion or loop for good. The library is optional, so a child process
// first does with it everything the program will do: the child is the
// program itself, started with the hidden argument kCheckArgument, which
// loads the library with the same flags through the same code
// (CStandardTextResources), makes each language current that the start or
// the preferences may make current, reads each language's name, and
// unloads the library as the program's end does. The program loads the
// library only when the child came through all of it within the time
// limit; the preferences then call nothing the child has not called.
//
// Beyond the check's reach: a library that behaves otherwise in the
// program than in the child (damage whose effect depends on where memory
// lies), and a file changed between the check and the load.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"

namespace language_check {

// The hidden argument, followed by the library's path and the entry index
// the start will make current (the preferences' setting).
constexpr const char* kCheckArgument = "--check-language-library";

// Exit codes of the checker. Success is not 0, so that a library whose
// initialiser ends the process with exit(0) does not pass.
constexpr int kPassed = 75;
constexpr int kNotLoaded = 76;  // refused by the loader; the cause on the last line
constexpr int kUsage = 77;

// Milliseconds the checker may take: a healthy check takes a few.
constexpr int64_t kTimeLimitMillis = 5000;

struct Verdict {
  bool present = false;  // a regular file stands at the path
  bool usable = false;   // present, and the checker came through
  std::string cause;     // when present and not usable: why, in French, UTF-8
};

// Checks the library at `path` in a child process. A missing file, or an
// entry that is no regular file (a folder, a named pipe), is absent.
Verdict CheckLanguageLibrary(const std::string& path, int32_t startEntry);

// A check started ahead on a thread of its own, so that the child runs
// while the program's start goes on (the application object, the engine):
// the next CheckLanguageLibrary of the same path and entry takes its
// verdict instead of checking anew. Made and destroyed on the interface
// thread; the destructor waits for the check.
class CheckAhead {
 public:
  CheckAhead(std::string path, int32_t startEntry);
  ~CheckAhead();
  CheckAhead(const CheckAhead&) = delete;
  CheckAhead& operator=(const CheckAhead&) = delete;

  bool Matches(const std::string& path, int32_t startEntry) const;
  // The verdict, once the check ended.
  Verdict Take();

 private:
  const std::string path_;
  const int32_t startEntry_;
  Verdict verdict_;  // written by thread_, read after it was joined
  std::thread thread_;
};

// Why a library was refused, from the loader's own words.
std::string NotLoadedCause(const std::string& loaderText);

// The checker's side, for main: `arguments` follow kCheckArgument. Returns
// the process's exit code.
int RunLanguageLibraryCheck(const std::vector<std::string>& arguments);

// Makes the check start `checker` (in place of the program's own
// executable) and wait at most `limitMillis`, for the guard's lifetime.
// Tests only; guards nest.
class ScopedLanguageCheck {
 public:
  explicit ScopedLanguageCheck(std::string checker, int64_t limitMillis = kTimeLimitMillis);
  ~ScopedLanguageCheck();
  ScopedLanguageCheck(const ScopedLanguageCheck&) = delete;
  ScopedLanguageCheck& operator=(const ScopedLanguageCheck&) = delete;

 private:
  std::string previousChecker_;
  int64_t previousLimit_;
};

}  // namespace language_check
