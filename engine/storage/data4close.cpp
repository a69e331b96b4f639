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

int32_t finishClose(DATA4* d, int32_t pending, Error4Steps& steps);

}  // namespace

DATA4* data4ofFileLink(LINK4* link) {
  return reinterpret_cast<DATA4*>(reinterpret_cast<char*>(link) - offsetof(DATA4, fileLink));
}

int32_t datafile4close(DATA4FILE* df) {
  if (df == nullptr || df->openCount > 0) return 0;
  CODE4* c = df->codeBase;
  const int32_t pending = error4set(c, 0);
  Error4Steps steps(c);
  if (df->file.handle >= 0) {
    if (c->closeMode == 1) df->file.isTemp = true;
    if (df->headerChanged && !df->file.isTemp && !df->file.isReadOnly) {
      uint8_t today[3];
      date4todayBytes(today);
      df->header.year = today[0];
      df->header.month = today[1];
      df->header.day = today[2];
      steps.note(datafile4updateHeader(df, 1, df->file.accessMode == 1, 1));
    }
  }
  if (df->memoOpen) {
    if (c->closeMode == 1) df->memoFile.file.isTemp = true;
    steps.note(file4close(&df->memoFile.file));
    df->memoOpen = false;
    df->file.writtenFirst = nullptr;
  }
  steps.note(datafile4closeIndexFiles(df));
  steps.note(file4close(&df->file));
  datafile4free(df);
  // The last failure is the result; the settings object keeps it unless
  // the hook cleared it, else it keeps the code pending before.
  error4set(c, steps.mayLeave() ? steps.failure() : pending);
  return steps.failure() < 0 ? steps.failure() : pending;
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
  Error4Steps steps(c);
  if (d->dataFile != nullptr) {
    const int32_t rc = data4update(d);
    if (rc == e4unique) d->recordChanged = 0;
    steps.note(rc);
    steps.note(data4logClose(d));
    // The transaction may still need the handle: its commit or rollback
    // finishes the close.
    if (c->transactionState == tran4active && !d->readOnly) {
      list4remove(code4dataList(c), &d->link);
      list4add(&c->closedDataFiles, &d->link);
      if (pending < 0) error4set(c, pending);
      return pending < 0 ? pending : steps.failure();
    }
  }
  return finishClose(d, pending, steps);
}

int32_t data4closeKept(DATA4* d) {
  Error4Steps steps(d->codeBase);
  return finishClose(d, 0, steps);
}

namespace {

// Releases what the handle holds and gives it back to its pool. `pending`
// is the error code the close found, `steps` the failures met so far.
int32_t finishClose(DATA4* d, int32_t pending, Error4Steps& steps) {
  CODE4* c = d->codeBase;
  if (d->dataFile != nullptr) {
    steps.note(data4unlock(d));
    steps.note(data4closeIndexes(d));
    for (MEMO4FIELD& memo : d->memoFields) memory4freeBlock(memo.contents);
    list4remove(&d->dataFile->handles, &d->fileLink);
    steps.note(datafile4release(d->dataFile));
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
  if (steps.mayLeave()) error4set(c, steps.failure());
  return steps.failure();
}

}  // namespace

int32_t code4close(CODE4* c) {
  if (c == nullptr) return error4(nullptr, e4parmNull, 90109);
  LIST4* handles = code4dataList(c);
  LINK4* link = list4first(handles);
  int32_t failure = 0;
  while (link != nullptr) {
    LINK4* next = list4next(handles, link);
    if (next == link) return -1;  // a ring that points at itself is broken
    if (const int32_t rc = data4close(reinterpret_cast<DATA4*>(link)); rc < 0) failure = rc;
    link = next;
  }
  // A failure the hook has shown and cleared is still a failure.
  const int32_t code = error4code(c);
  return code < 0 ? code : failure;
}
