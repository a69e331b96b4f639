// The bulk writer fed straight from sorts: the trees it writes pass the
// independent checker, hold what adding the keys one by one holds, read
// back through the tag walks and index_dump, and take further adds and
// removes.
#include "engine/index/reindex4write.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/index/index4file.h"
#include "engine/index/sort4.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/cdx_file.h"
#include "tests/support/cdx_tree.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

using Entry = std::pair<std::string, uint32_t>;

struct TagInput {
  std::string name;
  int keyLength = 10;
  unsigned char pad = ' ';
  int16_t uniqueMode = 0;
  std::vector<Entry> keys;  // in any order
};

class WriterTest : public EngineTest {
 protected:
  // Writes `path` from the tags' keys the way a rebuild does: 0, or the
  // writer's result.
  int32_t write(const std::string& path, const std::vector<TagInput>& tags,
                uint32_t blockSize = 512, uint32_t multiplier = 1, uint32_t records = 70000) {
    INDEX4FILE geometry;
    geometry.blockSize = blockSize;
    geometry.multiplier = multiplier;
    FILE4 file;
    c.safety = 0;
    if (int32_t rc = file4create(&file, &c, path.c_str(), 1); rc != 0) return rc;
    const int32_t rc = writeInto(&geometry, &file, tags, records);
    file4close(&file);
    return rc;
  }

  int32_t writeInto(INDEX4FILE* geometry, FILE4* file, const std::vector<TagInput>& tags,
                    uint32_t records) {
    const auto n = static_cast<uint32_t>(tags.size());
    Reindex4Writer w(&c, geometry, file);
    if (int32_t rc = w.start(block4fromOffset(geometry, 1024ull * (n + 1))); rc < 0) return rc;
    std::vector<Reindex4Header> headers(1);
    {
      TagInput names{"", 10, ' ', e4unique, {}};
      for (uint32_t k = 1; k <= n; k++)
        names.keys.emplace_back(tags[k - 1].name, block4fromOffset(geometry, 1024ull * k));
      Reindex4TagShape shape{"tags", 10, ' ', false, n * 1024, e4unique};
      if (int32_t rc = writeOne(w, shape, names); rc != 0) return rc;
      cdx4headerInitTagOfTags(&headers[0].header, geometry->blockSize, geometry->multiplier);
      headers[0].header.root = lastRoot_;
    }
    for (uint32_t k = 1; k <= n; k++) {
      const TagInput& t = tags[k - 1];
      Reindex4TagShape shape{t.name.c_str(), t.keyLength, t.pad, false, records, t.uniqueMode};
      if (int32_t rc = writeOne(w, shape, t); rc != 0) return rc;
      Reindex4Header h;
      h.block = block4fromOffset(geometry, 1024ull * k);
      h.header.root = lastRoot_;
      h.header.keyLength = static_cast<uint16_t>(t.keyLength);
      h.header.options = cdx4optionCompact | cdx4optionCompound;
      h.keyExpr = "KEY";
      headers.push_back(h);
    }
    if (int32_t rc = w.finishNodes(); rc < 0) return rc;
    return w.writeHeaders(headers);
  }

  int32_t writeOne(Reindex4Writer& w, const Reindex4TagShape& shape, const TagInput& t) {
    SORT4 s;
    int32_t rc = sort4init(&s, &c, shape.keyLength, 0);
    for (const Entry& e : t.keys) {
      if (rc == 0)
        rc = sort4put(&s, static_cast<int32_t>(e.second), padded(e.first, t).data(), nullptr);
    }
    if (rc == 0) rc = sort4getInit(&s);
    if (rc == 0) rc = w.writeTag(shape, &s, &lastRoot_);
    sort4free(&s);
    return rc;
  }

  static std::string padded(std::string key, const TagInput& t) {
    key.resize(static_cast<size_t>(t.keyLength), static_cast<char>(t.pad));
    return key;
  }

