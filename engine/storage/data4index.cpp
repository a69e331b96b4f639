// The index files of tables, as opening, creating, locking, flushing,
// rebuilding and closing tables reach them.
#include "engine/storage/data4index.h"

#include <cstring>

#include "engine/index/index4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/error4.h"
#include "engine/storage/text4.h"

namespace {

constexpr int16_t kSingleOpenForIndex = 3;

INDEX4* asIndex(LINK4* link) { return reinterpret_cast<INDEX4*>(link); }
INDEX4FILE* asIndexFile(LINK4* link) { return reinterpret_cast<INDEX4FILE*>(link); }

void note(int32_t& first, int32_t rc) {
  if (rc < 0 && first == 0) first = rc;
}

// Calls `step` (INDEX4FILE*) -> result on every index file of a data file:
// 0 or the first error.
template <class Step>
int32_t eachIndexFile(DATA4FILE* file, Step step) {
  int32_t first = 0;
  for (LINK4* link = list4first(&file->indexes); link != nullptr;
       link = list4next(&file->indexes, link))
    note(first, step(asIndexFile(link)));
  return first;
}

}  // namespace

int32_t data4openProductionIndex(DATA4* d) {
  DATA4FILE* df = d->dataFile;
  CODE4* c = d->codeBase;
  df->productionIndexOpen = false;
  const bool hasIndex = (df->header.flags & dbf4flagProductionIndex) != 0;
  if (!hasIndex || !c->autoOpen) return 0;
  const int16_t savedSingleOpen = c->singleOpen;
  c->singleOpen = kSingleOpenForIndex;
  // The open rebuilds the index when the records beyond the header's count
  // were never in it for sure. Should that fail, the corrected count is not
  // written either, so the next open sees the same state and rebuilds again.
  INDEX4* index = index4open(d, nullptr);
  c->singleOpen = savedSingleOpen;
  if (index == nullptr) {
    if (df->rebuildIndex) df->headerChanged = false;
    return -1;
  }
  df->productionIndexOpen = true;
  df->rebuildIndex = false;
  return 0;
}

int32_t datafile4indexesMark(DATA4FILE* file) { return eachIndexFile(file, index4changeMark); }

int32_t datafile4indexesSettle(DATA4FILE* file) { return eachIndexFile(file, index4changeSettle); }

void datafile4indexesStale(DATA4FILE* file) {
  eachIndexFile(file, [](INDEX4FILE* i) {
    i->interrupted = true;
    return 0;
  });
}

bool datafile4indexesUnfinished(DATA4FILE* file) {
  return eachIndexFile(file, [](INDEX4FILE* i) { return i->interrupted ? -1 : 0; }) != 0;
}

int32_t datafile4indexesWriteHeld(DATA4FILE* file) {
  return eachIndexFile(file, [](INDEX4FILE* i) { return file4writeHeld(&i->file); });
}

int32_t data4createProductionIndex(DATA4* d, const TAG4INFO* tags) {
  if (tags == nullptr || tags->name == nullptr) return 0;
  return index4create(d, nullptr, tags) == nullptr ? -1 : 0;
}

namespace {

constexpr int32_t kLocTagMissing = 80050;

// The TAG4 after `previous` among the handle's indexes (the first for null).
TAG4* tagAfter(DATA4* d, TAG4* previous) {
  bool passed = previous == nullptr;
  for (LINK4* i = list4first(&d->indexes); i != nullptr; i = list4next(&d->indexes, i)) {
    LIST4* tags = &asIndex(i)->tags;
    for (LINK4* t = list4first(tags); t != nullptr; t = list4next(tags, t)) {
      if (passed) return reinterpret_cast<TAG4*>(t);
      passed = reinterpret_cast<TAG4*>(t) == previous;
    }
  }
  return nullptr;
}

// The handle's tag named `name` (cut to a tag name's length, any case).
TAG4* tagNamed(DATA4* d, const char* name) {
  char wanted[cdx4tagNameLength + 1] = {};
  text4copyBounded(wanted, name, sizeof wanted);
  for (size_t n = std::strlen(wanted); n > 0 && wanted[n - 1] == ' '; n--) wanted[n - 1] = '\0';
  for (TAG4* t = tagAfter(d, nullptr); t != nullptr; t = tagAfter(d, t))
    if (text4compareNoCase(t->tagFile->name, wanted) == 0) return t;
  return nullptr;
}

}  // namespace

