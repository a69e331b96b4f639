// Merging the runs of the work file.
//
// Each run gets a buffer of whole entries, cut from the memory units, and
// is read through it front to back. The runs with entries left are kept
// ordered by their head entry, so the next entry is always the first run's
// head, and after it is taken that run alone moves to its new place by one
// binary search.
//
// The work file is the sort's own, but it is read as untrusted all the
// same: every read is bounded by the run's end as written, and a read that
// brings back less than was written stops the merge with -70.
#include <algorithm>

#include "engine/index/sort4internal.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/memory4.h"

namespace {

uint32_t ceilDiv(uint32_t a, uint32_t b) { return a / b + (a % b != 0 ? 1 : 0); }

bool runBefore(const SORT4* s, const Sort4Run& a, const Sort4Run& b) {
  const int order = sort4order(s, a.buffer + a.head, b.buffer + b.head);
  return order != 0 ? order < 0 : a.number < b.number;
}

// Reads the run's next window: as much of the rest of the run as the
// buffer holds. A run with nothing left gets an empty window.
int32_t refill(SORT4* s, Sort4Run& run) {
  CODE4* c = s->codeBase;
  const auto n = static_cast<uint32_t>(std::min<uint64_t>(s->runBufferBytes, run.end - run.next));
  run.head = 0;
  run.filled = 0;
  if (n == 0) return 0;
  const uint32_t got = file4read(&s->file, run.next, run.buffer, n);
  if (error4code(c) < 0) return -1;
  if (got != n) return error4describe(c, e4read, sort4locRead, s->file.name, nullptr, nullptr);
  run.next += n;
  run.filled = n;
  return 0;
}

// The run table, within the memory limit: units are given up one at a time
// until it fits (all that was in them is in the work file by now).
int32_t allocateRunTable(SORT4* s) {
  const int64_t bytes = int64_t{s->runCount} * int64_t{sizeof(Sort4Run)};
  for (;;) {
    if (sort4reserve(s, bytes)) {
      s->runs = static_cast<Sort4Run*>(memory4allocRetry(s->codeBase, bytes));
      if (s->runs != nullptr) return 0;
      sort4unreserve(s, bytes);
    }
    if (!sort4releaseUnit(s)) return error4(s->codeBase, e4memory, sort4locGetInit);
  }
}

// Shares the units between the runs: ceil(runs / units) runs per unit, each
// with an equal slice of whole entries. While a slice would hold no entry,
// another unit is taken; when none can be had, the units are given back
// and smaller ones (half the entries) are taken instead. A unit of no
// entry cannot serve: -920.
int32_t shareUnits(SORT4* s, uint32_t& runsPerUnit) {
  const uint32_t runs = s->runCount;
  for (;;) {
    const uint32_t units = s->units.nLink;
    if (units > 0) {
      runsPerUnit = ceilDiv(runs, units);
      const uint32_t perRun = s->entriesPerUnit / runsPerUnit;
      if (perRun > 0) {
        s->runBufferBytes = perRun * s->entrySize;
        return 0;
      }
    }
    if (sort4takeUnit(s) != nullptr) continue;
    s->entriesPerUnit /= 2;
    if (s->entriesPerUnit == 0) return error4(s->codeBase, e4memory, sort4locGetInit);
    sort4releaseUnits(s);
    s->unitSize = sort4unitHeader() + s->entriesPerUnit * s->entrySize;
  }
}

// Moves runs[0], whose head has changed, to its place among the others.
void placeFirst(SORT4* s) {
  Sort4Run* first = s->runs;
  Sort4Run* end = s->runs + s->runsMerging;
  Sort4Run* place =
      std::upper_bound(first + 1, end, *first,
                       [s](const Sort4Run& a, const Sort4Run& b) { return runBefore(s, a, b); });
  std::rotate(first, first + 1, place);
}

// Steps past the head handed out last, reading on when the window is used
// up and dropping the run when it has nothing left.
int32_t advanceFirst(SORT4* s) {
  Sort4Run& run = s->runs[0];
  run.head += s->entrySize;
  if (run.head >= run.filled) {
    const int32_t rc = refill(s, run);
    if (rc < 0) return rc;
  }
  if (run.filled == 0) {
    std::move(s->runs + 1, s->runs + s->runsMerging, s->runs);
    s->runsMerging--;
    return 0;
  }
  placeFirst(s);
  return 0;
}

}  // namespace

int32_t sort4mergeInit(SORT4* s) {
  int32_t rc = allocateRunTable(s);
  uint32_t runsPerUnit = 0;
  if (rc == 0) rc = shareUnits(s, runsPerUnit);
  if (rc < 0) return rc;

  LINK4* unit = list4first(&s->units);
  uint32_t inUnit = 0;
  s->runsMerging = 0;
  for (uint32_t i = 0; i < s->runCount; i++) {
    if (inUnit == runsPerUnit) {
      unit = list4next(&s->units, unit);
      inUnit = 0;
    }
    Sort4Run& run = s->runs[s->runsMerging];
    run.buffer = sort4unitEntries(unit) + uint64_t{inUnit++} * s->runBufferBytes;
    run.number = i;
    run.next = uint64_t{i} * s->runLength;
    run.end = std::min(run.next + s->runLength, s->spooledBytes);
    rc = refill(s, run);
    if (rc < 0) return rc;
    if (run.filled == 0) continue;
    // The new run sits after the ordered ones: rotate it into place.
    Sort4Run* placed =
        std::upper_bound(s->runs, &run, run,
                         [s](const Sort4Run& a, const Sort4Run& b) { return runBefore(s, a, b); });
    std::rotate(placed, &run, &run + 1);
    s->runsMerging++;
  }
  s->headTaken = false;
  return 0;
}

int32_t sort4mergeNext(SORT4* s, const char** entry) {
  // The run that gave the last entry moves on only now: reading on at once
  // could overwrite the entry while the caller still looks at it.
  if (s->headTaken) {
    s->headTaken = false;
    const int32_t rc = advanceFirst(s);
    if (rc < 0) return rc;
  }
  if (s->runsMerging == 0) return r4done;
  const Sort4Run& first = s->runs[0];
  *entry = first.buffer + first.head;
  s->headTaken = true;
  return 0;
}
