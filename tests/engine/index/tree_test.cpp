// Whole trees grown and shrunk through the node routines, checked by the
// invariant checker against a model.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

#include "engine/storage/endian4.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/cdx_tree.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

using Model = std::set<std::pair<std::string, uint32_t>>;

class TreeTest : public EngineTest {
 protected:
  // Zero-padded, so that key order is number order.
  static std::string name(uint32_t n) {
    const std::string digits = std::to_string(n);
    std::string out(6 - digits.size(), '0');
    out[0] = 'K';
    return out + digits;
  }
  static std::vector<CdxEntry> asEntries(const Model& model) {
    std::vector<CdxEntry> out;
    for (const auto& [key, record] : model) out.push_back({key, record});
    return out;
  }
};

TEST_F(TreeTest, RandomAddsAndRemovesKeepEveryInvariant) {
  struct Setting {
    const char* what;
    int keyLength;
    int operations;
    uint32_t maxRecord;  // beyond the 16-bit record fields: leaves widen
    int minDepth;
  } settings[] = {
      {"short keys", 10, 4000, 5000, 3},
      {"200-byte keys, two entries a branch", 200, 400, 5000, 4},
      {"record numbers past 65,535", 20, 3000, 300000, 3},
      {"242-byte keys, one incompressible entry a leaf", 242, 150, 5000, 4},
  };
  for (const Setting& s : settings) {
    SCOPED_TRACE(s.what);
    std::mt19937 random(s.keyLength);
    Model model;
    CdxTree tree(&c, "t.cdx", {{"T", s.keyLength}});
    ASSERT_EQ(tree.status(), 0);
    for (int op = 1; op <= s.operations; op++) {
      if (!model.empty() && random() % 10 < 3) {
        const auto victim = std::next(model.begin(), random() % model.size());
        ASSERT_EQ(tree.remove(0, victim->first, victim->second), 0) << op;
        model.erase(victim);
      } else {
        std::string key = name(random() % 20000);
        key += std::string(random() % (s.keyLength - key.size()), 'x');
        const uint32_t record = 1 + random() % s.maxRecord;
        if (model.count({key + std::string(s.keyLength - key.size(), ' '), record})) continue;
        ASSERT_EQ(tree.add(0, key, record), 0) << op;
        model.emplace(key + std::string(s.keyLength - key.size(), ' '), record);
      }
      if (op % 500 == 0 || op == s.operations) {
        ASSERT_EQ(tree.finish(), 0);
        const CdxReport report = checkCdxFile("t.cdx");
        ASSERT_TRUE(report.ok()) << op << "\n" << report.text();
        ASSERT_EQ(report.tags[0].entries, asEntries(model)) << op;
        if (op == s.operations) {
          EXPECT_GE(report.tags[0].depth, s.minDepth);
        }
      }
    }
  }
}

// Emptied nodes go to the free list and come back before the file grows.
TEST_F(TreeTest, FreedNodesAreReused) {
  CdxTree tree(&c, "t.cdx", {{"T", 10}});
  for (uint32_t r = 1; r <= 600; r++) ASSERT_EQ(tree.add(0, name(r), r), 0);
  for (uint32_t r = 100; r <= 400; r++) ASSERT_EQ(tree.remove(0, name(r), r), 0);
  ASSERT_EQ(tree.finish(), 0);
  const CdxReport emptied = checkCdxFile("t.cdx");
  ASSERT_TRUE(emptied.ok()) << emptied.text();
  ASSERT_GE(emptied.freeBlocks.size(), 2u);
  EXPECT_EQ(tree.remove(0, name(100), 100), 5);

  const uint32_t eof = tree.index()->eofBlock;
  for (uint32_t r = 100; r <= 199; r++) ASSERT_EQ(tree.add(0, name(r), r), 0);
  ASSERT_EQ(tree.finish(), 0);
  const CdxReport refilled = checkCdxFile("t.cdx");
  ASSERT_TRUE(refilled.ok()) << refilled.text();
  EXPECT_EQ(refilled.tags[0].entries.size(), 399u);
  EXPECT_LT(refilled.freeBlocks.size(), emptied.freeBlocks.size());
  EXPECT_EQ(tree.index()->eofBlock, eof);
}

// Block size 1024 with multiplier 2: every pointer is a byte offset / 2.
TEST_F(TreeTest, PointersCountInMultiplierUnits) {
  {
    CdxTree tree(&c, "big.cdx", {{"T", 10}}, 1024, 2);
    ASSERT_EQ(tree.status(), 0);
    for (uint32_t r = 1; r <= 3000; r++) ASSERT_EQ(tree.add(0, name(r), r), 0);
    ASSERT_EQ(tree.finish(), 0);
  }
  const CdxReport report = checkCdxFile("big.cdx");
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_EQ(report.tags[0].headerBlock, 512u);
  EXPECT_GE(report.tags[0].depth, 2);
  std::ifstream in("big.cdx", std::ios::binary);
  std::vector<unsigned char> header(1024);
  in.read(reinterpret_cast<char*>(header.data()), 1024);
  const uint32_t root = endian4::readLe32(header.data());
  EXPECT_EQ(root * 2 % 1024, 0u);  // the tag of tags' root, a 1024-byte node
  EXPECT_EQ(std::vector<unsigned char>(header.begin() + 16, header.begin() + 28),
            (std::vector<unsigned char>{0xCD, 0xAB, 0, 0, 0, 4, 0, 0, 2, 0, 0, 0}));
}

// The checker itself: damage it must report.
TEST_F(TreeTest, CheckerReportsDamage) {
  {
    CdxTree tree(&c, "t.cdx", {{"T", 10}});
    for (uint32_t r = 1; r <= 500; r++) ASSERT_EQ(tree.add(0, name(r), r), 0);
    ASSERT_EQ(tree.remove(0, name(2), 2), 0);
    ASSERT_EQ(tree.finish(), 0);
  }
  const CdxReport sound = checkCdxFile("t.cdx");
  ASSERT_TRUE(sound.ok()) << sound.text();
  std::ifstream file("t.cdx", std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), {});
  auto patched = [&](size_t offset, std::vector<unsigned char> value) {
    std::vector<unsigned char> copy = bytes;
    std::copy(value.begin(), value.end(), copy.begin() + offset);
    std::ofstream("d.cdx", std::ios::binary).write(reinterpret_cast<char*>(copy.data()), copy.size());
    return checkCdxFile("d.cdx");
  };
  const uint32_t root = endian4::readLe32(bytes.data() + 1024);  // tag T's root, a branch
  const size_t firstChild = endian4::readBe32(bytes.data() + root + 12 + 10 + 4);
  EXPECT_FALSE(patched(firstChild + 8, {0xFF, 0xFF, 0xFF, 0xFF}).ok()) << "broken right pointer";
  EXPECT_FALSE(patched(root + 12 + 10, {0, 0, 0, 0}).ok()) << "branch record not its child's";
  EXPECT_FALSE(patched(firstChild + 511, {'9'}).ok()) << "keys out of order";
  EXPECT_FALSE(patched(4, {0, 4, 0, 0}).ok()) << "free list head on the tag of tags' root";
  EXPECT_FALSE(patched(firstChild + 12, {0, 0}).ok()) << "free-bytes field";
}

}  // namespace