int32_t data4tagsUniqueSet(DATA4* d, const TAG4INFO* tags) {
  TAG4* previous = nullptr;
  for (const TAG4INFO* def = tags; def != nullptr && def->name != nullptr; def++) {
    TAG4* t = def->name[0] != '\0' ? tagNamed(d, def->name) : tagAfter(d, previous);
    if (t == nullptr)
      return error4describe(d->codeBase, e4name, kLocTagMissing, d->alias, def->name, nullptr);
    t->uniqueMode = def->unique;
    previous = t;
  }
  return 0;
}

int32_t data4closeIndexes(DATA4* d) {
  int32_t first = 0;
  while (LINK4* link = list4first(&d->indexes)) note(first, index4closeLow(asIndex(link)));
  return first;
}

int32_t datafile4writeHeld(DATA4FILE* file) {
  int32_t rc = file4writeHeld(&file->file);
  if (file->memoOpen && file4writeHeld(&file->memoFile.file) < 0) rc = -1;
  return rc;
}

int32_t datafile4flushHeld(DATA4FILE* file) {
  int32_t rc = file->memoOpen ? file4flush(&file->memoFile.file) : 0;
  if (file4flush(&file->file) < 0) rc = -1;
  return rc;
}

int32_t datafile4closeIndexFiles(DATA4FILE* file) {
  int32_t first = 0;
  // A closing index clears its change mark once the records it indexes
  // are synced (index4changeSettle, through the table it still knows).
  // Records the disk refused leave the mark set, so that the next open
  // rebuilds the tags from the records the disk does hold.
  if (list4first(&file->indexes) != nullptr) {
    const int32_t written = datafile4writeHeld(file);
    note(first, written);
    if (written < 0) datafile4indexesStale(file);
  }
  while (LINK4* link = list4pop(&file->indexes)) {
    // Off the table's list, a file has no user left to keep it open.
    INDEX4FILE* i = asIndexFile(link);
    file->indexCount--;
    i->userCount = 0;
    note(first, indexfile4close(i));
  }
  file->productionIndexOpen = false;
  return first;
}

int32_t indexfile4lockAll(DATA4FILE* file, int32_t owner) {
  for (LINK4* link = list4first(&file->indexes); link != nullptr;
       link = list4next(&file->indexes, link)) {
    if (const int32_t rc = index4lock(asIndexFile(link), owner); rc != 0) return rc;
  }
  return 0;
}

int32_t indexfile4unlockAll(DATA4FILE* file) {
  int32_t result = 0;
  for (LINK4* link = list4first(&file->indexes); link != nullptr;
       link = list4next(&file->indexes, link)) {
    if (index4unlock(asIndexFile(link), 0) < 0) result = -1;
  }
  return result;
}

bool indexfile4lockedAll(DATA4FILE* file) {
  for (LINK4* link = list4first(&file->indexes); link != nullptr;
       link = list4next(&file->indexes, link)) {
    if (!asIndexFile(link)->locked) return false;
  }
  return true;
}

int32_t data4updateIndexes(DATA4* d) {
  int32_t first = 0;
  for (LINK4* link = list4first(&d->indexes); link != nullptr; link = list4next(&d->indexes, link))
    note(first, index4updateHeader(asIndex(link)->indexFile));
  return first;
}

int32_t data4reindexAll(DATA4* d) {
  CODE4* c = d->codeBase;
  const int8_t saved = c->reindexInProgress;
  c->reindexInProgress = 1;
  int32_t rc = 0;
  for (LINK4* link = list4first(&d->indexes); link != nullptr && rc == 0;
       link = list4next(&d->indexes, link))
    rc = index4reindex(asIndex(link));
  c->reindexInProgress = saved;
  return rc;
}
