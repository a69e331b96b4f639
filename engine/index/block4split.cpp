// Splitting a full node in two.
//
// The full node keeps its block and the first part of its entries; a new
// node becomes its right sibling with the rest:
// - a branch of c entries gives the new node h = (c + 1) / 2 entries, or
//   h - 1 when the cursor lies beyond h, so that the half taking the new
//   entry is the smaller one;
// - a leaf gives the new node the last c / 2 entries, its first key stored
//   whole. A leaf of one entry (long keys leave room for one incompressible
//   entry) gives its entry away when the cursor is on it, so that the new
//   key lands in an empty node rather than in the full one again;
// - the rightmost leaf, when the key goes after its last entry, keeps every
//   entry and the new node starts empty: keys added in ascending order
//   then leave full leaves behind them instead of half-full ones.
// The cursor follows its position: at or beyond the first moved entry it is
// in the new node (a key inserted exactly at the boundary goes there).
#include <cstring>

#include "engine/index/block4.h"
#include "engine/index/block4branch.h"
#include "engine/index/block4leaf.h"
#include "engine/index/cdx4freelist.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocNeighbour = 80309;
constexpr int32_t kLocBlockInUse = 80310;
constexpr int kLeftField = 4;

int entriesKept(BLOCK4* b, int cursor) {
  const int count = block4numKeys(b);
  if (block4leaf(b)) {
    if (count == 1 && cursor == 0) return 0;
    if (cursor >= count && block4right(b) == block4none) return count;
    return count - count / 2;
  }
  const int half = (count + 1) / 2;
  return count - (half < cursor ? half - 1 : half);
}

// The right neighbour must point back at the node being split; anything else
// is a damaged level, and writing into it would spread the damage.
int32_t checkNeighbour(BLOCK4* b, uint32_t right) {
  INDEX4FILE* i = b->tag->indexFile;
  unsigned char back[4];
  const int32_t rc = file4readAll(&i->file, block4toOffset(i, right) + kLeftField, back, 4);
  if (rc < 0) return rc;
  if (endian4::readLe32(back) != b->fileBlock) return block4damaged(b, kLocNeighbour);
  return 0;
}

}  // namespace

BLOCK4* block4split(TAG4FILE* t, BLOCK4* b, bool* cursorInNew) {
  CODE4* c = t->codeBase;
  INDEX4FILE* i = t->indexFile;
  if (error4code(c) < 0) return nullptr;
  const uint32_t right = block4right(b);
  if (right != block4none && checkNeighbour(b, right) < 0) return nullptr;
  BLOCK4* fresh = block4alloc(t, block4none);
  if (fresh == nullptr) return nullptr;
  const uint32_t newBlock = index4extend(i);
  if (newBlock == block4none) {
    block4free(fresh);
    return nullptr;
  }
  // A new block that the node, a neighbour or a moved child already names is
  // in use: the free list or a child pointer is damaged, and taking the
  // block would link the tree into a loop.
  if (newBlock == b->fileBlock || newBlock == right || newBlock == block4left(b)) {
    block4free(fresh);
    block4damaged(b, kLocBlockInUse);
    return nullptr;
  }
  fresh->fileBlock = newBlock;

  // The new node is filled and the neighbour patched before the full node
  // loses anything: a failure up to there leaves it as it was.
  const bool leaf = block4leaf(b);
  const int cursor = b->keyOn;
  const int keep = entriesKept(b, cursor);
  if (leaf) {
    if (leaf4::splitInto(b, fresh, keep) < 0) {
      block4free(fresh);
      return nullptr;
    }
  } else {
    branch4::splitInto(b, fresh, keep);
    for (int k = 0; k < block4numKeys(fresh); k++) {
      if (block4child(fresh, k) == newBlock) {
        block4free(fresh);
        block4damaged(b, kLocBlockInUse);
        return nullptr;
      }
    }
  }
  if (right != block4none) {
    unsigned char back[4];
    endian4::writeLe32(back, newBlock);
    if (file4write(&i->file, block4toOffset(i, right) + kLeftField, back, 4) < 0) {
      block4free(fresh);
      return nullptr;
    }
  }
  if (leaf) {
    leaf4::truncate(b, keep);
  } else {
    branch4::truncate(b, keep);
  }

  const int attribute = leaf ? block4attrLeaf : block4attrBranch;
  block4attributeSet(b, attribute);
  block4attributeSet(fresh, attribute);
  block4leftSet(fresh, b->fileBlock);
  block4rightSet(fresh, right);
  block4rightSet(b, newBlock);

  const bool moved = keep > 0 && cursor >= keep;
  block4top(fresh);
  block4goTo(fresh, moved ? cursor - keep : 0);
  block4top(b);
  block4goTo(b, moved ? keep : cursor);
  b->changed = fresh->changed = true;
  if (cursorInNew != nullptr) *cursorInNew = moved;
  return fresh;
}
