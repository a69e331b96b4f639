// Storing a walked medium in the catalogue when the disk cannot take it.
#include "features/indexing/MediumIndexing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "features/indexing/DirEnumerator.h"
#include "platform/os.h"
#include "tests/features/catalogue_fixture.h"
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

}  // namespace
