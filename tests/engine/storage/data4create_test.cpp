// Creating tables: the bytes written, the refusals, and what other tools read.
#include "engine/storage/data4create.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <string>

#include "engine/storage/data4.h"
#include "engine/storage/date4.h"
#include "engine/storage/error4.h"
#include "tests/support/catalogue_schemas.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"

using namespace testing_support;

namespace {

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string todayHex() {
  uint8_t today[3];
  date4todayBytes(today);
  return hex(std::string(reinterpret_cast<char*>(today), 3));
}

class CreateTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;  // tests of one process share a folder
  }
  // Creates the table and closes it again; true when it was made.
  bool create(const char* name, const FIELD4INFO* fields) {
    DATA4* d = data4create(&c, name, fields, nullptr);
    if (d == nullptr) return false;
    EXPECT_EQ(data4close(d), 0);
    return true;
  }
};

TEST_F(CreateTest, TheCounterTableHasItsGoldenBytes) {
  ASSERT_TRUE(create("dbid", kIdFields));
  const std::string expected =
      "03" + todayHex() + "00000000" + "6100" + "dd00" + std::string(32, '0') + "00000000" +
      // TBLNAME C(200) at 1
      hex(std::string("TBLNAME\0\0\0\0", 11)) + "43" + "01000000" + "c8" + "00" + "00" +
      std::string(26, '0') +
      // IDINC N(20) at 201
      hex(std::string("IDINC\0\0\0\0\0\0", 11)) + "4e" + "c9000000" + "14" + "00" + "00" +
      std::string(26, '0') + "0d1a";
  EXPECT_EQ(hex(readDiskFile("dbid.dbf")), expected);
  EXPECT_FALSE(diskFileExists("dbid.fpt"));
}

TEST_F(CreateTest, TablesWithMemoFieldsGetAnFptFile) {
  ASSERT_TRUE(create("DBFILES", kFilesFields));
  const std::string dbf = readDiskFile("DBFILES.dbf");
  ASSERT_EQ(dbf.size(), 449u + 1);
  EXPECT_EQ(hex(dbf.substr(0, 1)), "f5");
  EXPECT_EQ(hex(dbf.substr(8, 4)), "c101c702");  // header 449, record 711
  const std::string fDate = dbf.substr(32 + 9 * 32, 32);
  EXPECT_EQ(hex(fDate.substr(0, 20)), hex(std::string("F_DATE\0\0\0\0\0", 11)) + "46" +
                                           "92020000" + "14" + "0a" + "0000");
  const std::string fText = dbf.substr(32 + 12 * 32, 32);
  EXPECT_EQ(hex(fText.substr(11, 7)), "4d" "bd020000" "0a" "00");
  EXPECT_EQ(hex(dbf.substr(449 - 1)), "0d1a");
  const std::string fpt = readDiskFile("DBFILES.fpt");
  ASSERT_EQ(fpt.size(), 512u);
  EXPECT_EQ(hex(fpt.substr(0, 8)), "0000000100000200");
  EXPECT_EQ(fpt.find_first_not_of('\0', 8), std::string::npos);

  ASSERT_TRUE(create("dbsupport", kSupportFields));
  const std::string support = readDiskFile("dbsupport.dbf");
  EXPECT_EQ(hex(support.substr(0, 1)), "f5");
  EXPECT_EQ(hex(support.substr(8, 4)), "41017d02");  // header 321, record 637
}

