// Key maintenance and walks checked against a model: random adds and
// removes on tags of many kinds, mirrored in a set of (key, record); after
// each batch the invariant checker reads the whole file, and seeks, seeks
// by record and skips must agree with the model. The file is closed and
// reopened along the way, and at the end index_dump lists every tag as the
// model does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <set>

#include "engine/index/block4.h"
#include "engine/storage/code4.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/cdx_file.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

constexpr const char* kPath = "m.cdx";
constexpr int32_t kWriter = 7;

using Entry = std::pair<std::string, uint32_t>;

struct Model {
  TagShape shape;
  int16_t unique = 0;
  std::set<Entry> entries;
  std::vector<std::string> used;  // keys added so far: duplicates come from here
  unsigned char pad() const { return shape.keyType == 'C' ? ' ' : 0; }
};

std::vector<Model> models() {
  std::vector<Model> out(6);
  out[0].shape = {"ONE", 1};
  out[1].shape = {"NAME", 30};
  out[2].shape = {"NUMBER", 8, 'N'};
  out[3].shape = {"LONG", 240};
  out[4].shape = {"BACKWARDS", 12, 'C', true};
  out[5].shape = {"UNIQUE", 10, 'C', false, 0x01};
  out[5].unique = 25;
  return out;
}

class TagModelTest : public EngineTest {
 protected:
  std::mt19937 random{20240611};

  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(random() % n); }

  // Keys of every shape: empty (all pad), short, as long as the key, with
  // bytes below the blank and above 0x7F, many sharing prefixes.
  std::string newKey(Model& m) {
    const int length = m.shape.keyLength;
    if (!m.used.empty() && pick(3) == 0) return m.used[pick(static_cast<uint32_t>(m.used.size()))];
    static const unsigned char alphabet[] = {'A', 'B', 'C', 'z', ' ', 0, 1, 0x1F, 0xE9, 0xFF};
    int significant = pick(10) == 0 ? 0 : 1 + static_cast<int>(pick(std::min(length, 14)));
    if (pick(8) == 0) significant = length;
    std::string key(static_cast<size_t>(length), static_cast<char>(m.pad()));
    for (int i = 0; i < significant; i++)
      key[i] = static_cast<char>(alphabet[pick(i < 3 ? 4 : sizeof alphabet)]);
    m.used.push_back(key);
    return key;
  }

  static std::string keyAt(TAG4FILE* t) {
    const unsigned char* k = tagfile4keyEntry(t);
    return k == nullptr ? std::string("(none)")
                        : std::string(reinterpret_cast<const char*>(k), tagfile4keyLength(t));
  }

  // The cursor is on `e` (or after the last key for end()).
  static void expectAt(TAG4FILE* t, const Model& m, std::set<Entry>::const_iterator e) {
    if (e == m.entries.end()) {
      EXPECT_EQ(tagfile4recNo(t), m.entries.empty() ? 0 : -1);
      return;
    }
    EXPECT_EQ(tagfile4recNo(t), e->second);
    EXPECT_EQ(keyAt(t), e->first);
  }

  void checkSeeks(TAG4FILE* t, Model& m) {
    const int length = m.shape.keyLength;
    for (int probe = 0; probe < 12; probe++) {
      std::string value =
          m.used.empty() ? std::string() : m.used[pick(static_cast<uint32_t>(m.used.size()))];
      value.resize(pick(static_cast<uint32_t>(length) + 1));
      if (!value.empty() && pick(3) == 0)
        value.back() = static_cast<char>(value.back() + (pick(2) ? 1 : -1));
      SCOPED_TRACE("seek of " + std::to_string(value.size()) + " bytes, probe " +
                   std::to_string(probe));
      auto first = m.entries.lower_bound({value, 0});
      int expected;
      std::set<Entry>::const_iterator at;
      if (!m.shape.descending) {
        at = first;
        expected = at == m.entries.end()                            ? 3
                   : at->first.compare(0, value.size(), value) == 0 ? 0
                                                                    : 2;
      } else {
        // The last key at or below the value over its length.
        auto above =
            m.entries.lower_bound({value + std::string(length - value.size() + 1, '\xFF'), 0});
        at = above == m.entries.begin() ? m.entries.end() : std::prev(above);
        expected = at == m.entries.end()                            ? 3
                   : at->first.compare(0, value.size(), value) == 0 ? 0
                                                                    : 2;
      }
      ASSERT_EQ(tagfile4seek(t, value.data(), static_cast<int32_t>(value.size())), expected);
      expectAt(t, m, at);
    }
    for (int probe = 0; probe < 8 && !m.entries.empty(); probe++) {
      const Entry& e = *std::next(m.entries.begin(), pick(static_cast<uint32_t>(m.entries.size())));
      EXPECT_EQ(tagfile4seekRecord(t, e.first.data(), e.second, 0), 0);
      EXPECT_EQ(tagfile4recNo(t), e.second);
      EXPECT_EQ(tagfile4seekRecord(t, e.first.data(), e.second, 1), 1);
      const uint32_t other = e.second + 1 + pick(3);
      EXPECT_EQ(tagfile4seekRecord(t, e.first.data(), other, 0),
                m.entries.count({e.first, other}) ? 0 : 1);
      const std::string absent = std::string(static_cast<size_t>(length), '\x02');
      const bool present = m.entries.lower_bound({absent, 0}) != m.entries.end() &&
                           m.entries.lower_bound({absent, 0})->first == absent;
      EXPECT_EQ(tagfile4seekRecord(t, absent.data(), 5, 0), present ? 1 : 2);
    }
  }

  void checkSkips(TAG4FILE* t, Model& m) {
    const std::vector<Entry> order(m.entries.begin(), m.entries.end());
    const int64_t size = static_cast<int64_t>(order.size());
    const int direction = m.shape.descending ? -1 : 1;
    ASSERT_EQ(tagfile4top(t), 0);
    if (size == 0) {
      EXPECT_TRUE(tagfile4eof(t));
      EXPECT_EQ(tagfile4skip(t, 1), 0);
      return;
    }
    int64_t at = m.shape.descending ? size - 1 : 0;
    for (int step = 0; step < 12; step++) {
      const int32_t n = static_cast<int32_t>(pick(81)) - 40;
      const int64_t target = std::clamp<int64_t>(at + direction * int64_t{n}, 0, size - 1);
      ASSERT_EQ(tagfile4skip(t, n), direction * (target - at)) << "skip " << n << " from " << at;
      at = target;
      ASSERT_EQ(tagfile4recNo(t), order[at].second);
      ASSERT_EQ(keyAt(t), order[at].first);
    }
    ASSERT_EQ(tagfile4bottom(t), 0);
    EXPECT_EQ(tagfile4recNo(t), order[m.shape.descending ? 0 : size - 1].second);
  }

  void checkFile(CdxFile& file, std::vector<Model>& ms, int batch) {
    std::map<std::string, unsigned char> pads;
    for (const Model& m : ms) pads[m.shape.name] = m.pad();
    const CdxReport report = checkCdxFile(kPath, pads);
    ASSERT_TRUE(report.ok()) << "batch " << batch << "\n" << report.text();
    for (Model& m : ms) {
      SCOPED_TRACE(m.shape.name + ", batch " + std::to_string(batch));
      std::vector<CdxEntry> expected;
      for (const Entry& e : m.entries) expected.push_back({e.first, e.second});
      ASSERT_EQ(report.tag(m.shape.name)->entries, expected);
      checkSeeks(file.tag(m.shape.name), m);
      checkSkips(file.tag(m.shape.name), m);
    }
  }

  // One add or remove on a random tag, mirrored in the model.
  // `removals` in tenths.
  void change(CdxFile& file, std::vector<Model>& ms, int op, uint32_t removals) {
    Model& m = ms[pick(static_cast<uint32_t>(ms.size()))];
    TAG4FILE* t = file.tag(m.shape.name);
    TAG4 handle = file.handle(t, m.unique);
    if (!m.entries.empty() && pick(10) < removals) {
      const auto victim =
          std::next(m.entries.begin(), pick(static_cast<uint32_t>(m.entries.size())));
      const std::string key = victim->first;
      ASSERT_EQ(
          tagfile4remove(t, reinterpret_cast<const unsigned char*>(key.data()), victim->second), 0)
          << op;
      ASSERT_EQ(
          tagfile4remove(t, reinterpret_cast<const unsigned char*>(key.data()), victim->second), 5)
          << op;
      m.entries.erase(victim);
      return;
    }
    const std::string key = newKey(m);
    // Record numbers beyond 16 bits make leaves widen their entries.
    const uint32_t record = 1 + pick(pick(4) == 0 ? 400000 : 3000);
    const bool keyPresent = m.entries.lower_bound({key, 0}) != m.entries.end() &&
                            m.entries.lower_bound({key, 0})->first == key;
    const int32_t expected = m.unique != 0 && keyPresent ? 25 : 0;
    ASSERT_EQ(tagfile4add(&handle, reinterpret_cast<const unsigned char*>(key.data()), record),
              expected)
        << op << " " << m.shape.name;
    if (expected == 0) m.entries.emplace(key, record);
  }

  // index_dump prints each entry as its key without (some of) its trailing
  // pad, a blank and the record number; keys may hold any byte.
  void checkIndexDump(const Model& m) {
    const std::string command =
        std::string("/usr/bin/index_dump --type char ") + kPath + " " + m.shape.name;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    for (int ch; (ch = std::fgetc(pipe)) != EOF;) out += static_cast<char>(ch);
    ASSERT_EQ(pclose(pipe), 0) << command;
    size_t at = 0;
    for (const Entry& e : m.entries) {
      const size_t significant = e.first.find_last_not_of(static_cast<char>(m.pad())) + 1;
      const std::string tail = " " + std::to_string(e.second) + "\n";
      ASSERT_EQ(out.compare(at, significant, e.first, 0, significant), 0)
          << m.shape.name << " at byte " << at;
      size_t end = at + significant;
      while (out.compare(end, tail.size(), tail) != 0 && end < at + e.first.size() &&
             out[end] == static_cast<char>(m.pad()))
        end++;
      ASSERT_EQ(out.compare(end, tail.size(), tail), 0) << m.shape.name << " record " << e.second;
      at = end + tail.size();
    }
    EXPECT_EQ(at, out.size()) << m.shape.name;
  }
};

