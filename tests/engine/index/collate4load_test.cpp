// Loading collation 4 from the tables "coll4inf", "collate4" and
// "compres4": the GENERAL sequence written out as tables loads back as the
// built-in one, and damaged tables fail cleanly with nothing left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/index/collate4.h"
#include "engine/storage/code4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4create.h"
#include "engine/storage/error4.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

const FIELD4INFO kInfoFields[] = {
    {"ISUNICODE", 'L', 1, 0, 0},  {"COLLSTART", 'N', 6, 0, 0}, {"COLLEND", 'N', 6, 0, 0},
    {"COMPSTART", 'N', 6, 0, 0},  {"COMPEND", 'N', 6, 0, 0},   {"EXPANREQD", 'L', 1, 0, 0},
    {"COMPREQD", 'L', 1, 0, 0},   {"SUBREQD", 'L', 1, 0, 0},   {"COMPCHAR", 'N', 4, 0, 0},
    {"NOTAILCHAR", 'N', 4, 0, 0}, {"TRANSREQD", 'L', 1, 0, 0}, {"LOSSINFO", 'L', 1, 0, 0},
    {nullptr, 0, 0, 0, 0},
};
const FIELD4INFO kCharFields[] = {
    {"TRANS_CODE", 'N', 4, 0, 0}, {"SBSORTCODE", 'N', 4, 0, 0}, {nullptr, 0, 0, 0, 0}};
const FIELD4INFO kCharFieldsAsText[] = {
    {"TRANS_CODE", 'C', 4, 0, 0}, {"SBSORTCODE", 'N', 4, 0, 0}, {nullptr, 0, 0, 0, 0}};
const FIELD4INFO kExpansionFields[] = {{"IS_EXPAND", 'L', 1, 0, 0},
                                       {"CHAR1", 'N', 4, 0, 0},
                                       {"CHAR2", 'N', 4, 0, 0},
                                       {"SUBSORTMOD", 'N', 4, 0, 0},
                                       {nullptr, 0, 0, 0, 0}};

using Rows = std::vector<std::vector<std::string>>;

// The three tables as rows of field texts; written by write().
struct Tables {
  const FIELD4INFO* infoFields = kInfoFields;
  const FIELD4INFO* charFields = kCharFields;
  const FIELD4INFO* expansionFields = kExpansionFields;
  Rows info, chars, expansions;
  bool withExpansions = true;

  // GENERAL (Windows text) as collation 4, its characters after two
  // records that belong to another collation.
  static Tables general() {
    Tables t;
    const std::vector<std::string> other = {"F", "1", "2", "1", "1", "F",
                                            "F", "F", "0", "0", "F", "F"};
    t.info = {
        other, other, other, {"F", "3", "258", "2", "5", "T", "F", "T", "255", "255", "T", "F"}};
    t.chars = {{"1", "1"}, {"2", "2"}};
    const COLLATE4* general = collate4get(collate4generalWindows);
    for (int c = 0; c < 256; c++) {
      t.chars.push_back(
          {std::to_string(general->table[2 * c]), std::to_string(general->table[2 * c + 1])});
    }
    t.expansions = {{"T", "1", "1", "0"}};
    for (int i = 0; i < 4; i++) {
      const Collate4Expansion& e = general->expansion[i];
      t.expansions.push_back({"T", std::to_string(e.first), std::to_string(e.second), "0"});
    }
    return t;
  }
  std::string& info4(int field) { return info[3][field]; }
};

// Creates `name` with the engine, then appends the rows behind its header
// and sets the count, as another program would have written them.
void writeTable(CODE4* c, const char* name, const FIELD4INFO* fields, const Rows& rows) {
  DATA4* d = data4create(c, name, fields, nullptr);
  ASSERT_NE(d, nullptr) << name;
  ASSERT_EQ(data4close(d), 0);
  const std::string file = std::string(name) + ".dbf";
  std::string bytes = readDiskFile(file);
  ASSERT_EQ(bytes.back(), '\x1a');
  bytes.pop_back();
  for (const auto& row : rows) {
    bytes += ' ';
    for (size_t i = 0; fields[i].name != nullptr; i++) {
      const std::string value = i < row.size() ? row[i] : "";
      const size_t width = fields[i].len;
      ASSERT_LE(value.size(), width);
      const std::string pad(width - value.size(), ' ');
      bytes += fields[i].type == 'N' ? pad + value : value + pad;
    }
  }
  bytes += '\x1a';
  for (int i = 0; i < 4; i++) bytes[4 + i] = static_cast<char>(rows.size() >> (8 * i));
  writeDiskFile(file, bytes);
}

