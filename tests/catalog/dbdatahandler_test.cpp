// The table handler: declarations become tables with their memo files and
// tags, existing tables (in any letter case) are opened and never replaced
// on a doubtful lookup, and failures are reported by results even though
// the error hook clears the error code.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "catalog/Datafolderlock.h"
#include "catalog/Dbschema.h"
#include "engine/storage/data4.h"
#include "engine/storage/error4.h"
#include "tests/catalog/catalog_fixture.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

// A system whose lookups of one name fail with `error`, or whose folder
// listings fail, as on a damaged disk or a folder without read permission.
class LookupFaultOs : public FakeOs {
 public:
  int pathStatus(const char* path) override {
    if (error != 0 && std::string(path).find(name) != std::string::npos) return -error;
    return FakeOs::pathStatus(path);
  }
  std::vector<std::string> listFolder(const std::string& folder) override {
    if (unlistable) return {};
    return FakeOs::listFolder(folder);
  }
  std::string name = "DBFILES";
  int error = 0;
  bool unlistable = false;
};

using TableHandlerTest = CatalogTest;

TEST(TableDefinitions, TypeCodesAndUniqueModesMapToTheEngine) {
  const std::string letters = "GCNNNLFYGDTTGGNBMGGGGGGCCNG";  // by code, 0 to 26
  for (size_t code = 0; code < letters.size(); code++)
    EXPECT_EQ(FieldTypeToDbfType(static_cast<uint8_t>(code)), letters[code]) << code;
  EXPECT_EQ(FieldTypeToDbfType(200), 'G');
  const int16_t modes[] = {0, 20, 25, -340, 0};
  for (int mode = 0; mode <= 4; mode++) EXPECT_EQ(UniqueModeToEngine(mode), modes[mode]);
  EXPECT_EQ(UniqueModeToEngine(-1), 0);
}

TEST_F(TableHandlerTest, FileNamesJoinWithASlash) {
  TDBDataHandler& files = catalogue->files;
  EXPECT_EQ(files.GetFileName(true, true), folder + "/DBFILES.DBF");
  EXPECT_EQ(files.GetFileName(false, false), "DBFILES");
  files.SetPath("some/where/");
  EXPECT_EQ(files.GetFileName(true, false), "some/where/DBFILES");
  files.SetPath("");
  EXPECT_EQ(files.GetFileName(true, true), "DBFILES.DBF");  // the current folder, not the root
  EXPECT_EQ(TDBDataHandler::MakeTagName("F_SUPPID"), "T_F_SUPPID");
}

TEST_F(TableHandlerTest, AFreshFolderGetsEveryTableWithItsMemoAndTags) {
  EXPECT_FALSE(catalogue->files.TableExists());
  catalogue->open();
  EXPECT_TRUE(catalogue->files.Handle() && catalogue->supports.Handle() && catalogue->ids.Handle());
  catalogue->close();
  EXPECT_EQ(folderNames(),
            (std::vector<std::string>{kDataFolderLockName, "DBFILES.cdx", "DBFILES.dbf",
                                      "DBFILES.fpt", "DBID.cdx", "DBID.dbf", "DBSUPPORT.cdx",
                                      "DBSUPPORT.dbf", "DBSUPPORT.fpt"}));
  const std::pair<const char*, std::vector<std::string>> indexes[] = {
      {"DBFILES.cdx", {"T_F_ID", "T_F_SUPPID", "T_SUP_PAT", "T_F_NAME"}},
      {"DBSUPPORT.cdx", {"T_S_ID"}},
      {"DBID.cdx", {"T_TBLNAME"}},
  };
  for (const auto& [index, tags] : indexes) {
    const CdxReport report =
        checkCdxFile(file(index), {{"T_F_ID", 0}, {"T_F_SUPPID", 0}, {"T_S_ID", 0}});
    EXPECT_TRUE(report.ok()) << index << report.text();
    std::vector<std::string> names;
    for (const CdxTagReport& tag : report.tags) names.push_back(tag.name);
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = tags;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected) << index;
  }
  EXPECT_TRUE(recorder.errors().empty());
}

