// Moving a handle through its table: go, top, bottom, skip and end of file.
// Every move first writes a changed current record.
#pragma once

#include <cstdint>

struct DATA4;

// Goes to record n: 0, or 5 with the buffer blank and no current record
// when the table holds no record n.
int32_t data4go(DATA4* d, int32_t record);
int32_t data4goEof(DATA4* d);
int32_t data4top(DATA4* d);
int32_t data4bottom(DATA4* d);
int32_t data4skip(DATA4* d, int32_t n);
int32_t data4bof(DATA4* d);
int32_t data4eof(DATA4* d);
