#include "engine/storage/data4index.h"

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"

// This engine opens no index files yet: a table that has a production
// index cannot be opened with it, and a new table gets none.
int32_t data4openProductionIndex(DATA4* d) {
  DATA4FILE* df = d->dataFile;
  df->productionIndexOpen = false;
  const bool hasIndex = (df->header.flags & dbf4flagProductionIndex) != 0;
  if (!hasIndex || !d->codeBase->autoOpen) return 0;
  return -1;
}

int32_t data4createProductionIndex(DATA4* /*d*/, const TAG4INFO* tags) {
  return tags == nullptr ? 0 : -1;
}

int32_t data4closeIndexes(DATA4* /*d*/) { return 0; }

int32_t indexfile4lockAll(DATA4FILE* /*file*/) { return 0; }

int32_t indexfile4unlockAll(DATA4FILE* /*file*/) { return 0; }

int32_t data4writeKeys(DATA4* /*d*/, int32_t /*record*/) { return 0; }

int32_t data4unwriteKeys(DATA4* /*d*/, int32_t /*record*/) { return 0; }

int32_t data4appendKeys(DATA4* /*d*/, int32_t /*record*/) { return 0; }

int32_t data4removeKeys(DATA4* /*d*/, int32_t /*record*/) { return 0; }

int32_t data4updateIndexes(DATA4* /*d*/) { return 0; }

int32_t data4reindexAll(DATA4* /*d*/) { return 0; }
