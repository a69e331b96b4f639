// Opening and closing tables: header checks, sharing, and tables written by
// other tools.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "engine/storage/info4.h"
#include "platform/os.h"
#include "tests/support/catalogue_schemas.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

void patch(const std::string& name, size_t offset, const std::string& bytes) {
  std::string file = readDiskFile(name);
  file.replace(offset, bytes.size(), bytes);
  writeDiskFile(name, file);
}

std::string le32(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; i++) out[i] = static_cast<char>(value >> (8 * i));
  return out;
}

class OpenTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
  }
  void make(const char* name, const FIELD4INFO* fields) {
    DATA4* d = data4create(&c, name, fields, nullptr);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(data4close(d), 0);
  }
  // Appends whole records of blanks after the header, without touching the count.
  void appendRaw(const std::string& name, int records, uint32_t recordLength) {
    std::string file = readDiskFile(name);
    if (!file.empty() && file.back() == '\x1a') file.pop_back();
    file += std::string(records * recordLength, ' ');
    file += '\x1a';
    writeDiskFile(name, file);
  }
  // Opens and expects a refusal with `code` at `location`.
  void expectRefused(const char* name, int32_t code, int32_t location) {
    const uint32_t filesBefore = c.dataFileList.nLink;
    EXPECT_EQ(data4open(&c, name), nullptr);
    EXPECT_EQ(error4code(&c), code);
    EXPECT_EQ(c.errorLocation.load(), location);
    EXPECT_EQ(c.dataFileList.nLink, filesBefore);
    clearError();
  }
};

TEST_F(OpenTest, HandlesOfOneFileShareItUntilTheLastCloses) {
  make("dbid", kIdFields);
  c.singleOpen = 0;
  c.accessMode = 1;
  DATA4* first = data4open(&c, "dbid");
  DATA4* second = data4open(&c, "DBID.DBF");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->dataFile, second->dataFile);
  EXPECT_EQ(first->dataFile->openCount, 2);
  EXPECT_NE(first->id, second->id);
  EXPECT_STREQ(data4alias(first), "dbid");
  EXPECT_EQ(code4data(&c, "DBID", nullptr, 0), first);
  EXPECT_EQ(data4close(first), 0);
  EXPECT_NE(data4field(second, "TBLNAME"), nullptr);
  EXPECT_EQ(c.dataFileList.nLink, 1u);
  EXPECT_EQ(data4close(second), 0);
  EXPECT_EQ(c.dataFileList.nLink, 0u);
}

TEST_F(OpenTest, TheSingleOpenCheckRefusesASecondHandle) {
  make("dbid", kIdFields);
  DATA4* first = data4open(&c, "dbid");
  ASSERT_NE(first, nullptr);
  symlink("dbid.dbf", "alias.dbf");  // another name of the same file
  expectRefused("alias", e4instance, 90131);
  EXPECT_EQ(first->dataFile->openCount, 1);
  EXPECT_NE(data4field(first, "IDINC"), nullptr);
  EXPECT_EQ(data4close(first), 0);
}

TEST_F(OpenTest, ExclusiveOpensTrustTheFileLengthOverAStaleCount) {
  make("dbid", kIdFields);
  appendRaw("dbid.dbf", 2, 221);  // two records the header does not count

  DATA4* shared = data4open(&c, "dbid");  // shared: another process may be appending
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->dataFile->storedCount, 0u);
  EXPECT_FALSE(shared->dataFile->rebuildIndex);
  data4close(shared);

  c.accessMode = 1;
  DATA4* exclusive = data4open(&c, "dbid");
  ASSERT_NE(exclusive, nullptr);
  EXPECT_TRUE(exclusive->dataFile->rebuildIndex);
  EXPECT_EQ(exclusive->dataFile->header.recordCount, 2u);
  EXPECT_EQ(data4close(exclusive), 0);
  EXPECT_EQ(readDiskFile("dbid.dbf").substr(4, 4), le32(2));  // mended at close
}

