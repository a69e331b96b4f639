// DATA4, an open table handle, and DATA4FILE, the data file that every
// handle of one DBF file shares.
//
// A DATA4FILE is reference counted by its handles and found again by the
// file's identity (its canonical path), so two handles on one file share
// header values, locks and buffers while two distinct files never do.
// Both live in pools of the settings object; their C++ members are built
// in place when a unit is taken and destroyed before it is given back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/dbf4header.h"
#include "engine/storage/field4.h"
#include "engine/storage/file4.h"
#include "engine/storage/list4.h"
#include "engine/storage/memo4file.h"

struct CODE4;
struct TRAN4;

struct DATA4FILE {
  LINK4 link;                   // in the settings object's list of data files
  uint32_t recordLength = 0;    // from the descriptors
  uint32_t infoLength = 0;      // header length - 32
  uint16_t nFields = 0;         // the null-flags field included
  uint16_t nFieldsMemo = 0;
  uint32_t storedCount = 0;     // the count as last taken from the header
  // The count this process last read from the disk's header or wrote
  // there; kept for an exclusive writer only.
  uint32_t diskCount = 0;
  int32_t openCount = 0;        // handles using this file
  CODE4* codeBase = nullptr;
  std::vector<unsigned char> info;          // header bytes 32 .. header length
  std::vector<Dbf4Descriptor> descriptors;  // decoded and checked at open
  Dbf4Header header;            // the header image
  int64_t liveCount = -1;       // -1 unknown
  bool headerDateWritten = false;
  FILE4 file;
  bool headerChanged = false;
  MEMO4FILE memoFile;
  bool memoOpen = false;
  bool memoKeptLocked = false;  // the memo header lock is held across an update
  bool openedByData4Open = false;
  // Lock holders: handle id and user id of the whole-file and append locks.
  int32_t fileLockServer = 0;
  int32_t fileLockUser = 0;
  int32_t appendLockServer = 0;
  int32_t appendLockUser = 0;
  int32_t lastHolderServer = 0;
  int32_t lastHolderUser = 0;
  int32_t osRecordLocks = 0;
  int32_t processRecordLocks = 0;
  LIST4 handles;                // DATA4 by their fileLink
  int16_t compatibility = 25;
  int32_t codePage = 0;
  bool productionIndexOpen = false;
  LIST4 indexes;
  int32_t indexCount = 0;
  bool autoIncrement = false;
  // Where a 0x31 file keeps its counter (dbf4header.h): -1 in the header,
  // which carries the marker; else the index of the autoincrement field's
  // descriptor.
  int32_t autoIncrementDescriptor = -1;
  std::string identity;         // canonical path of the data file
  // The count was taken from the file's length after an unclean end: the
  // production index must be rebuilt once before it is trusted.
  bool rebuildIndex = false;
  // An index the open had to rebuild could not be (the disk refused its
  // writes): it was given up as it stands, still marked, for a later open
  // to rebuild. Building another in its place would meet the same refusal.
  bool indexRebuildFailed = false;
  // An index that had to be rebuilt could not be where it lies (the table
  // only read or shared, or the disk refused): it was rebuilt in memory for
  // this process, the file on the disk left marked as it was.
  bool indexInMemory = false;
  // An index left unfinished (its change mark set, or records taken in
  // beyond the count) was rebuilt where it lies by the open; the writer
  // that left it so had found the disk without room.
  bool indexFinished = false;
  bool indexLeftWithoutRoom = false;
  // Records after a damaged one, which the open found with the settings
  // object's tailCutDeferred set: the table counts those before it, and the
  // file keeps the rest, the evidence of the damage, until data4tailCut
  // (or the table's first write) ends the file after `tailKept` records.
  bool tailCutPending = false;
  uint64_t tailKept = 0;
};

struct DATA4 {
  LINK4 link;      // in the settings object's list of open handles
  LINK4 fileLink;  // in the data file's list of handles
  int32_t bofFlag = 0;
  int32_t eofFlag = 0;
  int32_t readOnly = 0;
  int32_t recordChanged = 0;
  uint32_t count = 0;        // cached record count
  int32_t recNum = -1;       // current record; -1 none, 0 while appending
  int32_t recNumOld = -1;    // record held by recordOld; -1 none
  char alias[33] = {};
  CODE4* codeBase = nullptr;
  TRAN4* trans = nullptr;
  std::vector<FIELD4> fields;
  LIST4 indexes;
  void* tagSelected = nullptr;  // null: record order
  DATA4FILE* dataFile = nullptr;
  std::vector<char> buffers;    // record, old record and blank record
  char* record = nullptr;       // recordLength + 1 bytes each, NUL at the end
  char* recordOld = nullptr;
  char* recordBlank = nullptr;
  std::vector<MEMO4FIELD> memoFields;
  int8_t recordState = 0;
  int32_t logMode = 3;          // 3: no logging
  int32_t validityMarker = 0;
  int32_t id = 0;
  LIST4 locks;
  FIELD4* nullFlags = nullptr;
  FIELD4* autoIncrementField = nullptr;
  bool openLogged = false;
  bool logInTransaction = false;  // an entry of the open transaction names it
  bool memoPrepared = false;  // data4updateMemo ran for the current record
};

// True when `d` is a valid handle; otherwise the failure (-935 for null,
// -930 for a handle without its marker) is raised at `location`.
bool data4check(const DATA4* d, int32_t location);

// The handle of a link in a data file's handle list.
DATA4* data4ofFileLink(LINK4* link);

DATA4* data4open(CODE4* c, const char* name);
DATA4FILE* datafile4open(CODE4* c, DATA4* d, const char* name);
int32_t data4close(DATA4* d);
// Finishes the close of a handle that was closed during a transaction and
// kept for its commit or rollback.
int32_t data4closeKept(DATA4* d);
int32_t datafile4release(DATA4FILE* file);
int32_t datafile4close(DATA4FILE* file);
int32_t code4close(CODE4* c);

// Takes a data file off the settings object's list, closes its files and
// returns it to its pool, whatever state it is in.
void datafile4free(DATA4FILE* file);

DATA4FILE* datafile4find(CODE4* c, const char* name);
DATA4* code4data(CODE4* c, const char* aliasOrName, const char* unused, int secondPass);
DATA4* code4dataFindId(CODE4* c, int32_t id, int32_t secondId);

const char* data4alias(DATA4* d);
void data4aliasFix(DATA4* d);
FIELD4* data4field(DATA4* d, const char* name);
FIELD4* data4fieldJ(DATA4* d, int32_t number);
int32_t data4numFields(DATA4* d);
char* data4record(DATA4* d);
const char* datafile4name(const DATA4FILE* file);
// Releases the index nodes that the tags of every open handle keep in
// memory, writing the changed ones first; each tag reads from its root
// again on its next walk, and a handle's next skip finds its place again
// by its record's key. 0; -930 (90213) for a settings object that is not
// valid, -930 (90250) for a handle that is not; or the error of a node the
// file refused, which keeps that tag's nodes and those of the tags after
// it.
int32_t code4freeBlocks(CODE4* c);

// The full name of a table: `name` with the extension "dbf" when it has
// none. -930 when it does not fit.
int32_t data4fullName(char* buffer, int32_t size, const char* name);
