// Creating a table: the field list checked, the DBF header and descriptors
// written, the memo file and production index created, the table reopened.
#include "engine/storage/data4create.h"

#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4index.h"
#include "engine/storage/data4log.h"
#include "engine/storage/date4.h"
#include "engine/storage/dbf4header.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/memo4file.h"
#include "engine/storage/seqwrite4.h"
#include "engine/storage/system4.h"
#include "engine/storage/text4.h"

namespace {

constexpr int32_t kLocCreate = 90143;
constexpr int32_t kLocReopen = 90131;
constexpr int32_t kLocKnown = 80042;
constexpr int32_t kLocType = 80048;
constexpr int32_t kLocRecordLength = 80051;
constexpr int32_t kLocHeaderLength = 80052;
constexpr int32_t kLocSecondAuto = 80054;
constexpr int32_t kLocAutoType = 80055;
constexpr int kPathMax = 4096;
constexpr uint32_t kMaxLength = 65535;

// How one field of the list is stored: its bytes in the record and its
// descriptor bytes.
struct FieldLayout {
  uint32_t recordLength = 0;
  unsigned char letter = 0;
  uint32_t descriptorLength = 0;  // low byte, then high byte where the type has one
  unsigned char decimals = 0;
  unsigned char flags = 0;
  bool wide = false;  // the decimals byte holds the length's high byte
};

unsigned char upper(int16_t type) {
  return static_cast<unsigned char>(type >= 'a' && type <= 'z' ? type - 32 : type);
}

// The layout of `field` at compatibility `level`: 0, or the raised code.
int32_t layoutOf(CODE4* c, const FIELD4INFO& field, int level, FieldLayout& out) {
  const unsigned char type = upper(field.type);
  const uint32_t len = field.len;
  auto fixed = [&](uint32_t size, unsigned char flags, unsigned char dec = 0) {
    out = {size, type, size, dec, flags, false};
  };
  auto text = [&](uint32_t size, unsigned char letter, unsigned char flags) {
    out = {size, letter, size, 0, flags, true};
  };
  switch (type) {
    case 'C': text(len, 'C', 0); break;
    case 'Z': text(len, 'C', dbf4fieldBinary); break;
    case 'N': case 'F':
      // Length and decimals each have one descriptor byte.
      if (len > 255 || field.dec < 0 || field.dec > 255) return error4(c, e4data, kLocType);
      fixed(len, 0, static_cast<unsigned char>(field.dec));
      break;
    case 'D': fixed(8, 0); break;
    case 'L': fixed(1, 0); break;
    case 'M': case 'G': fixed(level == 30 ? 4 : 10, 0); break;
    case 'X': fixed(4, dbf4fieldBinary); out.letter = 'M'; break;
    case 'B':
      fixed(8, dbf4fieldBinary, static_cast<unsigned char>(field.dec < 0 ? 0 : field.dec));
      break;
    case 'T': fixed(8, dbf4fieldBinary); break;
    case 'Y': fixed(8, dbf4fieldBinary, 4); break;
    case 'I': case 'P': fixed(4, dbf4fieldBinary); break;
    case '1': case '5': case '6': fixed(8, dbf4fieldBinary); break;
    case '2': case '3': fixed(6, dbf4fieldBinary); break;
    case '4': case 'V': fixed(16, dbf4fieldBinary); break;
    case 'Q': case 'R': fixed(2, dbf4fieldBinary); break;
    case 'O': text((len + 2 + 1) / 2 * 2, 'O', dbf4fieldBinary); break;
    case 'W': text((len + 1) / 2 * 2, 'W', dbf4fieldBinary); break;
    default:
      return error4(c, e4fieldType, kLocType);
  }
  const bool only30 = std::strchr("BTYIXZ", type) != nullptr;
  if (only30 && level != 30) return error4(c, e4data, kLocType);
  if (out.recordLength == 0 || out.recordLength > kMaxLength) return error4(c, e4data, kLocType);
  return 0;
}

bool isMemo(unsigned char type) { return type == 'M' || type == 'G' || type == 'X'; }

// The descriptor name: at most ten characters, trailing blanks trimmed,
// upper case.
void descriptorName(const char* name, char out[11]) {
  text4copyBounded(out, name, 11);
  text4trim(out);
  text4upper(out);
}

}  // namespace

