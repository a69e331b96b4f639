// Walking tags with their next leaves read ahead, against the plain file
// layer: one random sequence of skips, seeks, key changes, appends, node
// releases, flushes and reopenings runs on two engines. One runs as the
// catalogue runs its tables (exclusive, the block cache started, here too
// small to keep the index, and the workers reading leaves ahead, slowed so
// that their reads overlap the walk); the other has neither workers nor
// cache. Every call must answer the same, on the same record, and in the
// end the files must hold the same records and keys.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "engine/index/index4file.h"
#include "engine/storage/buffer4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"

using testing_support::ErrorRecorder;
using testing_support::FakeOs;
using testing_support::readDiskFile;

namespace {

const FIELD4INFO kFields[] = {
    {"NAME", 'C', 12, 0, 0}, {"SIZE", 'N', 8, 0, 0}, {nullptr, 0, 0, 0, 0}};
const char* const kTags[] = {"T_NAME", "T_DOWN", "T_SIZE"};
constexpr int kFirstRecords = 4000;

class TwoEngines {
 public:
  TwoEngines(uint32_t seed, int64_t slowMicros) : random_(seed) {
    fake_.slowOtherThreadsIo(slowMicros);
    scoped_ = std::make_unique<platform::ScopedOs>(fake_);
    for (int side = 0; side < 2; side++) {
      CODE4& c = code_[side];
      EXPECT_EQ(code4initLow(&c, nullptr, 6502, 1611, side == 0 ? 0 : 1), 0);
      c.safety = 0;
      c.accessMode = 1;
      std::filesystem::remove_all(folder(side));
      std::filesystem::create_directory(folder(side));
    }
    CODE4& ahead = code_[0];
    EXPECT_TRUE(ahead.readAhead.running());
    ahead.bufferingSize = 40000;  // twenty blocks: the index does not stay
    ahead.bufferingWriteBehind = 0;
    ahead.bufferingReadsAround = 1;
    EXPECT_EQ(code4cacheStart(&ahead), 0);
  }

  ~TwoEngines() {
    for (CODE4& c : code_) code4initUndo(&c);
    scoped_.reset();
  }

  void run(int steps) {
    for (int side = 0; side < 2; side++) {
      Tag4info tags(code_[side]);
      tags.add("T_NAME", "NAME", nullptr, 0, 0);
      tags.add("T_DOWN", "NAME", nullptr, 0, 10);
      tags.add("T_SIZE", "SIZE", nullptr, 0, 0);
      data_[side] = data4create(&code_[side], path(side).c_str(), kFields, tags.tags());
      ASSERT_NE(data_[side], nullptr);
    }
    for (int i = 0; i < kFirstRecords; i++) ASSERT_NO_FATAL_FAILURE(append());
    select(kTags[0]);
    for (int step = 0; step < steps && !::testing::Test::HasFailure(); step++) {
      SCOPED_TRACE("step " + std::to_string(step));
      this->step();
    }
    noteReadAhead();
    EXPECT_TRUE(readAhead_);  // the walks did read leaves ahead
    std::vector<testing_support::CdxReport> reports;
    for (int side = 0; side < 2; side++) {
      ASSERT_EQ(data4close(data_[side]), 0);
      reports.push_back(testing_support::checkCdxFile(path(side) + ".cdx", {{"T_SIZE", 0}}));
      ASSERT_TRUE(reports.back().ok()) << reports.back().text();
    }
    EXPECT_EQ(readDiskFile(path(0) + ".dbf"), readDiskFile(path(1) + ".dbf"));
    for (const char* tag : kTags)
      EXPECT_EQ(reports[0].tag(tag)->entries, reports[1].tag(tag)->entries) << tag;
    EXPECT_TRUE(recorder_.errors().empty());
  }

 private:
  static std::string folder(int side) { return side == 0 ? "ahead" : "plain"; }
  static std::string path(int side) { return folder(side) + "/walk"; }

  uint32_t below(uint32_t limit) { return static_cast<uint32_t>(random_() % limit); }

  // Few distinct names, so that runs of equal keys span leaves.
  std::string newName() { return "N" + std::to_string(below(3000)); }

