// A transaction log as the independent reader (log4decode.py) sees it:
// one map of fields per entry.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/disk_file.h"

namespace testing_support {

using LogEntry = std::map<std::string, std::string>;

struct DecodedLog {
  int status = -1;     // the reader's exit status: 0 when the log is well formed
  std::string output;  // what it printed, diagnostics included
  std::vector<LogEntry> entries;

  // The kinds of the entries in order, for one-line comparisons.
  std::vector<std::string> kinds() const {
    std::vector<std::string> out;
    for (const LogEntry& e : entries) out.push_back(e.at("kind"));
    return out;
  }
  // A numeric field of entry `i`; -1 when it has none.
  long long number(size_t i, const std::string& key) const {
    const auto it = entries.at(i).find(key);
    return it == entries.at(i).end() ? -1 : std::stoll(it->second);
  }
};

inline DecodedLog decodeLog(const std::string& name) {
  DecodedLog log;
  log.output =
      runCommand(std::string("/usr/bin/python3 ") + LOG_DECODE_SCRIPT + " " + name, &log.status);
  std::istringstream lines(log.output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word != "entry") continue;
    LogEntry entry;
    words >> entry["index"];
    while (words >> word) {
      const size_t equals = word.find('=');
      if (equals != std::string::npos) entry[word.substr(0, equals)] = word.substr(equals + 1);
    }
    log.entries.push_back(entry);
  }
  return log;
}

// The smallest log a user can open: two empty clean-end entries.
inline std::string minimalLog() {
  std::string entry(36, '\0');
  entry[0] = 36;
  entry[4 + 16] = 16;  // type
  entry[4 + 12] = 3;   // second data id
  return entry + entry;
}

}  // namespace testing_support
