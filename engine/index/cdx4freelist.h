// Block allocation: the free list and the end of the file.
//
// Free blocks form a last-in first-out chain. The head is the file header's
// free-list field (bytes 4..7); the first 4 bytes of a free block, little-
// endian, name the next free block, 0 ending the chain:
//
//   OFFSET SIZE  CONTENT (a free block)
//        0    4  next free block number, 0 for none
//        4  ...  whatever the block held before
//
// The head is kept in the tag of tags' header in memory and reaches the
// file with the header's next flush.
#pragma once

#include <cstdint>

struct INDEX4FILE;

// One block for a new node: the free-list head, or else the end-of-file
// block, which then moves on by one node. block4none (-1) on failure.
//
// The head is used only when it can be a node of this file (beyond the file
// header, on a 512-byte boundary, a whole node before the end-of-file
// block); any other head is dropped as one beyond the end of the file would
// be. Its successor is read into a temporary: a short read raises -70 and
// leaves the head as it was; a successor naming the head itself ends the
// list.
uint32_t index4extend(INDEX4FILE* i);

// Puts `block` at the head of the free list: its first 4 bytes take the
// current head. 0, a raised file error, or -310 for a block that cannot be a
// node of this file or is the head already.
int32_t index4freeBlock(INDEX4FILE* i, uint32_t block);
