// Tables and indexes laid out as other dBase-family tools write them,
// written byte by byte: node attributes with bit 2 set, leaf entries of one
// byte, autoincrement counters in the field descriptor, nullable flags
// without a null-flags field, numeric fields wider than 49 bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "engine/storage/convert4.h"
#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/data4tag.h"
#include "engine/storage/error4.h"
#include "engine/storage/field4value.h"
#include "tests/support/cdx_checker.h"
#include "tests/support/disk_file.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/field_table.h"
#include "tests/support/foreign_files.h"

using namespace testing_support;

namespace {

constexpr int kAmountLength = 50;

struct Row {
  std::string name;
  std::string code;
  double amount;  // exact in binary, so every conversion agrees on it
};

std::string fixed3(double value) {
  char text[32];
  const char* end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3).ptr;
  return std::string(text, static_cast<size_t>(end - text));
}

std::string padded(const std::string& text, size_t length) {
  std::string out = text;
  out.resize(length, ' ');
  return out;
}

class ForeignTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
  }

  // Records in the order `before` puts them, 1-based.
  template <typename Before>
  std::vector<int32_t> orderOf(Before before) const {
    std::vector<int32_t> records(rows.size());
    std::iota(records.begin(), records.end(), 1);
    std::stable_sort(records.begin(), records.end(),
                     [&](int32_t a, int32_t b) { return before(rows[a - 1], rows[b - 1]); });
    return records;
  }

  // Walks `tag` from the top down and from the bottom up.
  void expectWalk(DATA4* d, const char* tag, const std::vector<int32_t>& expected) {
    SCOPED_TRACE(tag);
    data4tagSelect(d, data4tag(d, tag));
    std::vector<int32_t> forward, backward;
    for (int32_t rc = data4top(d); rc == 0 && !data4eof(d); rc = data4skip(d, 1))
      forward.push_back(data4recNo(d));
    for (int32_t rc = data4bottom(d); rc == 0 && !data4bof(d); rc = data4skip(d, -1))
      backward.push_back(data4recNo(d));
    EXPECT_EQ(forward, expected);
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, expected);
    EXPECT_EQ(error4code(&c), 0);
  }

  // Every tag walked both ways and counted, every key sought, every value
  // read.
  void expectTableReads(DATA4* d) {
    ASSERT_EQ(data4recCount(d), static_cast<int32_t>(rows.size()));
    for (size_t r = 1; r <= rows.size(); r++) {
      ASSERT_EQ(data4go(d, static_cast<int32_t>(r)), 0);
      EXPECT_EQ(field4str(data4field(d, "NAME")), padded(rows[r - 1].name, 10));
      EXPECT_EQ(field4double(data4field(d, "AMOUNT")), rows[r - 1].amount) << r;
    }
    expectWalk(d, "NAME", orderOf([](const Row& a, const Row& b) { return a.name < b.name; }));
    expectWalk(d, "CODE", orderOf([](const Row& a, const Row& b) {
                 return padded(a.code, 2) < padded(b.code, 2);
               }));
    // Descending: equal amounts would come last record first; there are none.
    expectWalk(d, "AMOUNT",
               orderOf([](const Row& a, const Row& b) { return a.amount > b.amount; }));

    for (size_t r = 1; r <= rows.size(); r++) {
      const Row& row = rows[r - 1];
      data4tagSelect(d, data4tag(d, "NAME"));
      EXPECT_EQ(data4seek(d, row.name.c_str()), 0) << row.name;
      EXPECT_EQ(data4recNo(d), static_cast<int32_t>(r));
      data4tagSelect(d, data4tag(d, "AMOUNT"));
      EXPECT_EQ(data4seekDouble(d, row.amount), 0) << row.amount;
      EXPECT_EQ(data4recNo(d), static_cast<int32_t>(r));
      data4tagSelect(d, data4tag(d, "CODE"));
      EXPECT_EQ(data4seek(d, row.code.c_str()), 0) << row.code;
      const auto first = std::find_if(rows.begin(), rows.end(), [&](const Row& other) {
        return padded(other.code, 2) == padded(row.code, 2);
      });
      EXPECT_EQ(data4recNo(d), static_cast<int32_t>(first - rows.begin()) + 1);
    }
    data4tagSelect(d, data4tag(d, "NAME"));
    EXPECT_EQ(data4seek(d, "BEECH"), 2);
    EXPECT_EQ(field4str(data4field(d, "NAME")), padded("BIRCH", 10));
  }

  std::vector<Row> rows;
};

