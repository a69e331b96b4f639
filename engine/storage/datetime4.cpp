#include "engine/storage/datetime4.h"

#include <algorithm>

#include "engine/storage/endian4.h"

namespace {

void twoDigits(char* out, int32_t value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

DATETIME4 datetime4load(const unsigned char bytes[datetime4size]) {
  return {static_cast<int32_t>(endian4::readLe32(bytes)),
          static_cast<int32_t>(endian4::readLe32(bytes + 4))};
}

void datetime4store(unsigned char bytes[datetime4size], DATETIME4 value) {
  endian4::writeLe32(bytes, static_cast<uint32_t>(value.day));
  endian4::writeLe32(bytes + 4, static_cast<uint32_t>(value.ms));
}

int datetime4compare(DATETIME4 a, DATETIME4 b) {
  if (a.day != b.day) return a.day < b.day ? -1 : 1;
  if (a.ms != b.ms) return a.ms < b.ms ? -1 : 1;
  return 0;
}

void time4msToText(char* text, int32_t ms) {
  const int32_t clamped = std::clamp(ms, 0, datetime4msPerDay - 1);
  const int32_t seconds = (clamped + 500) / 1000;  // at most 86400: "24:00:00"
  twoDigits(text, seconds / 3600);
  text[2] = ':';
  twoDigits(text + 3, seconds / 60 % 60);
  text[5] = ':';
  twoDigits(text + 6, seconds % 60);
}