int32_t data4createCheckFields(CODE4* c, const FIELD4INFO* fields, Data4FieldSummary& s) {
  s = Data4FieldSummary{};
  const int level = c->compatibility;
  uint64_t length = 1;
  for (const FIELD4INFO* f = fields; f->name != nullptr; f++) {
    FieldLayout layout;
    if (const int32_t rc = layoutOf(c, *f, level, layout); rc < 0) return rc;
    char name[11];
    descriptorName(f->name, name);
    if (name[0] == '\0') return error4(c, e4fieldName, kLocType);
    length += layout.recordLength;
    s.fieldCount++;
    if (level == 30 && f->nulls == field4nullable) s.nullableCount++;
    if (isMemo(upper(f->type))) s.hasMemo = true;
    if (f->nulls == field4autoIncrement) {
      if (s.hasAutoIncrement) return error4(c, e4data, kLocSecondAuto);
      if (upper(f->type) != 'B') return error4(c, e4data, kLocAutoType);
      s.hasAutoIncrement = true;
    }
  }
  // A table without fields could never be opened again.
  if (s.fieldCount == 0) return error4(c, e4data, kLocType);
  if (s.nullableCount > 0) length += (s.nullableCount + 7) / 8;
  // Checked after the null flags are counted: the stored length is 16 bits.
  if (length >= kMaxLength && c->largeFileValue == 0) return error4(c, e4recordLen, kLocRecordLength);
  uint64_t header = 32ull * s.fieldCount + 33;
  if (s.nullableCount > 0) header += dbf4descriptorSize;
  if (level == 30) header += dbf4area30Size;
  if (header >= kMaxLength) return error4(c, e4recordLen, kLocHeaderLength);
  s.recordLength = static_cast<int32_t>(length);
  s.headerLength = static_cast<int32_t>(header);
  return 0;
}

namespace {

Dbf4Header newHeader(CODE4* c, const Data4FieldSummary& s) {
  Dbf4Header h;
  const bool v30 = c->compatibility == 30;
  h.version = v30 ? (s.hasAutoIncrement ? dbf4version30auto : dbf4version30)
                  : (s.hasMemo ? dbf4versionMemo : dbf4version3);
  uint8_t today[3];
  date4todayBytes(today);
  h.year = today[0];
  h.month = today[1];
  h.day = today[2];
  h.headerLength = static_cast<uint16_t>(s.headerLength);
  h.recordLength = static_cast<uint16_t>(s.recordLength);
  h.codePage = static_cast<unsigned char>(c->codePage);
  if (v30 && s.hasMemo) h.flags |= dbf4flagMemo;
  if (s.hasAutoIncrement) dbf4setAutoIncrement(h, c->autoIncrementStart);
  return h;
}

// Writes the header, the descriptors and the terminator of a new file.
int32_t writeHeader(CODE4* c, FILE4* file, const FIELD4INFO* fields, const Data4FieldSummary& s) {
  FILE4SEQWRITE writer;
  char buffer[2048];
  file4seqWriteInit(&writer, file, 0, buffer, sizeof buffer);
  unsigned char bytes[dbf4headerSize];
  dbf4encodeHeader(newHeader(c, s), bytes);
  file4seqWrite(&writer, bytes, sizeof bytes);
  uint32_t offset = 1;
  for (const FIELD4INFO* f = fields; f->name != nullptr; f++) {
    FieldLayout layout;
    layoutOf(c, *f, c->compatibility, layout);
    Dbf4Descriptor d;
    descriptorName(f->name, d.name);
    d.type = layout.letter;
    d.offset = offset;  // where the field really stands
    d.length = static_cast<unsigned char>(layout.descriptorLength);
    d.decimals = layout.wide ? static_cast<unsigned char>(layout.descriptorLength >> 8) : layout.decimals;
    d.flags = layout.flags;
    if (c->compatibility == 30 && f->nulls == field4nullable) d.flags |= dbf4fieldNullable;
    if (f->nulls == field4autoIncrement) d.flags |= dbf4fieldAutoIncrement;
    dbf4encodeDescriptor(d, bytes);
    file4seqWrite(&writer, bytes, dbf4descriptorSize);
    offset += layout.recordLength;
  }
  if (s.nullableCount > 0) {
    Dbf4Descriptor d;
    std::strcpy(d.name, dbf4nullFlagsName);
    d.type = '0';
    d.offset = offset;
    d.length = static_cast<unsigned char>((s.nullableCount + 7) / 8);
    d.flags = 0x05;  // system field, binary
    dbf4encodeDescriptor(d, bytes);
    file4seqWrite(&writer, bytes, dbf4descriptorSize);
  }
  if (c->compatibility == 30) {
    const unsigned char terminator = dbf4terminator;
    file4seqWrite(&writer, &terminator, 1);
    file4seqWriteRepeat(&writer, dbf4area30Size, 0);
  } else {
    const unsigned char end[2] = {dbf4terminator, dbf4endOfFile};
    file4seqWrite(&writer, end, 2);
  }
  return file4seqWriteFlush(&writer);
}

// Files this creation made, removed again when it fails.
struct CreatedFiles {
  std::vector<std::string> names;
  // After a failed sync the folder stays as it is: the next creation of
  // the names replaces them.
  void removeAll(const CODE4* c) {
    if (code4writesEnded(c)) return;
    for (const std::string& name : names) file4remove(name.c_str());
  }
};

// Writes the new data file and its memo file; both are left closed and on
// disk (a temporary table's files are marked for removal once it is open).
// `path` receives the data file's name: a temporary table without a name
// gets one in the temporary folder.
int32_t writeFiles(CODE4* c, const char* fullName, const FIELD4INFO* fields,
                   const Data4FieldSummary& s, CreatedFiles& created, std::string& path) {
  FILE4 file;
  int32_t rc = fullName != nullptr ? file4create(&file, c, fullName, 1)
                                   : file4tempLow(&file, c, 1, 1, "dbf");
  if (rc != 0) return rc;
  path = file.name;
  created.names.emplace_back(path);
  rc = writeHeader(c, &file, fields, s);
  file.isTemp = false;
  const int32_t closed = file4close(&file);
  if (rc < 0) return rc;
  if (closed < 0) return closed;
  if (!s.hasMemo) return 0;
  MEMO4FILE memo;
  rc = memo4fileCreate(&memo, c, nullptr, path.c_str());
  if (memo.file.handle >= 0) {
    created.names.emplace_back(memo.file.name);
    memo.file.isTemp = false;
    const int32_t memoClosed = file4close(&memo.file);
    if (rc == 0) rc = memoClosed;
  }
  return rc;
}

// Opens the table just written, exclusively and without its log entry.
DATA4* reopenNew(CODE4* c, const char* fullName, bool withIndex) {
  const int8_t savedAccess = c->accessMode;
  const int32_t savedAutoOpen = c->autoOpen;
  const int32_t savedState = c->transactionState;
  c->accessMode = 1;
  c->autoOpen = withIndex ? savedAutoOpen : 0;
  c->transactionState = tran4closing;
  DATA4* d = data4open(c, fullName);
  c->accessMode = savedAccess;
  c->autoOpen = savedAutoOpen;
  c->transactionState = savedState;
  return d;
}

bool hasTags(const TAG4INFO* tags) { return tags != nullptr && tags->name != nullptr; }

}  // namespace

