// The check of a language library, and the reading of its texts, in a
// child process.
//
// Loading a shared object runs its relocations and initialisers inside the
// loading process, and calling its functions runs its code: one damaged
// byte (of its relocation table, its dynamic section, its ELF header or its
// code) makes the loader or the library crash that process, stop it on an
// assertion or loop for good, and whether it does may depend on where
// memory lies in that process. The library is optional, so the program
// never loads it: a child does, the program itself started with the hidden
// argument kCheckArgument. The child reads every answer the program may
// need (LanguageLibraryReader), unloads the library, and reports them on
// its output, framed at its very end (CheckerReport), with the exit code
// kPassed. The program takes the texts from a child that ended so within
// the time limit and whose report reads well, and refuses the library
// otherwise, saying why.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/LanguageSnapshot.h"

namespace language_check {

// The hidden argument, followed by the library's path and the entry index
// the start will make current (the preferences' setting).
constexpr const char* kCheckArgument = "--check-language-library";

// Exit codes of the checker. Success is not 0, so that a library whose
// initialiser ends the process with exit(0) does not pass.
constexpr int kPassed = 75;
constexpr int kNotLoaded = 76;  // refused by the loader; the cause on the last line
constexpr int kUsage = 77;
constexpr int kTooLarge = 78;  // its texts pass language_snapshot::kMaxBytes

// Milliseconds the checker may take: a healthy check takes a few.
constexpr int64_t kTimeLimitMillis = 5000;

struct Verdict {
  bool present = false;               // a regular file stands at the path
  bool usable = false;                // present, and its checker reported its texts
  std::string cause;                  // when present and not usable: why, in French, UTF-8
  language_snapshot::Snapshot texts;  // when usable: what the checker read
};

// Checks the library at `path`, and reads its texts, in a child process. A
// missing file, or an entry that is no regular file (a folder, a named
// pipe), is absent.
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

// The checker's report: `snapshot` encoded, then its length (4 bytes,
// little-endian) and kReportTag, so that whatever the library or the
// loader wrote before it is skipped.
constexpr const char* kReportTag = "LANGTXT1";
std::string CheckerReport(const language_snapshot::Snapshot& snapshot);
// The snapshot of the report that ends `output`; false when there is none
// or it does not read well.
bool ReadCheckerReport(const std::string& output, language_snapshot::Snapshot& snapshot);

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
