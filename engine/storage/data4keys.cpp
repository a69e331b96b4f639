// Key maintenance of the record layer: when a record is written, appended
// or taken back, every tag of the handle gets the record's new key in place
// of its old one.
//
// Keys are built by the tags' own expressions, bound to the handle that
// writes: the new key from its record buffer, the old key from its
// old-record buffer (which holds the record as it is on disk). A refusal by
// a unique tag (20, or -340) puts every tag of the write back as it was.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/index/expr4.h"
#include "engine/index/index4.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/index/tag4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"

namespace {

constexpr int32_t kLocPendingMissing = 90218;
constexpr int32_t kLocUnwrite = 90219;
constexpr int32_t kLocKeyLength = 90217;

// A record's key in one tag, and whether the record passes the tag's filter.
// Held in place: key maintenance runs at every append and allocates nothing.
struct KeyOf {
  unsigned char key[cdx4keyLengthMax + 1];
  int32_t length = 0;
  bool passes = false;
  bool isNull = false;

  bool sameKey(const KeyOf& other) const {
    return length == other.length && std::memcmp(key, other.key, length) == 0;
  }
};

// What one tag's part of a write did, so that it can be undone.
struct TagChange {
  TAG4* tag = nullptr;
  uint32_t record = 0;
  KeyOf oldKey;
  KeyOf newKey;
  bool oldRemoved = false;
  bool newAdded = false;
};

// The changes of one write, in tag order; held in place for the usual
// handful of tags.
class TagChanges {
 public:
  void push(const TagChange& change) {
    if (count_ < kInline)
      inline_[count_] = change;
    else
      more_.push_back(change);
    count_++;
  }
  // Calls `f` on each change, the last first.
  template <class F>
  void eachBackwards(F&& f) {
    for (size_t i = count_; i-- > 0;) f(i < kInline ? inline_[i] : more_[i - kInline]);
  }

 private:
  static constexpr size_t kInline = 8;
  TagChange inline_[kInline];
  std::vector<TagChange> more_;
  size_t count_ = 0;
};

template <class Visit>
int32_t forEachTag(DATA4* d, Visit visit) {
  for (LINK4* i = list4first(&d->indexes); i != nullptr; i = list4next(&d->indexes, i)) {
    auto* index = reinterpret_cast<INDEX4*>(i);
    for (LINK4* t = list4first(&index->tags); t != nullptr; t = list4next(&index->tags, t)) {
      if (const int32_t rc = visit(reinterpret_cast<TAG4*>(t)); rc != 0) return rc;
    }
  }
  return 0;
}

bool hasTags(DATA4* d) {
  return forEachTag(d, [](TAG4*) { return 1; }) != 0;
}

bool uniqueMode(const TAG4* tag) {
  return tag->uniqueMode == r4unique || tag->uniqueMode == e4unique ||
         tag->uniqueMode == r4uniqueNoNull;
}

bool inTransaction(const CODE4* c) { return c->transactionState == tran4active; }

bool rollingBack(const CODE4* c) { return c->transactionState == tran4rollback; }

// The key and filter result of the record in the handle's record buffer
// (old = false) or its old-record buffer (old = true).
int32_t keyOf(DATA4* d, TAG4* tag, bool old, KeyOf& out) {
  TAG4FILE* tf = tag->tagFile;
  auto* keyExpr = static_cast<EXPR4*>(tf->expr);
  auto* filter = static_cast<EXPR4*>(tf->filter);
  // A tag without its expression makes no key: damage, reported on the
  // tag's settings object with its file and name (a null expression would
  // be refused without a settings object, which no hook can tell).
  if (tf->disabled || keyExpr == nullptr) return tag4damaged(tf, tag4locDisabled);
  const auto bind = [&](EXPR4* e) { return old ? expr4contextOld(e, d) : expr4context(e, d); };
  out.passes = true;
  if (filter != nullptr) {
    if (const int32_t rc = bind(filter); rc < 0) return rc;
    const int32_t pass = expr4true(filter);
    if (pass < 0) return pass;
    out.passes = pass == 1;
  }
  if (const int32_t rc = bind(keyExpr); rc < 0) return rc;
  char* key = nullptr;
  const int32_t length = expr4key(keyExpr, &key, tf);
  if (length < 0) return length;
  if (length > cdx4keyLengthMax) return error4(d->codeBase, e4info, kLocKeyLength);
  std::memcpy(out.key, key, length);
  out.length = length;
  out.isNull = expr4nullLow(keyExpr, 0) == 1 && expr4nullLow(keyExpr, 1) == 1;
  if (old) expr4context(keyExpr, d);
  if (old && filter != nullptr) expr4context(filter, d);
  return 0;
}

const unsigned char* bytes(const KeyOf& k) { return k.key; }

// The index locks of one record's key maintenance: taken unless the caller
// holds them all already (a lock of the whole table, which its writes must
// not give up), and released again only when taken here.
class IndexLocks {
 public:
  explicit IndexLocks(DATA4* d) : d_(d), heldBefore_(datafile4lockTestIndex(d->dataFile) == 1) {}
  ~IndexLocks() {
    if (!heldBefore_) datafile4unlockIndex(d_->dataFile, d_->id);
  }
  IndexLocks(const IndexLocks&) = delete;
  IndexLocks& operator=(const IndexLocks&) = delete;
  int32_t take() { return heldBefore_ ? 0 : datafile4lockIndex(d_->dataFile, d_->id); }

