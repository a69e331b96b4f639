// Leaf nodes: widths, info entries, the check on reading, key expansion,
// cursor positions and the scan that seeks within a leaf.
#include "engine/index/block4leaf.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/index/block4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/endian4.h"

using namespace endian4;

namespace leaf4 {

namespace {

constexpr int32_t kLocCounts = 80000;
constexpr int32_t kLocWidths = 80301;
constexpr int32_t kLocSpace = 80303;
constexpr int kMinRecordBits = 12;

int significantBits(uint64_t value) {
  int bits = 0;
  for (; value != 0; value >>= 1) bits++;
  return bits;
}

int blockSizeOf(const BLOCK4* b) { return static_cast<int>(b->tag->indexFile->blockSize); }

int stored(const Entry& e, int keyLength) { return keyLength - e.dup - e.trail; }

}  // namespace

Widths widthsFor(int keyLength, uint32_t records) {
  Widths w;
  w.d = w.t = significantBits(static_cast<uint64_t>(keyLength));
  // Aligns r + 2d on a byte boundary before the minimum is applied; the sum
  // can reach 38 + 2 bits before r is capped, so it is kept in an int.
  int r = significantBits(records) + (8 - (2 * w.d) % 8) % 8;
  r = std::max(r, kMinRecordBits);
  while ((r + 2 * w.d) % 8 != 0) r++;
  w.n = (r + 2 * w.d) / 8;
  w.r = std::min(r, kRecordBitsMax);
  return w;
}

Widths widthsOf(const unsigned char* node) {
  Widths w;
  w.r = node[kRecordBits];
  w.d = node[kDupBits];
  w.t = node[kTrailBits];
  w.n = node[kEntryBytes];
  return w;
}

void writeWidths(unsigned char* node, const Widths& w) {
  writeLe32(node + kRecordMask, static_cast<uint32_t>(lowBits(w.r)));
  node[kDupMask] = static_cast<unsigned char>(lowBits(w.d));
  node[kTrailMask] = static_cast<unsigned char>(lowBits(w.t));
  node[kRecordBits] = static_cast<unsigned char>(w.r);
  node[kDupBits] = static_cast<unsigned char>(w.d);
  node[kTrailBits] = static_cast<unsigned char>(w.t);
  node[kEntryBytes] = static_cast<unsigned char>(w.n);
}

bool widthsUsable(const Widths& w) {
  return w.n >= kEntryBytesMin && w.n <= kEntryBytesMax && w.r <= kRecordBitsMax &&
         w.d <= kCountBitsMax && w.t <= kCountBitsMax && w.r + w.d + w.t <= 8 * w.n;
}

Entry entryAt(const unsigned char* node, const Widths& w, int i) {
  // Exactly n bytes: a wider read would run past the last entry.
  const uint64_t v = readLe(node + kEntries + i * w.n, w.n);
  Entry e;
  e.record = static_cast<uint32_t>(v & lowBits(w.r));
  e.dup = static_cast<int>((v >> w.r) & lowBits(w.d));
  e.trail = static_cast<int>((v >> (w.r + w.d)) & lowBits(w.t));
  return e;
}

void putEntry(unsigned char* node, const Widths& w, int i, const Entry& e) {
  const uint64_t v = (e.record & lowBits(w.r)) |
                     (static_cast<uint64_t>(e.dup) & lowBits(w.d)) << w.r |
                     (static_cast<uint64_t>(e.trail) & lowBits(w.t)) << (w.r + w.d);
  writeLe(node + kEntries + i * w.n, v, w.n);
}

int freeBytes(const unsigned char* node) { return readLe16(node + kFreeBytes); }
void setFreeBytes(unsigned char* node, int free) {
  writeLe16(node + kFreeBytes, static_cast<uint16_t>(free));
}

// Both scan eight bytes at a time first, keys being mostly long runs of
// shared or pad bytes.
int trailingPad(const unsigned char* key, int length, unsigned char pad) {
  const uint64_t pads = 0x0101010101010101ull * pad;
  int count = 0;
  for (; count + 8 <= length; count += 8) {
    uint64_t word = 0;
    std::memcpy(&word, key + length - count - 8, 8);
    if (word != pads) break;
  }
  while (count < length && key[length - 1 - count] == pad) count++;
  return count;
}

int sharedPrefix(const unsigned char* a, const unsigned char* b, int length) {
  int i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t x = 0;
    uint64_t y = 0;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  while (i < length && a[i] == b[i]) i++;
  return i;
}

int keyAreaStart(const unsigned char* node, const Widths& w, int count) {
  return kEntries + w.n * count + freeBytes(node);
}

int32_t check(BLOCK4* b) {
  const unsigned char* node = b->data();
  const int blockSize = blockSizeOf(b);
  const int length = tagfile4keyLength(b->tag);
  const int count = block4numKeys(b);
  const Widths w = widthsOf(node);
  // A leaf that was never given widths holds nothing yet.
  if (count == 0 && w.n == 0) return 0;
  if (!widthsUsable(w)) return block4damaged(b, kLocWidths);
  const int entryArea = blockSize - kEntries;
  if (count > entryArea / w.n) return block4damaged(b, kLocSpace);
  int total = 0;
  for (int i = 0; i < count; i++) {
    const Entry e = entryAt(node, w, i);
    if (e.dup + e.trail > length || (i == 0 && e.dup != 0)) return block4damaged(b, kLocCounts);
    total += stored(e, length);
  }
  const int space = entryArea - w.n * count - total;
  if (space < 0 || freeBytes(node) != space) return block4damaged(b, kLocSpace);
  return 0;
}

namespace {

void swapBuilt(BLOCK4* b) {
  std::swap(b->builtKey, b->spareKey);
  std::swap(b->builtOn, b->spareOn);
  std::swap(b->builtPos, b->sparePos);
}

}  // namespace

// Each step builds the next key into the spare buffer from the built one
// and swaps the two, so the key before the built one stays at hand.
unsigned char* expand(BLOCK4* b, int i) {
  const unsigned char* node = b->data();
  const int count = block4numKeys(b);
  if (i < 0 || i >= count) return nullptr;
  const bool spareUsable = b->spareOn >= 0 && b->spareOn <= i;
  const bool builtUsable = b->builtOn >= 0 && b->builtOn <= i;
  if (spareUsable && (!builtUsable || b->spareOn > b->builtOn)) swapBuilt(b);
  if (b->builtOn == i) return b4keyValue(b->builtKey);
  const Widths w = widthsOf(node);
  const int length = tagfile4keyLength(b->tag);
  const int entriesEnd = kEntries + w.n * count;

  int j = -1;
  int end = blockSizeOf(b);  // end of entry j + 1's bytes once j's are passed
  int previous = 0;          // stored bytes of entry j
  if (b->builtOn >= 0 && b->builtOn < i) {
    j = b->builtOn;
    end = b->builtPos;
    previous = stored(entryAt(node, w, j), length);
  } else {
    block4forgetKeys(b);
  }
  while (j < i) {
    j++;
    end -= previous;
    const Entry e = entryAt(node, w, j);
    const int bytes = length - e.dup - e.trail;
    // Checked here too, so that no caller can make a damaged image read
    // outside the node.
    if (bytes < 0 || (j == 0 && e.dup != 0) || end - bytes < entriesEnd) {
      block4forgetKeys(b);
      block4damaged(b, kLocCounts);
      return nullptr;
    }
    unsigned char* key = b4keyValue(b->spareKey);
    std::memcpy(key, b4keyValue(b->builtKey), e.dup);
    std::memcpy(key + e.dup, node + end - bytes, bytes);
    std::memset(key + length - e.trail, b->tag->pad, e.trail);
    key[length] = 0;
    b->spareKey->num = e.record;
    b->spareOn = j;
    b->sparePos = end;
    swapBuilt(b);
    previous = bytes;
  }
  return b4keyValue(b->builtKey);
}

void goTo(BLOCK4* b, int i) {
  const unsigned char* node = b->data();
  const Widths w = widthsOf(node);
  const int length = tagfile4keyLength(b->tag);
  const int count = block4numKeys(b);
  if (i >= count && count > 0) {
    // After the last entry: the key area's lowest offset, known without a
    // walk (appends put the cursor there every time).
    b->keyOn = count;
    b->curPos = keyAreaStart(node, w, count);
    b->curDupCnt = b->curTrailCnt = 0;
    return;
  }
  if (i < b->keyOn || b->keyOn < 0) {
    b->keyOn = 0;
    b->curPos = blockSizeOf(b);
  }
  if (b->builtOn > b->keyOn && b->builtOn <= i) {
    b->keyOn = b->builtOn;
    b->curPos = b->builtPos;
  }
  while (b->keyOn < i) {
    b->curPos -= stored(entryAt(node, w, b->keyOn), length);
    b->keyOn++;
  }
  if (i < count) {
    const Entry e = entryAt(node, w, i);
    b->curDupCnt = e.dup;
    b->curTrailCnt = e.trail;
  } else {
    b->curDupCnt = b->curTrailCnt = 0;
  }
}

// Keeps m, the bytes the search value shares with the key before the
// current entry. An entry that repeats more of that key than m is below
// the value as that key was; otherwise its key equals the value up to its
// duplicate count and is compared from there, stored bytes first (through
// the tag's compare routine), then its trailing pad.
//
// In a tag ordered byte by byte, a built key below the value (the key
// inserted last, when keys come in ascending runs) lets the scan start
// after it: every entry up to it is below the value too, and m is the
// bytes it shares with the value.
int seek(BLOCK4* b, const unsigned char* value, int length) {
  const unsigned char* node = b->data();
  const Widths w = widthsOf(node);
  const int keyLength = tagfile4keyLength(b->tag);
  const unsigned char pad = b->tag->pad;
  const int count = block4numKeys(b);
  int end = blockSizeOf(b);
  int previous = 0;
  int m = 0;
  int result = 2;
  int i = 0;
  if (b->builtOn >= 0 && b->builtOn < count && b->tag->compare == tag4compareBytes) {
    const unsigned char* built = b4keyValue(b->builtKey);
    const int shared = sharedPrefix(built, value, length);
    if (shared < length && built[shared] < value[shared]) {
      i = b->builtOn + 1;
      end = b->builtPos;
      previous = stored(entryAt(node, w, b->builtOn), keyLength);
      m = shared;
    }
  }
  Entry e;
  for (; i < count; i++) {
    end -= previous;
    e = entryAt(node, w, i);
    previous = stored(e, keyLength);
    if (e.dup > m) continue;
    int j = e.dup;
    const int significant = keyLength - e.trail;
    const int storedEnd = std::min(length, significant);
    if (j < storedEnd) {
      const int32_t equal = b->tag->compare(node + end - previous, value + j, storedEnd - j);
      if (equal < 0) break;
      j += equal;
      if (j < storedEnd) {
        m = j;
        continue;
      }
    }
    while (j < length && value[j] == pad) j++;
    if (j == length) {
      result = 0;
      break;
    }
    if (pad > value[j]) break;
    m = j;
  }
  b->keyOn = i;
  if (i < count) {
    b->curPos = end;
    b->curDupCnt = e.dup;
    b->curTrailCnt = e.trail;
  } else {
    b->curPos = end - previous;
    b->curDupCnt = b->curTrailCnt = 0;
  }
  return result;
}

}  // namespace leaf4

void block4leafInit(BLOCK4* b) {
  unsigned char* node = b->data();
  const int blockSize = static_cast<int>(b->tag->indexFile->blockSize);
  std::memset(node + leaf4::kFreeBytes, 0, blockSize - leaf4::kFreeBytes);
  block4numKeysSet(b, 0);
  leaf4::writeWidths(node,
                     leaf4::widthsFor(tagfile4keyLength(b->tag), tagfile4widthRecords(b->tag)));
  leaf4::setFreeBytes(node, blockSize - leaf4::kEntries);
  block4forgetKeys(b);
  b->keyOn = 0;
  b->curPos = blockSize;
  b->curDupCnt = b->curTrailCnt = 0;
  b->changed = true;
}
