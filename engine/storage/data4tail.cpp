#include "engine/storage/data4tail.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "platform/os.h"

namespace {

constexpr int32_t kLocHeader = 80139;
constexpr int32_t kLocDiskCount = 80161;

int32_t headerError(DATA4FILE* df) {
  return error4describe(df->codeBase, e4data, kLocHeader, df->file.name, nullptr, nullptr);
}

// The parts of a record that only hold text: a NUL byte there means the
// bytes were never written. Character and binary fields may hold any byte.
std::vector<std::pair<uint32_t, uint32_t>> textOnlyFields(const DATA4FILE* df) {
  const bool v30 = df->header.version == dbf4version30;
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  uint32_t offset = 1;
  for (const Dbf4Descriptor& d : df->descriptors) {
    const unsigned char type = d.type >= 'a' && d.type <= 'z' ? d.type - 32 : d.type;
    const bool textOnly = type == 'N' || type == 'F' || type == 'D' || type == 'L' ||
                          (!v30 && (type == 'M' || type == 'G' || type == 'B'));
    if (textOnly) ranges.emplace_back(offset, dbf4storedLength(d));
    offset += dbf4storedLength(d);
  }
  return ranges;
}

bool wholeRecord(const char* record, const std::vector<std::pair<uint32_t, uint32_t>>& textOnly) {
  if (record[0] != ' ' && record[0] != '*') return false;
  for (const auto& [offset, length] : textOnly) {
    if (std::memchr(record + offset, '\0', length) != nullptr) return false;
  }
  return true;
}

// Reads [at, +n): through the engine's view of the file (its held writes
// included), or from the disk alone.
bool readRange(DATA4FILE* df, uint64_t at, char* out, uint32_t n, bool fromDisk) {
  if (fromDisk) return file4readLow(&df->file, at, out, n) == n;
  return file4readAll(&df->file, at, out, n) == 0;
}

// The number of the first record from `from` on, below `upTo`, that is not
// whole (upTo when all are); -1 when a read failed.
int64_t firstBrokenRecord(DATA4FILE* df, uint64_t from, uint64_t upTo, bool fromDisk) {
  constexpr uint32_t kChunk = 65536;
  const uint32_t length = df->header.recordLength;
  const uint64_t perChunk = std::max<uint64_t>(1, kChunk / length);
  const auto textOnly = textOnlyFields(df);
  std::string chunk;
  uint64_t n = from;
  while (n < upTo) {
    const uint64_t take = std::min(perChunk, upTo - n);
    chunk.resize(take * length);
    const uint64_t at = df->header.headerLength + n * length;
    if (!readRange(df, at, chunk.data(), static_cast<uint32_t>(chunk.size()), fromDisk)) return -1;
    for (uint64_t i = 0; i < take; i++, n++) {
      if (!wholeRecord(chunk.data() + i * length, textOnly)) return static_cast<int64_t>(n);
    }
  }
  return static_cast<int64_t>(n);
}

// Ends the file right after its first `records` records, with the
// end-of-file mark where the file's level keeps one. The file is cut one
// byte longer and the mark written over that byte: on a full disk, a mark
// that had to grow the file again could not be written.
int32_t endAfter(DATA4FILE* df, uint64_t records) {
  const uint64_t end = df->header.headerLength + records * df->header.recordLength;
  const bool marked = df->compatibility != 30;
  if (file4lenSetLow(&df->file, end + (marked ? 1 : 0)) < 0) return -1;
  if (!marked) return 0;
  const unsigned char mark = dbf4endOfFile;
  return file4write(&df->file, end, &mark, 1);
}

// Whether the file holds bytes after its first `records` records other
// than one end-of-file mark: bytes that were never a record.
int32_t strayBytesAfter(DATA4FILE* df, uint64_t records, uint64_t length, bool& stray) {
  const uint64_t end = df->header.headerLength + records * df->header.recordLength;
  stray = length > end + 1;
  if (length != end + 1) return 0;
  unsigned char last = 0;
  if (file4readAll(&df->file, end, &last, 1) < 0) return -1;
  stray = last != dbf4endOfFile;
  return 0;
}

// The number of the first whole record from `from` on, below `upTo` (upTo
// when none is); -1 when a read failed.
int64_t firstWholeRecord(DATA4FILE* df, uint64_t from, uint64_t upTo) {
  const uint32_t length = df->header.recordLength;
  const auto textOnly = textOnlyFields(df);
  std::string record(length, '\0');
  for (uint64_t n = from; n < upTo; n++) {
    const uint64_t at = df->header.headerLength + n * length;
    if (!readRange(df, at, record.data(), length, false)) return -1;
    if (wholeRecord(record.data(), textOnly)) return static_cast<int64_t>(n);
  }
  return static_cast<int64_t>(upTo);
}

void report(DATA4FILE* df, int32_t location) {
  error4describe(df->codeBase, e4data, location, df->file.name, nullptr, nullptr);
  error4set(df->codeBase, 0);
}

// The table counts `records` from now on; its index is rebuilt from them.
void setCount(DATA4FILE* df, uint64_t records) {
  df->rebuildIndex = true;
  df->header.recordCount = static_cast<uint32_t>(records);
  df->liveCount = static_cast<int64_t>(records);
  df->headerChanged = true;
}

// A header that counts more records than the file holds: the count reached
// the disk without the last records (an older writer, or a disk that kept
// the header of a write it lost). The owner takes the count back to the
// records there are and ends the file after them; a reader reads those.
int32_t takeCountBack(DATA4FILE* df, uint64_t records, bool owner) {
  report(df, data4locCountTakenBack);
  if (!owner) {
    df->header.recordCount = static_cast<uint32_t>(records);
    df->liveCount = static_cast<int64_t>(records);
    return 0;
  }
  setCount(df, records);
  if (endAfter(df, records) < 0) error4set(df->codeBase, 0);
  return 0;
}

}  // namespace

