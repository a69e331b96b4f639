// Shared by the seed programs: turns nodes the engine made into the shapes
// another writer gives them, with bit 2 set in the attribute and leaf
// entries no wider than their fields need (one byte for tiny tags).
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/index/block4leaf.h"
#include "engine/storage/endian4.h"

inline void fuzz4markNode(unsigned char* node) { node[0] |= 4; }

// Re-packs the entries of a leaf image into the fewest bytes that hold its
// record numbers and counts; the key bytes stay where they are.
inline void fuzz4narrowLeaf(unsigned char* node) {
  const leaf4::Widths wide = leaf4::widthsOf(node);
  const int count = endian4::readLe16(node + 2);
  if (count == 0 || !leaf4::widthsUsable(wide)) return;
  uint32_t highest = 0;
  for (int i = 0; i < count; i++) highest = std::max(highest, leaf4::entryAt(node, wide, i).record);
  leaf4::Widths narrow = wide;
  const int counts = wide.d + wide.t;
  narrow.n = std::max(1, (static_cast<int>(std::bit_width(highest)) + counts + 7) / 8);
  narrow.r = std::min(8 * narrow.n - counts, leaf4::kRecordBitsMax);
  if (narrow.n >= wide.n) return;
  // Forward: entry i moves down to i x n', below where entry i + 1 is read.
  for (int i = 0; i < count; i++) leaf4::putEntry(node, narrow, i, leaf4::entryAt(node, wide, i));
  std::memset(node + leaf4::kEntries + narrow.n * count, 0, (wide.n - narrow.n) * count);
  leaf4::writeWidths(node, narrow);
  leaf4::setFreeBytes(node, leaf4::freeBytes(node) + (wide.n - narrow.n) * count);
}

// A whole CDX file of 512-byte nodes, `tags` tags and no free block (every
// block after the headers is a node), every node shaped so.
inline std::vector<unsigned char> fuzz4foreignShaped(std::vector<unsigned char> bytes,
                                                     size_t tags) {
  for (size_t at = 1024 * (tags + 1); at + 512 <= bytes.size(); at += 512) {
    unsigned char* node = bytes.data() + at;
    fuzz4markNode(node);
    if (node[0] & 2) fuzz4narrowLeaf(node);
  }
  return bytes;
}
