// Helpers shared by the key and collation tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace testing_support {

inline std::string hexOf(const char* bytes, int32_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (int32_t i = 0; i < length; i++) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

inline std::string hexOf(const std::string& bytes) {
  return hexOf(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// -1, 0 or 1 as unsigned byte strings of one length compare.
inline int byteOrder(const std::string& a, const std::string& b) {
  const int rc = std::memcmp(a.data(), b.data(), a.size() < b.size() ? a.size() : b.size());
  if (rc != 0) return rc < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

template <typename T>
int valueOrder(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace testing_support
