// index4reindex: rebuilding every tag of an index file from the table.
//
// The whole file is written anew (reindex4build) into a work file beside
// it, which then takes the index's place (reindex4swap.cpp); a file being
// created is written directly. Progress is published in the settings
// object while the rebuild runs.
#include <algorithm>

#include "engine/index/reindex4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"

namespace {

constexpr int32_t kLocReadOnly = 80013;

// Publishes the progress of one rebuild and closes it on every path.
class ProgressScope {
 public:
  ProgressScope(CODE4* c, int32_t tags, int64_t records) : p_(c->reindexProgress) {
    const double n = std::max(tags, 1);
    p_.fraction = 0.01 / n;
    p_.weight = 0.95 / n;
    p_.counter = 0;
    p_.twiceCount = 2 * std::max<int64_t>(records, 0);
    p_.reported = 0.0;
    p_.active = true;
  }
  ~ProgressScope() {
    p_.fraction = 1.0;
    p_.active = false;
  }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  Code4ReindexProgress& p_;
};

// Builds into a work file, beside the index or in memory, and puts it in
// the index's place.
int32_t rebuildAside(INDEX4* index, Reindex4Result* result, bool inMemory) {
  INDEX4FILE* i = index->indexFile;
  CODE4* c = index->codeBase;
  FILE4 work;
  int32_t rc = inMemory ? file4memory(&work, c, i->file.name) : reindex4workFile(i, &work);
  if (rc < 0) return rc;
  rc = reindex4build(index, &work, result);
  if (rc == 0) rc = inMemory ? reindex4replaceWithMemory(i, &work) : reindex4replace(i, &work);
  if (work.handle >= 0) {
    // Removes the work file whatever happened; the failure stays the one
    // reported.
    const int32_t pending = error4set(c, 0);
    file4close(&work);
    error4set(c, pending);
  }
  return rc;
}

int32_t rebuild(INDEX4* index, bool inMemory) {
  if (index == nullptr) return error4(nullptr, e4parmNull, index4locReindex);
  if (structure4check(index, structure4index, index4locReindex) < 0) return e4parm;
  CODE4* c = index->codeBase;
  if (error4code(c) < 0) return -1;
  DATA4* d = index->data;
  INDEX4FILE* i = index->indexFile;
  if (i->file.isReadOnly && !inMemory)
    return error4describe(c, e4write, kLocReadOnly, i->file.name, nullptr, nullptr);
  // An open that corrected the table's count rebuilds an index that carries
  // no change mark, and the new count reaches the disk before the rebuilt
  // index is in place (the records, and the count with them, are synced
  // before it goes in): the old one is marked first, so that a power cut in
  // between leaves it to be rebuilt again rather than trusted.
  if (d->dataFile->rebuildIndex && i->isValid && !inMemory) {
    if (int32_t rc = index4changeMark(i); rc < 0) return rc;
  }
  // The record buffer is used to evaluate keys: a changed record is written
  // first.
  if (int32_t rc = data4update(d); rc < 0) return rc;
  // A table only read cannot be locked for writing, and no writer of this
  // process can change it meanwhile.
  if (!inMemory || !d->dataFile->file.isReadOnly) {
    if (int32_t rc = data4lockAll(d, 0); rc != 0) return rc;
  }
  for (LINK4* link = list4first(&index->tags); link != nullptr; link = list4next(&index->tags, link))
    tag4pendingClear(index4handleTagOf(link));
  // The rebuilt index goes in without a change mark, so the records it is
  // built from, and the count that takes them in, are synced first (memo
  // file, records, header): a power cut must never leave it over records
  // it does not describe. (One built in memory outlives nothing.)
  if (!inMemory) {
    if (int32_t rc = datafile4flushHeld(d->dataFile); rc < 0) return rc;
  }

  int32_t rc = 0;
  Reindex4Result result;
  {
    ProgressScope progress(c, i->tags.nLink, data4recCount(d));
    if (!i->isValid && !inMemory) {
      rc = reindex4build(index, &i->file, &result);
    } else {
      rc = rebuildAside(index, &result, inMemory);
    }
    if (rc == 0) rc = reindex4adopt(i, result);
  }
  const int32_t pending = error4set(c, 0);
  data4blank(d);
  d->recordChanged = 0;
  d->recNum = d->recNumOld = -1;
  error4set(c, pending);
  return rc;
}

}  // namespace

int32_t index4reindex(INDEX4* index) { return rebuild(index, false); }

int32_t index4reindexInMemory(INDEX4* index) { return rebuild(index, true); }

double index4reindexProgress(const CODE4* c) {
  if (c == nullptr) return -1.0;
  const Code4ReindexProgress& p = c->reindexProgress;
  if (!p.active) return -1.0;
  // The rebuilding thread resets the counter before it moves the fraction
  // on; read in the other order, an estimate taken between two changes may
  // fall short, never run ahead, so the highest one reported stands.
  const double fraction = p.fraction;
  const int64_t counter = p.counter;
  const int64_t twice = p.twiceCount;
  const double done =
      twice > 0 ? p.weight * static_cast<double>(counter) / static_cast<double>(twice) : 0.0;
  const double estimate = std::min(1.0, fraction + done);
  double reported = p.reported;
  while (estimate > reported && !p.reported.compare_exchange_weak(reported, estimate)) {
  }
  return std::max(estimate, reported);
}
