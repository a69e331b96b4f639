// The DBF file header and field descriptors.
//
// A DBF file is a 32-byte header, one 32-byte descriptor per field, the
// terminator 0x0D, for compatibility 30 a 263-byte zero area, then the
// records back to back and, for compatibility 25/26, one end byte 0x1A.
// Every number is little-endian.
//
// Header:
//   offset size
//     0     1   version: 0x03, 0xF5 (memo), 0x30, 0x31 (0x30 with autoincrement)
//     1     3   date of the last update: year % 100, month, day
//     4     4   record count
//     8     2   header length (offset of the first record)
//    10     2   record length, the delete flag included
//    12     8   0x31 only: 01 then seven zero bytes (the marker)
//    20     8   0x31 with the marker: next autoincrement value (IEEE double)
//    28     1   flags: bit 0 production index, bit 1 memo file (0x30 only)
//    29     1   code page
//    30     2   zero
//
// Field descriptor:
//     0    11   name, upper case, zero padded (10 characters at most)
//    11     1   type letter
//    12     4   offset of the field in the record
//    16     1   length (low byte for C, O, W and binary types)
//    17     1   decimals, or the high byte of the length
//    18     1   flags: 0x02 nullable, 0x04 binary, 0x08 autoincrement
//    19     4   0x31 without the marker, autoincrement field: next value
//    23     1   0x31 without the marker, autoincrement field: step
//    24     8   zero
//
// Two layouts keep a 0x31 file's autoincrement counter. This engine writes
// the marker and keeps the counter in the header, for a B field; other
// writers leave header bytes 12-27 zero and keep a signed 32-bit counter
// and its step in the descriptor of an I field (flags 0x0C).
#pragma once

#include <cstdint>

inline constexpr int dbf4headerSize = 32;
inline constexpr int dbf4descriptorSize = 32;
inline constexpr unsigned char dbf4terminator = 0x0D;
inline constexpr unsigned char dbf4endOfFile = 0x1A;
inline constexpr int dbf4area30Size = 263;  // zero area after the terminator at compatibility 30

enum : unsigned char {
  dbf4version3 = 0x03,
  dbf4versionMemo = 0xF5,
  dbf4version30 = 0x30,
  dbf4version30auto = 0x31,
};

enum : unsigned char {
  dbf4flagProductionIndex = 0x01,
  dbf4flagMemo = 0x02,
};

enum : unsigned char {
  dbf4fieldNullable = 0x02,
  dbf4fieldBinary = 0x04,
  dbf4fieldAutoIncrement = 0x08,
};

// The name of the field that holds the null flags at compatibility 30.
inline constexpr const char* dbf4nullFlagsName = "_NullFlags";

struct Dbf4Header {
  unsigned char version = 0;
  unsigned char year = 0;  // year % 100
  unsigned char month = 0;
  unsigned char day = 0;
  uint32_t recordCount = 0;
  uint16_t headerLength = 0;
  uint16_t recordLength = 0;
  unsigned char extra[16] = {};  // bytes 12-27
  unsigned char flags = 0;
  unsigned char codePage = 0;
};

void dbf4encodeHeader(const Dbf4Header& header, unsigned char out[dbf4headerSize]);
Dbf4Header dbf4decodeHeader(const unsigned char in[dbf4headerSize]);

// The autoincrement marker and value kept in header bytes 12-27.
bool dbf4autoIncrementMarked(const Dbf4Header& header);
void dbf4setAutoIncrement(Dbf4Header& header, double next);
double dbf4autoIncrementValue(const Dbf4Header& header);

struct Dbf4Descriptor {
  char name[11] = {};  // NUL-terminated: at most 10 characters are kept
  unsigned char type = 0;
  uint32_t offset = 0;
  unsigned char length = 0;
  unsigned char decimals = 0;
  unsigned char flags = 0;
  uint32_t autoIncrementNext = 0;  // files without the header marker
  unsigned char autoIncrementStep = 0;
};

// Where a descriptor's next autoincrement value lies, from its first byte.
inline constexpr int dbf4autoIncrementNextOffset = 19;

// The length a descriptor gives its field in the record: for character and
// other text-like types the decimals byte is the length's high byte.
uint32_t dbf4storedLength(const Dbf4Descriptor& descriptor);

void dbf4encodeDescriptor(const Dbf4Descriptor& descriptor, unsigned char out[dbf4descriptorSize]);
Dbf4Descriptor dbf4decodeDescriptor(const unsigned char in[dbf4descriptorSize]);
