// The node cache of a tag: the path from the root to the current leaf and
// the spare list.
//
// Every node in memory is on exactly one of the two lists, and no block is
// held twice. A node leaves the path for the spare list with its contents
// (changed or not); a walk that needs a block takes it from the spares
// without reading, or reads it into a new node, and after such a read every
// spare is written if changed and forgotten. So the spares hold only nodes
// the current walk passed since the last read, the cache stays as small as
// the tree is deep, and a walk down the same path again reads nothing.
// The halves that splits leave behind join the spares too; appends, which
// never read, would keep every one of them, so beyond kKeptMax spares the
// oldest is written and freed. A node freed so waits idle for the next
// read, which takes it without allocating.
//
// Writing nodes back is the only way changes reach the file, so three
// rules keep a cached copy from undoing work done on disk:
// - a node whose block went to the free list is forgotten without being
//   written (its first bytes now hold the free-list link);
// - a neighbour the node layer is about to patch on disk (split,
//   rebalance) is written and forgotten first, so that the patch is the
//   last word;
// - a neighbour patched here (removal) is patched in its cached copy when
//   there is one.
#include <cstring>

#include "engine/index/index4file.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr uint32_t kKeptMax = 8;
constexpr uint32_t kIdleMax = 16;

BLOCK4* asBlock(LINK4* link) { return reinterpret_cast<BLOCK4*>(link); }

// A node that is done with its block: kept idle for the next read, or
// freed beyond kIdleMax.
void retire(TAG4FILE* t, BLOCK4* b) {
  if (t->idle.nLink < kIdleMax) {
    list4add(&t->idle, &b->link);
  } else {
    block4free(b);
  }
}

// A node to read `block` into: an idle one, or a new one.
BLOCK4* nodeFor(TAG4FILE* t, uint32_t block) {
  if (LINK4* link = list4pop(&t->idle)) return asBlock(link);
  return block4alloc(t, block);
}

BLOCK4* spareHolding(TAG4FILE* t, uint32_t block) {
  for (LINK4* link = list4first(&t->spares); link != nullptr; link = list4next(&t->spares, link))
    if (asBlock(link)->fileBlock == block) return asBlock(link);
  return nullptr;
}

// A changed node dropped unwritten takes a change the file's trees were
// given with it: the file stays unfinished, its change mark kept set at
// close, until a rebuild makes the trees agree with the records again.
void dropping(TAG4FILE* t, const BLOCK4* b) {
  if (b->changed && t->indexFile != nullptr) t->indexFile->interrupted = true;
}

// Writes every changed spare and frees them all: 0 or the first error (the
// spares are freed either way).
int32_t forgetSpares(TAG4FILE* t) {
  int32_t rc = 0;
  while (LINK4* link = list4pop(&t->spares)) {
    BLOCK4* b = asBlock(link);
    if (b->changed && rc == 0) rc = block4flush(b);
    if (rc < 0) dropping(t, b);
    retire(t, b);
  }
  return rc;
}

int32_t flushRoot(TAG4FILE* t) {
  if (!t->rootChanged) return 0;
  INDEX4FILE* i = t->indexFile;
  unsigned char root[4];
  endian4::writeLe32(root, t->header.root);
  const int32_t rc = file4write(&i->file, block4toOffset(i, t->headerBlock), root, sizeof root);
  if (rc == 0) t->rootChanged = false;
  return rc;
}

}  // namespace

void tag4popAll(TAG4FILE* t) {
  while (t->depth > 0) {
    BLOCK4* b = t->path[--t->depth];
    t->path[t->depth] = nullptr;
    list4add(&t->spares, &b->link);
  }
}

int32_t tag4cacheTake(TAG4FILE* t, uint32_t block, bool* fresh) {
  if (t->depth >= tag4depthMax) return tag4damaged(t, tag4locDepth);
  *fresh = false;
  BLOCK4* b = spareHolding(t, block);
  if (b != nullptr) {
    list4remove(&t->spares, &b->link);
  } else {
    if (int32_t rc = forgetSpares(t); rc < 0) return rc;
    b = nodeFor(t, block);
    if (b == nullptr) return -1;
    if (int32_t rc = block4read(b, block); rc < 0) {
      retire(t, b);
      return rc;
    }
    *fresh = true;
  }
  t->path[t->depth++] = b;
  return 0;
}

BLOCK4* tag4cacheFind(TAG4FILE* t, uint32_t block) {
  for (int level = 0; level < t->depth; level++)
    if (t->path[level]->fileBlock == block) return t->path[level];
  return spareHolding(t, block);
}

int32_t tag4cacheRelease(TAG4FILE* t, uint32_t block) {
  if (block == block4none) return 0;
  BLOCK4* b = spareHolding(t, block);
  if (b == nullptr) return 0;
  const int32_t rc = b->changed ? block4flush(b) : 0;
  if (rc < 0) return rc;
  list4remove(&t->spares, &b->link);
  block4free(b);
  return 0;
}

void tag4cacheForget(TAG4FILE* t, BLOCK4* b) {
  if (list4contains(&t->spares, &b->link)) {
    list4remove(&t->spares, &b->link);
  } else if (tag4current(t) == b) {
    t->path[--t->depth] = nullptr;
  }
  block4free(b);
}

int32_t tag4cacheKeep(TAG4FILE* t, BLOCK4* b) {
  int32_t rc = 0;
  while (t->spares.nLink >= kKeptMax) {
    BLOCK4* oldest = asBlock(list4first(&t->spares));
    if (oldest->changed && (rc = block4flush(oldest)) < 0) break;
    list4remove(&t->spares, &oldest->link);
    retire(t, oldest);
  }
  list4add(&t->spares, &b->link);
  return rc;
}

void tag4cacheDiscard(TAG4FILE* t) {
  tag4popAll(t);
  while (LINK4* link = list4pop(&t->spares)) {
    dropping(t, asBlock(link));
    block4free(asBlock(link));
  }
  while (LINK4* link = list4pop(&t->idle)) block4free(asBlock(link));
}

int32_t tagfile4flush(TAG4FILE* t) {
  if (error4code(t->codeBase) < 0) return -1;
  int32_t rc = 0;
  // Leaves before their parents: a reader that meets a new parent then
  // finds the children it names already written.
  for (int level = t->depth - 1; level >= 0; level--) {
    BLOCK4* b = t->path[level];
    if (b->changed && rc == 0) rc = block4flush(b);
  }
  for (LINK4* link = list4first(&t->spares); link != nullptr; link = list4next(&t->spares, link)) {
    if (asBlock(link)->changed && rc == 0) rc = block4flush(asBlock(link));
  }
  if (rc == 0) rc = flushRoot(t);
  return rc;
}

int32_t tagfile4freeAll(TAG4FILE* t) {
  const int32_t rc = tagfile4flush(t);
  // A node the file refused still holds the only copy of its change.
  if (rc == 0) tag4cacheDiscard(t);
  return rc;
}
