#include "tests/support/cdx_tree.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/index/cdx4freelist.h"
#include "engine/index/cdx4header.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"

namespace testing_support {

namespace {

constexpr int kMaxDepth = 32;

uint32_t countOf(void* data) { return *static_cast<uint32_t*>(data); }

// A new empty root leaf for `t`.
int32_t makeRootLeaf(TAG4FILE* t) {
  const uint32_t block = index4extend(t->indexFile);
  if (block == block4none) return -1;
  BLOCK4* b = block4alloc(t, block);
  if (b == nullptr) return -1;
  block4attributeSet(b, block4attrRootLeaf);
  block4leftSet(b, block4none);
  block4rightSet(b, block4none);
  block4leafInit(b);
  const int32_t rc = block4flush(b);
  block4free(b);
  t->header.root = block;
  return rc;
}

bool sameEntry(const B4KEY_DATA* a, const unsigned char* key, uint32_t record, int length) {
  return a->num == record && std::memcmp(b4keyValue(a), key, length) == 0;
}

}  // namespace

struct CdxTree::Path {
  std::vector<BLOCK4*> nodes;  // root first; each cursor on the way down
  std::vector<BLOCK4*> made;   // nodes this operation created
  std::set<BLOCK4*> freed;     // nodes given to the free list: never written
};

CdxTree::CdxTree(CODE4* c, const std::string& path, const std::vector<CdxTagDefinition>& tags,
                 uint32_t blockSize, uint32_t multiplier, uint32_t recordCount)
    : records(recordCount), c_(c) {
  const int8_t safety = c->safety;
  c->safety = 0;
  status_ = file4create(&index_.file, c, path.c_str(), 1);
  c->safety = safety;
  if (status_ < 0) return;
  const std::vector<unsigned char> headers(cdx4headerSize * (tags.size() + 1), 0);
  status_ = file4write(&index_.file, 0, headers.data(), static_cast<uint32_t>(headers.size()));
  if (status_ == 0) status_ = indexfile4initNodes(&index_, c, blockSize, multiplier);
  if (status_ < 0) return;

  Cdx4Header header;
  cdx4headerInitTagOfTags(&header, blockSize, multiplier);
  index_.tagIndex = &tagIndex_;
  status_ = tagfile4initNodes(&tagIndex_, &index_, 0, header);
  tagIndex_.recordCount = countOf;
  tagOfTagsRecords_ = static_cast<uint32_t>(tags.size()) * cdx4headerSize;
  tagIndex_.recordCountData = &tagOfTagsRecords_;
  if (status_ == 0) status_ = makeRootLeaf(&tagIndex_);

  for (size_t i = 0; i < tags.size() && status_ == 0; i++) {
    const CdxTagDefinition& definition = tags[i];
    auto* t = new TAG4FILE;
    tags_.push_back(t);
    expressions_.push_back(definition.keyExpression);
    Cdx4Header h;
    h.keyLength = static_cast<uint16_t>(definition.keyLength);
    h.options = cdx4optionCompact | cdx4optionCompound;
    const uint32_t headerBlock = block4fromOffset(&index_, cdx4headerSize * (i + 1));
    status_ = tagfile4initNodes(t, &index_, headerBlock, h);
    t->pad = definition.pad;
    t->recordCount = countOf;
    t->recordCountData = &records;
    if (status_ == 0) status_ = makeRootLeaf(t);
    std::string name = definition.name;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char ch) { return ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch; });
    if (status_ == 0)
      status_ = addKey(&tagIndex_,
                       reinterpret_cast<const unsigned char*>(padded(&tagIndex_, name).data()),
                       headerBlock);
  }
}

CdxTree::~CdxTree() {
  for (TAG4FILE* t : tags_) {
    tagfile4releaseNodes(t);
    delete t;
  }
  tagfile4releaseNodes(&tagIndex_);
  indexfile4releaseNodes(&index_);
  file4close(&index_.file);
}

std::string CdxTree::padded(TAG4FILE* t, const std::string& key) const {
  std::string out = key.substr(0, tagfile4keyLength(t));
  out.resize(tagfile4keyLength(t), static_cast<char>(t->pad));
  return out;
}

int32_t CdxTree::add(int tag, const std::string& key, uint32_t record) {
  TAG4FILE* t = tags_[tag];
  const std::string full = padded(t, key);
  return addKey(t, reinterpret_cast<const unsigned char*>(full.data()), record);
}

