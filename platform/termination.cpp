#include "platform/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

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
  for (int signal : kSignals) {
    if (sigaction(signal, &action, nullptr) != 0) {
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
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaction(signal, &action, nullptr);
  if (readEnd >= 0) close(readEnd);
  if (writeEnd >= 0) close(writeEnd);
  readEnd = -1;
  writeEnd = -1;
}

}  // namespace platform
