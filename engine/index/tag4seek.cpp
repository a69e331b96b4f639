// Seeking in a tag: by a key value (a prefix of the key), and by a whole
// key and record number.
//
// In each branch a binary search picks the first entry whose key is not
// below the value (the last entry when all are), and the leaf is scanned
// for the first key that begins with the value or is greater (block4seek).
//
// A descending tag holds its keys ascending, so its seek lands on the last
// key that begins with the value: the value is raised to the smallest
// value above every key it begins (the bound), the ascending seek finds the
// first key at or above the bound, and the cursor steps back one key. The
// key there begins with the value (0) or lies below it (2, the next key in
// the tag's order); a step back off the first key means no key is at or
// below the value (3, the cursor after the last key). A value that has no
// bound (every byte 0xFF) is at or above every key: the last key answers.
#include <cstring>

#include "engine/index/block4branch.h"
#include "engine/index/block4leaf.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/error4.h"

namespace {

// Collated keys: bytes below this are sub-sort values and fill, weights
// are at or above it; 17 is the weight of a blank and 18 the next.
constexpr unsigned char kWeightMin = 10;
constexpr unsigned char kBlankWeight = 17;

bool pending(const TAG4FILE* t) { return error4code(t->codeBase) < 0; }

bool keyEquals(TAG4FILE* t, BLOCK4* b, int i, const unsigned char* key, int32_t length,
               int32_t* rc) {
  const B4KEY_DATA* k = block4key(b, i);
  if (k == nullptr) {
    *rc = -1;
    return false;
  }
  return t->compare(b4keyValue(k), key, length) == length;
}

// In a leaf: the cursor on the first entry of `key` whose record is not
// below `record`, else where such an entry belongs (0 / 2, as
// block4seekBranch). Along a run of equal keys only the info entries are
// read: an entry that stores no byte and has its predecessor's trailing
// count repeats its predecessor's key (the count of shared bytes then
// reaches the predecessor's pad). Any other entry is expanded and compared.
// A built entry with this key and a lower record (the one inserted last,
// when records of one key come in ascending order) is where the walk
// along the run can start.
int32_t leafSeekRecord(TAG4FILE* t, BLOCK4* b, const unsigned char* key, int32_t length,
                       uint32_t record, bool* present) {
  const int count = block4numKeys(b);
  const bool fromBuilt = b->builtOn >= 0 && b->builtOn < count && b->builtKey->num < record &&
                         t->compare(b4keyValue(b->builtKey), key, length) == length;
  if (fromBuilt) {
    block4goTo(b, b->builtOn);
  } else if (const int found = block4seek(b, key, length); found != 0) {
    return found;
  }
  *present = true;
  const leaf4::Widths w = leaf4::widthsOf(b->data());
  int i = b->keyOn;
  leaf4::Entry e = leaf4::entryAt(b->data(), w, i);
  while (e.record < record) {
    if (++i == count) break;
    const int previousTrail = e.trail;
    e = leaf4::entryAt(b->data(), w, i);
    if (e.dup + e.trail == length && e.trail == previousTrail) continue;
    int32_t rc = 0;
    if (!keyEquals(t, b, i, key, length, &rc)) {
      block4goTo(b, i);
      return rc < 0 ? rc : r4after;
    }
  }
  block4goTo(b, i);
  return i < count ? r4success : r4after;
}

// The ascending seek. An answer after the last key of a leaf that has a
// right sibling (branch and leaf disagree) is taken from that sibling.
int32_t seekAscending(TAG4FILE* t, const unsigned char* value, int32_t length) {
  return tag4withRetry(t, [&]() -> int32_t {
    int32_t rc = tag4descend(t, [&](BLOCK4* b) { return block4seek(b, value, length); });
    if (rc < 0) return rc;
    BLOCK4* leaf = tag4current(t);
    if (leaf->keyOn < block4numKeys(leaf)) return rc;
    const uint32_t right = block4right(leaf);
    if (right == block4none) return r4eof;
    const uint32_t from = leaf->fileBlock;
    tag4popAll(t);
    bool fresh = false;
    if ((rc = tag4take(t, right, &fresh)) != 0) return rc;
    BLOCK4* next = tag4current(t);
    if (block4attribute(next) != block4attrLeaf || block4numKeys(next) == 0 ||
        block4left(next) != from)
      return tag4stale(t, tag4locStaleSibling);
    rc = block4seek(next, value, length);
    if (next->keyOn >= block4numKeys(next)) return tag4stale(t, tag4locVerify);
    return rc;
  });
}

// Raises `bound` (the value, `*length` bytes) to the smallest value above
// every key it begins; false when there is none.
bool raiseBound(const TAG4FILE* t, unsigned char* bound, int32_t* length) {
  const bool collated = t->collation != tag4machineOrder;
  int32_t end = *length;
  if (collated) {
    while (end > 0 && bound[end - 1] < kWeightMin) end--;
    if (end == 0) {
      // Nothing but fill: the bound is a run of blank weights ending in
      // the weight after the blank.
      const int32_t blanks = *length / 2 - 1;
      if (blanks < 0) return false;
      std::memset(bound, kBlankWeight, static_cast<size_t>(blanks));
      bound[blanks] = kBlankWeight + 1;
      return true;
    }
  }
  for (int32_t i = end - 1; i >= 0; i--) {
    if (bound[i] != 0xFF) {
      bound[i]++;
      *length = end;
      return true;
    }
    bound[i] = 0;
  }
  return false;
}

int32_t seekDescending(TAG4FILE* t, const unsigned char* value, int32_t length) {
  unsigned char bound[cdx4keyLengthMax + 1];
  std::memcpy(bound, value, static_cast<size_t>(length));
  int32_t boundLength = length;
  int32_t rc = 0;
  if (raiseBound(t, bound, &boundLength)) {
    if ((rc = seekAscending(t, bound, boundLength)) < 0) return rc;
    // tagfile4skip runs the other way in a descending tag: +1 is one key
    // back in ascending order.
    if ((rc = tagfile4step(t, 1)) < 0) return rc;
    if (rc == 0) return tag4goAfterLast(t);
  } else {
    // The last key in ascending order is the first of a descending tag.
    if ((rc = tagfile4top(t)) < 0) return rc;
    if (tagfile4eof(t)) return r4eof;
  }
  BLOCK4* leaf = tag4current(t);
  rc = 0;
  const bool begins = keyEquals(t, leaf, leaf->keyOn, value, length, &rc);
  if (rc < 0) return rc;
  return begins ? r4success : r4after;
}

// True while the path held in memory is what a walk from the root would
// take in a file nobody else changes: it starts at the root, each branch's
// cursor entry names the node below, and it ends in a leaf.
bool pathHeld(TAG4FILE* t) {
  if (!index4exclusive(t->indexFile) || t->depth == 0 || t->path[0]->fileBlock != t->header.root)
    return false;
  for (int level = 0; level < t->depth; level++) {
    BLOCK4* b = t->path[level];
    const int count = block4numKeys(b);
    if (count == 0 || block4leaf(b) != (level == t->depth - 1)) return false;
    if (level + 1 < t->depth && (b->keyOn < 0 || b->keyOn >= count ||
                                 block4child(b, b->keyOn) != t->path[level + 1]->fileBlock))
      return false;
  }
  return true;
}

// Appending in key order: while the held path leads to the rightmost leaf,
// a key and record after that leaf's last entry belong at its end, and no
// node need be searched. True with the cursors placed and `found` filled;
// false when the walk from the root must decide.
bool seekAfterLast(TAG4FILE* t, const unsigned char* key, uint32_t record, Tag4Found* found) {
  for (int level = 0; level < t->depth; level++) {
    BLOCK4* b = t->path[level];
    if (block4right(b) != block4none || (level + 1 < t->depth && b->keyOn != block4numKeys(b) - 1))
      return false;
  }
  BLOCK4* leaf = tag4current(t);
  const B4KEY_DATA* last = block4key(leaf, block4numKeys(leaf) - 1);
  if (last == nullptr) return false;
  const int32_t length = tagfile4keyLength(t);
  const int32_t equal = t->compare(b4keyValue(last), key, length);
  if (equal < 0 || (equal == length && last->num >= record)) return false;
  block4goEof(leaf);
  found->exact = false;
  found->present = equal == length;
  return true;
}

// Keys that follow one another closely: when the held leaf's parent has an
// entry before the leaf's own, and the key and record lie above that entry
// and not above the leaf's, the walk from the root would end in this leaf
// too (every branch takes its first entry not below the value). A key the
// entry before holds is present, as in the walk. True with the leaf
// searched, `found` filled and `*rc` its result; false when the walk from
// the root must decide.
bool seekInHeldLeaf(TAG4FILE* t, const unsigned char* key, uint32_t record, Tag4Found* found,
                    int32_t* rc) {
  if (t->depth < 2) return false;
  const BLOCK4* parent = t->path[t->depth - 2];
  const int on = parent->keyOn;
  if (on < 1) return false;
  const int32_t length = tagfile4keyLength(t);
  const unsigned char* node = parent->data();
  const int32_t low = t->compare(branch4::entry(node, length, on - 1), key, length);
  if (low < 0 || (low == length && branch4::record(node, length, on - 1) >= record)) return false;
  const int32_t high = t->compare(branch4::entry(node, length, on), key, length);
  if (high >= 0 && (high < length || branch4::record(node, length, on) < record)) return false;
  bool present = low == length;
  BLOCK4* leaf = tag4current(t);
  *rc = leafSeekRecord(t, leaf, key, length, record, &present);
  if (*rc < 0) return true;
  found->exact = *rc == 0 && block4recNo(leaf, leaf->keyOn) == record;
  found->present = present || *rc == 0;
  *rc = 0;
  return true;
}

}  // namespace

