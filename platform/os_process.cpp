// The process calls of `platform::Os`: children started with posix_spawnp
// and an argument vector, their ends collected with waitpid.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/os.h"

extern char** environ;

namespace platform {
namespace {

// Owns what posix_spawnp needs besides the arguments.
class SpawnSettings {
 public:
  SpawnSettings() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  // A thread of this process may block signals, and the process may ignore
  // SIGPIPE; a child inherits both unless told otherwise.
  int prepare(bool ownGroup, int outputFd) {
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (ownGroup) flags |= POSIX_SPAWN_SETPGROUP;
    int error = posix_spawnattr_setflags(&attributes_, flags);
    if (error == 0) error = posix_spawnattr_setsigmask(&attributes_, &none);
    if (error == 0) error = posix_spawnattr_setsigdefault(&attributes_, &defaults);
    if (error == 0 && ownGroup) error = posix_spawnattr_setpgroup(&attributes_, 0);
    if (error == 0 && outputFd >= 0)
      error = posix_spawn_file_actions_adddup2(&actions_, outputFd, STDOUT_FILENO);
    return error;
  }

  int spawn(const std::vector<std::string>& arguments, int64_t& pid) {
    std::vector<char*> vector;
    vector.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
      vector.push_back(const_cast<char*>(argument.c_str()));
    vector.push_back(nullptr);
    pid_t child = 0;
    const int error =
        posix_spawnp(&child, vector[0], &actions_, &attributes_, vector.data(), environ);
    if (error != 0) return error;
    pid = child;
    return 0;
  }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

int start(const std::vector<std::string>& arguments, bool ownGroup, int outputFd, int64_t& pid) {
  if (arguments.empty() || arguments[0].empty()) return -ENOENT;
  SpawnSettings settings;
  int error = settings.prepare(ownGroup, outputFd);
  if (error == 0) error = settings.spawn(arguments, pid);
  return -error;
}

}  // namespace

int Os::startProcess(const std::vector<std::string>& arguments, bool ownGroup, int64_t& pid) {
  return start(arguments, ownGroup, -1, pid);
}

int Os::waitProcess(int64_t pid, bool wait, bool& ended, int& exitCode) {
  int status = 0;
  pid_t result;
  do {
    result = ::waitpid(static_cast<pid_t>(pid), &status, wait ? 0 : WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return -errno;
  ended = result != 0;
  if (!ended) return 0;
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return 0;
}

int Os::signalProcess(int64_t pid, int signal, bool group) {
  if (pid <= 0) return -ESRCH;  // never every process, never our own group
  const pid_t target = static_cast<pid_t>(group ? -pid : pid);
  return ::kill(target, signal) == 0 ? 0 : -errno;
}

int Os::runForOutput(const std::vector<std::string>& arguments, size_t limit, std::string& output,
                     int& exitCode) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -errno;
  int64_t pid = 0;
  const int started = start(arguments, false, ends[1], pid);
  ::close(ends[1]);
  if (started != 0) {
    ::close(ends[0]);
    return started;
  }
  output.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(ends[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const size_t room = limit > output.size() ? limit - output.size() : 0;
    output.append(buffer, std::min(room, static_cast<size_t>(got)));
  }
  ::close(ends[0]);
  bool ended = false;
  return waitProcess(pid, true, ended, exitCode);
}

std::vector<std::string> Os::commandLineArguments() {
  // The kernel keeps the arguments NUL-separated, each with its NUL.
  std::vector<std::string> arguments;
  std::FILE* in = std::fopen("/proc/self/cmdline", "re");
  if (in == nullptr) return arguments;
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
  std::fclose(in);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\0', start);
    arguments.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return arguments;
}

uint32_t Os::userId() { return static_cast<uint32_t>(::getuid()); }

}  // namespace platform
