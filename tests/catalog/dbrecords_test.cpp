// Files and supports: every value reads back as appended (64-bit sizes
// exactly), supports are sought and updated by id, a support's files are
// walked in tag order, and other tools read the catalogue we write.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/catalog/catalog_fixture.h"
#include "tests/support/disk_file.h"

using namespace testing_support;

namespace {

using RecordTest = CatalogTest;

struct FileValues {
  int32_t id = 0, support = 0, category = 0, attributes = 0;
  std::string name, ext, path, comment, crc, md5, text;
  double date = 0;
  int64_t size = 0;
};

FileValues readFile(TFileDataHandler& files) {
  FileValues v;
  EXPECT_EQ(files.ReadCurrent(v.id, v.name, v.ext, v.path, v.support, v.comment, v.category, v.crc,
                              v.md5, v.date, v.size, v.attributes, v.text),
            0);
  return v;
}

TEST_F(RecordTest, AFileReadsBackAsAppendedTrimmedAndCut) {
  catalogue->open();
  TFileDataHandler& files = catalogue->files;
  const std::string longName(300, 'n');
  int32_t id = -1;
  ASSERT_EQ(files.AppendFile(id, "  \tR\xE9sum\xE9.doc \r\n", "doc", longName, 3, "note", -1, "c",
                             "0123456789abcdef0123456789abcdef", 45123.4567890123,
                             int64_t{9'876'543'210'123}, 32, " long comment\n"),
            0);
  EXPECT_EQ(id, 1);
  restart();
  ASSERT_TRUE(files.GoTo(1));
  const FileValues v = readFile(files);
  EXPECT_EQ(v.id, 1);
  EXPECT_EQ(v.name, "R\xE9sum\xE9.doc");
  EXPECT_EQ(v.ext, "doc");
  EXPECT_EQ(v.path, std::string(250, 'n'));
  EXPECT_EQ(v.support, 3);
  EXPECT_EQ(v.comment, "note");
  EXPECT_EQ(v.category, -1);
  EXPECT_EQ(v.crc, "c");
  EXPECT_EQ(v.md5, "0123456789abcdef0123456789abcdef");
  EXPECT_NEAR(v.date, 45123.4567890123, 1e-10);
  EXPECT_EQ(v.size, 9'876'543'210'123);  // 13 digits: beyond 32 bits
  EXPECT_EQ(v.attributes, 32);
  EXPECT_EQ(v.text, "long comment");
}

// The engine stars a number too wide for its field; the catalogue never
// stores one: the write is refused and the record stays as it was.
TEST_F(RecordTest, ANumberTooWideForItsFieldIsRefusedAndNothingIsStored) {
  catalogue->open();
  TFileDataHandler& files = catalogue->files;
  TSupportDataHandler& supports = catalogue->supports;
  ASSERT_EQ(catalogue->addSupport(), 1);
  ASSERT_EQ(catalogue->addFile(-1), 1);
  struct FileCase {
    const char* field;
    int32_t support, category, attributes;
    double date;
    int64_t size;
  } fileCases[] = {
      {"F_SIZE", 1, -1, 32, 45000.5, 10'000'000'000'000},
      {"F_SIZE below", 1, -1, 32, 45000.5, -1'000'000'000'000},
      {"F_DATE", 1, -1, 32, 1e10, 10},
      {"F_CATEG", 1, 100'000, 32, 45000.5, 10},
      {"F_SUPPID", INT32_MIN, -1, 32, 45000.5, 10},
      {"F_ATTR", 1, -1, INT32_MIN, 45000.5, 10},
  };
  for (const FileCase& w : fileCases) {
    SCOPED_TRACE(w.field);
    int32_t id = -1;
    EXPECT_EQ(files.AppendFile(id, "wide", "", "/", w.support, "", w.category, "", "", w.date,
                               w.size, w.attributes, "text"),
              -4);
  }
  struct SupportCase {
    const char* field;
    int64_t size;
    int32_t count;
    double date;
    bool updated;  // by UpdateSizeAndCount
  } supportCases[] = {
      {"S_SIZE", 10'000'000'000'000'000, 1, 45000.0, true},
      {"S_FCOUNT", 100, INT32_MIN, 45000.0, true},
      {"S_DATEREC", 100, 1, -1e10, false},
  };
  for (const SupportCase& w : supportCases) {
    SCOPED_TRACE(w.field);
    int32_t id = -1;
    EXPECT_EQ(supports.AppendSupport(id, "HDD", w.size, "wide", 7, w.count, "", w.date, "text"),
              -4);
    if (w.updated) {
      EXPECT_FALSE(supports.UpdateSizeAndCount(1, w.size, w.count));
    }
  }
  // The tables go on: the next rows are stored, the refused ones never are
  // (their ids stay drawn).
  ASSERT_GT(catalogue->addFile(-1, "after.txt"), 0);
  EXPECT_TRUE(supports.UpdateSizeAndCount(1, 5, 2));
  restart();
  EXPECT_EQ(files.RecordCount(), 2);
  EXPECT_EQ(supports.RecordCount(), 1);

  int status = 0;
  const std::string rows = runCommand(
      "/usr/bin/python3 -c \"import dbfread\n"
      "for t in ['DBSUPPORT', 'DBFILES']:\n"
      "    for r in dbfread.DBF('" +
          folder +
          "/' + t + '.dbf', raw=True):\n"
          "        print(t, b'|'.join(v.strip() for v in r.values()).decode())\"",
      &status);
  ASSERT_EQ(status, 0) << rows;
  EXPECT_EQ(rows,
            "DBSUPPORT 1|CD/DVD|5|VOL|1234|2|disc|45000.0000000000|\n"
            "DBFILES 1|a.txt|txt|/|1||-1|||45000.5000000000|10|32|\n"
            "DBFILES 8|after.txt|txt|/|1||-1|||45000.5000000000|10|32|\n");
}

TEST_F(RecordTest, SupportsAreSoughtUpdatedAndHideWhenDeleted) {
  catalogue->open();
  TSupportDataHandler& supports = catalogue->supports;
  constexpr int64_t kHuge = 9'007'199'254'740'993;  // 2^53 + 1: no double holds it
  int32_t id = -1;
  ASSERT_EQ(supports.AppendSupport(id, "HDD", kHuge, " Backup ", -1'234'567'890, 12, "mine",
                                   45000.25, "all of it"),
            0);
  ASSERT_EQ(catalogue->addSupport(), 2);
  EXPECT_FALSE(supports.SeekById(3));
  int64_t block = 0;
  ASSERT_TRUE(supports.StoreLongComment("new text", block));
  EXPECT_FALSE(supports.SetComments(1, 3, "x", block));  // record 1 is support 1's
  EXPECT_TRUE(supports.SetComments(1, 1, "renamed", block));
  EXPECT_TRUE(supports.UpdateSizeAndCount(2, kHuge - 2, 99));
  restart();

  std::string type, volume, user, text;
  int64_t size = 0;
  int32_t serial = 0, count = 0;
  double date = 0;
  ASSERT_TRUE(supports.SeekById(1));
  ASSERT_EQ(supports.ReadCurrent(id, type, size, volume, serial, count, user, date, text), 0);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(type, "HDD");
  EXPECT_EQ(size, kHuge);
  EXPECT_EQ(volume, "Backup");
  EXPECT_EQ(serial, -1'234'567'890);
  EXPECT_EQ(count, 12);
  EXPECT_EQ(user, "renamed");
  EXPECT_EQ(date, 45000.25);
  EXPECT_EQ(text, "new text");
  ASSERT_TRUE(supports.SeekById(2));
  ASSERT_EQ(supports.ReadCurrent(id, type, size, volume, serial, count, user, date, text), 0);
  EXPECT_EQ(size, kHuge - 2);
  EXPECT_EQ(count, 99);
  EXPECT_TRUE(supports.DeleteCurrent());
  id = 0;
  EXPECT_EQ(supports.ReadCurrent(id, type, size, volume, serial, count, user, date, text), -1);
  EXPECT_EQ(id, 0);
}

TEST_F(RecordTest, ASupportsFilesAreWalkedInTagOrder) {
  catalogue->open();
  TFileDataHandler& files = catalogue->files;
  for (int32_t support : {2, 1, 2, 3}) ASSERT_GT(catalogue->addFile(-1, "f", support), 0);
  EXPECT_FALSE(files.SeekBySupport(4));
  ASSERT_TRUE(files.SeekBySupport(2));
  EXPECT_EQ(readFile(files).id, 1);
  EXPECT_TRUE(files.DeleteCurrent());
  ASSERT_TRUE(files.Skip(1));
  EXPECT_EQ(readFile(files).id, 3);
  ASSERT_TRUE(files.Skip(1));
  EXPECT_EQ(readFile(files).support, 3);
  EXPECT_FALSE(files.Skip(1));
  ASSERT_TRUE(files.SeekBySupport(2));
  EXPECT_TRUE(files.IsDeleted());
  EXPECT_EQ(readFile(files).id, 1);  // deleted files read like any other
}

TEST_F(RecordTest, OtherToolsReadTheCatalogue) {
  catalogue->open();
  ASSERT_EQ(catalogue->addSupport(), 1);
  int32_t id = -1;
  ASSERT_EQ(
      catalogue->files.AppendFile(id, "Photos", "", "/", 1, "", -1, "", "", 45000.5, 0, 16, ""), 0);
  const std::string path = "@" + std::to_string(id) + ":";
  id = -1;
  ASSERT_EQ(catalogue->files.AppendFile(id, "beach.jpg", "jpg", path, 1, "", -1, "", "", 45001.75,
                                        5'000'000'000, 32, "sea"),
            0);
  catalogue->close();

  int status = 0;
  const std::string rows = runCommand(
      "/usr/bin/python3 -c \"import dbfread\n"
      "for t in ['DBSUPPORT', 'DBFILES', 'DBID']:\n"
      "    for r in dbfread.DBF('" +
          folder +
          "/' + t + '.dbf'):\n"
          "        print(t, '|'.join('' if v is None else str(v).strip() for v in r.values()))\"",
      &status);
  ASSERT_EQ(status, 0) << rows;
  EXPECT_EQ(rows,
            "DBSUPPORT 1|CD/DVD|100|VOL|1234|1|disc|45000.0|\n"
            "DBFILES 1|Photos||/|1||-1|||45000.5|0|16|\n"
            "DBFILES 2|beach.jpg|jpg|@1:|1||-1|||45001.75|5000000000|32|sea\n"
            "DBID DBSUPPORT|1\n"
            "DBID DBFILES|2\n");

  auto dump = [&](const std::string& type, const std::string& index, const std::string& tag) {
    const std::string out =
        runCommand("/usr/bin/index_dump --type " + type + " " + file(index) + " " + tag, &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  };
  EXPECT_EQ(dump("num", "DBFILES.cdx", "T_F_ID"), "1 1\n2 2\n");
  EXPECT_EQ(dump("num", "DBFILES.cdx", "T_F_SUPPID"), "1 1\n1 2\n");
  EXPECT_EQ(dump("char", "DBFILES.cdx", "T_SUP_PAT"), "    1/ 1\n    1@1: 2\n");
  EXPECT_EQ(dump("char", "DBFILES.cdx", "T_F_NAME"), "BEACH.JPG 2\nPHOTOS 1\n");
  EXPECT_EQ(dump("num", "DBSUPPORT.cdx", "T_S_ID"), "1 1\n");
  EXPECT_EQ(dump("char", "DBID.cdx", "T_TBLNAME"), "DBFILES 2\nDBSUPPORT 1\n");
}

}  // namespace
