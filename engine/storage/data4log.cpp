#include "engine/storage/data4log.h"

#include <cstring>
#include <string>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4record.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memo4field.h"
#include "engine/storage/memory4.h"
#include "engine/storage/tran4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocLog = 90283;
constexpr int32_t kLocFileStatus = 90308;

// Gathers one entry's payload; the first failure sticks and later pieces
// are skipped, so a payload is written whole or not at all.
class EntryWriter {
 public:
  EntryWriter(DATA4* d, uint16_t type) : trans_(d->trans), c_(d->codeBase) {
    code4timeStamp(c_);
    const auto id = static_cast<uint32_t>(d->id);
    rc_ = log4entrySet(trans_, -1, type, id, id);
  }
  EntryWriter& u8(uint32_t value) {
    const auto byte = static_cast<unsigned char>(value);
    return raw(&byte, 1);
  }
  EntryWriter& u16(uint32_t value) {
    unsigned char bytes[2];
    endian4::writeLe16(bytes, static_cast<uint16_t>(value));
    return raw(bytes, sizeof bytes);
  }
  EntryWriter& u32(uint32_t value) {
    unsigned char bytes[4];
    endian4::writeLe32(bytes, value);
    return raw(bytes, sizeof bytes);
  }
  EntryWriter& raw(const void* bytes, size_t n) {
    if (rc_ == 0) rc_ = log4entryAppend(trans_, bytes, static_cast<uint32_t>(n));
    return *this;
  }
  // A text with its length in front, as u8 or u16.
  EntryWriter& text8(const char* s) {
    const size_t n = s != nullptr ? std::strlen(s) : 0;
    return u8(static_cast<uint32_t>(n)).raw(s, n);
  }
  EntryWriter& text16(const char* s) {
    const size_t n = s != nullptr ? std::strlen(s) : 0;
    return u16(static_cast<uint32_t>(n)).raw(s, n);
  }
  int32_t write(int flush) {
    if (rc_ == 0 && log4entryWrite(trans_, flush) != 0) rc_ = -1;
    return rc_ == 0 ? 0 : error4(c_, e4logWrite, kLocLog);
  }

 private:
  TRAN4* trans_;
  CODE4* c_;
  int32_t rc_ = 0;
};

// Record changes are logged inside transactions only, and never for a
// handle that takes no part in logging.
bool logsRecordChanges(const DATA4* d) {
  const CODE4* c = d->codeBase;
  return tran4logging(c) && c->transactionState == tran4active && d->logMode != log4modeNone;
}

const char* fullName(const DATA4FILE* df) {
  return df->identity.empty() ? df->file.name : df->identity.c_str();
}

uint32_t fieldCount(const DATA4* d) {
  uint32_t n = 0;
  for (const FIELD4& field : d->fields) n += &field != d->nullFlags ? 1 : 0;
  return n;
}

// The memo value `field` points at in `record`, read from the memo file.
int32_t storedMemo(DATA4* d, const FIELD4* field, const char* record, std::string* value) {
  DATA4FILE* df = d->dataFile;
  value->clear();
  const int64_t block = memo4blockOf(field, record);
  if (block <= 0 || !df->memoOpen) return 0;
  char* buffer = nullptr;
  uint32_t capacity = 0;
  uint32_t length = 0;
  const int32_t rc =
      memo4fileRead(&df->memoFile, block, &buffer, &capacity, &length, 0, UINT32_MAX, nullptr);
  if (rc >= 0 && buffer != nullptr) value->assign(buffer, length);
  memory4freeBlock(buffer);
  return rc < 0 ? rc : 0;
}

}  // namespace

int32_t data4logAutoStart(DATA4* d, bool* started) {
  *started = false;
  CODE4* c = d->codeBase;
  if (!c->transaction.enabled || c->transactionState != tran4inactive) return 0;
  if (d->logMode != log4modeAuto && d->logMode != log4modeAlways) return 0;
  if (const int32_t rc = tran4start(d->trans, 0); rc < 0) return rc;
  *started = true;
  return 0;
}

int32_t data4logAutoCommit(DATA4* d) {
  if (const int32_t rc = tran4commitPhaseOne(d->trans, 1); rc < 0) return rc;
  return tran4commitPhaseTwo(d->trans, 0);
}

void data4logAutoRollback(DATA4* d) {
  CODE4* c = d->codeBase;
  if (c->transactionState != tran4active) return;  // already over
  const int32_t kept = error4set(c, 0);
  tran4rollbackLow(d->trans, false);
  error4set(c, kept);
}

