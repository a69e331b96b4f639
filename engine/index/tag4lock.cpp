// The index lock, the version counter, and writing what changed.
//
// Processes share a CDX file through one lock byte at 0x7FFFFFFE: a writer
// changes trees only while it holds it, and every change it makes sets the
// file header's version to the version it last saw + 1. Readers need no
// lock: each node they read is checked (tag4descend.cpp), and before a walk
// they re-read the header (index4refresh); a new version means another
// process wrote, so every cached node is dropped and each tag's cursor is
// sought again on the key and record it was on.
//
// At unlock the changed nodes and roots are written first and the file
// header (with the new version) last, leaves before their parents: a reader
// that sees the new version finds the nodes it names already written, and
// one that reads in between meets nodes that fail their checks and tries
// again rather than caching a half-written tree.
//
// A file opened exclusively needs no lock byte and no re-reading, and keeps
// its tags' roots in memory. Its changes are written at unlock and flush
// all the same, into the block cache when that holds the file's writes,
// which hands them to the disk in an order of its own: the change mark in
// the file header, written straight to the disk before the first change
// and cleared only once a flush or close has put every change and the
// table's records there, tells the next open that a process died in
// between and the trees must be rebuilt.
#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/index/cdx4freelist.h"
#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/error4.h"

namespace {

constexpr int64_t kLockByte = 0x7FFFFFFE;
constexpr int32_t kLocFileHeader = 80099;
// The owner under which an add or remove takes the lock for itself.
constexpr int32_t kChangeOwner = -1;

TAG4FILE* asTag(LINK4* link) { return reinterpret_cast<TAG4FILE*>(link); }

// Calls `f` for the tag of tags, then every other tag; the first error.
template <class F>
int32_t eachTag(INDEX4FILE* i, F&& f) {
  int32_t first = 0;
  auto note = [&](int32_t rc) {
    if (rc < 0 && first == 0) first = rc;
  };
  if (i->tagIndex != nullptr) note(f(i->tagIndex));
  for (LINK4* link = list4first(&i->tags); link != nullptr; link = list4next(&i->tags, link))
    if (asTag(link) != i->tagIndex) note(f(asTag(link)));
  return first;
}

struct Position {
  TAG4FILE* tag = nullptr;
  bool afterLast = false;
  uint32_t record = 0;
  unsigned char key[cdx4keyLengthMax + 1] = {};
};

// The entry each positioned tag's cursor is on.
std::vector<Position> positions(INDEX4FILE* i) {
  std::vector<Position> out;
  eachTag(i, [&](TAG4FILE* t) {
    BLOCK4* b = tag4current(t);
    if (b == nullptr || !block4leaf(b)) return 0;
    Position p;
    p.tag = t;
    const B4KEY_DATA* k = b->keyOn < block4numKeys(b) ? block4key(b, b->keyOn) : nullptr;
    if (k == nullptr) {
      p.afterLast = true;
    } else {
      std::memcpy(p.key, b4keyValue(k), static_cast<size_t>(tagfile4keyLength(t)));
      p.record = k->num;
    }
    out.push_back(p);
    return 0;
  });
  return out;
}

// Re-reads the file header's first 16 bytes; when the version is not the
// one last seen, adopts the header and drops and re-seeks every tag.
int32_t reread(INDEX4FILE* i) {
  TAG4FILE* ti = i->tagIndex;
  if (ti == nullptr) return 0;
  unsigned char front[cdx4frontSize];
  if (int32_t rc = file4readAll(&i->file, 0, front, sizeof front); rc < 0) return rc;
  Cdx4Header h;
  cdx4headerDecodeFront(front, &h);
  if (h.version == i->versionSeen) return 0;
  if (h.root == 0 || h.root == block4none || !cdx4nodeOffsetPlausible(block4toOffset(i, h.root)) ||
      (h.options & cdx4optionCompact) == 0 || h.keyLength != ti->header.keyLength)
    return error4describe(i->codeBase, e4index, kLocFileHeader, i->file.name, nullptr, nullptr);

  const std::vector<Position> kept = positions(i);
  eachTag(i, [&](TAG4FILE* t) {
    tag4cacheDiscard(t);
    t->rootChanged = false;
    if (t != ti) t->header.root = 0;
    return 0;
  });
  ti->header.root = h.root;
  ti->header.freeList = h.freeList;
  ti->header.version = h.version;
  i->versionSeen = i->versionWritten = h.version;

  for (const Position& p : kept) {
    int32_t rc = 0;
    if (p.afterLast) {
      rc = tag4goAfterLast(p.tag);
    } else {
      Tag4Found found;
      rc = tag4seekRecord(p.tag, p.key, p.record, &found);
    }
    if (rc < 0) return rc;
  }
  return 0;
}

}  // namespace

int32_t index4lock(INDEX4FILE* i, int32_t owner) {
  if (error4code(i->codeBase) < 0) return -1;
  if (i->locked) return i->lockOwner == owner ? 0 : r4locked;
  if (index4exclusive(i)) {
    i->locked = true;
    i->lockOwner = owner;
    return 0;
  }
  if (int32_t rc = file4lock(&i->file, kLockByte, 1); rc != 0) return rc;
  i->locked = true;
  i->lockOwner = owner;
  int32_t rc = file4refresh(&i->file);
  if (rc == 0) rc = index4eofTake(i);
  if (rc == 0) rc = reread(i);
  if (rc < 0) {
    file4unlock(&i->file, kLockByte, 1);
    i->locked = false;
    i->lockOwner = 0;
  }
  return rc;
}