int32_t tag4goAfterLast(TAG4FILE* t) {
  const int32_t rc = tagfile4descending(t) ? tagfile4top(t) : tagfile4bottom(t);
  if (rc < 0) return rc;
  block4goEof(tag4current(t));
  return r4eof;
}

int32_t tag4seekRecord(TAG4FILE* t, const unsigned char* key, uint32_t record, Tag4Found* found) {
  const int32_t length = tagfile4keyLength(t);
  if (pathHeld(t)) {
    if (seekAfterLast(t, key, record, found)) return 0;
    if (int32_t rc = 0; seekInHeldLeaf(t, key, record, found, &rc)) return rc;
  }
  return tag4withRetry(t, [&]() -> int32_t {
    // The key is present when a branch entry passed on the way down, or
    // the leaf, holds it: equal keys with lower record numbers may end the
    // subtree to the left.
    bool present = false;
    int32_t failed = 0;
    int32_t rc = tag4descend(t, [&](BLOCK4* b) -> int32_t {
      if (block4leaf(b)) return leafSeekRecord(t, b, key, length, record, &present);
      const int placed = block4seekBranch(b, key, length, record);
      if (placed < 0) return placed;
      if (keyEquals(t, b, b->keyOn, key, length, &failed) ||
          (b->keyOn > 0 && keyEquals(t, b, b->keyOn - 1, key, length, &failed)))
        present = true;
      return failed < 0 ? failed : placed;
    });
    if (rc < 0) return rc;
    // A leaf holding the key has said so; one that does not may follow a
    // subtree ending in it, which its parent's entries told.
    BLOCK4* leaf = tag4current(t);
    found->exact = rc == 0 && block4recNo(leaf, leaf->keyOn) == record;
    found->present = present || rc == 0;
    return failed;
  });
}

int32_t tagfile4seek(TAG4FILE* t, const void* value, int32_t length) {
  if (pending(t)) return -1;
  if (length < 0) length = 0;
  if (length > tagfile4keyLength(t)) length = tagfile4keyLength(t);
  const auto* v = static_cast<const unsigned char*>(value);
  return tagfile4descending(t) ? seekDescending(t, v, length) : seekAscending(t, v, length);
}

int32_t tagfile4seekRecord(TAG4FILE* t, const void* key, uint32_t record, int flag) {
  if (pending(t)) return -1;
  Tag4Found found;
  const int32_t rc = tag4seekRecord(t, static_cast<const unsigned char*>(key), record, &found);
  if (rc < 0) return rc;
  if (found.exact) return flag == 0 ? 0 : 1;
  return found.present ? 1 : 2;
}
