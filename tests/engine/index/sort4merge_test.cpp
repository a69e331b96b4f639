// Runs spooled to the work file and merged back, with the workers on and
// off: the result against std::sort, and the work file's fate when the
// disk fills or the file comes back short.
#include <sys/stat.h>

#include <memory>

#include "tests/engine/index/sort4_test_support.h"

using sort_testing::Entry;
using sort_testing::modelSorted;
using sort_testing::randomEntries;
using sort_testing::SortTest;

namespace {

class Sort4MergeThreadsTest : public SortTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool withWorkers() const override { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Workers, Sort4MergeThreadsTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_P(Sort4MergeThreadsTest, ManyRunsMergeToWhatStdSortGives) {
  struct Shape {
    int32_t unitSize, spoolBuffer, keyLength, extraLength;
    size_t entries;
  };
  const Shape shapes[] = {
      {61440, 32768, 12, 0, 5000},  // in memory
      {256, 2048, 12, 0, 5000},     // tiny units: about a hundred runs
      {300, 1024, 55, 4, 3000},     // entries of a file-name key with extra bytes
      {61440, 65536, 5, 0, 40000},  // default units, a few long runs
  };
  unsigned seed = 20;
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.unitSize);
    c.memSizeSortPool = shape.unitSize;
    c.memSizeSortBuffer = shape.spoolBuffer;
    const auto entries = randomEntries(shape.entries, shape.keyLength, shape.extraLength, seed++);
    SORT4 s;
    ASSERT_EQ(sort4init(&s, &c, shape.keyLength, shape.extraLength), 0);
    ASSERT_EQ(putAll(s, entries), 0);
    if (s.runCount > 0) {
      // The work file: alone in the temporary folder, private to its owner.
      const auto files = workFiles();
      ASSERT_EQ(files.size(), 1u);
      struct stat status;
      ASSERT_EQ(::stat((workFolder / files[0]).c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(s.runCount > 0, shape.unitSize < 61440 || shape.entries > 15360);
    ASSERT_EQ(sort4getInit(&s), 0);
    EXPECT_EQ(drain(s), modelSorted(entries));
    EXPECT_TRUE(workFiles().empty());
  }
  EXPECT_TRUE(recorder.errors().empty());
}

// Freed while the write-behind worker may still be writing a half of the
// spool buffer: the buffer and the sort outlive the worker's use of them.
TEST_P(Sort4MergeThreadsTest, FreeingWhileRunsAreWrittenWaitsForTheWorker) {
  c.memSizeSortPool = 256;
  c.memSizeSortBuffer = 2048;
  const auto entries = randomEntries(1000, 16, 0, 25);
  for (size_t n = 100; n <= entries.size(); n += 100) {
    auto s = std::make_unique<SORT4>();
    ASSERT_EQ(sort4init(s.get(), &c, 16, 0), 0);
    ASSERT_EQ(putAll(*s, {entries.begin(), entries.begin() + n}), 0);
    sort4free(s.get());
    s.reset();
    EXPECT_TRUE(workFiles().empty());
  }
  EXPECT_TRUE(recorder.errors().empty());
}

TEST_P(Sort4MergeThreadsTest, AFullDiskFailsTheSortOnTheCallersThreadAndLeavesNoWorkFile) {
  c.memSizeSortPool = 256;
  c.memSizeSortBuffer = 4096;
  const auto entries = randomEntries(20000, 20, 0, 30);
  for (int64_t space : {0, 5000, 100000}) {
    SCOPED_TRACE(space);
    recorder.clear();
    fake.diskSpace = space;
    SORT4 s;
    ASSERT_EQ(sort4init(&s, &c, 20, 0), 0);
    int32_t rc = putAll(s, entries);
    if (rc == 0) rc = sort4getInit(&s);
    EXPECT_LT(rc, 0);
    ASSERT_FALSE(recorder.errors().empty());
    for (const auto& error : recorder.errors()) {
      EXPECT_EQ(error.code, e4write);
      EXPECT_EQ(error.thread, std::this_thread::get_id());
    }
    // The program's hook clears the error; the sort still refuses to go on.
    clearError();
    EXPECT_LT(sort4put(&s, 1, std::string(20, 'x').data(), nullptr), 0);
    EXPECT_LT(sort4getInit(&s), 0);
    EXPECT_LT(sort4get(&s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(workFiles().size(), 1u);
    sort4free(&s);
    EXPECT_TRUE(workFiles().empty());
    fake.diskSpace = -1;
    clearError();
  }
}

TEST_P(Sort4MergeThreadsTest, AWorkFileThatComesBackShortIsAReadErrorNamingIt) {
  c.memSizeSortPool = 256;
  c.memSizeSortBuffer = 2048;
  const auto entries = randomEntries(3000, 8, 0, 40);
  SORT4 s;
  ASSERT_EQ(sort4init(&s, &c, 8, 0), 0);
  ASSERT_EQ(putAll(s, entries), 0);
  ASSERT_EQ(sort4getInit(&s), 0);
  const std::string name = s.file.name;
  ASSERT_EQ(file4lenSetLow(&s.file, s.spooledBytes - 5), 0);

  int32_t rc = 0;
  const auto got = drain(s, &rc);
  EXPECT_EQ(rc, e4read);
  EXPECT_LT(got.size(), entries.size());
  const auto error = lastError();
  EXPECT_EQ(std::make_tuple(error.code, error.location, error.text1),
            std::make_tuple(e4read, 90191, name));
  clearError();
  EXPECT_EQ(sort4get(&s, nullptr, nullptr, nullptr), e4read);
  sort4free(&s);
  EXPECT_TRUE(workFiles().empty());
}

}  // namespace
