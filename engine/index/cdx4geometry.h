// Blocks of a CDX file: the unit every pointer counts in.
//
// Every pointer in the file (root, free list, siblings, children, the tag
// header positions held in the tag of tags) is a block number, and
//   byte offset = block number x multiplier            (computed in 64 bits)
// With the default multiplier 1 a block number is a byte offset. Nodes are
// `blockSize` bytes; moving n nodes is n x blockSize / multiplier blocks.
//
// Layout of a file written by this engine:
//   0                 file header (the tag of tags' header), 1024 bytes
//   1024 x i          header of the i-th tag, 1024 bytes each
//   after the last    nodes of the tag of tags, then of each tag
// Headers are 1024 bytes and every block size is a multiple of 512, so every
// node of a sound file starts at a multiple of 512 at or beyond 1024; block
// 0 is never a node.
#pragma once

#include <cstdint>

struct CODE4;
struct INDEX4FILE;

// "No block": a sibling pointer at either end of a level, a failed allocation.
inline constexpr uint32_t block4none = 0xFFFFFFFF;

inline constexpr uint32_t cdx4headerSize = 1024;
// Node offsets and block sizes are multiples of this.
inline constexpr uint32_t cdx4blockUnit = 512;
inline constexpr uint32_t cdx4defaultBlockSize = 512;
inline constexpr uint32_t cdx4defaultMultiplier = 1;
// A leaf's free-byte count is a 16-bit field: larger nodes cannot be told.
inline constexpr uint32_t cdx4blockSizeMax = 65536;

// 0 when the node size and multiplier make a usable file, else the raised
// -310 (location 85305): the block size a multiple of 512 from 512 to
// cdx4blockSizeMax and of the multiplier, and a multiplier dividing 1024
// (so below 1025, as creation demands).
int32_t cdx4geometryCheck(CODE4* c, uint32_t blockSize, uint32_t multiplier);

// True when a byte offset can hold a node (or a tag header) of a sound file:
// beyond the file header and on a 512-byte boundary.
bool cdx4nodeOffsetPlausible(uint64_t offset);

uint64_t block4toOffset(const INDEX4FILE* i, uint32_t block);
// block4none when the offset is no whole block number below block4none.
uint32_t block4fromOffset(const INDEX4FILE* i, uint64_t offset);
// The block `nodes` nodes further on or back; block4none when the result
// leaves 0 .. block4none - 1.
uint32_t block4add(const INDEX4FILE* i, uint32_t block, int32_t nodes);
uint32_t block4subtract(const INDEX4FILE* i, uint32_t block, int32_t nodes);