int32_t CdxTree::addKey(TAG4FILE* t, const unsigned char* key, uint32_t record) {
  // A key that still finds no room in its half after a split is tried
  // again from the root, as key maintenance does.
  for (int attempt = 0; attempt < 4; attempt++) {
    Path path;
    int32_t rc = descend(t, key, record, path);
    if (rc >= 0) rc = insertKey(t, path, key, record);
    rc = release(path, rc);
    if (rc != 1) return rc;
  }
  return -1;
}

int32_t CdxTree::descend(TAG4FILE* t, const unsigned char* key, uint32_t record, Path& path) {
  uint32_t block = t->header.root;
  for (int depth = 0; depth < kMaxDepth; depth++) {
    BLOCK4* b = block4alloc(t, block);
    if (b == nullptr) return -1;
    path.nodes.push_back(b);
    if (int32_t rc = block4read(b, block); rc < 0) return rc;
    if (block4seekBranch(b, key, tagfile4keyLength(t), record) < 0) return -1;
    if (block4leaf(b)) return 0;
    if (block4numKeys(b) == 0) return -1;
    block = block4child(b, b->keyOn);
  }
  return -1;
}

int32_t CdxTree::insertKey(TAG4FILE* t, Path& path, const unsigned char* key, uint32_t record) {
  const int length = tagfile4keyLength(t);
  unsigned char carry[cdx4keyLengthMax + 1];
  const unsigned char* k = key;
  uint32_t r = record;
  uint32_t child = 0;
  int placement = block4childHere;
  bool placed = false;
  // The entry for a split child's new right half follows the entry just
  // inserted for its left half: the parent's cursor moves on to it.
  bool cursorToNext = false;
  for (int level = static_cast<int>(path.nodes.size()) - 1;; level--) {
    BLOCK4* b = path.nodes[level];
    BLOCK4* parent = level > 0 ? path.nodes[level - 1] : nullptr;
    const bool leaf = block4leaf(b);
    auto insert = [&](BLOCK4* into, BLOCK4* above) {
      return leaf ? block4insertLeaf(into, k, r)
                  : block4insertBranch(into, k, r, child, placement, above);
    };
    int rc = insert(b, parent);
    if (rc < 0) return rc;
    if (rc == 0) {
      placed = placed || leaf;
      if (cursorToNext) block4go(b, 1);
      break;
    }
    bool inNew = false;
    BLOCK4* fresh = block4split(t, b, &inNew);
    if (fresh == nullptr) return -1;
    path.made.push_back(fresh);
    BLOCK4* target = inNew ? fresh : b;
    rc = insert(target, nullptr);
    if (rc < 0 || (rc == 1 && !leaf)) return -1;
    if (rc == 0) {
      placed = placed || leaf;
      if (cursorToNext) block4go(target, 1);
    }
    if (target != b) path.made.push_back(b);  // still to be written
    path.nodes[level] = target;
    const B4KEY_DATA* last = block4key(b, block4numKeys(b) - 1);
    if (last == nullptr) return -1;
    std::memcpy(carry, b4keyValue(last), length);
    const uint32_t lastRecord = last->num;
    if (level == 0) {
      rc = newRoot(t, path, b, fresh, inNew);
      if (rc < 0) return rc;
      break;
    }
    k = carry;
    r = lastRecord;
    child = fresh->fileBlock;
    placement = block4childAfter;
    cursorToNext = inNew;
  }
  fixParents(path, static_cast<int>(path.nodes.size()) - 1);
  return placed ? 0 : 1;
}

int32_t CdxTree::newRoot(TAG4FILE* t, Path& path, BLOCK4* left, BLOCK4* right, bool rightHolds) {
  const uint32_t block = index4extend(&index_);
  if (block == block4none) return -1;
  BLOCK4* root = block4alloc(t, block);
  if (root == nullptr) return -1;
  path.made.push_back(root);
  block4attributeSet(root, block4attrRootBranch);
  block4leftSet(root, block4none);
  block4rightSet(root, block4none);
  for (BLOCK4* half : {left, right}) {
    const B4KEY_DATA* last = block4key(half, block4numKeys(half) - 1);
    if (last == nullptr) return -1;
    block4goEof(root);
    if (block4insertBranch(root, b4keyValue(last), last->num, half->fileBlock, block4childHere,
                           nullptr) != 0)
      return -1;
  }
  block4goTo(root, rightHolds ? 1 : 0);
  t->header.root = block;
  path.nodes.insert(path.nodes.begin(), root);
  return 0;
}

