// Requests to end the process arrive as bytes on the watched pipe; a hangup
// that the process was started to ignore (nohup) is none, and the signals
// get back what they did once the watching stops.
#include "platform/termination.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

namespace {

bool requestWaiting(int fd) {
  pollfd watched{fd, POLLIN, 0};
  return poll(&watched, 1, 0) == 1;
}

void setAction(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

void (*currentAction(int signal))(int) {
  struct sigaction action = {};
  sigaction(signal, nullptr, &action);
  return action.sa_handler;
}

TEST(Termination, RequestsComeThroughThePipeAndAnIgnoredHangupStaysIgnored) {
  setAction(SIGHUP, SIG_IGN);
  const int fd = platform::watchTerminationRequests();
  ASSERT_GE(fd, 0);
  raise(SIGHUP);
  EXPECT_FALSE(requestWaiting(fd));
  for (int signal : {SIGTERM, SIGINT, SIGTERM}) {
    raise(signal);
    EXPECT_TRUE(requestWaiting(fd)) << signal;
    platform::takeTerminationRequests(fd);
    EXPECT_FALSE(requestWaiting(fd)) << signal;
  }
  platform::stopWatchingTerminationRequests();
  EXPECT_EQ(currentAction(SIGHUP), SIG_IGN);
  EXPECT_EQ(currentAction(SIGTERM), SIG_DFL);
  EXPECT_EQ(currentAction(SIGINT), SIG_DFL);
  setAction(SIGHUP, SIG_DFL);
}

}  // namespace
