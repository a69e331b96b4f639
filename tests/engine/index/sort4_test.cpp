// The sort engine's order, its checks, its release, and its memory limit.
#include "tests/engine/index/sort4_test_support.h"

using sort_testing::Entry;
using sort_testing::modelSorted;
using sort_testing::randomEntries;
using sort_testing::SortTest;

namespace {

using Sort4Test = SortTest;

TEST_F(Sort4Test, EntriesComeOutByUnsignedKeyBytesThenRecordNumber) {
  SORT4 s;
  ASSERT_EQ(sort4init(&s, &c, 2, 1), 0);
  ASSERT_EQ(sort4getInit(&s), 0);
  EXPECT_EQ(sort4get(&s, nullptr, nullptr, nullptr), r4done);  // no entries
  EXPECT_EQ(sort4get(&s, nullptr, nullptr, nullptr), r4done);  // and released for good

  ASSERT_EQ(sort4init(&s, &c, 2, 1), 0);
  const std::vector<Entry> entries = {
      {"\xE9x", 1, "a"}, {"kk", 5, "b"}, {"kk", 2, "c"}, {"A ", 7, "d"}, {"kk", 9, "e"}};
  ASSERT_EQ(putAll(s, entries), 0);
  ASSERT_EQ(sort4getInit(&s), 0);
  EXPECT_EQ(
      drain(s),
      (std::vector<Entry>{
          {"A ", 7, "d"}, {"kk", 2, "c"}, {"kk", 5, "b"}, {"kk", 9, "e"}, {"\xE9x", 1, "a"}}));
  EXPECT_EQ(s.state, sort4released);
  EXPECT_TRUE(recorder.errors().empty());
}

TEST_F(Sort4Test, ACallerSuppliedCompareRoutineOrdersTheKeys) {
  SORT4 s;
  ASSERT_EQ(sort4init(&s, &c, 1, 0), 0);
  s.compare = [](const void* a, const void* b, size_t) {
    return *static_cast<const char*>(b) - *static_cast<const char*>(a);  // descending
  };
  ASSERT_EQ(putAll(s, {{"a", 1, ""}, {"c", 2, ""}, {"b", 3, ""}, {"c", 0, ""}}), 0);
  ASSERT_EQ(sort4getInit(&s), 0);
  EXPECT_EQ(drain(s), (std::vector<Entry>{{"c", 0, ""}, {"c", 2, ""}, {"b", 3, ""}, {"a", 1, ""}}));
}

TEST_F(Sort4Test, ArgumentsAndCallOrderAreChecked) {
  // Each refusal is raised with its code and location, then cleared.
  auto refused = [this](int32_t rc, int32_t code, int32_t location) {
    EXPECT_EQ(rc, code);
    EXPECT_EQ(lastRaised(), std::make_tuple(code, location));
    clearError();
  };
  SORT4 s;
  refused(sort4init(&s, nullptr, 4, 0), e4parmNull, 90187);
  refused(sort4init(&s, &c, -1, 0), e4parm, 90187);
  refused(sort4init(&s, &c, 0x7FFFFFF0, 0), e4parm, 90187);
  ASSERT_EQ(sort4init(&s, &c, 4, 2), 0);
  refused(sort4put(&s, -1, "abcd", "xy"), e4parm, 90182);
  refused(sort4put(&s, 1, "abcd", nullptr), e4parm, 90182);
  refused(sort4get(&s, nullptr, nullptr, nullptr), e4parm, 90181);  // before the input ended

  // A pending error refuses everything without raising again.
  error4set(&c, e4memory);
  recorder.clear();
  EXPECT_EQ(sort4put(&s, 1, "abcd", "xy"), -1);
  EXPECT_EQ(sort4getInit(&s), -1);
  EXPECT_TRUE(recorder.errors().empty());
  clearError();

  ASSERT_EQ(sort4put(&s, 0, "abcd", "xy"), 0);
  ASSERT_EQ(sort4getInit(&s), 0);
  refused(sort4getInit(&s), e4parm, 90185);
  refused(sort4put(&s, 1, "abcd", "xy"), e4parm, 90182);  // reading already
  EXPECT_EQ(drain(s), (std::vector<Entry>{{"abcd", 0, "xy"}}));
}

// Reindexing frees its sort on every path, also after the sort released
// itself at its last entry.
TEST_F(Sort4Test, FreeingIsSafeInEveryStateAndAnyNumberOfTimes) {
  c.memSizeSortPool = 200;
  const auto entries = randomEntries(500, 6, 0, 11);
  {
    SORT4 s;
    sort4free(&s);  // never started
    ASSERT_EQ(sort4init(&s, &c, 6, 0), 0);
    ASSERT_EQ(putAll(s, entries), 0);
    ASSERT_EQ(workFiles().size(), 1u);
    sort4free(&s);  // collecting, runs written
    EXPECT_TRUE(workFiles().empty());
    sort4free(&s);

    ASSERT_EQ(sort4init(&s, &c, 6, 0), 0);
    ASSERT_EQ(putAll(s, entries), 0);
    ASSERT_EQ(sort4getInit(&s), 0);
    ASSERT_EQ(sort4get(&s, nullptr, nullptr, nullptr), 0);
    sort4free(&s);  // merging
    EXPECT_TRUE(workFiles().empty());

    ASSERT_EQ(sort4init(&s, &c, 6, 0), 0);
    ASSERT_EQ(putAll(s, entries), 0);
    ASSERT_EQ(sort4getInit(&s), 0);
    EXPECT_EQ(drain(s).size(), entries.size());  // released by its last get
    sort4free(&s);
    sort4free(&s);

    ASSERT_EQ(sort4init(&s, &c, 6, 0), 0);
    ASSERT_EQ(putAll(s, entries), 0);
    ASSERT_EQ(sort4init(&s, &c, 6, 0), 0);  // a sort in use starts over
    EXPECT_TRUE(workFiles().empty());
    ASSERT_EQ(putAll(s, entries), 0);
  }  // collecting still: the destructor frees it
  EXPECT_TRUE(workFiles().empty());
  EXPECT_TRUE(recorder.errors().empty());
}

// Below one unit the sort keeps its entries in the pointer array's own
// unused tail and writes runs of that many.
TEST_F(Sort4Test, WithNoUnitToBeHadThePointerArrayHoldsTheEntries) {
  c.memSizeSortPool = 400;  // 100 slots
  SORT4 s;
  ASSERT_EQ(sort4init(&s, &c, 10, 2), 0);
  s.memoryLimit = 1;
  const auto entries = randomEntries(2000, 10, 2, 12);
  ASSERT_EQ(putAll(s, entries), 0);
  EXPECT_EQ(s.units.nLink, 0u);
  EXPECT_EQ(s.capacity, 100 * sizeof(char*) / (16 + sizeof(char*)));
  EXPECT_GT(s.runCount, 1u);
  s.memoryLimit = 0;  // the merge needs a unit to read through
  ASSERT_EQ(sort4getInit(&s), 0);
  EXPECT_EQ(drain(s), modelSorted(entries));
}

// The merge gives every run at least one entry of buffer. Under a tight
// limit it takes smaller units; when even units of one entry cannot serve
// every run it fails with -920 instead of halving for ever.
TEST_F(Sort4Test, AMergeWithoutOneEntryOfBufferPerRunFailsWithOutOfMemory) {
  c.memSizeSortPool = 400;
  const auto entries = randomEntries(3000, 10, 0, 13);
  const auto expected = modelSorted(entries);
  int merged = 0, mergedWithSmallerUnits = 0, refused = 0;
  for (int64_t limit = 16; limit <= 6000; limit += 16) {
    SCOPED_TRACE(limit);
    SORT4 s;
    ASSERT_EQ(sort4init(&s, &c, 10, 0), 0);
    s.memoryLimit = limit;
    ASSERT_EQ(putAll(s, entries), 0);
    const uint32_t entriesPerUnit = s.entriesPerUnit;
    const int32_t rc = sort4getInit(&s);
    if (rc == 0) {
      EXPECT_LE(s.bytesHeld, limit);
      mergedWithSmallerUnits += s.entriesPerUnit < entriesPerUnit;
      EXPECT_EQ(drain(s), expected);
      merged++;
    } else {
      EXPECT_EQ(rc, e4memory);
      EXPECT_EQ(lastRaised(), std::make_tuple(e4memory, 90185));
      EXPECT_EQ(sort4get(&s, nullptr, nullptr, nullptr), -1);
      clearError();
      EXPECT_EQ(sort4get(&s, nullptr, nullptr, nullptr), e4memory);  // failed for good
      refused++;
    }
    sort4free(&s);
    EXPECT_TRUE(workFiles().empty());
  }
  EXPECT_GT(merged, 0);
  EXPECT_GT(mergedWithSmallerUnits, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
