#include "engine/index/block4branch.h"

#include "engine/index/block4leaf.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "tests/engine/index/node_fixture.h"

using namespace testing_support;

namespace {

using Bytes = std::vector<unsigned char>;

class BranchTest : public NodeTest {
 protected:
  // Inserts at the cursor entry `at`.
  void insertAt(BLOCK4* b, int at, const std::string& key, uint32_t record, uint32_t child,
                int placement = block4childHere, BLOCK4* parent = nullptr, int expected = 0) {
    block4goTo(b, at);
    EXPECT_EQ(block4insertBranch(b, padded(key).data(), record, child, placement, parent),
              expected);
  }
  uint32_t diskLeftOf(uint32_t block) {
    unsigned char field[4];
    EXPECT_EQ(file4readAll(&index.file, block + 4, field, 4), 0);
    return endian4::readLe32(field);
  }
};

TEST_F(BranchTest, EntriesHoldTheKeyThenBigEndianRecordAndChild) {
  BLOCK4* b = newNode(block4attrRootBranch);
  insertAt(b, 0, "AB", 0x01020304, 0x0A00);
  EXPECT_EQ(Bytes(b->data() + 12, b->data() + 24),
            (Bytes{'A', 'B', ' ', ' ', 1, 2, 3, 4, 0, 0, 0x0A, 0}));
  EXPECT_EQ(block4key(b, 0)->num, 0x01020304u);
  EXPECT_EQ(block4child(b, 0), 0x0A00u);
}

// Split propagation: the entry for a split child's left half goes in before
// the entry that named the child, which takes the new right half.
TEST_F(BranchTest, PropagationLeavesTheOldChildUnderTheNewEntry) {
  BLOCK4* b = newNode(block4attrRootBranch);
  insertAt(b, 0, "B", 2, blockAt(3));
  insertAt(b, 1, "D", 4, blockAt(4));
  insertAt(b, 1, "C", 3, blockAt(5), block4childAfter);
  insertAt(b, 3, "E", 5, blockAt(6), block4childAfter);  // a new last entry keeps its child
  const uint32_t expected[] = {blockAt(3), blockAt(4), blockAt(5), blockAt(6)};
  for (int i = 0; i < 4; i++) EXPECT_EQ(block4child(b, i), expected[i]) << i;
  EXPECT_EQ(entries(b), (Entries{{"B   ", 2}, {"C   ", 3}, {"D   ", 4}, {"E   ", 5}}));
  block4goTo(b, 1);
  block4branchReplace(b, padded("CC").data(), 9);
  block4goTo(b, 0);
  ASSERT_EQ(block4remove(b), 0);
  EXPECT_EQ(entries(b), (Entries{{"CC  ", 9}, {"D   ", 4}, {"E   ", 5}}));
  EXPECT_EQ(block4child(b, 0), blockAt(4));
  EXPECT_EQ(Bytes(b->data() + 12 + 3 * 12, b->data() + 12 + 4 * 12), Bytes(12, 0));
}

TEST_F(BranchTest, SeekFindsTheFirstEntryNotBelowTheValue) {
  BLOCK4* b = newNode(block4attrRootBranch);
  EXPECT_EQ(block4seek(b, "A", 1), 2);
  EXPECT_EQ(b->keyOn, 0);
  int at = 0;
  for (auto [key, record] : Entries{{"A", 1}, {"C", 1}, {"C", 5}, {"E", 2}})
    insertAt(b, at++, key, record, blockAt(3));
  struct Case {
    const char* value;
    uint32_t record;  // 0: plain seek
    int result, on;
  } cases[] = {{"C", 0, 0, 1}, {"B", 0, 2, 1}, {"F", 0, 2, 3}, {"C", 3, 0, 2},
               {"C", 9, 2, 3}, {"E", 9, 0, 3}, {"", 0, 0, 0}};
  for (const Case& k : cases) {
    const int length = static_cast<int>(std::string(k.value).size());
    const int rc = k.record == 0 ? block4seek(b, k.value, length)
                                 : block4seekBranch(b, k.value, length, k.record);
    EXPECT_EQ(rc, k.result) << k.value << " " << k.record;
    EXPECT_EQ(b->keyOn, k.on) << k.value << " " << k.record;
  }
}

TEST_F(BranchTest, SplitKeepsTheCursorWithItsEntry) {
  useKeyLength(10);
  struct Case {
    int cursor, kept, moved;
    bool inNew;
    int newCursor;
  } cases[] = {{4, 3, 2, true, 1}, {1, 2, 3, false, 1}, {2, 2, 3, true, 0}};
  for (const Case& k : cases) {
    BLOCK4* right = newNode(block4attrBranch, 2);
    block4leftSet(right, blockAt(0));
    ASSERT_EQ(block4flush(right), 0);
    BLOCK4* b = newNode(block4attrBranch, 0);
    block4rightSet(b, blockAt(2));
    for (int i = 0; i < 5; i++) insertAt(b, i, std::string(1, 'A' + i), i + 1, blockAt(3 + i));
    const Entries all = entries(b);
    const uint32_t eof = index.eofBlock;
    block4goTo(b, k.cursor);
    bool inNew = !k.inNew;
    BLOCK4* fresh = block4split(&tag, b, &inNew);
    ASSERT_NE(fresh, nullptr);
    nodes.push_back(fresh);
    EXPECT_EQ(fresh->fileBlock, eof);
    EXPECT_EQ(block4numKeys(b), k.kept) << k.cursor;
    EXPECT_EQ(block4numKeys(fresh), k.moved) << k.cursor;
    EXPECT_EQ(inNew, k.inNew) << k.cursor;
    EXPECT_EQ((inNew ? fresh : b)->keyOn, k.newCursor) << k.cursor;
    Entries joined = entries(b);
    for (const auto& e : entries(fresh)) joined.push_back(e);
    EXPECT_EQ(joined, all);
    EXPECT_EQ(block4child(fresh, 0), blockAt(3 + k.kept));
    EXPECT_EQ(block4right(b), fresh->fileBlock);
    EXPECT_EQ(block4left(fresh), blockAt(0));
    EXPECT_EQ(block4right(fresh), blockAt(2));
    EXPECT_EQ(diskLeftOf(blockAt(2)), fresh->fileBlock);
  }
}

TEST_F(BranchTest, SplitRefusesANeighbourThatDoesNotPointBack) {
  BLOCK4* right = newNode(block4attrBranch, 2);
  block4leftSet(right, blockAt(1));
  ASSERT_EQ(block4flush(right), 0);
  BLOCK4* b = newNode(block4attrBranch, 0);
  block4rightSet(b, blockAt(2));
  insertAt(b, 0, "A", 1, blockAt(3));
  insertAt(b, 1, "B", 2, blockAt(4));
  const Bytes before = image(b);
  const uint32_t eof = index.eofBlock;
  EXPECT_EQ(block4split(&tag, b, nullptr), nullptr);
  EXPECT_EQ(lastError().location, 80309);
  EXPECT_EQ(image(b), before);
  EXPECT_EQ(index.eofBlock, eof);
  clearError();
  EXPECT_EQ(diskLeftOf(blockAt(2)), blockAt(1));
}

TEST_F(BranchTest, LeafSplitStoresTheFirstMovedKeyWhole) {
  useKeyLength(8);
  BLOCK4* b = newNode(block4attrLeaf, 0);
  for (int i = 0; i < 7; i++) ASSERT_TRUE(put(b, "SAME" + std::to_string(i), i + 1));
  const Entries all = entries(b);
  block4goTo(b, 4);  // exactly at the boundary: the key goes to the new node
  bool inNew = false;
  BLOCK4* fresh = block4split(&tag, b, &inNew);
  ASSERT_NE(fresh, nullptr);
  nodes.push_back(fresh);
  EXPECT_TRUE(inNew);
  EXPECT_EQ(fresh->keyOn, 0);
  EXPECT_EQ(block4numKeys(b), 4);
  EXPECT_EQ(block4attribute(fresh), block4attrLeaf);
  const leaf4::Entry first = leaf4::entryAt(fresh->data(), leaf4::widthsOf(fresh->data()), 0);
  EXPECT_EQ(first.dup, 0);
  EXPECT_EQ(first.trail, 3);
  ASSERT_EQ(reread(b), 0);
  ASSERT_EQ(reread(fresh), 0);
  Entries joined = entries(b);
  for (const auto& e : entries(fresh)) joined.push_back(e);
  EXPECT_EQ(joined, all);
}

// Keys of 242 bytes leave a 512-byte leaf room for one incompressible
// entry. A split of such a leaf must leave the new key an empty node, or
// the insert would find no room again after every split.
TEST_F(BranchTest, OneEntryLeafGivesItsEntryAwayWhenTheKeyGoesFirst) {
  useKeyLength(242);
  for (int cursor : {0, 1}) {
    BLOCK4* b = newNode(block4attrLeaf, cursor);
    ASSERT_TRUE(put(b, std::string(242, 'M'), 1));
    const std::string key(242, cursor == 0 ? 'A' : 'Z');
    block4goTo(b, cursor);
    ASSERT_EQ(block4insertLeaf(b, key.data(), 2), 1);
    bool inNew = false;
    BLOCK4* fresh = block4split(&tag, b, &inNew);
    ASSERT_NE(fresh, nullptr);
    nodes.push_back(fresh);
    BLOCK4* target = inNew ? fresh : b;
    EXPECT_EQ(block4numKeys(target), 0) << cursor;
    EXPECT_EQ(block4insertLeaf(target, key.data(), 2), 0) << cursor;
    EXPECT_EQ(block4numKeys(b) + block4numKeys(fresh), 2);
  }
}

// Keys of 200 bytes: two entries per branch.
class RebalanceTest : public BranchTest {
 protected:
  void SetUp() override {
    BranchTest::SetUp();
    useKeyLength(200);
    left = newNode(block4attrBranch, 1);
    node = newNode(block4attrBranch, 2);
    right = newNode(block4attrBranch, 3);
    block4rightSet(left, blockAt(2));
    block4leftSet(node, blockAt(1));
    block4rightSet(node, blockAt(3));
    block4leftSet(right, blockAt(2));
    insertAt(left, 0, "B", 2, blockAt(10));
    insertAt(node, 0, "D", 4, blockAt(11));
    insertAt(node, 1, "F", 6, blockAt(12));
    insertAt(right, 0, "H", 8, blockAt(13));
    for (BLOCK4* b : {left, node, right}) ASSERT_EQ(block4flush(b), 0);
    parent = newNode(block4attrRootBranch, 4);
  }
  BLOCK4* left = nullptr;
  BLOCK4* node = nullptr;
  BLOCK4* right = nullptr;
  BLOCK4* parent = nullptr;
};

TEST_F(RebalanceTest, AFullNodePassesItsFirstEntryToTheLeft) {
  insertAt(parent, 0, "B", 2, blockAt(1));
  insertAt(parent, 1, "F", 6, blockAt(2));
  insertAt(node, 1, "E", 5, blockAt(14), block4childHere, parent);
  EXPECT_EQ(entries(node), (Entries{{padded("E"), 5}, {padded("F"), 6}}));
  EXPECT_EQ(node->keyOn, 0);
  EXPECT_EQ(block4key(parent, 0)->num, 4u);
  ASSERT_EQ(block4read(left, blockAt(1)), 0);
  EXPECT_EQ(entries(left), (Entries{{padded("B"), 2}, {padded("D"), 4}}));
  EXPECT_EQ(block4child(left, 1), blockAt(11));
  EXPECT_TRUE(parent->changed && node->changed);
}

TEST_F(RebalanceTest, AFullNodePassesItsLastEntryToTheRight) {
  insertAt(parent, 0, "F", 6, blockAt(2));
  insertAt(parent, 1, "H", 8, blockAt(3));
  block4goTo(parent, 0);
  insertAt(node, 0, "C", 3, blockAt(14), block4childHere, parent);
  EXPECT_EQ(entries(node), (Entries{{padded("C"), 3}, {padded("D"), 4}}));
  EXPECT_EQ(block4key(parent, 0)->num, 4u);
  ASSERT_EQ(block4read(right, blockAt(3)), 0);
  EXPECT_EQ(entries(right), (Entries{{padded("F"), 6}, {padded("H"), 8}}));
}

TEST_F(RebalanceTest, NoRoomWhenTheSiblingIsFullOrDisagrees) {
  insertAt(parent, 0, "B", 2, blockAt(1));
  insertAt(parent, 1, "F", 6, blockAt(2));
  insertAt(left, 0, "A", 1, blockAt(15));
  ASSERT_EQ(block4flush(left), 0);
  const Bytes before = image(node);
  insertAt(node, 1, "E", 5, blockAt(14), block4childHere, parent, 1);
  EXPECT_EQ(image(node), before);
  insertAt(node, 1, "E", 5, blockAt(14), block4childHere, nullptr, 1);

  block4goTo(parent, 0);
  block4branchReplace(parent, padded("B").data(), 2);
  branch4::put(parent->data(), 200, 0, reinterpret_cast<const unsigned char*>(padded("B").data()),
               2, blockAt(5));
  block4goTo(parent, 1);
  insertAt(node, 1, "E", 5, blockAt(14), block4childHere, parent, e4index);
  EXPECT_EQ(lastError().location, 80306);
  EXPECT_EQ(image(node), before);
}

TEST_F(BranchTest, DamagedBranchesAreRefused) {
  BLOCK4* b = newNode(block4attrBranch);
  insertAt(b, 0, "A", 1, blockAt(3));
  ASSERT_EQ(block4flush(b), 0);
  const Bytes sound = image(b);
  struct Case {
    const char* what;
    int offset;
    Bytes value;
    int32_t location;
  } cases[] = {
      {"attribute bit 3", 0, {8}, 80300},  // bit 2 alone is another writer's mark
      {"count beyond capacity", 2, {42}, 80302},
      {"child in the file header", 20, {0, 0, 0x02, 0}, 80304},
      {"child is the node itself", 20, {0, 0, 0x04, 0}, 80304},
      {"left sibling off a node boundary", 4, {0x10, 0x04, 0, 0}, 80304},
  };
  for (const Case& k : cases) {
    Bytes damaged = sound;
    std::copy(k.value.begin(), k.value.end(), damaged.begin() + k.offset);
    ASSERT_EQ(file4write(&index.file, blockAt(0), damaged.data(), 512), 0);
    recorder.clear();
    EXPECT_EQ(block4read(b, blockAt(0)), e4index) << k.what;
    EXPECT_EQ(lastError().location, k.location) << k.what;
    clearError();
  }
}

}  // namespace
