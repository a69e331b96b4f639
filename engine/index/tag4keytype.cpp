#include "engine/index/tag4keytype.h"

#include <cstring>

#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocKeyType = 80121;
constexpr int32_t kLocCollation = 80187;
constexpr int32_t kCollationKindForKeys = 6;

enum class Pad { Blank, Zero, Keep };

struct Row {
  const char* types;
  Pad pad;
  bool collates;  // C, W and O keys follow the tag's collation
};

constexpr Row kRows[] = {
    {"C", Pad::Blank, true},  {"WO", Pad::Zero, true},  {"Dd", Pad::Zero, false},
    {"IQ", Pad::Zero, false}, {"PR", Pad::Zero, false}, {"T", Pad::Zero, false},
    {"L", Pad::Keep, false},  {"Nn", Pad::Zero, false}, {"Y", Pad::Zero, false},
    {"1", Pad::Zero, false},  {"2", Pad::Zero, false},  {"3", Pad::Zero, false},
    {"4", Pad::Zero, false},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

// A seek text as a character key in machine order: its bytes, cut to the
// key length. The leaf scan treats the missing tail as pad.
int32_t charFromText(const TAG4FILE* t, unsigned char* key, const char* text, int32_t length) {
  const int32_t keyLength = tagfile4keyLength(t);
  if (length > keyLength) length = keyLength;
  if (length < 0) length = 0;
  std::memcpy(key, text, static_cast<size_t>(length));
  return length;
}

// [row][collated]
Tag4KeyRoutines routines[kRowCount][2] = {{{charFromText, nullptr}, {}}};
Tag4Collation collationHooks;

int rowOf(char type) {
  if (type == '\0') return -1;
  for (int r = 0; r < kRowCount; r++)
    if (std::strchr(kRows[r].types, type) != nullptr) return r;
  return -1;
}

}  // namespace

int32_t tag4keyRoutinesInstall(char type, bool collated, const Tag4KeyRoutines& installed) {
  const int row = rowOf(type);
  if (row < 0 || (collated && !kRows[row].collates)) return -1;
  routines[row][collated ? 1 : 0] = installed;
  return 0;
}

void tag4collationInstall(const Tag4Collation& hooks) { collationHooks = hooks; }

int32_t tagfile4keyTypeSet(TAG4FILE* t, char type, int32_t collation) {
  CODE4* c = t->codeBase;
  const int row = rowOf(type);
  if (row < 0) return error4describe(c, e4info, kLocKeyType, t->name, nullptr, nullptr);
  const bool collated = kRows[row].collates && collation != tag4machineOrder;
  Tag4Compare compare = tag4compareBytes;
  if (collated) {
    const int32_t kind = collationHooks.kind == nullptr ? -1 : collationHooks.kind(c, collation);
    if (kind != kCollationKindForKeys || collationHooks.compare == nullptr)
      return error4describe(c, e4collate, kLocCollation, t->name, nullptr, nullptr);
    compare = collationHooks.compare(collation);
    if (compare == nullptr)
      return error4describe(c, e4collate, kLocCollation, t->name, nullptr, nullptr);
  }
  t->keyType = type;
  t->collation = collated ? collation : tag4machineOrder;
  t->wideKey = type == 'W' || type == 'O';
  t->compare = compare;
  t->keyRoutines = routines[row][collated ? 1 : 0];
  switch (kRows[row].pad) {
    case Pad::Blank:
      t->pad = collated ? 0 : ' ';
      break;
    case Pad::Zero:
      t->pad = 0;
      break;
    case Pad::Keep:
      break;
  }
  return 0;
}