  // What the tag must hold: every key padded, in key then record order.
  static std::vector<CdxEntry> expected(const TagInput& t) {
    std::set<Entry> sorted;
    for (const Entry& e : t.keys) sorted.emplace(padded(e.first, t), e.second);
    std::vector<CdxEntry> out;
    for (const auto& [key, record] : sorted) out.push_back({key, record});
    return out;
  }

  uint32_t lastRoot_ = 0;
  std::mt19937 random_{77};
};

// Names of files with blanks, control bytes (below the pad) and bytes above
// 0x7F, many sharing long prefixes, many repeated.
std::vector<Entry> fileNames(std::mt19937& random, uint32_t count) {
  static const char alphabet[] = {'a', 'b', ' ', '\x01', '\x1f', '.', '\xe9', 'Z'};
  std::vector<Entry> out;
  for (uint32_t r = 1; r <= count; r++) {
    std::string name = "folder/sub " + std::to_string(random() % 40) + "/";
    const size_t tail = random() % 12;
    for (size_t i = 0; i < tail; i++) name += alphabet[random() % sizeof alphabet];
    if (random() % 7 == 0) name = "";
    out.emplace_back(name, r);
  }
  std::shuffle(out.begin(), out.end(), random);
  return out;
}

TEST_F(WriterTest, DeepTreesPassTheCheckerAndHoldWhatAddingOneByOneHolds) {
  TagInput names{"NAME", 40, ' ', 0, fileNames(random_, 6000)};
  TagInput sizes{"SIZE", 8, 0, 0, {}};
  for (uint32_t r = 1; r <= 6000; r++) {
    std::string key(8, '\0');
    const uint64_t v = random_() % 900;
    for (int b = 0; b < 8; b++) key[b] = static_cast<char>(v >> (56 - 8 * b));
    sizes.keys.emplace_back(key, r);
  }
  TagInput empty{"EMPTY", 20, ' ', 0, {}};
  ASSERT_EQ(write("w.cdx", {names, sizes, empty}), 0);

  const CdxReport report = checkCdxFile("w.cdx", {{"SIZE", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  ASSERT_EQ(report.tags.size(), 3u);
  EXPECT_EQ(report.tag("NAME")->entries, expected(names));
  EXPECT_GE(report.tag("NAME")->depth, 3);
  EXPECT_EQ(report.tag("SIZE")->entries, expected(sizes));
  EXPECT_EQ(report.tag("EMPTY")->depth, 1);
  EXPECT_TRUE(report.tag("EMPTY")->entries.empty());

  // The insert path, key by key, ends with the same entries.
  {
    CdxTree tree(&c, "a.cdx", {{"NAME", 40}}, 512, 1, 70000);
    ASSERT_EQ(tree.status(), 0);
    for (const Entry& e : names.keys) ASSERT_EQ(tree.add(0, e.first, e.second), 0);
    ASSERT_EQ(tree.finish(), 0);
  }
  const CdxReport added = checkCdxFile("a.cdx");
  ASSERT_TRUE(added.ok()) << added.text();
  EXPECT_EQ(added.tag("NAME")->entries, report.tag("NAME")->entries);

  // index_dump walks the same names.
  int status = 0;
  const std::string dump = runCommand("/usr/bin/index_dump --type char w.cdx", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(dump, "EMPTY\nNAME\nSIZE\n");
}

TEST_F(WriterTest, WrittenTreesTakeAddsAndRemovesAndWalkBothWays) {
  TagInput names{"NAME", 12, ' ', 0, fileNames(random_, 3000)};
  ASSERT_EQ(write("w.cdx", {names}, 1024, 2), 0);
  std::set<Entry> model;
  for (const Entry& e : names.keys) model.emplace(padded(e.first, names), e.second);
  {
    auto file = CdxFile::open(&c, "w.cdx", {}, 70000);
    ASSERT_EQ(file->status(), 0);
    TAG4FILE* t = file->tag("NAME");
    ASSERT_NE(t, nullptr);
    // Backwards through every leaf by the left pointers.
    ASSERT_EQ(tagfile4bottom(t), 0);
    auto it = model.rbegin();
    size_t walked = 0;
    do {
      const B4KEY_DATA* k = tagfile4key(t);
      ASSERT_NE(k, nullptr);
      ASSERT_EQ(Entry(std::string(reinterpret_cast<const char*>(b4keyValue(k)), 12), k->num), *it);
      ++it;
      walked++;
    } while (tagfile4skip(t, -1) == -1);
    EXPECT_EQ(walked, model.size());

    for (uint32_t r = 3001; r <= 3400; r++) {
      const std::string key = "added " + std::to_string(r % 50);
      ASSERT_EQ(file->add(t, key, r), 0);
      model.emplace(file->padded(t, key), r);
    }
    for (int i = 0; i < 800; i++) {
      auto victim = std::next(model.begin(), static_cast<long>(random_() % model.size()));
      ASSERT_EQ(file->remove(t, victim->first, victim->second), 0);
      model.erase(victim);
    }
    ASSERT_EQ(file->close(), 0);
  }
  const CdxReport report = checkCdxFile("w.cdx");
  ASSERT_TRUE(report.ok()) << report.text();
  std::vector<CdxEntry> want;
  for (const auto& [key, record] : model) want.push_back({key, record});
  EXPECT_EQ(report.tag("NAME")->entries, want);
}

TEST_F(WriterTest, EqualKeysFollowTheUniqueMode) {
  const std::vector<Entry> keys = {{"B", 9}, {"A", 3}, {"A", 1}, {"A", 2}, {"C", 4}};
  // 25: the lowest record of each key stays.
  ASSERT_EQ(write("u.cdx", {{"U", 4, ' ', r4uniqueContinue, keys}}), 0);
  const CdxReport report = checkCdxFile("u.cdx");
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_EQ(report.tag("U")->entries,
            (std::vector<CdxEntry>{{"A   ", 1}, {"B   ", 9}, {"C   ", 4}}));
  // 20 ends quietly; -340 raises naming the tag; a repeated tag name too.
  EXPECT_EQ(write("u.cdx", {{"U", 4, ' ', r4unique, keys}}), r4unique);
  EXPECT_TRUE(recorder.errors().empty());
  EXPECT_EQ(write("u.cdx", {{"U", 4, ' ', e4unique, keys}}), e4unique);
  EXPECT_EQ(lastError().code, e4unique);
  EXPECT_EQ(lastError().location, 80111);
  clearError();
  EXPECT_EQ(write("u.cdx", {{"SAME", 4, ' ', 0, keys}, {"SAME", 4, ' ', 0, keys}}), e4unique);
  clearError();
}

// A key whose second byte is a blank and third a byte below the blank
// sorts before the same first byte alone, padded: the padded key shares two
// bytes with it but has only one significant byte. Its duplicate count
// stops at that byte, so it stores nothing rather than a negative length.
TEST_F(WriterTest, AKeyPaddedBesideBytesBelowThePadStoresNothing) {
  ASSERT_EQ(write("p.cdx", {{"P", 6, ' ', 0, {{"A \x01", 1}, {"A", 2}, {"A \x01x", 3}, {"", 4}}}}),
            0);
  const CdxReport report = checkCdxFile("p.cdx");
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_EQ(report.tag("P")->entries,
            (std::vector<CdxEntry>{
                {"      ", 4}, {"A \x01   ", 1}, {"A \x01x  ", 3}, {"A     ", 2}}));
}

TEST_F(WriterTest, AKeyTooLongForTwoBranchEntriesIsRefused) {
  EXPECT_EQ(write("l.cdx", {{"LONG", 247, ' ', 0, {{"x", 1}}}}), e4index);
  EXPECT_EQ(lastError().location, 90198);
  clearError();
}

}  // namespace
