// The catalogue as the program drives it: supports with their files added,
// read back, updated, deleted and emptied.
#include "catalog/Udbwrapper.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/storage/code4.h"
#include "tests/support/disk_file.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"

using testing_support::ErrorRecorder;

namespace {

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
    std::filesystem::create_directory("data");
    open();
  }
  void TearDown() override {
    db.reset();
    code4initUndo(&c);
  }
  void open() {
    db = std::make_unique<TDBWrapper>(c, "data");
    db->CountSupports();
  }
  void restart() {
    db.reset();
    open();
  }
  int32_t addSupport(const std::string& name, uint32_t serial, int64_t size = 1000) {
    TVolumeInfo volume;
    volume.volumeName = name;
    volume.serialNumber = serial;
    volume.cdRom = true;
    return db->AddScannedSupport(name + " disc", "long " + name, size, 2, volume);
  }
  int32_t addFile(int32_t support, const std::string& name, const std::string& dir,
                  TFileEntry* parent = nullptr, int64_t size = 10) {
    entries.push_back(std::make_unique<TFileEntry>());
    TFileEntry& e = *entries.back();
    e.name = name;
    e.extension = name.find('.') != std::string::npos ? name.substr(name.find('.')) : "";
    e.directory = dir;
    e.attributes = 32;
    e.size = size;
    e.date = 45000.25;
    return db->AddScannedFile(support, e, parent);
  }

  ErrorRecorder recorder{true};
  CODE4 c;
  std::unique_ptr<TDBWrapper> db;
  std::vector<std::unique_ptr<TFileEntry>> entries;
};

TEST_F(WrapperTest, SupportsAndTheirFilesLiveThroughUpdatesDeletionAndEmptying) {
  const int32_t a = addSupport("ALPHA", 0xA1B2C3D4);
  const int32_t b = addSupport("BETA", 7);
  const int32_t g = addSupport("GAMMA", 0xA1B2C3D4);
  EXPECT_EQ((std::vector<int32_t>{a, b, g}), (std::vector<int32_t>{1, 2, 3}));
  addFile(a, "a1.txt", "\\");
  const int32_t folder = addFile(b, "docs", "\\data\\");
  addFile(b, "b1.txt", "sub\\dir", entries.back().get());
  addFile(g, "g1.txt", "\\");
  db->FlushAll();
  EXPECT_EQ(db->GetSupportCount(), 3);

  TSupportRecord support;
  ASSERT_TRUE(db->GotoSupport(2));
  db->ReadCurrentSupport(support);
  EXPECT_EQ(support.volume, "BETA");
  EXPECT_EQ(support.type, "CD/DVD");
  ASSERT_TRUE(db->ReadSupportById(g, support));
  EXPECT_EQ(support.userId, "GAMMA disc");
  EXPECT_EQ(support.text, "long GAMMA");

  ASSERT_EQ(db->FindFirstFileOfSupport(b), TFound::kRecord);
  TFileRecord file;
  db->ReadCurrentFile(file);
  EXPECT_EQ(file.name, "docs");
  ASSERT_EQ(db->NextFile(), TFound::kRecord);
  db->ReadCurrentFile(file);
  EXPECT_EQ(file.path, "@" + std::to_string(folder) + ":sub\\dir");
  int32_t parent = 0;
  EXPECT_EQ(db->ResolveFilePath(file.path, parent), "\\data\\docs\\sub\\dir");
  EXPECT_EQ(parent, folder);

  EXPECT_TRUE(db->UpdateSupportInfo(a, "renamed", "new comment"));
  EXPECT_TRUE(db->UpdateSupportTotals(a, 5000, 9));
  std::vector<std::string> lines;
  EXPECT_EQ(db->CountSupportsWithSerial(0xA1B2C3D4, &lines), 2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 28), "00001@0000005000@0000000009@");
  EXPECT_EQ(lines[0].substr(lines[0].rfind('@')), "@ALPHA");

  EXPECT_TRUE(db->DeleteSupport(b));
  EXPECT_EQ(db->GetSupportCount(), 2);
  ASSERT_EQ(db->FindFirstFileOfSupport(g), TFound::kRecord);  // the others' files are intact
  db->ReadCurrentFile(file);
  EXPECT_EQ(file.name, "g1.txt");
  ASSERT_TRUE(db->GotoSupport(2));
  db->ReadCurrentSupport(support);
  EXPECT_EQ(support.volume, "GAMMA");  // the deleted row is passed over
  EXPECT_EQ(db->CurrentSupportRecord(), 3);
  EXPECT_TRUE(db->DeleteSupport(99));
  EXPECT_EQ(db->GetSupportCount(), 2);
  // The deleted support's serial is gone; the serial above 2^31 comes back whole.
  std::unordered_map<uint32_t, int32_t> serials;
  EXPECT_TRUE(db->CountSupportsBySerial(serials));
  EXPECT_EQ(serials, (std::unordered_map<uint32_t, int32_t>{{0xA1B2C3D4u, 2}}));

  restart();
  EXPECT_EQ(db->GetSupportCount(), 2);
  ASSERT_TRUE(db->ReadSupportById(a, support));
  EXPECT_EQ(support.userId, "renamed");
  EXPECT_EQ(support.size, 5000);

  EXPECT_TRUE(db->EmptyBase());
  EXPECT_EQ(db->GetSupportCount(), 0);
  EXPECT_EQ(addSupport("DELTA", 1), 4);  // ids go on after emptying
}

