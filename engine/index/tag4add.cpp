// Adding a key: the unique modes, the insert into the leaf, splits carried
// up the path, and the growth of the tree by a new root.
//
// The insert goes into the leaf at the cursor tagfile4seekRecord left. A
// node without room is split (block4split): the new node becomes its right
// sibling and is written at once, the key goes into the half that holds
// the cursor, and the old node's new last key, with the old node as child,
// goes into the parent at the parent's cursor, whose entry now names the
// new node. A full root splits under a new root. Whenever a node's last
// entry changed, the parents' entries above it follow (tag4fixParents).
//
// A key that still finds no room after a split is tried again from the
// seek, a bounded number of times (-310 at 80330): a key that can never fit
// must not split nodes for ever.
#include <cstring>

#include "engine/index/block4branch.h"
#include "engine/index/cdx4freelist.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace {

// Each split at least halves the leaf the key goes into; a leaf holds at
// most (block size - 24) / 2 entries, so a 64 KiB node needs 15 splits to
// get down to one entry, after which any key fits.
constexpr int kInsertAttempts = 16;
// A byte of a filtered tag's header set to 0 before its first key is added.
constexpr uint64_t kFilterMarker = 272;

int32_t refuseDuplicate(TAG4FILE* t, int16_t mode) {
  switch (mode) {
    case r4uniqueNoNull:
    case r4unique:
      return r4unique;
    case e4unique:
    case e4candidate:
      return error4describe(t->codeBase, e4unique, tag4locUnique, t->indexFile->file.name, t->name,
                            nullptr);
    default:
      return r4uniqueContinue;
  }
}

int32_t markFilter(TAG4FILE* t) {
  if ((t->header.options & cdx4optionFilter) == 0 || t->filterMarked) return 0;
  INDEX4FILE* i = t->indexFile;
  const unsigned char zero = 0;
  const int32_t rc =
      file4write(&i->file, block4toOffset(i, t->headerBlock) + kFilterMarker, &zero, 1);
  if (rc == 0) t->filterMarked = true;
  return rc;
}

// A split root gets a new root above it with an entry for each half.
// Another process may hold the root's block number, so in a shared file
// the new root takes the old root's block and the old root's contents move
// to the new block (the right half's left pointer follows); an exclusive
// file just names the new root in its header.
int32_t growRoot(TAG4FILE* t, BLOCK4* left, BLOCK4* right, bool rightHolds) {
  INDEX4FILE* i = t->indexFile;
  const uint32_t block = index4extend(i);
  if (block == block4none) return -1;
  // A copy of a block handed out again is stale.
  if (BLOCK4* stale = tag4cacheFind(t, block); stale != nullptr && stale != left && stale != right)
    tag4cacheForget(t, stale);
  uint32_t rootBlock = block;
  if (!index4exclusive(i)) {
    rootBlock = left->fileBlock;
    left->fileBlock = block;
    left->changed = true;
    block4leftSet(right, block);
    if (int32_t rc = block4flush(right); rc < 0) return rc;
  }
  BLOCK4* root = block4alloc(t, rootBlock);
  if (root == nullptr) return -1;
  block4attributeSet(root, block4attrRootBranch);
  block4leftSet(root, block4none);
  block4rightSet(root, block4none);
  unsigned char key[cdx4keyLengthMax + 1];
  for (BLOCK4* half : {left, right}) {
    uint32_t record = 0;
    block4goEof(root);
    if (!tag4lastEntry(half, key, &record) ||
        block4insertBranch(root, key, record, half->fileBlock, block4childHere, nullptr) != 0) {
      block4free(root);
      return -1;
    }
  }
  block4goTo(root, rightHolds ? 1 : 0);
  root->changed = true;
  std::memmove(t->path + 1, t->path, sizeof(BLOCK4*) * static_cast<size_t>(t->depth));
  t->path[0] = root;
  t->depth++;
  if (index4exclusive(i)) {
    t->header.root = block;
    t->rootChanged = true;
  }
  return 0;
}

