// Where the locks of a DBF file lie: the bytes other dBase tools lock, so
// that a table shared with one of them keeps each off what the other holds.
// A file past 1 GiB holds data at those bytes too. Locking them never stops
// a reader or a writer here: the locks are advisory (file4io.cpp), and no
// length of file is refused for them.
//
//   record n     0x40000000 + header length + (n - 1) x record length, 1 byte,
//                or 0x7FFFFFFE - n when the file has a production index or is
//                of version 0x30
//   append       0x40000000, 1 byte, or 0x7FFFFFFE (production index or
//                compatibility 30)
//   whole file   0x40000000, 0x3FFFFFFF bytes (it covers the bytes above)
//
// With a large-file value L set, every lock moves to the high word L:
// record n at (L, n), append at (L, 0), the whole file (L, 0) for 0xFFFFFFFF.
#pragma once

#include <cstdint>

struct DATA4FILE;

struct Lock4Range {
  int64_t offset;
  int64_t length;
};

Lock4Range lock4recordRange(const DATA4FILE* file, int32_t record);
Lock4Range lock4appendRange(const DATA4FILE* file);
Lock4Range lock4fileRange(const DATA4FILE* file);
