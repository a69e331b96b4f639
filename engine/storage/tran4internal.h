// What the transaction block's own files share: shortcuts from a TRAN4 to
// its settings object and log, the writing of an empty entry, and the walk
// over the handles a transaction may have touched.
#pragma once

#include <cstdint>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/tran4.h"

inline CODE4* tran4code(TRAN4* trans) { return trans->c4trans->c4; }

inline LOG4FILE* tran4log(TRAN4* trans) { return &trans->c4trans->log; }

// Writes an entry of `type` without payload, stamped now, under the current
// transaction id (when the type or the state carries one).
int32_t tran4writeEmpty(TRAN4* trans, uint16_t type, uint32_t dataId2, int flush);

// Calls `visit` on each handle of `list` until one returns a negative code.
template <typename Visit>
int32_t tran4forEachHandle(LIST4* list, Visit visit) {
  for (LINK4* link = list4first(list); link != nullptr; link = list4next(list, link)) {
    if (const int32_t rc = visit(reinterpret_cast<DATA4*>(link)); rc < 0) return rc;
  }
  return 0;
}

// The open handles, then those closed during the transaction.
template <typename Visit>
int32_t tran4forEachTransactionHandle(CODE4* c, Visit visit) {
  if (const int32_t rc = tran4forEachHandle(code4dataList(c), visit); rc < 0) return rc;
  return tran4forEachHandle(&c->closedDataFiles, visit);
}
