// The process-wide collation descriptors: their initial state, readiness
// for a tag, freeing, and the collation names of tag headers.
#include "engine/index/collate4.h"

#include <cstring>

#include "engine/index/collate4internal.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocCollate = 80187;
constexpr int kNameSize = 8;
constexpr char kGeneralName[kNameSize] = {'G', 'E', 'N', 'E', 'R', 'A', 'L', '\0'};
constexpr int32_t kOemCodePage = 1;

// Puts a descriptor back as the process starts, releasing what it owns.
void setInitial(COLLATE4& d, int32_t number) {
  d.wideBuilt.store(false, std::memory_order_release);
  d.wideTable.reset();
  d.wideExpansion.reset();
  d.loadedTable.reset();
  d.loadedExpansion.reset();
  d.table = nullptr;
  d.expansion = nullptr;
  d.expansionCount = 0;
  d.factor = 0;
  d.marker = 0;
  d.noTail = 0;
  d.lossless = false;
  switch (number) {
    case collate4generalWindows:
    case collate4generalOem:
      d.kind = collate4kindFull;
      d.table = collate4generalTable(number);
      d.expansion = collate4generalExpansion();
      d.expansionCount = collate4generalExpansions;
      d.factor = 1;
      d.marker = collate4generalMarker;
      d.noTail = collate4generalNoTail;
      d.lossless = true;
      break;
    case collate4loadable:
      d.kind = collate4kindUnloaded;
      break;
    default:
      d.kind = collate4kindMachine;
      break;
  }
}

struct Descriptors {
  COLLATE4 items[collate4count];
  Descriptors() {
    for (int32_t number = 1; number <= collate4count; number++)
      setInitial(items[number - 1], number);
  }
};

Descriptors& descriptors() {
  static Descriptors all;
  return all;
}

}  // namespace

std::mutex& collate4lock() {
  static std::mutex lock;
  return lock;
}

COLLATE4* collate4get(int32_t number) {
  if (number < 1 || number > collate4count) return nullptr;
  return &descriptors().items[number - 1];
}

int32_t collate4load(CODE4* c, int32_t number) {
  if (error4code(c) < 0) return -1;
  COLLATE4* collate = collate4get(number);
  if (collate == nullptr) return -1;
  std::lock_guard guard(collate4lock());
  if (collate->kind != collate4kindUnloaded) return 0;
  return collate4loadLocked(c, number, collate);
}

int32_t collate4require(CODE4* c, int32_t number) {
  if (error4code(c) < 0) return -1;
  // 0 is the settings' "no collation": machine order as well.
  if (number == 0 || number == collate4machine) return 0;
  COLLATE4* collate = collate4get(number);
  if (collate == nullptr) return error4(c, e4collate, kLocCollate);
  int32_t rc = 0;
  int32_t kind = 0;
  {
    std::lock_guard guard(collate4lock());
    if (collate->kind == collate4kindUnloaded) rc = collate4loadLocked(c, number, collate);
    kind = collate->kind;
  }
  if (rc == e4collate) return rc;  // already raised
  if (rc < 0 || kind != collate4kindFull) return error4(c, e4collate, kLocCollate);
  return 0;
}

void collate4free() {
  std::lock_guard guard(collate4lock());
  for (int32_t number = 1; number <= collate4count; number++)
    setInitial(descriptors().items[number - 1], number);
}

int32_t collate4numberFromName(CODE4* c, const char* name, int32_t codePage) {
  static constexpr char kNone[kNameSize] = {};
  if (std::memcmp(name, kNone, kNameSize) == 0) return collate4machine;
  if (std::memcmp(name, kGeneralName, kNameSize) == 0)
    return codePage == kOemCodePage ? collate4generalOem : collate4generalWindows;
  if (name[0] == 'C' && name[1] == 'B' && name[7] == '\0') {
    int32_t number = 0;
    bool digits = true;
    for (int i = 2; i < 7; i++) {
      digits = digits && name[i] >= '0' && name[i] <= '9';
      number = number * 10 + (name[i] - '0');
    }
    if (digits && number >= 1 && number <= collate4count) return number;
  }
  return error4(c, e4index, kLocCollate);
}

void collate4nameFromNumber(int32_t number, int32_t codePage, char* name) {
  std::memset(name, 0, kNameSize);
  if (number <= collate4machine) return;
  const bool oem = codePage == kOemCodePage;
  if ((number == collate4generalWindows && !oem) || (number == collate4generalOem && oem)) {
    std::memcpy(name, kGeneralName, kNameSize);
    return;
  }
  name[0] = 'C';
  name[1] = 'B';
  int32_t rest = number % 100000;
  for (int i = 6; i >= 2; i--) {
    name[i] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
}
