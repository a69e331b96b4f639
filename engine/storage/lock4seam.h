// What field writes ask of record locking.
//
// With locking enforced (CODE4 lockEnforce), a field write on the current
// record of a handle (record number 1 or more) goes ahead only while the
// handle holds that record's lock; otherwise it is refused with -50.
#pragma once

#include <cstdint>

struct DATA4;

// 1 when `d` holds the lock of `record` (a record lock of either kind, its
// whole-file lock, or the file opened exclusively, where every lock test
// answers 1); anything else means not held. It never raises and never
// waits: it answers as data4lockTest (d, record, 2) == 1 would.
int data4lockTestRecordHeld(DATA4* d, int32_t record);
