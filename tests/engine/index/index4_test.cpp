// Index files: creation from tag definitions with its refusals, the file it
// lays out, the production flag, opening with the table, sharing between
// handles, closing, and damaged files.
#include "engine/index/index4.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "engine/index/cdx4header.h"
#include "engine/index/index4file.h"
#include "engine/index/tag4.h"
#include "engine/index/tag4file.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/endian4.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4.h"
#include "engine/storage/field4value.h"
#include "tests/support/catalogue_files.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"
#include "tests/support/reader_agreement.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {
    {"NAME", 'C', 20, 0, 0}, {"SIZE", 'N', 10, 0, 0}, {"DONE", 'L', 1, 0, 0}, {nullptr, 0, 0, 0, 0}};
const TAG4INFO kTags[] = {{"NAME", "NAME", nullptr, 0, 0}, {"size", "SIZE", nullptr, 20, 10}, {}};

uint32_t le32(const std::string& bytes, size_t at) {
  return endian4::readLe32(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}

int tagCount(INDEX4* index) { return static_cast<int>(index->tags.nLink); }

class IndexTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.accessMode = 1;
    c.singleOpen = 0;
  }
  DATA4* table(const TAG4INFO* tags = kTags) { return data4create(&c, "t", kFields, tags); }
  INDEX4* firstIndex(DATA4* d) { return reinterpret_cast<INDEX4*>(list4first(&d->indexes)); }
  void expectRaised(int32_t code, int32_t location) {
    EXPECT_EQ(lastError().code, code);
    EXPECT_EQ(lastError().location, location);
    clearError();
  }
};

