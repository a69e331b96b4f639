#include "engine/index/block4leaf.h"

#include <algorithm>
#include <random>
#include <set>

#include "engine/storage/error4.h"
#include "tests/engine/index/node_fixture.h"

using namespace testing_support;

namespace {

using Bytes = std::vector<unsigned char>;

class LeafTest : public NodeTest {};

// A letter and a number ("K42").
std::string label(char letter, uint32_t number) {
  std::string out(1, letter);
  out += std::to_string(number);
  return out;
}

TEST(LeafWidths, FollowKeyLengthAndRecordCount) {
  struct Case {
    int keyLength;
    uint32_t records;
    int r, d, n;
  } cases[] = {
      {10, 1000, 16, 4, 3},       // the documented example
      {240, 0, 16, 8, 4},         //
      {200, 70000, 24, 8, 5},     // the catalogue's long key past 65,535 records
      {1, 0, 14, 1, 2},           // one-byte keys over few records: 2-byte entries
      {1, 0xFFFFFFFF, 32, 1, 5},  // 38 bits before the cap
      {10, 0xFFFFFFFF, 32, 4, 5},
  };
  for (const Case& c : cases) {
    const leaf4::Widths w = leaf4::widthsFor(c.keyLength, c.records);
    EXPECT_EQ(w.r, c.r) << c.keyLength << " " << c.records;
    EXPECT_EQ(w.d, c.d);
    EXPECT_EQ(w.t, c.d);
    EXPECT_EQ(w.n, c.n);
  }
}

// Three keys of length 4 (r = 18, d = t = 3, n = 3): "ABC" whole, "ABD"
// repeating 2 bytes, "B" alone; each with one or three trailing blanks.
TEST_F(LeafTest, KeysArePackedFromTheEndWhateverTheInsertOrder) {
  const Bytes expectedInfo = {0x01, 0x00, 0x20, 0x02, 0x00, 0x28, 0x03, 0x00, 0x60};
  const Bytes expectedKeys = {'B', 'D', 'A', 'B', 'C'};
  std::vector<std::pair<std::string, uint32_t>> keys = {{"ABC", 1}, {"ABD", 2}, {"B", 3}};
  do {
    BLOCK4* b = newNode(block4attrRootLeaf);
    for (const auto& [key, record] : keys) ASSERT_TRUE(put(b, key, record));
    const Bytes node = image(b);
    EXPECT_EQ(Bytes(node.begin() + 24, node.begin() + 33), expectedInfo);
    EXPECT_EQ(Bytes(node.end() - 5, node.end()), expectedKeys);
    EXPECT_EQ(leaf4::freeBytes(b->data()), 512 - 24 - 9 - 5);
    EXPECT_TRUE(
        std::all_of(node.begin() + 33, node.end() - 5, [](unsigned char x) { return x == 0; }));
  } while (std::next_permutation(keys.begin(), keys.end()));
}

TEST_F(LeafTest, PadOnlyAndRepeatedKeysStoreNoByte) {
  BLOCK4* b = newNode(block4attrRootLeaf);
  ASSERT_TRUE(put(b, "", 1));
  const leaf4::Widths w = leaf4::widthsOf(b->data());
  EXPECT_EQ(leaf4::entryAt(b->data(), w, 0).trail, 4);
  EXPECT_EQ(leaf4::freeBytes(b->data()), 512 - 24 - 3);
  ASSERT_TRUE(put(b, "XY", 2));
  ASSERT_TRUE(put(b, "XY", 3));
  const leaf4::Entry repeated = leaf4::entryAt(b->data(), w, 2);
  EXPECT_EQ(repeated.dup + repeated.trail, 4);
  EXPECT_EQ(leaf4::freeBytes(b->data()), 512 - 24 - 9 - 2);
  EXPECT_EQ(entries(b), (Entries{{"    ", 1}, {"XY  ", 2}, {"XY  ", 3}}));

  // Moves stop after the last entry and on the first, keeping the cursor
  // entry's place: its bytes end where the previous entries' begin.
  block4top(b);
  EXPECT_EQ(block4go(b, 5), 3);
  EXPECT_EQ(b->curPos, 512 - 2);
  EXPECT_EQ(block4go(b, -2), -2);
  EXPECT_EQ(b->curPos, 512);
  EXPECT_EQ(b->curTrailCnt, 2);
  EXPECT_EQ(block4go(b, -5), -1);
}

TEST_F(LeafTest, RecordBeyondTheFieldWidensTheLeaf) {
  useKeyLength(10);
  BLOCK4* b = newNode(block4attrRootLeaf);
  for (uint32_t r = 1; r <= 40; r++) ASSERT_TRUE(put(b, label('K', r * 7), r));
  const Entries before = entries(b);
  const int freeBefore = leaf4::freeBytes(b->data());
  ASSERT_TRUE(put(b, "Z", 70000));
  EXPECT_EQ(Bytes(b->data() + 14, b->data() + 24),
            (Bytes{0xFF, 0xFF, 0xFF, 0x00, 0x0F, 0x0F, 24, 4, 4, 4}));
  EXPECT_EQ(leaf4::freeBytes(b->data()), freeBefore - 40 - 4 - 1);
  ASSERT_EQ(reread(b), 0);
  Entries after = before;
  after.emplace_back(padded("Z"), 70000);
  EXPECT_EQ(entries(b), after);

  // Without a free byte per entry the leaf refuses, unchanged, and a split
  // makes the room.
  BLOCK4* full = newNode(block4attrLeaf, 1);
  uint32_t r = 1;
  while (put(full, label('F', r * 13), r)) r++;
  ASSERT_LT(leaf4::freeBytes(full->data()), block4numKeys(full));
  const Bytes unchanged = image(full);
  block4goEof(full);
  EXPECT_EQ(block4insertLeaf(full, padded("Z").data(), 70000), 1);
  EXPECT_EQ(image(full), unchanged);
  bool inNew = false;
  BLOCK4* right = block4split(&tag, full, &inNew);
  ASSERT_NE(right, nullptr);
  nodes.push_back(right);
  EXPECT_TRUE(inNew);
  EXPECT_EQ(block4insertLeaf(right, padded("Z").data(), 70000), 0);
  EXPECT_EQ(right->data()[leaf4::kRecordBits], 24);
}

TEST_F(LeafTest, RemovingTheFirstEntryStoresTheNextKeyWhole) {
  BLOCK4* b = newNode(block4attrRootLeaf);
  ASSERT_TRUE(put(b, "ABC", 1));
  ASSERT_TRUE(put(b, "ABD", 2));
  block4top(b);
  ASSERT_EQ(block4remove(b), 0);
  const leaf4::Entry first = leaf4::entryAt(b->data(), leaf4::widthsOf(b->data()), 0);
  EXPECT_EQ(first.dup, 0);
  EXPECT_EQ(first.record, 2u);
  EXPECT_EQ(Bytes(b->data() + 509, b->data() + 512), (Bytes{'A', 'B', 'D'}));
  EXPECT_EQ(leaf4::freeBytes(b->data()), 512 - 24 - 3 - 3);
}

// Random inserts and removes over keys made of few distinct bytes, some
// below the pad byte, against a sorted model; each step is written, read
// back through the full check, and its duplicate counts kept out of the
// previous key's pad.
TEST_F(LeafTest, RandomEditsKeepTheLeafSoundAndOrdered) {
  struct Setting {
    unsigned char pad;
    bool keepTrailing;
  } settings[] = {{' ', false}, {0, false}, {' ', true}};
  for (const Setting& s : settings) {
    useKeyLength(6, s.pad);
    tag.keepTrailing = s.keepTrailing;
    std::mt19937 random(s.pad + s.keepTrailing);
    const char alphabet[] = {' ', 0, 1, 'A', 'B'};
    std::set<std::pair<std::string, uint32_t>> model;
    BLOCK4* b = newNode(block4attrRootLeaf);
    for (int step = 0; step < 3000; step++) {
      if (model.size() > 30 && random() % 2 == 0) {
        const int victim = static_cast<int>(random() % model.size());
        block4goTo(b, victim);
        ASSERT_EQ(block4remove(b), 0);
        model.erase(std::next(model.begin(), victim));
      } else {
        std::string key(static_cast<size_t>(random() % 7), ' ');
        for (char& ch : key) ch = alphabet[random() % 5];
        const uint32_t record = 1 + random() % 100000;
        if (!put(b, key, record)) continue;
        const auto added = model.emplace(padded(key), record).first;
        // The successor expands from the key the insert left built.
        if (std::next(added) != model.end()) {
          const B4KEY_DATA* next = block4key(b, b->keyOn + 1);
          ASSERT_NE(next, nullptr);
          ASSERT_EQ(std::string(reinterpret_cast<const char*>(b4keyValue(next)), 6),
                    std::next(added)->first);
        }
      }
      ASSERT_EQ(reread(b), 0) << step;
      ASSERT_EQ(entries(b), Entries(model.begin(), model.end())) << step;
      const leaf4::Widths w = leaf4::widthsOf(b->data());
      for (int i = 1; i < block4numKeys(b); i++)
        ASSERT_LE(leaf4::entryAt(b->data(), w, i).dup,
                  6 - leaf4::entryAt(b->data(), w, i - 1).trail);
    }
  }
}

// The result and cursor of a seek are those of comparing the expanded keys
// in order: the first key beginning with the value (0), else the first
// greater key or the end (2).
TEST_F(LeafTest, SeekAgreesWithComparingExpandedKeys) {
  useKeyLength(5);
  std::mt19937 random(7);
  const char alphabet[] = {' ', 1, 'A', 'B'};
  auto randomKey = [&](size_t length) {
    std::string key(length, ' ');
    for (char& ch : key) ch = alphabet[random() % 4];
    return key;
  };
  for (int round = 0; round < 200; round++) {
    BLOCK4* b = newNode(block4attrRootLeaf);
    for (int i = 0; i < 12; i++) put(b, randomKey(random() % 6), i + 1);
    const Entries all = entries(b);
    for (int probe = 0; probe < 20; probe++) {
      const int length = static_cast<int>(random() % 6);
      const std::string value = randomKey(5);
      int expectedOn = static_cast<int>(all.size());
      int expected = 2;
      for (size_t i = 0; i < all.size(); i++) {
        const int order = all[i].first.compare(0, length, value, 0, length);
        if (order >= 0) {
          expectedOn = static_cast<int>(i);
          expected = order == 0 ? 0 : 2;
          break;
        }
      }
      ASSERT_EQ(block4seek(b, value.data(), length), expected);
      ASSERT_EQ(b->keyOn, expectedOn);
    }
  }
}

TEST_F(LeafTest, DamagedLeavesAreRefused) {
  BLOCK4* b = newNode(block4attrLeaf);
  for (const char* key : {"AAA", "AAB", "B"}) ASSERT_TRUE(put(b, key, 1));
  ASSERT_EQ(block4flush(b), 0);
  const Bytes sound = image(b);
  struct Case {
    const char* what;
    int offset;
    unsigned char value;
    int32_t location;
  } cases[] = {
      {"count beyond the entry area", 2, 0xFF, 80303},
      {"one-byte entries too narrow for the fields", 23, 1, 80301},
      {"seven-byte info entries", 23, 7, 80301},
      {"fields wider than the entries", 20, 20, 80301},
      {"counts above the key length", 26, 0xE0, 80000},
      {"duplicate bytes in entry 0", 26, 0x04, 80000},
      {"free-bytes field wrong", 12, 0, 80303},
  };
  for (const Case& k : cases) {
    Bytes damaged = sound;
    damaged[k.offset] = k.value;
    ASSERT_EQ(file4write(&index.file, blockAt(0), damaged.data(), 512), 0);
    recorder.clear();
    EXPECT_EQ(block4read(b, blockAt(0)), e4index) << k.what;
    EXPECT_EQ(lastError().location, k.location) << k.what;
    EXPECT_EQ(lastError().text2, "node at byte 1024");
    clearError();
  }
  // An image never checked still cannot make key expansion read outside it.
  std::copy(sound.begin(), sound.end(), b->data());
  b->data()[29] = 0xE0;  // entry 1 counts 7 + 7 > 4
  block4forgetKeys(b);
  EXPECT_EQ(block4key(b, 2), nullptr);
  EXPECT_EQ(lastError().location, 80000);
}

}  // namespace
