// Tags: unique modes, root splits, descending seeks, freed nodes, the
// index lock, key types, and damaged trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/index/block4.h"
#include "engine/index/index4internal.h"
#include "engine/index/tag4keytype.h"
#include "engine/storage/code4.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/cdx_file.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

constexpr const char* kPath = "t.cdx";

// Zero-padded, so that key order is number order.
std::string name(uint32_t n) {
  const std::string digits = std::to_string(n);
  return "K" + std::string(6 - digits.size(), '0') + digits;
}

uint32_t le32At(const std::string& bytes, uint64_t offset) {
  return endian4::readLe32(reinterpret_cast<const unsigned char*>(bytes.data()) + offset);
}

void putLe32(std::string& bytes, uint64_t offset, uint32_t value) {
  endian4::writeLe32(reinterpret_cast<unsigned char*>(bytes.data()) + offset, value);
}

void putBe32(std::string& bytes, uint64_t offset, uint32_t value) {
  endian4::writeBe32(reinterpret_cast<unsigned char*>(bytes.data()) + offset, value);
}

class TagTest : public EngineTest {
 protected:
  std::vector<CdxEntry> entries(const std::string& tag) {
    const CdxReport report = checkCdxFile(kPath);
    EXPECT_TRUE(report.ok()) << report.text();
    return report.tag(tag) == nullptr ? std::vector<CdxEntry>{} : report.tag(tag)->entries;
  }
  static CdxEntry entry(const std::string& key, uint32_t record, int length = 10) {
    return {key + std::string(length - key.size(), ' '), record};
  }
  int32_t addKey(CdxFile& f, TAG4FILE* t, const std::string& key, uint32_t record, int16_t mode,
                 bool null = false) {
    TAG4 h = f.handle(t, mode);
    const std::string k = f.padded(t, key);
    return tagfile4add(&h, reinterpret_cast<const unsigned char*>(k.data()), record, null);
  }
};

TEST_F(TagTest, UniqueModesDecideWhatADuplicateDoes) {
  {
    CdxFile f(&c, kPath, {{"ANY", 10}, {"KEEP", 10}, {"REFUSE", 10}, {"RAISE", 10}});
    TAG4FILE* any = f.tag("ANY");
    // Equal keys stand in record-number order whatever the order of adding.
    for (uint32_t r : {3u, 1u, 2u}) EXPECT_EQ(addKey(f, any, "K", r, 0), 0);
    EXPECT_EQ(addKey(f, any, "K", 2, 0), 0) << "the same entry again adds nothing";
    EXPECT_EQ(addKey(f, any, "N", 4, 0, true), 0) << "null keys are ordinary keys here";
    // Appended records: the first keeps the key.
    TAG4FILE* keep = f.tag("KEEP");
    EXPECT_EQ(addKey(f, keep, "K", 1, 25), 0);
    EXPECT_EQ(addKey(f, keep, "K", 2, 25), 25);
    EXPECT_EQ(addKey(f, keep, "K", 3, 25), 25);
    TAG4FILE* refuse = f.tag("REFUSE");
    EXPECT_EQ(addKey(f, refuse, "K", 1, 20), 0);
    EXPECT_EQ(addKey(f, refuse, "K", 2, 20), 20);
    EXPECT_EQ(addKey(f, refuse, "K", 2, 15), 20);
    EXPECT_EQ(addKey(f, refuse, "L", 3, 15, true), 20) << "mode 15 refuses null keys";
    EXPECT_EQ(addKey(f, refuse, "L", 3, 15), 0);
    TAG4FILE* raise = f.tag("RAISE");
    EXPECT_EQ(addKey(f, raise, "K", 1, -340), 0);
    EXPECT_EQ(addKey(f, raise, "K", 2, -340), -340);
    EXPECT_EQ(lastError().location, 90384);
    EXPECT_EQ(lastError().text2, "RAISE");
    clearError();
    EXPECT_EQ(addKey(f, raise, "M", 3, -360, true), -340) << "mode -360 raises for null keys";
    clearError();
    EXPECT_EQ(addKey(f, raise, "M", 3, -360), 0);
  }
  EXPECT_EQ(entries("ANY"),
            (std::vector<CdxEntry>{entry("K", 1), entry("K", 2), entry("K", 3), entry("N", 4)}));
  EXPECT_EQ(entries("KEEP"), std::vector<CdxEntry>{entry("K", 1)});
  EXPECT_EQ(entries("REFUSE"), (std::vector<CdxEntry>{entry("K", 1), entry("L", 3)}));
  EXPECT_EQ(entries("RAISE"), (std::vector<CdxEntry>{entry("K", 1), entry("M", 3)}));
}