TEST_F(IndexTest, ATableCreatedWithTagsHasItsProductionIndexLaidOut) {
  DATA4* d = table();
  ASSERT_NE(d, nullptr);
  INDEX4* index = firstIndex(d);
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(tagCount(index), 2);
  EXPECT_TRUE(d->dataFile->productionIndexOpen);
  EXPECT_EQ(index4isProduction(index->indexFile), 1);
  // The definition's unique value stays the tag's mode; a reopened tag
  // takes it from its options.
  EXPECT_EQ(reinterpret_cast<TAG4*>(list4last(&index->tags))->uniqueMode, 20);
  ASSERT_EQ(data4close(d), 0);

  EXPECT_EQ(readDiskFile("t.dbf")[28] & 1, 1);
  const std::string cdx = readDiskFile("t.cdx");
  ASSERT_EQ(cdx.size(), 4608u);
  EXPECT_EQ(le32(cdx, 0), 3072u);     // the tag of tags' root
  EXPECT_EQ(le32(cdx, 1024), 3584u);  // NAME
  EXPECT_EQ(le32(cdx, 2048), 4096u);  // SIZE
  EXPECT_EQ(static_cast<unsigned char>(cdx[14]), 0xE0);
  EXPECT_EQ(static_cast<unsigned char>(cdx[1024 + 14]), 0x60);
  EXPECT_EQ(static_cast<unsigned char>(cdx[2048 + 14]), 0x61);
  EXPECT_EQ(cdx[2048 + 502], 1);  // descending
  EXPECT_EQ(cdx.substr(1024 + 512, 5), std::string("NAME\0", 5));
  EXPECT_EQ(cdx.substr(2048 + 512, 5), std::string("SIZE\0", 5));
  for (uint32_t root : {3584u, 4096u}) EXPECT_EQ(cdx[root], 3) << root;  // empty root leaves

  const CdxReport report = checkCdxFile("t.cdx", {{"SIZE", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  int status = 0;
  EXPECT_EQ(runCommand("/usr/bin/index_dump --type char t.cdx", &status), "NAME\nSIZE\n");
  EXPECT_EQ(status, 0);

  d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  ASSERT_NE(firstIndex(d), nullptr);
  EXPECT_EQ(tagCount(firstIndex(d)), 2);
  EXPECT_EQ(reinterpret_cast<TAG4*>(list4last(&firstIndex(d)->tags))->uniqueMode,
            c.errDefaultUnique);
  EXPECT_EQ(data4close(d), 0);
}

TEST_F(IndexTest, UnsoundDefinitionsAreRefusedAndLeaveNoFile) {
  DATA4* d = data4create(&c, "t", kFields, nullptr);
  ASSERT_NE(d, nullptr);
  auto refused = [&](const TAG4INFO* tags, int32_t code, int32_t location) {
    EXPECT_EQ(index4create(d, "x", tags), nullptr);
    EXPECT_EQ(lastError().code, code);
    EXPECT_EQ(lastError().location, location);
    clearError();
    EXPECT_FALSE(diskFileExists("x.cdx"));
  };
  const TAG4INFO badUnique[] = {{"A", "NAME", nullptr, 1, 0}, {}};
  refused(badUnique, e4tagInfo, 80193);
  const TAG4INFO badDescending[] = {{"A", "NAME", nullptr, 0, 1}, {}};
  refused(badDescending, e4tagInfo, 80194);
  const TAG4INFO noKey[] = {{"A", "", nullptr, 0, 0}, {}};
  refused(noKey, e4tagInfo, 80195);
  const TAG4INFO numberFilter[] = {{"A", "NAME", "SIZE", 0, 0}, {}};
  refused(numberFilter, e4create, 80021);
  const TAG4INFO longKey[] = {{"A", "NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME",
                               nullptr, 0, 0},
                              {}};
  refused(longKey, e4index, 90198);

  // A name repeated: the tag of tags refuses it, creation ends with 20.
  const TAG4INFO twice[] = {{"A", "NAME", nullptr, 0, 0}, {"a", "SIZE", nullptr, 0, 0}, {}};
  EXPECT_EQ(index4create(d, "x", twice), nullptr);
  EXPECT_EQ(error4code(&c), r4unique);
  EXPECT_FALSE(diskFileExists("x.cdx"));
  clearError();

  // A file of that name already open on the table.
  INDEX4* open = index4create(d, "x", kTags);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(index4create(d, "x", kTags), nullptr);
  expectRaised(e4name, 80089);
  EXPECT_EQ(data4close(d), 0);

  // A production index needs the table to itself.
  c.accessMode = 0;
  d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(index4create(d, nullptr, kTags), nullptr);
  expectRaised(e4createIndex, 80044);
  EXPECT_EQ(data4close(d), 0);
  EXPECT_EQ(index4create(nullptr, nullptr, kTags), nullptr);
  EXPECT_EQ(lastError().code, e4parmNull);
}

TEST_F(IndexTest, HandlesOfOneTableShareTheFileAndTheProductionIndexStaysWithTheTable) {
  DATA4* first = table();
  ASSERT_NE(first, nullptr);
  DATA4* second = data4open(&c, "t");
  ASSERT_NE(second, nullptr);
  INDEX4FILE* shared = firstIndex(first)->indexFile;
  EXPECT_EQ(firstIndex(second)->indexFile, shared);
  EXPECT_EQ(shared->userCount, 2);
  EXPECT_EQ(index4open(second, nullptr), nullptr);
  expectRaised(e4instance, 90166);
  EXPECT_EQ(index4openChecked(nullptr, nullptr), nullptr);
  EXPECT_EQ(lastError().code, e4parmNull);
  clearError();

  // Closing the second handle's index and then the first handle leaves the
  // file open for the table...
  EXPECT_EQ(index4close(firstIndex(second)), 0);
  EXPECT_EQ(shared->userCount, 1);
  EXPECT_EQ(data4close(first), 0);
  ASSERT_EQ(list4first(&second->dataFile->indexes), &shared->link);
  EXPECT_EQ(shared->userCount, 0);
  // ... where the handle opens it again.
  INDEX4* again = index4open(second, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->indexFile, shared);
  EXPECT_EQ(tagCount(again), 2);

  // Another index file beside it closes with its last user.
  ASSERT_NE(index4create(second, "other", kTags), nullptr);
  EXPECT_EQ(second->dataFile->indexCount, 2);
  EXPECT_EQ(index4close(reinterpret_cast<INDEX4*>(list4last(&second->indexes))), 0);
  EXPECT_EQ(second->dataFile->indexCount, 1);
  EXPECT_EQ(data4close(second), 0);
}

// Where a tree of the file names a block the file does not hold.
std::string nodesPastTheEnd(const CdxReport& report) {
  std::string found;
  for (const std::string& problem : report.problems)
    if (problem.find("no usable block") != std::string::npos) found += problem + "\n";
  return found;
}

// An index grows on a disk that fills meanwhile, the cache holding its
// changed nodes as the catalogue has it; where the file system sets room
// aside and where it cannot (fallocate answering EOPNOTSUPP, as NFS v3,
// ZFS and many FUSE mounts do). A change whose new nodes could not have
// their room is refused before it writes anything, so that nodes held back
// never fail to write out after their parents went out: the index a close
// on the still-full disk leaves (marked, for the next open to rebuild)
// names no node past its end, as other tools read it, and neither does it
// after an open on that disk; once there is room, the next open makes it
// agree with the table.
TEST_F(IndexTest, AnIndexGrowingOnADiskThatFillsNeverNamesANodePastItsEnd) {
  startSmallCache(c);
  const TAG4INFO byName[] = {kTags[0], {}};
  auto name = [](int32_t n) {
    return "n" + std::to_string(n * 7919 % 100003) + "-" + std::to_string(n);
  };
  for (const int reserveError : {0, EOPNOTSUPP}) {
    for (const int64_t fullAt : {2, 9, 30}) {
      SCOPED_TRACE("reserve errno " + std::to_string(reserveError) + ", full at write " +
                   std::to_string(fullAt));
      DATA4* d = table(byName);
      ASSERT_NE(d, nullptr);
      FakeOs fake;
      fake.reserveError = reserveError;
      platform::ScopedOs scoped(fake);
      fake.fillDiskAtWrite(fullAt);
      int32_t appended = 0;
      for (; appended < 3000; appended++) {
        if (data4appendStart(d, 0) != 0) break;
        field4assign(data4field(d, "NAME"), name(appended + 1).c_str());
        if (data4append(d) != 0) break;
      }
      clearError();
      data4close(d);
      clearError();
      EXPECT_EQ(nodesPastTheEnd(checkCdxFile("t.cdx")), "");
      d = data4open(&c, "t");
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(data4close(d), 0);
      EXPECT_EQ(nodesPastTheEnd(checkCdxFile("t.cdx")), "");

      fake.fillDiskAtWrite(0);
      d = data4open(&c, "t");
      ASSERT_NE(d, nullptr);
      data4tagSelect(d, data4tag(d, "NAME"));
      const int32_t records = data4recCount(d);
      for (int32_t record = 1; record <= records; record++) {
        ASSERT_EQ(data4go(d, record), 0);
        const std::string key(field4ptr(data4field(d, "NAME")), 20);
        EXPECT_EQ(data4seek(d, key.c_str()), 0) << key;
        EXPECT_EQ(data4recNo(d), record);
      }
      EXPECT_EQ(data4close(d), 0);
      const CdxReport index = checkCdxFile("t.cdx");
      EXPECT_TRUE(index.ok()) << index.text();
      ASSERT_NE(index.tag("NAME"), nullptr);
      EXPECT_EQ(index.tag("NAME")->entries.size(), static_cast<size_t>(records));
      if (HasFailure()) return;
    }
  }
}

// Where room is written ahead, an exclusive file's last close, and a
// shared file's every unlock, cut it off again: no later open, of this
// process or another, takes it for nodes, and the index grows no more
// than where the file system sets room aside. Flushed with its room ahead,
// the file reads in other tools.
TEST_F(IndexTest, RoomWrittenAheadIsCutOffByTheCloseAndEveryUnlock) {
  const TAG4INFO byName[] = {kTags[0], {}};
  for (const int16_t access : {0, 1}) {
    uint64_t lengths[2] = {};
    for (const int reserveError : {0, EOPNOTSUPP}) {
      SCOPED_TRACE("access " + std::to_string(access) + ", reserve errno " +
                   std::to_string(reserveError));
      FakeOs fake;
      fake.reserveError = reserveError;
      platform::ScopedOs scoped(fake);
      c.accessMode = 1;
      DATA4* d = table(byName);
      ASSERT_NE(d, nullptr);
      ASSERT_EQ(data4close(d), 0);
      c.accessMode = access;
      for (int32_t session = 0, n = 0; session < 4; session++) {
        d = data4open(&c, "t");
        ASSERT_NE(d, nullptr);
        for (int32_t k = 0; k < 150; k++, n++) {
          ASSERT_EQ(data4appendStart(d, 0), 0);
          field4assign(data4field(d, "NAME"), ("n" + std::to_string(n * 7919 % 100003)).c_str());
          ASSERT_EQ(data4append(d), 0);
        }
        ASSERT_EQ(data4flush(d), 0);
        if (reserveError != 0 && session == 3) {
          EXPECT_EQ(readersDisagree("t", {{"NAME", "char", "r['NAME']"}}), "");
        }
        ASSERT_EQ(data4close(d), 0);
      }
      lengths[reserveError != 0] = readDiskFile("t.cdx").size();
      const CdxReport index = checkCdxFile("t.cdx");
      EXPECT_TRUE(index.ok()) << index.text();
    }
    EXPECT_EQ(lengths[1], lengths[0]) << "access " << access;
  }
}

// A marked index (a change left unfinished: here a marked copy of the file
// from before the last ten records) is rebuilt before anyone reads it,
// however the table is opened: in memory where it cannot be where it
// lies, the table shared for writing or the disk refusing the rebuild.
// Every record is then found by its key, and the file on the disk stays as
// it was, marked, for an open that can to rebuild.
TEST_F(IndexTest, AMarkedIndexIsRebuiltInMemoryWhereItCannotBeWhereItLies) {
  const TAG4INFO byName[] = {kTags[0], {}};
  DATA4* d = table(byName);
  ASSERT_NE(d, nullptr);
  auto append = [&](int32_t from, int32_t to) {
    for (int32_t n = from; n <= to; n++) {
      ASSERT_EQ(data4appendStart(d, 0), 0);
      field4assign(data4field(d, "NAME"), ("name" + std::to_string(n)).c_str());
      ASSERT_EQ(data4append(d), 0);
    }
  };
  append(1, 10);
  ASSERT_EQ(data4close(d), 0);
  std::string marked = readDiskFile("t.cdx");
  marked[cdx4changeMarkOffset] = 1;
  d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  append(11, 20);
  ASSERT_EQ(data4close(d), 0);
  const struct {
    const char* what;
    int16_t access;
    bool diskFull;
  } cases[] = {{"shared", 0, false}, {"exclusive, the disk full", 1, true}};
  for (const auto& [what, access, diskFull] : cases) {
    SCOPED_TRACE(what);
    writeDiskFile("t.cdx", marked);
    FakeOs fake;
    if (diskFull) fake.diskSpace = 0;
    platform::ScopedOs scoped(fake);
    c.accessMode = access;
    d = data4open(&c, "t");
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->dataFile->indexInMemory);
    data4tagSelect(d, data4tag(d, "NAME"));
    for (int32_t n = 1; n <= 20; n++) {
      const std::string key = "name" + std::to_string(n);
      EXPECT_EQ(data4seek(d, key.c_str()), 0) << key;
      EXPECT_EQ(data4recNo(d), n) << key;
    }
    data4close(d);
    clearError();
    EXPECT_EQ(readDiskFile("t.cdx"), marked);
  }
}

class DamagedIndexTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    DATA4* d = table();
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(data4close(d), 0);
    good_ = readDiskFile("t.cdx");
  }
  // Opens the table over the index with `bytes` put at `at`: the error
  // raised, 0 when it opened.
  int32_t openWith(size_t at, const std::string& bytes, int32_t* location = nullptr) {
    std::string damaged = good_;
    damaged.replace(at, bytes.size(), bytes);
    writeDiskFile("t.cdx", damaged);
    recorder.clear();
    DATA4* d = data4open(&c, "t");
    if (d != nullptr) {
      EXPECT_EQ(data4close(d), 0);
      return 0;
    }
    const auto errors = recorder.errors();
    clearError();
    if (errors.empty()) return -1;
    if (location != nullptr) *location = errors.front().location;
    return errors.front().code;
  }
  static std::string le(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; i++) out[i] = static_cast<char>(value >> (8 * i));
    return out;
  }
  std::string good_;
};

