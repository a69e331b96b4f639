// The block cache against the plain file layer: one random sequence of
// reads, writes, new lengths, flushes, locks, sequential passes and blocks
// read ahead over several files runs on two engines, one with the cache
// started and one without. Every call must answer the same and, once flushed, every file
// must hold the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/buffer4.h"
#include "engine/storage/cache4.h"
#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "engine/storage/file4.h"
#include "engine/storage/file4queue.h"
#include "engine/storage/seqread4.h"
#include "engine/storage/seqwrite4.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"

using testing_support::ErrorRecorder;
using testing_support::FakeOs;
using testing_support::readDiskFile;

namespace {

struct Geometry {
  uint32_t sector;
  int32_t blockSize;
  int32_t bufferSize;
  int32_t budget;  // bytes the cache may use
};

// One file as each engine has it.
struct Twin {
  std::string name;
  int type;
  bool shared;   // opened in access mode 0, takes byte-range locks
  bool mayHold;  // write optimisation on
  bool locked = false;
  FILE4 files[2] = {};  // [0] through the cache, [1] plain
};

constexpr uint32_t kSpan = 48 * 1024;  // writes land below this offset
constexpr uint64_t kLockOffset = 1000000;

class CacheRandom {
 public:
  // `slowMicros` delays every transfer of the workers, so that their
  // transfers overlap what the test's thread does next.
  CacheRandom(const Geometry& geometry, bool workers, uint32_t seed, int64_t slowMicros = 0)
      : geometry_(geometry), random_(seed) {
    fake_.sector = geometry.sector;
    fake_.slowOtherThreadsIo(slowMicros);
    scoped_ = std::make_unique<platform::ScopedOs>(fake_);
    for (CODE4* c : {&cached_, &plain_}) {
      EXPECT_EQ(code4initLow(c, nullptr, 6502, 1611, workers ? 0 : 1), 0);
      c->safety = 0;
      c->lockAttempts = 1;
      c->cache.settings.blockSize = geometry.blockSize;
      c->cache.settings.bufferSize = geometry.bufferSize;
    }
    for (const char* folder : {"cached", "plain"}) {
      std::filesystem::remove_all(folder);
      std::filesystem::create_directory(folder);
    }
  }

  ~CacheRandom() {
    for (CODE4* c : {&cached_, &plain_}) code4initUndo(c);
    scoped_.reset();
  }

  void run(int steps) {
    addTwin(0, file4cacheData, false, true);
    addTwin(1, file4cacheIndex, true, true);  // holds writes while locked
    addTwin(2, file4cacheOther, false, true);
    addTwin(3, file4cacheData, true, false);  // never holds writes
    addTwin(4, file4cacheData, true, true);
    cached_.bufferingSize = geometry_.budget;
    ASSERT_EQ(code4cacheStart(&cached_), 0);
    ASSERT_TRUE(cached_.cache.started());
    addTwin(5, file4cacheOther, false, true);  // joins a started cache
    for (int step = 0; step < steps && !::testing::Test::HasFailure(); step++) {
      SCOPED_TRACE("step " + std::to_string(step));
      this->step();
    }
    for (auto& owned : twins_) {
      Twin& twin = *owned;
      if (twin.locked) toggleLock(twin);
      for (FILE4& f : twin.files) EXPECT_EQ(file4close(&f), 0);
      EXPECT_EQ(readDiskFile("cached/" + twin.name), readDiskFile("plain/" + twin.name))
          << twin.name;
    }
    EXPECT_EQ(code4cacheSuspend(&cached_), 0);
    EXPECT_TRUE(recorder_.errors().empty());
  }

 private:
  void open(Twin& twin) {
    for (int side = 0; side < 2; side++) {
      CODE4* c = side == 0 ? &cached_ : &plain_;
      const std::string path = (side == 0 ? "cached/" : "plain/") + twin.name;
      c->accessMode = twin.shared ? 0 : 1;
      FILE4& f = twin.files[side];
      ASSERT_EQ(readDiskFile(path).empty() ? file4create(&f, c, path.c_str(), 1)
                                           : file4open(&f, c, path.c_str(), 1),
                0);
      ASSERT_EQ(file4cacheSet(&f, 1, twin.type, 100, nullptr), 0);
      if (twin.shared && twin.mayHold) {
        ASSERT_EQ(file4cacheWriteOpt(&f, 1), 0);
      }
      if (!twin.mayHold) {
        ASSERT_EQ(file4cacheWriteOpt(&f, 0), 0);
      }
    }
  }

