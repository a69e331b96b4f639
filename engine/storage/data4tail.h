// The end of a data file: the records a process wrote beyond the header's
// count before it died, and bytes that were never a record.
//
// An exclusive file's count reaches the header only at a flush or a close,
// and its records reach the disk in offset order, the header last. So after
// an unclean end the disk holds the header's records, then the records
// written since, whole, up to the first one a death or a full disk cut
// short; after that, nothing a record was ever made of (NUL bytes never
// written, part of one record).
//
// A whole record is recognised without trusting the count: its delete flag
// is ' ' or '*', and no field that holds only text (numbers, dates,
// logicals and, outside version 0x30, memo block numbers) holds a NUL byte.
//
// Thread rule: the engine's calling thread, as every open.
#pragma once

#include <cstdint>

struct DATA4;
struct DATA4FILE;

// Where a tail that was no record, found and cut at open, is reported
// (e4data naming the data file): once, for the open that cut it.
inline constexpr int32_t data4locTailCut = 80160;
// Where an open reports whole records it cut because a damaged one came
// before them: the disk lost records in the middle of those written last.
inline constexpr int32_t data4locRecordsLost = 80162;
// Where an open reports a header that counted records the file does not
// hold, taken back to those it holds.
inline constexpr int32_t data4locCountTakenBack = 80163;

// Brings the end of a data file whose header was just read in line with its
// count, before its index is opened: an exclusive writer adopts the whole
// records beyond the count (the production index is then rebuilt), cuts
// what follows them when it is no record (reported at data4locTailCut, and
// at data4locRecordsLost when whole records came after a damaged one), and
// ends the file right after its last record with the end-of-file mark
// where the file's level keeps one. A count beyond the records the file
// holds is taken back to them (data4locCountTakenBack; the index is then
// rebuilt). A file whose length matches its count, with or without the
// mark, is never touched; neither is one open shared or read-only, which is
// read as its header counts it, or as far as it holds records. 0, or
// negative when the header is refused (a file shorter than its header;
// raised). Every report is captured by the caller's hook and cleared.
int32_t datafile4settleTail(DATA4FILE* df);

// Ends the file of a table whose open deferred the cut of records after a
// damaged one (CODE4::tailCutDeferred): nothing when none is pending. A
// record write and a flush do it first; until then the header is not
// written (a close writes nothing of it). 0, or -1 when the disk refused
// (raised; the cut stays pending).
int32_t data4tailCut(DATA4* d);
int32_t datafile4tailCut(DATA4FILE* df);

// How many records of the table the disk holds whole now, as an open after
// a death at this moment would find them: the header's count on the disk,
// and beyond it the whole records up to the first that is not. Writes the
// engine still holds (the block cache's) are not counted. -1 when the disk
// cannot be read (raised).
int64_t data4recordsOnDisk(DATA4* d);