TEST_F(DamagedIndexTest, EveryHeaderReadIsCheckedAndNamesThePlace) {
  int32_t location = 0;
  EXPECT_EQ(openWith(0, le(0), &location), e4index);  // no root
  EXPECT_EQ(location, 80099);
  EXPECT_EQ(openWith(12, std::string("\x05\x00", 2), &location), e4index);  // tag names of 5
  EXPECT_EQ(location, 80099);
  EXPECT_EQ(openWith(16, le(0xABCD) + le(700) + le(1)), e4index);  // block size not of 512
  EXPECT_EQ(openWith(1024 + 12, std::string("\x07\x00", 2), &location), e4index);
  EXPECT_EQ(location, 80181);  // a key length the expression does not make
  EXPECT_EQ(openWith(2048 + 512, "SIZX"), e4fieldName);  // no such field
  EXPECT_EQ(openWith(2048 + 512, "SIZEX"), e4index);  // the pool's lengths disagree
  // The tag of tags names a header beyond the end of the file: NAME's
  // entry (3 bytes, a 16-bit record number first) in the root leaf.
  EXPECT_EQ(openWith(3072 + 24, std::string("\x00\xF0", 2), &location), e4index);
  EXPECT_EQ(location, 80324);
  EXPECT_EQ(openWith(0, good_.substr(0, 4)), 0);  // the file itself is sound
  std::string truncated = good_.substr(0, 1500);
  writeDiskFile("t.cdx", truncated);
  EXPECT_EQ(data4open(&c, "t"), nullptr);
  EXPECT_EQ(lastError().code, e4index);
  clearError();
}

