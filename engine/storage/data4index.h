// The index files of a table as the record layer reaches them: opening and
// creating the production index, locking, flushing, rebuilding and closing
// (engine/index/index4.h does the work), and the key maintenance of record
// writes and appends (data4keys.cpp).
#pragma once

#include <cstdint>

struct DATA4;
struct DATA4FILE;
struct TAG4INFO;

// Opens the production index when the header says the table has one and
// the settings object opens indexes with their tables: 0, or -1 when it is
// missing or cannot be used. A table whose count was corrected after an
// unclean end (DATA4FILE::rebuildIndex) has the index rebuilt by the open.
int32_t data4openProductionIndex(DATA4* d);

// Sets the change mark of every index file of a data file (those held
// exclusively), on the disk before any change that follows: 0 or the
// first error.
int32_t datafile4indexesMark(DATA4FILE* file);
// Syncs every index file of a data file that carries its change mark, and
// the table's records, then clears the mark: 0 or the first error.
int32_t datafile4indexesSettle(DATA4FILE* file);
// Keeps the change mark of every index file of a data file set until the
// file is rebuilt: its tags may name records that changed or are gone.
void datafile4indexesStale(DATA4FILE* file);
// Whether an index file of a data file is unfinished: its trees may not
// agree with the records (a change to them failed halfway, or an open
// found the change mark set) until it is rebuilt.
bool datafile4indexesUnfinished(DATA4FILE* file);
// Hands the disk what the block cache holds of every index file of a data
// file (file4writeHeld): 0 or the first error.
int32_t datafile4indexesWriteHeld(DATA4FILE* file);

// Creates the production index of a new table from its tag list: 0 or a
// negative code.
int32_t data4createProductionIndex(DATA4* d, const TAG4INFO* tags);

// Locks every index file of a data file in list order for the handle of id
// `owner`: 0, 50 when one is locked elsewhere (those taken stay locked), or
// a negative code.
int32_t indexfile4lockAll(DATA4FILE* file, int32_t owner);
// Unlocks every index file of a data file: 0 or -1.
int32_t indexfile4unlockAll(DATA4FILE* file);
// True when every index file of a data file is locked.
bool indexfile4lockedAll(DATA4FILE* file);

// Key maintenance for a record write: every tag of the handle gets the
// record's new key in place of its old one. 0, 20 (refused quietly) or a
// negative code; on a refusal every tag is as before.
int32_t data4writeKeys(DATA4* d, int32_t record);
// Puts every tag back after the record itself could not be written.
int32_t data4unwriteKeys(DATA4* d, int32_t record);
// Adds an appended record's keys to every tag: 0, 20 or a negative code,
// with nothing added on a refusal.
int32_t data4appendKeys(DATA4* d, int32_t record);
// Removes an appended record's keys from every tag.
int32_t data4removeKeys(DATA4* d, int32_t record);
// Ends the key removals a transaction kept pending on the handle's unique
// tags: carried out (`remove`, at commit) or dropped (at rollback).
int32_t data4pendingSettle(DATA4* d, bool remove);
// Writes the headers of the handle's index files.
int32_t data4updateIndexes(DATA4* d);

// Rebuilds every index of the handle from its records, in order, until one
// fails: 0 or that result. B fields are read for the duration.
int32_t data4reindexAll(DATA4* d);

// Gives the handle's tags the unique values of a table's tag list, walked
// in order: a named entry names its tag, an unnamed one takes the tag
// after the previous one. 0, or -1420 (80050) for a tag not found.
int32_t data4tagsUniqueSet(DATA4* d, const TAG4INFO* tags);

// Closes the indexes of a handle. A production index the table's other
// handles may still want stays open with the table.
int32_t data4closeIndexes(DATA4* d);
// Hands the disk what the block cache holds of the table's data and memo
// files (file4writeHeld): 0 or -1.
int32_t datafile4writeHeld(DATA4FILE* file);
// Writes and syncs the table's memo file, then its data file (file4flush):
// 0 or -1.
int32_t datafile4flushHeld(DATA4FILE* file);
// Closes every index file still open on a data file, at its last close.
int32_t datafile4closeIndexFiles(DATA4FILE* file);
