// The recency lists: uses, clocks, ageing, the choice of a block to reuse
// and promotion to the priority lists.
//
// Two clocks measure age. The write clock advances each time a block is
// (re)assigned and is stamped into it; the read clock advances each time a
// use renews a block's stamp, which happens only when the stamp is older
// than the minimum age, so that a hot block does not race the clock. Ages
// are unsigned differences; when a clock wraps to 0 every stamp of that
// clock is cleared, so no block looks younger than it is by a whole turn.
#include <algorithm>

#include "engine/storage/cache4core.h"
#include "engine/storage/endian4.h"

namespace {

// The limits of each list as shares of the total block count: the blocks
// ageing leaves uncut, the write age past which a block is cut anyway, and
// the read age from which a block may be cut at all.
struct Limits {
  double minimum;
  double reassign;
  double use;
};
constexpr Limits kLimits[cache4listCount] = {
    {0.05, 0.10, 0.10},  // other
    {0.05, 0.25, 0.25},  // data
    {0.05, 0.25, 0.25},  // index
    {0.10, 1.00, 1.00},  // data priority
    {0.15, 2.00, 2.00},  // index priority
};

// A node is a branch when its attribute, the little-endian word at its
// start, is below 2 (0 branch, 1 root branch; 2 and 3 are leaves).
constexpr uint16_t kLeafAttribute = 2;
constexpr uint32_t kNodeSize = 512;

uint32_t share(uint32_t total, double part) {
  return static_cast<uint32_t>(static_cast<double>(total) * part);
}

void advanceReadClock(Cache4& k) {
  if (++k.readClock != 0) return;
  for (uint32_t i = 0; i < k.totalBlocks + k.reserveBlocks; i++) k.blocks[i].useStamp = 0;
}

void advanceWriteClock(Cache4& k) {
  if (++k.writeClock != 0) return;
  for (uint32_t i = 0; i < k.totalBlocks + k.reserveBlocks; i++) k.blocks[i].writeStamp = 0;
}

// Walks a list from its oldest block and cuts it after the last block that
// may be reused: one not used within the list's use age, that either was
// assigned longer ago than the reassignment age or leaves more than the
// minimum count of blocks after it.
void ageList(Cache4& k, Cache4List& list) {
  Cache4Block* cut = nullptr;
  uint32_t after = list.blocks.size();
  for (Cache4Block* b = list.blocks.first(); b != nullptr; b = Cache4ListChain::next(b)) {
    if (k.readClock - b->useStamp < list.useAge) break;
    after--;
    if (k.writeClock - b->writeStamp > list.reassignAge) {
      cut = b;
    } else if (after <= list.minimumCount) {
      break;
    } else {
      cut = b;
    }
  }
  list.cut = cut;
}

// Ages every list or, counting, only those whose countdown has run out;
// a list still without a cut waits one pass longer next time.
void ageLists(Cache4& k, bool counting) {
  for (int position = 0; position < cache4listCount; position++) {
    Cache4List& list = k.lists[position];
    if (counting) {
      if (--list.countdown >= 1) continue;
      list.countdown = position;
    }
    ageList(k, list);
    if (list.cut == nullptr) list.countdown++;
  }
}

Cache4Block* firstCut(Cache4& k) {
  for (Cache4List& list : k.lists) {
    if (list.cut != nullptr) return list.blocks.first();
  }
  return nullptr;
}

// Without any cut, the oldest block of the list that holds more than its
// share; the priority lists give way only when the others are nearly empty.
Cache4List* largestShare(Cache4& k) {
  const uint32_t average = (k.lists[cache4other].blocks.size() + k.lists[cache4data].blocks.size() +
                            k.lists[cache4index].blocks.size()) /
                           3;
  Cache4List* chosen = nullptr;
  if (average < 1) {
    chosen = k.lists[cache4dataPriority].blocks.empty() ? &k.lists[cache4indexPriority]
                                                        : &k.lists[cache4dataPriority];
  } else {
    chosen = &k.lists[cache4index];
    for (Cache4ListKind kind : {cache4other, cache4data, cache4index}) {
      if (k.lists[kind].blocks.size() > average) {
        chosen = &k.lists[kind];
        break;
      }
    }
  }
  if (!chosen->blocks.empty()) return chosen;
  // The rule above can name an empty list while others hold blocks.
  for (Cache4List& list : k.lists) {
    if (!list.blocks.empty()) return &list;
  }
  return nullptr;
}

bool isBranchNode(const char* node) {
  return endian4::readLe16(reinterpret_cast<const unsigned char*>(node)) < kLeafAttribute;
}

void moveTo(Cache4& k, Cache4Block* b, Cache4ListKind kind) {
  cache4listRemove(k, b);
  cache4listAdd(k, b, kind);
}

}  // namespace

