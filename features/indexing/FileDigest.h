// The MD5 digest (RFC 1321) of a file's contents.
#pragma once

#include <string>

// The digest of the whole content of the regular file `fileName` (a path on
// this machine), as 32 lower-case hexadecimal digits. Empty when it is not
// a regular file (a FIFO would block, a device never end) or cannot be read.
std::string GetFileMD5(const std::string& fileName);
