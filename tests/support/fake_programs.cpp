#include "tests/support/fake_programs.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

namespace {

constexpr auto kPatience = std::chrono::seconds(10);
constexpr auto kPoll = std::chrono::milliseconds(10);

template <class Done>
bool waitFor(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

}  // namespace

std::string WriteFakeProgram(const std::string& name, const std::string& body) {
  char folder[4096];
  const std::string path = std::string(getcwd(folder, sizeof folder) ? folder : ".") + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  chmod(path.c_str(), 0755);
  return path;
}

std::string RecordArguments(const std::string& record) {
  return "{ echo $$; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" + record +
         ".part' && mv '" + record + ".part' '" + record + "'\n";
}

std::vector<std::string> WaitForLines(const std::string& path) {
  std::vector<std::string> lines;
  if (!waitFor([&] { return access(path.c_str(), F_OK) == 0; })) return lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool WaitUntilGone(long pid) {
  return waitFor([pid] { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; });
}
