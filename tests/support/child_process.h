// Crash tests: a body run in a child process with an engine of its own.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include "engine/storage/code4.h"
#include "platform/os.h"
#include "tests/support/fake_os.h"

namespace testing_support {

// Runs `body` (CODE4&, FakeOs&) -> exit code in a child process, on a
// settings object that opens tables exclusively and behind a platform
// double (through which the body can make the child die at a chosen
// write). Returns the child's exit code, or -1 when it did not exit.
template <class Body>
int inChildProcess(Body body) {
  const pid_t child = fork();
  if (child == 0) {
    FakeOs fake;
    platform::ScopedOs scoped(fake);
    CODE4 own;
    if (code4initLow(&own, nullptr, code4libraryVersion, code4structSize, 1) != 0) _exit(90);
    own.accessMode = 1;
    _exit(body(own, fake));
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support
