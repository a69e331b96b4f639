// Opening tables: the shared data file, its header and descriptors, and the
// handle with its field table and record buffers.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/cache4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4log.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tail.h"
#include "engine/storage/error4.h"
#include "engine/storage/filename4.h"
#include "engine/storage/memory4.h"
#include "engine/storage/text4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocOpen = 90308;
constexpr int32_t kLocDataFile = 90131;
constexpr int32_t kLocFieldType = 80006;
constexpr int32_t kLocHeader = 80139;
constexpr int32_t kLocAutoMarker = 80151;
constexpr int32_t kLocInfo = 80158;
constexpr int32_t kLocAccess = 80159;
constexpr int32_t kLocBadMode = 80117;
constexpr int kPathMax = 4096;

int32_t headerError(DATA4FILE* df, int32_t location) {
  return error4describe(df->codeBase, e4data, location, df->file.name, nullptr, nullptr);
}

// Whether the table has a memo file beside it. A version-0x30 file with
// memo fields has one even when its flags byte does not say so, as some
// writers leave that bit clear.
bool hasMemoFile(const DATA4FILE* df) {
  if (df->header.version == dbf4version30)
    return (df->header.flags & dbf4flagMemo) != 0 || df->nFieldsMemo > 0;
  return (df->header.version & 0x80) != 0;
}

bool isMemoType(unsigned char type) { return type == 'M' || type == 'G'; }

// 0 when the descriptor's type may stand in this file; else the raised code.
int32_t checkType(DATA4FILE* df, const Dbf4Descriptor& d) {
  const bool v30 = df->header.version == dbf4version30;
  switch (d.type) {
    case '0':
      // Other tools spell it "_NULLFLAGS".
      if (v30 && text4compareNoCase(d.name, dbf4nullFlagsName) == 0) return 0;
      break;
    case '1':
    case '5':
    case '6':
    case 'D':
    case 'F':
    case 'I':
    case 'L':
    case 'N':
    case 'P':
    case 'Q':
    case 'R':
    case 'V':
    case 'C':
    case 'O':
    case 'W':
    case 'G':
    case 'M':
    case '2':
    case '3':
    case '4':
      return 0;
    case 'B':
      if (v30 || df->codeBase->reindexInProgress) return 0;
      break;
    case 'T':
    case 'Y':
      if (v30) return 0;
      break;
    default:
      return error4describe(df->codeBase, e4fieldType, kLocFieldType, df->file.name, nullptr,
                            nullptr);
  }
  return error4describe(df->codeBase, e4data, kLocFieldType, df->file.name, nullptr, nullptr);
}

// Whether the fields' nullable flags count: only a version-0x30 file with a
// null-flags field has a place for their bits. Other writers leave the flag
// on fields of files without one, whose fields then are not nullable.
bool nullFlagsKept(const DATA4FILE* df) {
  if (df->header.version != dbf4version30) return false;
  for (const Dbf4Descriptor& d : df->descriptors)
    if (d.type == '0') return true;
  return false;
}

// Checks the autoincrement field `d`, descriptor `i`, against the layout of
// the file's counter (dbf4header.h) and notes where the counter lives. An
// unmarked file with a B field is this engine's with its marker damaged.
int32_t checkAutoIncrement(DATA4FILE* df, const Dbf4Descriptor& d, size_t i, bool marked) {
  if (marked) return d.type == 'B' && d.length == 8 ? 0 : headerError(df, kLocHeader);
  if (d.type == 'B') return headerError(df, kLocAutoMarker);
  if (d.type != 'I' || d.length != 4) return headerError(df, kLocHeader);
  df->autoIncrementDescriptor = static_cast<int32_t>(i);
  return 0;
}

// Checks what the descriptors promise against each other and the header:
// types, lengths, null flags, the autoincrement field and the memo file.
// `marked`: the header carries this engine's autoincrement marker.
int32_t checkDescriptors(DATA4FILE* df, bool marked) {
  CODE4* c = df->codeBase;
  uint64_t length = 1;
  uint32_t nullable = 0, nullFlagBits = 0, autoFields = 0, memoFields = 0;
  const bool nullFlags = nullFlagsKept(df);
  for (size_t i = 0; i < df->descriptors.size(); i++) {
    const Dbf4Descriptor& d = df->descriptors[i];
    if (const int32_t rc = checkType(df, d); rc < 0) return rc;
    length += dbf4storedLength(d);
    if (d.type == '0') nullFlagBits = 8 * dbf4storedLength(d);
    if (nullFlags && (d.flags & dbf4fieldNullable)) nullable++;
    if (df->autoIncrement && (d.flags & dbf4fieldAutoIncrement)) {
      if (const int32_t rc = checkAutoIncrement(df, d, i, marked); rc < 0) return rc;
      autoFields++;
    }
    if (isMemoType(d.type)) memoFields++;
  }
  if (length != df->header.recordLength && c->largeFileValue == 0)
    return headerError(df, kLocDataFile);
  if (nullable > nullFlagBits || autoFields > 1) return headerError(df, kLocHeader);
  // Another writer's file without an autoincrement field has no counter.
  if (!marked && autoFields == 0) df->autoIncrement = false;
  df->nFieldsMemo = static_cast<uint16_t>(memoFields);
  if (memoFields > 0 && !hasMemoFile(df)) return headerError(df, kLocHeader);
  df->recordLength = static_cast<uint32_t>(length);
  return 0;
}

