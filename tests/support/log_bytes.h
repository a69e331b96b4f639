// Log files written byte by byte for tests, independently of the engine's
// own encoder: each entry is a length word, the payload and a 32-byte
// header, all little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct LogEntrySpec {
  uint16_t type = 16;
  int32_t transactionId = 0;
  int32_t user = 0;
  uint32_t dataId = 0;
  uint32_t dataId2 = 0;
  std::string payload;
};

inline void putLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back(static_cast<char>(value >> (8 * i)));
}

inline std::string logEntry(const LogEntrySpec& e) {
  std::string out;
  putLe(out, e.payload.size() + 36, 4);
  out += e.payload;
  putLe(out, static_cast<uint32_t>(e.transactionId), 4);
  putLe(out, static_cast<uint32_t>(e.user), 4);
  putLe(out, e.dataId, 4);
  putLe(out, e.dataId2, 4);
  putLe(out, e.type, 2);
  putLe(out, e.payload.size(), 4);
  putLe(out, 2026, 4);
  out.push_back(12);
  out.push_back(7);
  putLe(out, 3600, 4);
  return out;
}

// The clean-end entry: the first and the last entry of a log nobody uses.
inline std::string logCleanEnd() { return logEntry({16, 0, 0, 0, 3, {}}); }

// The smallest valid log: two clean ends.
inline std::string emptyLog() { return logCleanEnd() + logCleanEnd(); }

inline uint64_t getLe(const std::string& in, size_t at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; i--) value = value << 8 | static_cast<unsigned char>(in[at + i]);
  return value;
}

// The entries of a log read from its front; `whole` is false when the
// bytes are not exactly a sequence of entries.
struct LogContents {
  std::vector<LogEntrySpec> entries;
  bool whole = true;
  std::vector<uint16_t> types() const {
    std::vector<uint16_t> out;
    for (const LogEntrySpec& e : entries) out.push_back(e.type);
    return out;
  }
};

inline LogContents readLog(const std::string& bytes) {
  LogContents log;
  auto broken = [&log] {
    log.whole = false;
    return log;
  };
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 36) return broken();
    const uint64_t length = getLe(bytes, at, 4);
    if (length < 36 || length > bytes.size() - at) return broken();
    const size_t header = at + length - 32;
    LogEntrySpec e;
    e.payload = bytes.substr(at + 4, length - 36);
    e.transactionId = static_cast<int32_t>(getLe(bytes, header, 4));
    e.user = static_cast<int32_t>(getLe(bytes, header + 4, 4));
    e.dataId = static_cast<uint32_t>(getLe(bytes, header + 8, 4));
    e.dataId2 = static_cast<uint32_t>(getLe(bytes, header + 12, 4));
    e.type = static_cast<uint16_t>(getLe(bytes, header + 16, 2));
    if (getLe(bytes, header + 18, 4) != length - 36) return broken();
    log.entries.push_back(e);
    at += length;
  }
  return log;
}

}  // namespace testing_support