TEST_F(TagTest, TheUniqueModeAtOpenFollowsTheOptionsAndTheDefault) {
  EXPECT_EQ(tag4uniqueModeFor(&c, 0), 0);
  EXPECT_EQ(tag4uniqueModeFor(&c, cdx4optionUnique), 25);
  EXPECT_EQ(tag4uniqueModeFor(&c, cdx4optionUniqueNoNull), 15);
  c.errDefaultUnique = -340;
  EXPECT_EQ(tag4uniqueModeFor(&c, cdx4optionUnique), -340);
  EXPECT_EQ(tag4uniqueModeFor(&c, cdx4optionUniqueNoNull), -360);
  const TAG4 none;
  EXPECT_EQ(tag4uniqueMode(&none), -930);
}

TEST_F(TagTest, APendingRemovalIsSettledByTheNextAdd) {
  {
    CdxFile f(&c, kPath, {{"T", 10}});
    TAG4FILE* t = f.tag("T");
    ASSERT_EQ(addKey(f, t, "K", 1, 20), 0);
    TAG4 h = f.handle(t, 20);
    const std::string k = f.padded(t, "K");
    const auto* key = reinterpret_cast<const unsigned char*>(k.data());
    c.transactionState = tran4active;
    // The record got its old key back: the removal is taken back.
    ASSERT_EQ(tag4pendingPush(&h, 1, key), 0);
    EXPECT_EQ(tagfile4add(&h, key, 1), 0);
    EXPECT_EQ(tag4pendingFind(&h, 0, key), nullptr);
    // Another record takes the key: the first record's entry goes now.
    ASSERT_EQ(tag4pendingPush(&h, 1, key), 0);
    EXPECT_EQ(tagfile4add(&h, key, 2), 0);
    EXPECT_EQ(tag4pendingFind(&h, 0, key), nullptr);
    c.transactionState = tran4inactive;
  }
  EXPECT_EQ(entries("T"), std::vector<CdxEntry>{entry("K", 2)});
}

// Other processes hold the root's block number of a shared file, so a root
// split keeps it there; an exclusive file names the new root instead.
TEST_F(TagTest, ARootSplitKeepsTheRootBlockOfASharedFile) {
  for (const int8_t mode : {0, 1}) {
    SCOPED_TRACE(mode == 0 ? "shared" : "exclusive");
    c.accessMode = mode;
    uint32_t rootBefore = 0;
    {
      CdxFile f(&c, kPath, {{"T", 10}});
      rootBefore = le32At(readDiskFile(kPath), 1024);
      ASSERT_EQ(index4lock(f.index(), 1), 0);
      for (uint32_t r = 1; r <= 6000; r++) ASSERT_EQ(f.add(f.tag("T"), name(r), r), 0);
    }
    const std::string bytes = readDiskFile(kPath);
    const uint32_t root = le32At(bytes, 1024);
    EXPECT_EQ(root == rootBefore, mode == 0);
    EXPECT_EQ(endian4::readLe16(reinterpret_cast<const unsigned char*>(bytes.data()) + root),
              block4attrRootBranch);
    const CdxReport report = checkCdxFile(kPath);
    ASSERT_TRUE(report.ok()) << report.text();
    EXPECT_EQ(report.tag("T")->depth, 3);
    EXPECT_EQ(report.tag("T")->entries.size(), 6000u);
  }
}

