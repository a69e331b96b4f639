// Programs that tests start in place of a browser, a help viewer or the
// desktop's handler query: small shell scripts written into the test's
// folder.
#pragma once

#include <string>
#include <vector>

// Writes the executable script `name` (body after "#!/bin/sh") into the
// current folder; its absolute path.
std::string WriteFakeProgram(const std::string& name, const std::string& body);

// Script text that writes the script's process id and then its arguments,
// one a line, to `record` (all at once: a reader never sees half of it).
std::string RecordArguments(const std::string& record);

// The lines of `path`, waiting up to ten seconds for a program started
// elsewhere to write it; empty when it never appeared.
std::vector<std::string> WaitForLines(const std::string& path);

// True once the process `pid` (not a child of the caller) has ended,
// waiting up to ten seconds.
bool WaitUntilGone(long pid);
