// Importing archives into the catalogue: the round trip, the duplicate
// policies, the header checks, damaged archives, and every way an import
// ends.
#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>
#include <vector>

#include "features/archive/ArchiveExport.h"
#include "features/archive/ArchiveFormat.h"
#include "features/archive/ArchiveImport.h"
#include "tests/features/archive/archive_fixture.h"
#include "tests/support/disk_file.h"
#include "tests/support/fake_os.h"

using namespace archive;
using testing_support::crlf;
using testing_support::fileBlock;
using testing_support::header;
using testing_support::readDiskFile;
using testing_support::volumeBlock;
using testing_support::writeDiskFile;

namespace {

std::vector<int32_t> counts(const ImportResult& r) {
  const ImportCounts& c = r.counts;
  return {c.supportsRead,   c.supportsAdded, c.supportsPassed,
          c.fileBlocksRead, c.filesAdded,    c.filesPassed};
}

class ImportTest : public testing_support::ArchiveCatalogueTest {
 protected:
  ImportResult import(const std::string& archive, ImportCallbacks callbacks = {}) {
    writeDiskFile("in.cex", archive);
    return ImportArchive(*db, "in.cex", callbacks);
  }
  // "name size count" of every live support, in record order.
  std::vector<std::string> supportSummary() {
    std::vector<std::string> lines;
    for (const TSupportRecord& s : supports())
      lines.push_back(s.volume + " " + std::to_string(s.size) + " " + std::to_string(s.fileCount));
    return lines;
  }
};

TEST_F(ImportTest, AnExportedCatalogueComesBackWhole) {
  addSupport("PHOTOS", 0xDEADBEEF, 25, "first\r\n\r\nthird");
  addSupport("BLANK", 3, 0);
  addSupport("MUSIC", 0x7FFFFFFF, 12);
  ASSERT_EQ(ExportArchive(*db, "before.cex", kWholeCatalogue, {}).status, ExportStatus::kDone);
  db->EmptyBase();

  const ImportResult result = ImportArchive(*db, "before.cex", {});
  EXPECT_EQ(result.status, ImportStatus::kFinished);
  EXPECT_EQ(counts(result), (std::vector<int32_t>{3, 3, 0, 37, 37, 0}));
  EXPECT_EQ(db->GetSupportCount(), 3);
  ASSERT_EQ(ExportArchive(*db, "after.cex", kWholeCatalogue, {}).status, ExportStatus::kDone);

  const std::regex ids("(S_ID|F_ID|F_SUPID)=[0-9]+");
  const std::string before = std::regex_replace(readDiskFile("before.cex"), ids, "$1=#");
  const std::string after = std::regex_replace(readDiskFile("after.cex"), ids, "$1=#");
  EXPECT_EQ(after, before);
  EXPECT_NE(readDiskFile("after.cex"), readDiskFile("before.cex"));  // new ids were drawn
}

TEST_F(ImportTest, DuplicateSerialsFollowTheChosenPolicy) {
  // The archive: serials 1, 2, 1, 1; the catalogue already holds serial 1.
  const std::string archive = header(4) + volumeBlock("A", 1, 1) + fileBlock("a") +
                              volumeBlock("B", 2) + volumeBlock("C", 1) + volumeBlock("D", 1);
  struct Case {
    const char* name;
    std::vector<DuplicateAnswer> answers;
    size_t asked;
    std::vector<std::string> added;
  } cases[] = {
      {"import again, don't ask again", {{true, true}}, 1, {"A", "B", "C", "D"}},
      {"pass over, don't ask again", {{false, true}}, 1, {"B"}},
      {"the close box, then import, then pass",
       {{false, false}, {true, false}, {false, false}},
       3,
       {"B", "C"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db->EmptyBase();
    addSupport("OLD", 1, 0);
    std::vector<std::string> asked;
    ImportCallbacks callbacks;
    callbacks.askDuplicate = [&](const TSupportRecord& s) {
      asked.push_back(s.volume);
      return c.answers[asked.size() - 1];
    };
    const ImportResult result = import(archive, callbacks);
    EXPECT_EQ(asked.size(), c.asked);
    std::vector<std::string> added;
    for (const TSupportRecord& s : supports())
      if (s.volume != "OLD") added.push_back(s.volume);
    EXPECT_EQ(added, c.added);
    EXPECT_EQ(result.counts.supportsAdded + result.counts.supportsPassed, 4);
  }

  // Two supports of one serial in one archive: the second is a duplicate.
  db->EmptyBase();
  std::vector<std::string> asked;
  ImportCallbacks callbacks;
  callbacks.askDuplicate = [&](const TSupportRecord& s) {
    asked.push_back(s.volume);
    return DuplicateAnswer{};
  };
  import(header(2) + volumeBlock("X", 5) + volumeBlock("Y", 5), callbacks);
  EXPECT_EQ(asked, std::vector<std::string>{"Y"});
  // X, followed by no file block, keeps the size and count of its block.
  EXPECT_EQ(supportSummary(), std::vector<std::string>{"X 999 0"});
}

TEST_F(ImportTest, FormatNumbersOutsideOneTo101AreRefused) {
  struct Case {
    std::string header;
    ImportStatus status;
    int32_t format;
  } cases[] = {
      {header(1, 0), ImportStatus::kBadFormat, 0},
      {header(1, 102), ImportStatus::kBadFormat, 102},
      {"TOTAL_SUPPORT=1\r\n", ImportStatus::kBadFormat, 0},
      {header(1, -3), ImportStatus::kFinished, -3},
      {header(1, 1), ImportStatus::kFinished, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    db->EmptyBase();
    std::vector<int32_t> traced;
    ImportCallbacks callbacks;
    callbacks.formatRead = [&](int32_t format) { traced.push_back(format); };
    const ImportResult result = import(c.header + volumeBlock("A", 1), callbacks);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(traced, std::vector<int32_t>{c.format});
    EXPECT_EQ(db->GetSupportCount(), c.status == ImportStatus::kFinished ? 1 : 0);
  }
}

TEST_F(ImportTest, ADamagedArchiveImportsWhatIsSoundAndCountsTheRest) {
  // A block one key short with no comment line to complete it.
  const std::string shortFile =
      crlf({"@FILE=(", "F_ID=1", "F_NAME=short", "F_EXT=", "F_PATH=\\", "F_SUPID=1",
            "F_COMMENT=", "F_CATEGORY=-1", "F_CRC=", "F_MD5=", "F_DATE=1", "F_SIZE=5", ")"});
  const std::string shortVolume = crlf({"@VOLUME=(", "S_ID=2", "S_TYPE=FD", ")"});
  const std::string archive =
      header(3) + fileBlock("orphan") +                                      // before any volume
      volumeBlock("A", 1, -5) + fileBlock("a1", 100) + shortFile + "\r\n" +  // damaged file
      fileBlock("a2", 200) + fileBlock("linked", 7, "@12:\\sub\\") +         // compact path
      "stray text\r\n" + shortVolume + "\r\n" + fileBlock("b1") +            // damaged volume
      volumeBlock("C", 3, 2) + fileBlock("c1", 1000) +
      crlf({"@FILE=(", "F_ID=1", "F_NAME=c2", "F_EXT=", "F_PATH=\\", "F_SUPID=1",
            "F_COMMENT=", "F_CATEGORY=-1", "F_CRC=", "F_MD5=", "F_DATE=1", "F_SIZE=4000000000",
            "F_ATTR=32", "F_LCOMMENT.LINECOUNT=2000000000", "F_LCOMMENT.LINE.0=cut short"});

  std::vector<int32_t> maxima;
  std::vector<std::string> finished;
  ImportCallbacks callbacks;
  callbacks.supportStarted = [&](const TSupportRecord&, bool, int32_t, int32_t maximum) {
    maxima.push_back(maximum);
  };
  callbacks.supportFinished = [&](int32_t blocks, bool imported) {
    finished.push_back(std::to_string(blocks) + (imported ? " added" : " passed"));
  };
  const ImportResult result = import(archive, callbacks);
  EXPECT_EQ(result.status, ImportStatus::kFinished);
  // Supports: A and C added, the damaged one passed. File blocks: orphan,
  // a1, short, a2, linked, b1, c1, c2; added a1, a2, c1, c2.
  EXPECT_EQ(counts(result), (std::vector<int32_t>{3, 2, 1, 8, 4, 4}));
  EXPECT_EQ(result.damagedBlocks, 3);
  EXPECT_EQ(maxima, (std::vector<int32_t>{0, 0, 2}));
  EXPECT_EQ(finished, (std::vector<std::string>{"4 added", "1 passed", "2 added"}));
  EXPECT_EQ(supportSummary(), (std::vector<std::string>{"A 300 2", "C 4000001000 2"}));
  ASSERT_EQ(db->FindFirstFileOfSupport(supports()[1].id), TFound::kRecord);
  TFileRecord c1;
  db->ReadCurrentFile(c1);
  ASSERT_EQ(db->NextFile(), TFound::kRecord);
  TFileRecord c2;
  db->ReadCurrentFile(c2);
  EXPECT_EQ(c2.text, "cut short");
}

TEST_F(ImportTest, ADamagedBlockNeverSwallowsTheNextSupport) {
  // Cut short before their comment, or with a count beyond their lines: each
  // is followed at once by the next support's opening line.
  const std::string cutFile = crlf({"@FILE=(", "F_ID=1", "F_NAME=cut"});
  const std::string cutVolume = crlf({"@VOLUME=(", "S_ID=2", "S_TYPE=FD"});
  const std::string overcounted =
      crlf({"@FILE=(", "F_ID=1", "F_NAME=over", "F_EXT=", "F_PATH=\\", "F_SUPID=1",
            "F_COMMENT=", "F_CATEGORY=-1", "F_CRC=", "F_MD5=", "F_DATE=1", "F_SIZE=7", "F_ATTR=32",
            "F_LCOMMENT.LINECOUNT=50", "F_LCOMMENT.LINE.0=kept"});
  const ImportResult result =
      import(header(4) + volumeBlock("A", 1) + fileBlock("a1") + cutFile + volumeBlock("B", 2) +
             fileBlock("b1") + fileBlock("b2") + cutVolume + volumeBlock("C", 3) + fileBlock("c1") +
             overcounted + volumeBlock("D", 4) + fileBlock("d1"));
  EXPECT_EQ(result.status, ImportStatus::kFinished);
  EXPECT_EQ(result.damagedBlocks, 2);
  EXPECT_EQ(supportSummary(), (std::vector<std::string>{"A 10 1", "B 20 2", "C 17 2", "D 10 1"}));
}

// A number too wide for its column would be stored as asterisks and read
// back as 0: its block is damage, passed over and counted.
TEST_F(ImportTest, AValueTooWideForItsColumnSkipsItsBlockAsDamaged) {
  const auto widened = [](std::string block, const std::string& line, const std::string& wide) {
    const size_t at = block.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    return block.replace(at, line.size(), wide);
  };
  const std::string wideSize =
      widened(fileBlock("wideSize"), "F_SIZE=10\r\n", "F_SIZE=99999999999999999999\r\n");
  const std::string wideDate =
      widened(fileBlock("wideDate"), "F_DATE=38154.250000\r\n", "F_DATE=99999999999999999999\r\n");
  const std::string wideVolume =
      widened(volumeBlock("B", 2, 1), "S_SIZE=999\r\n", "S_SIZE=99999999999999999999\r\n");
  const ImportResult result = import(header(3) + volumeBlock("A", 1, 2) + fileBlock("a1") +
                                     wideSize + wideDate + fileBlock("a2") + wideVolume +
                                     fileBlock("b1") + volumeBlock("C", 3) + fileBlock("c1"));
  EXPECT_EQ(result.status, ImportStatus::kFinished);
  EXPECT_EQ(result.damagedBlocks, 3);
  EXPECT_EQ(counts(result), (std::vector<int32_t>{3, 2, 1, 6, 3, 3}));
  EXPECT_EQ(supportSummary(), (std::vector<std::string>{"A 20 2", "C 10 1"}));
  ASSERT_TRUE(db->FlushAll());

  int status = 0;
  const std::string stars = testing_support::runCommand(
      "/usr/bin/python3 -c \"import dbfread\n"
      "for t in ['DBSUPPORT', 'DBFILES', 'DBID']:\n"
      "    for r in dbfread.DBF('data/' + t + '.dbf', raw=True):\n"
      "        print(t, len(list(r.values())), b'*' in b''.join(r.values()))\"",
      &status);
  ASSERT_EQ(status, 0) << stars;
  EXPECT_EQ(stars,
            "DBSUPPORT 9 False\nDBSUPPORT 9 False\n"
            "DBFILES 13 False\nDBFILES 13 False\nDBFILES 13 False\n"
            "DBID 2 False\nDBID 2 False\n");
}

TEST_F(ImportTest, ADamagedLineIsNamedAsATextEditorNumbersIt) {
  const std::string tooLong = std::string(kMaxLineBytes + 1, 'x') + "\r\n";
  struct Case {
    std::string before;
    int64_t line;
  } cases[] = {
      {header(1) + "@VOLUME=(\r\n", 4},
      {"TOTAL_SUPPORT=1\nCATALOG_EXPORT=101\n\n@VOLUME=(\n", 5},  // a blank line is a line
      {"TOTAL_SUPPORT=1\rCATALOG_EXPORT=101\r@VOLUME=(\r", 4},
      {header(1) + volumeBlock("A", 1), 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ImportResult result = import(c.before + tooLong + fileBlock("after"));
    EXPECT_EQ(result.status, ImportStatus::kLineTooLong);
    EXPECT_EQ(result.line, c.line);
  }
}

TEST_F(ImportTest, EveryWayAnImportEnds) {
  const std::string twoSupports =
      header(2) + volumeBlock("A", 1, 3) + fileBlock("a1", 100) + volumeBlock("B", 2);
  // Stopped right after the first file block: A keeps the file added.
  int lines = 0;
  ImportCallbacks stopping;
  stopping.stopRequested = [&] { return ++lines > 4; };
  ImportResult result = import(twoSupports, stopping);
  EXPECT_EQ(result.status, ImportStatus::kStopped);
  EXPECT_EQ(counts(result), (std::vector<int32_t>{1, 1, 0, 1, 1, 0}));
  EXPECT_EQ(supportSummary(), std::vector<std::string>{"A 100 1"});

  EXPECT_EQ(ImportArchive(*db, "", {}).status, ImportStatus::kNotFound);
  EXPECT_EQ(ImportArchive(*db, "missing.cex", {}).status, ImportStatus::kNotFound);
  result = ImportArchive(*db, "data", {});  // a folder: it opens, but cannot be read
  EXPECT_EQ(result.status, ImportStatus::kReadFailed);
  EXPECT_EQ(result.systemError, -EISDIR);
  {
    testing_support::FakeOs os;
    platform::ScopedOs scoped(os);
    os.openError = EACCES;
    result = ImportArchive(*db, "in.cex", {});
    EXPECT_EQ(result.status, ImportStatus::kCannotOpen);
    EXPECT_EQ(result.systemError, -EACCES);
  }

  // A catalogue that refuses records ends the import at the first refusal,
  // which is told.
  db->EmptyBase();
  testing_support::RefusalRecorder refused;
  {
    testing_support::FakeOs os;
    platform::ScopedOs scoped(os);
    os.diskSpace = 0;
    result = import(twoSupports);
  }
  EXPECT_EQ(result.status, ImportStatus::kWriteFailed);
  EXPECT_EQ(result.counts.supportsAdded + result.counts.filesAdded, 0);
  EXPECT_FALSE(recorder.errors().empty() && refused.refusals().empty());
}

}  // namespace
