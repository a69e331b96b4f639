// Passes in record order that read many records at once: each record is
// current as data4go makes it, the end is data4goEof's, and records read
// ahead are read again once forgotten.
#include "engine/storage/data4scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/data4.h"
#include "engine/storage/data4append.h"
#include "engine/storage/data4create.h"
#include "engine/storage/data4navigate.h"
#include "engine/storage/data4record.h"
#include "engine/storage/memo4field.h"
#include "tests/support/engine_fixture.h"

using namespace testing_support;

namespace {

const FIELD4INFO kFields[] = {
    {"NAME", 'C', 10, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};

class ScanTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    c.safety = 0;
    c.singleOpen = 0;
    d = data4create(&c, "t", kFields, nullptr);
    ASSERT_NE(d, nullptr);
  }
  void TearDown() override {
    if (d != nullptr) data4close(d);
    EngineTest::TearDown();
  }
  static void setName(DATA4* h, const std::string& value) {
    char* bytes = field4ptr(data4field(h, "NAME"));
    std::memset(bytes, ' ', 10);
    std::memcpy(bytes, value.data(), value.size());
    h->recordChanged = 1;
  }
  void append(const std::string& name) {
    data4appendStart(d, 0);
    data4blank(d);
    setName(d, name);
    field4memoAssignN(data4field(d, "NOTE"), name.data(), static_cast<uint32_t>(name.size()));
    ASSERT_EQ(data4append(d), 0);
  }
  static std::string name(DATA4* h) {
    std::string text(field4ptr(data4field(h, "NAME")), 10);
    return text.substr(0, text.find(' '));
  }

  DATA4* d = nullptr;
};

TEST_F(ScanTest, EveryRecordIsCurrentInTurnWithItsMemoAndDeletionThenTheEnd) {
  DATA4SCAN scan;
  EXPECT_EQ(data4scanTop(&scan, d, 3), 3);  // empty
  EXPECT_EQ(data4bof(d), 1);
  for (const char* n : {"a", "b", "c", "d", "e", "f", "g"}) append(n);
  ASSERT_EQ(data4go(d, 4), 0);
  data4delete(d);
  std::vector<std::string> seen;
  int32_t rc = data4scanTop(&scan, d, 3);
  for (; rc == 0; rc = data4scanSkip(&scan)) {
    std::string row =
        std::to_string(data4recNo(d)) + name(d) + field4memoStr(data4field(d, "NOTE"));
    if (data4deleted(d)) row += "*";
    seen.push_back(row);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"1aa", "2bb", "3cc", "4dd*", "5ee", "6ff", "7gg"}));
  EXPECT_EQ(rc, 3);
  EXPECT_EQ(data4eof(d), 1);
  EXPECT_EQ(data4recNo(d), 8);
}

TEST_F(ScanTest, RecordsReadAheadAreReadAgainOnceForgottenAndChangesAreWrittenFirst) {
  for (const char* n : {"a", "b", "c", "d"}) append(n);
  DATA4* other = data4open(&c, "t");
  ASSERT_NE(other, nullptr);
  DATA4SCAN scan;
  ASSERT_EQ(data4scanTop(&scan, d, 10), 0);  // reads all four
  ASSERT_EQ(data4go(other, 2), 0);
  setName(other, "B");
  ASSERT_EQ(data4flush(other), 0);
  data4close(other);
  data4scanForget(&scan);
  ASSERT_EQ(data4scanSkip(&scan), 0);
  EXPECT_EQ(name(d), "B");
  // A change made through the scanning handle reaches the file on the move.
  setName(d, "x");
  ASSERT_EQ(data4scanSkip(&scan), 0);
  ASSERT_EQ(data4go(d, 2), 0);
  EXPECT_EQ(name(d), "x");
}

}  // namespace