// A table of three tags whose every node carries attribute bit 2: NAME three
// levels deep (branches 4 below a root branch 5, leaves 6), CODE one root
// leaf 7 of one-byte entries, AMOUNT descending over an F50.3 field. It is
// read, then grows through the engine (a record number that the one-byte
// entries cannot hold among them) and is read again.
TEST_F(ForeignTest, MarkedNodesAndOneByteLeavesWalkCountSeekAndGrow) {
  rows = {{"MAPLE", "A1", 12.375}, {"BIRCH", "B", 1.5}, {"OAK", "A1", 1.25},
          {"ALDER", "CC", -3.75},  {"YEW", "B", 0.5},   {"ELM", "A1", 100.125},
          {"PINE", "C", 7},        {"FIR", "CC", 2.25}, {"LARCH", "B", -0.5},
          {"ROWAN", "A", 42},      {"HAZEL", "C", 3.5}, {"CEDAR", "A1", 0.875}};
  ForeignTable table{
      0x30, 0x01, {{"NAME", 'C', 10}, {"CODE", 'C', 2}, {"AMOUNT", 'F', kAmountLength, 3}}};
  ForeignTag name("NAME", 10), code("CODE", 2), amount("AMOUNT", 8, 0);
  name.keysPerLeaf = 3;
  name.entriesPerBranch = 2;
  amount.descending = true;
  amount.keysPerLeaf = 5;
  for (uint32_t r = 1; r <= rows.size(); r++) {
    const Row& row = rows[r - 1];
    table.records.push_back(padded(row.name, 10) + padded(row.code, 2) +
                            rightAligned(fixed3(row.amount), kAmountLength));
    name.keys.emplace_back(padded(row.name, 10), r);
    code.keys.emplace_back(padded(row.code, 2), r);
    amount.keys.emplace_back(numericKey(row.amount), r);
  }
  writeForeignDbf("trees.dbf", table);
  writeForeignCdx("trees.cdx", {name, code, amount}, true);
  const std::map<std::string, unsigned char> pads = {{"AMOUNT", 0}};
  CdxReport report = checkCdxFile("trees.cdx", pads);
  ASSERT_TRUE(report.ok()) << report.text();
  ASSERT_EQ(report.tag("NAME")->depth, 3);
  ASSERT_EQ(report.tag("CODE")->depth, 1);
  ASSERT_EQ(report.tag("AMOUNT")->depth, 2);

  for (int8_t mode : {0, 1}) {
    SCOPED_TRACE(mode == 0 ? "shared" : "exclusive");
    c.accessMode = mode;
    DATA4* d = data4open(&c, "trees");
    ASSERT_NE(d, nullptr) << error4code(&c);
    expectTableReads(d);
    ASSERT_EQ(data4close(d), 0);
  }

  // Four records bring record 16, which needs more than the four record
  // bits of CODE's one-byte entries. Read from their first 49 bytes only,
  // the amounts 1.375 and 1.125 would be keyed as 1.37 and 1.12.
  const std::vector<Row> more = {{"ASPEN", "B", 1.375},
                                 {"WILLOW", "A1", 1.125},
                                 {"HOLLY", "CC", 55.5},
                                 {"SPRUCE", "A", -7.25}};
  c.accessMode = 1;
  DATA4* d = data4open(&c, "trees");
  ASSERT_NE(d, nullptr);
  for (const Row& row : more) {
    ASSERT_EQ(data4appendStart(d, 0), 0);
    data4blank(d);
    field4assign(data4field(d, "NAME"), row.name.c_str());
    field4assign(data4field(d, "CODE"), row.code.c_str());
    field4assignDouble(data4field(d, "AMOUNT"), row.amount);
    ASSERT_EQ(data4append(d), 0) << row.name;
    rows.push_back(row);
  }
  expectTableReads(d);
  ASSERT_EQ(data4close(d), 0);

  report = checkCdxFile("trees.cdx", pads);
  ASSERT_TRUE(report.ok()) << report.text();
  EXPECT_EQ(report.tag("CODE")->entries.size(), rows.size());
  d = data4open(&c, "trees");
  ASSERT_NE(d, nullptr);
  expectTableReads(d);
  EXPECT_EQ(data4close(d), 0);
}

ForeignTable autoIncrementTable() {
  ForeignTable table{0x31, 0, {{"ID", 'I', 4, 0, 0x0C, 7, 3}, {"NAME", 'C', 10}}};
  table.records = {le32(1) + padded("ANN", 10), le32(4) + padded("BOB", 10)};
  return table;
}