int32_t datafile4settleTail(DATA4FILE* df) {
  CODE4* c = df->codeBase;
  if (c->largeFileValue != 0 || c->accessMode == 0) return 0;
  const uint64_t length = file4lenLow(&df->file);
  if (length == UINT64_MAX) return -1;
  if (length < df->header.headerLength) return headerError(df);
  const uint64_t records = (length - df->header.headerLength) / df->header.recordLength;
  // A file only read is taken as its header counts it: what lies beyond is
  // for its writer to settle.
  const bool owner = c->accessMode == 1 && !df->file.isReadOnly;
  if (records < df->header.recordCount) return takeCountBack(df, records, owner);
  if (!owner) return 0;
  const uint64_t count = df->header.recordCount;
  // Records beyond the count are adopted while they are whole: the writer
  // died before the header, written last, took them in.
  uint64_t kept = count;
  bool lost = false;
  if (records > count) {
    const int64_t broken = firstBrokenRecord(df, count, records, false);
    if (broken < 0) return -1;
    kept = static_cast<uint64_t>(broken);
    // Whole records after a damaged one: the disk lost some of the last
    // records written and kept later ones, as a power cut can.
    if (kept < records) {
      const int64_t whole = firstWholeRecord(df, kept + 1, records);
      if (whole < 0) return -1;
      lost = static_cast<uint64_t>(whole) < records;
    }
  }
  bool stray = false;
  if (strayBytesAfter(df, kept, length, stray) < 0) return -1;
  if (kept == count && !stray) return 0;
  // Each reported once: the cut leaves nothing for the next open to find.
  if (stray) report(df, data4locTailCut);
  if (lost) report(df, data4locRecordsLost);
  if (lost && c->tailCutDeferred) {
    df->tailCutPending = true;
    df->tailKept = kept;
  } else if (endAfter(df, kept) < 0) {
    error4set(c, 0);
  }
  if (kept == count) return 0;
  // Keys of the records adopted may or may not have reached the index: it
  // is rebuilt before anyone trusts it. (Keys of a record cut short are the
  // index's own unfinished change, which its change mark tells.)
  setCount(df, kept);
  return 0;
}

int32_t datafile4tailCut(DATA4FILE* df) {
  if (!df->tailCutPending) return 0;
  if (endAfter(df, df->tailKept) < 0) return -1;
  df->tailCutPending = false;
  return 0;
}

int32_t data4tailCut(DATA4* d) { return datafile4tailCut(d->dataFile); }

int64_t data4recordsOnDisk(DATA4* d) {
  DATA4FILE* df = d->dataFile;
  unsigned char bytes[dbf4headerSize];
  uint64_t length = 0;
  if (file4readLow(&df->file, 0, bytes, sizeof bytes) != sizeof bytes ||
      platform::os().fileSize(df->file.handle, length) != 0) {
    error4describe(df->codeBase, e4read, kLocDiskCount, df->file.name, nullptr, nullptr);
    return -1;
  }
  const uint64_t start = df->header.headerLength;
  if (length < start) return 0;
  const uint64_t records = (length - start) / df->header.recordLength;
  const uint64_t counted = std::min<uint64_t>(dbf4decodeHeader(bytes).recordCount, records);
  const int64_t whole = firstBrokenRecord(df, counted, records, true);
  if (whole < 0)
    error4describe(df->codeBase, e4read, kLocDiskCount, df->file.name, nullptr, nullptr);
  return whole;
}
