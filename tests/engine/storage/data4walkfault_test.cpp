// Walks over a table whose disk refuses one read. Every way the engine
// moves over rows (a seek, skips either way, top, bottom, in tag order or
// in record order, the catalogue's scan) answers the refused read as an
// error at the step that needed it, raised and noted as a disk failure,
// after visiting only right rows in the right order: never as the end of
// the rows, a key not found or a shorter walk. The table is opened as the
// catalogue opens it (exclusive, each error cleared by the hook once
// raised), with the block cache and the read-ahead workers each off and
// on; then shared, and with its records read through the cache. Its tags
// are several levels deep and its memo values span memo blocks.
//
// Each walk is made once to count its reads of the table's three files,
// then again with read k refused (EIO, once). A walk to one place has
// every read refused in turn; a walk to an end, of each file the first
// reads (the descent from the root, the first hops to a next leaf), the
// last ones and a sample between. After a refused read the same handle
// walks again past the row it stopped at: nothing the failure left behind
// (a cached block, a read ahead, a cursor) may change a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/buffer4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4scan.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"
#include "engine/storage/memo4field.h"
#include "platform/os.h"
#include "tests/support/error_recorder.h"

using testing_support::ErrorRecorder;

namespace {

constexpr int kRows = 1200;
constexpr int kNameLength = 40;
constexpr int32_t kCatalogueCache = 32 << 20;
// The reads of each file refused in a walk to an end: the first ones (the
// descent from the root, the first hops to a next leaf), the last ones and
// a few spread between.
constexpr size_t kFirstReads = 6;
constexpr size_t kLastReads = 2;
constexpr size_t kSampledReads = 5;
// Rows walked again past the row a refused read stopped a walk at: more
// than a leaf of either tag holds.
constexpr size_t kWalkedPast = 60;

const FIELD4INFO kFields[] = {{"NAME", 'C', kNameLength, 0, 0},
                              {"NUM", 'N', 16, 0, 0},
                              {"NOTE", 'M', 10, 0, 0},
                              {nullptr, 0, 0, 0, 0}};

enum class Kind { kData, kIndex, kMemo };

const char* kindName(Kind kind) {
  return kind == Kind::kData ? "dbf" : kind == Kind::kIndex ? "cdx" : "fpt";
}

struct Read {
  Kind kind;
  uint64_t offset;
  size_t length;
};

// A disk that counts the reads of the table's files while armed and
// refuses one of them. It is slow, as the disks that read-ahead is for:
// nothing is in the page cache, so every block read ahead goes to the
// read-ahead worker, and the walking thread's next read waits until the
// worker has read it (a while at most), so the walk meets what the worker
// read, refused or not, rather than claiming the read for itself.
class ReadFaultOs : public platform::Os {
 public:
  void arm(int64_t failAt) {
    std::lock_guard guard(mutex_);
    reads_.clear();
    calls_ = 0;
    failAt_ = failAt;
    fired_ = false;
    armed_ = true;
  }
  void disarm() {
    std::lock_guard guard(mutex_);
    armed_ = false;
  }
  std::vector<Read> reads() {
    std::lock_guard guard(mutex_);
    return reads_;
  }
  bool fired() {
    std::lock_guard guard(mutex_);
    return fired_;
  }
  Read firedRead() {
    std::lock_guard guard(mutex_);
    return firedRead_;
  }
  // Refused reads made by the read-ahead worker.
  int refusedAhead() {
    std::lock_guard guard(mutex_);
    return refusedAhead_;
  }

  int openFile(const char* path, int flags, int mode) override {
    const int fd = Os::openFile(path, flags, mode);
    const char* name = std::strrchr(path, '/');
    name = name == nullptr ? path : name + 1;
    const std::map<std::string, Kind> kinds = {
        {"walk.dbf", Kind::kData}, {"walk.cdx", Kind::kIndex}, {"walk.fpt", Kind::kMemo}};
    const auto kind = kinds.find(name);
    if (fd >= 0 && kind != kinds.end()) {
      std::lock_guard guard(mutex_);
      files_[fd] = kind->second;
    }
    return fd;
  }
  int closeFile(int fd) override {
    {
      std::lock_guard guard(mutex_);
      files_.erase(fd);
    }
    return Os::closeFile(fd);
  }
  int64_t readAt(int fd, void* buffer, size_t n, uint64_t offset) override {
    {
      std::unique_lock lock(mutex_);
      const auto file = files_.find(fd);
      if (file != files_.end()) {
        const bool walker = std::this_thread::get_id() == walker_;
        if (walker) {
          aheadRead_.wait_for(lock, std::chrono::milliseconds(50), [&] { return !ahead_; });
          ahead_ = false;
        } else if (ahead_ && fd == aheadFd_ && offset == aheadOffset_) {
          ahead_ = false;
          aheadRead_.notify_all();
        }
        if (armed_) {
          const Read read{file->second, offset, n};
          reads_.push_back(read);
          if (++calls_ == failAt_) {
            fired_ = true;
            firedRead_ = read;
            if (!walker) refusedAhead_++;
            return -EIO;
          }
        }
      }
    }
    return Os::readAt(fd, buffer, n, offset);
  }
  int64_t readAtIfCached(int fd, void* buffer, size_t n, uint64_t offset) override {
    {
      std::lock_guard guard(mutex_);
      if (files_.contains(fd)) {
        ahead_ = true;
        aheadFd_ = fd;
        aheadOffset_ = offset;
        return -EAGAIN;
      }
    }
    return Os::readAtIfCached(fd, buffer, n, offset);
  }

