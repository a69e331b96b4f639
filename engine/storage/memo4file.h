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

// The value of a memo field that holds none.
inline constexpr const char* memo4emptyText = "";

// Creates the memo file beside a table: `name` with its extension made
// "fpt", or a temporary one when `name` is null.
int32_t memo4fileCreate(MEMO4FILE* memo, CODE4* c, DATA4FILE* dataFile, const char* name);
// Opens the memo file of a table and reads its block size: 0, or a
// negative code with the file closed again (a header cut short, a block
// size of 0).
int32_t memo4fileOpen(MEMO4FILE* memo, DATA4FILE* dataFile, const char* name);

// Reads the value of the entry at `block` from `offset` on (at most
// `maximum` bytes) into `*buffer`, growing it (and `*capacity`) when it is
// too small; the value is followed by two NULs. A block of 0 or below is an
// empty value. An entry that does not lie within the file is damage: -70
// and an empty value. `type` receives the entry's type when not null.
int32_t memo4fileRead(MEMO4FILE* memo, int64_t block, char** buffer, uint32_t* capacity,
                      uint32_t* length, uint32_t offset, uint32_t maximum, int32_t* type);

// Writes `part` bytes of a value of `total` bytes at `offset` within its
// entry. At offset 0 the entry goes to newly allocated blocks, never over
// the entry `*block` names; `*block` receives its block number (0 for an
// empty value, which writes nothing).
int32_t memo4fileWritePart(MEMO4FILE* memo, int64_t* block, const char* bytes, uint32_t total,
                           uint32_t offset, uint32_t part, int32_t type);
int32_t memo4fileWrite(MEMO4FILE* memo, int64_t* block, const char* bytes, uint32_t n);

// Hands out `n` blocks that were never used: the first block's number, or
// a negative code.
int64_t memo4fileAllocate(MEMO4FILE* memo, int64_t n);

// The memo header lock, which serialises allocation between processes.
int32_t memo4fileLockFree(MEMO4FILE* memo);
int32_t memo4fileUnlock(MEMO4FILE* memo);

// Blocks an entry of `bytes` bytes occupies: its 8-byte header and the
// value, rounded up to whole blocks.
int64_t memo4blockCount(uint64_t bytes, uint32_t blockSize);
int32_t memo4fileWriteEntry(MEMO4FILE* memo, int64_t block, const char* bytes, uint32_t part,
                            uint32_t total, int32_t type);
