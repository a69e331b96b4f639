// Two processes on one CDX file: a writer adds keys under the index lock
// while a reader walks the tag without it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "engine/index/block4.h"
#include "engine/storage/code4.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/cdx_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

constexpr const char* kPath = "shared.cdx";
constexpr int32_t kWriter = 1;

// Record r's key; scattered so that adds land all over the tree.
std::string keyOf(uint32_t r) {
  const std::string digits = std::to_string(r * 7919 % 100003);
  return "K" + std::string(6 - digits.size(), '0') + digits;
}

class TagShareTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.lockDelay = 1;  // 10 ms between attempts at the lock
    ASSERT_EQ(pipe(toReader), 0);
  }
  void TearDown() override {
    close(toReader[0]);
    if (writer > 0) {
      kill(writer, SIGKILL);
      writerExit();
    }
    EngineTest::TearDown();
  }

  // Runs `body` in a child process, which ends with its result as exit
  // code. The child tells the parent of its progress with tell().
  template <class Body>
  void startWriter(Body&& body) {
    writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      close(toReader[0]);
      const int rc = body();
      close(toReader[1]);
      _exit(rc);
    }
    close(toReader[1]);
  }
  void tell(uint32_t value) {
    if (write(toReader[1], &value, sizeof value) != sizeof value) _exit(90);
  }
  // The writer's last message, waiting up to `millis`; false when none came.
  bool heard(uint32_t* value, int millis) {
    pollfd p{toReader[0], POLLIN, 0};
    if (poll(&p, 1, millis) <= 0 || (p.revents & POLLIN) == 0) return false;
    return read(toReader[0], value, sizeof *value) == sizeof *value;
  }
  int writerExit() {
    int status = 0;
    waitpid(writer, &status, 0);
    writer = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int toReader[2] = {-1, -1};
  pid_t writer = -1;
};

// Every key the writer reports as committed is found by the reader after
// it re-reads the header, although the reader's cached nodes predate it.
TEST_F(TagShareTest, AReaderFindsWhatTheWriterCommitted) {
  constexpr uint32_t kBatches = 40;
  constexpr uint32_t kPerBatch = 50;
  {
    CdxFile f(&c, kPath, {{"T", 10}});
    ASSERT_EQ(f.status(), 0);
  }
  startWriter([&] {
    auto f = CdxFile::open(&c, kPath);
    if (f->status() != 0) return 1;
    for (uint32_t batch = 0; batch < kBatches; batch++) {
      if (index4lock(f->index(), kWriter) != 0) return 2;
      for (uint32_t r = batch * kPerBatch + 1; r <= (batch + 1) * kPerBatch; r++)
        if (f->add(f->tag("T"), keyOf(r), r) != 0) return 3;
      if (index4unlock(f->index(), kWriter) != 0) return 4;
      tell((batch + 1) * kPerBatch);
    }
    return f->close() == 0 ? 0 : 5;
  });
  auto f = CdxFile::open(&c, kPath);
  ASSERT_EQ(f->status(), 0);
  TAG4FILE* t = f->tag("T");
  uint32_t committed = 0;
  int rounds = 0;
  while (committed < kBatches * kPerBatch) {
    uint32_t reported = 0;
    if (heard(&reported, 10)) committed = reported;
    ASSERT_EQ(index4refresh(f->index()), 0);
    // The newest keys and a few older ones, by key and record.
    for (int64_t r = committed; r > 0 && r + 60 > committed; r -= 3) {
      const std::string key = f->padded(t, keyOf(static_cast<uint32_t>(r)));
      ASSERT_EQ(tagfile4seekRecord(t, key.data(), static_cast<uint32_t>(r), 0), 0)
          << "record " << r << " of " << committed;
    }
    // The tag in order holds only the writer's keys, each once.
    ASSERT_EQ(tagfile4top(t), 0);
    std::set<uint32_t> seen;
    std::string last;
    while (!tagfile4eof(t)) {
      const int64_t r = tagfile4recNo(t);
      const std::string key(reinterpret_cast<char*>(tagfile4keyEntry(t)), 10);
      ASSERT_EQ(key, f->padded(t, keyOf(static_cast<uint32_t>(r))));
      ASSERT_LT(last, key);
      ASSERT_TRUE(seen.insert(static_cast<uint32_t>(r)).second);
      last = key;
      if (tagfile4skip(t, 1) != 1) break;
    }
    ASSERT_GE(seen.size(), committed);
    rounds++;
  }
  EXPECT_EQ(writerExit(), 0);
  EXPECT_GT(rounds, 1);
  EXPECT_TRUE(recorder.errors().empty());
  const CdxReport report = checkCdxFile(kPath);
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_EQ(report.tag("T")->entries.size(), kBatches * kPerBatch);
}

// The writer splits a leaf and stops before it unlocks: the new right half
// and its right neighbour's patched pointer are on disk, the left half is
// not. A reader walking back along the leaves meets a left neighbour that
// does not point back, waits, and goes on once the writer has unlocked.
TEST_F(TagShareTest, AReaderMeetingAHalfWrittenSplitWaitsAndGoesOn) {
  constexpr uint32_t kKeys = 2000;
  {
    CdxFile f(&c, kPath, {{"T", 10}});
    ASSERT_EQ(index4lock(f.index(), kWriter), 0);
    for (uint32_t r = 1; r <= kKeys; r++) ASSERT_EQ(f.add(f.tag("T"), keyOf(2 * r), 2 * r), 0);
  }
  startWriter([&] {
    auto f = CdxFile::open(&c, kPath);
    TAG4FILE* t = f->tag("T");
    if (f->status() != 0 || index4lock(f->index(), kWriter) != 0) return 1;
    const uint32_t eof = f->index()->eofBlock;
    // Keys between two existing ones, until a leaf with a right neighbour
    // splits.
    uint32_t r = 1;
    for (; f->index()->eofBlock == eof; r += 2) {
      if (f->add(t, keyOf(r), r) != 0) return 2;
      BLOCK4* leaf = t->path[t->depth - 1];
      if (f->index()->eofBlock != eof && block4right(leaf) == block4none &&
          block4right(t->path[t->depth - 1]) == block4none)
        return 3;  // the last leaf split: no neighbour was patched
    }
    tell(r);
    usleep(300 * 1000);
    return index4unlock(f->index(), kWriter) == 0 && f->close() == 0 ? 0 : 4;
  });
  uint32_t added = 0;
  ASSERT_TRUE(heard(&added, 10000));
  FakeOs os;  // counts the reader's waits
  platform::ScopedOs scoped(os);
  auto f = CdxFile::open(&c, kPath);
  ASSERT_EQ(f->status(), 0);
  TAG4FILE* t = f->tag("T");
  ASSERT_EQ(tagfile4bottom(t), 0);
  std::set<uint32_t> seen;
  std::string last = "\xFF";
  do {
    const std::string key(reinterpret_cast<char*>(tagfile4keyEntry(t)), 10);
    ASSERT_GT(last, key);
    last = key;
    seen.insert(static_cast<uint32_t>(tagfile4recNo(t)));
  } while (tagfile4skip(t, -1) == -1);
  EXPECT_EQ(writerExit(), 0);
  EXPECT_TRUE(recorder.errors().empty());
  EXPECT_GT(os.millisSlept(), 0) << "the reader never met the half-written split";
  for (uint32_t r = 1; r <= kKeys; r++) ASSERT_EQ(seen.count(2 * r), 1u) << 2 * r;
}

}  // namespace
