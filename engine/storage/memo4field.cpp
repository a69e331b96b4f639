#include "engine/storage/memo4field.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4record.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/lock4.h"
#include "engine/storage/memo4file.h"
#include "engine/storage/memory4.h"

namespace {

constexpr int32_t kLocAssignN = 90032;
constexpr int32_t kLocLen = 90035;
constexpr int32_t kLocPtr = 90037;
constexpr int32_t kLocRead = 90038;
constexpr int32_t kLocSetLen = 90041;
constexpr int32_t kLocStr = 90042;
constexpr int32_t kLocUpdateMemo = 90373;
constexpr int32_t kLocTooLong = 80189;
constexpr int32_t kLocStore = 80192;
constexpr int32_t kLocSetBlock = 80197;
constexpr uint32_t kMaxValue = 4294967167u;

// What an empty value points at. Nothing ever writes into it.
char emptyValue[2] = {0, 0};

bool checked(const FIELD4* field, int32_t location) {
  if (field == nullptr) {
    error4(nullptr, e4parmNull, location);
    return false;
  }
  return structure4check(field, structure4field, location) == 0;
}

// The lock rule of every write: with locking enforced, a positioned record
// must be locked by the handle.
int32_t lockRule(FIELD4* field, int32_t location) {
  DATA4* d = field->data;
  CODE4* c = d->codeBase;
  if (c->lockEnforce && d->recNum > 0 && !data4lockTestRecordHeld(d, d->recNum))
    return error4(c, e4lock, location);
  return 0;
}

void makeEmpty(MEMO4FIELD* memo) {
  memory4freeBlock(memo->contents);
  memo->contents = nullptr;
  memo->capacity = 0;
  memo->length = 0;
}

// Ready to read: 0, or -1 when the value could not be had.
int32_t ensureRead(FIELD4* field) {
  MEMO4FIELD* memo = field->memo;
  if (!memo->notRead) return 0;
  if (field4memoRead(field) < 0) return -1;
  memo->notRead = 0;
  return 0;
}

}  // namespace

int64_t memo4blockOf(const FIELD4* field, const char* record) {
  const char* bytes = record + field->offset;
  if (field->length == 4)
    return static_cast<int32_t>(endian4::readLe32(reinterpret_cast<const unsigned char*>(bytes)));
  return convert4textToLong(bytes, field->length);
}

void memo4setBlock(FIELD4* field, char* record, int64_t block) {
  char* bytes = record + field->offset;
  if (field->length == 4) {
    endian4::writeLe32(reinterpret_cast<unsigned char*>(bytes), static_cast<uint32_t>(block));
    return;
  }
  if (block <= 0) {
    std::memset(bytes, ' ', field->length);
    return;
  }
  convert4longToText(static_cast<int32_t>(block), bytes, field->length);
}

int32_t field4memoRead(FIELD4* field) {
  if (!checked(field, kLocRead)) return e4parm;
  DATA4* d = field->data;
  if (error4code(d->codeBase) < 0) return -1;
  field->memo->changed = 0;
  if (d->recNum < 1) {
    field->memo->length = 0;
    return 0;
  }
  return field4memoReadLow(field);
}

int32_t field4memoReadLow(FIELD4* field) {
  MEMO4FIELD* memo = field->memo;
  DATA4* d = field->data;
  DATA4FILE* df = d->dataFile;
  if (!df->memoOpen) return -1;
  const int64_t block = memo4blockOf(field, d->record);
  const int32_t rc = memo4fileRead(&df->memoFile, block, &memo->contents, &memo->capacity,
                                   &memo->length, 0, UINT32_MAX, nullptr);
  if (rc != 0) {
    makeEmpty(memo);  // never a freed or half-read buffer
    return rc;
  }
  return 0;
}

uint32_t field4memoLen(FIELD4* field) {
  if (!checked(field, kLocLen)) return 0;
  if (field->memo == nullptr) return field4len(field);
  return ensureRead(field) == 0 ? field->memo->length : 0;
}

char* field4memoPtr(FIELD4* field) {
  if (!checked(field, kLocPtr)) return nullptr;
  if (field->memo == nullptr) return field4ptr(field);
  if (ensureRead(field) != 0) return nullptr;
  return field->memo->contents != nullptr ? field->memo->contents : emptyValue;
}

const char* field4memoStr(FIELD4* field) {
  if (!checked(field, kLocStr)) return "";
  if (field->memo == nullptr) {
    // An ordinary field's bytes are not NUL-terminated in the record.
    return field4ptr(field);
  }
  const char* value = field4memoPtr(field);
  return value == nullptr ? "" : value;
}

void field4memoFree(FIELD4* field) {
  if (field == nullptr || field->memo == nullptr) return;
  makeEmpty(field->memo);
  field->memo->notRead = 1;
}

void field4memoReset(FIELD4* field) {
  if (field == nullptr || field->memo == nullptr) return;
  field->memo->length = 0;
  field->memo->notRead = 1;
  field->memo->changed = 0;
}