// A count the records never reached (a disk that kept the header of a
// write and lost its last records): a reader reads the records there are,
// and the exclusive owner takes the count back to them, once reported.
TEST_F(OpenTest, ACountBeyondTheRecordsIsTakenBackToThem) {
  make("dbid", kIdFields);
  appendRaw("dbid.dbf", 2, 221);
  patch("dbid.dbf", 4, le32(5));
  const std::string before = readDiskFile("dbid.dbf");
  c.accessMode = 1;
  for (const bool readOnly : {true, false}) {
    SCOPED_TRACE(readOnly ? "read only" : "written");
    c.readOnly = readOnly ? 1 : 0;
    recorder.clear();
    DATA4* d = data4open(&c, "dbid");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(data4recCount(d), 2);
    EXPECT_EQ(data4go(d, 2), 0);
    EXPECT_EQ(lastError().location, 80163);
    EXPECT_EQ(error4code(&c), 0);
    EXPECT_EQ(data4close(d), 0);
    EXPECT_EQ(readDiskFile("dbid.dbf").substr(4, 4), le32(readOnly ? 5 : 2));
  }
  EXPECT_EQ(readDiskFile("dbid.dbf").size(), before.size());
}

TEST_F(OpenTest, DamagedHeadersAreRefused) {
  struct Case {
    const char* what;
    size_t offset;
    std::string bytes;
    int32_t code;
    int32_t location;
  } cases[] = {
      {"record length 0", 10, std::string(2, '\0'), e4data, 80139},
      {"header shorter than one descriptor", 8, std::string("\x30\x00", 2), e4data, 80139},
      {"no terminator", 32 + 64, "X", e4data, 80139},
      {"time field below level 30", 32 + 11, "T", e4data, 80006},
      {"unknown type", 32 + 11, "K", e4fieldType, 80006},
      {"memo field without a memo file", 32 + 32 + 11, "M", e4data, 80139},
      {"lengths disagree with the record", 32 + 16, "\x10", e4data, 90131},
      {"header past the end of the file", 8, std::string("\xff\x70", 2), e4data, 80139},
  };
  for (const Case& test : cases) {
    make("bad", kIdFields);
    patch("bad.dbf", test.offset, test.bytes);
    SCOPED_TRACE(test.what);
    expectRefused("bad", test.code, test.location);
  }
}

