// Appending records to a table.
#pragma once

#include <cstdint>

struct DATA4;

// Readies the handle to append: the changed current record is written and
// the record number becomes 0. The buffer keeps its values (blank it for an
// empty record); memo values are carried when `carryMemos` is 1.
int32_t data4appendStart(DATA4* d, int16_t carryMemos);

// Appends the record buffer as a new last record with its keys and memo
// values: 0, 20 when a unique tag refused it (nothing written), or an error.
int32_t data4append(DATA4* d);

// Takes back the last appended record.
int32_t data4appendUndo(DATA4* d);
