// Removing a range of records physically: later records move down over the
// gap, the file is cut, and the indexes are rebuilt.
#pragma once

#include <cstdint>

struct DATA4;
struct DATA4FILE;

// Removes records first..last (both from 1): 0, or the failure. last < first
// removes nothing.
int32_t data4zap(DATA4* d, int32_t first, int32_t last);
int32_t data4zapData(DATA4* d, int32_t first, int32_t last);
int32_t datafile4zapData(DATA4FILE* file, int32_t first, int32_t last);
