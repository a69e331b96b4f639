#include "engine/storage/data4scan.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/memo4field.h"

namespace {

constexpr int32_t kLocScanTop = 90358;
constexpr int32_t kLocScanSkip = 90359;

// Null handle, invalid handle or pending error: the result to return, else 0.
int32_t enter(DATA4* d, int32_t location) {
  if (!data4check(d, location)) return e4parm;
  return error4code(d->codeBase) < 0 ? -1 : 0;
}

// Reads records from `record` on into the block: 1 when it holds
// `record`, 0 when the file ends first, or the error of a read the disk
// refused (the records it did hold are not passed on as the last ones).
int32_t fill(DATA4SCAN* scan, int32_t record, int32_t count) {
  DATA4FILE* df = scan->data->dataFile;
  const uint32_t length = df->recordLength;
  const int32_t wanted = std::min(scan->perRead, count - record + 1);
  scan->block.resize(static_cast<size_t>(wanted) * length);
  const uint64_t offset = df->header.headerLength + static_cast<uint64_t>(record - 1) * length;
  const auto size = static_cast<uint32_t>(scan->block.size());
  const uint32_t failures = df->file.readFailures;
  const uint32_t got = file4read(&df->file, offset, scan->block.data(), size);
  scan->first = record;
  scan->held = 0;
  if (got < size && df->file.readFailures != failures)
    return file4readError(&df->file, offset, size, "data4scan");
  scan->held = static_cast<int32_t>(got / length);
  return scan->held > 0 ? 1 : 0;
}

// Makes `record` current from the block, as data4go does from the file.
int32_t goFromBlock(DATA4SCAN* scan, int32_t record) {
  DATA4* d = scan->data;
  const uint32_t length = d->dataFile->recordLength;
  std::memcpy(d->record, scan->block.data() + static_cast<size_t>(record - scan->first) * length,
              length);
  d->memoPrepared = false;
  d->recNum = record;
  d->bofFlag = d->eofFlag = 0;
  for (MEMO4FIELD& memo : d->memoFields) {
    memo.notRead = 1;
    field4memoReset(memo.field);
  }
  // data4go reads the old image of a record this handle holds locked;
  // every user of that image (key updates, the log) reads it afresh, so
  // here it is only marked stale.
  if (d->recNumOld == record) d->recNumOld = -1;
  return 0;
}

int32_t scanGo(DATA4SCAN* scan, int32_t record, int32_t location) {
  DATA4* d = scan->data;
  if (const int32_t rc = enter(d, location); rc != 0) return rc;
  const int32_t count = data4recCount(d);
  if (count < 0) return -1;
  if (record > count) return data4goEof(d);
  // What data4go would do besides reading: lock, or write the record back.
  if (d->codeBase->readLock != 0 || d->recordChanged) return data4go(d, record);
  const bool held = record >= scan->first && record < scan->first + scan->held;
  if (!held) {
    const int32_t filled = fill(scan, record, count);
    if (filled < 0) return filled;
    if (filled == 0) return data4go(d, record);
  }
  d->count = static_cast<uint32_t>(count);
  return goFromBlock(scan, record);
}

}  // namespace

int32_t data4scanTop(DATA4SCAN* scan, DATA4* d, int32_t perRead) {
  scan->data = d;
  scan->perRead = std::max(perRead, 1);
  data4scanForget(scan);
  const int32_t rc = scanGo(scan, 1, kLocScanTop);
  if (rc == r4eof) d->bofFlag = 1;
  return rc;
}

int32_t data4scanSkip(DATA4SCAN* scan) {
  DATA4* d = scan->data;
  if (const int32_t rc = enter(d, kLocScanSkip); rc != 0) return rc;
  if (d->recNum < 1) return data4skip(d, 1);
  return scanGo(scan, d->recNum + 1, kLocScanSkip);
}

void data4scanForget(DATA4SCAN* scan) {
  scan->first = 0;
  scan->held = 0;
}