 private:
  DATA4* d_;
  bool heldBefore_;
};

// Puts the tags of `changes` back as they were, last first.
void undo(TagChanges& changes) {
  changes.eachBackwards([](TagChange& change) {
    TAG4* tag = change.tag;
    if (change.newAdded) tagfile4remove(tag->tagFile, bytes(change.newKey), change.record);
    if (change.oldRemoved)
      tagfile4add(tag, bytes(change.oldKey), change.record, change.oldKey.isNull);
  });
}

// One tag's part of writing record r: the old key out, the new key in.
// 0, or 20 / -340 / an error with this tag put back as it was.
int32_t writeTag(DATA4* d, TAG4* tag, uint32_t r, TagChanges& changes) {
  CODE4* c = d->codeBase;
  TagChange change{tag, r, {}, {}, false, false};
  if (const int32_t rc = keyOf(d, tag, false, change.newKey); rc < 0) return rc;
  if (const int32_t rc = keyOf(d, tag, true, change.oldKey); rc < 0) return rc;
  if (change.newKey.passes == change.oldKey.passes && change.newKey.sameKey(change.oldKey))
    return 0;
  const bool deferRemoval = inTransaction(c) && uniqueMode(tag);
  if (change.oldKey.passes) {
    // Inside a transaction a unique tag keeps the old key until commit, so
    // that a rollback finds it; the removal waits on the pending list.
    const int32_t rc = deferRemoval ? tag4pendingPush(tag, r, bytes(change.oldKey))
                                    : tagfile4remove(tag->tagFile, bytes(change.oldKey), r);
    if (rc < 0) return rc;
    change.oldRemoved = !deferRemoval;
  }
  if (change.newKey.passes && rollingBack(c) && uniqueMode(tag)) {
    // The key being restored never left the tree: the transaction only
    // kept its removal pending.
    if (TAG4PENDING* kept = tag4pendingFind(tag, r, bytes(change.newKey)); kept != nullptr) {
      tag4pendingDrop(tag, kept);
      changes.push(change);
      return 0;
    }
  }
  if (change.newKey.passes) {
    if (uniqueMode(tag)) {
      if (TAG4PENDING* pending = tag4pendingFind(tag, 0, bytes(change.newKey))) {
        tagfile4remove(tag->tagFile, bytes(change.newKey), pending->record);
        tag4pendingDrop(tag, pending);
      }
    }
    const int32_t rc = tagfile4add(tag, bytes(change.newKey), r, change.newKey.isNull);
    if (rc == r4unique || rc < 0) {
      const int32_t kept = error4set(c, 0);
      if (deferRemoval && change.oldKey.passes) {
        TAG4PENDING* first = tag4pendingFind(tag, r, bytes(change.oldKey));
        if (first == nullptr) return error4(c, e4info, kLocPendingMissing);
        tag4pendingDrop(tag, first);
      } else if (change.oldRemoved) {
        tagfile4add(tag, bytes(change.oldKey), r, change.oldKey.isNull);
      }
      error4set(c, kept);
      return rc;
    }
    change.newAdded = rc == 0;
  }
  changes.push(change);
  return 0;
}

}  // namespace

