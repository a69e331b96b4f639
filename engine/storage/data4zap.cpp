#include "engine/storage/data4zap.h"

#include <algorithm>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4log.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/lock4.h"
#include "engine/storage/seqread4.h"
#include "engine/storage/seqwrite4.h"

namespace {

constexpr int32_t kLocZap = 90352;
constexpr int32_t kLocZapData = 90353;
constexpr int32_t kLocReadOnly = 80013;
constexpr int32_t kLocInTransaction = 80057;
constexpr int32_t kLocLoggedShared = 80058;
constexpr uint32_t kBufferStep = 2048;

// Two transfer buffers of the settings object's size, smaller when memory
// is short; none at all makes the moves unbuffered.
struct TransferBuffers {
  std::vector<char> read, write;
  TransferBuffers(uint32_t wanted, uint32_t recordLength) {
    for (uint32_t size = wanted; size > recordLength && size > 0;
         size = size > kBufferStep ? size - kBufferStep : 0) {
      try {
        read.resize(size);
        write.resize(size);
        return;
      } catch (const std::bad_alloc&) {
        std::vector<char>().swap(read);
        std::vector<char>().swap(write);
      }
    }
  }
};

// Moves records e + 1 .. n down to start at record s (the end byte is
// written once the file is cut).
int32_t moveRecords(DATA4FILE* df, int64_t s, int64_t e, int64_t n) {
  const uint32_t length = df->recordLength;
  std::vector<char> record(length);
  TransferBuffers buffers(static_cast<uint32_t>(df->codeBase->memSizeBuffer), length);
  const uint64_t header = df->header.headerLength;
  FILE4SEQREAD reader;
  FILE4SEQWRITE writer;
  // A reader that could not see the newest records moves nothing.
  if (file4seqReadInit(&reader, &df->file, header + static_cast<uint64_t>(e) * length,
                       buffers.read.empty() ? nullptr : buffers.read.data(),
                       static_cast<uint32_t>(buffers.read.size()), 1) < 0) {
    file4seqReadDone(&reader);
    return -1;
  }
  file4seqWriteInit(&writer, &df->file, header + static_cast<uint64_t>(s - 1) * length,
                    buffers.write.empty() ? nullptr : buffers.write.data(),
                    static_cast<uint32_t>(buffers.write.size()));
  int32_t rc = 0;
  for (int64_t moved = e + 1; moved <= n && rc == 0; moved++) {
    rc = file4seqReadAll(&reader, record.data(), length);
    if (rc == 0) rc = file4seqWrite(&writer, record.data(), length);
  }
  file4seqReadDone(&reader);
  const int32_t flushed = file4seqWriteFlush(&writer);
  if (rc == 0 && flushed < 0) rc = -1;
  return rc;
}

// Removed records cannot be logged record by record, so no transaction
// may span a removal, and a handle that logs its writes must hold the
// whole file of a shared table.
int32_t refuseWhileLogged(DATA4* d) {
  CODE4* c = d->codeBase;
  if (!c->transaction.enabled || c->transactionState == tran4rollback ||
      c->transactionState == tran4closing)
    return 0;
  const bool logsWrites = d->logMode == log4modeAuto || d->logMode == log4modeAlways;
  const DATA4FILE* df = d->dataFile;
  if (logsWrites && df->fileLockServer != d->id && df->file.accessMode == 0)
    return error4(c, e4transViolation, kLocLoggedShared);
  if (c->transactionState == tran4active) return error4(c, e4transViolation, kLocInTransaction);
  return 0;
}

}  // namespace

int32_t datafile4zapData(DATA4FILE* df, int32_t first, int32_t last) {
  CODE4* c = df->codeBase;
  df->headerChanged = true;
  const int64_t n = datafile4recCount(df, true);
  if (n < 0) return -1;
  const int64_t s = first == 0 ? 1 : first;
  if (s > n || last < s) return 0;
  const int64_t e = std::min<int64_t>(n, last);
  // A process that dies from here until the indexes are rebuilt leaves
  // tags that name records no longer there: the next exclusive open
  // rebuilds them.
  if (const int32_t rc = datafile4indexesMark(df); rc < 0) return rc;
  if (const int32_t rc = moveRecords(df, s, e, n); rc < 0) return rc;
  const int64_t count = n - (e - s + 1);
  const int64_t liveCount = df->liveCount;
  const uint32_t storedCount = df->storedCount;
  df->liveCount = count;
  df->header.recordCount = static_cast<uint32_t>(count);
  if (!c->liveCountOnly) df->storedCount = static_cast<uint32_t>(count);
  // The disk gets the moved records, then the smaller count, then the cut:
  // a count above the records the file holds makes the table unopenable,
  // while whole records beyond the count are taken back at an exclusive
  // open. The end byte comes last, beyond the count whatever happens.
  if (datafile4writeHeld(df) < 0 || datafile4updateHeader(df, 1, 1, 0) < 0 ||
      datafile4writeHeld(df) < 0) {
    // The file still holds every record: the count written next says so.
    df->liveCount = liveCount;
    df->header.recordCount = static_cast<uint32_t>(n);
    df->storedCount = storedCount;
    df->headerChanged = true;
    return -1;
  }
  const uint64_t end = df->header.headerLength + static_cast<uint64_t>(count) * df->recordLength;
  if (const int32_t rc = file4lenSetLow(&df->file, end + 1); rc < 0) return rc;
  const char endByte = static_cast<char>(dbf4endOfFile);
  return file4write(&df->file, end, &endByte, 1);
}

int32_t data4zapData(DATA4* d, int32_t first, int32_t last) {
  if (structure4check(d, structure4data, kLocZapData) < 0) return e4parm;
  if (const int32_t rc = data4lockFile(d, 1, 1); rc != 0) return rc;
  if (const int32_t rc = data4update(d); rc < 0) return rc;
  if (const int32_t rc = data4logZap(d, static_cast<uint32_t>(first), static_cast<uint32_t>(last));
      rc < 0)
    return rc;
  const int32_t rc = datafile4zapData(d->dataFile, first, last);
  d->recNum = d->recNumOld = -1;
  data4blank(d);
  d->recordChanged = 0;
  return rc;
}

int32_t data4zap(DATA4* d, int32_t first, int32_t last) {
  if (last < first) return 0;
  if (d == nullptr) return error4(nullptr, e4parmNull, kLocZap);
  if (structure4check(d, structure4data, kLocZap) < 0) return e4parm;
  CODE4* c = d->codeBase;
  if (first < 1 || last < 1) return error4(c, e4parm, kLocZap);
  if (error4code(c) < 0) return -1;
  if (d->readOnly) return error4describe(c, e4write, kLocReadOnly, d->alias, nullptr, nullptr);
  if (const int32_t rc = data4lockAll(d, 1); rc != 0) return rc;
  if (const int32_t rc = refuseWhileLogged(d); rc < 0) return rc;
  const int32_t moved = data4zapData(d, first, last);
  const int32_t remaining = data4recCount(d);
  d->bofFlag = d->eofFlag = remaining > 0 ? 0 : 1;
  // The indexes are rebuilt even after a failed move: whatever records the
  // file now holds, the tags must list exactly them.
  const int32_t rebuilt = data4reindexAll(d);
  if (rebuilt != 0) datafile4indexesStale(d->dataFile);
  const int32_t header = datafile4updateHeader(d->dataFile, 1, 1, 0);
  if (moved < 0) return moved;
  if (rebuilt != 0) return rebuilt;
  return header;
}
