// BLOCK4: one node of a tag's B-tree, in memory, and the operations on it.
//
// Every block of a CDX file other than the headers is a node. Common part,
// little-endian:
//
//   OFFSET SIZE  CONTENT
//        0    2  attribute: bit 0 root, bit 1 leaf (0 branch, 1 root branch,
//                2 leaf, 3 root leaf); bit 2 carries nothing the engine
//                reads (another writer sets it on many nodes); any higher
//                bit marks a damaged node
//        2    2  number of entries
//        4    4  left sibling block, 0xFFFFFFFF for none
//        8    4  right sibling block, 0xFFFFFFFF for none
//       12  ...  branch entries (block4branch.h) or the leaf header, info
//                entries and packed keys (block4leaf.h)
//
// A node is read through block4read, which checks it whole before anything
// uses it; every other operation relies on that check and keeps the node
// sound. Nodes come from the index file's node pool (the BLOCK4 and its node
// image in one unit) with a key work buffer from the tag's key pool.
#pragma once

#include <cstdint>

#include "engine/index/cdx4geometry.h"
#include "engine/storage/list4.h"

struct TAG4FILE;

enum : uint16_t {
  block4attrBranch = 0,
  block4attrRootBranch = 1,
  block4attrLeaf = 2,
  block4attrRootLeaf = 3,
};

inline constexpr int block4headerSize = 12;

// {record number, key}: the record number in native order, then the key
// bytes and one terminating zero byte, as one key-pool unit.
struct B4KEY_DATA {
  uint32_t num;
};
inline unsigned char* b4keyValue(B4KEY_DATA* k) {
  return reinterpret_cast<unsigned char*>(k) + sizeof(B4KEY_DATA);
}
inline const unsigned char* b4keyValue(const B4KEY_DATA* k) {
  return reinterpret_cast<const unsigned char*>(k) + sizeof(B4KEY_DATA);
}

struct BLOCK4 {
  LINK4 link;  // on the tag's path or spare list
  TAG4FILE* tag = nullptr;
  bool changed = false;
  uint32_t fileBlock = block4none;
  // The cursor: an entry index, or the entry count for "after the last".
  // Moved through block4goTo, block4go, block4top and the seeks, which keep
  // the leaf fields below in step; edits re-derive positions themselves.
  int32_t keyOn = 0;
  // Leaf only: the cursor entry's counts, and the end (exclusive offset) of
  // its stored key bytes, which lie immediately below that offset; after
  // the last entry, the lowest offset of the key area.
  int32_t curDupCnt = 0;
  int32_t curTrailCnt = 0;
  int32_t curPos = 0;
  // The entry whose key is expanded in `builtKey` (-1 none) and, for a leaf,
  // the end of its stored bytes. Any change to the node forgets it.
  int32_t builtOn = -1;
  int32_t builtPos = 0;
  B4KEY_DATA* builtKey = nullptr;
  // Leaf only: the key expanded before the built one (the entry before it
  // after a step), so that an insert, which needs the keys on both sides
  // of the cursor, never walks the leaf again from its start.
  int32_t spareOn = -1;
  int32_t sparePos = 0;
  B4KEY_DATA* spareKey = nullptr;

  // The node image, block size bytes, follows the structure in its unit.
  unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
  const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(this + 1); }
};

// A node for `fileBlock` with a zeroed image and the cursor on entry 0;
// null after error4memory (-920, location 90012).
BLOCK4* block4alloc(TAG4FILE* t, uint32_t fileBlock);
void block4free(BLOCK4* b);
// Forgets the expanded keys, after any change to the node's entries.
inline void block4forgetKeys(BLOCK4* b) { b->builtOn = b->spareOn = -1; }

// Reads the node at `fileBlock` and checks it: 0, a raised file error
// (-70 for a short read), or -310 for a damaged node, naming the file and
// the node's offset. A node that fails is left with no block.
int32_t block4read(BLOCK4* b, uint32_t fileBlock);
// The check block4read applies, for an image filled another way; a node
// that passes has its cursor on entry 0.
int32_t block4check(BLOCK4* b);
// Writes the image at its block's offset and clears the changed flag.
int32_t block4flush(BLOCK4* b);

