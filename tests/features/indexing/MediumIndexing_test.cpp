// Storing a walked medium in the catalogue when the disk cannot take it.
#include "features/indexing/MediumIndexing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "features/indexing/DirEnumerator.h"
#include "platform/os.h"
#include "tests/features/catalogue_fixture.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"

namespace {

using testing_support::FeatureCatalogueTest;

// The disk fills while a medium is stored: the catalogue's final write
// reports it once for each table it could not write, not once for every
// block it holds, and keeps the rows for a later write.
TEST_F(FeatureCatalogueTest, ADiskFullWhileAMediumIsStoredIsReportedOnceATable) {
  std::filesystem::create_directory("medium");
  for (int i = 0; i < 400; i++) std::ofstream("medium/file" + std::to_string(i) + ".txt") << i;
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate("medium"), 400);
  TInsertionResult result;
  {
    testing_support::FakeOs os;
    platform::ScopedOs scoped(os);
    os.diskSpace = 16 * 1024;  // the support's start, and little more
    result = InsertScan(*db, walk, TVolumeInfo(), "", "", nullptr);
  }
  ASSERT_GE(result.supportId, 1);
  EXPECT_EQ(result.stored + result.failed, 400);
  EXPECT_FALSE(result.written);
  EXPECT_LE(recorder.errors().size(), 2u);  // DBFILES, DBSUPPORT
  recorder.clear();
  ASSERT_TRUE(db->FlushAll());
  int32_t rows = 0;
  for (bool more = db->SeekFirstFileOfSupport(result.supportId); more; more = db->Skip(1)) rows++;
  EXPECT_EQ(rows, result.stored);
}

// One bit of DBFILES.cdx damaged (the tag of tags' option): the catalogue
// says so once as it opens, makes the index anew, and a medium indexed then
// is stored with every entry, which another tool finds in the index.
TEST_F(FeatureCatalogueTest, AMediumIsStoredWholeAfterADamagedIndexIsRebuilt) {
  db.reset();
  std::string index;
  for (const auto& entry : std::filesystem::directory_iterator("data"))
    if (entry.path().filename().string() == "DBFILES.cdx") index = entry.path().string();
  ASSERT_FALSE(index.empty());
  std::string bytes = testing_support::readDiskFile(index);
  ASSERT_EQ(bytes[14], '\xE0');
  bytes[14] = 0x60;
  testing_support::writeDiskFile(index, bytes);
  recorder.clear();
  db = std::make_unique<TDBWrapper>(c, "data");
  ASSERT_EQ(recorder.errors().size(), 1u);
  EXPECT_EQ(recorder.errors()[0].code, -310);
  EXPECT_NE(recorder.errors()[0].text1.find("DBFILES"), std::string::npos);

  std::filesystem::create_directory("medium");
  for (int i = 0; i < 30; i++) std::ofstream("medium/file" + std::to_string(i) + ".txt") << i;
  DirEnumerator walk;
  ASSERT_EQ(walk.Enumerate("medium"), 30);
  const TInsertionResult result = InsertScan(*db, walk, TVolumeInfo(), "", "", nullptr);
  EXPECT_EQ(result.supportId, 1);
  EXPECT_EQ(result.stored, 30);
  EXPECT_EQ(result.failed, 0);
  EXPECT_TRUE(result.written);
  EXPECT_EQ(recorder.errors().size(), 1u);
  db.reset();
  int status = 0;
  const std::string keys = testing_support::runCommand(
      "/usr/bin/index_dump --type num " + index + " T_F_SUPPID", &status);
  EXPECT_EQ(status, 0) << keys;
  EXPECT_EQ(std::count(keys.begin(), keys.end(), '\n'), 30) << keys;
}

}  // namespace
