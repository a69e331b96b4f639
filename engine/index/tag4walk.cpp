// Walking a tag: top, bottom, skip along the leaves, and what the cursor
// shows.
//
// A skip moves within the current leaf and crosses to a sibling leaf
// through the leaves' sibling pointers; the sibling then becomes the only
// node on the path (its parents are not followed). A sibling must be a
// non-root leaf that is not empty and points back at the leaf just left.
// When one does not while another process may be writing the file, the
// skip waits, drops the tag's nodes, seeks again the key it was leaving and
// goes on from there; otherwise it raises -310 (90158). Each leaf crossed
// to has the next one in the same direction read ahead, into the file
// layer's read-ahead buffer when the block cache serves the file.
#include <algorithm>
#include <cstring>

#include "engine/index/index4file.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/error4.h"

namespace {

enum class Hop { Stepped, Restored, End };

bool pending(const TAG4FILE* t) { return error4code(t->codeBase) < 0; }

int32_t walkToEnd(TAG4FILE* t, bool last) {
  return tag4withRetry(t, [&] {
    return tag4descend(t, [&](BLOCK4* b) {
      const int count = block4numKeys(b);
      block4top(b);
      if (last && count > 0) block4goTo(b, count - 1);
      return 0;
    });
  });
}

bool siblingFits(BLOCK4* s, uint32_t from, bool forward) {
  return block4attribute(s) == block4attrLeaf && block4numKeys(s) > 0 &&
         (forward ? block4left(s) : block4right(s)) == from;
}

// After a sibling that did not fit: the remembered entry sought again.
// Forward, an entry that is gone leaves the cursor on the next one, which
// is the step; backward the loop's next step back makes it.
int32_t resume(TAG4FILE* t, const unsigned char* key, uint32_t record, bool forward, Hop* hop) {
  Tag4Found found;
  if (int32_t rc = tag4seekRecord(t, key, record, &found); rc < 0) return rc;
  *hop = Hop::Restored;
  if (found.exact || !forward) return 0;
  BLOCK4* b = tag4current(t);
  const int count = block4numKeys(b);
  if (b->keyOn < count) {
    *hop = Hop::Stepped;
  } else {
    if (count > 0) block4goTo(b, count - 1);
    *hop = Hop::End;
  }
  return 0;
}

// Crosses from the current leaf (its cursor on its last entry going
// forward, its first going back) to `next`.
int32_t hop(TAG4FILE* t, uint32_t next, bool forward, int* attempt, Hop* result) {
  BLOCK4* b = tag4current(t);
  const int length = tagfile4keyLength(t);
  unsigned char key[cdx4keyLengthMax + 1];
  const B4KEY_DATA* entry = block4key(b, b->keyOn);
  if (entry == nullptr) return -1;
  std::memcpy(key, b4keyValue(entry), length);
  const uint32_t record = entry->num;
  const uint32_t from = b->fileBlock;
  tag4popAll(t);
  bool fresh = false;
  int32_t rc = tag4take(t, next, &fresh);
  if (rc == 0) {
    BLOCK4* s = tag4current(t);
    if (siblingFits(s, from, forward)) {
      block4goTo(s, forward ? 0 : block4numKeys(s) - 1);
      *result = Hop::Stepped;
      // A skip that crossed one leaf is likely to cross the next: it is
      // read while this one's keys are gone through.
      const uint32_t further = forward ? block4right(s) : block4left(s);
      if (further != block4none) tag4readAhead(t, further);
      return 0;
    }
    tag4cacheForget(t, s);
    rc = tag4stale(t, tag4locStaleSibling);
  }
  if (rc != tag4retry) return rc;
  if (int32_t prepared = tag4retryPrepare(t, (*attempt)++); prepared < 0) return prepared;
  return resume(t, key, record, forward, result);
}

// Moves n keys in ascending order; *moved gets the keys moved.
int32_t skipAscending(TAG4FILE* t, int64_t n, int64_t* moved) {
  int attempt = 0;
  *moved = 0;
  while (*moved != n) {
    BLOCK4* b = tag4current(t);
    if (b == nullptr) break;
    const int count = block4numKeys(b);
    const bool forward = n > 0;
    uint32_t next;
    if (forward) {
      if (b->keyOn >= count) break;
      const int64_t room = count - 1 - b->keyOn;
      if (room > 0) {
        const int step = static_cast<int>(std::min(room, n - *moved));
        *moved += block4go(b, step);
        continue;
      }
      next = block4right(b);
    } else {
      if (b->keyOn > 0) {
        const int step = static_cast<int>(std::min<int64_t>(b->keyOn, *moved - n));
        *moved += block4go(b, -step);
        continue;
      }
      next = block4left(b);
    }
    if (next == block4none || count == 0) break;
    Hop result = Hop::Restored;
    if (int32_t rc = hop(t, next, forward, &attempt, &result); rc < 0) return rc;
    if (result == Hop::End) break;
    if (result == Hop::Stepped) *moved += forward ? 1 : -1;
  }
  return 0;
}

}  // namespace

int32_t tagfile4top(TAG4FILE* t) {
  if (pending(t)) return -1;
  const int32_t rc = walkToEnd(t, tagfile4descending(t));
  return rc < 0 ? rc : 0;
}

int32_t tagfile4bottom(TAG4FILE* t) {
  if (pending(t)) return -1;
  const int32_t rc = walkToEnd(t, !tagfile4descending(t));
  return rc < 0 ? rc : 0;
}

int32_t tagfile4skipMoved(TAG4FILE* t, int32_t n, int32_t* moved) {
  *moved = 0;
  if (pending(t)) return -1;
  const bool reverse = tagfile4descending(t);
  int64_t ascending = 0;
  const int32_t rc = skipAscending(t, reverse ? -int64_t{n} : int64_t{n}, &ascending);
  *moved = static_cast<int32_t>(reverse ? -ascending : ascending);
  return rc < 0 ? rc : 0;
}

int32_t tagfile4step(TAG4FILE* t, int32_t step) {
  int32_t moved = 0;
  const int32_t rc = tagfile4skipMoved(t, step, &moved);
  return rc < 0 ? rc : moved == step ? 1 : 0;
}

int32_t tagfile4skip(TAG4FILE* t, int32_t n) {
  int32_t moved = 0;
  const int32_t rc = tagfile4skipMoved(t, n, &moved);
  return rc < 0 ? rc : moved;
}

int64_t tagfile4recNo(TAG4FILE* t) {
  BLOCK4* b = tag4current(t);
  if (b == nullptr) return -2;
  const int count = block4numKeys(b);
  if (count == 0) return 0;
  if (b->keyOn >= count) return -1;
  return block4recNo(b, b->keyOn);
}

bool tagfile4eof(TAG4FILE* t) {
  BLOCK4* b = tag4current(t);
  if (b == nullptr) return false;
  return block4numKeys(b) == 0 || b->keyOn >= block4numKeys(b);
}

B4KEY_DATA* tagfile4key(TAG4FILE* t) {
  BLOCK4* b = tag4current(t);
  if (b == nullptr || b->keyOn < 0 || b->keyOn >= block4numKeys(b)) return nullptr;
  return block4key(b, b->keyOn);
}

unsigned char* tagfile4keyEntry(TAG4FILE* t) {
  if (t == nullptr) {
    error4(nullptr, e4parmNull, tag4locKeyEntry);
    return nullptr;
  }
  B4KEY_DATA* k = tagfile4key(t);
  return k == nullptr ? nullptr : b4keyValue(k);
}