// Fields of the common part. The attribute is read without bit 2, one of
// the four values above; it is written as given, and a node whose
// attribute is not rewritten keeps the bit it was read with.
int block4attribute(const BLOCK4* b);
void block4attributeSet(BLOCK4* b, int attribute);
bool block4leaf(const BLOCK4* b);
int block4numKeys(const BLOCK4* b);
void block4numKeysSet(BLOCK4* b, int count);
uint32_t block4left(const BLOCK4* b);
uint32_t block4right(const BLOCK4* b);
void block4leftSet(BLOCK4* b, uint32_t block);
void block4rightSet(BLOCK4* b, uint32_t block);

// {record, key} of entry i (a leaf key expanded in the work buffer, a
// branch record converted from big-endian); null when i is not an entry, or
// after error4index (-310, location 80000) on a damaged leaf.
B4KEY_DATA* block4key(BLOCK4* b, int i);
// The record number of entry i; 0 when i is not an entry.
uint32_t block4recNo(BLOCK4* b, int i);
// Branch only: the child block of entry i.
uint32_t block4child(const BLOCK4* b, int i);

// Cursor moves. block4go moves by n entries and returns how many it moved:
// forward it stops after the last entry, back on entry 0.
int block4go(BLOCK4* b, int n);
void block4goEof(BLOCK4* b);
void block4top(BLOCK4* b);
// Puts the cursor on entry i (0 <= i <= count).
void block4goTo(BLOCK4* b, int i);

// 0 found, 2 not found. Branch: the cursor on the first entry whose key,
// over `length` bytes, is not below `key`, else on the last entry. Leaf: on
// the first key that begins with `key` (0), else on the first greater key
// or after the last (2). An empty node answers 2 with the cursor on 0.
int block4seek(BLOCK4* b, const void* key, int length);
// As block4seek, then forward over entries of an equal key while their
// record number is below `record` (never past a branch's last entry): 0
// when the cursor ends on an entry of an equal key, else 2.
int block4seekBranch(BLOCK4* b, const void* key, int length, uint32_t record);

// Leaf only: sets the widths for the tag's key length and record count and
// empties the node (count 0, entry area zeroed).
void block4leafInit(BLOCK4* b);

// Inserts before the cursor entry (at the end when the cursor is after
// the last): 0 inserted with the cursor on the new entry; 1 no room, the
// node unchanged.
int block4insertLeaf(BLOCK4* b, const void* key, uint32_t record);

// How a branch insert places its child pointer.
enum : int {
  // Split propagation: the entry now at the cursor keeps the child its
  // predecessor at that place had, and the entry after it gets `child`
  // (unless the new entry is the last one, which gets `child` itself).
  block4childAfter = 0,
  // The new entry gets `child`.
  block4childHere = 1,
};

// Branch insert at the cursor: 0, 1 no room, or a negative error. A full
// node holding two entries first tries to pass one to a sibling through
// `parent` (null: no parent known); see block4branch.h.
int block4insertBranch(BLOCK4* b, const void* key, uint32_t record, uint32_t child, int placement,
                       BLOCK4* parent);
// Branch: the cursor entry gets a new key and record, keeping its child.
void block4branchReplace(BLOCK4* b, const void* key, uint32_t record);

// Removes the cursor entry (nothing when the cursor is after the last): 0,
// or -310 when a damaged leaf cannot hold the result (the node is then
// unchanged). The cursor stays on the same index, now the next entry.
int block4remove(BLOCK4* b);

// Splits a full node: the node keeps its block and the first part of its
// entries, a new node from index4extend becomes its right sibling with the
// rest (the old right neighbour's left pointer is patched on disk, after
// checking that it points back). The cursor goes with its entry;
// `cursorInNew` tells which node holds it. Both become non-root nodes; the
// caller writes both. Null after an error, with the node unchanged.
BLOCK4* block4split(TAG4FILE* t, BLOCK4* b, bool* cursorInNew = nullptr);

// Raises -310 at `location`, naming the file and the node's byte offset;
// only answers -310 while the index file's damage is quiet.
int32_t block4damaged(BLOCK4* b, int32_t location);
