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
#include "app/TextFormat.h"

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

// Why a library in place is not used.
struct Refusal {
  enum class Why {
    kNone,
    kUnreadable,  // `detail`: the system's words
    kNotStarted,  // the checker could not start; `detail`: the system's words
    kHangs,       // the check took more than `number` seconds
    kNotLoaded,   // the loader refused it; `detail`: what it said, maybe nothing
    kTooLarge,    // its texts pass language_snapshot::kMaxBytes
    kCrashes,     // the checker died of the signal `name`; `detail` as kNotLoaded
    kStops,       // the checker ended with code `number`; `detail` as kNotLoaded
    kBadReport,   // the checker's report does not read well
  };
  Why why = Why::kNone;
  int64_t number = 0;
  std::string name;
  std::string detail;  // one line, UTF-8
};

// A refusal in words: `wording` is called once with the text's id, its
// built-in French (a UTF-8 printf format) and the values that fill it, and
// its result returned. The interface passes LocalFormat, so that the words
// follow the language; FrenchRefusal the built-in text alone.
template <class Format>
auto WordRefusal(const Refusal& r, Format&& wording) {
  using Why = Refusal::Why;
  const bool said = !r.detail.empty();
  switch (r.why) {
    case Why::kUnreadable:
      return wording(242, "Elle ne peut pas être lue : %s", {r.detail});
    case Why::kNotStarted:
      return wording(243, "Son contrôle n'a pas pu être lancé : %s", {r.detail});
    case Why::kHangs:
      return wording(244, "Elle bloquerait le programme : son contrôle a duré plus de %d s.",
                     {r.number});
    case Why::kNotLoaded:
      return said ? wording(245, "Le système ne peut pas la charger : %s", {r.detail})
                  : wording(246, "Le système ne peut pas la charger.", {});
    case Why::kTooLarge:
      return wording(247, "Elle contient trop de textes.", {});
    case Why::kCrashes:
      return said ? wording(248, "Elle ferait échouer le programme (%s) : %s", {r.name, r.detail})
                  : wording(249, "Elle ferait échouer le programme (%s).", {r.name});
    case Why::kStops:
      return said
                 ? wording(250, "Elle arrêterait le programme (code %d) : %s", {r.number, r.detail})
                 : wording(251, "Elle arrêterait le programme (code %d).", {r.number});
    case Why::kBadReport:
    case Why::kNone:
      break;
  }
  return wording(252, "Son contrôle a rendu un rapport illisible.", {});
}

// The refusal's built-in French words (UTF-8); empty for kNone.
std::string FrenchRefusal(const Refusal& refusal);

struct Verdict {
  bool present = false;               // a regular file stands at the path
  bool usable = false;                // present, and its checker reported its texts
  Refusal refusal;                    // when present and not usable: why
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
