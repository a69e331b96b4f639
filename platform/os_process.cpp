// The process calls of `platform::Os`: children started with posix_spawnp
// and an argument vector, their ends collected with waitpid (and watched
// through a pidfd when a time limit holds).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
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
  // `outputFd`, when not -1, becomes the child's standard output, and
  // with `errorToo` its standard error as well.
  int prepare(bool ownGroup, int outputFd, bool errorToo = false) {
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
    if (error == 0 && outputFd >= 0 && errorToo)
      error = posix_spawn_file_actions_adddup2(&actions_, outputFd, STDERR_FILENO);
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

int start(const std::vector<std::string>& arguments, bool ownGroup, int outputFd, int64_t& pid,
          bool errorToo = false) {
  if (arguments.empty() || arguments[0].empty()) return -ENOENT;
  SpawnSettings settings;
  int error = settings.prepare(ownGroup, outputFd, errorToo);
  if (error == 0) error = settings.spawn(arguments, pid);
  return -error;
}

// Appends what the non-blocking `fd` holds now to `output`, up to `limit`
// bytes in all; the rest is read and dropped. False once every writer
// closed its end.
bool drain(int fd, std::string& output, size_t limit) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == EAGAIN;
    if (got == 0) return false;
    const size_t room = limit > output.size() ? limit - output.size() : 0;
    output.append(buffer, std::min(room, static_cast<size_t>(got)));
  }
}

// Whether the child `pid` ended, leaving it unreaped: its id, and so its
// process group's, cannot be taken by another process meanwhile.
bool hasEnded(pid_t pid) {
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno != EINTR) return true;  // no such child: nothing to wait for
  }
  return info.si_pid != 0;
}

}  // namespace

int Os::runWithTimeLimit(const std::vector<std::string>& arguments, int64_t limitMillis,
                         size_t outputLimit, ChildEnd& end) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -errno;
  int64_t pid = 0;
  const int started = start(arguments, true, ends[1], pid, true);
  ::close(ends[1]);
  if (started != 0) {
    ::close(ends[0]);
    return started;
  }
  ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
  const auto child = static_cast<pid_t>(pid);
  // A pidfd becomes readable when the child ends; where the kernel has none
  // (before Linux 5.3), the child's end is looked for every 10 ms.
  const int childFd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(std::max<int64_t>(limitMillis, 0));
  end = ChildEnd{};
  bool open = true;
  for (;;) {
    if (open) open = drain(ends[0], end.output, outputLimit);
    if (hasEnded(child)) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      end.timedOut = true;
      break;
    }
    pollfd watched[2] = {{childFd, POLLIN, 0}, {open ? ends[0] : -1, POLLIN, 0}};
    const int64_t wait = childFd >= 0 ? left.count() : std::min<int64_t>(left.count(), 10);
    ::poll(watched, 2, static_cast<int>(std::min<int64_t>(wait, INT32_MAX)));
  }
  // The child itself too: it may have left its group.
  ::kill(-child, SIGKILL);
  ::kill(child, SIGKILL);
  if (open) drain(ends[0], end.output, outputLimit);
  ::close(ends[0]);
  if (childFd >= 0) ::close(childFd);
  bool ended = false;
  return waitProcess(pid, true, ended, end.exitCode);
}

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
