// Closing handles and releasing the data files they share.
#include <new>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4log.h"
#include "engine/storage/data4record.h"
#include "engine/storage/date4.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"
#include "engine/storage/memory4.h"

namespace {

constexpr int32_t kLocClose = 90141;

// Keeps the first failure of a close sequence while it runs on.
void note(int32_t& last, int32_t rc) {
  if (rc < 0) last = rc;
}

int32_t finishClose(DATA4* d, int32_t pending, int32_t last);

}  // namespace

DATA4* data4ofFileLink(LINK4* link) {
  return reinterpret_cast<DATA4*>(reinterpret_cast<char*>(link) - offsetof(DATA4, fileLink));
}

int32_t datafile4close(DATA4FILE* df) {
  if (df == nullptr || df->openCount > 0) return 0;
  CODE4* c = df->codeBase;
  const int32_t pending = error4set(c, 0);
  int32_t last = 0;
  if (df->file.handle >= 0) {
    if (c->closeMode == 1) df->file.isTemp = true;
    if (df->headerChanged && !df->file.isTemp && !df->file.isReadOnly) {
      uint8_t today[3];
      date4todayBytes(today);
      df->header.year = today[0];
      df->header.month = today[1];
      df->header.day = today[2];
      note(last, datafile4updateHeader(df, 1, df->file.accessMode == 1, 1));
    }
  }
  if (df->memoOpen) {
    if (c->closeMode == 1) df->memoFile.file.isTemp = true;
    note(last, file4close(&df->memoFile.file));
    df->memoOpen = false;
  }
  note(last, datafile4closeIndexFiles(df));
  note(last, file4close(&df->file));
  datafile4free(df);
  if (last < 0) {
    error4set(c, last);
    return last;
  }
  error4set(c, pending);
  return pending;
}

int32_t datafile4release(DATA4FILE* df) {
  if (df == nullptr) return 0;
  df->openCount--;
  return datafile4close(df);
}

int32_t data4close(DATA4* d) {
  if (d == nullptr) return error4(nullptr, e4parmNull, kLocClose);
  if (structure4check(d, structure4data, kLocClose) < 0) return e4parm;
  CODE4* c = d->codeBase;
  if (error4code(c) == e4unique) d->recordChanged = 0;
  const int32_t pending = error4code(c) < 0 ? error4set(c, 0) : 0;
  int32_t last = 0;
  if (d->dataFile != nullptr) {
    const int32_t rc = data4update(d);
    if (rc == e4unique) d->recordChanged = 0;
    note(last, rc);
    note(last, data4logClose(d));
    // The transaction may still need the handle: its commit or rollback
    // finishes the close.
    if (c->transactionState == tran4active && !d->readOnly) {
      list4remove(code4dataList(c), &d->link);
      list4add(&c->closedDataFiles, &d->link);
      if (pending < 0) error4set(c, pending);
      return pending < 0 ? pending : last;
    }
  }
  return finishClose(d, pending, last);
}

int32_t data4closeKept(DATA4* d) { return finishClose(d, 0, 0); }

namespace {

// Releases what the handle holds and gives it back to its pool. `pending`
// is the error code the close found, `last` the last failure met so far.
int32_t finishClose(DATA4* d, int32_t pending, int32_t last) {
  CODE4* c = d->codeBase;
  if (d->dataFile != nullptr) {
    note(last, data4unlock(d));
    note(last, data4closeIndexes(d));
    for (MEMO4FIELD& memo : d->memoFields) memory4freeBlock(memo.contents);
    list4remove(&d->dataFile->handles, &d->fileLink);
    note(last, datafile4release(d->dataFile));
    d->dataFile = nullptr;
  }
  if (list4contains(code4dataList(c), &d->link)) list4remove(code4dataList(c), &d->link);
  if (list4contains(&c->closedDataFiles, &d->link)) list4remove(&c->closedDataFiles, &d->link);
  d->validityMarker = 0;
  d->~DATA4();
  memory4free(c->dataPool, d);
  if (pending < 0) {
    error4set(c, pending);
    return pending;
  }
  if (last < 0) error4set(c, last);
  return last;
}

}  // namespace

int32_t code4close(CODE4* c) {
  if (c == nullptr) return error4(nullptr, e4parmNull, 90109);
  LIST4* handles = code4dataList(c);
  LINK4* link = list4first(handles);
  while (link != nullptr) {
    LINK4* next = list4next(handles, link);
    if (next == link) return -1;  // a ring that points at itself is broken
    data4close(reinterpret_cast<DATA4*>(link));
    link = next;
  }
  const int32_t code = error4code(c);
  return code < 0 ? code : 0;
}
