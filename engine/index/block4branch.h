// Branch nodes: whole keys with child pointers.
//
//   OFFSET            SIZE  CONTENT
//        0              12  common part (block4.h)
//       12 + i x (L+8)   L  entry i: the key
//                        4  record number, BIG-endian
//                        4  child block number, BIG-endian
//
// An entry's key and record number are those of the last (greatest) entry
// of its child's subtree; entries ascend by key, then record number.
// Capacity: (block size - 12) / (L + 8) entries, at least 2 in a file this
// engine accepts.
#pragma once

#include <cstdint>

struct BLOCK4;

namespace branch4 {

int capacity(int blockSize, int keyLength);
inline int entrySize(int keyLength) { return keyLength + 8; }
unsigned char* entry(unsigned char* node, int keyLength, int i);
const unsigned char* entry(const unsigned char* node, int keyLength, int i);
uint32_t record(const unsigned char* node, int keyLength, int i);
uint32_t child(const unsigned char* node, int keyLength, int i);
void put(unsigned char* node, int keyLength, int i, const unsigned char* key, uint32_t record,
         uint32_t child);

// The branch half of block4check: the count within capacity and every child
// a plausible node other than the node itself.
int32_t check(BLOCK4* b);
int seek(BLOCK4* b, const unsigned char* key, int length);
int insert(BLOCK4* b, const unsigned char* key, uint32_t record, uint32_t child, int placement,
           BLOCK4* parent);
void replace(BLOCK4* b, const unsigned char* key, uint32_t record);
void remove(BLOCK4* b);
// Copies the entries from `keep` on into `to`, leaving `b` unchanged;
// truncate then drops them from `b`.
void splitInto(BLOCK4* b, BLOCK4* to, int keep);
void truncate(BLOCK4* b, int keep);

// Makes room in a full node of exactly two entries by passing one entry to
// a sibling that holds fewer than two, through `parent` (whose cursor is on
// this node's entry):
// - cursor above 0 and a left sibling under the parent: this node's first
//   entry goes to the end of the left sibling, the cursor falls by one, and
//   the parent's entry for the sibling takes its new last key;
// - cursor on 0 and a right sibling under the parent: this node's last
//   entry goes to the front of the right sibling, and the parent's entry
//   for this node takes its new last key.
// The sibling is written at once; the parent and this node are marked
// changed. 0 done, 1 not possible, or a negative error (-310 when the
// sibling pointers and the parent disagree).
int rebalance(BLOCK4* b, BLOCK4* parent);

}  // namespace branch4
