// Descending the tree one level at a time, with the checks that keep a
// damaged or changing file from misleading a walk.
//
// Every node read is untrusted. The node layer checks each node on its own
// (block4read); here the tree is checked:
// - a root pointer or child pointer must name a whole node inside the file,
//   past the headers and on a 512-byte boundary, and a child must not be a
//   node already on the path (a loop);
// - a path never grows past tag4depthMax nodes;
// - a node read below a parent must be a non-root node that is not empty
//   and ends with the record number of the parent's entry for it (node
//   verification, while the file's verifyNodes is on).
//
// A file shared for writing and not locked may be changed by another
// process between two reads: a failed check then means "changed", not
// "damaged". The walk is tried again from the root after a wait, with the
// tag's nodes dropped and the end of the file taken again, a bounded number
// of times (-310 at 80082 when they are spent). Otherwise a failed check
// raises -310 naming the tag.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/index/index4file.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4queue.h"
#include "platform/os.h"

namespace {

// About two seconds of waiting in all, enough for a writer to finish.
constexpr int kRetries = 100;
constexpr int64_t kWaitMaxMillis = 20;

bool nodeInFile(const INDEX4FILE* i, uint32_t block) {
  if (block == 0 || block == block4none) return false;
  const uint64_t offset = block4toOffset(i, block);
  return cdx4nodeOffsetPlausible(offset) && offset + i->blockSize <= block4toOffset(i, i->eofBlock);
}

}  // namespace

int32_t tag4take(TAG4FILE* t, uint32_t block, bool* fresh) {
  INDEX4FILE* i = t->indexFile;
  const bool quiet = index4othersMayWrite(i);
  const bool wasQuiet = i->damageQuiet;
  i->damageQuiet = quiet;
  const int32_t rc = tag4cacheTake(t, block, fresh);
  i->damageQuiet = wasQuiet;
  if (rc == e4index && quiet && error4code(t->codeBase) >= 0) return tag4retry;
  if (rc != 0 || !quiet || !*fresh) return rc;
  // A read that overlaps another process's write of the node can return
  // part of each; the node checks do not always see it. A second read that
  // differs, or comes back short (the file cut meanwhile), shows the write
  // in progress; one the disk refuses is the walk's error.
  BLOCK4* b = tag4current(t);
  static thread_local std::vector<unsigned char> again;
  again.resize(i->blockSize);
  const uint64_t offset = block4toOffset(i, block);
  const uint32_t failures = i->file.readFailures;
  const uint32_t got = file4read(&i->file, offset, again.data(), i->blockSize);
  if (got == i->blockSize && std::memcmp(again.data(), b->data(), i->blockSize) == 0) return 0;
  tag4cacheForget(t, b);
  if (got == i->blockSize) return tag4retry;
  if (i->file.readFailures != failures)
    return file4readError(&i->file, offset, i->blockSize, "tag4take");
  return error4code(t->codeBase) < 0 ? -1 : tag4retry;
}

namespace {

// A node just read below its parent's cursor entry is what the entry says.
bool fitsParent(TAG4FILE* t, BLOCK4* b, BLOCK4* parent) {
  const int count = block4numKeys(b);
  if (count == 0 || block4attribute(b) == block4attrRootBranch ||
      block4attribute(b) == block4attrRootLeaf)
    return false;
  if (!t->indexFile->verifyNodes) return true;
  return block4recNo(b, count - 1) == block4recNo(parent, parent->keyOn);
}

}  // namespace

int32_t tag4damaged(TAG4FILE* t, int32_t location) {
  return error4describe(t->codeBase, e4index, location, t->indexFile->file.name, t->name, nullptr);
}

int32_t tag4stale(TAG4FILE* t, int32_t location) {
  if (index4othersMayWrite(t->indexFile)) return tag4retry;
  return tag4damaged(t, location);
}

int32_t tag4pushRoot(TAG4FILE* t) {
  INDEX4FILE* i = t->indexFile;
  tag4popAll(t);
  if (t->disabled) return tag4damaged(t, tag4locDisabled);
  if (t->header.root == 0 || t->header.root == block4none) {
    unsigned char root[4];
    const int32_t rc = file4readAll(&i->file, block4toOffset(i, t->headerBlock), root, sizeof root);
    if (rc < 0) return rc;
    t->header.root = endian4::readLe32(root);
  }
  const uint32_t root = t->header.root;
  if (!nodeInFile(i, root)) {
    if (t != i->tagIndex) t->header.root = 0;
    return tag4stale(t, tag4locRoot);
  }
  bool fresh = false;
  if (int32_t rc = tag4take(t, root, &fresh); rc != 0) return rc;
  const int attribute = block4attribute(tag4current(t));
  if (fresh && attribute != block4attrRootBranch && attribute != block4attrRootLeaf) {
    tag4cacheForget(t, tag4current(t));
    return tag4stale(t, tag4locVerify);
  }
  return 0;
}

int32_t tag4pushChild(TAG4FILE* t) {
  INDEX4FILE* i = t->indexFile;
  BLOCK4* parent = tag4current(t);
  if (parent->keyOn < 0 || parent->keyOn >= block4numKeys(parent))
    return tag4stale(t, tag4locVerify);  // an empty branch
  if (t->depth >= tag4depthMax) return tag4stale(t, tag4locDepth);
  const uint32_t child = block4child(parent, parent->keyOn);
  if (!nodeInFile(i, child)) return tag4stale(t, tag4locChild);
  for (int level = 0; level < t->depth; level++)
    if (t->path[level]->fileBlock == child) return tag4stale(t, tag4locChild);
  bool fresh = false;
  if (int32_t rc = tag4take(t, child, &fresh); rc != 0) return rc;
  if (fresh && !fitsParent(t, tag4current(t), parent)) {
    tag4cacheForget(t, tag4current(t));
    return tag4stale(t, tag4locVerify);
  }
  return 0;
}

void tag4readAhead(TAG4FILE* t, uint32_t block) {
  INDEX4FILE* i = t->indexFile;
  if (nodeInFile(i, block)) file4advanceReadBlock(&i->file, block4toOffset(i, block), i->blockSize);
}

int32_t tag4retryPrepare(TAG4FILE* t, int attempt) {
  INDEX4FILE* i = t->indexFile;
  if (attempt + 1 >= kRetries) return tag4damaged(t, tag4locRetriesSpent);
  const int64_t wait = std::min<int64_t>(int64_t{1} << std::min(attempt, 5), kWaitMaxMillis);
  platform::os().sleepMillis(wait);
  tag4cacheDiscard(t);
  if (int32_t rc = file4refresh(&i->file); rc < 0) return rc;
  if (int32_t rc = index4eofTake(i); rc < 0) return rc;
  // The tag of tags keeps its root with the file header's other fields,
  // which only a re-read of the header replaces.
  if (t != i->tagIndex) t->header.root = 0;
  return 0;
}
