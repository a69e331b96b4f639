// What the sort engine's sources share: the order of entries, memory
// units, and the merge. Not for callers of the sort.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/index/sort4.h"

// Locations of the sort's public operations.
inline constexpr int32_t sort4locGet = 90181;
inline constexpr int32_t sort4locPut = 90182;
inline constexpr int32_t sort4locGetInit = 90185;
inline constexpr int32_t sort4locInit = 90187;
inline constexpr int32_t sort4locRead = 90191;

inline uint32_t sort4recordOf(const SORT4* s, const char* entry) {
  uint32_t record;
  std::memcpy(&record, entry + s->keyLength, sizeof record);
  return record;
}

// Negative, 0 or positive as entry a sorts before, with or after entry b:
// key first, then record number.
inline int sort4order(const SORT4* s, const char* a, const char* b) {
  const int byKey = s->compare(a, b, s->keyLength);
  if (byKey != 0) return byKey;
  const uint32_t ra = sort4recordOf(s, a);
  const uint32_t rb = sort4recordOf(s, b);
  return ra < rb ? -1 : ra > rb ? 1 : 0;
}

// Records the sort's first failure and returns `rc`.
int32_t sort4fail(SORT4* s, int32_t rc);

// Memory units. A unit is counted against memoryLimit while held.
// The entry storage of a fresh unit, or null when the limit or the heap
// refuses one (nothing is raised).
char* sort4takeUnit(SORT4* s);
// The entry storage of a held unit.
char* sort4unitEntries(LINK4* unit);
// Frees the unit taken last: false when none is held.
bool sort4releaseUnit(SORT4* s);
void sort4releaseUnits(SORT4* s);
// Counts `bytes` against memoryLimit: false, counting nothing, when they
// do not fit.
bool sort4reserve(SORT4* s, int64_t bytes);
void sort4unreserve(SORT4* s, int64_t bytes);
// The bytes before the entries of a unit.
uint32_t sort4unitHeader();

// The merge (sort4merge.cpp). sort4mergeInit starts it over the runCount
// runs of the flushed work file, with the pointer array and spool buffer
// already freed. sort4mergeNext gives the next entry: 0, r4done when every
// run is used up, or a negative failure.
int32_t sort4mergeInit(SORT4* s);
int32_t sort4mergeNext(SORT4* s, const char** entry);
