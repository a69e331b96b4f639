// Requests to end the process (SIGTERM at a logout or a shutdown, SIGHUP
// when its terminal goes, SIGINT from Ctrl+C): turned into bytes on a pipe
// that the program watches, so that it ends as its user would end it,
// writing what it holds, instead of dying with the signal.
#pragma once

namespace platform {

// Starts catching the requests; returns the pipe's read end (readable once
// a request came), or -1 when the pipe or a handler could not be set up.
// A SIGHUP or SIGINT that the process ignores when the watching starts
// stays ignored: it was started not to end with its terminal.
int watchTerminationRequests();

// Takes the requests waiting on the pipe; never blocks.
void takeTerminationRequests(int fd);

// Gives the signals back what they did before the watching and closes the
// pipe.
void stopWatchingTerminationRequests();

}  // namespace platform