int32_t readDescriptors(DATA4FILE* df, bool marked) {
  const uint32_t infoLength = df->header.headerLength - dbf4headerSize;
  df->info.resize(infoLength);
  const uint32_t failures = df->file.readFailures;
  if (file4readAll(&df->file, dbf4headerSize, df->info.data(), infoLength) < 0) {
    // A disk that could not read is said as such, not as a damaged header.
    if (df->file.readFailures != failures) return -1;
    error4set(df->codeBase, 0);
    return headerError(df, kLocInfo);
  }
  df->infoLength = infoLength;
  df->descriptors.clear();
  for (uint32_t at = 0;; at += dbf4descriptorSize) {
    if (at < infoLength && df->info[at] == dbf4terminator) break;
    if (at + dbf4descriptorSize > infoLength) return headerError(df, kLocHeader);
    df->descriptors.push_back(dbf4decodeDescriptor(df->info.data() + at));
  }
  if (df->descriptors.size() > UINT16_MAX) return headerError(df, kLocHeader);
  df->nFields = static_cast<uint16_t>(df->descriptors.size());
  return checkDescriptors(df, marked);
}

// Checks the header's count and length against the file's length before
// anything is read after the header.
int32_t checkLength(DATA4FILE* df) {
  CODE4* c = df->codeBase;
  if (c->largeFileValue != 0) return 0;
  const uint64_t length = file4lenLow(&df->file);
  if (length == UINT64_MAX) return -1;
  if (length < df->header.headerLength) return headerError(df, kLocHeader);
  const uint64_t records = (length - df->header.headerLength) / df->header.recordLength;
  if (df->header.recordCount == 0xFFFFFFFF || records > UINT32_MAX)
    return headerError(df, kLocHeader);
  return 0;
}

int32_t readHeader(DATA4FILE* df, const char* name) {
  CODE4* c = df->codeBase;
  unsigned char bytes[dbf4headerSize];
  if (file4readAll(&df->file, 0, bytes, sizeof bytes) < 0) return -1;
  df->header = dbf4decodeHeader(bytes);
  if (df->header.recordLength == 0) return headerError(df, kLocHeader);
  const bool marked = dbf4autoIncrementMarked(df->header);
  if (df->header.version == dbf4version30auto) {
    df->header.version = dbf4version30;
    df->autoIncrement = true;
  }
  df->compatibility =
      df->header.version == dbf4version30 ? 30 : (c->compatibility == 30 ? 25 : c->compatibility);
  df->codePage = static_cast<signed char>(df->header.codePage);
  df->storedCount = df->header.recordCount;
  df->diskCount = df->header.recordCount;
  df->liveCount = -1;
  if (df->header.headerLength < dbf4headerSize + 1) return headerError(df, kLocHeader);
  if (const int32_t rc = checkLength(df); rc < 0) return rc;
  if (const int32_t rc = readDescriptors(df, marked); rc < 0) return rc;
  // The records beyond the count are judged by the descriptors.
  if (datafile4settleTail(df) < 0) return -1;
  if (!hasMemoFile(df)) return 0;
  char memoName[kPathMax];
  if (std::strlen(name) >= sizeof memoName) return error4(c, e4parm, kLocOpen);
  std::strcpy(memoName, name);
  if (filename4extensionSet(memoName, sizeof memoName, code4memoExtension(c), 1) < 0) return -1;
  if (memo4fileOpen(&df->memoFile, df, memoName) < 0) return -1;
  df->memoOpen = true;
  df->file.writtenFirst = &df->memoFile.file;
  return 0;
}

// Whether a handle still open (not one closed during the transaction)
// uses the file.
bool openHandleUses(CODE4* c, DATA4FILE* df) {
  LIST4* handles = code4dataList(c);
  for (LINK4* link = list4first(handles); link != nullptr; link = list4next(handles, link)) {
    if (reinterpret_cast<DATA4*>(link)->dataFile == df) return true;
  }
  return false;
}