  void addTwin(int index, int type, bool shared, bool mayHold) {
    // Twins stay put: the engines keep pointers to their files.
    auto twin = std::make_unique<Twin>();
    twin->name = "f";
    twin->name += std::to_string(index) + ".bin";
    twin->type = type;
    twin->shared = shared;
    twin->mayHold = mayHold;
    twins_.push_back(std::move(twin));
    open(*twins_.back());
  }

  uint32_t below(uint32_t limit) { return static_cast<uint32_t>(random_() % limit); }

  // Mostly short transfers, some that span many blocks.
  uint32_t length() { return below(8) == 0 ? 1 + below(9000) : 1 + below(1500); }

  std::string bytes(uint32_t n) {
    std::string text(n, '\0');
    for (char& ch : text) ch = static_cast<char>('a' + below(26));
    return text;
  }

  void toggleLock(Twin& twin) {
    for (FILE4& f : twin.files) {
      EXPECT_EQ(twin.locked ? file4unlock(&f, kLockOffset, 10) : file4lock(&f, kLockOffset, 10), 0);
    }
    twin.locked = !twin.locked;
  }

  void compareRead(Twin& twin, uint64_t position, uint32_t n) {
    std::string got[2] = {std::string(n, '?'), std::string(n, '?')};
    uint32_t count[2];
    for (int side = 0; side < 2; side++)
      count[side] = file4read(&twin.files[side], position, got[side].data(), n);
    ASSERT_EQ(count[0], count[1]) << twin.name << " at " << position;
    ASSERT_EQ(got[0], got[1]) << twin.name << " at " << position;
  }

  void seqWrite(Twin& twin) {
    const uint64_t start = below(kSpan);
    const std::string data = bytes(length() * 2);
    for (FILE4& f : twin.files) {
      char buffer[4096];
      FILE4SEQWRITE writer;
      ASSERT_EQ(file4seqWriteInit(&writer, &f, start, buffer, sizeof buffer), 0);
      ASSERT_EQ(file4seqWrite(&writer, data.data(), static_cast<uint32_t>(data.size())), 0);
      ASSERT_EQ(file4seqWriteFlush(&writer), 0);
    }
  }

  void seqRead(Twin& twin) {
    const uint64_t start = below(kSpan);
    const uint32_t n = length();
    std::string got[2] = {std::string(n, '?'), std::string(n, '?')};
    uint32_t count[2];
    for (int side = 0; side < 2; side++) {
      char buffer[4096];
      FILE4SEQREAD reader;
      ASSERT_EQ(file4seqReadInit(&reader, &twin.files[side], start, buffer, sizeof buffer, 1), 0);
      count[side] = file4seqRead(&reader, got[side].data(), n);
      file4seqReadDone(&reader);
    }
    ASSERT_EQ(count[0], count[1]);
    ASSERT_EQ(got[0], got[1]);
  }