// Branch insert, first writing and forgetting cached neighbours that a
// rebalance may rewrite on disk.
int insertBranch(TAG4FILE* t, BLOCK4* b, const unsigned char* key, uint32_t record, uint32_t child,
                 int placement, BLOCK4* parent) {
  const int capacity =
      branch4::capacity(static_cast<int>(t->indexFile->blockSize), tagfile4keyLength(t));
  if (parent != nullptr && block4numKeys(b) >= capacity) {
    if (int32_t rc = tag4cacheRelease(t, block4left(b)); rc < 0) return rc;
    if (int32_t rc = tag4cacheRelease(t, block4right(b)); rc < 0) return rc;
  }
  return block4insertBranch(b, key, record, child, placement, parent);
}

// Inserts at the cursor of the path's leaf, splitting up the path as
// needed: 0, 1 when the key found no room in its half, or a negative error.
int32_t insertAtCursor(TAG4FILE* t, const unsigned char* key, uint32_t record) {
  unsigned char carry[cdx4keyLengthMax + 1];
  const unsigned char* k = key;
  uint32_t r = record;
  uint32_t child = 0;
  int placement = block4childHere;
  bool placed = false;
  // The entry for a split child's right half follows the entry just
  // inserted for its left half: the parent's cursor moves on to it.
  bool toNext = false;
  bool split = false;
  for (int level = t->depth - 1;; level--) {
    BLOCK4* b = t->path[level];
    BLOCK4* parent = level > 0 ? t->path[level - 1] : nullptr;
    const bool leaf = block4leaf(b);
    int rc = leaf ? block4insertLeaf(b, k, r) : insertBranch(t, b, k, r, child, placement, parent);
    if (rc < 0) return rc;
    if (rc == 0) {
      placed = placed || leaf;
      if (toNext) block4go(b, 1);
      break;
    }
    if ((rc = tag4cacheRelease(t, block4right(b))) < 0) return rc;
    split = true;
    bool inNew = false;
    BLOCK4* fresh = block4split(t, b, &inNew);
    if (fresh == nullptr) return -1;
    BLOCK4* target = inNew ? fresh : b;
    t->path[level] = target;
    if ((rc = tag4cacheKeep(t, inNew ? b : fresh)) < 0) return rc;
    rc = leaf ? block4insertLeaf(target, k, r)
              : block4insertBranch(target, k, r, child, placement, nullptr);
    if (rc < 0) return rc;
    if (rc == 1 && !leaf) return tag4damaged(t, tag4locNoFit);
    if (rc == 0) {
      placed = placed || leaf;
      if (toNext) block4go(target, 1);
    }
    if ((rc = block4flush(fresh)) < 0) return rc;
    if (!tag4lastEntry(b, carry, &r)) return -1;
    if (level == 0) {
      if ((rc = growRoot(t, b, fresh, inNew)) < 0) return rc;
      break;
    }
    k = carry;
    child = fresh->fileBlock;
    placement = block4childAfter;
    toNext = inNew;
  }
  // Without a split only a new last entry changes what the parents say.
  BLOCK4* leaf = tag4current(t);
  if ((split || leaf->keyOn == block4numKeys(leaf) - 1) && tag4fixParents(t, t->depth - 1) < 0)
    return -1;
  return placed ? 0 : 1;
}

