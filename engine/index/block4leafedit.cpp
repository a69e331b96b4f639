// Changes to a leaf: insert (widening the record-number field when a record
// needs more bits), remove, and the leaf half of a split.
//
// Every change re-derives the duplicate counts it touches from the keys
// themselves: the count of an entry is the bytes it shares with the key
// before it, limited to that key's significant part and its own, and to
// what its count field can hold. That keeps the invariant of block4leaf.h,
// whatever a caller's cursor says.
#include <algorithm>
#include <cstring>

#include "engine/index/block4.h"
#include "engine/index/block4leaf.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"

namespace leaf4 {

namespace {

constexpr int32_t kLocNoRoom = 80305;

struct Geometry {
  unsigned char* node;
  int blockSize;
  int length;  // key length
  int count;
};

Geometry geometryOf(BLOCK4* b) {
  return {b->data(), static_cast<int>(b->tag->indexFile->blockSize), tagfile4keyLength(b->tag),
          block4numKeys(b)};
}

int stored(const Entry& e, int length) { return length - e.dup - e.trail; }

// The end of entry p's stored bytes, counted from the block's end; the
// cursor goes to p.
int positionOf(BLOCK4* b, int p) {
  b->keyOn = -1;
  goTo(b, p);
  return b->curPos;
}

// Copies expanded key i; false after the raised -310.
bool copyKey(BLOCK4* b, int i, unsigned char* out, int length) {
  const unsigned char* key = expand(b, i);
  if (key == nullptr) return false;
  std::memcpy(out, key, length);
  return true;
}

// Re-packs every entry with the wider record field of `to`, last entry
// first so that no entry is overwritten before it is read.
void widen(unsigned char* node, const Widths& from, const Widths& to, int count) {
  for (int i = count - 1; i >= 0; i--) putEntry(node, to, i, entryAt(node, from, i));
  writeWidths(node, to);
  setFreeBytes(node, freeBytes(node) - (to.n - from.n) * count);
}

// The widths that hold `record`: r grows by whole bytes up to 32 bits, n
// follows r + d + t.
Widths widthsHolding(const Widths& w, uint32_t record) {
  Widths wide = w;
  while (record > lowBits(wide.r)) wide.r = std::min(wide.r + 8, kRecordBitsMax);
  wide.n = std::max(w.n, (wide.r + wide.d + wide.t + 7) / 8);
  return wide;
}

}  // namespace

int insert(BLOCK4* b, const unsigned char* key, uint32_t record) {
  TAG4FILE* t = b->tag;
  if (block4numKeys(b) == 0 && widthsOf(b->data()).n == 0) block4leafInit(b);
  const Geometry g = geometryOf(b);
  const int length = g.length;
  const Widths w = widthsOf(g.node);
  const int dupMax = static_cast<int>(lowBits(w.d));
  const int p = std::clamp(b->keyOn, 0, g.count);
  const bool hasPrev = p > 0;
  const bool hasNext = p < g.count;

  unsigned char prev[cdx4keyLengthMax + 1];
  unsigned char next[cdx4keyLengthMax + 1];
  Entry before, after;
  if (hasPrev) {
    if (!copyKey(b, p - 1, prev, length)) return -1;
    before = entryAt(g.node, w, p - 1);
  }
  if (hasNext) {
    if (!copyKey(b, p, next, length)) return -1;
    after = entryAt(g.node, w, p);
  }

  int trail = t->keepTrailing ? 0 : trailingPad(key, length, t->pad);
  trail = std::min(trail, static_cast<int>(lowBits(w.t)));
  // The successor may share pad bytes with the new key beyond the key's
  // significant part; the new key then stores them, so that the
  // successor's duplicate count can stay.
  if (hasNext && after.dup > length - trail) trail = length - after.dup;
  int dup = 0;
  if (hasPrev)
    dup =
        std::min({sharedPrefix(key, prev, length), length - before.trail, length - trail, dupMax});
  int nextDup = 0;
  if (hasNext)
    nextDup =
        std::min({sharedPrefix(next, key, length), length - trail, length - after.trail, dupMax});

  const int storedKey = length - dup - trail;
  const int storedNextOld = hasNext ? stored(after, length) : 0;
  const int storedNextNew = hasNext ? length - nextDup - after.trail : 0;
  const int growth = storedKey + storedNextNew - storedNextOld;

  const Widths wide = widthsHolding(w, record);
  if (freeBytes(g.node) < (wide.n - w.n) * g.count + wide.n + growth) return 1;
  if (wide.r != w.r || wide.n != w.n) widen(g.node, w, wide, g.count);

  const int n = wide.n;
  // The expansions above end on entry p, or on p - 1 when it is the last.
  int end = g.blockSize;
  if (hasNext) {
    end = b->builtPos;
  } else if (hasPrev) {
    end = b->builtPos - stored(before, length);
  }
  const int low = keyAreaStart(g.node, wide, g.count);
  // The keys after the successor move down by the growth; the new key and
  // the successor's new bytes then fill the place below the predecessor.
  const int tailEnd = end - storedNextOld;
  std::memmove(g.node + low - growth, g.node + low, tailEnd - low);
  if (growth < 0) std::memset(g.node + low, 0, -growth);
  std::memcpy(g.node + end - storedKey, key + dup, storedKey);
  if (hasNext) std::memcpy(g.node + end - storedKey - storedNextNew, next + nextDup, storedNextNew);

  std::memmove(g.node + kEntries + (p + 1) * n, g.node + kEntries + p * n, (g.count - p) * n);
  putEntry(g.node, wide, p, Entry{record, dup, trail});
  if (hasNext) putEntry(g.node, wide, p + 1, Entry{after.record, nextDup, after.trail});
  block4numKeysSet(b, g.count + 1);
  setFreeBytes(g.node, freeBytes(g.node) - n - growth);

  // The new entry's expanded key is the key itself: kept as the built key,
  // an append after it expands nothing.
  std::memcpy(b4keyValue(b->builtKey), key, length);
  b4keyValue(b->builtKey)[length] = 0;
  b->builtKey->num = record;
  b->builtOn = p;
  b->builtPos = end;
  b->spareOn = -1;
  b->keyOn = p;
  b->curPos = end;
  b->curDupCnt = dup;
  b->curTrailCnt = trail;
  b->changed = true;
  return 0;
}

int remove(BLOCK4* b) {
  const Geometry g = geometryOf(b);
  const int length = g.length;
  const Widths w = widthsOf(g.node);
  const int n = w.n;
  const int p = b->keyOn;

  if (g.count == 1) {
    std::memset(g.node + kEntries, 0, g.blockSize - kEntries);
    block4numKeysSet(b, 0);
    setFreeBytes(g.node, g.blockSize - kEntries);
  } else if (p == g.count - 1) {
    const int end = positionOf(b, p);
    const int bytes = stored(entryAt(g.node, w, p), length);
    std::memset(g.node + end - bytes, 0, bytes);
    std::memset(g.node + kEntries + p * n, 0, n);
    block4numKeysSet(b, g.count - 1);
    setFreeBytes(g.node, freeBytes(g.node) + n + bytes);
  } else {
    unsigned char prev[cdx4keyLengthMax + 1];
    unsigned char next[cdx4keyLengthMax + 1];
    Entry before;
    if (p > 0) {
      if (!copyKey(b, p - 1, prev, length)) return -1;
      before = entryAt(g.node, w, p - 1);
    }
    if (!copyKey(b, p + 1, next, length)) return -1;
    const Entry removed = entryAt(g.node, w, p);
    const Entry after = entryAt(g.node, w, p + 1);
    // The successor now follows the predecessor and shares with it what
    // both keys hold in common.
    int nextDup = 0;
    if (p > 0)
      nextDup = std::min({sharedPrefix(next, prev, length), length - before.trail,
                          length - after.trail, static_cast<int>(lowBits(w.d))});
    const int storedNextNew = length - nextDup - after.trail;
    const int released = stored(removed, length) + stored(after, length) - storedNextNew;
    // Only a leaf that breaks the invariant can need more room here.
    if (released < 0 && freeBytes(g.node) < -released) return block4damaged(b, kLocNoRoom);

    const int end = positionOf(b, p);
    const int low = keyAreaStart(g.node, w, g.count);
    const int tailEnd = end - stored(removed, length) - stored(after, length);
    std::memmove(g.node + low + released, g.node + low, tailEnd - low);
    if (released > 0) std::memset(g.node + low, 0, released);
    std::memcpy(g.node + end - storedNextNew, next + nextDup, storedNextNew);

    std::memmove(g.node + kEntries + (p + 1) * n, g.node + kEntries + (p + 2) * n,
                 (g.count - p - 2) * n);
    putEntry(g.node, w, p, Entry{after.record, nextDup, after.trail});
    std::memset(g.node + kEntries + (g.count - 1) * n, 0, n);
    block4numKeysSet(b, g.count - 1);
    setFreeBytes(g.node, freeBytes(g.node) + n + released);
  }
  block4forgetKeys(b);
  positionOf(b, p);
  b->changed = true;
  return 0;
}

int32_t splitInto(BLOCK4* b, BLOCK4* to, int keep) {
  const Geometry g = geometryOf(b);
  TAG4FILE* t = b->tag;
  const int length = g.length;
  const Widths w = widthsOf(g.node);
  const int n = w.n;
  const int moved = g.count - keep;
  unsigned char* dst = to->data();

  std::memset(dst + kFreeBytes, 0, g.blockSize - kFreeBytes);
  std::memcpy(dst + kRecordMask, g.node + kRecordMask, kEntries - kRecordMask);
  block4numKeysSet(to, moved);
  block4forgetKeys(to);
  if (moved == 0) {
    setFreeBytes(dst, g.blockSize - kEntries);
    return 0;
  }

  // The first moved key is stored whole; the others keep their bytes and
  // counts, which only refer to keys that move with them.
  unsigned char first[cdx4keyLengthMax + 1];
  if (!copyKey(b, keep, first, length)) return -1;
  const Entry head = entryAt(g.node, w, keep);
  const int secondDup = moved > 1 ? entryAt(g.node, w, keep + 1).dup : 0;
  int trail = t->keepTrailing ? 0 : trailingPad(first, length, t->pad);
  trail = std::min({trail, length - secondDup, static_cast<int>(lowBits(w.t))});
  const int storedFirst = length - trail;

  const int end = positionOf(b, keep);
  const int low = keyAreaStart(g.node, w, g.count);
  const int restEnd = end - stored(head, length);
  const int restLength = restEnd - low;
  const int space = g.blockSize - kEntries - n * moved - storedFirst - restLength;
  if (space < 0) return block4damaged(b, kLocNoRoom);

  std::memcpy(dst + g.blockSize - storedFirst, first, storedFirst);
  std::memcpy(dst + g.blockSize - storedFirst - restLength, g.node + low, restLength);
  putEntry(dst, w, 0, Entry{head.record, 0, trail});
  std::memcpy(dst + kEntries + n, g.node + kEntries + (keep + 1) * n, (moved - 1) * n);
  setFreeBytes(dst, space);
  return 0;
}

void truncate(BLOCK4* b, int keep) {
  const Geometry g = geometryOf(b);
  if (keep >= g.count) return;
  const Widths w = widthsOf(g.node);
  const int end = positionOf(b, keep);
  const int low = keyAreaStart(g.node, w, g.count);
  const int moved = g.count - keep;
  std::memset(g.node + kEntries + keep * w.n, 0, moved * w.n);
  std::memset(g.node + low, 0, end - low);
  block4numKeysSet(b, keep);
  setFreeBytes(g.node, freeBytes(g.node) + moved * w.n + (end - low));
  block4forgetKeys(b);
}

}  // namespace leaf4
