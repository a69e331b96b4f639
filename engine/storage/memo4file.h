// MEMO4FILE: the FPT memo file of a table, and the per-field memo buffers.
//
// FPT file, every number big-endian:
//   offset size
//     0     4   next free block: the first block never handed out
//     4     2   zero
//     6     2   block size in bytes
//     8   504   zero
// A new memo file is exactly this 512-byte header.
#pragma once

#include <cstdint>

#include "engine/storage/file4.h"

struct CODE4;
struct DATA4FILE;
struct FIELD4;

inline constexpr int memo4headerSize = 512;

struct MEMO4FILE {
  FILE4 file;
  uint16_t blockSize = 0;
  DATA4FILE* dataFile = nullptr;
  bool headerLocked = false;  // this process holds the memo header lock
};

// The memo value of one memo field of a handle.
struct MEMO4FIELD {
  int32_t changed = 0;   // assigned and not yet written
  int32_t notRead = 1;   // the buffer does not hold the current record's value
  char* contents = nullptr;
  uint32_t length = 0;
  uint32_t capacity = 0;
  FIELD4* field = nullptr;
};

// Creates the memo file beside a table: `name` with its extension made
// "fpt", or a temporary one when `name` is null.
int32_t memo4fileCreate(MEMO4FILE* memo, CODE4* c, DATA4FILE* dataFile, const char* name);
int32_t memo4fileOpen(MEMO4FILE* memo, DATA4FILE* dataFile, const char* name);