TEST_F(DamagedIndexTest, AReadOnlyFileKeepsATagItCannotUseListedButRefusesIt) {
  std::string damaged = good_;
  damaged.replace(2048 + 512, 4, "SIZX");
  writeDiskFile("t.cdx", damaged);
  c.readOnly = 1;
  c.errExpr = 0;
  DATA4* d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  INDEX4* index = firstIndex(d);
  ASSERT_NE(index, nullptr);
  ASSERT_EQ(tagCount(index), 2);
  TAG4FILE* name = reinterpret_cast<TAG4*>(list4first(&index->tags))->tagFile;
  TAG4FILE* size = reinterpret_cast<TAG4*>(list4last(&index->tags))->tagFile;
  EXPECT_EQ(tagfile4top(name), 0);
  EXPECT_EQ(tagfile4top(size), e4index);
  EXPECT_EQ(lastError().location, 80336);
  clearError();
  EXPECT_EQ(data4close(d), 0);
}

// One damaged byte makes a tag header claim to be the tag of tags (SIZE's
// options 0x61 made 0xE0). The open says so and fails every time; a close
// never writes a header anywhere but where it was read, so the file keeps
// its bytes. Opened for reading, the tag stays listed and is refused.
TEST_F(DamagedIndexTest, ATagHeaderClaimingTheTagOfTagsIsRefusedAndNeverWrittenBack) {
  std::string damaged = good_;
  ASSERT_EQ(static_cast<unsigned char>(damaged[2048 + 14]), 0x61);
  damaged[2048 + 14] = '\xE0';
  writeDiskFile("t.cdx", damaged);
  for (int open = 0; open < 2; open++) {
    recorder.clear();
    DATA4* d = data4open(&c, "t");
    EXPECT_EQ(d, nullptr);
    if (d != nullptr) data4close(d);
    EXPECT_EQ(lastError().code, e4index);
    clearError();
    EXPECT_EQ(readDiskFile("t.cdx"), damaged);
  }
  c.readOnly = 1;
  DATA4* d = data4open(&c, "t");
  ASSERT_NE(d, nullptr);
  INDEX4* index = firstIndex(d);
  ASSERT_NE(index, nullptr);
  ASSERT_EQ(tagCount(index), 2);
  EXPECT_EQ(tagfile4top(reinterpret_cast<TAG4*>(list4first(&index->tags))->tagFile), 0);
  EXPECT_EQ(tagfile4top(reinterpret_cast<TAG4*>(list4last(&index->tags))->tagFile), e4index);
  clearError();
  EXPECT_EQ(data4close(d), 0);
  EXPECT_EQ(readDiskFile("t.cdx"), damaged);
}

}  // namespace
