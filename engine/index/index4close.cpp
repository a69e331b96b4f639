// Closing: an INDEX4 gives back its TAG4s and one user of its file; the
// file's last user writes what changed and closes it. The production index
// of a table stays open, without users, while the table does: the table's
// last close closes it (data4index.h).
#include "engine/index/cdx4freelist.h"
#include "engine/index/index4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocClose = 90167;

void note(int32_t& first, int32_t rc) {
  if (rc < 0 && first == 0) first = rc;
}

bool tableStaysOpen(const INDEX4FILE* i) {
  return i->dataFile != nullptr && i->dataFile->openCount > 0;
}

}  // namespace

int32_t indexfile4close(INDEX4FILE* i) {
  if (i == nullptr) return error4(nullptr, e4parmNull, kLocClose);
  if (i->isValid && i->userCount > 1) {
    i->userCount--;
    return 0;
  }
  if (i->isValid && tableStaysOpen(i) && index4isProduction(i)) {
    i->userCount = 0;
    return 0;
  }
  CODE4* c = i->codeBase;
  const int32_t savedAttempts = c->lockAttempts;
  c->lockAttempts = -1;
  int32_t first = 0;
  if (i->isValid) {
    // The last close comes after every record write of the table: once the
    // changes are written, the trees agree with the records.
    const int32_t written = index4updateHeader(i);
    note(first, written);
    if (written == 0 && index4exclusive(i)) note(first, index4roomGiveBack(i));
    if (first == 0) note(first, index4changeSettle(i));
    // A mark the close leaves says why, when the disk had no room (the
    // close has failed already; a refused write of it leaves the mark 1).
    if (i->changeMarked) note(first, index4changeLeft(i));
  }
  note(first, index4unlock(i, 0));
  if (c->closeMode == 1) i->file.isTemp = true;
  note(first, indexfile4free(i, i->isValid));
  c->lockAttempts = savedAttempts;
  return first;
}

int32_t index4close(INDEX4* index) {
  if (index == nullptr) return error4(nullptr, e4parmNull, kLocClose);
  CODE4* c = index->codeBase;
  if (index->isValid && c->transactionState == tran4active)
    return error4(c, e4transViolation, index4locTransaction);
  return index4closeLow(index);
}

int32_t index4closeLow(INDEX4* index) {
  CODE4* c = index->codeBase;
  Error4Steps steps(c, Error4Steps::keepFirst);
  DATA4* d = index->data;
  if (index->isValid && d != nullptr) {
    const int32_t rc = data4update(d);
    steps.note(rc);
    if (rc < 0) error4set(c, 0);
  }
  for (LINK4* link = list4first(&index->tags); link != nullptr; link = list4next(&index->tags, link))
    if (d != nullptr && d->tagSelected == link) d->tagSelected = nullptr;
  INDEX4FILE* i = index->indexFile;
  if (i != nullptr) {
    if (d != nullptr) steps.note(index4unlock(i, d->id));
    steps.note(indexfile4close(i));
  }
  index4free(index);
  // An error the hook has cleared stays cleared.
  if (steps.mayLeave()) error4set(c, steps.failure());
  return steps.failure();
}

int32_t index4update(INDEX4FILE* i) {
  if (i == nullptr) return error4(nullptr, e4parmNull, kLocClose);
  const int32_t written = index4updateHeader(i);
  const int32_t flushed = file4flush(&i->file);
  return written < 0 ? written : (flushed < 0 ? flushed : 0);
}
