#include "engine/storage/dbf4header.h"

#include <bit>
#include <cstring>

#include "engine/storage/endian4.h"

void dbf4encodeHeader(const Dbf4Header& h, unsigned char out[dbf4headerSize]) {
  std::memset(out, 0, dbf4headerSize);
  out[0] = h.version;
  out[1] = h.year;
  out[2] = h.month;
  out[3] = h.day;
  endian4::writeLe32(out + 4, h.recordCount);
  endian4::writeLe16(out + 8, h.headerLength);
  endian4::writeLe16(out + 10, h.recordLength);
  std::memcpy(out + 12, h.extra, sizeof h.extra);
  out[28] = h.flags;
  out[29] = h.codePage;
}

Dbf4Header dbf4decodeHeader(const unsigned char in[dbf4headerSize]) {
  Dbf4Header h;
  h.version = in[0];
  h.year = in[1];
  h.month = in[2];
  h.day = in[3];
  h.recordCount = endian4::readLe32(in + 4);
  h.headerLength = endian4::readLe16(in + 8);
  h.recordLength = endian4::readLe16(in + 10);
  std::memcpy(h.extra, in + 12, sizeof h.extra);
  h.flags = in[28];
  h.codePage = in[29];
  return h;
}

bool dbf4autoIncrementMarked(const Dbf4Header& h) {
  static const unsigned char marker[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  return std::memcmp(h.extra, marker, sizeof marker) == 0;
}

void dbf4setAutoIncrement(Dbf4Header& h, double next) {
  std::memset(h.extra, 0, sizeof h.extra);
  h.extra[0] = 1;
  endian4::writeLe(h.extra + 8, std::bit_cast<uint64_t>(next), 8);
}

double dbf4autoIncrementValue(const Dbf4Header& h) {
  return std::bit_cast<double>(endian4::readLe(h.extra + 8, 8));
}

void dbf4encodeDescriptor(const Dbf4Descriptor& d, unsigned char out[dbf4descriptorSize]) {
  std::memset(out, 0, dbf4descriptorSize);
  std::memcpy(out, d.name, strnlen(d.name, 10));
  out[11] = d.type;
  endian4::writeLe32(out + 12, d.offset);
  out[16] = d.length;
  out[17] = d.decimals;
  out[18] = d.flags;
  endian4::writeLe32(out + dbf4autoIncrementNextOffset, d.autoIncrementNext);
  out[23] = d.autoIncrementStep;
}

Dbf4Descriptor dbf4decodeDescriptor(const unsigned char in[dbf4descriptorSize]) {
  Dbf4Descriptor d;
  // The stored name need not end in a NUL: ten characters at most are kept.
  std::memcpy(d.name, in, strnlen(reinterpret_cast<const char*>(in), 10));
  d.type = in[11];
  d.offset = endian4::readLe32(in + 12);
  d.length = in[16];
  d.decimals = in[17];
  d.flags = in[18];
  d.autoIncrementNext = endian4::readLe32(in + dbf4autoIncrementNextOffset);
  d.autoIncrementStep = in[23];
  return d;
}

uint32_t dbf4storedLength(const Dbf4Descriptor& d) {
  switch (d.type) {
    case 'B':
    case 'D':
    case 'G':
    case 'I':
    case 'L':
    case 'M':
    case 'F':
    case 'N':
    case 'T':
    case 'Y':
      return d.length;
    default:
      return d.length + 256u * d.decimals;
  }
}
