// One block of the block cache and the intrusive lists that thread blocks.
//
// A block is a block-sized piece of one file, keyed by the file and the
// block's offset in it. While assigned it sits in three lists at once: its
// hash bucket, its recency list and its file's list of blocks, and in a
// fourth, its file's changed blocks, while it holds bytes the disk has not
// been given; while free it sits in the free list only. The lists are threaded through the block
// itself, so nothing is allocated once the cache has started.
//
// Thread rule: blocks and every list of them belong to the engine's calling
// thread; the workers never touch them.
#pragma once

#include <cstdint>

struct FILE4;
struct Cache4List;
struct Cache4Block;

struct Cache4Links {
  Cache4Block* prev = nullptr;
  Cache4Block* next = nullptr;
};

struct Cache4Block {
  Cache4Links hashLinks;     // in its hash bucket while assigned
  Cache4Links listLinks;     // in its recency list, or in the free list
  Cache4Links fileLinks;     // in its file's blocks while assigned
  Cache4Links changedLinks;  // in its file's changed blocks while changed
  FILE4* file = nullptr;     // with `offset` the lookup key; null while free
  uint64_t offset = 0;       // a multiple of the block size
  char* data = nullptr;      // block-sized, inside one of the cache buffers
  // Bytes of `data` that hold the file from `offset` on. Below the block
  // size only where the file ended when the block was last filled or
  // written; the file may have grown since (see cache4io.cpp).
  uint32_t validLength = 0;
  // Holds bytes the disk has not been given yet; set and cleared through
  // cache4markChanged and cache4markClean, which keep the file's list.
  bool changed = false;
  // A data file's first block: the bytes past its header are on the disk
  // as the block holds them (a clean block, or cache4writeRecordsBefore),
  // until a write reaches past the header.
  bool firstRecordsOut = true;
  // A data file's first block: its header (the record count) changed since
  // the disk was last given it.
  bool headerChanged = false;
  uint32_t writeStamp = 0;     // write clock when the block was (re)assigned
  uint32_t useStamp = 0;       // read clock when the block was last renewed
  double weight = 0.0;         // sum of the read weights of its uses
  Cache4List* list = nullptr;  // its recency list; null while free
};

// A list of blocks threaded through one link pair of each block, in the
// order they were added at the back. A block is in at most one list per
// link pair; the caller knows which.
template <Cache4Links Cache4Block::*Links>
class Cache4Chain {
 public:
  Cache4Block* first() const { return first_; }
  Cache4Block* last() const { return last_; }
  uint32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  static Cache4Block* next(const Cache4Block* b) { return (b->*Links).next; }
  static Cache4Block* prev(const Cache4Block* b) { return (b->*Links).prev; }

  void pushBack(Cache4Block* b) {
    Cache4Links& links = b->*Links;
    links.prev = last_;
    links.next = nullptr;
    if (last_ != nullptr)
      (last_->*Links).next = b;
    else
      first_ = b;
    last_ = b;
    size_++;
  }

  void pushFront(Cache4Block* b) {
    Cache4Links& links = b->*Links;
    links.prev = nullptr;
    links.next = first_;
    if (first_ != nullptr)
      (first_->*Links).prev = b;
    else
      last_ = b;
    first_ = b;
    size_++;
  }

  // Puts `b` right after `at`, or first when `at` is null.
  void insertAfter(Cache4Block* at, Cache4Block* b) {
    if (at == nullptr) {
      pushFront(b);
      return;
    }
    Cache4Block* following = (at->*Links).next;
    Cache4Links& links = b->*Links;
    links.prev = at;
    links.next = following;
    (at->*Links).next = b;
    if (following != nullptr)
      (following->*Links).prev = b;
    else
      last_ = b;
    size_++;
  }

  void remove(Cache4Block* b) {
    Cache4Links& links = b->*Links;
    if (links.prev != nullptr)
      (links.prev->*Links).next = links.next;
    else
      first_ = links.next;
    if (links.next != nullptr)
      (links.next->*Links).prev = links.prev;
    else
      last_ = links.prev;
    links = Cache4Links{};
    size_--;
  }

  void clear() {
    first_ = last_ = nullptr;
    size_ = 0;
  }

 private:
  Cache4Block* first_ = nullptr;
  Cache4Block* last_ = nullptr;
  uint32_t size_ = 0;
};

using Cache4HashChain = Cache4Chain<&Cache4Block::hashLinks>;
using Cache4ListChain = Cache4Chain<&Cache4Block::listLinks>;
using Cache4FileBlocks = Cache4Chain<&Cache4Block::fileLinks>;
using Cache4ChangedBlocks = Cache4Chain<&Cache4Block::changedLinks>;
