#include "engine/index/cdx4freelist.h"

#include "engine/index/cdx4geometry.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

namespace {

constexpr int32_t kLocFreeBlock = 80307;
constexpr int32_t kLocFileFull = 80308;

uint32_t nodeStep(const INDEX4FILE* i) { return i->blockSize / i->multiplier; }

// A block that can hold a node of this file as it stands.
bool usableNode(const INDEX4FILE* i, uint32_t block) {
  return block != 0 && cdx4nodeOffsetPlausible(block4toOffset(i, block)) &&
         static_cast<uint64_t>(block) + nodeStep(i) <= i->eofBlock;
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
    error4describe(c, e4index, kLocFileFull, i->file.name, nullptr, nullptr);
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