// Whether an open data file may serve another handle under the current
// settings: 0, or the raised -69.
int32_t checkReuse(CODE4* c, DATA4FILE* df) {
  const bool transactionFree = c->transactionState == tran4active && !openHandleUses(c, df);
  if (c->singleOpen != 0 && !transactionFree)
    return error4describe(c, e4instance, kLocDataFile, df->file.name, nullptr, nullptr);
  if (df->file.isReadOnly && c->readOnly == 0)
    return error4describe(c, e4instance, kLocAccess, df->file.name, nullptr, nullptr);
  switch (c->accessMode) {
    case 0:
      return 0;
    case 1:
      if (df->file.accessMode == 1) return 0;
      break;
    case 2:
      if (df->file.accessMode != 0) return 0;
      break;
    default:
      return error4describe(c, e4instance, kLocBadMode, df->file.name, nullptr, nullptr);
  }
  return error4describe(c, e4instance, kLocAccess, df->file.name, nullptr, nullptr);
}

DATA4FILE* newDataFile(CODE4* c) {
  void* unit = memory4createAlloc(c, &c->dataFilePool, c->memStartDataFile, sizeof(DATA4FILE),
                                  c->memExpandDataFile, false, false);
  if (unit == nullptr) {
    error4(c, e4memory, kLocDataFile);
    return nullptr;
  }
  auto* df = new (unit) DATA4FILE;
  df->codeBase = c;
  return df;
}

}  // namespace

int32_t data4fullName(char* buffer, int32_t size, const char* name) {
  if (static_cast<int64_t>(std::strlen(name)) >= size) return error4(nullptr, e4parm, kLocOpen);
  std::strcpy(buffer, name);
  return filename4extensionSet(buffer, size, "dbf", 0);
}

void datafile4free(DATA4FILE* df) {
  CODE4* c = df->codeBase;
  datafile4closeIndexFiles(df);
  if (list4contains(&c->dataFileList, &df->link)) list4remove(&c->dataFileList, &df->link);
  file4close(&df->file);
  if (df->memoOpen) file4close(&df->memoFile.file);
  df->~DATA4FILE();
  memory4free(c->dataFilePool, df);
}

DATA4FILE* datafile4open(CODE4* c, DATA4* d, const char* name) {
  (void)d;
  if (c->compatibility != 25 && c->compatibility != 26 && c->compatibility != 30) {
    error4(c, e4open, kLocDataFile);
    return nullptr;
  }
  error4set(c, 0);
  char fullName[kPathMax];
  if (data4fullName(fullName, sizeof fullName, name) < 0) return nullptr;
  if (DATA4FILE* open = datafile4find(c, fullName)) {
    if (checkReuse(c, open) < 0) return nullptr;
    open->openCount++;
    return open;
  }
  DATA4FILE* df = newDataFile(c);
  if (df == nullptr) return nullptr;
  df->openCount = 1;
  if (file4open(&df->file, c, fullName, 1) != 0) {
    datafile4free(df);
    return nullptr;
  }
  df->file.logWriteAhead = true;
  df->identity = platform::os().canonicalPath(df->file.name);
  list4add(&c->dataFileList, &df->link);
  if (readHeader(df, df->file.name) < 0) {
    datafile4free(df);
    return nullptr;
  }
  // No other process can change an exclusive file: its count is ours.
  if (df->file.accessMode == 1) df->liveCount = df->header.recordCount;
  file4cacheSet(&df->file, c->fileBuffering, file4cacheData, df->header.recordLength, df);
  return df;
}

