// What the files of the index rebuild share. Not for callers outside the
// index-file layer.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/index/index4internal.h"

struct FILE4;
struct SORT4;

// What a rebuild wrote, for the open file's tags once the file is in
// place. Per tag, in the order of the file's list of tags.
struct Reindex4Result {
  uint32_t version = 0;
  uint32_t tagOfTagsRoot = 0;
  std::vector<uint32_t> roots;
  std::vector<uint32_t> headerBlocks;
  std::vector<uint16_t> keyLengths;
};

// Writes the whole index file of `index` into `target`: the tag of tags,
// every tag's keys read from the table, the headers, the file length.
// 0, 20 (a duplicate in a unique tag or a repeated tag name) or a negative
// error; -310 without a report for a single-tag file with more tags.
int32_t reindex4build(INDEX4* index, FILE4* target, Reindex4Result* result);

// Reads the keys of tag `t` from every record of the table into `sort`,
// made here (key length `keyLength`, no extra bytes) and ready for
// reading. The handle's record buffer is used to evaluate them. 0 or a
// negative error.
int32_t reindex4readKeys(INDEX4* index, TAG4FILE* t, int32_t keyLength, int32_t records,
                         SORT4* sort);

// The work file of a rebuild: created beside the index file (so that it
// can be renamed over it), exclusively, and removed when closed unless it
// took the index's place. 0 or a negative error.
int32_t reindex4workFile(INDEX4FILE* i, FILE4* work);
// Removes the work files a rebuild killed half way left beside an index
// file held exclusively (no other rebuild of it can be running then).
void reindex4removeStale(INDEX4FILE* i);
// Puts the rebuilt file in place of the index file's contents and reopens
// what must be reopened. A file opened exclusively is replaced by a rename
// (a failure leaves the old file as it was); a shared one, which other
// processes hold open, is overwritten in place with its file header marked
// damaged (root 0, refused at open) until the copy is complete.
int32_t reindex4replace(INDEX4FILE* i, FILE4* work);
// Puts a rebuilt memory file in place of the index file for this process:
// the file on the disk is closed as it is; `work` is left closed.
int32_t reindex4replaceWithMemory(INDEX4FILE* i, FILE4* work);

// Gives the open file's tags what a rebuild wrote: roots, header blocks,
// key lengths, version; drops every cached node and takes the end of the
// file again.
int32_t reindex4adopt(INDEX4FILE* i, const Reindex4Result& result);
