#include "engine/storage/datetime4.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

std::string timeText(int32_t ms) {
  std::string text(time4textSize + 1, '#');
  time4msToText(text.data(), ms);
  EXPECT_EQ(text.back(), '#') << "wrote past eight bytes";
  text.pop_back();
  return text;
}

TEST(TimeTextTest, RoundsToTheNearestSecond) {
  EXPECT_EQ(timeText(0), "00:00:00");
  EXPECT_EQ(timeText(499), "00:00:00");
  EXPECT_EQ(timeText(500), "00:00:01");
  EXPECT_EQ(timeText(43200000), "12:00:00");
  EXPECT_EQ(timeText(45296789), "12:34:57");
  EXPECT_EQ(timeText(86399499), "23:59:59");
  EXPECT_EQ(timeText(86399500), "24:00:00");
}

TEST(TimeTextTest, ValuesOutsideTheDayStayWithinItsText) {
  EXPECT_EQ(timeText(-1), "00:00:00");
  EXPECT_EQ(timeText(std::numeric_limits<int32_t>::min()), "00:00:00");
  EXPECT_EQ(timeText(86400000), "24:00:00");
  EXPECT_EQ(timeText(std::numeric_limits<int32_t>::max()), "24:00:00");
}

TEST(DateTimeTest, ComparesDayThenMillisecondsSigned) {
  EXPECT_EQ(datetime4compare({2453173, 5}, {2453174, 0}), -1);
  EXPECT_EQ(datetime4compare({2453173, 5}, {2453173, 4}), 1);
  EXPECT_EQ(datetime4compare({2453173, 5}, {2453173, 5}), 0);
  EXPECT_EQ(datetime4compare({-1, 0}, {1, 0}), -1);
  EXPECT_EQ(datetime4compare({0, -1}, {0, 0}), -1);
}

TEST(DateTimeTest, StoredAsTwoLittleEndianWords) {
  unsigned char bytes[datetime4size];
  datetime4store(bytes, {2453173, 43200000});
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 8),
            std::string("\xb5\x6e\x25\x00\x00\x2e\x93\x02", 8));
  const DATETIME4 back = datetime4load(bytes);
  EXPECT_EQ(back.day, 2453173);
  EXPECT_EQ(back.ms, 43200000);
}

}  // namespace
