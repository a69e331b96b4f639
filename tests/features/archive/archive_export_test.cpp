// Exporting the catalogue or one support: what the archive holds, what the
// dialog is told, and that a failed export leaves the target as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "features/archive/ArchiveExport.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"
#include "tests/support/io_fault_os.h"

using namespace archive;
using testing_support::ArchiveCatalogueTest;
using testing_support::readDiskFile;
using testing_support::writeDiskFile;

namespace {

size_t occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) count++;
  return count;
}

class ExportTest : public ArchiveCatalogueTest {};

TEST_F(ExportTest, WritesTheLiveSupportsWithTheirFilesAndReportsProgress) {
  EXPECT_EQ(ExportArchive(*db, "empty.cex", kWholeCatalogue, {}).status, ExportStatus::kDone);
  EXPECT_EQ(readDiskFile("empty.cex"), "TOTAL_SUPPORT=0\r\nCATALOG_EXPORT=101\r\n");

  const int32_t gone = addSupport("GONE", 1, 2);
  const int32_t photos = addSupport("PHOTOS", 0xDEADBEEF, 25, "two\r\nlines");
  const int32_t blank = addSupport("BLANK", 3, 0);
  db->DeleteSupport(gone);

  std::vector<std::string> started;
  std::vector<int32_t> progress;
  int pumps = 0;
  ExportCallbacks callbacks;
  callbacks.supportStarted = [&](const TSupportRecord& s, int32_t index, int32_t count) {
    started.push_back(s.volume + " " + std::to_string(index) + "/" + std::to_string(count));
  };
  callbacks.fileProgress = [&](int32_t files) { progress.push_back(files); };
  callbacks.pump = [&] { pumps++; };
  const ExportResult whole = ExportArchive(*db, "whole.cex", kWholeCatalogue, callbacks);
  EXPECT_EQ(whole.status, ExportStatus::kDone);
  EXPECT_EQ(whole.files, 25);
  EXPECT_EQ(started, (std::vector<std::string>{"PHOTOS 1/2", "BLANK 2/2"}));
  EXPECT_EQ(progress, (std::vector<int32_t>{10, 20}));
  EXPECT_EQ(pumps, 2);
  const std::string archive = readDiskFile("whole.cex");
  EXPECT_TRUE(archive.starts_with("TOTAL_SUPPORT=2\r\nCATALOG_EXPORT=101\r\n@VOLUME=(\r\n"));
  EXPECT_EQ(occurrences(archive, "@VOLUME=(\r\n"), 2u);
  EXPECT_EQ(occurrences(archive, "@FILE=(\r\n"), 25u);
  EXPECT_EQ(occurrences(archive, "F_SUPID=" + std::to_string(photos) + "\r\n"), 25u);
  EXPECT_NE(archive.find("S_VOLSN=3735928559\r\nS_FCOUNT=25\r\n"), std::string::npos);
  EXPECT_NE(archive.find("F_LCOMMENT.LINECOUNT=3\r\nF_LCOMMENT.LINE.0=long\r\n"
                         "F_LCOMMENT.LINE.1=\r\nF_LCOMMENT.LINE.2=comment\r\n)\r\n"),
            std::string::npos);
  EXPECT_TRUE(
      archive.ends_with("S_VOLNAME=BLANK\r\nS_VOLSN=3\r\nS_FCOUNT=0\r\n"
                        "S_USRID=BLANK disc\r\nS_DATEREC=38154.123456\r\n"
                        "S_COMMENT.LINECOUNT=0\r\n)\r\n"));

  // One support without files: its header and volume block.
  EXPECT_EQ(ExportArchive(*db, "blank.cex", blank, {}).status, ExportStatus::kDone);
  const std::string one = readDiskFile("blank.cex");
  EXPECT_TRUE(one.starts_with("TOTAL_SUPPORT=1\r\nCATALOG_EXPORT=101\r\n@VOLUME=(\r\n"));
  EXPECT_EQ(occurrences(one, "@FILE=("), 0u);
  EXPECT_NE(one.find("S_VOLNAME=BLANK\r\n"), std::string::npos);

  // A support that is not there writes nothing at all.
  writeDiskFile("kept.cex", "before");
  EXPECT_EQ(ExportArchive(*db, "kept.cex", gone, {}).status, ExportStatus::kNoSuchSupport);
  EXPECT_EQ(readDiskFile("kept.cex"), "before");
}

TEST_F(ExportTest, AFailedWriteLeavesTheTargetAsItWas) {
  addSupport("PHOTOS", 7, 30);
  struct Case {
    const char* name;
    void (*fault)(testing_support::FakeOs&);
    int error;
  } cases[] = {
      {"no temporary file", [](testing_support::FakeOs& os) { os.openError = EACCES; }, -EACCES},
      {"disk full", [](testing_support::FakeOs& os) { os.diskSpace = 100; }, -ENOSPC},
      {"sync fails", [](testing_support::FakeOs& os) { os.syncError = EIO; }, -EIO},
      {"rename fails", [](testing_support::FakeOs& os) { os.renameErrno = EXDEV; }, -EXDEV},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeDiskFile("target.cex", "before");
    testing_support::FakeOs os;
    platform::ScopedOs scoped(os);
    c.fault(os);
    const ExportResult result = ExportArchive(*db, "target.cex", kWholeCatalogue, {});
    EXPECT_EQ(result.status, ExportStatus::kCannotWrite);
    EXPECT_EQ(result.systemError, c.error);
    EXPECT_EQ(readDiskFile("target.cex"), "before");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator("."))
      left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"data", "target.cex"}));
  }
}

