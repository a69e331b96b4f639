// INDEX4FILE: one open CDX file, as far as block allocation and nodes use
// it. The index-file layer grows it (tags, users, lock owner, versions,
// the data file it belongs to); these fields and their meaning stay.
//
// Thread rule: used from the thread that owns the table; the file's own
// section guards each transfer.
#pragma once

#include <cstdint>

#include "engine/storage/file4.h"
#include "engine/storage/list4.h"
#include "engine/storage/memory4.h"

struct CODE4;
struct TAG4FILE;

struct INDEX4FILE {
  LINK4 link;
  CODE4* codeBase = nullptr;
  FILE4 file;
  // The tag of tags. Its header is the file header, which holds the
  // free-list head that index4extend and index4freeBlock keep.
  TAG4FILE* tagIndex = nullptr;
  uint32_t blockSize = 512;
  uint32_t multiplier = 1;
  // The block a new node gets when the free list is empty.
  uint32_t eofBlock = 0;
  // One unit per node in memory: a BLOCK4 followed by its node image.
  MEMORY4* blockMemory = nullptr;
};

// Sets the geometry (checked: -310 at 85305), takes the end-of-file block
// from the open file and makes the node pool (-920 at 90012). The file must
// be open.
int32_t indexfile4initNodes(INDEX4FILE* i, CODE4* c, uint32_t blockSize, uint32_t multiplier);
void indexfile4releaseNodes(INDEX4FILE* i);

// Takes the end-of-file block from the file length, rounded up to the next
// node boundary so that a file with a torn tail still gets aligned nodes,
// and never inside the file header.
int32_t index4eofTake(INDEX4FILE* i);
