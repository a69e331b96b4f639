#include "app/LanguageLibraryCheck.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "app/LanguageLibraryReader.h"
#include "app/ProgramFolder.h"
#include "platform/os.h"

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

// What is kept of the checker's output: its report, and room for what the
// library or the loader wrote before it.
constexpr size_t kMaxOutput = language_snapshot::kMaxBytes + (64 << 10);

// What the checker's output says last: the loader, the sanitizer or the
// checker tells its reason on its last line. One line, cut to a length a
// message box shows.
std::string lastLine(const std::string& output) {
  constexpr size_t kMaxLength = 240;
  const size_t end = output.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return {};
  const size_t newline = output.rfind('\n', end);
  const size_t start = newline == std::string::npos ? 0 : newline + 1;
  std::string line = output.substr(start, std::min(end + 1 - start, kMaxLength));
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') c = ' ';
  }
  return line;
}

std::string signalName(int signal) {
  const char* name = sigabbrev_np(signal);
  return name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(signal);
}

Refusal failureCause(const platform::ChildEnd& end, int64_t limitMillis) {
  Refusal refusal;
  if (end.timedOut) {
    refusal.why = Refusal::Why::kHangs;
    refusal.number = (limitMillis + 999) / 1000;
    return refusal;
  }
  refusal.detail = lastLine(end.output);
  if (end.exitCode == kNotLoaded) {
    refusal.why = Refusal::Why::kNotLoaded;
  } else if (end.exitCode == kTooLarge) {
    refusal.why = Refusal::Why::kTooLarge;
  } else if (end.exitCode > 128) {
    refusal.why = Refusal::Why::kCrashes;
    refusal.name = signalName(end.exitCode - 128);
  } else {
    refusal.why = Refusal::Why::kStops;
    refusal.number = end.exitCode;
  }
  return refusal;
}

Refusal systemRefusal(Refusal::Why why, int error) {
  Refusal refusal;
  refusal.why = why;
  refusal.detail = std::strerror(error);
  return refusal;
}

// The check itself, with the settings read by the caller's thread.
Verdict check(const std::string& path, int32_t startEntry, const std::string& program,
              int64_t limitMillis) {
  Verdict verdict;
  const int fd = platform::openRegularFile(path.c_str());
  if (fd == -ENOENT || fd == -ENOTDIR || fd == -EINVAL) return verdict;
  verdict.present = true;
  if (fd < 0) {
    verdict.refusal = systemRefusal(Refusal::Why::kUnreadable, -fd);
    return verdict;
  }
  platform::os().closeFile(fd);

  platform::ChildEnd end;
  const int run = platform::os().runWithTimeLimit(
      {program, kCheckArgument, path, std::to_string(startEntry)}, limitMillis, kMaxOutput, end);
  if (run != 0) {
    verdict.refusal = systemRefusal(Refusal::Why::kNotStarted, -run);
  } else if (end.timedOut || end.exitCode != kPassed) {
    verdict.refusal = failureCause(end, limitMillis);
  } else if (!ReadCheckerReport(end.output, verdict.texts)) {
    verdict.texts = {};
    verdict.refusal.why = Refusal::Why::kBadReport;
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

std::string FrenchRefusal(const Refusal& refusal) {
  if (refusal.why == Refusal::Why::kNone) return std::string();
  return WordRefusal(refusal,
                     [](int32_t, std::string_view builtIn, std::initializer_list<FormatArg> args) {
                       return FormatText(builtIn, args);
                     });
}

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

std::string CheckerReport(const language_snapshot::Snapshot& snapshot) {
  std::string report = language_snapshot::Encode(snapshot);
  const auto length = static_cast<uint32_t>(report.size());
  for (int shift = 0; shift < 32; shift += 8) report.push_back(static_cast<char>(length >> shift));
  return report + kReportTag;
}

bool ReadCheckerReport(const std::string& output, language_snapshot::Snapshot& snapshot) {
  const size_t tag = std::strlen(kReportTag);
  if (output.size() < tag + 4 || output.compare(output.size() - tag, tag, kReportTag) != 0)
    return false;
  const size_t end = output.size() - tag - 4;
  uint32_t length = 0;
  for (int i = 0; i < 4; i++)
    length |= uint32_t{static_cast<uint8_t>(output[end + static_cast<size_t>(i)])} << (8 * i);
  if (length > end) return false;
  return language_snapshot::Decode(std::string_view(output).substr(end - length, length), snapshot);
}

int RunLanguageLibraryCheck(const std::vector<std::string>& arguments) {
  int32_t startEntry = 0;
  if (arguments.size() != 2) return kUsage;
  const std::string& entry = arguments[1];
  const auto parsed = std::from_chars(entry.data(), entry.data() + entry.size(), startEntry);
  if (parsed.ec != std::errc() || parsed.ptr != entry.data() + entry.size()) return kUsage;

  language_snapshot::Snapshot snapshot;
  {
    // Unloaded before the report: its finalisers run first.
    const LanguageLibraryReader library(arguments[0]);
    if (!library.IsLoaded()) {
      std::fprintf(stdout, "\n%s\n", library.Error().c_str());
      return kNotLoaded;
    }
    if (!library.Read(startEntry, snapshot)) return kTooLarge;
  }
  const std::string report = CheckerReport(snapshot);
  std::fflush(stdout);
  return std::fwrite(report.data(), 1, report.size(), stdout) == report.size() &&
                 std::fflush(stdout) == 0
             ? kPassed
             : kUsage;
}

ScopedLanguageCheck::ScopedLanguageCheck(std::string program, int64_t limitMillis)
    : previousChecker_(std::exchange(checker(), std::move(program))),
      previousLimit_(std::exchange(timeLimit(), limitMillis)) {}

ScopedLanguageCheck::~ScopedLanguageCheck() {
  checker() = previousChecker_;
  timeLimit() = previousLimit_;
}

}  // namespace language_check
