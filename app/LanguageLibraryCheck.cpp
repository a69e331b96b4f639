#include "app/LanguageLibraryCheck.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <utility>

#include "app/CStandardTextResources.h"
#include "app/ProgramFolder.h"

namespace language_check {
namespace {

// The program that checks, empty for the program's own executable; the
// time it may take. Used on the interface thread only.
std::string& checker() {
  static std::string program;
  return program;
}

int64_t& timeLimit() {
  static int64_t millis = kTimeLimitMillis;
  return millis;
}

// What the checker's output says last: the loader, the sanitizer or the
// checker tells its reason on its last line. One line, cut to a length a
// message box shows.
std::string lastLine(const std::string& output) {
  constexpr size_t kMaxLength = 240;
  size_t end = output.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return {};
  const size_t start = output.rfind('\n', end);
  std::string line = output.substr(start == std::string::npos ? 0 : start + 1,
                                   std::min(end + 1 - (start == std::string::npos ? 0 : start + 1),
                                            kMaxLength));
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') c = ' ';
  }
  return line;
}

std::string signalName(int signal) {
  const char* name = sigabbrev_np(signal);
  return name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(signal);
}

std::string withDetail(std::string cause, const std::string& detail) {
  return detail.empty() ? cause + "." : cause + " : " + detail;
}

std::string failureCause(const platform::ChildEnd& end, int64_t limitMillis) {
  if (end.timedOut) {
    return "Elle bloque le programme : son contrôle a duré plus de " +
           std::to_string((limitMillis + 999) / 1000) + " s.";
  }
  const std::string said = lastLine(end.output);
  if (end.exitCode == kNotLoaded) return said.empty() ? NotLoadedCause(said) : said;
  if (end.exitCode > 128) {
    return withDetail("Elle fait échouer le programme (" + signalName(end.exitCode - 128) + ")",
                      said);
  }
  return withDetail("Elle arrête le programme (code " + std::to_string(end.exitCode) + ")", said);
}

// Every language the program may make current, each once: each entry's,
// the one the start's setting names (which may be no entry's), and the
// library's default, made current as it is loaded.
void exercise(CStandardTextResources& texts, int32_t startEntry) {
  std::set<int32_t> done{texts.GetCurrentLanguage()};
  const int32_t count = texts.GetLanguageCount();
  auto makeCurrent = [&](int32_t id) {
    texts.GetLanguageName(id);
    if (done.insert(id).second) texts.LoadLanguage(id);
  };
  for (int32_t i = 0; i < count; i++) makeCurrent(texts.GetLanguageId(i));
  makeCurrent(texts.GetLanguageId(startEntry));
}

// The check itself, with the settings read by the caller's thread.
Verdict check(const std::string& path, int32_t startEntry, const std::string& program,
              int64_t limitMillis) {
  Verdict verdict;
  const int fd = platform::openRegularFile(path.c_str());
  if (fd == -ENOENT || fd == -ENOTDIR || fd == -EINVAL) return verdict;
  verdict.present = true;
  if (fd < 0) {
    verdict.cause = std::string("Elle ne peut pas être lue : ") + std::strerror(-fd);
    return verdict;
  }
  platform::os().closeFile(fd);

  platform::ChildEnd end;
  const int run = platform::os().runWithTimeLimit(
      {program, kCheckArgument, path, std::to_string(startEntry)}, limitMillis, 4096, end);
  if (run != 0) {
    verdict.cause = std::string("Son contrôle n'a pas pu être lancé : ") + std::strerror(-run);
  } else if (end.timedOut || end.exitCode != kPassed) {
    verdict.cause = failureCause(end, limitMillis);
  } else {
    verdict.usable = true;
  }
  return verdict;
}

std::string checkerProgram() { return checker().empty() ? ProgramPath() : checker(); }

// The check started ahead that has not handed its verdict over yet.
CheckAhead*& pending() {
  static CheckAhead* check = nullptr;
  return check;
}

}  // namespace

Verdict CheckLanguageLibrary(const std::string& path, int32_t startEntry) {
  if (CheckAhead* ahead = pending(); ahead != nullptr && ahead->Matches(path, startEntry)) {
    pending() = nullptr;
    return ahead->Take();
  }
  return check(path, startEntry, checkerProgram(), timeLimit());
}

CheckAhead::CheckAhead(std::string path, int32_t startEntry)
    : path_(std::move(path)), startEntry_(startEntry) {
  const std::string program = checkerProgram();
  const int64_t limit = timeLimit();
  if (!platform::os().startThread(thread_, [this, program, limit] {
        verdict_ = check(path_, startEntry_, program, limit);
      })) {
    verdict_ = check(path_, startEntry_, program, limit);
  }
  pending() = this;
}

CheckAhead::~CheckAhead() {
  if (thread_.joinable()) thread_.join();
  if (pending() == this) pending() = nullptr;
}

bool CheckAhead::Matches(const std::string& path, int32_t startEntry) const {
  return path == path_ && startEntry == startEntry_;
}

Verdict CheckAhead::Take() {
  if (thread_.joinable()) thread_.join();
  return verdict_;
}

std::string NotLoadedCause(const std::string& loaderText) {
  return withDetail("Le système ne peut pas la charger", loaderText);
}

int RunLanguageLibraryCheck(const std::vector<std::string>& arguments) {
  int32_t startEntry = 0;
  if (arguments.size() != 2) return kUsage;
  const std::string& entry = arguments[1];
  const auto parsed = std::from_chars(entry.data(), entry.data() + entry.size(), startEntry);
  if (parsed.ec != std::errc() || parsed.ptr != entry.data() + entry.size()) return kUsage;

  std::unique_ptr<CStandardTextResources> texts = CStandardTextResources::LoadTrusted(arguments[0]);
  if (!texts->IsLibraryLoaded()) {
    std::fprintf(stdout, "%s\n", texts->RefusalCause().c_str());
    return kNotLoaded;
  }
  exercise(*texts, startEntry);
  // Unloading runs the library's finalisers, as the program's end does.
  texts.reset();
  return kPassed;
}

ScopedLanguageCheck::ScopedLanguageCheck(std::string program, int64_t limitMillis)
    : previousChecker_(std::exchange(checker(), std::move(program))),
      previousLimit_(std::exchange(timeLimit(), limitMillis)) {}

ScopedLanguageCheck::~ScopedLanguageCheck() {
  checker() = previousChecker_;
  timeLimit() = previousLimit_;
}

}  // namespace language_check
