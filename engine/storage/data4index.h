// The production index of a table, as opening and creating a table see it.
#pragma once

#include <cstdint>

struct DATA4;
struct DATA4FILE;
struct TAG4INFO;

// Opens the production index when the header says the table has one and
// the settings object opens indexes with their tables: 0, or -1 when it is
// missing or cannot be used.
int32_t data4openProductionIndex(DATA4* d);

// Creates the production index of a new table from its tag list: 0 or a
// negative code.
int32_t data4createProductionIndex(DATA4* d, const TAG4INFO* tags);

// Locks every index file of a data file in list order: 0, 50 when one is
// locked elsewhere (those taken stay locked), or a negative code.
int32_t indexfile4lockAll(DATA4FILE* file);
// Unlocks every index file of a data file: 0 or -1.
int32_t indexfile4unlockAll(DATA4FILE* file);

// Closes the indexes of a handle.
int32_t data4closeIndexes(DATA4* d);