int32_t addDo(TAG4FILE* t, const unsigned char* key, uint32_t record, int16_t mode) {
  for (int attempt = 0; attempt < kInsertAttempts; attempt++) {
    Tag4Found found;
    int32_t rc = tag4seekRecord(t, key, record, &found);
    if (rc < 0) return rc;
    if (found.present && mode != 0) return refuseDuplicate(t, mode);
    if (found.exact) return 0;
    if (t->depth >= tag4depthMax) return tag4damaged(t, tag4locDepth);
    // A split at every level and a new root: taken before anything changes,
    // or a file whose block numbers run out would keep a split half made.
    if ((rc = index4reserve(t->indexFile, static_cast<uint32_t>(t->depth) + 1)) < 0) return rc;
    if ((rc = markFilter(t)) < 0) return rc;
    index4changed(t->indexFile);
    rc = insertAtCursor(t, key, record);
    // An insertion that failed halfway (a split whose new node the disk
    // refused) may leave the tree half changed: the file stays unfinished,
    // its change mark set, for a rebuild.
    if (rc < 0) t->indexFile->interrupted = true;
    if (rc != 1) return rc;
  }
  return tag4damaged(t, tag4locNoFit);
}

// During a transaction a unique tag keeps the keys its records lost on a
// pending list instead of in the tree's absence: adding a key that is
// pending for this record takes the removal back; pending for another
// record, that record's entry leaves the tree now, so that this one can
// take the key.
int32_t settlePending(TAG4* tag, const unsigned char* key, uint32_t record, bool* done) {
  *done = false;
  const int16_t mode = tag->uniqueMode;
  CODE4* c = tag->tagFile->codeBase;
  if (c->transactionState != tran4active ||
      (mode != r4unique && mode != e4unique && mode != r4uniqueNoNull))
    return 0;
  if (TAG4PENDING* same = tag4pendingFind(tag, record, key); same != nullptr) {
    tag4pendingDrop(tag, same);
    *done = true;
    return 0;
  }
  TAG4PENDING* other = tag4pendingFind(tag, 0, key);
  if (other == nullptr) return 0;
  const int32_t rc = tag4removeKey(tag->tagFile, key, other->record);
  tag4pendingDrop(tag, other);
  return rc < 0 ? rc : 0;
}

}  // namespace

bool tag4lastEntry(BLOCK4* b, unsigned char* key, uint32_t* record) {
  const int count = block4numKeys(b);
  const B4KEY_DATA* last = count == 0 ? nullptr : block4key(b, count - 1);
  if (last == nullptr) return false;
  std::memcpy(key, b4keyValue(last), static_cast<size_t>(tagfile4keyLength(b->tag)));
  *record = last->num;
  return true;
}

int32_t tag4fixParents(TAG4FILE* t, int level) {
  const int length = tagfile4keyLength(t);
  unsigned char key[cdx4keyLengthMax + 1];
  for (; level > 0; level--) {
    BLOCK4* node = t->path[level];
    BLOCK4* parent = t->path[level - 1];
    if (block4numKeys(node) == 0) return 0;
    uint32_t record = 0;
    if (!tag4lastEntry(node, key, &record)) return -1;
    const B4KEY_DATA* entry = block4key(parent, parent->keyOn);
    if (entry == nullptr) return -1;
    if (entry->num == record && std::memcmp(b4keyValue(entry), key, length) == 0) return 0;
    block4branchReplace(parent, key, record);
    if (parent->keyOn != block4numKeys(parent) - 1) return 0;
  }
  return 0;
}

int32_t tagfile4add(TAG4* tag, const unsigned char* key, uint32_t record, bool nullKey) {
  if (tag == nullptr || tag->tagFile == nullptr || key == nullptr)
    return error4(nullptr, e4parmNull, tag4locUnique);
  TAG4FILE* t = tag->tagFile;
  if (error4code(t->codeBase) < 0) return -1;
  bool took = false;
  int32_t rc = tag4changeBegin(t, &took);
  if (rc != 0) return rc;
  bool done = false;
  rc = settlePending(tag, key, record, &done);
  if (rc == 0 && !done) {
    if (nullKey && tag->uniqueMode == e4candidate) {
      rc = refuseDuplicate(t, e4candidate);
    } else if (nullKey && tag->uniqueMode == r4uniqueNoNull) {
      rc = r4unique;
    } else {
      rc = addDo(t, key, record, tag->uniqueMode);
    }
  }
  return tag4changeEnd(t, took, rc);
}
