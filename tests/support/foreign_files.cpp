#include "tests/support/foreign_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "tests/support/disk_file.h"

namespace testing_support {

namespace {

constexpr int kBlock = 512;
constexpr int kHeaderBlock = 1024;
constexpr uint32_t kNone = 0xFFFFFFFF;

void putLe(std::string& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out[at + i] = static_cast<char>(value >> (8 * i));
}

void putBe32(std::string& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) out[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

int significantBits(uint64_t value) { return static_cast<int>(std::bit_width(value)); }

using Entry = std::pair<std::string, uint32_t>;

struct LeafWidths {
  int r, d, t, n;
};

// The narrowest entries that hold the tag's records: d = t = the bits of
// the key length, r whatever the n bytes leave.
LeafWidths widthsFor(int keyLength, uint32_t maxRecord) {
  const int counts = 2 * significantBits(static_cast<uint64_t>(keyLength));
  int n = 1;
  while (8 * n - counts < significantBits(maxRecord)) n++;
  return {std::min(8 * n - counts, 32), counts / 2, counts / 2, n};
}

int trailing(const std::string& key, unsigned char pad) {
  int count = 0;
  while (count < static_cast<int>(key.size()) &&
         static_cast<unsigned char>(key[key.size() - 1 - count]) == pad)
    count++;
  return count;
}

int shared(const std::string& a, const std::string& b) {
  int i = 0;
  while (i < static_cast<int>(a.size()) && a[i] == b[i]) i++;
  return i;
}

// Packs entries into a leaf image: false when they do not fit.
bool packLeaf(const std::vector<Entry>& entries, const LeafWidths& w, unsigned char pad,
              std::string& node) {
  const int length = static_cast<int>(entries.front().first.size());
  node.assign(kBlock, '\0');
  putLe(node, 2, entries.size(), 2);
  putLe(node, 14, w.r >= 32 ? 0xFFFFFFFFu : (1u << w.r) - 1, 4);
  node[18] = static_cast<char>((1 << w.d) - 1);
  node[19] = static_cast<char>((1 << w.t) - 1);
  node[20] = static_cast<char>(w.r);
  node[21] = static_cast<char>(w.d);
  node[22] = static_cast<char>(w.t);
  node[23] = static_cast<char>(w.n);
  int end = kBlock;
  int previousTrail = 0;
  for (size_t i = 0; i < entries.size(); i++) {
    const std::string& key = entries[i].first;
    const int trail = trailing(key, pad);
    const int dup =
        i == 0
            ? 0
            : std::min({shared(key, entries[i - 1].first), length - previousTrail, length - trail});
    const int stored = length - dup - trail;
    end -= stored;
    const int entriesEnd = 24 + w.n * static_cast<int>(entries.size());
    if (end < entriesEnd) return false;
    node.replace(end, stored, key, dup, stored);
    const uint64_t info = entries[i].second | static_cast<uint64_t>(dup) << w.r |
                          static_cast<uint64_t>(trail) << (w.r + w.d);
    putLe(node, 24 + i * w.n, info, w.n);
    previousTrail = trail;
  }
  putLe(node, 12, end - 24 - w.n * entries.size(), 2);
  return true;
}

struct Node {
  std::vector<Entry> entries;      // leaf: its keys; branch: each child's last
  std::vector<uint32_t> children;  // branch only
  uint32_t block = 0;
  std::string image;
};

// The levels of one tree, leaves first, each node with its block number
// (taken from `next`) and, for leaves, its packed image.
bool buildTree(const ForeignTag& tag, std::vector<Entry> keys, uint32_t& next,
               std::vector<std::vector<Node>>& levels) {
  std::sort(keys.begin(), keys.end());
  uint32_t maxRecord = 1;
  for (const Entry& e : keys) maxRecord = std::max(maxRecord, e.second);
  const LeafWidths w = widthsFor(tag.keyLength, maxRecord);
  std::vector<Node> leaves;
  for (size_t at = 0; at < keys.size() || leaves.empty();) {
    Node leaf;
    while (at < keys.size() &&
           (tag.keysPerLeaf == 0 || static_cast<int>(leaf.entries.size()) < tag.keysPerLeaf)) {
      leaf.entries.push_back(keys[at]);
      if (!packLeaf(leaf.entries, w, tag.pad, leaf.image)) {
        if (tag.keysPerLeaf != 0 || leaf.entries.size() == 1) return false;
        leaf.entries.pop_back();
        break;
      }
      at++;
    }
    if (leaf.entries.empty()) {
      leaf.image.assign(kBlock, '\0');  // an empty tag: a root leaf of no entries
      putLe(leaf.image, 12, kBlock - 24, 2);
    } else {
      packLeaf(leaf.entries, w, tag.pad, leaf.image);
    }
    leaves.push_back(std::move(leaf));
  }
  levels.push_back(std::move(leaves));
  const size_t perBranch =
      tag.entriesPerBranch > 0 ? tag.entriesPerBranch : (kBlock - 12) / (tag.keyLength + 8);
  while (levels.back().size() > 1) {
    std::vector<Node> branches;
    const std::vector<Node>& below = levels.back();
    for (size_t at = 0; at < below.size(); at += perBranch) {
      Node branch;
      for (size_t i = at; i < std::min(at + perBranch, below.size()); i++)
        branch.entries.push_back(below[i].entries.back());
      branches.push_back(std::move(branch));
    }
    levels.push_back(std::move(branches));
  }
  for (auto level = levels.rbegin(); level != levels.rend(); ++level)
    for (Node& node : *level) node.block = (next += kBlock) - kBlock;
  for (size_t depth = 1; depth < levels.size(); depth++) {
    size_t child = 0;
    for (Node& branch : levels[depth])
      for (size_t i = 0; i < branch.entries.size(); i++)
        branch.children.push_back(levels[depth - 1][child++].block);
  }
  return true;
}

// Completes every node's image: attribute, count, siblings, branch entries.
void finishNodes(std::vector<std::vector<Node>>& levels, int keyLength, bool markNodes,
                 std::string& file) {
  const int mark = markNodes ? 4 : 0;
  for (size_t depth = 0; depth < levels.size(); depth++) {
    std::vector<Node>& level = levels[depth];
    const bool root = depth + 1 == levels.size();
    for (size_t i = 0; i < level.size(); i++) {
      Node& node = level[i];
      if (depth > 0) {
        node.image.assign(kBlock, '\0');
        putLe(node.image, 2, node.entries.size(), 2);
        for (size_t k = 0; k < node.entries.size(); k++) {
          const size_t at = 12 + k * (keyLength + 8);
          node.image.replace(at, keyLength, node.entries[k].first);
          putBe32(node.image, at + keyLength, node.entries[k].second);
          putBe32(node.image, at + keyLength + 4, node.children[k]);
        }
      }
      putLe(node.image, 0, (depth == 0 ? 2 : 0) + (root ? 1 : 0) + mark, 2);
      putLe(node.image, 4, i == 0 ? kNone : level[i - 1].block, 4);
      putLe(node.image, 8, i + 1 == level.size() ? kNone : level[i + 1].block, 4);
      if (file.size() < node.block + kBlock) file.resize(node.block + kBlock, '\0');
      file.replace(node.block, kBlock, node.image);
    }
  }
}

std::string header(uint32_t root, int keyLength, uint8_t options, bool descending,
                   const std::string& expression) {
  std::string h(kHeaderBlock, '\0');
  putLe(h, 0, root, 4);
  putLe(h, 12, keyLength, 2);
  h[14] = static_cast<char>(options);
  h[15] = 1;
  putLe(h, 502, descending ? 1 : 0, 2);
  const size_t pool = expression.size() + 1;
  putLe(h, 504, pool, 2);
  putLe(h, 506, 1, 2);  // no filter
  putLe(h, 510, pool, 2);
  h.replace(512, expression.size(), expression);
  return h;
}

}  // namespace

std::string rightAligned(const std::string& text, int length) {
  return std::string(length - text.size(), ' ') + text;
}

std::string numericKey(double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  bits = value < 0 ? ~bits : bits | 1ull << 63;
  std::string key(8, '\0');
  for (int i = 0; i < 8; i++) key[i] = static_cast<char>(bits >> (56 - 8 * i));
  return key;
}

void writeForeignDbf(const std::string& path, const ForeignTable& table) {
  const bool v30 = table.version == 0x30 || table.version == 0x31;
  const size_t headerLength = 32 + 32 * table.fields.size() + 1 + (v30 ? 263 : 0);
  size_t recordLength = 1;
  for (const ForeignField& f : table.fields) recordLength += f.length;
  std::string file(headerLength, '\0');
  file[0] = static_cast<char>(table.version);
  file[1] = 124;  // 2024-06-16
  file[2] = 6;
  file[3] = 16;
  putLe(file, 4, table.records.size(), 4);
  putLe(file, 8, headerLength, 2);
  putLe(file, 10, recordLength, 2);
  file[28] = static_cast<char>(table.flags);
  file[29] = 0x03;  // Windows-1252
  size_t offset = 1;
  for (size_t i = 0; i < table.fields.size(); i++) {
    const ForeignField& f = table.fields[i];
    const size_t at = 32 + 32 * i;
    file.replace(at, f.name.size(), f.name);
    file[at + 11] = f.type;
    putLe(file, at + 12, offset, 4);
    file[at + 16] = static_cast<char>(f.length);
    file[at + 17] = static_cast<char>(f.decimals);
    file[at + 18] = static_cast<char>(f.flags);
    putLe(file, at + 19, f.autoIncrementNext, 4);
    file[at + 23] = static_cast<char>(f.autoIncrementStep);
    offset += f.length;
  }
  file[32 + 32 * table.fields.size()] = 0x0D;
  for (const std::string& record : table.records) {
    EXPECT_EQ(record.size() + 1, recordLength) << path;
    file += ' ' + record;
  }
  file += '\x1a';
  writeDiskFile(path, file);
}

void writeForeignCdx(const std::string& path, const std::vector<ForeignTag>& tags, bool markNodes) {
  ForeignTag names("", 10);
  for (size_t i = 0; i < tags.size(); i++) {
    std::string name = tags[i].name;
    name.resize(10, ' ');
    names.keys.emplace_back(name, static_cast<uint32_t>(kHeaderBlock * (i + 1)));
  }
  std::string file(kHeaderBlock * (tags.size() + 1), '\0');
  uint32_t next = static_cast<uint32_t>(file.size());
  std::vector<std::vector<Node>> levels;
  ASSERT_TRUE(buildTree(names, names.keys, next, levels));
  finishNodes(levels, 10, markNodes, file);
  file.replace(0, kHeaderBlock, header(levels.back().front().block, 10, 0xE0, false, ""));
  for (size_t i = 0; i < tags.size(); i++) {
    const ForeignTag& tag = tags[i];
    levels.clear();
    ASSERT_TRUE(buildTree(tag, tag.keys, next, levels)) << tag.name << ": keys do not fit";
    finishNodes(levels, tag.keyLength, markNodes, file);
    file.replace(
        kHeaderBlock * (i + 1), kHeaderBlock,
        header(levels.back().front().block, tag.keyLength, 0x60, tag.descending, tag.expression));
  }
  writeDiskFile(path, file);
}

}  // namespace testing_support