namespace {

// The field table of a handle, from its data file's checked descriptors.
void buildFields(DATA4* d) {
  DATA4FILE* df = d->dataFile;
  const bool v30 = df->header.version == dbf4version30;
  const bool nullFlags = nullFlagsKept(df);
  d->fields.assign(df->descriptors.size(), FIELD4{});
  uint32_t offset = 1;
  uint16_t nullBit = 0;
  for (size_t i = 0; i < df->descriptors.size(); i++) {
    const Dbf4Descriptor& desc = df->descriptors[i];
    FIELD4& f = d->fields[i];
    std::memcpy(f.name, desc.name, sizeof f.name);
    f.type =
        static_cast<int16_t>(desc.type >= 'a' && desc.type <= 'z' ? desc.type - 32 : desc.type);
    f.length = static_cast<uint16_t>(dbf4storedLength(desc));
    if (f.type == 'F' || f.type == 'N' || f.type == 'T' || f.type == 'Y' || (f.type == 'B' && v30))
      f.decimals = desc.decimals;
    f.offset = offset;
    offset += f.length;
    f.data = d;
    f.validityMarker = validity4marker;
    if (v30) {
      if (nullFlags && (desc.flags & dbf4fieldNullable)) {
        f.nullable = 1;
        f.nullBit = nullBit++;
        f.nullByte = f.nullBit / 8;
        f.nullMask = static_cast<uint8_t>(1u << (f.nullBit % 8));
      }
      f.binary = (desc.flags & dbf4fieldBinary) ? 1 : (isMemoType(desc.type) ? 2 : 0);
    }
    if (df->autoIncrement && (desc.flags & dbf4fieldAutoIncrement)) {
      f.autoIncrement = 1;
      d->autoIncrementField = &f;
    }
    if (f.type == '0') d->nullFlags = &f;
  }
  for (FIELD4& f : d->fields) {
    if (!isMemoType(static_cast<unsigned char>(f.type))) continue;
    d->memoFields.push_back(MEMO4FIELD{});
    d->memoFields.back().field = &f;
  }
  for (size_t i = 0; i < d->memoFields.size(); i++)
    d->memoFields[i].field->memo = &d->memoFields[i];
}

void buildBuffers(DATA4* d) {
  const size_t slot = d->dataFile->recordLength + 1;
  d->buffers.assign(3 * slot, '\0');
  d->record = d->buffers.data();
  d->recordOld = d->record + slot;
  d->recordBlank = d->recordOld + slot;
  d->recordBlank[0] = ' ';
  for (auto field = d->fields.rbegin(); field != d->fields.rend(); ++field) {
    if (&*field != d->nullFlags) field4blankBytes(&*field, d->recordBlank + field->offset);
  }
}

void setAlias(DATA4* d) {
  char base[kPathMax];
  if (filename4piece(base, sizeof base, d->dataFile->file.name, 0, 0) < 0) base[0] = '\0';
  text4copyBounded(d->alias, base, sizeof d->alias);
  data4aliasFix(d);
}

}  // namespace

DATA4* data4open(CODE4* c, const char* name) {
  if (c == nullptr || name == nullptr) {
    error4(c, e4parmNull, kLocOpen);
    return nullptr;
  }
  if (structure4check(c, structure4code, kLocOpen) < 0 || error4code(c) < 0) return nullptr;
  if (c->autoOpenLog) {
    if (code4logOpen(c, nullptr, nullptr) < 0) return nullptr;
    error4set(c, 0);
  }
  void* unit = memory4createAlloc(c, &c->dataPool, c->memStartData, sizeof(DATA4), c->memExpandData,
                                  false, false);
  if (unit == nullptr) {
    error4(c, e4memory, kLocOpen);
    return nullptr;
  }
  auto* d = new (unit) DATA4;
  d->validityMarker = validity4marker;
  d->codeBase = c;
  d->trans = &c->transaction.trans;
  list4add(code4dataList(c), &d->link);
  d->dataFile = datafile4open(c, d, name);
  if (d->dataFile == nullptr) {
    data4close(d);
    return nullptr;
  }
  error4set(c, 0);
  list4add(&d->dataFile->handles, &d->fileLink);
  setAlias(d);
  buildFields(d);
  buildBuffers(d);
  data4blank(d);
  std::memcpy(d->recordOld, d->record, d->dataFile->recordLength);
  d->recordChanged = 0;
  // The handle has its id before its index opens: a rebuild on open locks
  // the index for it, and a lock held by no handle would stall later writes.
  d->id = ++c->handleCounter;
  // Decided from the results, not from the error code alone: the program's
  // hook clears the code once it has shown an error.
  bool failed = false;
  Error4Steps steps(c);
  const int32_t indexed = data4openProductionIndex(d);
  steps.note(indexed);
  if (indexed < 0) {
    failed = true;
    // An index open whose own report the hook showed is not reported again.
    if (error4code(c) == 0 && steps.mayLeave()) {
      if (c->errOpen == 0)
        error4set(c, r4noOpen);
      else
        error4describe(c, e4open, kLocOpen, d->dataFile->file.name, nullptr, nullptr);
    }
  }
  if (const int32_t code = error4code(c); failed || code < 0 || code == r4noOpen) {
    data4close(d);
    if (code == r4noOpen) error4set(c, r4noOpen);
    return nullptr;
  }
  if (data4logOpen(d) < 0) {
    data4close(d);
    return nullptr;
  }
  d->readOnly = d->dataFile->file.isReadOnly ? 1 : c->readOnly;
  if (tran4logging(c)) d->logMode = c->logMode;
  d->dataFile->openedByData4Open = true;
  return d;
}