 private:
  const std::thread::id walker_ = std::this_thread::get_id();
  std::mutex mutex_;  // guards everything below
  std::condition_variable aheadRead_;
  std::map<int, Kind> files_;
  // A block about to be read ahead, which the worker has not read yet.
  bool ahead_ = false;
  int aheadFd_ = -1;
  uint64_t aheadOffset_ = 0;
  bool armed_ = false;
  int64_t calls_ = 0;
  int64_t failAt_ = 0;
  bool fired_ = false;
  Read firedRead_{};
  int refusedAhead_ = 0;
  std::vector<Read> reads_;
};

std::string nameOf(int record) {
  uint32_t state = static_cast<uint32_t>(record) * 2654435761u + 12345u;
  std::string name;
  for (int i = 0; i < kNameLength - 4; i++) {
    state = state * 1103515245u + 12345u;
    name += static_cast<char>('A' + (state >> 16) % 26);
  }
  return name;
}

// Distinct numbers of about fifty bits: their keys keep little in common, so
// that few fit in a leaf.
double numberOf(int record) {
  return static_cast<double>((static_cast<uint64_t>(record) * 0x9E3779B97F4A7C15ull) >> 14);
}

// Every third record has a memo value, up to three memo blocks long.
std::string memoOf(int record) {
  if (record % 3 != 0) return "";
  std::string text = "memo of " + std::to_string(record) + ":";
  text.resize(20 + (record * 37) % 1400, static_cast<char>('a' + record % 26));
  return text;
}

// Rows visited, until the walk answered `end`; `wrong` tells the first row
// whose contents were not the record's.
struct Outcome {
  std::vector<int32_t> rows;
  int32_t end = 0;
  std::string wrong;
  bool operator==(const Outcome&) const = default;
};

struct Walk {
  std::string name;
  const char* tag;  // null: record order
  std::function<int32_t(DATA4*)> start;
  std::function<int32_t(DATA4*)> move;  // null: the start alone
  Outcome sound;
};

struct Config {
  bool cache;
  bool workers;
  bool shared = false;  // opened as other programs open tables, not as the catalogue does
  // Records read through the cache too, many blocks at once (the
  // catalogue has them read around it).
  bool recordsCached = false;
};

class WalkFaultTest : public ::testing::TestWithParam<Config> {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, GetParam().workers ? 0 : 1), 0);
    c.safety = 0;
    c.accessMode = 1;
    if (GetParam().cache) {
      // As the catalogue starts it.
      c.bufferingSize = kCatalogueCache;
      c.bufferingWriteBehind = 0;
      c.bufferingReadsAround = GetParam().recordsCached ? 0 : 1;
      ASSERT_EQ(code4cacheStart(&c), 0);
    }
    ASSERT_NO_FATAL_FAILURE(createTable());
    if (GetParam().shared) c.accessMode = 0;
  }
  void TearDown() override { code4initUndo(&c); }

  void createTable() {
    Tag4info tags(c);
    tags.add("T_NAME", "NAME");
    tags.add("T_NUM", "NUM");
    DATA4* d = data4create(&c, "walk", kFields, tags.tags());
    ASSERT_NE(d, nullptr);
    for (int record = 1; record <= kRows; record++) {
      data4appendStart(d, 0);
      data4blank(d);
      field4assign(data4field(d, "NAME"), nameOf(record).c_str());
      field4assignDouble(data4field(d, "NUM"), numberOf(record));
      const std::string memo = memoOf(record);
      field4memoAssignN(data4field(d, "NOTE"), memo.data(), static_cast<uint32_t>(memo.size()));
      ASSERT_EQ(data4append(d), 0);
    }
    for (const char* name : {"T_NAME", "T_NUM"}) {
      data4tagSelect(d, data4tag(d, name));
      ASSERT_EQ(data4top(d), 0);
      EXPECT_GT(data4tag(d, name)->tagFile->depth, 2) << name << " is too shallow";
    }
    ASSERT_EQ(data4close(d), 0);
  }

  // Checks the current row against its record: -1 when its memo value
  // could not be read, else 0.
  static int32_t visit(DATA4* d, Outcome& out) {
    const int32_t record = data4recNo(d);
    out.rows.push_back(record);
    if (!out.wrong.empty()) return 0;
    const std::string name(field4ptr(data4field(d, "NAME")), kNameLength);
    FIELD4* note = data4field(d, "NOTE");
    const char* memo = field4memoPtr(note);
    if (memo == nullptr) return -1;
    const std::string expectedName = nameOf(record) + std::string(4, ' ');
    if (record < 1 || record > kRows || name != expectedName ||
        field4double(data4field(d, "NUM")) != numberOf(record) ||
        std::string(memo, field4memoLen(note)) != memoOf(record))
      out.wrong =
          "row " + std::to_string(out.rows.size()) + " (record " + std::to_string(record) + ")";
    return 0;
  }

  // The walk, visiting at most `limit` rows.
  static Outcome run(DATA4* d, const Walk& walk, size_t limit = SIZE_MAX) {
    Outcome out;
    data4tagSelect(d, walk.tag == nullptr ? nullptr : data4tag(d, walk.tag));
    int32_t rc = walk.start(d);
    while (rc == 0) {
      rc = visit(d, out);
      if (rc != 0 || !walk.move || out.rows.size() == limit) break;
      rc = walk.move(d);
    }
    out.end = rc;
    return out;
  }

  // The reads to refuse: every read of a walk to one place; of a walk to
  // an end, a sample of each file's (kFirstReads...).
  static std::vector<int64_t> readsToFail(const Walk& walk, const std::vector<Read>& reads) {
    std::vector<int64_t> chosen;
    std::map<Kind, std::vector<int64_t>> byKind;
    for (size_t i = 0; i < reads.size(); i++)
      byKind[reads[i].kind].push_back(static_cast<int64_t>(i) + 1);
    for (const auto& [kind, numbers] : byKind) {
      const size_t n = numbers.size();
      const size_t stride = std::max<size_t>(1, n / kSampledReads);
      for (size_t i = 0; i < n; i++) {
        if (!walk.move || i < kFirstReads || i + kLastReads >= n || i % stride == 0)
          chosen.push_back(numbers[i]);
      }
    }
    std::sort(chosen.begin(), chosen.end());
    return chosen;
  }

  std::vector<Walk> walks() {
    std::vector<int32_t> byName(kRows), byNumber(kRows), inRecords(kRows);
    std::iota(inRecords.begin(), inRecords.end(), 1);
    byName = byNumber = inRecords;
    std::sort(byName.begin(), byName.end(), [](int a, int b) { return nameOf(a) < nameOf(b); });
    std::sort(byNumber.begin(), byNumber.end(),
              [](int a, int b) { return numberOf(a) < numberOf(b); });
    const auto from = [](const std::vector<int32_t>& order, size_t first, int32_t end) {
      return Outcome{std::vector<int32_t>(order.begin() + first, order.end()), end, ""};
    };
    const auto reversed = [](std::vector<int32_t> order) {
      std::reverse(order.begin(), order.end());
      return Outcome{order, r4bof, ""};
    };
    const auto one = [](int32_t record) { return Outcome{{record}, 0, ""}; };
    const auto forward = [](DATA4* d) { return data4skip(d, 1); };
    const auto backward = [](DATA4* d) { return data4skip(d, -1); };
    // Sought keys well inside the tags, so that the walks on from them
    // still cross many leaves.
    const size_t nameAt = kRows * 2 / 3, numberAt = kRows / 2;
    const std::string soughtName = nameOf(byName[nameAt]);
    const double soughtNumber = numberOf(byNumber[numberAt]);
    const auto seekName = [soughtName](DATA4* d) { return data4seek(d, soughtName.c_str()); };
    const auto seekNumber = [soughtNumber](DATA4* d) { return data4seekDouble(d, soughtNumber); };
    const auto top = [](DATA4* d) { return data4top(d); };
    const auto bottom = [](DATA4* d) { return data4bottom(d); };
    const auto scanTop = [this](DATA4* d) { return data4scanTop(&scan, d, 64); };
    const auto scanSkip = [this](DATA4*) { return data4scanSkip(&scan); };
    return {
        {"top by name", "T_NAME", top, nullptr, one(byName.front())},
        {"bottom by name", "T_NAME", bottom, nullptr, one(byName.back())},
        {"seek a name", "T_NAME", seekName, nullptr, one(byName[nameAt])},
        {"seek a number", "T_NUM", seekNumber, nullptr, one(byNumber[numberAt])},
        {"top in records", nullptr, top, nullptr, one(1)},
        {"bottom in records", nullptr, bottom, nullptr, one(kRows)},
        {"by name to the end", "T_NAME", top, forward, from(byName, 0, r4eof)},
        {"by name back to the start", "T_NAME", bottom, backward, reversed(byName)},
        {"from a sought name to the end", "T_NAME", seekName, forward, from(byName, nameAt, r4eof)},
        {"from a sought number to the end", "T_NUM", seekNumber, forward,
         from(byNumber, numberAt, r4eof)},
        {"by number back to the start", "T_NUM", bottom, backward, reversed(byNumber)},
        {"records to the end", nullptr, top, forward, from(inRecords, 0, r4eof)},
        {"records back to the start", nullptr, bottom, backward, reversed(inRecords)},
        {"scan of the records", nullptr, scanTop, scanSkip, from(inRecords, 0, r4eof)},
    };
  }

  CODE4 c;
  DATA4SCAN scan;
  ErrorRecorder recorder{true};  // clears each error, as the program's hook does
};

