// Writes CDX files through the engine's node routines, for tests that read
// them back (the invariant checker, index_dump).
//
// A CdxTree creates the file with a tag of tags and the given tags (their
// headers at 1024, 2048, ...), each tag an empty root leaf, and grows each
// tree one key at a time the way key maintenance does: descend by
// block4seekBranch, insert into the leaf, split a full node and insert the
// entry for its left half into the parent (a full root gets a new root
// above it), and bring the parents' entries up to date when a node's last
// key changed. Removal frees an emptied node to the free list and unlinks
// it from its neighbours. Nodes are read for each operation and written at
// its end, so the file is whole between operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"

namespace testing_support {

struct CdxTagDefinition {
  std::string name;
  int keyLength = 10;
  std::string keyExpression = "KEY";
  unsigned char pad = ' ';
};

class CdxTree {
 public:
  // Creates `path` (replacing it). `records` sizes the leaf widths.
  CdxTree(CODE4* c, const std::string& path, const std::vector<CdxTagDefinition>& tags,
          uint32_t blockSize = 512, uint32_t multiplier = 1, uint32_t records = 1000);
  ~CdxTree();
  CdxTree(const CdxTree&) = delete;
  CdxTree& operator=(const CdxTree&) = delete;

  // 0 once set up; else the error met.
  int32_t status() const { return status_; }

  // Adds a key (padded with the tag's pad byte to the key length): 0 or a
  // negative error.
  int32_t add(int tag, const std::string& key, uint32_t record);
  // Removes a key: 0, 5 when it is not there, or a negative error.
  int32_t remove(int tag, const std::string& key, uint32_t record);
  // Writes every header; the file is then complete.
  int32_t finish();

  TAG4FILE* tag(int i) { return tags_[i]; }
  INDEX4FILE* index() { return &index_; }
  uint32_t records = 1000;  // what the leaf widths cover

 private:
  struct Path;
  int32_t descend(TAG4FILE* t, const unsigned char* key, uint32_t record, Path& path);
  int32_t insertKey(TAG4FILE* t, Path& path, const unsigned char* key, uint32_t record);
  int32_t newRoot(TAG4FILE* t, Path& path, BLOCK4* left, BLOCK4* right, bool rightHolds);
  int32_t unlink(TAG4FILE* t, BLOCK4* b);
  void fixParents(Path& path, int level);
  int32_t release(Path& path, int32_t rc);
  int32_t addKey(TAG4FILE* t, const unsigned char* key, uint32_t record);
  std::string padded(TAG4FILE* t, const std::string& key) const;

  CODE4* c_;
  INDEX4FILE index_;
  TAG4FILE tagIndex_;
  std::vector<TAG4FILE*> tags_;
  std::vector<std::string> expressions_;
  int32_t status_ = 0;
  uint32_t tagOfTagsRecords_ = 0;
};

}  // namespace testing_support
