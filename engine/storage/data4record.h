// The record buffer of a handle: blanking, writing a changed record back,
// and the data file's header.
#pragma once

#include <cstdint>

struct DATA4;
struct DATA4FILE;

int32_t data4blank(DATA4* d);

// Writes a changed current record, then the header when it changed.
int32_t data4update(DATA4* d);

// Writes from the header image: the date (bytes 1-3) when `withDate`, the
// count and lengths (bytes 4-11) when `withCount` and the count is known,
// and the autoincrement bytes (12-27) when `withAutoIncrement` on a file
// that has an autoincrement field. 0 or -1.
int32_t datafile4updateHeader(DATA4FILE* file, int withDate, int withCount, int withAutoIncrement);

// Writes record `number` from `bytes` and marks the header changed.
int32_t datafile4writeData(DATA4FILE* file, int32_t number, const char* bytes);
