// Loading a collation from its three tables in the current directory.
//
// "coll4inf", record N, describes collation N:
//   ISUNICODE L   a wide collation (refused)
//   COLLSTART N   first record of "collate4"      COLLEND N    last record
//   COMPSTART N   first record of "compres4"      COMPEND N    last record
//   EXPANREQD L   characters expand to two weights
//   COMPREQD  L   two characters compress to one weight
//   SUBREQD   L   sub-sort values are used
//   COMPCHAR  N   the expansion marker weight     NOTAILCHAR N  the no-tail sub-sort
//   TRANSREQD L   a translation is used at all    LOSSINFO L   keys lose information
// "collate4": one record per character 0-255 in order, exactly 256 of them:
//   TRANS_CODE N (weight), SBSORTCODE N (sub-sort); both 0-255.
// "compres4": one record per expansion entry, 1 to 256 of them, read only
// when the collation expands or compresses:
//   IS_EXPAND L (kind 1 when true, else 2), CHAR1 N, CHAR2 N (0-255),
//   SUBSORTMOD N (not used).
//
// The tables come from outside: every number is checked before it is used
// as an index or a byte, and the descriptor changes only once everything has
// been read and checked. Every table opened is closed on every way out.
#include <cstring>
#include <memory>
#include <new>

#include "engine/index/collate4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/convert4.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"
#include "engine/storage/file4.h"

namespace {

constexpr int32_t kLocCollate = 80187;
constexpr int64_t kExpansionsMax = 256;

// Opening the tables is quiet and read-only: a missing or damaged table is
// reported once, as the collation's failure, by whoever asked for it.
class QuietSettings {
 public:
  explicit QuietSettings(CODE4* c)
      : c_(c),
        errOpen_(c->errOpen),
        errFieldName_(c->errFieldName),
        autoOpen_(c->autoOpen),
        readOnly_(c->readOnly),
        code_(error4code(c)) {
    c->errOpen = 0;
    c->errFieldName = 0;
    c->autoOpen = 0;
    c->readOnly = 1;
  }
  ~QuietSettings() {
    c_->errOpen = errOpen_;
    c_->errFieldName = errFieldName_;
    c_->autoOpen = autoOpen_;
    c_->readOnly = readOnly_;
    if (error4code(c_) == r4noOpen) error4set(c_, code_);
  }
  QuietSettings(const QuietSettings&) = delete;
  QuietSettings& operator=(const QuietSettings&) = delete;

 private:
  CODE4* c_;
  int32_t errOpen_, errFieldName_, autoOpen_, readOnly_, code_;
};

// One open table whose records are read by number.
class Table {
 public:
  Table(CODE4* c, const char* name) : d_(data4open(c, name)) {}
  ~Table() {
    if (d_ != nullptr) data4close(d_);
  }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  bool isOpen() const { return d_ != nullptr; }

  // Reads record `number` (from 1) into the handle's record buffer.
  bool read(int64_t number) {
    DATA4FILE* df = d_->dataFile;
    if (number < 1 || number > df->header.recordCount) return false;
    const uint64_t offset =
        df->header.headerLength + static_cast<uint64_t>(number - 1) * df->recordLength;
    return file4readAll(&df->file, offset, d_->record, df->recordLength) == 0;
  }

  // A numeric field of the current record.
  bool number(const char* name, int64_t* value) {
    const FIELD4* field = data4field(d_, name);
    if (field == nullptr || (field->type != 'N' && field->type != 'F')) return false;
    *value = convert4textToInt64(field4ptr(field), static_cast<int32_t>(field4len(field)));
    return true;
  }

  // A numeric field that must hold a byte value.
  bool byte(const char* name, unsigned char* value) {
    int64_t n = 0;
    if (!number(name, &n) || n < 0 || n > 255) return false;
    *value = static_cast<unsigned char>(n);
    return true;
  }

  bool logical(const char* name, bool* value) {
    const FIELD4* field = data4field(d_, name);
    if (field == nullptr || field->type != 'L' || field4len(field) < 1) return false;
    const char c = field4ptr(field)[0];
    *value = c == 'T' || c == 't' || c == 'Y' || c == 'y';
    return true;
  }

 private:
  DATA4* d_;
};

struct Info {
  bool unicode = false, expand = false, compress = false, subSort = false;
  bool translate = false, losesInfo = false;
  int64_t collStart = 0, collEnd = 0, compStart = 0, compEnd = 0;
  unsigned char marker = 0, noTail = 0;

