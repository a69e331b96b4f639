// The settings object's transaction block and the calls that open and
// close the transaction log.
//
// The log is opened, never created: without a valid log file the engine
// works without logging, quietly.
#pragma once

#include <cstdint>

#include "engine/storage/list4.h"

struct CODE4;
struct CODE4TRANS;

// One client's view of the log: its user id and its open data handles.
struct TRAN4 {
  CODE4TRANS* c4trans = nullptr;  // the block this view belongs to
  LIST4* dataList = nullptr;      // the open data handles (localDataList)
  LIST4 localDataList;
  char userId[11] = {};
  int32_t userIdLen = 0;
  int32_t transactionId = 0;
};

struct CODE4TRANS {
  CODE4* c4 = nullptr;
  int32_t enabled = 0;   // logging is on
  int32_t logOpen = 0;   // the log file is open
  TRAN4 trans;
};

// The log file used when none is named, and the user id used when none is given.
inline constexpr const char* log4defaultName = "C4.log";
inline constexpr const char* log4defaultUser = "PUBLIC";

int32_t code4transactionInit(CODE4* c);
int32_t code4logOpen(CODE4* c, const char* fileName, const char* userId);
void code4logClose(CODE4* c);
int32_t log4close(TRAN4* trans, int32_t clientId);
