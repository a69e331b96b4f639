#include "engine/storage/data4record.h"

#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/date4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocBlank = 90259;
constexpr int32_t kLocUpdate = 90304;

uint64_t recordOffset(const DATA4FILE* df, int32_t number) {
  return df->header.headerLength + static_cast<uint64_t>(number - 1) * df->recordLength;
}

}  // namespace

int32_t data4blank(DATA4* d) {
  if (structure4check(d, structure4data, kLocBlank) < 0) return e4parm;
  const uint32_t length = d->dataFile->recordLength;
  if (d->recordBlank != nullptr)
    std::memcpy(d->record, d->recordBlank, length);
  else
    std::memset(d->record, ' ', length);
  d->recordState = 1;
  for (MEMO4FIELD& memo : d->memoFields) {
    memo.length = 0;
    memo.changed = 0;
    memo.notRead = 1;
  }
  d->recordChanged = 1;
  return 0;
}

int32_t datafile4writeData(DATA4FILE* df, int32_t number, const char* bytes) {
  df->headerChanged = true;
  return file4write(&df->file, recordOffset(df, number), bytes, df->recordLength);
}

int32_t data4update(DATA4* d) {
  if (structure4check(d, structure4data, kLocUpdate) < 0) return e4parm;
  CODE4* c = d->codeBase;
  if (error4code(c) < 0) return -1;
  if (d->recordChanged && d->recNum >= 1 && !d->eofFlag) {
    if (d->readOnly) return error4describe(c, e4write, 80013, d->alias, nullptr, nullptr);
    const int32_t rc = datafile4writeData(d->dataFile, d->recNum, d->record);
    if (rc < 0) return rc;
    std::memcpy(d->recordOld, d->record, d->dataFile->recordLength);
    d->recNumOld = d->recNum;
  }
  d->recordChanged = 0;
  DATA4FILE* df = d->dataFile;
  if (df->headerChanged && df->file.accessMode == 1) return datafile4updateHeader(df, 1, 1, 1);
  return 0;
}

int32_t datafile4updateHeader(DATA4FILE* df, int withDate, int withCount, int withAutoIncrement) {
  CODE4* c = df->codeBase;
  if (c->transactionState == tran4active || c->transactionState == tran4rollback) return 0;
  if (df->liveCount >= 0) df->header.recordCount = static_cast<uint32_t>(df->liveCount);
  unsigned char image[dbf4headerSize];
  dbf4encodeHeader(df->header, image);
  const bool countKnown = withCount && df->liveCount >= 0;
  int first = withDate ? 1 : 4;
  int end = countKnown ? 12 : (withDate ? 4 : 0);
  if (withAutoIncrement && df->autoIncrement) end = 28;
  if (withDate) df->headerDateWritten = true;
  if (end > first && file4write(&df->file, first, image + first, end - first) < 0) return -1;
  if (countKnown && !c->liveCountOnly) df->storedCount = df->header.recordCount;
  df->headerChanged = false;
  return 0;
}
