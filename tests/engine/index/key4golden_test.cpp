// Keys against vectors from an independent model (key_golden.py), and the
// date-time correction table.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "engine/index/key4.h"
#include "engine/storage/date4.h"
#include "tests/engine/index/key_test_support.h"
#include "tests/support/disk_file.h"

using namespace testing_support;

namespace {

class GoldenKeys : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    int status = -1;
    output() = runCommand(std::string("/usr/bin/python3 ") + KEY_GOLDEN_SCRIPT, &status);
    ASSERT_EQ(status, 0) << output();
  }
  static std::string& output() {
    static std::string text;
    return text;
  }
  // Calls check(line) for each vector of `kind`; fails when there are none.
  template <typename Check>
  void forEach(const std::string& kind, Check check) {
    std::istringstream lines(output());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string first;
      fields >> first;
      if (first != kind) continue;
      check(fields, line);
      count++;
    }
    EXPECT_GT(count, 0) << "no vectors of kind " << kind;
  }
};

TEST_F(GoldenKeys, Doubles) {
  forEach("double", [](std::istringstream& in, const std::string& line) {
    std::string bitsHex, expected;
    in >> bitsHex >> expected;
    const uint64_t bits = std::stoull(bitsHex, nullptr, 16);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    char key[8];
    key4fromDouble(key, value);
    EXPECT_EQ(hexOf(key, 8), expected) << line;
  });
}

TEST_F(GoldenKeys, Integers) {
  forEach("int32", [](std::istringstream& in, const std::string& line) {
    int64_t value;
    std::string expected;
    in >> value >> expected;
    char key[4];
    key4fromInt(key, static_cast<int32_t>(value));
    EXPECT_EQ(hexOf(key, 4), expected) << line;
  });
  forEach("int64", [](std::istringstream& in, const std::string& line) {
    int64_t value;
    std::string expected;
    in >> value >> expected;
    char key[8];
    key4fromInt64(key, value);
    EXPECT_EQ(hexOf(key, 8), expected) << line;
    key4fromCurrency(key, value);
    EXPECT_EQ(hexOf(key, 8), expected) << line;
  });
}

TEST_F(GoldenKeys, DatesAndTheirParts) {
  forEach("date", [](std::istringstream& in, const std::string& line) {
    std::string text, expected;
    int32_t day;
    in >> text >> day >> expected;
    EXPECT_EQ(date4long(text.c_str()), day) << line;
    char key[8];
    EXPECT_EQ(key4fromDateText(key, text.c_str(), 8), 8);
    EXPECT_EQ(hexOf(key, 8), expected) << line;
  });
  forEach("parts", [](std::istringstream& in, const std::string& line) {
    int32_t day, year, month, dayOfMonth;
    in >> day >> year >> month >> dayOfMonth;
    uint16_t parts[3];
    ASSERT_EQ(date4partsFromJulian(day, parts), 0) << line;
    EXPECT_EQ(parts[0], year) << line;
    EXPECT_EQ(parts[1], month) << line;
    EXPECT_EQ(parts[2], dayOfMonth) << line;
  });
}

TEST_F(GoldenKeys, DateTimes) {
  forEach("datetime", [](std::istringstream& in, const std::string& line) {
    int32_t day, ms;
    std::string expected;
    in >> day >> ms >> expected;
    char key[8];
    key4fromDateTime(key, day, ms);
    EXPECT_EQ(hexOf(key, 8), expected) << line;
  });
}

TEST(CorrectionTable, HoldsTheKnownBits) {
  int count = 0;
  std::string firstSet;
  for (int64_t bit = -1; bit <= 86401; bit++) {
    if (!key4correctionBit(bit)) continue;
    if (++count <= 20) firstSet += std::to_string(bit) + " ";
  }
  EXPECT_EQ(count, 22528);
  EXPECT_EQ(firstSet, "5 6 13 14 20 21 27 28 35 36 42 43 50 51 57 58 65 72 73 79 ");
}

TEST(DateParts, OutsideTheRangeOfParts) {
  uint16_t parts[3] = {1, 1, 1};
  EXPECT_EQ(date4partsFromJulian(0, parts), -1);
  EXPECT_EQ(parts[0] + parts[1] + parts[2], 0);
  EXPECT_EQ(date4partsFromJulian(-7, parts), -1);
  EXPECT_EQ(date4partsFromJulian(INT32_MAX, parts), -1);
  EXPECT_EQ(parts[0] + parts[1] + parts[2], 0);
  // The last day whose year fits 16 bits, and the day after it.
  const int32_t last = static_cast<int32_t>(date4yearDays(65536) + date4julianBase);
  ASSERT_EQ(date4partsFromJulian(last, parts), 0);
  EXPECT_EQ(parts[0], 65535);
  EXPECT_EQ(parts[1], 12);
  EXPECT_EQ(parts[2], 31);
  EXPECT_EQ(date4partsFromJulian(last + 1, parts), -1);
}

}  // namespace