class CollationLoad : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
  }
  void write(const Tables& t) {
    writeTable(&c, "coll4inf", t.infoFields, t.info);
    writeTable(&c, "collate4", t.charFields, t.chars);
    if (t.withExpansions) writeTable(&c, "compres4", t.expansionFields, t.expansions);
  }
  std::string key(int32_t number, const std::string& text) {
    std::string out(2 * text.size(), '?');
    int32_t length = 0;
    EXPECT_EQ(collate4stringToKey(collate4get(number), out.data(), text.data(),
                                  static_cast<int32_t>(text.size()), &length),
              0);
    return out;
  }
  // Loading fails with -1090 raised once, and the descriptor is untouched.
  void expectRefused(const std::string& what) {
    recorder.clear();
    EXPECT_EQ(collate4require(&c, collate4loadable), e4collate) << what;
    EXPECT_EQ(recorder.errors().size(), 1u) << what;
    EXPECT_EQ(lastError().location, 80187) << what;
    const COLLATE4* collate = collate4get(collate4loadable);
    EXPECT_EQ(collate->kind, collate4kindUnloaded) << what;
    EXPECT_EQ(collate->table, nullptr) << what;
    EXPECT_EQ(collate->loadedTable.get(), nullptr) << what;
    EXPECT_EQ(c.dataFileList.nLink, 0u) << what << ": a table was left open";
    EXPECT_EQ(c.errOpen, 1) << what;
    EXPECT_EQ(c.readOnly, 0) << what;
    clearError();
  }
};

TEST_F(CollationLoad, GeneralWrittenAsTablesLoadsAsTheBuiltInOne) {
  write(Tables::general());
  ASSERT_EQ(collate4require(&c, collate4loadable), 0);
  EXPECT_EQ(recorder.errors().size(), 0u);
  const COLLATE4* loaded = collate4get(collate4loadable);
  EXPECT_EQ(loaded->kind, collate4kindFull);
  EXPECT_EQ(loaded->factor, 1);
  EXPECT_EQ(loaded->expansionCount, 4);
  EXPECT_TRUE(loaded->lossless);
  EXPECT_EQ(c.dataFileList.nLink, 0u);
  for (int ch = 1; ch < 256; ch++) {
    const std::string text = std::string(1, char(ch)) + "a\xE9";
    EXPECT_EQ(key(collate4loadable, text), key(collate4generalWindows, text)) << ch;
  }
  // The wide tables build from the loaded ones as well.
  std::string wide(8, '?'), builtIn(8, '?');
  int32_t length = 0;
  ASSERT_EQ(key4fromWideCollate(collate4get(collate4loadable), wide.data(), "\xC6\0", 2, &length),
            0);
  ASSERT_EQ(key4fromWideCollate(collate4get(collate4generalWindows), builtIn.data(), "\xC6\0", 2,
                                &length),
            0);
  EXPECT_EQ(wide.substr(0, 4), builtIn.substr(0, 4));
}

TEST_F(CollationLoad, ASecondLifetimeLoadsAgain) {
  write(Tables::general());
  ASSERT_EQ(collate4require(&c, collate4loadable), 0);
  const std::string before = key(collate4loadable, "Z");
  code4initUndo(&c);
  EXPECT_EQ(collate4get(collate4loadable)->kind, collate4kindUnloaded);
  EXPECT_EQ(collate4get(collate4loadable)->table, nullptr);

  // The next lifetime finds other tables: 'Z' now weighs 0x20.
  ASSERT_EQ(code4initLow(&c, nullptr, 6502, 1611, 1), 0);
  c.safety = 0;
  Tables t = Tables::general();
  t.chars[2 + 'Z'][0] = "32";
  write(t);
  ASSERT_EQ(collate4require(&c, collate4loadable), 0);
  EXPECT_NE(key(collate4loadable, "Z"), before);
  EXPECT_EQ(key(collate4loadable, "Z")[0], 0x20);
}

