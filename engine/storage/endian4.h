// Explicit byte-order access to disk formats.
//
// Every field of a file is read and written through these helpers, byte by
// byte, so a format never depends on the machine's order or on a struct's
// layout. `p` points at the field's first byte; the caller has checked that
// the field lies inside its buffer.
#pragma once

#include <cstdint>

namespace endian4 {

inline uint16_t readLe16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t readLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint32_t readBe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

// An unsigned little-endian number of `n` bytes, 1 <= n <= 8.
inline uint64_t readLe(const unsigned char* p, int n) {
  uint64_t value = 0;
  for (int i = n - 1; i >= 0; i--) value = value << 8 | p[i];
  return value;
}

inline void writeLe16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
}

inline void writeLe32(unsigned char* p, uint32_t value) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline void writeBe32(unsigned char* p, uint32_t value) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// The low `n` bytes of `value`, little-endian, 1 <= n <= 8.
inline void writeLe(unsigned char* p, uint64_t value, int n) {
  for (int i = 0; i < n; i++) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace endian4
