#include "platform/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// What each signal of kSignals did before the watching: given back when it
// stops.
struct sigaction previous[std::size(kSignals)];

// The pipe's ends; -1 while nothing is watched. Read by the handler, which
// may run at any moment: plain ints set before the handlers are.
volatile sig_atomic_t writeEnd = -1;
int readEnd = -1;

void onRequest(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a request: the byte is not needed then.
  if (writeEnd >= 0 && write(writeEnd, &byte, 1) < 0) errno = saved;
  errno = saved;
}

}  // namespace

int watchTerminationRequests() {
  if (readEnd >= 0) return readEnd;
  int ends[2];
  if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return -1;
  readEnd = ends[0];
  writeEnd = ends[1];
  struct sigaction action = {};
  action.sa_handler = onRequest;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kSignals); i++) sigaction(kSignals[i], nullptr, &previous[i]);
  for (size_t i = 0; i < std::size(kSignals); i++) {
    // A hangup or an interrupt that the process was started to ignore
    // (nohup, a background job of a script) is not a request.
    if (kSignals[i] != SIGTERM && previous[i].sa_handler == SIG_IGN) continue;
    if (sigaction(kSignals[i], &action, nullptr) != 0) {
      stopWatchingTerminationRequests();
      return -1;
    }
  }
  return readEnd;
}

void takeTerminationRequests(int fd) {
  char bytes[64];
  while (read(fd, bytes, sizeof bytes) > 0) {
  }
}

void stopWatchingTerminationRequests() {
  if (readEnd < 0) return;
  for (size_t i = 0; i < std::size(kSignals); i++) sigaction(kSignals[i], &previous[i], nullptr);
  close(readEnd);
  close(writeEnd);
  readEnd = -1;
  writeEnd = -1;
}

}  // namespace platform
