// A fixture for node tests: an index file on disk with a tag of tags and one
// tag whose key length and pad byte a test chooses, and helpers to make,
// fill and read nodes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/index/block4.h"
#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4file.h"
#include "tests/support/engine_fixture.h"

namespace testing_support {

using Entries = std::vector<std::pair<std::string, uint32_t>>;

class NodeTest : public EngineTest {
 protected:
  // Nodes may go at blocks 1024 .. 1024 + kNodes x 512 of the file.
  static constexpr int kNodes = 16;

  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    ASSERT_EQ(file4create(&index.file, &c, "n.cdx", 0), 0);
    const std::vector<unsigned char> zeros(1024 + kNodes * 512, 0);
    ASSERT_EQ(file4write(&index.file, 0, zeros.data(), static_cast<uint32_t>(zeros.size())), 0);
    ASSERT_EQ(indexfile4initNodes(&index, &c, 512, 1), 0);
    Cdx4Header h;
    cdx4headerInitTagOfTags(&h, 512, 1);
    ASSERT_EQ(tagfile4initNodes(&tagIndex, &index, 0, h), 0);
    index.tagIndex = &tagIndex;
    useKeyLength(4);
  }

  void TearDown() override {
    for (BLOCK4* b : nodes) block4free(b);
    tagfile4releaseNodes(&tag);
    tagfile4releaseNodes(&tagIndex);
    indexfile4releaseNodes(&index);
    file4close(&index.file);
    EngineTest::TearDown();
  }

  void useKeyLength(int length, unsigned char pad = ' ') {
    tagfile4releaseNodes(&tag);
    Cdx4Header h;
    h.keyLength = static_cast<uint16_t>(length);
    h.options = cdx4optionCompact | cdx4optionCompound;
    ASSERT_EQ(tagfile4initNodes(&tag, &index, 2, h), 0);
    tag.pad = pad;
    tag.recordCount = [](void* data) { return *static_cast<uint32_t*>(data); };
    tag.recordCountData = &records;
  }

  static uint32_t blockAt(int i) { return 1024 + 512 * i; }

  BLOCK4* newNode(int attribute, int i = 0) {
    BLOCK4* b = block4alloc(&tag, blockAt(i));
    nodes.push_back(b);
    block4attributeSet(b, attribute);
    block4leftSet(b, block4none);
    block4rightSet(b, block4none);
    if (attribute >= block4attrLeaf) block4leafInit(b);
    return b;
  }

  std::string padded(const std::string& key) const {
    std::string out = key;
    out.resize(tagfile4keyLength(&tag), static_cast<char>(tag.pad));
    return out;
  }

  // Inserts in key and record order; false when the node has no room.
  bool put(BLOCK4* b, const std::string& key, uint32_t record) {
    const std::string k = padded(key);
    block4seekBranch(b, k.data(), tagfile4keyLength(&tag), record);
    const int rc = block4leaf(b) ? block4insertLeaf(b, k.data(), record)
                                 : block4insertBranch(b, k.data(), record, blockAt(1),
                                                      block4childHere, nullptr);
    EXPECT_GE(rc, 0);
    return rc == 0;
  }

  Entries entries(BLOCK4* b) {
    Entries out;
    for (int i = 0; i < block4numKeys(b); i++) {
      const B4KEY_DATA* k = block4key(b, i);
      if (k == nullptr) return out;
      out.emplace_back(std::string(reinterpret_cast<const char*>(b4keyValue(k)),
                                   tagfile4keyLength(&tag)),
                       k->num);
    }
    return out;
  }

  std::vector<unsigned char> image(const BLOCK4* b) {
    return {b->data(), b->data() + index.blockSize};
  }

  // The node as the file holds it after a flush and a fresh, checked read.
  int32_t reread(BLOCK4* b) {
    const int32_t rc = block4flush(b);
    return rc < 0 ? rc : block4read(b, b->fileBlock);
  }

  INDEX4FILE index;
  TAG4FILE tagIndex;
  TAG4FILE tag;
  uint32_t records = 1000;
  std::vector<BLOCK4*> nodes;
};

}  // namespace testing_support