TEST_F(OpenTest, NullFlagsMustCoverTheNullableFields) {
  c.compatibility = 30;
  const FIELD4INFO fields[] = {{"A", 'C', 5, 0, 190}, {"B", 'C', 5, 0, 190}, {nullptr, 0, 0, 0, 0}};
  make("nulls", fields);
  DATA4* d = data4open(&c, "nulls");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(data4numFields(d), 2);
  EXPECT_EQ(data4field(d, "B")->nullBit, 1);
  EXPECT_EQ(d->nullFlags, &d->fields.back());
  data4close(d);

  // Nine nullable fields cannot have their bits in one flag byte.
  FIELD4INFO nine[10];
  const char* names[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"};
  for (int i = 0; i < 9; i++)
    nine[i] = {names[i], 'L', 1, 0, static_cast<uint16_t>(i < 8 ? 190 : 0)};
  make("nine", nine);
  patch("nine.dbf", 32 + 8 * 32 + 18, "\x02");
  expectRefused("nine", e4data, 80139);
}

TEST_F(OpenTest, FieldsAreFoundByNameWithoutRegardToCase) {
  make("dbid", kIdFields);
  DATA4* d = data4open(&c, "dbid");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(data4field(d, "tblname  "), &d->fields[0]);
  EXPECT_EQ(data4fieldJ(d, 2), &d->fields[1]);
  EXPECT_EQ(data4field(d, "NOPE"), nullptr);
  EXPECT_EQ(lastError().code, e4fieldName);
  EXPECT_EQ(lastError().location, 90299);
  EXPECT_EQ(lastError().text1, "NOPE");
  clearError();
  c.errFieldName = 0;
  recorder.clear();
  EXPECT_EQ(data4field(d, "NOPE"), nullptr);
  EXPECT_TRUE(recorder.errors().empty());
  data4close(d);
}

TEST_F(OpenTest, ClosingWritesAChangedRecordUnlessItsKeyWasRefused) {
  make("dbid", kIdFields);
  appendRaw("dbid.dbf", 1, 221);
  patch("dbid.dbf", 4, le32(1));
  for (int refused = 0; refused < 2; refused++) {
    DATA4* d = data4open(&c, "dbid");
    ASSERT_NE(d, nullptr);
    d->recNum = 1;
    const std::string value = refused ? "REFUSED" : "WRITTEN";
    std::memcpy(field4ptr(data4field(d, "TBLNAME")), value.data(), value.size());
    d->recordChanged = 1;
    if (refused) error4set(&c, e4unique);
    data4close(d);
    clearError();
  }
  EXPECT_EQ(readDiskFile("dbid.dbf").substr(97 + 1, 7), "WRITTEN");
}

// A handle that only read still writes, at its close, the header of the
// table it shares when another handle's append left it due (every handle
// of an exclusively opened table may). When the disk is full the close
// returns its failure, and leaves the settings object as the hook left it:
// a hook that clears once it has shown an error (the program's) finds
// nothing pending, so that the next call proceeds; one that leaves errors
// pending finds the close's failure; a code pending before the close is
// pending again. The table's last close writes the header.
TEST_F(OpenTest, AFailedCloseLeavesPendingNoErrorTheHookCleared) {
  c.accessMode = 1;
  c.singleOpen = 0;
  struct Case {
    const char* hook;
    bool clearing;
    int32_t before;  // pending as the close begins
    int32_t after;   // pending once it ends
  } cases[] = {{"clearing", true, 0, 0},
               {"clearing, a code pending before", true, e4memory, e4memory},
               {"leaving errors pending", false, 0, -1}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.hook);
    ErrorRecorder hook(test.clearing);
    Tag4info tags(c);
    tags.add("T_S_ID", "S_ID", nullptr, 0, 0);
    DATA4* first = data4create(&c, "dbsupport", kSupportFields, tags.tags());
    ASSERT_NE(first, nullptr);
    DATA4* second = data4open(&c, "dbsupport");
    ASSERT_NE(second, nullptr);
    data4appendStart(first, 0);
    field4assignLong(data4field(first, "S_ID"), 7);
    ASSERT_EQ(data4append(first), 0);
    {
      FakeOs full;
      platform::ScopedOs scoped(full);
      full.diskSpace = 0;
      ASSERT_EQ(data4top(second), 0);
      error4set(&c, test.before);
      EXPECT_EQ(data4close(second), test.before < 0 ? test.before : -1);
      EXPECT_EQ(error4code(&c), test.after);
      ASSERT_FALSE(hook.errors().empty());
      for (const RaisedError& e : hook.errors()) EXPECT_EQ(e.code, e4write);
    }
    if (test.after != 0) clearError();
    EXPECT_EQ(data4top(first), 0);
    EXPECT_EQ(data4close(first), 0);
    EXPECT_EQ(readDiskFile("dbsupport.dbf").substr(4, 4), le32(1));
  }
}

// Closing every table reports a close that failed, although the hook has
// cleared its error.
TEST_F(OpenTest, ClosingEveryTableReportsAFailureTheHookCleared) {
  ErrorRecorder hook(/*clearing=*/true);
  c.accessMode = 1;
  DATA4* d = data4create(&c, "dbid", kIdFields, nullptr);
  ASSERT_NE(d, nullptr);
  data4appendStart(d, 0);
  ASSERT_EQ(data4append(d), 0);
  FakeOs full;
  platform::ScopedOs scoped(full);
  full.diskSpace = 0;
  EXPECT_EQ(code4close(&c), -1);
  EXPECT_EQ(error4code(&c), 0);
  EXPECT_EQ(code4dataList(&c)->nLink, 0u);
}

TEST_F(OpenTest, UpperCaseTablesCopiedFromElsewhereOpen) {
  make("DBFILES", kFilesFields);
  rename("DBFILES.dbf", "DBFILES.DBF");
  rename("DBFILES.fpt", "DBFILES.FPT");
  DATA4* d = data4open(&c, "dbfiles");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->dataFile->memoOpen);
  EXPECT_EQ(d->memoFields.size(), 1u);
  EXPECT_EQ(data4field(d, "F_TEXT")->memo, &d->memoFields[0]);
  data4close(d);
  EXPECT_FALSE(diskFileExists("dbfiles.dbf"));  // nothing made in lower case
}

