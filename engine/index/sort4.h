// SORT4: the sort engine that orders the keys of an index build.
//
// It sorts fixed-size entries. An entry, as the sort stores it and hands
// it back:
//
//   OFFSET          SIZE          FIELD
//   0               keyLength     key bytes
//   keyLength       4             record number (uint32, native byte order)
//   keyLength + 4   extraLength   extra bytes, carried along unread
//
// Order: the compare routine over the key bytes; equal keys by record
// number, as unsigned 32-bit values. Entries equal in both come out in no
// particular order.
//
// Entries are collected in memory units (the CODE4 setting memSizeSortPool)
// reached through a pointer array of memSizeSortPool / 4 slots. When no slot
// is left and memory cannot grow, the entries in memory are sorted and
// appended as one run to the work file, through a spool buffer of
// memSizeSortBuffer bytes (kept between 1 KiB and 63 KiB, what the
// sequential writer can use); reading then merges the runs. Every
// run but the last holds the same number of entries, so run i starts at
// i x runLength in the work file. The work file is a temporary file in the
// temporary folder (TMPDIR, then /tmp), created with O_EXCL and mode 0600,
// and removed when the sort is freed, whatever happened before.
//
// Lifetime: released -> collecting (sort4init, sort4put ...) -> reading
// (sort4getInit, sort4get ...) -> released (sort4get answering 210, or
// sort4free). sort4free may be called at any moment and any number of
// times; a default-constructed SORT4 is released. A sort that failed keeps
// answering its first failure until it is freed.
//
// Thread rule: one thread uses a sort. While runs are written the
// write-behind worker writes the halves of the spool buffer; the sequential
// writer's own lock guards the half words, and the buffer is freed only
// after both halves are back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/storage/file4.h"
#include "engine/storage/list4.h"
#include "engine/storage/seqwrite4.h"

struct CODE4;

// Compares two keys of `length` bytes: negative, 0 or positive.
using Sort4Compare = int (*)(const void* a, const void* b, size_t length);

// The default compare routine: unsigned bytes, as memcmp.
int sort4compareBytes(const void* a, const void* b, size_t length);

enum : int32_t {
  sort4released = 0,
  sort4collecting = 1,
  sort4inMemory = 2,  // reading, no run was written
  sort4merging = 3,   // reading, merging the runs of the work file
};

// One run of the work file while it is merged: a window of whole entries
// read from [next - filled, next) of the file.
struct Sort4Run {
  char* buffer = nullptr;  // the run's slice of a memory unit
  uint32_t head = 0;       // offset in the buffer of the run's smallest unread entry
  uint32_t filled = 0;     // bytes the last read brought; 0 once the run is used up
  uint64_t next = 0;       // work-file offset of the run's first byte not yet read
  uint64_t end = 0;        // work-file offset where the run ends
  uint32_t number = 0;     // the run's place in the work file; breaks ties
};

struct Sort4Fields {
  CODE4* codeBase = nullptr;
  int32_t state = sort4released;
  int32_t failure = 0;  // the first failure met; answered until freed

  // Set by the caller after sort4init, before the first put.
  Sort4Compare compare = sort4compareBytes;
  // Most bytes of memory units and run table held at once; 0 for as much
  // as the heap gives. The pointer array and the spool buffer, taken by
  // sort4init, do not count.
  int64_t memoryLimit = 0;

  uint32_t keyLength = 0;
  uint32_t extraOffset = 0;  // keyLength + 4
  uint32_t extraLength = 0;
  uint32_t entrySize = 0;  // keyLength + 4 + extraLength

  // Memory units: heap blocks of unitSize bytes, each a LINK4 in `units`
  // followed by entriesPerUnit entries. bytesHeld counts the units and the
  // run table against memoryLimit.
  LIST4 units;
  uint32_t unitSize = 0;
  uint32_t entriesPerUnit = 0;
  int64_t bytesHeld = 0;

  // Collecting and in-memory reading. slots[0, slotsWithStorage) point to
  // entry storage; slots[0, entriesInMemory) hold entries. Once the array
  // cannot grow any more its unused tail may itself hold entries, beyond
  // `capacity`.
  char** slots = nullptr;
  uint32_t capacity = 0;
  uint32_t slotsWithStorage = 0;
  uint32_t entriesInMemory = 0;
  uint32_t readPosition = 0;
  bool mayGrow = true;

  // Spooling to the work file.
  char* spoolBuffer = nullptr;
  uint32_t spoolBufferSize = 0;
  uint32_t runCount = 0;
  uint64_t runLength = 0;     // bytes of every run but the last
  uint64_t spooledBytes = 0;  // bytes of all runs written so far

  // Merging. runs[0, runsMerging) are the runs with entries left, ordered
  // by head entry (then run number); runs[0]'s head is the next entry.
  Sort4Run* runs = nullptr;  // the run table: runCount elements
  uint32_t runsMerging = 0;
  uint32_t runBufferBytes = 0;
  bool headTaken = false;  // runs[0]'s head was handed out; it moves on at the next get
};

struct SORT4 : Sort4Fields {
  SORT4() = default;
  ~SORT4();
  SORT4(const SORT4&) = delete;
  SORT4& operator=(const SORT4&) = delete;

  FILE4 file;            // the work file; handle -1 while there is none
  FILE4SEQWRITE writer;  // appends runs to `file` through the spool buffer
};

// Starts a sort of entries with `keyLength` key bytes and `extraLength`
// extra bytes; a sort in use is freed first. 0, -1 while the CODE4 holds
// an error, -935 for a null pointer, -930 for a negative or oversized
// length, -920 when the pointer array or spool buffer cannot be had (the
// sort is then released).
int32_t sort4init(SORT4* s, CODE4* c, int32_t keyLength, int32_t extraLength);

// Adds one entry: the key's keyLength bytes, the record number, and the
// extraLength bytes at `extra` (may be null when there are none). 0, or
// -930 for a null sort or key, a missing extra, a negative record number
// or a sort not collecting; a failure to write a run is returned as met.
int32_t sort4put(SORT4* s, int32_t recordNumber, const void* key, const void* extra);

// Ends the input and prepares reading: 0, -930 for a sort not collecting,
// -935 for a null sort, -920 when the merge cannot have one entry of
// buffer per run, or the failure met writing the last run.
int32_t sort4getInit(SORT4* s);

// The next entry in order: 0 with its record number, key and extra bytes
// (pointers into the sort, valid until the next call; any out pointer may
// be null). 210 once every entry has been handed out: the sort is then
// released, and stays so. -1 while the CODE4 holds an error, -935 for a
// null sort, -930 before sort4getInit, -70 (naming the work file) when the
// work file gives back less than was written.
int32_t sort4get(SORT4* s, int32_t* recordNumber, const char** key, const char** extra);

// Releases all memory and removes the work file. Safe in any state and
// any number of times.
void sort4free(SORT4* s);
