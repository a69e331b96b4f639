// Where the first instance of a program publishes itself, named from the
// single-instance marker (the executable's full path, by default).
//
// Both names live in the user's runtime folder (XDG_RUNTIME_DIR), else in
// /tmp with the user's id in them: instances of one executable exclude
// each other per user, never across users. The marker is kept readable in
// the names, '/' and '%' escaped as "%2F" and "%25" so that two markers
// never share a name; a marker whose socket path would pass the system's
// limit is replaced by a hash of it.
#pragma once

#include <cstddef>
#include <string>

struct SingleInstanceNames {
  // The lock file, held with flock by the first instance for its whole
  // life; the kernel lets go of it when that process ends in any way.
  std::string lockPath;
  // The first instance's local socket, where a later one passes its
  // command line.
  std::string socketPath;
};

// The longest path of a local socket that Qt listens on: sockaddr_un's
// 108 bytes, less the terminating zero and one byte more that Qt keeps.
constexpr size_t kMaxSocketPath = 106;

SingleInstanceNames SingleInstanceNamesFor(const std::string& marker);