TEST_F(TagTest, ADescendingSeekLandsOnTheLastMatchingKey) {
  CdxFile f(&c, kPath, {{"UP", 4}, {"DOWN", 4, 'C', true}, {"NONE", 4, 'C', true}});
  TAG4FILE* up = f.tag("UP");
  TAG4FILE* down = f.tag("DOWN");
  uint32_t r = 0;
  for (const char* k : {"ABC", "ABD", "B"}) {
    ASSERT_EQ(f.add(up, k, ++r), 0);
    ASSERT_EQ(f.add(down, k, r), 0);
  }
  auto at = [](TAG4FILE* t) {
    return std::string(reinterpret_cast<char*>(tagfile4keyEntry(t)), 4);
  };
  EXPECT_EQ(tagfile4seek(up, "AB", 2), 0);
  EXPECT_EQ(at(up), "ABC ");
  EXPECT_EQ(tagfile4seek(down, "AB", 2), 0);
  EXPECT_EQ(at(down), "ABD ");
  EXPECT_EQ(tagfile4seek(down, "AC", 2), 2) << "the next key going down";
  EXPECT_EQ(at(down), "ABD ");
  EXPECT_EQ(tagfile4seek(down, "AA", 2), 3) << "every key is above";
  EXPECT_EQ(tagfile4recNo(down), -1);
  EXPECT_EQ(tagfile4seek(down, "\xFF\xFF", 2), 2) << "no bound: the last key answers";
  EXPECT_EQ(at(down), "B   ");
  EXPECT_EQ(tagfile4seek(down, "", 0), 0);
  EXPECT_EQ(at(down), "B   ");
  EXPECT_EQ(tagfile4seek(f.tag("NONE"), "\xFF", 1), 3);
  // Top, bottom and skips run the other way.
  ASSERT_EQ(tagfile4top(down), 0);
  EXPECT_EQ(at(down), "B   ");
  EXPECT_EQ(tagfile4skip(down, 5), 2);
  EXPECT_EQ(at(down), "ABC ");
  EXPECT_EQ(tagfile4skip(down, -1), -1);
  EXPECT_EQ(at(down), "ABD ");
}

