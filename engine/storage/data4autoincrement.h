// The autoincrement counter of a 0x31 table, in either of its layouts
// (dbf4header.h): this engine's, in header bytes 12-27 for a B field, or
// another writer's, in the I field's descriptor with its step. An append
// fills the field from the counter and then advances it; the counter
// reaches the file with the header (datafile4updateHeader).
#pragma once

#include <cstdint>

struct DATA4;
struct DATA4FILE;

// Puts the counter's value into the autoincrement field of the record
// buffer; nothing when the table has no such field.
void data4autoIncrementAssign(DATA4* d);

// Advances the counter after an append: by 1.0 in the header, by the step
// in a descriptor. The header's counter advances even without a field, as
// it always has; a descriptor's exists only with its field.
void datafile4autoIncrementAdvance(DATA4FILE* df);

// Reads the counter again from the file, where other processes appending
// under the append lock may have advanced it.
void datafile4autoIncrementReload(DATA4FILE* df);

// Writes a descriptor's counter: 0 or -1. A header counter is written with
// the header bytes, so nothing is written for it here.
int32_t datafile4autoIncrementWrite(DATA4FILE* df);
