// Removing a key: from the leaf up, an entry leaves its node; a node left
// empty leaves the tree.
//
// A node that keeps entries loses the cursor entry; when that was its last,
// the parents' entries above follow its new last key. A node that would be
// left empty (other than the root) goes instead: its neighbours are linked
// to each other, its block goes to the free list, and its parent loses its
// entry for it in turn. An emptied root becomes an empty root leaf in its
// own block.
//
// A freed node is forgotten without being written: its block's first
// bytes now carry the free-list link. A neighbour is patched in its cached
// copy when it is cached, so that no stale copy is written over the patch
// later; else its 4-byte pointer is patched on disk after checking that it
// points back (-310 at 80333 otherwise).
#include "engine/index/cdx4freelist.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int kLeftField = 4;
constexpr int kRightField = 8;

// Makes the neighbour at `block` point past `b`: its pointer at `field`
// (the side facing `b`) becomes `to`.
int32_t patchNeighbour(TAG4FILE* t, BLOCK4* b, uint32_t block, int field, uint32_t to) {
  if (block == block4none) return 0;
  if (BLOCK4* cached = tag4cacheFind(t, block); cached != nullptr) {
    const uint32_t back = field == kLeftField ? block4left(cached) : block4right(cached);
    if (back != b->fileBlock) return tag4damaged(t, tag4locNeighbour);
    if (field == kLeftField) {
      block4leftSet(cached, to);
    } else {
      block4rightSet(cached, to);
    }
    cached->changed = true;
    return 0;
  }
  INDEX4FILE* i = t->indexFile;
  const uint64_t offset = block4toOffset(i, block) + field;
  unsigned char pointer[4];
  if (int32_t rc = file4readAll(&i->file, offset, pointer, sizeof pointer); rc < 0) return rc;
  if (endian4::readLe32(pointer) != b->fileBlock) return tag4damaged(t, tag4locNeighbour);
  endian4::writeLe32(pointer, to);
  return file4write(&i->file, offset, pointer, sizeof pointer);
}

// Takes the bottom node of the path out of the tree and frees its block.
int32_t freeNode(TAG4FILE* t, BLOCK4* b) {
  const uint32_t left = block4left(b);
  const uint32_t right = block4right(b);
  if (int32_t rc = patchNeighbour(t, b, left, kRightField, right); rc < 0) return rc;
  if (int32_t rc = patchNeighbour(t, b, right, kLeftField, left); rc < 0) return rc;
  if (int32_t rc = index4freeBlock(t->indexFile, b->fileBlock); rc < 0) return rc;
  tag4cacheForget(t, b);
  return 0;
}

void makeEmptyRootLeaf(BLOCK4* root) {
  block4attributeSet(root, block4attrRootLeaf);
  block4leftSet(root, block4none);
  block4rightSet(root, block4none);
  block4leafInit(root);
}

int32_t removeAtCursor(TAG4FILE* t) {
  bool freed = false;
  for (int level = t->depth - 1; level >= 0; level--) {
    BLOCK4* n = t->path[level];
    const int count = block4numKeys(n);
    if (count > 1 || level == 0) {
      const bool wasLast = n->keyOn == count - 1;
      if (int32_t rc = block4remove(n); rc < 0) return rc;
      if (level == 0 && block4numKeys(n) == 0) {
        makeEmptyRootLeaf(n);
      } else if (wasLast && tag4fixParents(t, level) < 0) {
        return -1;
      }
      break;
    }
    if (int32_t rc = freeNode(t, n); rc < 0) return rc;
    freed = true;
  }
  // The path no longer reaches a leaf: the cursor is gone until the next
  // walk.
  if (freed) tag4popAll(t);
  return 0;
}

}  // namespace

int32_t tag4removeKey(TAG4FILE* t, const unsigned char* key, uint32_t record) {
  Tag4Found found;
  if (int32_t rc = tag4seekRecord(t, key, record, &found); rc < 0) return rc;
  if (!found.exact) return r4entry;
  index4changed(t->indexFile);
  const int32_t rc = removeAtCursor(t);
  // A removal that failed halfway may leave the tree half changed: the
  // file stays unfinished, its change mark set, for a rebuild.
  if (rc < 0) t->indexFile->interrupted = true;
  return rc;
}

int32_t tagfile4remove(TAG4FILE* t, const unsigned char* key, uint32_t record) {
  if (t == nullptr || key == nullptr) return error4(nullptr, e4parmNull, tag4locUnique);
  if (error4code(t->codeBase) < 0) return -1;
  bool took = false;
  int32_t rc = tag4changeBegin(t, &took);
  if (rc != 0) return rc;
  rc = tag4removeKey(t, key, record);
  return tag4changeEnd(t, took, rc);
}
