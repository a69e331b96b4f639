// Collated keys of 8-bit and wide text, and the wide tables they need.
//
// A key is built in two passes over the text: the first counts the weights
// (and checks every expansion), the second writes the weights from the
// start of the key and the sub-sorts right after the last weight. Knowing
// where the sub-sorts begin means nothing has to be held aside, so no text
// is too long to convert without allocating.
#include <algorithm>
#include <cstring>
#include <new>

#include "engine/index/collate4.h"
#include "engine/index/collate4internal.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocCollate = 80187;
constexpr int32_t kLocWideMemory = 90339;
constexpr uint32_t kBlank = 0x20;
// Texts longer than this have no key length in 32 bits.
constexpr int32_t kTextMax = INT32_MAX / 2;

struct Weight {
  uint32_t weight;
  uint32_t subSort;
};

struct NarrowLookup {
  const unsigned char* table;
  Weight operator()(uint32_t c) const { return {table[2 * c], table[2 * c + 1]}; }
};

struct WideLookup {
  const unsigned char* table;
  Weight operator()(uint32_t c) const {
    const unsigned char* entry = table + static_cast<size_t>(collate4wideEntrySize) * c;
    return {static_cast<uint32_t>(entry[0]) << 8 | entry[1], entry[2]};
  }
};

// Calls emit(weight) for every weight the first `count` characters give.
// False when a character names an expansion that is missing, not of kind
// collate4expand, or names characters beyond 255.
template <typename CharAt, typename Lookup, typename Emit>
bool walk(const COLLATE4& collate, const Collate4Expansion* expansion, int32_t count, CharAt charAt,
          Lookup lookup, Emit emit) {
  for (int32_t i = 0; i < count; i++) {
    const Weight w = lookup(charAt(i));
    if (w.weight != collate.marker) {
      emit(w);
      continue;
    }
    if (w.subSort >= static_cast<uint32_t>(collate.expansionCount)) return false;
    const Collate4Expansion& entry = expansion[w.subSort];
    if (entry.kind != collate4expand) return false;
    if (entry.first < 0 || entry.first > 255 || entry.second < 0 || entry.second > 255)
      return false;
    emit(lookup(static_cast<uint32_t>(entry.first)));
    emit(lookup(static_cast<uint32_t>(entry.second)));
  }
  return true;
}

// Writes the key of `count` characters into keyLength bytes, each weight and
// sub-sort taking `unit` bytes high byte first. What does not fit is
// dropped; the rest of the key is zero.
template <typename CharAt, typename Lookup>
int32_t build(const COLLATE4& collate, const Collate4Expansion* expansion, int32_t count,
              CharAt charAt, Lookup lookup, int unit, unsigned char* key, int64_t keyLength) {
  int64_t weights = 0;
  if (!walk(collate, expansion, count, charAt, lookup, [&](Weight) { weights++; }))
    return error4(nullptr, e4collate, kLocCollate);
  std::memset(key, 0, static_cast<size_t>(keyLength));
  int64_t at = 0;
  int64_t tail = weights * unit;
  auto put = [&](int64_t& position, uint32_t value) {
    if (position + unit > keyLength) return;
    if (unit == 2) key[position++] = static_cast<unsigned char>(value >> 8);
    key[position++] = static_cast<unsigned char>(value);
  };
  walk(collate, expansion, count, charAt, lookup, [&](Weight w) {
    put(at, w.weight);
    if (w.subSort != collate.noTail) put(tail, w.subSort);
  });
  return 0;
}

// Builds the wide tables of a collation of kind 2 or 6: characters 0-255
// take their 8-bit weight and sub-sort, every other character itself as
// weight and the no-tail sub-sort.
int32_t buildWide(COLLATE4& collate) {
  std::lock_guard guard(collate4lock());
  if (collate.wideBuilt.load(std::memory_order_acquire)) return 0;
  if ((collate.kind != collate4kindSubSort && collate.kind != collate4kindFull) ||
      collate.table == nullptr)
    return error4(nullptr, e4collate, kLocCollate);
  constexpr size_t kSize = static_cast<size_t>(collate4wideCharacters) * collate4wideEntrySize;
  std::unique_ptr<unsigned char[]> table(new (std::nothrow) unsigned char[kSize]);
  const size_t entries = static_cast<size_t>(std::max(collate.expansionCount, 1));
  std::unique_ptr<Collate4Expansion[]> expansion(new (std::nothrow) Collate4Expansion[entries]);
  if (table == nullptr || expansion == nullptr) return error4(nullptr, e4memory, kLocWideMemory);
  for (uint32_t c = 0; c < collate4wideCharacters; c++) {
    unsigned char* entry = table.get() + static_cast<size_t>(collate4wideEntrySize) * c;
    const uint32_t weight = c < collate4characters ? collate.table[2 * c] : c;
    entry[0] = static_cast<unsigned char>(weight >> 8);
    entry[1] = static_cast<unsigned char>(weight);
    entry[2] = static_cast<unsigned char>(c < collate4characters ? collate.table[2 * c + 1]
                                                                 : collate.noTail);
  }
  std::copy_n(collate.expansion, collate.expansionCount, expansion.get());
  collate.wideTable = std::move(table);
  collate.wideExpansion = std::move(expansion);
  collate.wideBuilt.store(true, std::memory_order_release);
  return 0;
}

}  // namespace

int32_t collate4stringToKey(COLLATE4* collate, char* key, const char* text, int32_t length,
                            int32_t* keyLength) {
  const int32_t n = std::clamp(length, 0, kTextMax);
  *keyLength = 2 * n;
  if (length > kTextMax) return error4(nullptr, e4parm, kLocCollate);
  if (collate->table == nullptr) return error4(nullptr, e4collate, kLocCollate);
  int32_t count = n;
  while (count > 0 && static_cast<unsigned char>(text[count - 1]) == kBlank) count--;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  return build(
      *collate, collate->expansion, count, [bytes](int32_t i) { return uint32_t{bytes[i]}; },
      NarrowLookup{collate->table}, 1, reinterpret_cast<unsigned char*>(key), 2 * int64_t{n});
}

int32_t key4fromWideCollate(COLLATE4* collate, char* key, const char* text, int32_t byteLength,
                            int32_t* keyLength) {
  if (!collate->wideBuilt.load(std::memory_order_acquire)) {
    if (const int32_t rc = buildWide(*collate); rc < 0) return rc;
  }
  const int64_t n = std::max(byteLength, 0);
  const int64_t length = n + n * collate->factor;
  if (length > INT32_MAX) return error4(nullptr, e4parm, kLocCollate);
  *keyLength = static_cast<int32_t>(length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  auto charAt = [bytes](int32_t i) {
    return uint32_t{bytes[2 * i]} | uint32_t{bytes[2 * i + 1]} << 8;
  };
  int32_t count = static_cast<int32_t>(n / 2);
  while (count > 0 && charAt(count - 1) == kBlank) count--;
  return build(*collate, collate->wideExpansion.get(), count, charAt,
               WideLookup{collate->wideTable.get()}, 2, reinterpret_cast<unsigned char*>(key),
               length);
}

int32_t collate4textKey(COLLATE4* collate, bool wide, char* key, const char* text, int32_t length,
                        int32_t* keyLength) {
  if (collate == nullptr || collate->kind != collate4kindFull) return -1;
  if (wide) return key4fromWideCollate(collate, key, text, length, keyLength);
  return collate4stringToKey(collate, key, text, length, keyLength);
}
