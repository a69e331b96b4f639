// DATA4SCAN: a pass over a table in record order that reads many records
// per file read, for passes that only read (a search over every record).
//
// Each record becomes the handle's current record as data4go makes it, so
// the field functions, data4deleted and data4recNo apply to it; what
// differs is when its bytes were read (with the records after it, in one
// read of up to `perRead` records), and that the old image of a locked
// record is not read with it: every user of that image reads it afresh. A caller that lets other
// code change the table between two records (an event loop) calls data4scanForget first, and the
// next record is read afresh.
//
// The handle walks in record order whatever tag it has selected. While the
// settings lock records on read, or the handle holds a changed record, the
// pass goes through data4go record by record.
#pragma once

#include <cstdint>
#include <vector>

struct DATA4;

struct DATA4SCAN {
  DATA4* data = nullptr;
  int32_t perRead = 1;
  int32_t first = 0;  // record number of block's first record; 0: none
  int32_t held = 0;   // whole records in block
  std::vector<char> block;
};

// Goes to record 1: 0, 3 for an empty table (as data4goEof), or negative.
int32_t data4scanTop(DATA4SCAN* scan, DATA4* d, int32_t perRead);
// Goes to the record after the current one: 0, 3 past the last record (as
// data4goEof), or negative (-910 without a current record).
int32_t data4scanSkip(DATA4SCAN* scan);
// Drops the records read ahead.
void data4scanForget(DATA4SCAN* scan);