  void step() {
    Twin& twin = *twins_[below(static_cast<uint32_t>(twins_.size()))];
    FILE4* f = twin.files;
    const uint32_t choice = below(100);
    if (choice < 35) {
      const uint64_t position = below(kSpan);
      const std::string data = bytes(length());
      for (int side = 0; side < 2; side++)
        ASSERT_EQ(file4write(&f[side], position, data.data(), static_cast<uint32_t>(data.size())),
                  0);
    } else if (choice < 45) {
      // A block read ahead into the file's own buffer (the cached side
      // only: the plain side has no cache to read ahead for), then read,
      // with now and then a write over it while the read may be in flight.
      const uint64_t position = below(kSpan + 4096);
      fake_.pageCacheHolds = below(2) == 0;  // read at once, or by the worker
      file4advanceReadBlock(&f[0], position, 1 + below(geometry_.blockSize));
      if (choice < 38) {
        const std::string data = bytes(length());
        const uint64_t at = position - std::min<uint64_t>(position, below(2000));
        for (int side = 0; side < 2; side++)
          ASSERT_EQ(file4write(&f[side], at, data.data(), static_cast<uint32_t>(data.size())), 0);
      }
      compareRead(twin, position, length());
    } else if (choice < 70) {
      compareRead(twin, below(kSpan + 4096), length());
    } else if (choice < 74) {
      const uint64_t n = below(kSpan);
      for (int side = 0; side < 2; side++) ASSERT_EQ(file4lenSetLow(&f[side], n), 0);
    } else if (choice < 80) {
      ASSERT_EQ(file4lenLow(&f[0]), file4lenLow(&f[1]));
    } else if (choice < 84) {
      for (int side = 0; side < 2; side++) ASSERT_EQ(file4flush(&f[side]), 0);
      ASSERT_EQ(readDiskFile("cached/" + twin.name), readDiskFile("plain/" + twin.name));
    } else if (choice < 88) {
      if (twin.shared) toggleLock(twin);
    } else if (choice < 90) {
      for (int side = 0; side < 2; side++) ASSERT_EQ(file4refresh(&f[side]), 0);
    } else if (choice < 92) {
      const uint64_t position = below(kSpan);
      const uint32_t n = length();
      std::string got[2] = {std::string(n, '?'), std::string(n, '?')};
      int32_t rc[2];
      for (int side = 0; side < 2; side++) {
        rc[side] = file4readAll(&f[side], position, got[side].data(), n);
        error4set(side == 0 ? &cached_ : &plain_, 0);
      }
      recorder_.clear();  // a short exact read is raised on both sides alike
      ASSERT_EQ(rc[0], rc[1]);
      if (rc[0] == 0) {
        ASSERT_EQ(got[0], got[1]);
      }
    } else if (choice < 94) {
      if (twin.locked) toggleLock(twin);
      for (int side = 0; side < 2; side++) ASSERT_EQ(file4close(&f[side]), 0);
      open(twin);
    } else if (choice < 96) {
      seqWrite(twin);
    } else if (choice < 98) {
      seqRead(twin);
    } else if (choice < 99) {
      // Switching the permission to hold writes off publishes what is held.
      twin.mayHold = !twin.mayHold;
      for (FILE4& file : twin.files) ASSERT_EQ(file4cacheWriteOpt(&file, twin.mayHold ? 1 : 0), 0);
    } else if (below(2) == 0) {
      // What an allocation that fails once does: everything is written out
      // and freed, then the cache starts again.
      ASSERT_EQ(code4cacheSuspend(&cached_), 0);
      ASSERT_EQ(code4cacheStart(&cached_), 0);
    } else {
      twin.type = twin.type % 3 + 1;
      for (FILE4& file : twin.files) ASSERT_EQ(file4cacheSet(&file, 1, twin.type, 100, nullptr), 0);
    }
  }

  Geometry geometry_;
  std::mt19937 random_;
  FakeOs fake_;
  std::unique_ptr<platform::ScopedOs> scoped_;
  ErrorRecorder recorder_;
  CODE4 cached_;
  CODE4 plain_;
  std::vector<std::unique_ptr<Twin>> twins_;
};

constexpr Geometry kGeometries[] = {
    {512, 512, 4096, 40000},      // a few dozen blocks: constant reuse
    {512, 1024, 8192, 120000},    // the usual block size
    {4096, 1024, 16384, 200000},  // a block of one large sector
};

class CacheRandomTest : public ::testing::TestWithParam<Geometry> {};
class CacheRandomThreadsTest : public ::testing::TestWithParam<Geometry> {};

TEST_P(CacheRandomTest, MatchesThePlainFileLayer) {
  for (uint32_t seed = 1; seed <= 3 && !HasFailure(); seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    CacheRandom(GetParam(), false, seed).run(3000);
  }
}

TEST_P(CacheRandomThreadsTest, MatchesThePlainFileLayerWithWorkers) {
  for (uint32_t seed = 11; seed <= 12 && !HasFailure(); seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    CacheRandom(GetParam(), true, seed).run(2000);
  }
  for (uint32_t seed = 21; seed <= 22 && !HasFailure(); seed++) {
    SCOPED_TRACE("slow workers, seed " + std::to_string(seed));
    CacheRandom(GetParam(), true, seed, 200).run(1500);
  }
}

INSTANTIATE_TEST_SUITE_P(Geometries, CacheRandomTest, ::testing::ValuesIn(kGeometries));
INSTANTIATE_TEST_SUITE_P(Geometries, CacheRandomThreadsTest, ::testing::ValuesIn(kGeometries));

}  // namespace