  int32_t kind() const {
    if (!translate) return collate4kindMachine;
    const bool expansions = expand || compress;
    if (subSort) return expansions ? collate4kindFull : collate4kindSubSort;
    return expansions ? collate4kindExpand : collate4kindTranslate;
  }
  uint16_t factor() const { return subSort || expand ? 1 : 0; }
  bool hasExpansions() const { return expand || compress; }
};

bool readInfo(CODE4* c, int32_t number, Info* info) {
  Table table(c, "coll4inf");
  return table.isOpen() && table.read(number) && table.logical("ISUNICODE", &info->unicode) &&
         table.number("COLLSTART", &info->collStart) && table.number("COLLEND", &info->collEnd) &&
         table.number("COMPSTART", &info->compStart) && table.number("COMPEND", &info->compEnd) &&
         table.logical("EXPANREQD", &info->expand) && table.logical("COMPREQD", &info->compress) &&
         table.logical("SUBREQD", &info->subSort) && table.byte("COMPCHAR", &info->marker) &&
         table.byte("NOTAILCHAR", &info->noTail) && table.logical("TRANSREQD", &info->translate) &&
         table.logical("LOSSINFO", &info->losesInfo);
}

// 256 pairs (weight, sub-sort); without sub-sorts every sub-sort is the
// no-tail value, so that keys carry none.
std::unique_ptr<unsigned char[]> readTranslation(CODE4* c, const Info& info) {
  if (info.collStart < 1 || info.collEnd - info.collStart + 1 != collate4characters) return nullptr;
  Table table(c, "collate4");
  if (!table.isOpen()) return nullptr;
  std::unique_ptr<unsigned char[]> pairs(new (std::nothrow) unsigned char[2 * collate4characters]);
  if (pairs == nullptr) return nullptr;
  for (int ch = 0; ch < collate4characters; ch++) {
    unsigned char* pair = pairs.get() + 2 * ch;
    pair[1] = info.noTail;
    if (!table.read(info.collStart + ch) || !table.byte("TRANS_CODE", &pair[0])) return nullptr;
    if (info.factor() == 1 && !table.byte("SBSORTCODE", &pair[1])) return nullptr;
  }
  return pairs;
}

// The entries followed by the end entry; `count` receives how many.
std::unique_ptr<Collate4Expansion[]> readExpansions(CODE4* c, const Info& info, int32_t* count) {
  *count = 0;
  const int64_t n = info.hasExpansions() ? info.compEnd - info.compStart + 1 : 0;
  if (n < 0 || n > kExpansionsMax || (n > 0 && info.compStart < 1)) return nullptr;
  std::unique_ptr<Collate4Expansion[]> entries(new (std::nothrow) Collate4Expansion[n + 1]);
  if (entries == nullptr) return nullptr;
  if (n > 0) {
    Table table(c, "compres4");
    if (!table.isOpen()) return nullptr;
    for (int64_t i = 0; i < n; i++) {
      bool isExpand = false;
      unsigned char first = 0, second = 0;
      if (!table.read(info.compStart + i) || !table.logical("IS_EXPAND", &isExpand) ||
          !table.byte("CHAR1", &first) || !table.byte("CHAR2", &second))
        return nullptr;
      entries[i] = {isExpand ? collate4expand : collate4compress, first, second};
    }
  }
  entries[n] = Collate4Expansion{};
  *count = static_cast<int32_t>(n);
  return entries;
}

// Every character that carries the marker must name an entry that exists.
bool expansionsReachable(const unsigned char* pairs, const Info& info, int32_t count) {
  if (!info.hasExpansions()) return true;
  for (int ch = 0; ch < collate4characters; ch++) {
    if (pairs[2 * ch] == info.marker && pairs[2 * ch + 1] >= count) return false;
  }
  return true;
}

}  // namespace

int32_t collate4loadLocked(CODE4* c, int32_t number, COLLATE4* collate) {
  QuietSettings quiet(c);
  Info info;
  if (!readInfo(c, number, &info)) return -1;
  if (info.unicode) return error4(c, e4collate, kLocCollate);

  const int32_t kind = info.kind();
  std::unique_ptr<unsigned char[]> pairs;
  std::unique_ptr<Collate4Expansion[]> entries;
  int32_t count = 0;
  if (kind != collate4kindMachine) {
    pairs = readTranslation(c, info);
    if (pairs == nullptr) return -1;
    entries = readExpansions(c, info, &count);
    if (entries == nullptr || !expansionsReachable(pairs.get(), info, count)) return -1;
  }
  if (error4code(c) < 0) return -1;

  collate->loadedTable = std::move(pairs);
  collate->loadedExpansion = std::move(entries);
  collate->table = collate->loadedTable.get();
  collate->expansion = collate->loadedExpansion.get();
  collate->expansionCount = count;
  collate->factor = info.factor();
  collate->marker = info.marker;
  collate->noTail = info.noTail;
  collate->lossless = !info.losesInfo;
  collate->kind = kind;
  return 0;
}
