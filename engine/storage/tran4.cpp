#include "engine/storage/tran4.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocLogOpen = 90283;

// Opens the named log when a valid one exists: 0 when it is open or absent
// (logging stays off), negative when it is present but unusable. This
// engine reads no log files, so every log counts as absent.
int32_t openLogFile(CODE4* /*c*/, const char* /*fileName*/) { return 0; }

}  // namespace

int32_t code4transactionInit(CODE4* c) {
  CODE4TRANS& block = c->transaction;
  block.c4 = c;
  block.trans.c4trans = &block;
  block.trans.dataList = &block.trans.localDataList;
  return 0;
}

int32_t code4logOpen(CODE4* c, const char* fileName, const char* userId) {
  if (c == nullptr) return error4(nullptr, e4parmNull, kLocLogOpen);
  if (c->transaction.logOpen) return r4logOpen;
  if (fileName == nullptr || fileName[0] == '\0') fileName = log4defaultName;
  if (userId == nullptr || userId[0] == '\0') userId = log4defaultUser;
  const int32_t rc = openLogFile(c, fileName);
  if (rc < 0 || !c->transaction.logOpen) return rc;
  TRAN4& trans = c->transaction.trans;
  const size_t len = std::min(std::strlen(userId), sizeof(trans.userId) - 1);
  std::memcpy(trans.userId, userId, len);
  trans.userId[len] = '\0';
  trans.userIdLen = static_cast<int32_t>(len);
  return 0;
}

void code4logClose(CODE4* c) {
  if (!c->transaction.enabled) return;
  if (c->transactionState == tran4rollback || c->transactionState == tran4closing) return;
  log4close(&c->transaction.trans, code4clientId(c));
}

int32_t log4close(TRAN4* trans, int32_t /*clientId*/) {
  CODE4TRANS* block = trans->c4trans;
  std::memset(trans->userId, 0, sizeof(trans->userId));
  trans->userIdLen = 0;
  if (block != nullptr) {
    block->logOpen = 0;
    block->enabled = 0;
  }
  return 0;
}