TEST_F(CollationLoad, DamagedTablesAreRefusedCleanly) {
  struct Damage {
    const char* what;
    std::function<void(Tables&)> apply;
  } damages[] = {
      {"no such record", [](Tables& t) { t.info.pop_back(); }},
      {"too few characters", [](Tables& t) { t.info4(2) = "200"; }},
      {"too many characters", [](Tables& t) { t.info4(2) = "259"; }},
      {"characters beyond the table", [](Tables& t) { t.chars.pop_back(); }},
      {"start at record 0",
       [](Tables& t) {
         t.info4(1) = "0";
         t.info4(2) = "255";
       }},
      {"start before record 0",
       [](Tables& t) {
         t.info4(1) = "-5";
         t.info4(2) = "250";
       }},
      {"weight above 255", [](Tables& t) { t.chars[2 + 'q'][0] = "256"; }},
      {"negative weight", [](Tables& t) { t.chars[2 + 'q'][0] = "-1"; }},
      {"sub-sort above 255", [](Tables& t) { t.chars[2 + 'q'][1] = "300"; }},
      {"expansion beyond the entries", [](Tables& t) { t.chars[2 + 0xC6][1] = "4"; }},
      {"expansion table missing", [](Tables& t) { t.withExpansions = false; }},
      {"too many expansions", [](Tables& t) { t.info4(4) = "2000"; }},
      {"expansions out of order",
       [](Tables& t) {
         t.info4(3) = "5";
         t.info4(4) = "2";
       }},
      {"expansion character above 255", [](Tables& t) { t.expansions[1][2] = "300"; }},
      {"marker above 255", [](Tables& t) { t.info4(8) = "999"; }},
      {"no-tail above 255", [](Tables& t) { t.info4(9) = "256"; }},
      {"weights held as text", [](Tables& t) { t.charFields = kCharFieldsAsText; }},
  };
  for (const Damage& damage : damages) {
    Tables t = Tables::general();
    damage.apply(t);
    write(t);
    if (!t.withExpansions) std::remove("compres4.dbf");
    expectRefused(damage.what);
  }
  // Mended, the same tables load.
  write(Tables::general());
  EXPECT_EQ(collate4require(&c, collate4loadable), 0);
}

TEST_F(CollationLoad, WideCollationsAreRefused) {
  Tables t = Tables::general();
  t.info4(0) = "T";
  write(t);
  expectRefused("unicode");
}

TEST_F(CollationLoad, CollationsOtherThanFullCannotBuildKeys) {
  Tables t = Tables::general();
  t.info4(5) = "F";  // no expansion, no compression: sub-sorts only
  write(t);
  EXPECT_EQ(collate4require(&c, collate4loadable), e4collate);
  EXPECT_EQ(lastError().location, 80187);
  clearError();
  // It loaded, as kind 2: a second request refuses without the tables.
  EXPECT_EQ(collate4get(collate4loadable)->kind, collate4kindSubSort);
  std::remove("coll4inf.dbf");
  EXPECT_EQ(collate4require(&c, collate4loadable), e4collate);
  EXPECT_EQ(collate4get(collate4loadable)->kind, collate4kindSubSort);
}

TEST_F(CollationLoad, CompressionEntriesAreRefusedWhenMet) {
  Tables t = Tables::general();
  t.expansions[1][0] = "F";  // entry 0 (OE) compresses
  write(t);
  ASSERT_EQ(collate4require(&c, collate4loadable), 0);
  EXPECT_EQ(key(collate4loadable, "a"), key(collate4generalWindows, "a"));
  std::string out(2, '?');
  int32_t length = 0;
  EXPECT_EQ(collate4stringToKey(collate4get(collate4loadable), out.data(), "\x9C", 1, &length),
            e4collate);
  EXPECT_EQ(lastError().location, 80187);
}

TEST_F(CollationLoad, NothingHappensWhileAnErrorIsPending) {
  write(Tables::general());
  error4set(&c, e4read);
  EXPECT_EQ(collate4require(&c, collate4loadable), -1);
  EXPECT_EQ(collate4load(&c, collate4loadable), -1);
  EXPECT_EQ(collate4get(collate4loadable)->kind, collate4kindUnloaded);
  clearError();
  EXPECT_EQ(collate4load(&c, collate4loadable), 0);
  EXPECT_EQ(collate4get(collate4loadable)->kind, collate4kindFull);
}

}  // namespace