TEST_F(CreateTest, CompatibilityThirtyLayout) {
  c.compatibility = 30;
  const FIELD4INFO memo[] = {{"NOTE", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
  ASSERT_TRUE(create("memo30", memo));
  std::string dbf = readDiskFile("memo30.dbf");
  EXPECT_EQ(hex(dbf.substr(0, 1)), "30");
  EXPECT_EQ(hex(dbf.substr(28, 1)), "02");
  EXPECT_EQ(hex(dbf.substr(10, 2)), "0500");  // a 4-byte block number
  EXPECT_EQ(dbf.size(), 32u + 32 + 1 + 263);  // no end byte at this level

  FIELD4INFO nullable[] = {{"A", 'C', 5, 0, 190}, {"B", 'N', 4, 0, 190}, {nullptr, 0, 0, 0, 0}};
  ASSERT_TRUE(create("null2", nullable));
  dbf = readDiskFile("null2.dbf");
  EXPECT_EQ(hex(dbf.substr(8, 4)), "88010b00");  // 32*2+33+32+263 = 392; 1+5+4+1
  EXPECT_EQ(dbf.substr(32 + 64, 10), "_NullFlags");
  EXPECT_EQ(hex(dbf.substr(32 + 64 + 11, 8)), "30" "0a000000" "01" "00" "05");

  FIELD4INFO nine[10];
  const char* names[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"};
  for (int i = 0; i < 9; i++) nine[i] = {names[i], 'L', 1, 0, 190};
  ASSERT_TRUE(create("null9", nine));
  dbf = readDiskFile("null9.dbf");
  EXPECT_EQ(static_cast<unsigned char>(dbf[32 + 9 * 32 + 16]), 2);  // two flag bytes
}

TEST_F(CreateTest, LongCharacterFieldsUseTheDecimalsByte) {
  const FIELD4INFO fields[] = {{"LONG", 'C', 300, 0, 0}, {nullptr, 0, 0, 0, 0}};
  ASSERT_TRUE(create("long", fields));
  const std::string dbf = readDiskFile("long.dbf");
  EXPECT_EQ(static_cast<unsigned char>(dbf[32 + 16]), 44);
  EXPECT_EQ(static_cast<unsigned char>(dbf[32 + 17]), 1);
  DATA4* d = data4open(&c, "long");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(field4len(data4field(d, "LONG")), 300u);
  data4close(d);
}

TEST_F(CreateTest, BadFieldListsAreRefusedAndLeaveNoFile) {
  struct Case {
    FIELD4INFO field;
    int32_t code;
    int32_t location;
  } cases[] = {
      {{"B", 'B', 8, 0, 0}, e4data, 80048},       // binary double below level 30
      {{"K", 'K', 4, 0, 0}, e4fieldType, 80048},  // no such type
      {{"N", 'N', 300, 0, 0}, e4data, 80048},     // a length its byte cannot hold
      {{"N", 'N', 10, 300, 0}, e4data, 80048},
      {{"O", 'O', 65534, 0, 0}, e4data, 80048},   // would round up to 65536
      {{"C", 'C', 65000, 0, 0}, e4recordLen, 80051},
  };
  for (const Case& test : cases) {
    FIELD4INFO fields[] = {test.field, {"X", 'C', 1000, 0, 0}, {nullptr, 0, 0, 0, 0}};
    EXPECT_EQ(data4create(&c, "bad", fields, nullptr), nullptr) << test.field.name;
    EXPECT_EQ(error4code(&c), test.code) << static_cast<char>(test.field.type);
    EXPECT_EQ(c.errorLocation.load(), test.location) << static_cast<char>(test.field.type);
    EXPECT_FALSE(diskFileExists("bad.dbf"));
    clearError();
  }
  const FIELD4INFO empty[] = {{nullptr, 0, 0, 0, 0}};
  EXPECT_EQ(data4create(&c, "bad", empty, nullptr), nullptr);
  clearError();

  c.compatibility = 30;
  const FIELD4INFO twoAuto[] = {{"A", 'B', 8, 0, 195}, {"B", 'B', 8, 0, 195}, {nullptr, 0, 0, 0, 0}};
  EXPECT_EQ(data4create(&c, "bad", twoAuto, nullptr), nullptr);
  EXPECT_EQ(c.errorLocation.load(), 80054);
  clearError();
  const FIELD4INFO autoNotB[] = {{"A", 'I', 4, 0, 195}, {nullptr, 0, 0, 0, 0}};
  EXPECT_EQ(data4create(&c, "bad", autoNotB, nullptr), nullptr);
  EXPECT_EQ(c.errorLocation.load(), 80055);
}

TEST_F(CreateTest, AnAutoIncrementTableCarriesItsMarkerAndStart) {
  c.compatibility = 30;
  const FIELD4INFO fields[] = {{"ID", 'B', 8, 0, 195}, {"NAME", 'C', 5, 0, 0}, {nullptr, 0, 0, 0, 0}};
  ASSERT_TRUE(create("auto", fields));
  const std::string dbf = readDiskFile("auto.dbf");
  EXPECT_EQ(hex(dbf.substr(0, 1)), "31");
  EXPECT_EQ(hex(dbf.substr(12, 16)), "0100000000000000000000000000f03f");  // 1.0
  DATA4* d = data4open(&c, "auto");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->autoIncrementField, data4field(d, "ID"));
  data4close(d);
}

TEST_F(CreateTest, CreatingATableThatIsOpenFailsAndLeavesItAlone) {
  DATA4* open = data4create(&c, "busy", kIdFields, nullptr);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(data4create(&c, "BUSY.dbf", kIdFields, nullptr), nullptr);
  EXPECT_EQ(error4code(&c), e4create);
  EXPECT_EQ(c.errorLocation.load(), 80042);
  clearError();
  code4errCreateSet(&c, 0);
  EXPECT_EQ(data4create(&c, "busy", kIdFields, nullptr), nullptr);
  EXPECT_EQ(error4code(&c), r4noCreate);
  clearError();
  EXPECT_NE(data4field(open, "IDINC"), nullptr);
  EXPECT_EQ(data4close(open), 0);
  EXPECT_TRUE(diskFileExists("busy.dbf"));
}

TEST_F(CreateTest, AFailedCreationRemovesWhatItWrote) {
  FakeOs fake;
  platform::ScopedOs scoped(fake);
  fake.diskSpace = 100;  // the header does not fit
  EXPECT_EQ(data4create(&c, "full", kFilesFields, nullptr), nullptr);
  EXPECT_EQ(error4code(&c), e4write);
  EXPECT_FALSE(diskFileExists("full.dbf"));
  EXPECT_FALSE(diskFileExists("full.fpt"));
}

TEST_F(CreateTest, AFailedIndexFailsTheCreationEvenWhenTheErrorWasCleared) {
  ErrorRecorder clearing(/*clearing=*/true);  // as the program's hook does
  const TAG4INFO tags[] = {{"T_BAD", "TBLNAME", nullptr, 1, 0}, {}};  // unique value 1 is refused
  EXPECT_EQ(data4create(&c, "noindex", kIdFields, tags), nullptr);
  EXPECT_FALSE(diskFileExists("noindex.dbf"));
  EXPECT_FALSE(diskFileExists("noindex.cdx"));
}

TEST_F(CreateTest, ATemporaryTableVanishesWithItsLastClose) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  FakeOs fake;
  fake.environmentVariables = std::map<std::string, std::string>{{"TMPDIR", cwd}};
  platform::ScopedOs scoped(fake);
  c.createTemp = 1;
  DATA4* d = data4create(&c, nullptr, kFilesFields, nullptr);
  ASSERT_NE(d, nullptr);
  const std::string dbf = d->dataFile->file.name;
  const std::string fpt = d->dataFile->memoFile.file.name;
  EXPECT_NE(dbf.find("/TEMP"), std::string::npos);
  EXPECT_EQ(dbf.substr(dbf.size() - 4), ".dbf");
  EXPECT_TRUE(diskFileExists(dbf));
  EXPECT_TRUE(diskFileExists(fpt));
  EXPECT_EQ(data4close(d), 0);
  EXPECT_FALSE(diskFileExists(dbf));
  EXPECT_FALSE(diskFileExists(fpt));
}

TEST_F(CreateTest, OtherToolsReadWhatWeCreate) {
  ASSERT_TRUE(create("DBFILES", kFilesFields));
  ASSERT_TRUE(create("dbid", kIdFields));
  int status = 0;
  const std::string fields = runCommand(
      "/usr/bin/python3 -c \"import dbfread; t = dbfread.DBF('DBFILES.dbf'); "
      "print(';'.join('%s,%s,%d,%d' % (f.name, f.type, f.length, f.decimal_count) for f in t.fields)); "
      "print(len(list(t)))\"",
      &status);
  ASSERT_EQ(status, 0) << fields;
  EXPECT_EQ(fields,
            "F_ID,N,16,0;F_NAME,C,250,0;F_EXT,C,10,0;F_PATH,C,250,0;F_SUPPID,N,10,0;"
            "F_COMMENT,C,50,0;F_CATEG,N,5,0;F_CRC,C,33,0;F_MD5,C,33,0;F_DATE,F,20,10;"
            "F_SIZE,N,13,0;F_ATTR,N,10,0;F_TEXT,M,10,0\n0\n");
  const std::string dump = runCommand("dbf_dump --fs ';' dbid.dbf", &status);
  EXPECT_EQ(status, 0) << dump;
  EXPECT_EQ(dump, "");  // no records, and no complaint
}

}  // namespace
