// What the tag's own files share: the node cache, the descent with its
// checks and retries, and the helpers of key maintenance. Not for callers
// outside the tag layer.
#pragma once

#include <cstdint>
#include <limits>

#include "engine/index/block4.h"
#include "engine/index/tag4file.h"

// A walk met a tree that does not hold together while another process may
// be writing the file: the caller starts again from the root (tag4retry
// never leaves the tag layer).
inline constexpr int32_t tag4retry = std::numeric_limits<int32_t>::min();

// Error locations of the tag layer.
enum : int32_t {
  tag4locRetriesSpent = 80082,  // the tree still failed its checks after every retry
  tag4locVerify = 80083,        // a node disagrees with its parent
  tag4locNoFit = 80330,         // a key found no room even after splits
  tag4locDepth = 80331,         // deeper than tag4depthMax
  tag4locChild = 80332,         // a child pointer outside the file or naming an ancestor
  tag4locNeighbour = 80333,     // a neighbour that does not point back
  tag4locReadOnly = 80334,      // a change to a file opened for reading only
  tag4locRoot = 80335,          // a root pointer that cannot name a node
  tag4locDisabled = 80336,      // a tag kept without a usable header or expression
  tag4locKeyEntry = 90150,
  tag4locStaleSibling = 90158,  // a skip met a sibling that does not fit, file locked
  tag4locUnique = 90384,
};

// --- the node cache (tag4cache.cpp) ---

// The current node: the bottom of the path, or null.
inline BLOCK4* tag4current(const TAG4FILE* t) {
  return t->depth == 0 ? nullptr : t->path[t->depth - 1];
}
// Moves every node of the path to the spare list, keeping its contents.
void tag4popAll(TAG4FILE* t);
// Puts the node of `block` at the bottom of the path: a spare holding it
// (no read), else a node read from the file, after which every spare is
// written if changed and forgotten. `*fresh` tells whether it was read. 0,
// or a negative error (the node layer's -310 is quiet while the file's
// damage is).
int32_t tag4cacheTake(TAG4FILE* t, uint32_t block, bool* fresh);
// The cached node of `block` on the path or the spare list, or null.
BLOCK4* tag4cacheFind(TAG4FILE* t, uint32_t block);
// Forgets a spare holding `block`, writing it first when changed (for a
// neighbour the node layer is about to patch on disk). 0 or a write error.
int32_t tag4cacheRelease(TAG4FILE* t, uint32_t block);
// Removes `b` from the path (it must be the bottom node) or the spare list
// and frees it without writing: its block went to the free list.
void tag4cacheForget(TAG4FILE* t, BLOCK4* b);
// Puts a node that is no longer on the path on the spare list, writing
// and freeing the oldest spares beyond a few: 0 or a write error (the node
// is kept either way).
int32_t tag4cacheKeep(TAG4FILE* t, BLOCK4* b);
// Frees every cached node without writing: after another process changed
// the file, or after a failed change that must not reach it.
void tag4cacheDiscard(TAG4FILE* t);

// --- the descent (tag4descend.cpp) ---

// Answers a tree that fails its checks: tag4retry while another process
// may be writing the file, else the raised -310 at `location` naming the
// tag.
int32_t tag4stale(TAG4FILE* t, int32_t location);
// tag4cacheTake, except that while another process may write the file a
// damaged node is answered with tag4retry instead of being raised.
int32_t tag4take(TAG4FILE* t, uint32_t block, bool* fresh);
// Empties the path and pushes the root node (its pointer read from the tag
// header when not known): 0, tag4retry or a negative error.
int32_t tag4pushRoot(TAG4FILE* t);
// Pushes the child named by the cursor entry of the current branch,
// checking the pointer and, for a node read now, that the node is what the
// parent says: 0, tag4retry or a negative error.
int32_t tag4pushChild(TAG4FILE* t);
// Asks the file layer to read the node of `block` ahead, when it names a
// node inside the file (a hint: nothing is raised).
void tag4readAhead(TAG4FILE* t, uint32_t block);
// Before a walk is tried again: waits a little longer each attempt, drops
// the tag's nodes, refreshes the file's buffers and end-of-file block and
// forgets the root. `attempt` counts from 0; when the attempts are spent
// the raised -310 (80082), else 0.
int32_t tag4retryPrepare(TAG4FILE* t, int attempt);

// Walks from the root to a leaf. `position` places the cursor of each node
// on the path (for a branch: on the entry to follow) and returns a negative
// error or, for the leaf, the walk's result. Returns that result,
// tag4retry, or a negative error.
template <class Position>
int32_t tag4descend(TAG4FILE* t, Position&& position) {
  int32_t rc = tag4pushRoot(t);
  while (rc == 0) {
    BLOCK4* b = tag4current(t);
    const int32_t placed = position(b);
    if (placed < 0 || block4leaf(b)) return placed;
    rc = tag4pushChild(t);
  }
  return rc;
}

// Runs `walk` until it answers something other than tag4retry, preparing
// each new attempt; the result of the last attempt.
template <class Walk>
int32_t tag4withRetry(TAG4FILE* t, Walk&& walk) {
  for (int attempt = 0;; attempt++) {
    const int32_t rc = walk();
    if (rc != tag4retry) return rc;
    if (int32_t prepared = tag4retryPrepare(t, attempt); prepared < 0) return prepared;
  }
}

// --- seeking (tag4seek.cpp) ---

struct Tag4Found {
  bool exact = false;    // the entry of this key and record is at the cursor
  bool present = false;  // the key is in the tag (for this record or another)
};
// Puts the cursor after the last key (in ascending order): r4eof, or a
// negative error.
int32_t tag4goAfterLast(TAG4FILE* t);
// tagfile4seekRecord's walk: 0 with `found` filled, or a negative error
// (retries done).
int32_t tag4seekRecord(TAG4FILE* t, const unsigned char* key, uint32_t record, Tag4Found* found);

// --- key maintenance (tag4add.cpp, tag4remove.cpp) ---

// Brings the parents of path[level] up to date after its last entry
// changed: each parent's cursor entry takes its child's last key and
// record, going up while the entry replaced was its node's last. 0 or -1
// after a damaged leaf.
int32_t tag4fixParents(TAG4FILE* t, int level);
// Raises -310 at `location`, naming the tag.
int32_t tag4damaged(TAG4FILE* t, int32_t location);
// Copies the last key of `b` (key length bytes) and returns its record;
// false after a damaged leaf.
bool tag4lastEntry(BLOCK4* b, unsigned char* key, uint32_t* record);

// Before a change to a tree: refuses a file opened for reading only (-120),
// sets the change mark of a file held exclusively, and takes the index
// lock for the change when the file is shared for writing and not locked
// (`*took` tells). 0, 50 or a negative error.
int32_t tag4changeBegin(TAG4FILE* t, bool* took);
// After the change: releases a lock tag4changeBegin took. The change's
// result, or the release's error when the change succeeded.
int32_t tag4changeEnd(TAG4FILE* t, bool took, int32_t rc);
// tagfile4remove without the lock handling: 0, 5 or a negative error.
int32_t tag4removeKey(TAG4FILE* t, const unsigned char* key, uint32_t record);
