// Key encodings of evaluated values, DESCEND's complement and the in-place
// conversions of ASCEND and DESCEND.
#include "engine/index/key4.h"

#include <bit>
#include <cstring>

#include "engine/storage/convert4.h"
#include "engine/storage/date4.h"
#include "engine/storage/endian4.h"

namespace {

unsigned char* bytes(char* key) { return reinterpret_cast<unsigned char*>(key); }

void writeBe16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value >> 8);
  p[1] = static_cast<unsigned char>(value);
}

void writeBe64(unsigned char* p, uint64_t value) {
  for (int i = 0; i < 8; i++) p[i] = static_cast<unsigned char>(value >> (56 - 8 * i));
}

constexpr uint64_t kSign64 = uint64_t{1} << 63;
constexpr uint32_t kSign32 = uint32_t{1} << 31;

// The parts of an operand in the evaluator's layout: 16-bit little-endian
// values, the 32-bit part of type 4 after the six others.
void readParts(const char* value, uint16_t* parts, int count) {
  const auto* p = reinterpret_cast<const unsigned char*>(value);
  for (int i = 0; i < count; i++) parts[i] = endian4::readLe16(p + 2 * i);
}

}  // namespace

void key4fromDouble(char* key, double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  // Negative zero is zero. Testing the sign bit rather than "value < 0"
  // also gives NaNs a place: after +infinity, or before -infinity.
  if (bits == kSign64) bits = 0;
  bits = (bits & kSign64) ? ~bits : bits | kSign64;
  writeBe64(bytes(key), bits);
}

void key4fromInt(char* key, int32_t value) {
  endian4::writeBe32(bytes(key), static_cast<uint32_t>(value) ^ kSign32);
}

void key4fromUnsigned(char* key, uint32_t value) { endian4::writeBe32(bytes(key), value); }

void key4fromInt64(char* key, int64_t value) {
  writeBe64(bytes(key), static_cast<uint64_t>(value) ^ kSign64);
}

void key4fromCurrency(char* key, int64_t value) { key4fromInt64(key, value); }

void key4fromDateParts(char* key, const uint16_t parts[3]) {
  for (int i = 0; i < 3; i++) writeBe16(bytes(key) + 2 * i, parts[i]);
}

void key4fromDatePartsUnsigned(char* key, const uint16_t parts[3]) {
  key4fromDateParts(key, parts);
}

void key4fromDateTimeParts(char* key, const uint16_t parts[6], uint32_t last) {
  for (int i = 0; i < 6; i++) writeBe16(bytes(key) + 2 * i, parts[i]);
  endian4::writeBe32(bytes(key) + 12, last);
}

void key4fromLogical(char* key, int32_t value) { key[0] = value == 1 ? 'T' : 'F'; }

void key4fromWide(char* key, const char* text, int32_t byteLength) {
  int32_t i = 0;
  for (; i + 1 < byteLength; i += 2) {
    const char low = text[i];
    key[i] = text[i + 1];
    key[i + 1] = low;
  }
  if (i < byteLength) key[i] = text[i];
}

void key4descend(char* key, const char* source, int32_t length) {
  for (int32_t i = length - 1; i >= 0; i--) key[i] = static_cast<char>(~source[i]);
}

int32_t expr4keyConvert(int32_t type, char* value, int32_t length, int64_t integer) {
  const auto* in = reinterpret_cast<const unsigned char*>(value);
  switch (type) {
    case '1':
      key4fromInt64(value, integer);
      return key4int64Length;
    case '2':
    case '3': {
      uint16_t parts[3];
      readParts(value, parts, 3);
      key4fromDateParts(value, parts);
      return key4partsLength;
    }
    case '4': {
      uint16_t parts[6];
      readParts(value, parts, 6);
      key4fromDateTimeParts(value, parts, endian4::readLe32(in + 12));
      return key4dateTimePartsLength;
    }
    case 'I':
    case 'Q':
      key4fromInt(value, static_cast<int32_t>(integer));
      return key4intLength;
    case 'P':
    case 'R':
      key4fromUnsigned(value, static_cast<uint32_t>(integer));
      return key4intLength;
    case 'L':
      value[0] = endian4::readLe32(in) != 0 ? '1' : '0';
      return key4logicalLength;
    case 'N':
      convert4numberToKeyText(value, length);
      return length;
    case 'W':
    case 'O':
      key4fromWide(value, value, length);
      return length;
    case 'T':
      key4fromDateTime(value, static_cast<int32_t>(endian4::readLe32(in)),
                       static_cast<int32_t>(endian4::readLe32(in + 4)));
      return key4doubleLength;
    case 'Y':
      key4fromCurrency(value, static_cast<int64_t>(endian4::readLe(in, 8)));
      return key4int64Length;
    case 'd':
      date4assign(value, static_cast<int32_t>(integer), 0);
      return key4doubleLength;
    case 'n': {
      double number;
      std::memcpy(&number, value, sizeof number);
      key4fromDouble(value, number);
      return key4doubleLength;
    }
    default:
      return length;
  }
}
