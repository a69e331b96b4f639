// Leaf nodes: record numbers with compressed keys.
//
//   OFFSET  SIZE   CONTENT
//        0    12   common part (block4.h)
//       12     2   free bytes in the node
//       14     4   record-number mask (low r bits set)
//       18     1   duplicate-count mask
//       19     1   trailing-count mask
//       20     1   r: record-number bits
//       21     1   d: duplicate-count bits
//       22     1   t: trailing-count bits
//       23     1   n: bytes per info entry (1 to 6)
//       24   n x count   info entries, entry i at 24 + i x n
//      ...   ...   free space
//      ...   ...   key bytes, packed down from the end of the block: entry
//                  0's bytes are the block's last bytes, each later entry's
//                  bytes lie just below those of the entry before it
//
// An info entry is an n-byte little-endian number: bits 0..r-1 the record
// number, the next d bits the duplicate count, the next t bits the trailing
// count. The key of entry i (key length L) is the first `dup` bytes of key
// i-1, then the L - dup - trail bytes stored for entry i, then `trail` pad
// bytes. Entry 0 has no duplicate bytes.
//
// free = block size - 24 - n x count - (sum of stored key bytes)
//
// Invariants this engine keeps when it writes: dup + trail <= L; a
// duplicate count never reaches into the previous key's trailing pad
// (dup(i) <= L - trail(i-1)), so removing an entry never makes its successor
// longer; free space is zero.
#pragma once

#include <cstdint>

struct BLOCK4;

namespace leaf4 {

inline constexpr int kFreeBytes = 12;
inline constexpr int kRecordMask = 14;
inline constexpr int kDupMask = 18;
inline constexpr int kTrailMask = 19;
inline constexpr int kRecordBits = 20;
inline constexpr int kDupBits = 21;
inline constexpr int kTrailBits = 22;
inline constexpr int kEntryBytes = 23;
inline constexpr int kEntries = 24;

// Info entries are 1 to 6 bytes: the width rule gives at least 2 (keys of 1
// to 3 bytes over few records) and at most 32 + 8 + 8 bits; other writers
// put tiny tags into entries of one byte when the three fields fit.
inline constexpr int kEntryBytesMin = 1;
inline constexpr int kEntryBytesMax = 6;
inline constexpr int kRecordBitsMax = 32;
inline constexpr int kCountBitsMax = 8;

struct Widths {
  int r = 0;  // record-number bits
  int d = 0;  // duplicate-count bits
  int t = 0;  // trailing-count bits
  int n = 0;  // bytes per info entry
};

struct Entry {
  uint32_t record = 0;
  int dup = 0;
  int trail = 0;
};

// The width rule for a key length and a record count.
Widths widthsFor(int keyLength, uint32_t records);
Widths widthsOf(const unsigned char* node);
// Writes the widths and their masks (masks computed in 64 bits).
void writeWidths(unsigned char* node, const Widths& w);
// True when entries of these widths can be read: n in range, r + d + t bits
// within n bytes, each count field at most 8 bits.
bool widthsUsable(const Widths& w);

inline uint64_t lowBits(int bits) { return bits >= 64 ? ~0ull : (1ull << bits) - 1; }

Entry entryAt(const unsigned char* node, const Widths& w, int i);
void putEntry(unsigned char* node, const Widths& w, int i, const Entry& e);

int freeBytes(const unsigned char* node);
void setFreeBytes(unsigned char* node, int free);

// Trailing pad bytes of a key (L when it is all pad).
int trailingPad(const unsigned char* key, int length, unsigned char pad);
// Leading bytes two keys share.
int sharedPrefix(const unsigned char* a, const unsigned char* b, int length);

// The leaf half of block4check.
int32_t check(BLOCK4* b);
// Expands entry i into the work buffer, walking on from the entry built
// last when it lies before i; null after the raised -310 (80000).
unsigned char* expand(BLOCK4* b, int i);
// Puts the cursor on entry i, keeping its counts and position in step.
void goTo(BLOCK4* b, int i);
int seek(BLOCK4* b, const unsigned char* key, int length);
// The lowest offset of the key area (where the next appended key ends).
int keyAreaStart(const unsigned char* node, const Widths& w, int count);

int insert(BLOCK4* b, const unsigned char* key, uint32_t record);
int remove(BLOCK4* b);
// Copies the entries from `keep` on into `to`, leaving `b` unchanged: 0, or
// the raised -310 for a damaged leaf. truncate then drops them from `b`.
int32_t splitInto(BLOCK4* b, BLOCK4* to, int keep);
void truncate(BLOCK4* b, int keep);

}  // namespace leaf4
