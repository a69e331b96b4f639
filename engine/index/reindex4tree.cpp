// One tag's tree, written bottom-up from keys in ascending order (see
// reindex4write.h for the order of the nodes in the file).
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/block4leaf.h"
#include "engine/index/index4file.h"
#include "engine/index/reindex4write.h"
#include "engine/index/sort4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"

using namespace endian4;

namespace {

constexpr int32_t kLocUnique = 80111;
constexpr int32_t kLocKeyLength = 90198;
constexpr int kAttribute = 0;
constexpr int kCount = 2;
constexpr int kLeft = 4;
constexpr int kRight = 8;

void writeCommon(unsigned char* node, int attribute, int count, uint32_t left, uint32_t right) {
  writeLe16(node + kAttribute, static_cast<uint16_t>(attribute));
  writeLe16(node + kCount, static_cast<uint16_t>(count));
  writeLe32(node + kLeft, left);
  writeLe32(node + kRight, right);
}

// The open node of one branch level.
struct BranchLevel {
  std::vector<unsigned char> node;
  int count = 0;
  uint32_t previous = block4none;  // the node written last at this level
  // The blocks of this level's nodes, in order, for their right pointers.
  std::vector<uint32_t> written;
};

class TreeBuild {
 public:
  TreeBuild(Reindex4Writer& out, const Reindex4TagShape& shape)
      : out_(out),
        shape_(shape),
        length_(shape.keyLength),
        blockSize_(static_cast<int>(out.geometry()->blockSize)),
        entrySize_(shape.keyLength + 8),
        capacity_((static_cast<int>(out.geometry()->blockSize) - block4headerSize) /
                  (shape.keyLength + 8)),
        widths_(leaf4::widthsFor(shape.keyLength, shape.records)),
        leaf_(out.geometry()->blockSize),
        previousKey_(static_cast<size_t>(shape.keyLength)) {
    resetLeaf();
  }

  bool usable() const { return length_ > 0 && capacity_ >= 2; }

  // Appends a key: 0, or -310 for a record number the leaves cannot hold.
  int32_t add(const unsigned char* key, uint32_t record) {
    if (record > leaf4::lowBits(widths_.r))
      return error4describe(out_.codeBase(), e4index, kLocKeyLength, shape_.name, nullptr, nullptr);
    const int trail = shape_.keepTrailing ? 0 : leaf4::trailingPad(key, length_, shape_.pad);
    int dup = 0;
    if (leafCount_ > 0) {
      dup = std::min({leaf4::sharedPrefix(previousKey_.data(), key, length_),
                      length_ - previousTrail_, length_ - trail});
    }
    if (widths_.n + length_ - dup - trail > free_) {
      if (int32_t rc = closeLeaf(false); rc < 0) return rc;
      dup = 0;
    }
    const int stored = length_ - dup - trail;
    keyLow_ -= stored;
    std::memcpy(leaf_.data() + keyLow_, key + dup, static_cast<size_t>(stored));
    leaf4::putEntry(leaf_.data(), widths_, leafCount_, {record, dup, trail});
    leafCount_++;
    free_ -= widths_.n + stored;
    std::memcpy(previousKey_.data(), key, static_cast<size_t>(length_));
    previousTrail_ = trail;
    lastRecord_ = record;
    return 0;
  }

  // Writes every open node, the highest as the root: 0 with the root, or a
  // negative error.
  int32_t finish(uint32_t* root) {
    uint32_t block = 0;
    if (int32_t rc = closeLeaf(true, &block); rc < 0) return rc;
    if (leafWritten_ == 1) {
      *root = block;
      return 0;
    }
    for (size_t level = 0;; level++) {
      BranchLevel& b = branches_[level];
      const bool isRoot = b.written.empty();
      if (int32_t rc = closeBranch(level, true, isRoot, &block); rc < 0) return rc;
      if (isRoot) break;
    }
    for (BranchLevel& b : branches_) {
      for (size_t j = 0; j + 1 < b.written.size(); j++) out_.linkLater(b.written[j], b.written[j + 1]);
    }
    *root = block;
    return 0;
  }

 private:
  void resetLeaf() {
    std::fill(leaf_.begin(), leaf_.end(), 0);
    leaf4::writeWidths(leaf_.data(), widths_);
    leafCount_ = 0;
    free_ = blockSize_ - leaf4::kEntries;
    keyLow_ = blockSize_;
  }

  BranchLevel& level(size_t i) {
    while (branches_.size() <= i) {
      branches_.emplace_back();
      branches_.back().node.assign(static_cast<size_t>(blockSize_), 0);
    }
    return branches_[i];
  }

