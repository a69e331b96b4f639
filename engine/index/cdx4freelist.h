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

// Where a node the file cannot give is refused. Block numbers are 32-bit
// (with the default multiplier, byte offsets below 4 GiB): once the end of
// the file reaches the last of them, only the free list gives nodes. The
// refusal is raised as a full disk's is, e4write.
inline constexpr int32_t index4locFull = 80308;
// Where a change is refused because the disk has no room left for the new
// nodes it may take (e4write, naming the index file).
inline constexpr int32_t index4locNoRoom = 80311;

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

// 0 when `nodes` new nodes can be had, from the end of the file and then
// from the free list, so that a change taking at most that many runs to
// its end, and the disk holds room for that many past the end of the file;
// else the refusal (e4write at index4locFull, or at index4locNoRoom for a
// full disk), raised before anything changed, or a raised read error of the
// free list. The free list is read only where the end of the file cannot
// give them all.
int32_t index4reserve(INDEX4FILE* i, uint32_t nodes);

// Room written past the end of the file's nodes (where the file system
// cannot set it aside, file4reserve) would be taken for nodes by the next
// open, or by another process at its lock: the writes held for the nodes
// go out and the file ends after its last node again. For the last close
// of an exclusive file, and for a shared one before its unlock. 0, or a
// raised failure (the room then stays: only a little of the disk is lost).
int32_t index4roomGiveBack(INDEX4FILE* i);
