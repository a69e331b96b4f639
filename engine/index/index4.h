// INDEX4: an index file as one data handle sees it, and the life of index
// files: creation from tag definitions, opening (the production index opens
// with its table), sharing between the handles of a table, writing what
// changed, closing, and rebuilding every tag from the table's records.
//
// A table's open index files are INDEX4FILE objects on its DATA4FILE's
// list, found again by their full name: every handle of the table that
// opens a file gets its own INDEX4, with one TAG4 per tag, on the one shared
// INDEX4FILE and its TAG4FILEs. The file closes when its last INDEX4 goes,
// except the production index (named as the table, ".cdx"), which stays open
// while its table does.
//
// A production index is named after the data file with the settings
// object's index extension; the DBF header's flag byte (offset 28, bit 0)
// says that the table has one, and data4open then opens it.
//
// Results: null or a negative code with the error raised and its location;
// everything returns at once (null, -1) while the settings object holds a
// negative error code.
//
// Thread rule: used from the thread that owns the table. The progress of a
// rebuild may be read from any thread (index4reindexProgress).
#pragma once

#include <cstdint>

#include "engine/storage/list4.h"

struct CODE4;
struct DATA4;
struct DATA4FILE;
struct INDEX4FILE;
struct TAG4;
struct TAG4INFO;

inline constexpr int index4nameLength = 250;

struct INDEX4 {
  LINK4 link;  // in the data handle's list of indexes
  LIST4 tags;  // TAG4 (TAG4::link), in the order of the file's tags
  DATA4* data = nullptr;
  CODE4* codeBase = nullptr;
  INDEX4FILE* indexFile = nullptr;
  bool isValid = false;  // complete: opened or created in full
  int32_t validityMarker = 0;
  // The name given at open or creation, else the handle's alias.
  char accessName[index4nameLength + 1] = {};
};

// Creates an index file from tag definitions (a list ended by a null name)
// and builds every tag from the table's records. A null name makes the
// production index, which needs the table opened exclusively (or a table
// of compatibility 30) and sets the DBF header's production flag. The file
// joins the table only once it is complete: a failed creation deletes it.
// The new INDEX4, or null.
//
// Refusals: -935 (90381) null arguments; -65 (80044) a production index of
// a shared table; -1420 (80089) a file of that name open on the table; -50
// (80201) the table cannot be locked; -350 a tag definition that is not
// sound (80193 unique value, 80194 descending value, 80195 no key, 80196
// expressions too long); -20 (80021) a filter that is not logical; -310
// (90198) a key too long for two entries a branch; 60 quietly when the
// file exists and the safety setting is on. A build that meets a duplicate
// key in a unique tag, or a duplicate tag name, leaves the code 20.
//
// Tag definitions: name up to 10 characters (upper-cased, trailing blanks
// removed); unique 0, 15, 20, 25, -340 or -360; descending 0 or 10. The
// index keeps each tag's unique value as its mode while it stays open.
INDEX4* index4create(DATA4* d, const char* name, const TAG4INFO* tags);
// The table's production index made anew in a memory file, for this process
// alone: for a table whose index file is damaged and cannot be made anew on
// the disk (the table only read, or no room). Nothing is written to the
// disk; the table's header keeps the production flag it has. Results as
// index4create.
INDEX4* index4createInMemory(DATA4* d, const TAG4INFO* tags);

// Opens an index file for a data handle: the given name (the index
// extension added when it has none) or, for null, the production index. A
// file the table has open already is shared (-69 at 90166 when this handle
// uses it already). index4openChecked checks the handle first (-935 at
// 90165). Every header read is checked: -310 naming the file and the
// place. A tag that cannot be set up fails the open, except in a file
// opened for reading only, where it stays listed but every use of it gives
// -310.
INDEX4* index4open(DATA4* d, const char* name);
INDEX4* index4openChecked(DATA4* d, const char* name);
// The shared file of index4open; `index` is the INDEX4 that will use it.
INDEX4FILE* indexfile4open(DATA4* d, const char* name, INDEX4* index);

// The open index file of a data file whose full name, made from `name` as
// index4open makes it, is the same (letter case aside); null when none.
INDEX4FILE* datafile4index(DATA4FILE* file, const char* name);

// Closes an INDEX4: the handle's pending record is written first, its TAG4s
// are given back (the handle's selected tag is cleared when it was one of
// them), the file is unlocked for this handle and loses a user. -1200
// (80075) during a transaction. 0 or the first error met.
int32_t index4close(INDEX4* index);
// index4close without the transaction check, for the indexes of a handle
// that is being closed: its close has decided already.
int32_t index4closeLow(INDEX4* index);
// One user less; the last one writes what changed, unlocks, releases the
// tags and closes the file (deleting it when it was marked for removal).
// The production index of a table that stays open keeps its file open.
int32_t indexfile4close(INDEX4FILE* file);
// Writes what changed while the file is locked (index4updateHeader), then
// has the file layer flush it: 0 or negative.
int32_t index4update(INDEX4FILE* file);

// 1 when `file` is its table's production index: the table's header has the
// production flag and the file is named as the data file with the index
// extension. 0 otherwise.
int index4isProduction(INDEX4FILE* file);

// Rebuilds every tag of the index file from the table's records: the table,
// its memo file and all its index files are locked, the tag of tags is
// rebuilt first, then each tag's keys are read, filtered, sorted and written
// bottom-up. The new file is built beside the old one and put in its place
// when complete, so a failed rebuild leaves the index as it was. 0, 20 (a
// unique tag met a duplicate), 50 (locks not obtained) or a negative error;
// -935 (90197) for a null INDEX4. On success the handle has no current
// record and a blank record buffer.
int32_t index4reindex(INDEX4* index);
// As index4reindex, into a memory file that takes the index's place for
// this process while the file on the disk stays as it is (still marked,
// for an open that can rebuild it there): for an index that must not be
// trusted and cannot be rebuilt where it lies (a table only read, shared,
// or on a disk without room). Nothing is locked when the table is only
// read. 0 or as index4reindex.
int32_t index4reindexInMemory(INDEX4* index);

// The part of the running rebuild done, from 0 to 1; -1 when none runs.
double index4reindexProgress(const CODE4* c);