TEST_F(TagTest, EmptiedNodesGoToTheFreeListAndComeBack) {
  CdxFile f(&c, kPath, {{"T", 10}});
  TAG4FILE* t = f.tag("T");
  const uint32_t root = le32At(readDiskFile(kPath), 1024);
  ASSERT_EQ(index4lock(f.index(), 1), 0);
  for (uint32_t r = 1; r <= 2000; r++) ASSERT_EQ(f.add(t, name(r), r), 0);
  // The keys of one leaf in the middle: its neighbours then point at each
  // other and its block heads the free list.
  ASSERT_EQ(tagfile4seek(t, f.padded(t, name(200)).data(), 10), 0);
  const uint32_t leaf = t->path[t->depth - 1]->fileBlock;
  ASSERT_EQ(tagfile4top(t), 0);
  std::vector<uint32_t> inLeaf;
  for (uint32_t r = 1; r <= 2000; r++) {
    ASSERT_EQ(tagfile4seekRecord(t, f.padded(t, name(r)).data(), r, 0), 0);
    if (t->path[t->depth - 1]->fileBlock == leaf) inLeaf.push_back(r);
  }
  for (uint32_t r : inLeaf) ASSERT_EQ(f.remove(t, name(r), r), 0);
  EXPECT_EQ(f.remove(t, name(inLeaf[0]), inLeaf[0]), 5);
  ASSERT_EQ(index4unlock(f.index(), 1), 0);
  CdxReport report = checkCdxFile(kPath);
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_EQ(report.freeBlocks, std::vector<uint32_t>{leaf});
  // Every key out: the root is an empty root leaf in its own block.
  ASSERT_EQ(index4lock(f.index(), 1), 0);
  for (uint32_t r = 1; r <= 2000; r++) {
    if (std::find(inLeaf.begin(), inLeaf.end(), r) == inLeaf.end()) {
      ASSERT_EQ(f.remove(t, name(r), r), 0);
    }
  }
  ASSERT_EQ(index4unlock(f.index(), 1), 0);
  const std::string bytes = readDiskFile(kPath);
  EXPECT_EQ(le32At(bytes, 1024), root);
  EXPECT_EQ(bytes.substr(root, 12), std::string("\3\0\0\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12));
  report = checkCdxFile(kPath);
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_TRUE(report.tag("T")->entries.empty());
  // The freed blocks come back before the file grows.
  const uint32_t eof = f.index()->eofBlock;
  ASSERT_GE(report.freeBlocks.size(), 10u);
  uint32_t r = 0;
  while (f.index()->tagIndex->header.freeList != 0) {
    r++;
    ASSERT_EQ(f.add(t, name(r), r), 0);
  }
  EXPECT_EQ(f.index()->eofBlock, eof);
  ASSERT_EQ(f.close(), 0);
  report = checkCdxFile(kPath);
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_TRUE(report.freeBlocks.empty());
  EXPECT_EQ(report.tag("T")->entries.size(), r);
}

// A leaf split leaves the left half cached with its new right pointer not
// yet written; when the right half empties again, that cached copy is the
// one patched, or writing it later would bring the freed node back.
TEST_F(TagTest, AnEmptiedNodePatchesItsCachedNeighbour) {
  CdxFile f(&c, kPath, {{"T", 10}});
  TAG4FILE* t = f.tag("T");
  ASSERT_EQ(index4lock(f.index(), 1), 0);
  uint32_t r = 0;
  while (t->depth < 2) {
    r++;
    ASSERT_EQ(f.add(t, name(r), r), 0);
  }
  const uint32_t right = t->path[1]->fileBlock;
  for (; f.index()->tagIndex->header.freeList == 0; r--) ASSERT_EQ(f.remove(t, name(r), r), 0);
  EXPECT_EQ(f.index()->tagIndex->header.freeList, right);
  ASSERT_EQ(index4unlock(f.index(), 1), 0);
  const CdxReport report = checkCdxFile(kPath);
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_EQ(report.tag("T")->entries.size(), r);
}

TEST_F(TagTest, TheIndexLockHasOneOwnerAndCarriesTheVersion) {
  CdxFile f(&c, kPath, {{"T", 10}});
  INDEX4FILE* i = f.index();
  const uint32_t version =
      endian4::readBe32(reinterpret_cast<const unsigned char*>(readDiskFile(kPath).data()) + 8);
  EXPECT_EQ(index4lock(i, 1), 0);
  EXPECT_EQ(index4lock(i, 1), 0);
  EXPECT_EQ(index4lock(i, 2), 50);
  EXPECT_EQ(index4unlock(i, 2), 0);
  EXPECT_TRUE(i->locked) << "another owner's unlock leaves the lock";
  // Another open of the file is another holder.
  c.lockAttempts = 1;
  auto other = CdxFile::open(&c, kPath);
  ASSERT_EQ(other->status(), 0);
  EXPECT_EQ(index4lock(other->index(), 3), 50);
  TAG4FILE* seen = other->tag("T");
  ASSERT_EQ(tagfile4top(seen), 0);
  ASSERT_EQ(f.add(f.tag("T"), "NEW", 9), 0);
  EXPECT_EQ(index4unlock(i, 0), 0);
  EXPECT_FALSE(i->locked);
  const std::string bytes = readDiskFile(kPath);
  EXPECT_EQ(endian4::readBe32(reinterpret_cast<const unsigned char*>(bytes.data()) + 8),
            version + 1);
  // The reader sees the change once it re-reads the header.
  ASSERT_EQ(tagfile4top(seen), 0);
  EXPECT_TRUE(tagfile4eof(seen)) << "its cached root is still the empty one";
  ASSERT_EQ(index4refresh(other->index()), 0);
  ASSERT_EQ(tagfile4top(seen), 0);
  EXPECT_EQ(tagfile4recNo(seen), 9);
  // An add of its own takes the lock for its duration.
  ASSERT_EQ(other->add(seen, "MORE", 10), 0);
  EXPECT_FALSE(other->index()->locked);
  EXPECT_EQ(entries("T"), (std::vector<CdxEntry>{entry("MORE", 10), entry("NEW", 9)}));
}

TEST_F(TagTest, AFileOpenedForReadingRefusesChanges) {
  { CdxFile f(&c, kPath, {{"T", 10}}); }
  c.readOnly = 1;
  auto f = CdxFile::open(&c, kPath);
  ASSERT_EQ(f->status(), 0);
  EXPECT_EQ(f->add(f->tag("T"), "K", 1), -120);
  EXPECT_EQ(lastError().location, 80334);
}

TEST_F(TagTest, KeyTypesChooseTheRoutinesAndThePad) {
  CdxFile f(&c, kPath, {{"T", 8}});
  TAG4FILE* t = f.tag("T");
  unsigned char key[8];
  EXPECT_EQ(t->keyRoutines.fromText(t, key, "ABCDEFGHIJ", 10), 8);
  ASSERT_EQ(tag4keyRoutinesInstall('N', false, {}), 0);
  ASSERT_EQ(tagfile4keyTypeSet(t, 'N', tag4machineOrder), 0);
  EXPECT_EQ(t->pad, 0);
  EXPECT_EQ(t->keyRoutines.fromText, nullptr) << "none installed";
  auto fromDouble = [](const TAG4FILE*, unsigned char*, double) { return 8; };
  ASSERT_EQ(tag4keyRoutinesInstall('n', false, {nullptr, fromDouble}), 0);
  ASSERT_EQ(tagfile4keyTypeSet(t, 'N', tag4machineOrder), 0);
  EXPECT_NE(t->keyRoutines.fromDouble, nullptr) << "N and n share their routines";
  ASSERT_EQ(tag4keyRoutinesInstall('N', false, {}), 0);

  EXPECT_EQ(tagfile4keyTypeSet(t, 'X', tag4machineOrder), -910);
  EXPECT_EQ(lastError().location, 80121);
  clearError();
  tag4collationInstall({});
  EXPECT_EQ(tagfile4keyTypeSet(t, 'C', 2), -1090) << "no collation installed";
  EXPECT_EQ(lastError().location, 80187);
  clearError();
  static const Tag4Compare collated = [](const unsigned char* a, const unsigned char* b,
                                         int32_t n) { return tag4compareBytes(a, b, n); };
  tag4collationInstall({[](CODE4*, int32_t number) { return number == 2 ? 6 : 4; },
                        [](int32_t) { return collated; }});
  EXPECT_EQ(tagfile4keyTypeSet(t, 'C', 3), -1090) << "kind 4 makes no keys";
  clearError();
  ASSERT_EQ(tagfile4keyTypeSet(t, 'C', 2), 0);
  EXPECT_EQ(t->pad, 0);
  EXPECT_EQ(t->compare, collated);
  ASSERT_EQ(tagfile4keyTypeSet(t, 'D', 2), 0);
  EXPECT_EQ(t->collation, tag4machineOrder) << "dates follow no collation";
  index4keyRoutinesInstall();  // the engine's own, for the tests after this one
}

// Damage found while walking: an error with its location, never a hang.
class DamagedTreeTest : public TagTest {
 protected:
  // A file whose tag T has three levels; `root`, `branch` (the root's
  // first child) and `leaf` (that branch's first child) are byte offsets.
  void SetUp() override {
    TagTest::SetUp();
    c.accessMode = 1;
    {
      CdxFile f(&c, kPath, {{"T", 10}, {"S", 10}});
      for (uint32_t r = 1; r <= 6000; r++) ASSERT_EQ(f.add(f.tag("T"), name(r), r), 0);
      ASSERT_EQ(f.add(f.tag("S"), name(1), 1), 0);
    }
    bytes = readDiskFile(kPath);
    root = le32At(bytes, 1024);
    branch =
        endian4::readBe32(reinterpret_cast<const unsigned char*>(bytes.data()) + root + 12 + 14);
    leaf =
        endian4::readBe32(reinterpret_cast<const unsigned char*>(bytes.data()) + branch + 12 + 14);
  }
  // Writes the patched bytes and walks T from the top: its result.
  int32_t walk(const std::string& patched, int8_t accessMode = 1) {
    writeDiskFile(kPath, patched);
    c.accessMode = accessMode;
    auto f = CdxFile::open(&c, kPath);
    EXPECT_EQ(f->status(), 0);
    return tagfile4top(f->tag("T"));
  }
  std::string bytes;
  uint64_t root = 0, branch = 0, leaf = 0;
};

TEST_F(DamagedTreeTest, BadChildPointersAreRefused) {
  std::string loop = bytes;
  putBe32(loop, branch + 12 + 14, static_cast<uint32_t>(root));
  EXPECT_EQ(walk(loop), -310) << "a child naming an ancestor";
  EXPECT_EQ(lastError().location, 80332);
  clearError();
  std::string outside = bytes;
  putBe32(outside, branch + 12 + 14, static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(walk(outside), -310) << "a child past the end of the file";
  EXPECT_EQ(lastError().location, 80332);
  clearError();
  std::string misaligned = bytes;
  putBe32(misaligned, branch + 12 + 14, static_cast<uint32_t>(leaf + 100));
  EXPECT_EQ(walk(misaligned), -310);
  clearError();
  std::string record = bytes;
  putBe32(record, branch + 12 + 10, 77777);
  EXPECT_EQ(walk(record), -310) << "a parent entry that is not its child's last";
  EXPECT_EQ(lastError().location, 80083);
}

// A chain of one-entry branches deeper than any real tree.
TEST_F(DamagedTreeTest, ADeepChainEndsAtTheDepthLimit) {
  std::string deep = bytes;
  const uint32_t start = static_cast<uint32_t>(deep.size());
  const uint32_t links = tag4depthMax + 2;
  const uint32_t oneKeyLeaf = le32At(bytes, 2048);  // S's root leaf: (K000001, 1)
  deep[oneKeyLeaf] = block4attrLeaf;
  for (uint32_t n = 0; n < links; n++) {
    std::string node(512, '\0');
    node[0] = n == 0 ? block4attrRootBranch : block4attrBranch;
    node[2] = 1;
    putLe32(node, 4, block4none);
    putLe32(node, 8, block4none);
    node.replace(12, 10, name(1) + "   ");
    putBe32(node, 22, 1);
    putBe32(node, 26, n + 1 == links ? oneKeyLeaf : start + 512 * (n + 1));
    deep += node;
  }
  putLe32(deep, 1024, start);
  EXPECT_EQ(walk(deep), -310);
  EXPECT_EQ(lastError().location, 80331);
}

// A reader of a shared file without the lock takes a failed check for a
// change in progress: it waits and tries again, a bounded number of times.
TEST_F(DamagedTreeTest, ASharedReaderRetriesAndThenGivesUp) {
  FakeOs os;
  os.skipSleeps = true;
  platform::ScopedOs scoped(os);
  std::string record = bytes;
  putBe32(record, branch + 12 + 10, 77777);
  EXPECT_EQ(walk(record, 0), -310);
  EXPECT_EQ(lastError().location, 80082);
  EXPECT_GT(os.millisSlept(), 100);
  EXPECT_LT(os.millisSlept(), 5000);
}

}  // namespace
