#include "tests/support/cdx_checker.h"

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace testing_support {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;

uint32_t le16(const unsigned char* p) { return p[0] | p[1] << 8; }
uint32_t le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint32_t be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

struct Node {
  uint32_t block = 0;
  uint32_t left = 0, right = 0;
  int attribute = 0;
  std::vector<CdxEntry> entries;  // leaf: keys; branch: keys with records
  std::vector<uint32_t> children;
};

class Checker {
 public:
  Checker(const std::string& path, const std::map<std::string, unsigned char>& pads) : pads_(pads) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
  }

  CdxReport run() {
    if (bytes_.size() < 1024) {
      problem("file shorter than its header");
      return std::move(report_);
    }
    const unsigned char* h = at(0);
    if (le32(h + 16) == 0xABCD) {
      blockSize_ = le32(h + 20);
      multiplier_ = le32(h + 24);
    }
    if (blockSize_ < 512 || blockSize_ % 512 != 0 || multiplier_ == 0 || 1024 % multiplier_ != 0 ||
        blockSize_ % multiplier_ != 0) {
      problem("unusable block size or multiplier");
      return std::move(report_);
    }
    const int options = h[14];
    if ((options & 0x20) == 0) problem("file header without the compact option");
    reserved_.insert(0);
    if ((options & 0x40) == 0) {
      CdxTagReport only;
      only.headerBlock = 0;
      walkTag(0, only, ' ');
      report_.tags.push_back(std::move(only));
    } else {
      CdxTagReport tagOfTags;
      tagOfTags.name = "(tags)";
      walkTag(0, tagOfTags, ' ');
      std::set<std::string> names;
      for (const CdxEntry& e : tagOfTags.entries) {
        CdxTagReport t;
        t.name = e.key.substr(0, e.key.find_last_not_of(' ') + 1);
        if (!names.insert(t.name).second) problem("tag name " + t.name + " twice");
        t.headerBlock = e.record;
        if (!headerPlausible(e.record)) {
          problem("tag " + t.name + ": header block " + std::to_string(e.record) + " unusable");
          continue;
        }
        reserved_.insert(e.record);
        const auto pad = pads_.find(t.name);
        walkTag(e.record, t, pad == pads_.end() ? ' ' : pad->second);
        report_.tags.push_back(std::move(t));
      }
    }
    checkFreeList(le32(h + 4));
    return std::move(report_);
  }

 private:
  const unsigned char* at(uint64_t offset) { return bytes_.data() + offset; }
  uint64_t offsetOf(uint32_t block) const { return static_cast<uint64_t>(block) * multiplier_; }

  void problem(const std::string& text) { report_.problems.push_back(text); }

  bool headerPlausible(uint32_t block) const {
    const uint64_t offset = offsetOf(block);
    return block != kNone && offset >= 1024 && offset % 512 == 0 && offset + 1024 <= bytes_.size();
  }
  bool nodePlausible(uint32_t block) const {
    const uint64_t offset = offsetOf(block);
    return block != kNone && offset >= 1024 && offset % 512 == 0 &&
           offset + blockSize_ <= bytes_.size();
  }

  void walkTag(uint32_t headerBlock, CdxTagReport& t, unsigned char pad) {
    const unsigned char* h = at(offsetOf(headerBlock));
    t.keyLength = static_cast<int>(le16(h + 12));
    where_ = t.name.empty() ? "tag" : "tag " + t.name;
    if ((h[14] & 0x20) == 0) problem(where_ + ": header without the compact option");
    if (t.keyLength < 1 || t.keyLength > 255) {
      problem(where_ + ": key length " + std::to_string(t.keyLength));
      return;
    }
    keyLength_ = t.keyLength;
    pad_ = pad;
    levels_.clear();
    leafDepth_ = -1;
    const uint32_t root = le32(h);
    Node top;
    if (!visit(root, 0, top)) return;
    if (top.left != kNone || top.right != kNone) problem(where_ + ": root with siblings");
    t.depth = leafDepth_ + 1;
    checkChains();
    for (const auto& level : levels_) {
      if (level.empty() || !leaf(level.front().attribute)) continue;
      for (const Node& n : level)
        t.entries.insert(t.entries.end(), n.entries.begin(), n.entries.end());
    }
    for (size_t i = 1; i < t.entries.size(); i++) {
      const CdxEntry& a = t.entries[i - 1];
      const CdxEntry& b = t.entries[i];
      if (a.key > b.key || (a.key == b.key && a.record >= b.record))
        problem(where_ + ": entries " + std::to_string(i - 1) + " and " + std::to_string(i) +
                " out of order");
    }
  }

  static bool leaf(int attribute) { return attribute >= 2; }

  // Reads the node at `block` on tree level `depth` into `out`, with its
  // subtree; false when it cannot be read.
  bool visit(uint32_t block, int depth, Node& out) {
    const std::string here = where_ + ": node " + std::to_string(block);
    if (!nodePlausible(block)) {
      problem(here + " is no usable block");
      return false;
    }
    if (!owned_.insert(block).second) {
      problem(here + " reached twice");
      return false;
    }
    const unsigned char* p = at(offsetOf(block));
    out.block = block;
    // Bit 2, which other writers set, says nothing about the node's place.
    out.attribute = static_cast<int>(le16(p) & ~4u);
    const int count = static_cast<int>(le16(p + 2));
    out.left = le32(p + 4);
    out.right = le32(p + 8);
    const bool root = depth == 0;
    if (out.attribute > 3 || (out.attribute == 1 || out.attribute == 3) != root) {
      problem(here + ": attribute " + std::to_string(out.attribute));
      return false;
    }
    if (count == 0 && !root) problem(here + ": empty node below the root");
    const bool ok = leaf(out.attribute) ? decodeLeaf(p, count, here, out)
                                        : decodeBranch(p, count, depth, here, out);
    if (static_cast<int>(levels_.size()) <= depth) levels_.resize(depth + 1);
    levels_[depth].push_back(out);
    if (leaf(out.attribute)) {
      if (leafDepth_ >= 0 && leafDepth_ != depth) problem(here + ": leaves at unequal depths");
      leafDepth_ = depth;
    }
    return ok;
  }

  bool decodeLeaf(const unsigned char* p, int count, const std::string& here, Node& out) {
    const int L = keyLength_;
    const int r = p[20], d = p[21], t = p[22], n = p[23];
    if (count == 0 && n == 0) return true;
    if (n < 1 || n > 6 || r > 32 || d > 8 || t > 8 || r + d + t > 8 * n) {
      problem(here + ": leaf widths");
      return false;
    }
    const uint64_t recordMask = (1ull << r) - 1;
    if (le32(p + 14) != static_cast<uint32_t>(recordMask) || p[18] != (1u << d) - 1 ||
        p[19] != (1u << t) - 1)
      problem(here + ": masks disagree with the widths");
    if (24 + static_cast<int64_t>(n) * count > blockSize_) {
      problem(here + ": entry count");
      return false;
    }
    std::string key(L, static_cast<char>(pad_));
    int end = static_cast<int>(blockSize_);
    int previousTrail = 0;
    for (int i = 0; i < count; i++) {
      uint64_t v = 0;
      for (int k = n - 1; k >= 0; k--) v = v << 8 | p[24 + i * n + k];
      const uint32_t record = static_cast<uint32_t>(v & recordMask);
      const int dup = static_cast<int>((v >> r) & ((1u << d) - 1));
      const int trail = static_cast<int>((v >> (r + d)) & ((1u << t) - 1));
      const int stored = L - dup - trail;
      if (stored < 0 || (i == 0 && dup != 0)) {
        problem(here + ": counts of entry " + std::to_string(i));
        return false;
      }
      if (i > 0 && dup > L - previousTrail)
        problem(here + ": entry " + std::to_string(i) + " repeats pad of the key before it");
      end -= stored;
      if (end < 24 + n * count) {
        problem(here + ": keys overrun the entries");
        return false;
      }
      key.replace(dup, stored, reinterpret_cast<const char*>(p + end), stored);
      key.replace(L - trail, trail, trail, static_cast<char>(pad_));
      out.entries.push_back({key, record});
      previousTrail = trail;
    }
    const int space = end - 24 - n * count;
    if (static_cast<int>(le16(p + 12)) != space) problem(here + ": free-bytes field");
    for (int k = 24 + n * count; k < end; k++) {
      if (p[k] != 0) {
        problem(here + ": free space not zero");
        break;
      }
    }
    return true;
  }

  bool decodeBranch(const unsigned char* p, int count, int depth, const std::string& here,
                    Node& out) {
    const int L = keyLength_;
    if (12 + static_cast<int64_t>(count) * (L + 8) > blockSize_) {
      problem(here + ": branch count");
      return false;
    }
    if (count == 0) {
      problem(here + ": empty branch");
      return false;
    }
    for (int i = 0; i < count; i++) {
      const unsigned char* e = p + 12 + i * (L + 8);
      const CdxEntry entry{std::string(reinterpret_cast<const char*>(e), L), be32(e + L)};
      const uint32_t child = be32(e + L + 4);
      out.entries.push_back(entry);
      out.children.push_back(child);
      Node below;
      if (!visit(child, depth + 1, below)) continue;
      if (below.entries.empty() || !(below.entries.back() == entry))
        problem(here + ": entry " + std::to_string(i) + " differs from its child's last key");
    }
    return true;
  }

  void checkChains() {
    for (size_t depth = 0; depth < levels_.size(); depth++) {
      const auto& level = levels_[depth];
      for (size_t i = 0; i < level.size(); i++) {
        const uint32_t left = i == 0 ? kNone : level[i - 1].block;
        const uint32_t right = i + 1 == level.size() ? kNone : level[i + 1].block;
        if (level[i].left != left || level[i].right != right)
          problem(where_ + ": siblings of node " + std::to_string(level[i].block) + " on level " +
                  std::to_string(depth));
      }
    }
  }

  void checkFreeList(uint32_t head) {
    std::set<uint32_t> seen;
    for (uint32_t block = head; block != 0;) {
      if (!nodePlausible(block)) {
        problem("free block " + std::to_string(block) + " is no usable block");
        return;
      }
      if (!seen.insert(block).second) {
        problem("free list loops at " + std::to_string(block));
        return;
      }
      if (owned_.count(block) != 0 || reserved_.count(block) != 0)
        problem("free block " + std::to_string(block) + " is in use");
      report_.freeBlocks.push_back(block);
      block = le32(at(offsetOf(block)));
    }
  }

  std::vector<unsigned char> bytes_;
  const std::map<std::string, unsigned char>& pads_;
  uint32_t blockSize_ = 512;
  uint32_t multiplier_ = 1;
  CdxReport report_;
  std::set<uint32_t> owned_;     // blocks of every tree
  std::set<uint32_t> reserved_;  // header blocks
  // The tag being walked.
  std::string where_;
  int keyLength_ = 0;
  unsigned char pad_ = ' ';
  std::vector<std::vector<Node>> levels_;
  int leafDepth_ = -1;
};

}  // namespace

std::string CdxReport::text() const {
  std::ostringstream out;
  for (const std::string& p : problems) out << p << '\n';
  return out.str();
}

const CdxTagReport* CdxReport::tag(const std::string& name) const {
  for (const CdxTagReport& t : tags)
    if (t.name == name) return &t;
  return nullptr;
}

CdxReport checkCdxFile(const std::string& path, const std::map<std::string, unsigned char>& pads) {
  return Checker(path, pads).run();
}

}  // namespace testing_support