int32_t data4writeKeys(DATA4* d, int32_t record) {
  d->bofFlag = d->eofFlag = 0;
  if (!hasTags(d)) return 0;
  // The stored image is read again: another handle may have rewritten the
  // record since this one last read it. Without it the old keys are not
  // known, and nothing may change.
  if (const int32_t rc = data4readStored(d, record); rc < 0) return rc;
  // A key may read a memo value, which the record bytes do not show.
  const bool memoChanged = std::any_of(d->memoFields.begin(), d->memoFields.end(),
                                       [](const MEMO4FIELD& memo) { return memo.changed != 0; });
  if (!memoChanged && d->recNumOld == record &&
      std::memcmp(d->recordOld, d->record, d->dataFile->recordLength) == 0)
    return 0;
  int32_t rc;
  {
    IndexLocks locks(d);
    if ((rc = locks.take()) != 0) return rc;
    TagChanges changes;
    rc = forEachTag(
        d, [&](TAG4* tag) { return writeTag(d, tag, static_cast<uint32_t>(record), changes); });
    if (rc != 0) {
      const int32_t kept = error4set(d->codeBase, 0);
      undo(changes);
      error4set(d->codeBase, kept);
    }
  }
  d->recNumOld = -1;
  return rc;
}

int32_t data4unwriteKeys(DATA4* d, int32_t record) {
  if (record < 1) return error4(d->codeBase, e4parm, kLocUnwrite);
  if (!hasTags(d)) return 0;
  int32_t result = 0;
  IndexLocks locks(d);
  locks.take();
  forEachTag(d, [&](TAG4* tag) {
    KeyOf now, before;
    if (keyOf(d, tag, false, now) < 0 || keyOf(d, tag, true, before) < 0) {
      result = -1;
      return 0;
    }
    if (now.passes == before.passes && now.sameKey(before)) return 0;
    const bool unique = uniqueMode(tag);
    if (before.passes) {
      if (unique && rollingBack(d->codeBase)) {
        result = -1;
        return 1;
      }
      // Inside a transaction a unique tag never let the old key go: only
      // its pending removal is taken back.
      TAG4PENDING* kept = unique && inTransaction(d->codeBase)
                              ? tag4pendingFind(tag, static_cast<uint32_t>(record), bytes(before))
                              : nullptr;
      if (kept != nullptr)
        tag4pendingDrop(tag, kept);
      else
        tagfile4add(tag, bytes(before), static_cast<uint32_t>(record), before.isNull);
    }
    if (now.passes && tagfile4remove(tag->tagFile, bytes(now), static_cast<uint32_t>(record)) < 0)
      result = -1;
    return 0;
  });
  d->recNumOld = -1;
  return result;
}

int32_t data4appendKeys(DATA4* d, int32_t record) {
  if (!hasTags(d)) return 0;
  IndexLocks locks(d);
  if (const int32_t rc = locks.take(); rc != 0) return rc;
  TagChanges added;
  const int32_t rc = forEachTag(d, [&](TAG4* tag) {
    TagChange change{tag, static_cast<uint32_t>(record), {}, {}, false, false};
    if (const int32_t failed = keyOf(d, tag, false, change.newKey); failed < 0) return failed;
    if (!change.newKey.passes) return 0;
    const int32_t result =
        tagfile4add(tag, bytes(change.newKey), change.record, change.newKey.isNull);
    if (result == r4unique || result < 0) return result;
    change.newAdded = result == 0;
    added.push(change);
    return 0;
  });
  if (rc != 0) {
    const int32_t kept = error4set(d->codeBase, 0);
    undo(added);
    error4set(d->codeBase, kept);
  }
  return rc;
}

int32_t data4removeKeys(DATA4* d, int32_t record) {
  if (!hasTags(d)) return 0;
  IndexLocks locks(d);
  if (const int32_t rc = locks.take(); rc != 0) return rc;
  int32_t result = 0;
  forEachTag(d, [&](TAG4* tag) {
    KeyOf key;
    if (keyOf(d, tag, false, key) < 0) {
      result = -1;
      return 0;
    }
    if (key.passes && tagfile4remove(tag->tagFile, bytes(key), static_cast<uint32_t>(record)) < 0)
      result = -1;
    return 0;
  });
  return result;
}

int32_t data4pendingSettle(DATA4* d, bool remove) {
  int32_t result = 0;
  forEachTag(d, [&](TAG4* tag) {
    while (LINK4* link = list4first(&tag->removed)) {
      auto* entry = reinterpret_cast<TAG4PENDING*>(link);
      if (remove && tagfile4remove(tag->tagFile, entry->key(), entry->record) < 0) result = -1;
      tag4pendingDrop(tag, entry);
    }
    return 0;
  });
  return result;
}
