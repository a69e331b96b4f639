// A catalogue whose file table has passed 2 GiB or 4 GiB starts as quietly
// as a small one, settles a torn end as it always does, and keeps adding
// and finding rows beyond the mark. The stretch below the mark is a sparse
// run of rows that the header counts: the engine reads only what the counts
// and the index lead it to, so nothing reads the hole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalog/Udbwrapper.h"
#include "engine/storage/code4.h"
#include "engine/storage/endian4.h"
#include "tests/support/catalogue_rows.h"
#include "tests/support/error_recorder.h"

namespace {

constexpr uint64_t k2GiB = 1ull << 31;
constexpr uint64_t k4GiB = 1ull << 32;

// Counts rows of zeros after the records of the data file `name` until it
// reaches `length` at least, ending after them with its end-of-file mark,
// and then `torn` bytes of a record cut short: the header's count matches
// the records the file holds. The number of its last record.
uint32_t growSparse(const std::string& name, uint64_t length, uint32_t torn) {
  const int fd = open(name.c_str(), O_RDWR | O_CLOEXEC);
  unsigned char header[12];
  EXPECT_EQ(pread(fd, header, sizeof header, 0), 12);
  const uint64_t start = endian4::readLe16(header + 8);
  const uint64_t recordLength = endian4::readLe16(header + 10);
  const uint64_t count = (length - start + recordLength - 1) / recordLength;
  endian4::writeLe32(header + 4, static_cast<uint32_t>(count));
  const uint64_t end = start + count * recordLength;
  const std::string tail = "\x1A" + std::string(torn, ' ');
  EXPECT_EQ(pwrite(fd, header + 4, 4, 4), 4);
  EXPECT_EQ(ftruncate(fd, static_cast<off_t>(end)), 0);
  EXPECT_EQ(pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(end)),
            static_cast<ssize_t>(tail.size()));
  close(fd);
  return static_cast<uint32_t>(count);
}

std::vector<std::string> namesOfSupport(TDBWrapper& db, int32_t support) {
  std::vector<std::string> names;
  for (bool more = db.FindFirstFileOfSupport(support) == TFound::kRecord; more;
       more = db.NextFile() == TFound::kRecord) {
    TFileRecord row;
    db.ReadCurrentFile(row);
    if (row.supportId != support) break;
    names.push_back(row.name);
  }
  return names;
}

class LargeCatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0); }
  void TearDown() override {
    db.reset();
    code4initUndo(&c);
  }
  // What the engine reported since the last start: "code@location" each.
  std::string reports() {
    std::string text;
    for (const auto& e : recorder.errors())
      text += std::to_string(e.code) + "@" + std::to_string(e.location) + " ";
    return text;
  }
  // The catalogue closed and started again, as the program starts.
  void restart() {
    db.reset();
    recorder.clear();
    db = std::make_unique<TDBWrapper>(c, "data");
  }

  testing_support::ErrorRecorder recorder{true};
  CODE4 c;
  std::unique_ptr<TDBWrapper> db;
};

TEST_F(LargeCatalogueTest, AFileTablePastTwoOrFourGiBStartsWithoutAReportAndKeepsItsRows) {
  const struct {
    const char* name;
    uint64_t length;  // of the file table, at least
    uint32_t torn;    // bytes of a record cut short at its end
    uint64_t index;   // the length its index is given, sparse; 0: as it is
  } cases[] = {
      {"2 GiB", k2GiB, 0, 0},
      {"2 GiB, its index too", k2GiB + 1, 0, k2GiB + 4096},
      {"4 GiB, its end torn", k4GiB + 300, 200, 0},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    db.reset();
    std::filesystem::remove_all("data");
    std::filesystem::create_directory("data");
    restart();
    const int32_t before = testing_support::AddScannedSupport(*db, "BEFORE", 3);
    ASSERT_GE(before, 1);
    db.reset();
    const uint32_t last = growSparse("data/DBFILES.dbf", t.length, t.torn);
    if (t.index != 0) std::filesystem::resize_file("data/DBFILES.cdx", t.index);

    restart();
    EXPECT_EQ(reports(), "");
    const TStartReport& report = db->StartReport();
    if (t.torn == 0) {
      EXPECT_TRUE(report.empty());
    } else {
      ASSERT_EQ(report.size(), 1u);
      EXPECT_EQ(report[0].kind, TStartRepair::Kind::kTailCut);
    }
    const int32_t after = testing_support::AddScannedSupport(*db, "AFTER", 2);
    ASSERT_GE(after, 1);
    EXPECT_TRUE(db->FlushAll());
    EXPECT_EQ(reports(), "");

    restart();
    EXPECT_EQ(reports(), "");
    EXPECT_TRUE(db->StartReport().empty());
    EXPECT_EQ(namesOfSupport(*db, before),
              (std::vector<std::string>{"BEFORE0.txt", "BEFORE1.txt", "BEFORE2.txt"}));
    EXPECT_EQ(namesOfSupport(*db, after), (std::vector<std::string>{"AFTER0.txt", "AFTER1.txt"}));
    // The rows beyond the mark, found through the id tag.
    TFileRecord row;
    ASSERT_EQ(db->FindFirstFileOfSupport(after), TFound::kRecord);
    db->ReadCurrentFile(row);
    EXPECT_GT(db->Files().RecordNumber(), static_cast<int32_t>(last));
    const int32_t id = row.id;
    ASSERT_TRUE(db->ReadFileById(id, row));
    EXPECT_EQ(row.name, "AFTER0.txt");
    EXPECT_GE(std::filesystem::file_size("data/DBFILES.dbf"), t.length);
  }
  db.reset();
  std::filesystem::remove_all("data");
}

}  // namespace
