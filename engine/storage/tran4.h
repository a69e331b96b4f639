// The settings object's transaction block: the shared transaction log,
// the entries written to it, and transactions that commit in two phases or
// roll back by undoing the record updates and appends they logged.
//
// The log is opened, never created, whenever a table is opened or created
// with the auto-open-log setting on: without a valid log file in the
// current folder the engine works without logging, quietly.
//
// Transaction states (CODE4::transactionState): 110 inactive -> 120 active
// (start) -> 115 phase one done -> 110 (phase two); 120 -> 130 rolling back
// -> 110. -2 is set around internal opens and closes so that nothing is
// logged. The log's status is 10 when idle and 20 while a commit or a
// rollback runs. The append lock is held from start to the end of phase two
// or of the rollback, so another user's transaction waits at its start.
#pragma once

#include <cstdint>

#include "engine/storage/list4.h"
#include "engine/storage/log4file.h"

struct CODE4;
struct CODE4TRANS;
struct DATA4;

// One client's view of the log: its user id, its open data handles and the
// entry being gathered.
struct TRAN4 {
  CODE4TRANS* c4trans = nullptr;  // the block this view belongs to
  LIST4* dataList = nullptr;      // the open data handles (localDataList)
  LIST4 localDataList;
  char userId[11] = {};
  int32_t userIdLen = 0;
  char netId[11] = {};          // always empty: no network ids here
  int32_t transactionId = 0;    // the current transaction; 0 none
  int16_t autoUnlock = 1;       // release every lock at commit
  int16_t savedAutoUnlock = 1;  // autoUnlock outside the transaction
  Log4Header pending;           // header of the entry being gathered
  uint32_t pendingLength = 0;   // its payload bytes, in the entry buffer
  Log4Scan scan;                // reading position in the log
};

struct CODE4TRANS {
  CODE4* c4 = nullptr;
  int32_t enabled = 0;  // logging is on: the log is open
  LOG4FILE log;
  TRAN4 trans;
};

// The log file used when none is named, and the user id used when none is given.
inline constexpr const char* log4defaultName = "C4.log";
inline constexpr const char* log4defaultUser = "PUBLIC";

int32_t code4transactionInit(CODE4* c);
// Puts the block back to its state before initialisation (the log closed).
void code4transactionReset(CODE4* c);

// Opens the log ("C4.log" when `fileName` is null or empty) and takes a
// user slot under `userId` ("PUBLIC" when none): 0 when it is open or
// there is none, 170 when already open, negative when it is unusable.
int32_t code4logOpen(CODE4* c, const char* fileName, const char* userId);
void code4logClose(CODE4* c);
int32_t log4open(CODE4TRANS* block, const char* name, int create);
int32_t log4userEntry(TRAN4* trans, const char* userId, int32_t length);
int32_t log4close(CODE4TRANS* block);

// True when entries are written now: logging on, no error pending, and
// neither rolling back nor closing.
bool tran4logging(const CODE4* c);
// True while logging is on and a transaction is open (active only, with
// `activeOnly`; phase one done counts otherwise).
bool code4transactionActive(const CODE4* c, int activeOnly);

// Writing an entry: stamp the time, set the header, gather the payload,
// write. A data id names the handle concerned (0 none); the handle is then
// marked as taking part in the transaction.
void code4timeStamp(CODE4* c);
int32_t log4entrySet(TRAN4* trans, int32_t transactionId, uint16_t type, uint32_t dataId,
                     uint32_t dataId2);
int32_t log4entryAppend(TRAN4* trans, const void* bytes, uint32_t n);
int32_t log4entryWrite(TRAN4* trans, int flush);

// The handle with log id `id`: open, or closed during the transaction.
DATA4* tran4dataFind(CODE4* c, uint32_t id);
// The id of the next transaction of this user; 0 or an error.
int32_t tran4nextId(TRAN4* trans, int32_t* id);

int32_t code4transactionStart(CODE4* c);
int32_t code4transactionCommit(CODE4* c);
int32_t code4transactionCommitPhaseOne(CODE4* c, int keepLocks);
int32_t code4transactionCommitPhaseTwo(CODE4* c, int releaseLocks);
int32_t code4transactionRollback(CODE4* c);

// The steps behind the public calls, without their argument checks and
// with the unlock flag of start; rollback's `full` leaves every open
// handle without a current record when it ends.
int32_t tran4start(TRAN4* trans, int unlockFirst);
int32_t tran4commitPhaseOne(TRAN4* trans, int keepLocks);
int32_t tran4commitPhaseTwo(TRAN4* trans, int releaseLocks);
int32_t tran4rollbackLow(TRAN4* trans, bool full);

// Really closes the handles that were closed during the transaction.
void tran4closeKept(CODE4* c);