TEST_F(WrapperTest, LargeSizesKeepEveryByte) {
  const int64_t dvd = 4700000000LL;
  const int32_t s = addSupport("BIG", 1, dvd);
  const int32_t f = addFile(s, "movie.iso", "\\", nullptr, 3000000000LL);
  restart();
  TSupportRecord support;
  ASSERT_TRUE(db->ReadSupportById(s, support));
  EXPECT_EQ(support.size, dvd);
  TFileRecord file;
  ASSERT_TRUE(db->ReadFileById(f, file));
  EXPECT_EQ(file.size, 3000000000LL);
}

TEST_F(WrapperTest, SupportTotalsCountDeletedSupportsApartAndSumPast32Bits) {
  EXPECT_EQ(db->SumSupports().supports, 0);
  const int32_t a = addSupport("A", 1, 4'700'000'000LL);
  const int32_t b = addSupport("B", 2, 3'000'000'000LL);
  addSupport("C", 3, 5);
  db->UpdateSupportTotals(a, 4'700'000'000LL, 40);
  db->DeleteSupport(b);
  const TSupportTotals totals = db->SumSupports();
  EXPECT_EQ(totals.supports, 2);
  EXPECT_EQ(totals.deleted, 1);
  EXPECT_EQ(totals.files, 42);  // the deleted support's count is left out
  EXPECT_EQ(totals.bytes, 4'700'000'005LL);
}

TEST(WrapperNamesTest, SerialsAndSupportKinds) {
  EXPECT_EQ(TDBWrapper::FormatVolumeSerial(0xA1B2C3D4), "A1B2-C3D4");
  EXPECT_EQ(TDBWrapper::FormatVolumeSerial(0x80000000), "8000-0000");
  TVolumeInfo volume;
  EXPECT_EQ(TDBWrapper::SupportTypeName(volume), "--");
  volume.fixed = true;
  EXPECT_EQ(TDBWrapper::SupportTypeName(volume), "HDD");
  volume.removable = true;
  EXPECT_EQ(TDBWrapper::SupportTypeName(volume), "FD");
}

TEST_F(WrapperTest, PathsNamingNoStoredParentStayAsTheyAre) {
  int32_t parent = 0;
  EXPECT_EQ(db->ResolveFilePath("\\plain\\", parent), "\\plain\\");
  EXPECT_EQ(parent, -1);
  EXPECT_EQ(db->ResolveFilePath("C:\\x", parent), "C:\\x");  // "C" reads as no id
  EXPECT_EQ(parent, -1);
  for (const char* unknown : {"@-1:sub\\dir", "@0:sub\\dir", "@77:sub\\dir"}) {
    EXPECT_EQ(db->ResolveFilePath(unknown, parent), unknown);
    EXPECT_EQ(parent, -1);
  }
  // A file whose parent was never stored keeps its full path.
  const int32_t s = addSupport("ALPHA", 1);
  TFileEntry unstored;
  const int32_t f = addFile(s, "a.txt", "\\docs\\", &unstored);
  TFileRecord file;
  ASSERT_TRUE(db->ReadFileById(f, file));
  EXPECT_EQ(file.path, "\\docs\\");
}

// The test programs adopt the environment's locale, as the program does;
// listed numbers stay as the catalogue writes them under any of them.
TEST_F(WrapperTest, SerialListsIgnoreTheLocale) {
  const char* wanted = std::getenv("LC_ALL");
  if (wanted != nullptr && *wanted != '\0') {
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), wanted);
  }
  TSupportRecord record;
  record.size = 1000;
  record.volume = "ALPHA";
  record.volumeSerial = 7;
  record.fileCount = 2;
  record.dateRecorded = 45000.25;
  ASSERT_EQ(db->AddSupportRecord(record), 1);
  std::vector<std::string> lines;
  ASSERT_EQ(db->CountSupportsWithSerial(7, &lines), 1);
  EXPECT_EQ(lines[0], "00001@0000001000@0000000002@45000.250000@ALPHA");
}

TEST_F(WrapperTest, DeletedSupportsAreFoundByNothing) {
  const int32_t a = addSupport("ALPHA", 1);
  const int32_t b = addSupport("BETA", 2);
  addFile(a, "a.txt", "\\");
  ASSERT_TRUE(db->DeleteSupport(a));
  for (int pass = 0; pass < 2; pass++) {
    EXPECT_TRUE(db->DeleteSupport(a));  // once more changes nothing
    EXPECT_EQ(db->GetSupportCount(), 1);
    db->CountSupports();
    EXPECT_EQ(db->GetSupportCount(), 1);
    EXPECT_FALSE(db->SeekSupport(a));
    EXPECT_FALSE(db->UpdateSupportInfo(a, "edited", "edited"));
    EXPECT_FALSE(db->UpdateSupportTotals(a, 1, 1));
    TSupportRecord support;
    EXPECT_FALSE(db->ReadSupportById(a, support));
    ASSERT_TRUE(db->ReadSupportById(b, support));
    EXPECT_EQ(support.volume, "BETA");
    restart();
  }
}

// A support read while the disk is full, then a flush: what the last store
// left held cannot reach the disk, and the error is shown. Once the disk
// has room the catalogue stores again, and keeps every support.
TEST_F(WrapperTest, AFullDiskMetWhileReadingDoesNotStopLaterStores) {
  ASSERT_EQ(addSupport("ALPHA", 1), 1);
  {
    testing_support::FakeOs os;
    platform::ScopedOs scoped(os);
    os.diskSpace = 0;
    TSupportRecord support;
    EXPECT_TRUE(db->ReadSupportById(1, support));
    EXPECT_FALSE(db->FlushAll());
    EXPECT_FALSE(recorder.errors().empty());
  }
  recorder.clear();
  EXPECT_EQ(addSupport("BETA", 2), 2);
  EXPECT_TRUE(recorder.errors().empty());
  restart();
  EXPECT_EQ(db->GetSupportCount(), 2);
}

TEST_F(WrapperTest, AFailedEmptyingIsReportedAndKeepsEveryFileWithItsSupport) {
  const int32_t s = addSupport("ALPHA", 1);
  addFile(s, "a.txt", "\\");
  auto expectIntact = [&] {
    EXPECT_EQ(db->GetSupportCount(), 1);
    ASSERT_EQ(db->FindFirstFileOfSupport(s), TFound::kRecord);
    TFileRecord file;
    db->ReadCurrentFile(file);
    EXPECT_EQ(file.name, "a.txt");
  };
  {
    testing_support::FakeOs os;
    platform::ScopedOs scoped(os);
    os.diskSpace = 0;
    EXPECT_FALSE(db->EmptyBase());
    EXPECT_EQ(db->GetSupportCount(), 1);
  }
  restart();
  expectIntact();
  // DBFILES could not be opened at the start: the emptying is refused in
  // words, not left to the engine, which would refuse it without a word.
  db.reset();
  const std::string files = testing_support::readDiskFile("data/DBFILES.dbf");
  testing_support::writeDiskFile("data/DBFILES.dbf", "damaged");
  open();
  recorder.clear();
  testing_support::RefusalRecorder refusals;
  EXPECT_FALSE(db->EmptyBase());
  EXPECT_TRUE(recorder.errors().empty());
  ASSERT_EQ(refusals.refusals().size(), 1u);
  EXPECT_EQ(refusals.refusals()[0].why, TChangeRefusal::Why::kTablesUnopened);
  EXPECT_EQ(db->GetSupportCount(), 1);
  db.reset();
  testing_support::writeDiskFile("data/DBFILES.dbf", files);
  open();
  expectIntact();
}

}  // namespace