DATA4* data4create(CODE4* c, const char* name, const FIELD4INFO* fields, const TAG4INFO* tags) {
  const bool temporary = c != nullptr && c->createTemp != 0;
  if (c == nullptr || fields == nullptr || (name == nullptr && !temporary)) {
    error4(c, e4parmNull, kLocCreate);
    return nullptr;
  }
  if (error4code(c) < 0) return nullptr;
  if (c->autoOpenLog && code4logOpen(c, nullptr, nullptr) < 0) return nullptr;
  char fullName[kPathMax];
  if (name != nullptr && data4fullName(fullName, sizeof fullName, name) < 0) return nullptr;
  if (!temporary && datafile4find(c, fullName) != nullptr) {
    if (code4errCreate(c)) {
      error4describe(c, e4create, kLocKnown, fullName, nullptr, nullptr);
    } else {
      error4set(c, r4noCreate);
    }
    return nullptr;
  }
  Data4FieldSummary summary;
  if (data4createCheckFields(c, fields, summary) < 0) return nullptr;
  const int32_t savedReadOnly = c->readOnly;
  c->readOnly = 0;
  CreatedFiles created;
  std::string path;
  int32_t rc = writeFiles(c, name != nullptr ? fullName : nullptr, fields, summary, created, path);
  DATA4* d = nullptr;
  // A step that failed without a report of its own is reported here; one
  // whose report the program's hook showed and cleared is not reported
  // twice.
  Error4Steps steps(c);
  if (rc == 0) {
    d = reopenNew(c, path.c_str(), false);
    steps.note(d == nullptr ? -1 : 0);
    if (d == nullptr && steps.mayLeave() && error4code(c) >= 0) error4(c, e4open, kLocReopen);
  }
  // Failures are decided from results: the program's hook clears the
  // error code once it has shown the error.
  bool failed = rc != 0 || d == nullptr;
  if (d != nullptr && hasTags(tags)) {
    const int32_t indexed = data4createProductionIndex(d, tags);
    steps.note(indexed);
    if (indexed < 0) {
      failed = true;
      if (steps.mayLeave() && error4code(c) >= 0) error4(c, e4create, kLocReopen);
    }
  }
  if (!temporary && !failed && data4logCreate(d, fields, tags) < 0) failed = true;
  if (temporary && !failed && error4code(c) >= 0) {
    // A temporary table stays open as it is and goes with its last close.
    c->readOnly = savedReadOnly;
    d->dataFile->file.isTemp = true;
    if (d->dataFile->memoOpen) d->dataFile->memoFile.file.isTemp = true;
    return d;
  }
  if (d != nullptr) data4close(d);
  c->readOnly = savedReadOnly;
  if (failed || error4code(c) < 0) {
    // Half-made tables would stop every later start: nothing of this call stays.
    created.removeAll(c);
    return nullptr;
  }
  const int32_t savedAutoOpen = c->autoOpen;
  c->autoOpen = hasTags(tags) ? 1 : 0;
  d = data4open(c, path.c_str());
  c->autoOpen = savedAutoOpen;
  // The tags reopened with the modes their options give; the list's own
  // values hold while the table stays open.
  if (d != nullptr && hasTags(tags)) data4tagsUniqueSet(d, tags);
  return d;
}