int32_t field4memoSetLen(FIELD4* field, uint32_t n) {
  if (!checked(field, kLocSetLen)) return e4parm;
  if (const int32_t rc = lockRule(field, kLocSetLen); rc < 0) return rc;
  MEMO4FIELD* memo = field->memo;
  if (memo == nullptr) return -1;
  if (n > memo->capacity || (n > 0 && memo->contents == nullptr)) {
    makeEmpty(memo);
    auto* grown = static_cast<char*>(memory4allocOrError(field->data->codeBase, int64_t{n} + 2));
    if (grown == nullptr) {
      memo->notRead = 1;
      return e4memory;
    }
    memo->contents = grown;
    memo->capacity = n;
  }
  memo->length = n;
  if (memo->contents != nullptr) memo->contents[n] = memo->contents[n + 1] = '\0';
  memo->notRead = 0;
  memo->changed = 1;
  field->data->recordChanged = 1;
  return 0;
}

int32_t field4memoAssignN(FIELD4* field, const char* bytes, uint32_t n) {
  if (!checked(field, kLocAssignN)) return e4parm;
  if (bytes == nullptr && n > 0) return error4(nullptr, e4parmNull, kLocAssignN);
  if (const int32_t rc = lockRule(field, kLocAssignN); rc < 0) return rc;
  if (n > kMaxValue) return error4(field->data->codeBase, e4memory, kLocTooLong);
  if (field->memo == nullptr) return field4assignN(field, bytes, n);
  field4assignNotNull(field);
  if (const int32_t rc = field4memoSetLen(field, n); rc < 0) return rc;
  if (n > 0) std::memcpy(field->memo->contents, bytes, n);
  return 0;
}

int32_t field4memoUpdate(FIELD4* field) {
  if (field == nullptr || error4code(field->data->codeBase) < 0) return -1;
  if (field->memo == nullptr || !field->memo->changed) return 0;
  return field4memoWrite(field);
}

int32_t field4memoWrite(FIELD4* field) {
  DATA4* d = field->data;
  MEMO4FIELD* memo = field->memo;
  if (const int32_t rc = data4updateMemo(d); rc < 0) return rc;
  if (!d->dataFile->memoOpen) return -1;
  const int64_t before = memo4blockOf(field, d->record);
  int64_t block = before;
  const int32_t rc = memo4fileWrite(&d->dataFile->memoFile, &block,
                                    memo->contents != nullptr ? memo->contents : emptyValue,
                                    memo->length);
  if (rc < 0) return rc;
  if (block != before) memo4setBlock(field, d->record, block);
  memo->changed = 0;
  return 0;
}

int32_t field4memoStore(FIELD4* field, const char* bytes, uint32_t n, int64_t* block) {
  if (!checked(field, kLocStore) || field->memo == nullptr) return e4parm;
  DATA4FILE* df = field->data->dataFile;
  if (!df->memoOpen) return -1;
  *block = 0;
  if (const int32_t rc = memo4fileWrite(&df->memoFile, block, n > 0 ? bytes : emptyValue, n);
      rc < 0)
    return rc;
  return file4flush(&df->memoFile.file);
}

int32_t field4memoSetBlock(FIELD4* field, int64_t block) {
  if (!checked(field, kLocSetBlock) || field->memo == nullptr) return e4parm;
  DATA4* d = field->data;
  if (!d->dataFile->memoOpen) return -1;
  if (const int32_t rc = lockRule(field, kLocSetBlock); rc < 0) return rc;
  // The entry is read as a check that it is one: a record never names
  // blocks that hold none.
  MEMO4FIELD* memo = field->memo;
  if (const int32_t rc = memo4fileRead(&d->dataFile->memoFile, block, &memo->contents,
                                       &memo->capacity, &memo->length, 0, UINT32_MAX, nullptr);
      rc != 0) {
    makeEmpty(memo);
    memo->notRead = 1;
    return rc < 0 ? rc : -1;
  }
  if (const int32_t rc = data4updateMemo(d); rc < 0) return rc;
  field4assignNotNull(field);
  memo4setBlock(field, d->record, block);
  memo->notRead = 0;
  memo->changed = 0;
  d->recordChanged = 1;
  return 0;
}

int32_t data4updateMemo(DATA4* d) {
  if (structure4check(d, structure4data, kLocUpdateMemo) < 0) return e4parm;
  if (d->memoPrepared) return 0;
  if (d->recNum > 0) {
    if (const int32_t rc = data4lock(d, d->recNum, 0, 1); rc != 0) return rc;
    const int32_t read = data4readRecord(d, d->recNum, d->recordOld);
    if (read < 0) return read;
    if (read == 0) d->recNumOld = d->recNum;
    // A record no one changed keeps the block numbers it has on disk.
    if (!d->recordChanged) {
      for (MEMO4FIELD& memo : d->memoFields) {
        if (memo.changed) continue;
        const FIELD4* field = memo.field;
        std::memcpy(d->record + field->offset, d->recordOld + field->offset, field->length);
      }
    }
  }
  d->memoPrepared = true;
  return 0;
}
