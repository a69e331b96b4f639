// The header block of a CDX file and of each of its tags.
//
// The file header (offset 0) is the header of the tag of tags, the index of
// tag names; every tag has a header of the same form. All fields are
// little-endian except the version counter.
//
//   OFFSET SIZE  CONTENT
//        0    4  root node block number
//        4    4  free-list head (file header; 0 = empty); tag headers carry it unchanged
//        8    4  version counter, BIG-endian: a writer stores last seen + 1
//       12    2  key length in bytes
//       14    1  options (cdx4option*)
//       15    1  signature, 1
//       16    4  block-size marker 0xABCD when block size or multiplier differ
//                from 512 and 1 (file header only), else 0
//       20    4  block size   } meaningful with the marker
//       24    4  multiplier   }
//       28    1  change mark (file header only): 1 from the first change a
//                writer holding the file exclusively makes until its flush or
//                close has written every change; 0 at rest; 2 when a writer
//                whose disk refused writes for want of room closed it so.
//                Found set at an open, the trees may disagree with the
//                table: it is rebuilt
//       29  465  zero
//      494    8  collation name, NUL padded: all zero (machine order),
//                "GENERAL", or "CB" and five digits naming collation 1 to 4
//      502    2  1 descending, 0 ascending
//      504    2  expression pool length, equal to the key expression length
//      506    2  filter expression length with its NUL; 1 without a filter
//      508    2  zero
//      510    2  key expression length with its NUL
//      512  512  pool: key expression, NUL, filter expression, NUL, zeros
#pragma once

#include <cstdint>

#include "engine/index/cdx4geometry.h"

struct CODE4;
struct INDEX4FILE;

enum : uint8_t {
  cdx4optionUnique = 0x01,      // duplicates refused, kept without key, or raised
  cdx4optionNullable = 0x02,    // the key expression uses nullable fields
  cdx4optionUniqueNoNull = 0x04,  // unique, and null keys refused as well
  cdx4optionFilter = 0x08,      // the tag has a filter expression
  cdx4optionCompact = 0x20,     // compact nodes: always set
  cdx4optionCompound = 0x40,    // many tags in the file
  cdx4optionTagOfTags = 0x80,   // this header belongs to the tag of tags
};

inline constexpr uint32_t cdx4blockSizeMarker = 0xABCD;
inline constexpr int cdx4collationNameSize = 8;
inline constexpr int cdx4frontSize = 16;  // the part rewritten on every flush
inline constexpr int cdx4changeMarkOffset = 28;
// The change mark's values.
inline constexpr unsigned char cdx4changing = 1;
inline constexpr unsigned char cdx4leftWithoutRoom = 2;
inline constexpr int cdx4poolOffset = 512;
inline constexpr int cdx4poolSize = 512;
// Tag names, the keys of the tag of tags: upper case, blank padded.
inline constexpr uint16_t cdx4tagNameLength = 10;
// Keys are at most this long; the leaf count fields are 8 bits wide.
inline constexpr uint16_t cdx4keyLengthMax = 255;

// A header in memory; the version is held in native order.
struct Cdx4Header {
  uint32_t root = 0;
  uint32_t freeList = 0;
  uint32_t version = 0;
  uint16_t keyLength = 0;
  uint8_t options = 0;
  uint8_t signature = 1;
  uint32_t blockSizeMarker = 0;
  uint32_t blockSize = 0;
  uint32_t multiplier = 0;
  char collation[cdx4collationNameSize] = {};
  uint16_t descending = 0;
  uint16_t poolLength = 0;     // offset 504
  uint16_t filterLength = 1;   // offset 506, with the NUL
  uint16_t keyExprLength = 1;  // offset 510, with the NUL
};

// The first 16 bytes alone: what a flush writes and a lock re-reads.
void cdx4headerDecodeFront(const unsigned char* bytes, Cdx4Header* h);
void cdx4headerEncodeFront(const Cdx4Header& h, unsigned char* bytes);

// A whole 1024-byte block. Decoding copies no expression text; encoding
// writes `keyExpr` and `filter` (null for none) into the pool and sets the
// three length fields from them. Encoding returns false, writing nothing,
// when the two texts do not fit the pool.
void cdx4headerDecode(const unsigned char* block, Cdx4Header* h);
bool cdx4headerEncode(Cdx4Header* h, const char* keyExpr, const char* filter,
                      unsigned char* block);

// The header of a new tag of tags (options 0xE0, key length 10, machine
// order, empty pool), carrying the block-size marker when the geometry is
// not the default one.
void cdx4headerInitTagOfTags(Cdx4Header* h, uint32_t blockSize, uint32_t multiplier);

// The node size and multiplier a file header names: its marker's values, or
// the defaults without the marker.
uint32_t cdx4headerBlockSize(const Cdx4Header& h);
uint32_t cdx4headerMultiplier(const Cdx4Header& h);

// Decode and check a header read from the file. The file header brings the
// geometry (85305) and must have a root, compact nodes and either both the
// compound and the tag-of-tags options or neither (80099); a tag
// header must have a root and compact nodes and not the tag-of-tags option
// (80320), and is checked against the file's block size. Both refuse, with -310
// naming the file: a root of 0 or none, a key length of 0 or above 255, a
// key length that leaves a branch fewer than two entries, expression
// lengths that leave the pool or lack their NUL, and an unknown collation
// name (80187). On success the pool texts are NUL terminated inside `block`.
int32_t cdx4fileHeaderRead(CODE4* c, const unsigned char* block, Cdx4Header* h,
                           const char* fileName);
int32_t cdx4tagHeaderRead(CODE4* c, const unsigned char* block, uint32_t blockSize,
                          Cdx4Header* h, const char* fileName);

// The texts of a block that passed one of the reads above.
const char* cdx4headerKeyExpression(const unsigned char* block, const Cdx4Header& h);
const char* cdx4headerFilterExpression(const unsigned char* block, const Cdx4Header& h);

// 0 when `block`, taken from the tag of tags, can name a tag header of the
// open file: beyond the file header, on a 512-byte boundary and inside the
// file; else the raised -310.
int32_t cdx4tagHeaderBlockCheck(INDEX4FILE* i, uint32_t block);