// A file held exclusively whose writes the block cache holds anyway keeps
// its changed nodes in the tags' own memory until a flush or a close: no
// other process reads it, and copying every changed node into the cache
// at each unlock (once per appended record) gains nothing.
int32_t index4unlock(INDEX4FILE* i, int32_t owner) {
  if (!i->locked) return 0;
  if (owner != 0 && owner != i->lockOwner) return 0;
  // A file a failed reopen left closed holds no lock any more: its
  // descriptor went with it.
  if (!file4openTest(&i->file)) {
    i->locked = false;
    i->lockOwner = 0;
    return 0;
  }
  const bool held = index4exclusive(i) && i->file.cached;
  int32_t rc = held ? 0 : index4updateHeader(i);
  if (rc == 0 && !index4exclusive(i)) rc = index4roomGiveBack(i);
  const int32_t released = index4exclusive(i) ? 0 : file4unlock(&i->file, kLockByte, 1);
  i->locked = false;
  i->lockOwner = 0;
  return rc < 0 ? rc : released;
}

int32_t index4refresh(INDEX4FILE* i) {
  if (error4code(i->codeBase) < 0) return -1;
  if (i->locked || index4exclusive(i)) return 0;
  if (int32_t rc = file4refresh(&i->file); rc < 0) return rc;
  return reread(i);
}

int32_t index4updateHeader(INDEX4FILE* i) {
  if (!i->locked && !index4exclusive(i)) return 0;
  if (error4code(i->codeBase) < 0) return -1;
  TAG4FILE* ti = i->tagIndex;
  // Another process may move a root of a shared file: the next walk reads
  // it from the tag header. The tag of tags keeps its root with the file
  // header, and a file held exclusively keeps every root in memory.
  const bool rootsMayMove =
      ti != nullptr && (ti->header.options & cdx4optionCompound) != 0 && !index4exclusive(i);
  int32_t rc = eachTag(i, [&](TAG4FILE* t) {
    const int32_t flushed = tagfile4flush(t);
    if (flushed == 0 && rootsMayMove && t != ti) t->header.root = 0;
    return flushed;
  });
  if (rc < 0 || ti == nullptr || ti->header.version == i->versionWritten) return rc;
  unsigned char front[cdx4frontSize];
  cdx4headerEncodeFront(ti->header, front);
  if ((rc = file4write(&i->file, 0, front, sizeof front)) < 0) return rc;
  i->versionWritten = i->versionSeen = ti->header.version;
  return 0;
}

namespace {

// The mark goes straight to the disk: set, it must be there before any
// change the block cache holds back; cleared, only after all of them.
int32_t writeChangeMark(INDEX4FILE* i, unsigned char mark) {
  return file4writeThrough(&i->file, cdx4changeMarkOffset, &mark, 1);
}

}  // namespace

int32_t index4changeMark(INDEX4FILE* i) {
  if (i->changeMarked || !index4exclusive(i) || i->file.isReadOnly) return 0;
  // Synced before any node of the change is written: write-back keeps no
  // order, and a power cut that kept a changed node without the mark would
  // leave a tree that is trusted and wrong. It counts as set only once the
  // disk said so: a change that met a failed sync is refused.
  // A file left without room keeps saying so until it is whole again.
  int32_t rc = writeChangeMark(i, i->leftWithoutRoom ? cdx4leftWithoutRoom : cdx4changing);
  if (rc == 0) rc = file4flushOs(&i->file);
  if (rc == 0) i->changeMarked = true;
  return rc;
}

int32_t index4changeSettle(INDEX4FILE* i) {
  if (!i->changeMarked || i->interrupted) return 0;
  // The trees agree with the records only once both are on the disk,
  // synced: a mark cleared before them could outlive them in a power cut.
  // (A flush has synced them already; a table closing its indexes has
  // written its records, which are synced here.)
  int32_t rc = file4flush(&i->file);
  if (i->dataFile != nullptr && datafile4flushHeld(i->dataFile) < 0) rc = -1;
  if (rc != 0) return rc;
  // Synced too: a clearing a power cut took back would cost the next open
  // a rebuild of a change that was finished. Once written, the disk may
  // hold it whatever the sync says: the next change marks again.
  rc = writeChangeMark(i, 0);
  if (rc == 0) {
    i->changeMarked = false;
    i->leftWithoutRoom = false;
    rc = file4flushOs(&i->file);
  }
  return rc;
}

int32_t index4changeLeft(INDEX4FILE* i) {
  const int32_t refused = i->codeBase->writeErrno;
  if (!i->changeMarked || (refused != ENOSPC && refused != EDQUOT)) return 0;
  return writeChangeMark(i, cdx4leftWithoutRoom);
}

int32_t tag4changeBegin(TAG4FILE* t, bool* took) {
  INDEX4FILE* i = t->indexFile;
  *took = false;
  if (i->file.isReadOnly)
    return error4describe(t->codeBase, e4write, tag4locReadOnly, i->file.name, t->name, nullptr);
  if (index4exclusive(i)) return index4changeMark(i);
  if (i->locked) return 0;
  const int32_t rc = index4lock(i, kChangeOwner);
  if (rc == 0) *took = true;
  return rc;
}

int32_t tag4changeEnd(TAG4FILE* t, bool took, int32_t rc) {
  if (!took) return rc;
  const int32_t released = index4unlock(t->indexFile, kChangeOwner);
  return rc < 0 || released >= 0 ? rc : released;
}