void CdxTree::fixParents(Path& path, int level) {
  const int length = tagfile4keyLength(path.nodes[0]->tag);
  unsigned char key[cdx4keyLengthMax + 1];
  for (; level > 0; level--) {
    BLOCK4* node = path.nodes[level];
    BLOCK4* parent = path.nodes[level - 1];
    if (block4numKeys(node) == 0) return;
    const B4KEY_DATA* last = block4key(node, block4numKeys(node) - 1);
    if (last == nullptr) return;
    std::memcpy(key, b4keyValue(last), length);
    const uint32_t record = last->num;
    const B4KEY_DATA* entry = block4key(parent, parent->keyOn);
    if (entry == nullptr || sameEntry(entry, key, record, length)) return;
    block4branchReplace(parent, key, record);
    if (parent->keyOn != block4numKeys(parent) - 1) return;
  }
}

int32_t CdxTree::remove(int tag, const std::string& key, uint32_t record) {
  TAG4FILE* t = tags_[tag];
  const std::string full = padded(t, key);
  const auto* k = reinterpret_cast<const unsigned char*>(full.data());
  Path path;
  int32_t rc = descend(t, k, record, path);
  if (rc < 0) return release(path, rc);
  BLOCK4* leaf = path.nodes.back();
  const B4KEY_DATA* found = block4key(leaf, leaf->keyOn);
  if (found == nullptr || !sameEntry(found, k, record, tagfile4keyLength(t)))
    return release(path, 5);
  for (int level = static_cast<int>(path.nodes.size()) - 1;; level--) {
    BLOCK4* n = path.nodes[level];
    if (block4numKeys(n) > 1 || level == 0) {
      const bool wasLast = n->keyOn == block4numKeys(n) - 1;
      rc = block4remove(n);
      if (rc < 0) break;
      if (level == 0 && block4numKeys(n) == 0 && !block4leaf(n)) {
        block4attributeSet(n, block4attrRootLeaf);
        block4leafInit(n);
      }
      if (wasLast && level > 0) fixParents(path, level);
      break;
    }
    // The node empties: it leaves its level and its parent.
    if ((rc = unlink(t, n)) < 0 || (rc = index4freeBlock(&index_, n->fileBlock)) < 0) break;
    path.freed.insert(n);
  }
  return release(path, rc);
}

int32_t CdxTree::unlink(TAG4FILE* t, BLOCK4* b) {
  const uint32_t left = block4left(b);
  const uint32_t right = block4right(b);
  for (const uint32_t neighbour : {left, right}) {
    if (neighbour == block4none) continue;
    BLOCK4* n = block4alloc(t, neighbour);
    if (n == nullptr) return -1;
    int32_t rc = block4read(n, neighbour);
    if (rc == 0) {
      if (neighbour == left) block4rightSet(n, right);
      if (neighbour == right) block4leftSet(n, left);
      rc = block4flush(n);
    }
    block4free(n);
    if (rc < 0) return rc;
  }
  return 0;
}

int32_t CdxTree::release(Path& path, int32_t rc) {
  std::set<BLOCK4*> all(path.nodes.begin(), path.nodes.end());
  all.insert(path.made.begin(), path.made.end());
  for (BLOCK4* b : all) {
    if (rc >= 0 && b->changed && path.freed.count(b) == 0) {
      const int32_t flushed = block4flush(b);
      if (flushed < 0) rc = flushed;
    }
    block4free(b);
  }
  return rc;
}

int32_t CdxTree::finish() {
  unsigned char block[cdx4headerSize];
  if (!cdx4headerEncode(&tagIndex_.header, nullptr, nullptr, block)) return -1;
  if (int32_t rc = file4write(&index_.file, 0, block, sizeof block); rc < 0) return rc;
  for (size_t i = 0; i < tags_.size(); i++) {
    TAG4FILE* t = tags_[i];
    if (!cdx4headerEncode(&t->header, expressions_[i].c_str(), nullptr, block)) return -1;
    const int32_t rc =
        file4write(&index_.file, block4toOffset(&index_, t->headerBlock), block, sizeof block);
    if (rc < 0) return rc;
  }
  return file4lenSetLow(&index_.file, block4toOffset(&index_, index_.eofBlock));
}

}  // namespace testing_support
