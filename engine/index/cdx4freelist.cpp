#include "engine/index/cdx4freelist.h"

#include <algorithm>

#include "engine/index/cdx4geometry.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocFreeBlock = 80307;

uint32_t nodeStep(const INDEX4FILE* i) { return i->blockSize / i->multiplier; }

// A block that can hold a node of this file as it stands.
bool usableNode(const INDEX4FILE* i, uint32_t block) {
  return block != 0 && cdx4nodeOffsetPlausible(block4toOffset(i, block)) &&
         static_cast<uint64_t>(block) + nodeStep(i) <= i->eofBlock;
}

// The nodes the end of the file can still give: the last one must end
// below block4none, which no node may be given.
uint64_t nodesAtEnd(const INDEX4FILE* i) {
  const uint64_t last = block4none - 1;
  return last < i->eofBlock ? 0 : (last - i->eofBlock) / nodeStep(i);
}

// The disk holds room for `nodes` nodes past the end of the file before a
// change may take them. The cache holds new nodes back until a flush: on a
// disk that filled meanwhile, their write-out would fail after the parents
// that name them (written over bytes the file holds) went out, and leave a
// tree that names nodes its file does not hold. Room is set aside in steps
// of a sixteenth of the file (64 KiB to 4 MiB), so that it is asked for
// seldom; a disk without room refuses the change before anything of it.
int32_t reserveRoom(INDEX4FILE* i, uint32_t nodes) {
  constexpr uint64_t kStepMin = 64 << 10;
  constexpr uint64_t kStepMax = 4 << 20;
  const uint64_t end = block4toOffset(i, i->eofBlock) + uint64_t{nodes} * i->blockSize;
  const uint64_t step = std::clamp(block4toOffset(i, i->eofBlock) / 16, kStepMin, kStepMax);
  if (file4reserve(&i->file, end, step) == 0) return 0;
  return error4describe(i->codeBase, e4write, index4locNoRoom, i->file.name, nullptr, nullptr);
}

}  // namespace

uint32_t index4extend(INDEX4FILE* i) {
  CODE4* c = i->codeBase;
  if (error4code(c) < 0) return block4none;
  uint32_t& head = i->tagIndex->header.freeList;
  if (head != 0 && !usableNode(i, head)) head = 0;
  if (head != 0) {
    unsigned char next[4];
    const uint64_t offset = block4toOffset(i, head);
    if (file4read(&i->file, offset, next, sizeof next) != sizeof next) {
      file4readError(&i->file, offset, sizeof next, "index4extend");
      return block4none;
    }
    const uint32_t taken = head;
    const uint32_t successor = endian4::readLe32(next);
    head = successor == taken ? 0 : successor;
    return taken;
  }
  const uint64_t after = static_cast<uint64_t>(i->eofBlock) + nodeStep(i);
  if (after >= block4none) {
    error4describe(c, e4write, index4locFull, i->file.name, nullptr, nullptr);
    return block4none;
  }
  const uint32_t taken = i->eofBlock;
  i->eofBlock = static_cast<uint32_t>(after);
  return taken;
}

int32_t index4freeBlock(INDEX4FILE* i, uint32_t block) {
  CODE4* c = i->codeBase;
  if (error4code(c) < 0) return -1;
  uint32_t& head = i->tagIndex->header.freeList;
  if (!usableNode(i, block) || block == head)
    return error4describe(c, e4index, kLocFreeBlock, i->file.name, nullptr, nullptr);
  unsigned char next[4];
  endian4::writeLe32(next, head);
  if (int32_t rc = file4write(&i->file, block4toOffset(i, block), next, sizeof next); rc < 0)
    return rc;
  head = block;
  return 0;
}

int32_t index4roomGiveBack(INDEX4FILE* i) {
  FILE4* f = &i->file;
  const uint64_t end = block4toOffset(i, i->eofBlock);
  if (!f->roomWritten || f->roomEnd <= end) return 0;
  if (file4writeHeld(f) < 0) return -1;
  return file4lenSetLow(f, end);
}

int32_t index4reserve(INDEX4FILE* i, uint32_t nodes) {
  CODE4* c = i->codeBase;
  if (error4code(c) < 0) return -1;
  uint64_t found = nodesAtEnd(i);
  // The free list as index4extend would hand it out: while its blocks are
  // usable, up to one naming itself.
  for (uint32_t block = i->tagIndex->header.freeList; found < nodes && usableNode(i, block);
       found++) {
    unsigned char next[4];
    const uint64_t offset = block4toOffset(i, block);
    if (file4read(&i->file, offset, next, sizeof next) != sizeof next)
      return file4readError(&i->file, offset, sizeof next, "index4reserve");
    const uint32_t successor = endian4::readLe32(next);
    block = successor == block ? 0 : successor;
  }
  if (found < nodes)
    return error4describe(c, e4write, index4locFull, i->file.name, nullptr, nullptr);
  return reserveRoom(i, nodes);
}
