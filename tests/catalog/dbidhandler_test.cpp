// Id counters: ids start at 1, rise by one, survive restarts and the
// emptying of the catalogue, and are never handed out twice: not after a
// crash that lost the counter's last write, not from a damaged counter tag.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <string>

#include "catalog/Dbschema.h"
#include "tests/catalog/catalog_fixture.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"

using namespace testing_support;

namespace {

using IdTest = CatalogTest;

// DBID's rows as "name=value;" in record order, read by python3-dbfread.
std::string counterRows(const std::string& table) {
  int status = 0;
  const std::string out = runCommand(
      "/usr/bin/python3 -c \"import dbfread\n"
      "print(''.join('%s=%d;' % (r['TBLNAME'], r['IDINC']) for r in dbfread.DBF('" +
          table + "')), end='')\"",
      &status);
  EXPECT_EQ(status, 0) << out;
  return out;
}

TEST_F(IdTest, IdsStartAtOneAndContinueAfterRestartAndZap) {
  catalogue->open();
  EXPECT_EQ(catalogue->addSupport(), 1);
  EXPECT_EQ(catalogue->addFile(-1), 1);
  EXPECT_EQ(catalogue->addFile(-1), 2);
  catalogue->close();
  EXPECT_EQ(counterRows(file("DBID.dbf")), "DBSUPPORT=1;DBFILES=2;");

  catalogue->open();
  EXPECT_EQ(catalogue->addFile(-1), 3);
  ASSERT_TRUE(catalogue->files.Zap());
  ASSERT_TRUE(catalogue->supports.Zap());
  EXPECT_EQ(catalogue->addFile(-1), 4);
  EXPECT_EQ(catalogue->addSupport(), 2);
  restart();
  EXPECT_EQ(catalogue->addFile(-1), 5);
  catalogue->close();
  EXPECT_EQ(counterRows(file("DBID.dbf")), "DBSUPPORT=2;DBFILES=5;");
}

TEST_F(IdTest, GivenIdsAreStoredAsGivenAndDuplicatesStayOutOfTheTag) {
  catalogue->open();
  EXPECT_EQ(catalogue->addFile(0, "zero"), 0);
  EXPECT_EQ(catalogue->addFile(7, "first"), 7);
  EXPECT_EQ(catalogue->addFile(7, "second"), 7);
  EXPECT_EQ(catalogue->files.RecordCount(), 3);
  catalogue->close();
  EXPECT_EQ(counterRows(file("DBID.dbf")), "");  // nothing drawn
  const CdxReport report = checkCdxFile(file("DBFILES.cdx"), {{"T_F_ID", 0}, {"T_F_SUPPID", 0}});
  ASSERT_TRUE(report.ok()) << report.text();
  ASSERT_NE(report.tag("T_F_ID"), nullptr);
  EXPECT_EQ(report.tag("T_F_ID")->entries.size(), 2u);
  EXPECT_EQ(report.tag("T_F_ID")->entries.back().record, 2u);
  EXPECT_EQ(report.tag("T_F_NAME")->entries.size(), 3u);
  // The largest id present raises the counter at the next open.
  catalogue->open();
  EXPECT_EQ(catalogue->addFile(-1), 8);
}

TEST_F(IdTest, ACrashThatLostTheCounterWriteReissuesNoId) {
  catalogue->open();
  ASSERT_EQ(catalogue->addFile(-1), 1);  // the counter row exists
  catalogue->close();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Catalogue crashing(c, folder);
    crashing.open();
    for (int i = 0; i < 5; i++) crashing.addFile(-1);
    _exit(0);  // no close: the counter row, drawn from in place, is not on disk
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(counterRows(file("DBID.dbf")), "DBFILES=1;");
  catalogue->open();
  EXPECT_EQ(catalogue->files.RecordCount(), 6);
  EXPECT_EQ(catalogue->addFile(-1), 7);
}

TEST_F(IdTest, NoIdIsDrawnWithoutACertainCounter) {
  // No counter table open.
  catalogue->files.Open();
  int32_t id = -1;
  EXPECT_EQ(catalogue->files.AppendFile(id, "a", "", "", 1, "", -1, "", "", 0, 0, 0, ""), -3);
  EXPECT_EQ(catalogue->ids.NextId(kFilesTableName), -1);
  EXPECT_EQ(catalogue->files.RecordCount(), 0);
  catalogue->files.Close();
  {
    TFileDataHandler withoutCounters(c, folder);
    ASSERT_TRUE(withoutCounters.Open());
    EXPECT_EQ(withoutCounters.AppendFile(id, "a", "", "", 1, "", -1, "", "", 0, 0, 0, ""), -3);
    EXPECT_EQ(withoutCounters.RecordCount(), 0);
  }

  // A counter at the 32-bit limit.
  catalogue->open();
  ASSERT_TRUE(catalogue->ids.RaiseCounter(kSupportTableName, std::numeric_limits<int32_t>::max()));
  EXPECT_EQ(catalogue->addSupport(), -3);
  EXPECT_EQ(catalogue->ids.NextId("DBSUP"), 1);  // a prefix is another table
  catalogue->close();
  EXPECT_EQ(counterRows(file("DBID.dbf")), "DBSUPPORT=2147483647;DBSUP=1;");
}

TEST_F(IdTest, ADamagedCounterTagReissuesNoId) {
  catalogue->open();
  ASSERT_EQ(catalogue->addSupport(), 1);
  ASSERT_EQ(catalogue->addFile(-1), 1);
  catalogue->close();
  const CdxReport report = checkCdxFile(file("DBID.cdx"));
  ASSERT_TRUE(report.ok() && report.tag("T_TBLNAME")) << report.text();
  // The tag's root leaf: its attributes and count become nonsense.
  std::string bytes = readDiskFile(file("DBID.cdx"));
  const uint32_t header = report.tag("T_TBLNAME")->headerBlock;
  uint32_t root = 0;
  std::memcpy(&root, bytes.data() + header, 4);
  ASSERT_LT(root + 4u, bytes.size());
  bytes.replace(root, 4, "\x7f\x7f\x7f\x7f");
  writeDiskFile(file("DBID.cdx"), bytes);

  catalogue->open();
  for (int i = 0; i < 3; i++) EXPECT_EQ(catalogue->addFile(-1), -3);
  EXPECT_EQ(catalogue->addSupport(), -3);
  EXPECT_EQ(catalogue->files.RecordCount(), 1);
  ASSERT_FALSE(recorder.errors().empty());
  EXPECT_EQ(recorder.errors().back().code, -310);
  catalogue->close();
  EXPECT_EQ(counterRows(file("DBID.dbf")), "DBSUPPORT=1;DBFILES=1;");  // no second row
}

}  // namespace