std::string describe(const Outcome& out) {
  return std::to_string(out.rows.size()) + " rows, then " + std::to_string(out.end) +
         (out.wrong.empty() ? "" : ", wrong " + out.wrong);
}

// Whether `part` holds right rows only, the first ones of the sound walk.
bool soundStart(const Outcome& part, const Outcome& sound) {
  return part.wrong.empty() && part.rows.size() <= sound.rows.size() &&
         std::equal(part.rows.begin(), part.rows.end(), sound.rows.begin());
}

// What is wrong with a walk that met a refused read, or "": it ended in
// an error, raised and noted as a disk failure, after right rows in the
// sound walk's order; and walking again up to `limit` rows, the same
// handle went as soundly as before.
std::string judge(const Outcome& faulted, const Outcome& sound, bool raised, bool noted,
                  const Outcome& again, size_t limit) {
  if (faulted.end >= 0 || !soundStart(faulted, sound))
    return "the walk answered " + describe(faulted) + " (sound: " + describe(sound) + ")";
  if (!raised) return "nothing was raised";
  if (!noted) return "the disk failure went unnoted";
  const bool cut = again.end == 0 && again.rows.size() == limit;
  if (!soundStart(again, sound) || (!cut && again != sound))
    return "walked again, " + describe(again);
  return "";
}

