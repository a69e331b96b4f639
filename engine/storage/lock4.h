// Record, append and whole-file locks on tables.
//
// Between processes the locks are byte ranges of the DBF file beyond any
// data (see lock4offsets.h). Inside one process each data file records
// which handle holds which lock, so that handles see each other's locks
// without asking the system, and a handle asking for a lock another handle
// of this process holds is answered at once (50, or -50 when it would wait
// for ever). A file opened exclusively needs no locks: every request
// succeeds at once and records nothing, and every test answers 1.
//
// Results: 0 taken (or already held), 50 held elsewhere, negative errors.
// Tests: 1 held by this handle, 50 held by another handle, 0 not held.
#pragma once

#include <cstdint>

#include "engine/storage/list4.h"

struct CODE4;
struct DATA4;
struct DATA4FILE;

// Kinds of record lock.
enum : int32_t {
  lock4inProcess = 0,  // counted by this process only
  lock4system = 1,     // a byte-range lock of the file
  lock4either = 2,     // for tests: any kind
};

// One record lock of a handle, a unit of the settings object's lock pool.
struct LOCK4LINK {
  LINK4 link;
  DATA4* data = nullptr;
  int32_t recNo = 0;
  int32_t kind = lock4system;
};

int32_t data4lock(DATA4* d, int32_t record, int releaseFirst, int32_t kind);
int32_t data4lockAll(DATA4* d, int releaseFirst);
int32_t data4lockAppend(DATA4* d, int releaseFirst);
int32_t data4lockFile(DATA4* d, int releaseFirst, int32_t kind);
int32_t data4lockTest(DATA4* d, int32_t record, int32_t kind);
int32_t data4lockTestAppend(DATA4* d);
// True when this handle may change record n: it holds its lock or the file.
bool data4lockTestRecordHeld(DATA4* d, int32_t record);

int32_t data4unlock(DATA4* d);
int32_t data4unlockAppend(DATA4* d, int32_t user);
int32_t data4unlockData(DATA4* d, int32_t user);
int32_t data4unlockFile(DATA4* d, int32_t user);
int32_t data4unlockRecord(DATA4* d, int32_t record);
int32_t data4unlockRecords(DATA4* d);
int32_t code4unlock(CODE4* c);

int32_t datafile4lockIndex(DATA4FILE* file, int32_t handleId);
// 1 when every index file of the data file is locked, else 0.
int32_t datafile4lockTestIndex(DATA4FILE* file);

// Notes in the settings object which lock could not be taken (-1 the file,
// 0 the append lock, n record n) and, when `findHolder` is set, who holds
// it: the holder's alias and its user and network ids.
void code4lockInfoSet(DATA4FILE* file, int32_t which, int findHolder);
int32_t datafile4unlockIndex(DATA4FILE* file, int32_t handleId);
