// The record buffer of a handle: blanking, deleting, reading a record,
// writing a changed record back with its keys and memo values, the record
// count, the data file's header, and flushing.
#pragma once

#include <cstdint>

struct CODE4;
struct DATA4;
struct DATA4FILE;

int32_t data4blank(DATA4* d);
int32_t data4delete(DATA4* d);
int32_t data4recall(DATA4* d);
int32_t data4deleted(DATA4* d);
// flag > 0 sets the changed flag, 0 clears it, negative only reads it.
int32_t data4changed(DATA4* d, int16_t flag);
int32_t data4recNo(DATA4* d);
int32_t data4recCount(DATA4* d);

// Reads record n into `buffer`: 0, or 5 when the file holds no such record
// (the buffer is then blanks).
int32_t data4readRecord(DATA4* d, int32_t record, char* buffer);
// Reads record n into the old-record buffer unless it holds it already.
int32_t data4readOld(DATA4* d, int32_t record);
// Reads stored record n, which must exist, into the old-record buffer
// afresh (another handle may have rewritten it): 0, or -70 raised when it
// cannot be read.
int32_t data4readStored(DATA4* d, int32_t record);

int32_t data4writeLow(DATA4* d, int32_t record, int unlock, int lock);
int32_t data4updateRecord(DATA4* d, int unlock, int lock);
// Writes a changed current record, then the header when it changed.
int32_t data4update(DATA4* d);
// Writes everything of the table (record, header, memo, indexes) and
// syncs the data and memo files: once it returns 0, a power cut loses none
// of the records, and an index it could leave behind them is marked for
// rebuilding (its change mark is on the disk until the close).
int32_t data4flush(DATA4* d);
// data4flush of every open table: 0 or the last failure.
int32_t code4flush(CODE4* c);
// data4flush, then every index of the table that carries its change mark
// is synced and the mark cleared, the clearing synced too: the trees on
// the disk agree with the records, and a death from now on, a power cut
// included, costs the next open no rebuild. For the end of a change, when
// the program goes idle. 0 or the first failure.
int32_t data4settle(DATA4* d);

// Writes from the header image: the date (bytes 1-3) when `withDate`, the
// count and lengths (bytes 4-11) when `withCount` and the count is known,
// and the autoincrement counter when `withAutoIncrement` on a file that has
// one (header bytes 12-27, or its descriptor's next value). 0 or -1.
int32_t datafile4updateHeader(DATA4FILE* file, int withDate, int withCount, int withAutoIncrement);

// Writes record `number` from `bytes` and marks the header changed.
int32_t datafile4writeData(DATA4FILE* file, int32_t number, const char* bytes);

// The record count: the live count once known (read from the header
// otherwise), for the holder of the file or append lock.
int64_t datafile4recCount(DATA4FILE* file, bool authoritative);
