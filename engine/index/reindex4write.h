// The bulk writer of an index rebuild: the nodes of whole tags, written
// bottom-up from keys that arrive in ascending order, and the headers.
//
// Layout of a file it writes (block numbers count in the multiplier):
//
//   OFFSET            CONTENT
//   0                 file header: the tag of tags (or the only tag of a
//                     single-tag file)
//   1024 x i          header of the i-th tag, i = 1 .. n (compound files)
//   1024 x (n + 1)    nodes: the tag of tags' first, then each tag's in turn
//
// A tag's nodes are written in one sequential pass. Leaves fill up from the
// left; when the next key does not fit, the leaf is written and its last key,
// record and block go up as an entry of the branch one level up, which is
// written in turn when it is full, and so on upwards. So a leaf is followed
// in the file by the branches it completed, and a leaf's right neighbour is
// the block after those. Branch nodes learn their right neighbour only when
// the next branch of their level is written: their right pointers are set
// in place once all nodes are on disk. The last node of each level keeps
// "none". At the end the open node of every level is written, the highest
// one as the root (a tag without keys is one empty root leaf).
//
// Leaves are packed like the insert path packs them (block4leaf.h): the
// duplicate count of a key never reaches into the trailing pad of the key
// before it, nor into its own, so duplicate + trailing never exceeds the key
// length whatever bytes the keys hold.
//
// Thread rule: one thread; the sequential writer's worker writes the halves
// of its buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/index/cdx4header.h"
#include "engine/storage/code4.h"
#include "engine/storage/seqwrite4.h"

struct CODE4;
struct INDEX4FILE;
struct SORT4;

// What the writer needs to know of one tag.
struct Reindex4TagShape {
  const char* name = "";  // for error texts
  int32_t keyLength = 0;
  unsigned char pad = ' ';
  bool keepTrailing = false;  // trailing pad bytes stored as they are
  // The largest record number the leaves must hold (their widths follow
  // from it).
  uint32_t records = 0;
  // What a key equal to the one before it does: 0 it is kept; 20 ends the
  // tag with 20; 25 it is left out; -340 raises -340 (80111, naming the tag).
  int16_t uniqueMode = 0;
};

// One header block of the file being written: the header fields, the tag's
// name (the key of its entry in the tag of tags) and its expressions.
struct Reindex4Header {
  Cdx4Header header;
  uint32_t block = 0;  // where the header goes
  std::string keyExpr;
  std::string filter;  // empty: none
};

class Reindex4Writer {
 public:
  // Writes into `target` with the geometry of `geometry` (block size and
  // multiplier). `progress`, when given, counts every key written.
  Reindex4Writer(CODE4* c, const INDEX4FILE* geometry, FILE4* target,
                 Code4ReindexProgress* progress = nullptr);
  ~Reindex4Writer();
  Reindex4Writer(const Reindex4Writer&) = delete;
  Reindex4Writer& operator=(const Reindex4Writer&) = delete;

  // Starts the nodes at `firstBlock` (just after the headers): 0 or -920.
  int32_t start(uint32_t firstBlock);
  // Writes one tag from the entries of `sort` (after sort4getInit), in the
  // order they come: 0 with its root in `*root`, 20 (a duplicate ended it),
  // or a negative error.
  int32_t writeTag(const Reindex4TagShape& shape, SORT4* sort, uint32_t* root);
  // Writes the nodes still buffered and the branches' right pointers: 0 or
  // the first error.
  int32_t finishNodes();
  // Writes the header blocks (the file header first in `headers`), sets
  // the file length to the end of the last node and flushes the file to
  // disk. -310 (80196) when expressions do not fit a header.
  int32_t writeHeaders(std::vector<Reindex4Header>& headers);

  // The block the next node would get: once the nodes are finished, the
  // end-of-file block.
  uint32_t nextBlock() const { return next_; }

  // Appends a finished node image (block size bytes), giving it the next
  // block: 0 or a negative error.
  int32_t emit(const unsigned char* node, uint32_t* block);
  // A branch node at `block` whose right pointer is `right`, set in place
  // by finishNodes.
  void linkLater(uint32_t block, uint32_t right) { links_.emplace_back(block, right); }
  const INDEX4FILE* geometry() const { return geometry_; }
  CODE4* codeBase() const { return c_; }
  void countKey();

 private:
  CODE4* c_;
  const INDEX4FILE* geometry_;
  FILE4* file_;
  Code4ReindexProgress* progress_;
  uint32_t next_ = 0;
  bool writing_ = false;
  std::unique_ptr<char[]> buffer_;
  FILE4SEQWRITE writer_;
  std::vector<std::pair<uint32_t, uint32_t>> links_;
};
