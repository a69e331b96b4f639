// The tag layer's key-type table filled with the key conversions of
// key4.h and the collations of collate4.h, once per process, before the
// first index file is opened or created.
//
// The seek converters make a key of a search value: each is made in a work
// buffer (collated text takes up to twice the text's length, and a wide
// collated key twice that again) and cut to the tag's key length.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/index/block4leaf.h"
#include "engine/index/collate4.h"
#include "engine/index/index4internal.h"
#include "engine/index/key4.h"
#include "engine/index/tag4keytype.h"

namespace {

// Bytes of the key a double seek value makes, by key type.
int32_t doubleKeyLength(char type) {
  switch (type) {
    case 'I': case 'Q': case 'P': case 'R':
      return key4intLength;
    case '2':
      return key4partsLength;
    default:
      return key4doubleLength;
  }
}

int32_t cutToKey(const TAG4FILE* t, unsigned char* key, const std::vector<char>& made,
                 int32_t length) {
  length = std::clamp(length, 0, tagfile4keyLength(t));
  std::memcpy(key, made.data(), static_cast<size_t>(length));
  return length;
}

template <char Type, bool Collated>
int32_t seekText(const TAG4FILE* t, unsigned char* key, const char* text, int32_t length) {
  Key4Seek seek;
  key4seekConverters(nullptr, Type, Collated, &seek);
  length = std::max(length, 0);
  std::vector<char> made(static_cast<size_t>(length) * 4 + 32);
  COLLATE4* collate = Collated ? collate4get(t->collation) : nullptr;
  int32_t madeLength = 0;
  const int32_t rc = seek.fromText(collate, made.data(), text, length, &madeLength);
  if (rc < 0) return rc;
  return cutToKey(t, key, made, madeLength);
}

template <char Type>
int32_t seekDouble(const TAG4FILE* t, unsigned char* key, double value) {
  Key4Seek seek;
  key4seekConverters(nullptr, Type, false, &seek);
  std::vector<char> made(key4dateTimePartsLength);
  seek.fromDouble(made.data(), value);
  return cutToKey(t, key, made, doubleKeyLength(Type));
}

template <char Type>
void installPlain(bool withDouble) {
  Tag4KeyRoutines r;
  r.fromText = seekText<Type, false>;
  if (withDouble) r.fromDouble = seekDouble<Type>;
  tag4keyRoutinesInstall(Type, false, r);
}

template <char Type>
void installCollated() {
  Tag4KeyRoutines r;
  r.fromText = seekText<Type, true>;
  tag4keyRoutinesInstall(Type, true, r);
}

int32_t collationKind(CODE4* c, int32_t number) {
  if (collate4require(c, number) < 0) return -1;
  const COLLATE4* collate = collate4get(number);
  return collate == nullptr ? -1 : collate->kind;
}

// The tag layer's compare contract over a collation: -1 when the stored
// key sorts after the search value, the search length when it matches as
// far as the value goes, else fewer than that many equal bytes.
template <int32_t Number>
int32_t collatedCompare(const unsigned char* stored, const unsigned char* value, int32_t length) {
  const auto* s = reinterpret_cast<const char*>(stored);
  const auto* v = reinterpret_cast<const char*>(value);
  const int order = key4compare(s, v, length, length, 0, collate4get(Number));
  if (order > 0) return -1;
  if (order == 0) return length;
  return std::min(leaf4::sharedPrefix(stored, value, length), length - 1);
}

Tag4Compare collationCompare(int32_t number) {
  switch (number) {
    case collate4generalWindows:
      return collatedCompare<collate4generalWindows>;
    case collate4generalOem:
      return collatedCompare<collate4generalOem>;
    case collate4loadable:
      return collatedCompare<collate4loadable>;
    default:
      return nullptr;
  }
}

}  // namespace

void index4keyRoutinesInstall() {
  installPlain<'C'>(false);
  installCollated<'C'>();
  installPlain<'W'>(false);
  installCollated<'W'>();
  installPlain<'D'>(true);
  installPlain<'N'>(true);
  installPlain<'Y'>(true);
  installPlain<'I'>(true);
  installPlain<'P'>(true);
  installPlain<'L'>(false);
  installPlain<'T'>(false);
  installPlain<'1'>(true);
  installPlain<'2'>(true);
  installPlain<'3'>(false);
  installPlain<'4'>(false);
  tag4collationInstall({collationKind, collationCompare});
}

void index4keyRoutinesReady() {
  static std::once_flag installed;
  std::call_once(installed, index4keyRoutinesInstall);
}