TEST_P(WalkFaultTest, EveryRefusedReadIsAnErrorOfTheWalkThatNeededIt) {
  ReadFaultOs os;
  platform::ScopedOs scoped(os);
  for (const Walk& walk : walks()) {
    SCOPED_TRACE(walk.name);
    DATA4* d = data4open(&c, "walk");
    ASSERT_NE(d, nullptr);
    os.arm(0);
    const Outcome sound = run(d, walk);
    os.disarm();
    ASSERT_EQ(sound, walk.sound) << describe(sound);
    ASSERT_EQ(data4close(d), 0);
    const std::vector<Read> reads = os.reads();
    ASSERT_FALSE(reads.empty());
    for (const int64_t k : readsToFail(walk, reads)) {
      d = data4open(&c, "walk");
      ASSERT_NE(d, nullptr);
      recorder.clear();
      const uint64_t failuresBefore = code4diskFailures(&c);
      os.arm(k);
      const Outcome faulted = run(d, walk);
      os.disarm();
      ASSERT_TRUE(os.fired()) << "read " << k << " of " << reads.size() << " never came";
      const bool raised = !recorder.errors().empty();
      const bool noted = code4diskFailures(&c) > failuresBefore;
      const size_t limit = faulted.rows.size() + kWalkedPast;
      const std::string problem = judge(faulted, sound, raised, noted, run(d, walk, limit), limit);
      ASSERT_EQ(data4close(d), 0);
      if (!problem.empty()) {
        const Read refused = os.firedRead();
        ADD_FAILURE() << "read " << k << " (" << kindName(refused.kind) << " at " << refused.offset
                      << ", " << refused.length << " bytes) refused: " << problem;
        break;  // the next walk
      }
    }
  }
  if (GetParam().cache && GetParam().workers) {
    EXPECT_GT(os.refusedAhead(), 0) << "no read ahead was refused";
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, WalkFaultTest,
                         ::testing::Values(Config{false, false}, Config{true, false},
                                           Config{false, true}, Config{true, true},
                                           Config{false, false, true},
                                           Config{true, false, false, true}),
                         [](const auto& info) {
                           // Runs with workers carry "Threads" in their names: the
                           // thread-sanitizer run selects them.
                           const Config config = info.param;
                           if (config.shared) return std::string("Shared");
                           if (config.recordsCached) return std::string("CacheWithRecords");
                           if (!config.workers)
                             return std::string(config.cache ? "Cache" : "Plain");
                           return std::string(config.cache ? "CacheAndWorkerThreads"
                                                           : "WorkerThreads");
                         });

}  // namespace