int32_t data4logOpen(DATA4* d) {
  CODE4* c = d->codeBase;
  if (!tran4logging(c)) return 0;
  DATA4FILE* df = d->dataFile;
  int64_t modified = 0;
  if (platform::os().fileModifiedTime(df->file.handle, modified) != 0)
    return error4describe(c, e4open, kLocFileStatus, df->file.name, nullptr, nullptr);
  const bool temporary = c->createTemp != 0 || df->file.isTemp;
  const char* name = fullName(df);
  const int64_t count = datafile4recCount(df, df->file.accessMode == 1);
  const unsigned char date[3] = {df->header.year, df->header.month, df->header.day};
  EntryWriter entry(d, temporary ? log4typeOpenTemp : log4typeOpen);
  entry.text16(name).u32(df->recordLength).u16(fieldCount(d));
  entry.u32(static_cast<uint32_t>(count < 0 ? 0 : count)).u32(static_cast<uint32_t>(modified));
  entry.raw(date, sizeof date);
  const int32_t rc = entry.write(0);
  if (rc == 0) d->openLogged = true;
  return rc;
}

int32_t data4logClose(DATA4* d) {
  CODE4* c = d->codeBase;
  if (!d->openLogged || !tran4logging(c) || c->transactionState == tran4active) return 0;
  return EntryWriter(d, log4typeClose).write(0);
}

int32_t data4logUpdate(DATA4* d, int32_t record) {
  if (!logsRecordChanges(d)) return 0;
  // The old image is read again: another handle may have rewritten the
  // record since this one last read it, and a rollback puts back exactly
  // what is logged here.
  if (const int32_t rc = data4readStored(d, record); rc < 0) return rc;
  const uint32_t length = d->dataFile->recordLength;
  EntryWriter entry(d, log4typeUpdate);
  entry.u32(static_cast<uint32_t>(record)).raw(d->recordOld, length).raw(d->record, length);
  std::string before;
  for (MEMO4FIELD& memo : d->memoFields) {
    if (!memo.changed) {
      entry.u32(0).u32(0);
      continue;
    }
    if (const int32_t rc = storedMemo(d, memo.field, d->recordOld, &before); rc < 0) return rc;
    entry.u32(static_cast<uint32_t>(before.size())).raw(before.data(), before.size());
    entry.u32(memo.length).raw(memo.contents, memo.length);
  }
  return entry.write(0);
}

int32_t data4logAppend(DATA4* d, int32_t record) {
  if (!logsRecordChanges(d)) return 0;
  EntryWriter entry(d, log4typeAppend);
  entry.u32(static_cast<uint32_t>(record)).raw(d->record, d->dataFile->recordLength);
  for (MEMO4FIELD& memo : d->memoFields) entry.u32(memo.length).raw(memo.contents, memo.length);
  return entry.write(0);
}

int32_t data4logVoided(DATA4* d) {
  CODE4* c = d->codeBase;
  // Written after a failure: the failure's code waits while it is.
  const int32_t kept = error4set(c, 0);
  int32_t rc = 0;
  if (tran4logging(c) && d->logMode != log4modeNone) rc = EntryWriter(d, log4typeVoided).write(0);
  if (kept != 0) error4set(c, kept);
  return rc;
}

int32_t data4logCreate(DATA4* d, const FIELD4INFO* fields, const TAG4INFO* tags) {
  if (!tran4logging(d->codeBase)) return 0;
  uint32_t fieldTotal = 0;
  uint32_t tagTotal = 0;
  while (fields[fieldTotal].name != nullptr) fieldTotal++;
  while (tags != nullptr && tags[tagTotal].name != nullptr) tagTotal++;
  EntryWriter entry(d, log4typeCreate);
  entry.u16(static_cast<uint32_t>(d->dataFile->compatibility)).text16(fullName(d->dataFile));
  entry.u16(fieldTotal).u16(tagTotal);
  for (uint32_t i = 0; i < fieldTotal; i++) {
    const FIELD4INFO& f = fields[i];
    entry.text8(f.name).u16(static_cast<uint16_t>(f.type)).u16(f.len);
    entry.u16(static_cast<uint16_t>(f.dec)).u16(f.nulls);
  }
  for (uint32_t i = 0; i < tagTotal; i++) {
    const TAG4INFO& t = tags[i];
    entry.text8(t.name).text16(t.expression).text16(t.filter);
    entry.u16(static_cast<uint16_t>(t.unique)).u16(t.descending);
  }
  return entry.write(0);
}

int32_t data4logZap(DATA4* d, uint32_t first, uint32_t last) {
  if (!tran4logging(d->codeBase)) return 0;
  return EntryWriter(d, log4typeZap).u32(first).u32(last).write(1);
}