// Another writer's 0x31 table keeps its counter in the I field's
// descriptor: next value 7, step 3.
TEST_F(ForeignTest, AnAppendAdvancesTheDescriptorsAutoincrementCounter) {
  constexpr size_t kCounter = 32 + 19;  // the ID descriptor's next value
  for (int8_t mode : {0, 1}) {
    SCOPED_TRACE(mode == 0 ? "shared" : "exclusive");
    writeForeignDbf("auto.dbf", autoIncrementTable());
    c.accessMode = mode;
    DATA4* d = data4open(&c, "auto");
    ASSERT_NE(d, nullptr) << error4code(&c);
    ASSERT_EQ(data4go(d, 2), 0);
    EXPECT_EQ(field4long(data4field(d, "ID")), 4);
    for (const char* name : {"CID", "DON"}) {
      ASSERT_EQ(data4appendStart(d, 0), 0);
      data4blank(d);
      field4assign(data4field(d, "NAME"), name);
      ASSERT_EQ(data4append(d), 0);
    }
    EXPECT_EQ(field4long(data4field(d, "ID")), 10);
    // A shared table's counter is on disk at once, an exclusive one's by
    // the close.
    if (mode == 0) {
      EXPECT_EQ(readDiskFile("auto.dbf").substr(kCounter, 4), le32(13));
    }
    ASSERT_EQ(data4close(d), 0);

    const std::string file = readDiskFile("auto.dbf");
    EXPECT_EQ(file.substr(kCounter, 5), le32(13) + '\x03');
    EXPECT_EQ(file.substr(12, 16), std::string(16, '\0'));  // no marker of ours
    int status = 0;
    const std::string out = runCommand(
        "/usr/bin/python3 -c \"import dbf\n"
        "t = dbf.Table('auto.dbf')\n"
        "t.open()\n"
        "print([(r.id, r.name.strip()) for r in t])\n\"",
        &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "[(1, 'ANN'), (4, 'BOB'), (7, 'CID'), (10, 'DON')]\n");
  }
}

TEST_F(ForeignTest, AutoincrementTablesOfAShapeNoWriterMakesAreRefusedUntouched) {
  // This engine's table whose marker is gone: its counter cannot be found.
  c.compatibility = 30;
  const FIELD4INFO fields[] = {{"ID", 'B', 8, 0, 195}, {nullptr, 0, 0, 0, 0}};
  DATA4* made = data4create(&c, "ours", fields, nullptr);
  ASSERT_NE(made, nullptr);
  ASSERT_EQ(data4close(made), 0);
  std::string file = readDiskFile("ours.dbf");
  file[12] = 0;
  writeDiskFile("ours.dbf", file);
  // A counter in the descriptor of a field that is not an I field.
  ForeignTable text = autoIncrementTable();
  text.fields[0].type = 'C';
  writeForeignDbf("text.dbf", text);
  const struct {
    const char* table;
    int32_t location;
  } cases[] = {{"ours", 80151}, {"text", 80139}};
  for (const auto& test : cases) {
    const std::string before = readDiskFile(std::string(test.table) + ".dbf");
    EXPECT_EQ(data4open(&c, test.table), nullptr) << test.table;
    EXPECT_EQ(error4code(&c), e4data);
    EXPECT_EQ(c.errorLocation.load(), test.location);
    clearError();
    EXPECT_EQ(readDiskFile(std::string(test.table) + ".dbf"), before);
  }
}

// A nullable flag on a field of a table without "_NullFlags" leaves the
// field not nullable; numeric fields of 50 bytes read whole.
TEST_F(ForeignTest, OtherWritersFieldsRead) {
  ForeignTable table{
      0x30, 0, {{"NICK", 'C', 5, 0, 0x02}, {"COUNT", 'N', 50}, {"PRICE", 'F', 50, 3}}};
  table.records = {"BOBBY" + rightAligned("4", 50) + rightAligned("12.345", 50),
                   "     " + rightAligned("-1234567", 50) + rightAligned("0.001", 50)};
  writeForeignDbf("fields.dbf", table);
  DATA4* d = data4open(&c, "fields");
  ASSERT_NE(d, nullptr) << error4code(&c);
  FIELD4* nick = data4field(d, "NICK");
  EXPECT_EQ(nick->nullable, 0);
  EXPECT_EQ(d->nullFlags, nullptr);
  ASSERT_EQ(data4go(d, 1), 0);
  EXPECT_EQ(field4null(nick), 0);
  EXPECT_STREQ(field4str(nick), "BOBBY");
  EXPECT_EQ(field4long(data4field(d, "COUNT")), 4);
  EXPECT_EQ(field4double(data4field(d, "PRICE")), convert4textToDouble("12.345", 6));
  ASSERT_EQ(data4go(d, 2), 0);
  EXPECT_EQ(field4long(data4field(d, "COUNT")), -1234567);
  EXPECT_EQ(field4double(data4field(d, "PRICE")), convert4textToDouble("0.001", 5));

  ASSERT_EQ(data4appendStart(d, 0), 0);
  data4blank(d);
  field4assign(nick, "ZOE");
  field4assignDouble(data4field(d, "PRICE"), 2.5);
  ASSERT_EQ(data4append(d), 0);
  ASSERT_EQ(data4close(d), 0);
  d = data4open(&c, "fields");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(data4go(d, 3), 0);
  EXPECT_STREQ(field4str(nick = data4field(d, "NICK")), "ZOE  ");
  EXPECT_EQ(field4double(data4field(d, "PRICE")), 2.5);
  EXPECT_EQ(data4close(d), 0);
}

}  // namespace
