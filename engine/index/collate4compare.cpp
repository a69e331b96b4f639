// Comparing a stored key with a search key under a collation.
//
// Collated keys are weights (bytes of 10 and above) followed by sub-sorts
// and zero fill (bytes below 10). Weights decide first; only when they
// agree do the sub-sorts. A search key built from a partial text matches
// every stored key that begins with its weights and sub-sorts.
#include <algorithm>
#include <cstring>

#include "engine/index/collate4.h"

namespace {

constexpr unsigned char kWeightMin = 10;
constexpr unsigned char kBlankWeight = 17;

bool isWeight(unsigned char byte) { return byte >= kWeightMin; }

int byteCompare(const unsigned char* stored, const unsigned char* search, int32_t searchLength,
                int32_t storedLength) {
  const int32_t common = std::max(std::min(searchLength, storedLength), 0);
  const int rc = std::memcmp(stored, search, static_cast<size_t>(common));
  if (rc != 0) return rc < 0 ? -1 : 1;
  // A stored key shorter than the search sorts before it.
  return searchLength > storedLength ? -1 : 0;
}

int32_t trailingBlanks(const char* text, int32_t length) {
  int32_t count = 0;
  while (count < length && text[length - 1 - count] == ' ') count++;
  return count;
}

}  // namespace

int collate4keyCompare(const char* storedKey, const char* searchKey, int32_t searchLength,
                       int32_t storedLength, int32_t spareZeros, const COLLATE4* collate,
                       const char* searchText, int32_t searchTextLength) {
  const auto* stored = reinterpret_cast<const unsigned char*>(storedKey);
  const auto* search = reinterpret_cast<const unsigned char*>(searchKey);
  if (collate == nullptr || collate->kind == collate4kindMachine)
    return byteCompare(stored, search, searchLength, storedLength);

  // 1. Weights.
  int32_t i = 0;
  for (; i < searchLength && i < storedLength && isWeight(search[i]); i++) {
    if (stored[i] != search[i]) return stored[i] < search[i] ? -1 : 1;
  }

  // 2. The search text's trailing blanks were not converted: stored blanks
  //    and zero fill where they would have been still match.
  if (searchText != nullptr && searchLength < storedLength &&
      int64_t{searchTextLength} * (collate->factor + 1) > searchLength) {
    const int32_t blanks = trailingBlanks(searchText, searchTextLength);
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(int64_t{i} + blanks, storedLength));
    for (int32_t j = i; j < end; j++) {
      if (stored[j] != kBlankWeight && stored[j] != 0) return 1;
    }
    return 0;
  }

  // 3. Sub-sorts, after whatever weights the stored key has beyond the
  //    search key's.
  const bool storedHasMore = i < storedLength && isWeight(stored[i]);
  int32_t j = i;
  while (j < storedLength && isWeight(stored[j])) j++;
  int32_t s = i;
  for (;; s++, j++) {
    if (s >= searchLength || isWeight(search[s])) return 0;
    if (j >= storedLength) {
      if (spareZeros > 0 && search[s] == 0) {
        spareZeros--;
        j--;
        continue;
      }
      return storedHasMore ? 1 : -1;
    }
    if (stored[j] != search[s]) break;
  }

  // 4. The first differing sub-sort.
  if (storedHasMore) return 1;
  return stored[j] < search[s] ? -1 : 1;
}

int key4compare(const char* stored, const char* search, int32_t searchLength, int32_t storedLength,
                int32_t spareZeros, const COLLATE4* collate) {
  return collate4keyCompare(stored, search, searchLength, storedLength, spareZeros, collate,
                            nullptr, 0);
}