void cache4listsInit(Cache4& k) {
  for (int kind = 0; kind < cache4listCount; kind++) {
    Cache4List& list = k.lists[kind];
    list.blocks.clear();
    list.cut = nullptr;
    list.countdown = 0;
    list.minimumCount = share(k.totalBlocks, kLimits[kind].minimum);
    list.reassignAge = share(k.totalBlocks, kLimits[kind].reassign);
    list.useAge = share(k.totalBlocks, kLimits[kind].use);
  }
  k.minimumAge = std::max<uint32_t>(2, k.totalBlocks / 100);
  k.readClock = 0;
  k.writeClock = 0;
}

Cache4ListKind cache4listFor(uint8_t cacheType) {
  switch (cacheType) {
    case file4cacheData:
      return cache4data;
    case file4cacheIndex:
      return cache4index;
    default:
      return cache4other;
  }
}

void cache4listAdd(Cache4& k, Cache4Block* b, Cache4ListKind kind) {
  k.lists[kind].blocks.pushBack(b);
  b->list = &k.lists[kind];
}

void cache4listRemove(Cache4& /*k*/, Cache4Block* b) {
  Cache4List* list = b->list;
  if (list->cut == b) list->cut = Cache4ListChain::prev(b);
  list->blocks.remove(b);
  b->list = nullptr;
}

void cache4use(Cache4& k, Cache4Block* b) {
  Cache4List* list = b->list;
  if (list->blocks.last() != b) {
    if (list->cut == b) list->cut = Cache4ListChain::prev(b);
    list->blocks.remove(b);
    list->blocks.pushBack(b);
  }
  if (k.readClock - b->useStamp > k.minimumAge) {
    b->useStamp = k.readClock;
    advanceReadClock(k);
  }
  b->weight += b->file->readWeight;
}

void cache4stampAssigned(Cache4& k, Cache4Block* b) {
  advanceWriteClock(k);
  b->writeStamp = k.writeClock;
  advanceReadClock(k);
  b->useStamp = k.readClock;
  b->weight = 0.0;
}

Cache4Block* cache4victim(Cache4& k) {
  if (!k.freeBlocks.empty()) return k.freeBlocks.first();
  if (Cache4Block* b = firstCut(k)) return b;
  ageLists(k, true);
  if (Cache4Block* b = firstCut(k)) return b;
  ageLists(k, false);
  if (Cache4Block* b = firstCut(k)) return b;
  Cache4List* list = largestShare(k);
  return list == nullptr ? nullptr : list->blocks.first();
}

void cache4promote(Cache4& k, Cache4Block* b) {
  if (b->list == &k.lists[cache4data]) {
    if (b->offset == 0) moveTo(k, b, cache4dataPriority);
    return;
  }
  if (b->list != &k.lists[cache4index] || b->validLength != k.blockSize) return;
  const bool halves = k.blockSize == 2 * kNodeSize;
  if (isBranchNode(b->data) || (halves && isBranchNode(b->data + kNodeSize)))
    moveTo(k, b, cache4indexPriority);
}