TEST_F(OpenTest, TablesWrittenByAnotherToolOpen) {
  int status = 0;
  const std::string out = runCommand(
      "/usr/bin/python3 -c \"import dbf\n"
      "for flavour in ['db3', 'fp', 'vfp']:\n"
      "    fields = 'name C(10); age N(3,0); born D; ok L'\n"
      "    if flavour != 'db3': fields += '; note M'\n"
      "    if flavour == 'vfp': fields += '; price Y; stamp T; nick C(5) null'\n"
      "    t = dbf.Table('py_' + flavour, fields, dbf_type=flavour)\n"
      "    t.open(dbf.READ_WRITE)\n"
      "    t.append(('Ann', 42))\n"
      "    t.close()\n\"",
      &status);
  ASSERT_EQ(status, 0) << out;
  struct Expected {
    const char* table;
    std::string fields;
  } tables[] = {
      {"py_db3", "NAME C 10,AGE N 3,BORN D 8,OK L 1,"},
      {"py_fp", "NAME C 10,AGE N 3,BORN D 8,OK L 1,NOTE M 10,"},
      {"py_vfp", "NAME C 10,AGE N 3,BORN D 8,OK L 1,NOTE M 4,PRICE Y 8,STAMP T 8,NICK C 5,"},
  };
  for (const Expected& table : tables) {
    DATA4* d = data4open(&c, table.table);
    ASSERT_NE(d, nullptr) << table.table << " " << error4code(&c);
    std::string fields;
    for (int i = 1; i <= data4numFields(d); i++) {
      FIELD4* f = data4fieldJ(d, i);
      fields += std::string(f->name) + " " + static_cast<char>(f->type) + " " +
                std::to_string(f->length) + ",";
    }
    EXPECT_EQ(fields, table.fields);
    EXPECT_EQ(d->dataFile->header.recordCount, 1u);
    data4close(d);
  }
}

// A memo file refused after it was opened (a zeroed header, whose block
// size is 0, or one cut short) is let go again: every later open meets the
// same refusal rather than a sharing violation, and no descriptor stays.
TEST_F(OpenTest, ARefusedMemoFileIsLetGoAgain) {
  c.accessMode = 1;
  const FIELD4INFO fields[] = {
      {"NAME", 'C', 10, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
  auto descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  struct Case {
    const char* what;
    std::string header;
    int32_t code;
  } cases[] = {{"block size 0", std::string(512, '\0'), e4data},
               {"header cut short", std::string(4, '\0'), e4read}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    make("memo", fields);
    writeDiskFile("memo.fpt", test.header);
    const auto before = descriptors();
    for (int open = 0; open < 2; open++) {
      EXPECT_EQ(data4open(&c, "memo"), nullptr);
      EXPECT_EQ(error4code(&c), test.code);
      clearError();
    }
    EXPECT_EQ(descriptors(), before);
  }
}

// Descriptors other tools may write: a name filling its eleven bytes
// without a NUL keeps its first ten characters; an autoincrement flag on a
// field that is not an 8-byte B field is refused.
TEST_F(OpenTest, DescriptorNamesWithoutNulOpenAndMisplacedAutoincrementIsRefused) {
  make("names", kIdFields);
  patch("names.dbf", 32, "TBLNAMEXYZW");
  DATA4* d = data4open(&c, "names");
  ASSERT_NE(d, nullptr);
  EXPECT_NE(data4field(d, "TBLNAMEXYZ"), nullptr);
  EXPECT_EQ(data4close(d), 0);

  c.compatibility = 30;
  make("auto", kIdFields);
  patch("auto.dbf", 0, "\x31");
  patch("auto.dbf", 12, std::string("\x01\0\0\0\0\0\0\0", 8));
  patch("auto.dbf", 32 + 18, "\x08");  // on TBLNAME, a text field
  expectRefused("auto", e4data, 80139);
}

}  // namespace