// A read the disk refuses is never taken for the end of the rows: an
// archive that lacked them would be called finished.
TEST_F(ExportTest, ACatalogueTheDiskCannotReadIsNotExported) {
  addSupport("PHOTOS", 7, 30);
  addSupport("MUSIC", 8, 12);
  ASSERT_TRUE(db->FinishChange());
  for (const char* file : {"DBSUPPORT.dbf", "DBFILES.dbf", "DBFILES.cdx"}) {
    SCOPED_TRACE(file);
    writeDiskFile("target.cex", "before");
    testing_support::IoFaultOs os("data");
    platform::ScopedOs scoped(os);
    // Reopened, the tables are read from the disk again.
    db.reset();
    db = std::make_unique<TDBWrapper>(c, "data");
    os.failCalls(testing_support::IoFaultOs::Call::kRead, file, true);
    EXPECT_EQ(ExportArchive(*db, "target.cex", kWholeCatalogue, {}).status,
              ExportStatus::kCatalogueUnreadable);
    EXPECT_TRUE(os.fired());
    EXPECT_EQ(readDiskFile("target.cex"), "before");
    EXPECT_FALSE(std::filesystem::exists("target.cex.1.tmp"));
  }
}

// A kill leaves the temporary file behind; the next export to that target
// removes it, and keeps every file an export cannot prove it left there: a
// user's own files under such names (even a whole archive), a live export's,
// a FIFO, a folder.
TEST_F(ExportTest, TheNextExportRemovesOnlyTheTemporaryFileOfAKilledOne) {
  addSupport("PHOTOS", 7, 30);
  ASSERT_EQ(ExportArchive(*db, "copy.cex", kWholeCatalogue, {}).status, ExportStatus::kDone);
  const std::string archiveCopy = readDiskFile("copy.cex");
  std::filesystem::remove("copy.cex");
  writeDiskFile("target.cex.tmp", "the user's own notes");
  writeDiskFile("target.cex.7.tmp", archiveCopy);
  ASSERT_EQ(mkfifo("target.cex.3.tmp", 0600), 0);  // opened, it would block
  std::filesystem::create_directory("target.cex.4.tmp");
  writeDiskFile("other.cex.tmp", "another target's");

  ExportCallbacks dying;
  dying.supportStarted = [](const TSupportRecord&, int32_t, int32_t) { raise(SIGKILL); };
  EXPECT_EXIT(ExportArchive(*db, "target.cex", kWholeCatalogue, dying),
              testing::KilledBySignal(SIGKILL), "");
  ASSERT_TRUE(std::filesystem::exists("target.cex.1.tmp"));

  // The next export takes the leftover's name once it is gone; a second
  // export started while the first is writing keeps the first one's file.
  ExportCallbacks nesting;
  ExportStatus inner = ExportStatus::kCannotWrite;
  nesting.supportStarted = [&](const TSupportRecord&, int32_t, int32_t) {
    inner = ExportArchive(*db, "target.cex", kWholeCatalogue, {}).status;
  };
  EXPECT_EQ(ExportArchive(*db, "target.cex", kWholeCatalogue, nesting).status, ExportStatus::kDone);
  EXPECT_EQ(inner, ExportStatus::kDone);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{"data", "other.cex.tmp", "target.cex", "target.cex.3.tmp",
                                      "target.cex.4.tmp", "target.cex.7.tmp", "target.cex.tmp"}));
  EXPECT_EQ(readDiskFile("target.cex.tmp"), "the user's own notes");
  EXPECT_EQ(readDiskFile("target.cex.7.tmp"), archiveCopy);
  EXPECT_EQ(readDiskFile("target.cex"), archiveCopy);
}

// The archive never replaces one of the catalogue's own files, by
// whatever path it is named.
TEST_F(ExportTest, NothingIsWrittenIntoTheCataloguesFolder) {
  addSupport("PHOTOS", 7, 30);
  ASSERT_TRUE(db->FlushAll());
  const std::string table = readDiskFile("data/DBFILES.dbf");
  std::filesystem::create_directory("elsewhere");
  for (const char* path : {"data/DBFILES.dbf", "elsewhere/../data/new.cex"}) {
    SCOPED_TRACE(path);
    const ExportResult result = ExportArchive(*db, path, kWholeCatalogue, {});
    EXPECT_EQ(result.status, ExportStatus::kCannotWrite);
  }
  EXPECT_EQ(readDiskFile("data/DBFILES.dbf"), table);
  EXPECT_FALSE(std::filesystem::exists("data/new.cex"));
  EXPECT_EQ(ExportArchive(*db, "elsewhere/fine.cex", kWholeCatalogue, {}).status,
            ExportStatus::kDone);
}

}  // namespace