  // The nodes the entry of a leaf written now will complete: its parent
  // when that has one slot left, then the grandparent likewise, ... They
  // are written right after the leaf, so the next leaf comes after them.
  int completedAbove() {
    int completed = 0;
    for (size_t i = 0; i < branches_.size() && branches_[i].count + 1 == capacity_; i++)
      completed++;
    return completed;
  }

  // Writes the open leaf and passes its last entry up. The last leaf of the
  // tag has no right neighbour; a first leaf that is also the last is the
  // root.
  int32_t closeLeaf(bool last, uint32_t* written = nullptr) {
    const bool isRoot = last && leafWritten_ == 0;
    const uint32_t right =
        last ? block4none
             : block4add(out_.geometry(), out_.nextBlock(), 1 + completedAbove());
    writeCommon(leaf_.data(), isRoot ? block4attrRootLeaf : block4attrLeaf, leafCount_,
                leafPrevious_, right);
    leaf4::setFreeBytes(leaf_.data(), free_);
    uint32_t block = 0;
    if (int32_t rc = out_.emit(leaf_.data(), &block); rc < 0) return rc;
    leafPrevious_ = block;
    leafWritten_++;
    if (written != nullptr) *written = block;
    const uint32_t record = lastRecord_;
    resetLeaf();
    if (isRoot) return 0;
    return addEntry(0, previousKey_.data(), record, block, last);
  }

  // Adds an entry to the open node of branch level i; a node that fills up
  // is written at once, except while the tag is being finished.
  int32_t addEntry(size_t i, const unsigned char* key, uint32_t record, uint32_t child,
                   bool finishing) {
    BranchLevel& b = level(i);
    unsigned char* entry = b.node.data() + block4headerSize + b.count * entrySize_;
    std::memcpy(entry, key, static_cast<size_t>(length_));
    writeBe32(entry + length_, record);
    writeBe32(entry + length_ + 4, child);
    b.count++;
    if (finishing || b.count < capacity_) return 0;
    uint32_t block = 0;
    return closeBranch(i, false, false, &block);
  }

  int32_t closeBranch(size_t i, bool finishing, bool isRoot, uint32_t* block) {
    BranchLevel& b = branches_[i];
    writeCommon(b.node.data(), isRoot ? block4attrRootBranch : block4attrBranch, b.count,
                b.previous, block4none);
    const unsigned char* last = b.node.data() + block4headerSize + (b.count - 1) * entrySize_;
    unsigned char key[cdx4keyLengthMax];
    std::memcpy(key, last, static_cast<size_t>(length_));
    const uint32_t record = readBe32(last + length_);
    if (int32_t rc = out_.emit(b.node.data(), block); rc < 0) return rc;
    b.previous = *block;
    b.written.push_back(*block);
    std::fill(b.node.begin(), b.node.end(), 0);
    b.count = 0;
    if (isRoot) return 0;
    return addEntry(i + 1, key, record, *block, finishing);
  }

  Reindex4Writer& out_;
  const Reindex4TagShape& shape_;
  const int length_;
  const int blockSize_;
  const int entrySize_;
  const int capacity_;
  const leaf4::Widths widths_;

  std::vector<unsigned char> leaf_;
  int leafCount_ = 0;
  int free_ = 0;
  int keyLow_ = 0;  // the lowest offset of the stored key bytes
  std::vector<unsigned char> previousKey_;
  int previousTrail_ = 0;
  uint32_t lastRecord_ = 0;
  uint32_t leafPrevious_ = block4none;
  uint32_t leafWritten_ = 0;
  std::vector<BranchLevel> branches_;  // [0] is the level above the leaves
};

}  // namespace

int32_t Reindex4Writer::writeTag(const Reindex4TagShape& shape, SORT4* sort, uint32_t* root) {
  TreeBuild tree(*this, shape);
  if (!tree.usable() || shape.keyLength > cdx4keyLengthMax)
    return error4describe(c_, e4index, kLocKeyLength, shape.name, nullptr, nullptr);
  std::vector<unsigned char> previous(static_cast<size_t>(shape.keyLength));
  bool any = false;
  for (;;) {
    int32_t record = 0;
    const char* key = nullptr;
    const int32_t rc = sort4get(sort, &record, &key, nullptr);
    if (rc == r4done) break;
    if (rc < 0) return rc;
    countKey();
    const auto* bytes = reinterpret_cast<const unsigned char*>(key);
    if (any && shape.uniqueMode != 0 &&
        std::memcmp(bytes, previous.data(), previous.size()) == 0) {
      if (shape.uniqueMode == r4unique) return r4unique;
      if (shape.uniqueMode == e4unique)
        return error4describe(c_, e4unique, kLocUnique, file_->name, shape.name, nullptr);
      continue;
    }
    if (int32_t added = tree.add(bytes, static_cast<uint32_t>(record)); added < 0) return added;
    std::memcpy(previous.data(), bytes, previous.size());
    any = true;
  }
  return tree.finish(root);
}