TEST_F(TableHandlerTest, TablesNamedInUpperCaseAreOpenedNotReplaced) {
  catalogue->open();
  ASSERT_EQ(catalogue->addFile(-1), 1);
  catalogue->close();
  for (const char* ext : {"dbf", "cdx", "fpt"}) {
    std::string upper = ext;
    for (char& ch : upper) ch = static_cast<char>(ch - 'a' + 'A');
    std::filesystem::rename(file(std::string("DBFILES.") + ext), file("DBFILES." + upper));
  }
  EXPECT_TRUE(catalogue->files.TableExists());
  catalogue->open();
  EXPECT_EQ(catalogue->files.RecordCount(), 1);
  EXPECT_EQ(catalogue->addFile(-1), 2);
  catalogue->close();
  EXPECT_FALSE(diskFileExists(file("DBFILES.dbf")));
  EXPECT_FALSE(diskFileExists(file("DBFILES.cdx")));
}

TEST_F(TableHandlerTest, ALookupThatFailsIsNeverTakenForAbsence) {
  catalogue->open();
  ASSERT_EQ(catalogue->addFile(-1), 1);
  catalogue->close();
  const std::string before = readDiskFile(file("DBFILES.dbf"));
  LookupFaultOs os;
  platform::ScopedOs scoped(os);
  for (int error : {EACCES, EIO}) {
    os.error = error;
    EXPECT_FALSE(catalogue->files.TableExists());
    catalogue->files.Open();
    catalogue->files.Close();
    EXPECT_EQ(readDiskFile(file("DBFILES.dbf")), before) << error;
  }
  // A folder that cannot be listed may hold the table in another case.
  os.error = 0;
  os.unlistable = true;
  std::filesystem::rename(file("DBFILES.dbf"), file("DBFILES.DBF"));
  EXPECT_FALSE(catalogue->files.Open());
  EXPECT_FALSE(diskFileExists(file("DBFILES.dbf")));
}

TEST_F(TableHandlerTest, FailedCreatesAndOpensAreReportedAndLeaveNoTable) {
  TDBTagDef bad = kFilesTags[0];
  std::snprintf(bad.expression, sizeof bad.expression, "F_ID +");
  EXPECT_FALSE(catalogue->files.CreateDBTable(kFilesFields, std::span(&bad, 1)));
  EXPECT_EQ(catalogue->files.Handle(), nullptr);
  EXPECT_EQ(c.safety, 1);
  EXPECT_TRUE(folderNames().empty());  // a table without its tags would open at the next start

  catalogue->files.SetPath(folder + "/missing");
  EXPECT_FALSE(catalogue->files.Open());
  EXPECT_EQ(c.safety, 1);

  writeDiskFile(file("DBSUPPORT.dbf"), "not a table at all");
  EXPECT_FALSE(catalogue->supports.Open());
  EXPECT_EQ(catalogue->supports.Handle(), nullptr);
  EXPECT_EQ(readDiskFile(file("DBSUPPORT.dbf")), "not a table at all");
  EXPECT_EQ(error4code(&c), 0);  // cleared by the hook: only the results told
  EXPECT_FALSE(recorder.errors().empty());
}

TEST_F(TableHandlerTest, RecordsAreWalkedCountedAndZapped) {
  catalogue->open();
  TFileDataHandler& files = catalogue->files;
  for (int i = 0; i < 3; i++) ASSERT_GT(catalogue->addFile(-1), 0);
  EXPECT_EQ(files.RecordCount(), 3);
  ASSERT_TRUE(files.GoTo(2));
  EXPECT_TRUE(files.DeleteCurrent());
  EXPECT_TRUE(files.IsDeleted());
  EXPECT_TRUE(files.Skip(1));
  EXPECT_FALSE(files.IsDeleted());
  EXPECT_FALSE(files.Skip(1));  // past the last record
  EXPECT_FALSE(files.GoTo(9));
  EXPECT_TRUE(files.Zap());
  EXPECT_EQ(files.RecordCount(), 0);
  files.Close();
  EXPECT_EQ(files.RecordCount(), -1);
  EXPECT_FALSE(files.GoTo(1));
}

}  // namespace