TEST_F(TagModelTest, RandomChangesAgreeWithTheModel) {
  ASSERT_EQ(access("/usr/bin/index_dump", X_OK), 0) << "index_dump missing: run scripts/setup";
  struct Setting {
    const char* what;
    int8_t accessMode;
    int batches;
    uint32_t blockSize;
    uint32_t multiplier;  // pointers count in units of this many bytes
  } settings[] = {{"shared, locked per batch", 0, 12, 512, 1},
                  {"exclusive", 1, 9, 512, 1},
                  {"1024-byte nodes, multiplier 2", 0, 9, 1024, 2}};
  for (const Setting& s : settings) {
    SCOPED_TRACE(s.what);
    c.accessMode = s.accessMode;
    std::vector<Model> ms = models();
    std::vector<TagShape> shapes;
    for (const Model& m : ms) shapes.push_back(m.shape);
    std::map<std::string, char> types{{"NUMBER", 'N'}};
    auto file = std::make_unique<CdxFile>(&c, kPath, shapes, s.blockSize, s.multiplier);
    ASSERT_EQ(file->status(), 0);
    int op = 0;
    for (int batch = 1; batch <= s.batches; batch++) {
      ASSERT_EQ(index4lock(file->index(), kWriter), 0);
      // Two batches that take most keys out again: nodes empty, leave the
      // tree and come back from the free list.
      const uint32_t removals = batch == 6 || batch == 7 ? 9 : 3;
      for (int i = 0; i < 900; i++) ASSERT_NO_FATAL_FAILURE(change(*file, ms, ++op, removals));
      ASSERT_EQ(index4unlock(file->index(), kWriter), 0);
      ASSERT_NO_FATAL_FAILURE(checkFile(*file, ms, batch));
      if (batch % 3 == 0) {
        ASSERT_EQ(file->close(), 0);
        file = CdxFile::open(&c, kPath, types);
        ASSERT_EQ(file->status(), 0);
      }
    }
    ASSERT_EQ(file->close(), 0);
    EXPECT_GE(checkCdxFile(kPath).tag("LONG")->depth, 3);
    // index_dump reads 512-byte nodes only.
    if (s.blockSize == 512) {
      for (const Model& m : ms) ASSERT_NO_FATAL_FAILURE(checkIndexDump(m));
    }
    EXPECT_TRUE(recorder.errors().empty());
  }
}

}  // namespace