  // The same call on both sides answers the same, on the same record.
  template <class Call>
  void both(Call&& call) {
    int32_t rc[2];
    for (int side = 0; side < 2; side++) rc[side] = call(data_[side]);
    ASSERT_EQ(rc[0], rc[1]);
    // A misuse both sides refuse alike (a skip without a record) is
    // raised on both; the next call starts clean.
    ASSERT_EQ(error4code(&code_[0]), error4code(&code_[1]));
    for (CODE4& c : code_) error4set(&c, 0);
    recorder_.clear();
    DATA4* a = data_[0];
    DATA4* p = data_[1];
    ASSERT_EQ(data4recNo(a), data4recNo(p));
    ASSERT_EQ(data4eof(a), data4eof(p));
    ASSERT_EQ(data4bof(a), data4bof(p));
    const size_t width = a->dataFile->recordLength;
    ASSERT_EQ(std::string(data4record(a), width), std::string(data4record(p), width));
  }

  void append() {
    const std::string name = newName();
    const int32_t size = static_cast<int32_t>(below(100000));
    both([&](DATA4* d) {
      data4appendStart(d, 0);
      data4blank(d);
      field4assign(data4field(d, "NAME"), name.c_str());
      field4assignLong(data4field(d, "SIZE"), size);
      return data4append(d);
    });
  }

  void select(const char* tag) {
    for (DATA4* d : data_) data4tagSelect(d, tag == nullptr ? nullptr : data4tag(d, tag));
  }

  void noteReadAhead() {
    const auto* index = reinterpret_cast<INDEX4FILE*>(list4first(&data_[0]->dataFile->indexes));
    if (index != nullptr && index->file.readAheadUsed) readAhead_ = true;
  }

  void reopen() {
    noteReadAhead();
    for (int side = 0; side < 2; side++) {
      ASSERT_EQ(data4close(data_[side]), 0);
      data_[side] = data4open(&code_[side], path(side).c_str());
      ASSERT_NE(data_[side], nullptr);
    }
    select(kTags[below(3)]);
  }

  void step() {
    // Leaves the kernel holds are read ahead at once, the others by the
    // worker.
    fake_.pageCacheHolds = below(3) == 0;
    const uint32_t choice = below(100);
    if (choice < 45) {
      // Mostly across a few leaves, now and then across many.
      const bool far = below(4) == 0;
      const int32_t n =
          far ? static_cast<int32_t>(below(2001)) - 1000 : static_cast<int32_t>(below(161)) - 80;
      both([&](DATA4* d) { return data4skip(d, n); });
    } else if (choice < 52) {
      const bool top = below(2) == 0;
      both([&](DATA4* d) { return top ? data4top(d) : data4bottom(d); });
    } else if (choice < 60) {
      const std::string name = newName().substr(0, 1 + below(4));
      both([&](DATA4* d) { return data4seek(d, name.c_str()); });
    } else if (choice < 64) {
      const int32_t record = static_cast<int32_t>(1 + below(data4recCount(data_[1])));
      both([&](DATA4* d) { return data4go(d, record); });
    } else if (choice < 70) {
      select(below(5) == 0 ? nullptr : kTags[below(3)]);
    } else if (choice < 80) {
      // A new key for the current record, written by the next move.
      const std::string name = newName();
      both([&](DATA4* d) {
        return data4recNo(d) < 1 || data4eof(d) || data4bof(d)
                   ? 0
                   : field4assign(data4field(d, "NAME"), name.c_str());
      });
    } else if (choice < 88) {
      append();
    } else if (choice < 93) {
      both([](DATA4* d) { return code4freeBlocks(d->codeBase); });
    } else if (choice < 97) {
      both([](DATA4* d) { return data4flush(d); });
    } else {
      reopen();
    }
  }

  std::mt19937 random_;
  FakeOs fake_;
  std::unique_ptr<platform::ScopedOs> scoped_;
  ErrorRecorder recorder_;
  CODE4 code_[2];  // [0] cache and read-ahead, [1] plain
  DATA4* data_[2] = {};
  bool readAhead_ = false;  // the index file of the first side read ahead
};

TEST(TagAheadThreadsTest, WalksAgreeWithThePlainFileLayer) {
  for (uint32_t seed = 1; seed <= 2 && !::testing::Test::HasFailure(); seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TwoEngines(seed, 0).run(1200);
  }
  for (uint32_t seed = 11; seed <= 12 && !::testing::Test::HasFailure(); seed++) {
    SCOPED_TRACE("slow workers, seed " + std::to_string(seed));
    TwoEngines(seed, 150).run(600);
  }
}

}  // namespace
