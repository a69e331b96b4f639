#include "engine/storage/date4.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "engine/storage/code4.h"
#include "engine/storage/error4.h"
#include "tests/support/error_recorder.h"
#include "tests/support/fake_os.h"

using testing_support::ErrorRecorder;
using testing_support::FakeOs;

namespace {

std::string assigned(int32_t julian, int zeros = 0) {
  char text[9] = "########";
  date4assign(text, julian, zeros);
  return text;
}

// Every date the date text can hold from year 1 on, against the standard
// library's calendar: the day number is the days since 1970-01-01 plus
// 2440588.
TEST(DateRoundTripTest, EveryDateOfYears1To9999MatchesTheCalendar) {
  using namespace std::chrono;
  const sys_days first = year{1} / January / 1;
  const sys_days last = year{9999} / December / 31;
  char text[9] = {};
  char expected[9] = {};
  auto put = [&expected](int at, int value, int width) {
    for (int i = at + width - 1; i >= at; --i, value /= 10) expected[i] = char('0' + value % 10);
  };
  for (sys_days day = first; day <= last; day += days{1}) {
    const year_month_day date{day};
    const int y = static_cast<int>(date.year());
    const int m = static_cast<int>(static_cast<unsigned>(date.month()));
    const int d = static_cast<int>(static_cast<unsigned>(date.day()));
    const int32_t julian = static_cast<int32_t>(day.time_since_epoch().count() + 2440588);
    ASSERT_EQ(date4julian(y, m, d), julian) << y << "-" << m << "-" << d;
    date4assign(text, julian, 0);
    put(0, y, 4);
    put(4, m, 2);
    put(6, d, 2);
    ASSERT_STREQ(text, expected);
    ASSERT_EQ(date4long(text), julian) << text;
  }
}

TEST(DateJulianTest, TextAndDayNumbers) {
  EXPECT_EQ(date4long("20040616"), 2453173);
  EXPECT_EQ(assigned(2453173), "20040616");
  EXPECT_EQ(date4long("        "), 0);
  EXPECT_EQ(date4long("00000000"), 0);
  EXPECT_EQ(date4long("2004 616"), 2453173);  // a blank-padded month
  EXPECT_EQ(date4long("2004O616"), -1);
  EXPECT_EQ(date4long("20041301"), -1);

  EXPECT_EQ(date4julian(2004, 2, 30), -1);
  EXPECT_EQ(date4julian(1900, 2, 29), -1);
  EXPECT_EQ(date4julian(2000, 2, 29), 2451604);
  EXPECT_EQ(date4yearDay(-1, 1, 1), -1);
  EXPECT_EQ(date4yearDay(2004, 13, 1), -1);
  EXPECT_EQ(date4julian(6000000, 1, 1), -1);  // beyond 32 bits

  int32_t month = -1;
  int32_t day = -1;
  EXPECT_EQ(date4monthDay(2004, 60, &month, &day), 0);
  EXPECT_EQ(month * 100 + day, 229);
  EXPECT_EQ(date4monthDay(2003, 60, &month, &day), 0);
  EXPECT_EQ(month * 100 + day, 301);
  EXPECT_EQ(date4monthDay(2003, 366, &month, &day), -1);
  EXPECT_EQ(month + day, 0);
}

// Stored day numbers of year 0 were counted with the truncating formula.
TEST(DateJulianTest, YearZeroKeepsTheTruncatingCount) {
  EXPECT_EQ(date4yearDays(0), -365);
  EXPECT_EQ(assigned(1721425), "00001230");
}

TEST(DateJulianTest, DayNumbersOutsideTheTextGiveTheEmptyDate) {
  EXPECT_EQ(assigned(0), "        ");
  EXPECT_EQ(assigned(-5, 1), "00000000");
  EXPECT_EQ(assigned(1), "        ");  // year -4713
  EXPECT_EQ(assigned(date4julian(9999, 12, 31)), "99991231");
  EXPECT_EQ(assigned(date4julian(9999, 12, 31) + 1), "        ");
  EXPECT_EQ(assigned(INT32_MAX, 1), "00000000");
}

std::string formatted(const char* date, const char* picture) {
  char out[date4pictureSize];
  EXPECT_EQ(date4format(date, out, picture), 0);
  return out;
}

TEST(DateFormatTest, PicturesAndMonthNames) {
  EXPECT_EQ(formatted("20040616", "MM/DD/YY"), "06/16/04");
  EXPECT_EQ(formatted("20040616", "CCYYMMDD"), "20040616");
  EXPECT_EQ(formatted("20040616", "MMM DD, CCYY"), "Jun 16, 2004");
  EXPECT_EQ(formatted("20040616", "dd.mm.ccyy"), "16.06.2004");
  EXPECT_EQ(formatted("20040516", "MMMM"), "May ");
  EXPECT_EQ(formatted("20040916", "MMMMMMMMMMMM"), "September   ");
  EXPECT_EQ(formatted("20041316", "MMM"), "Dec");  // clamped
  EXPECT_EQ(formatted("        ", "MM/DD/YY"), "  /  /  ");
  EXPECT_EQ(formatted("        ", "MMM DD"), "      ");
}

TEST(DateFormatTest, PicturesAreNeverChanged) {
  CODE4 c;
  ASSERT_EQ(code4dateFormatSet(&c, "mmm dd, ccyy"), 0);
  EXPECT_EQ(formatted("20040616", code4dateFormat(&c)), "Jun 16, 2004");
  EXPECT_STREQ(code4dateFormat(&c), "mmm dd, ccyy");

  char out[32] = "untouched";
  EXPECT_EQ(date4format("20040616", out, "CCYY-MM-DD CCYY-MM-DD"), e4parm);  // 21 characters
  EXPECT_STREQ(out, "untouched");
}

class DateClockTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_.now = platform::LocalTime{2004, 6, 16, 9, 5, 7, 250}; }
  FakeOs fake_;
  platform::ScopedOs scope_{fake_};
};

std::string parsed(const char* input, const char* picture) {
  char text[9] = "########";
  EXPECT_EQ(date4init(text, input, picture), 0);
  return text;
}

TEST_F(DateClockTest, ParsingTakesMissingPartsFromTodayAndOne) {
  EXPECT_EQ(parsed("06/16/04", "MM/DD/YY"), "20040616");
  EXPECT_EQ(parsed("16", "DD"), "20010116");
  EXPECT_EQ(parsed("20040616", "ccyymmdd"), "20040616");
  EXPECT_EQ(parsed("", "MM/DD/YY"), "        ");
  EXPECT_EQ(parsed("06/16", "MM/DD/YY"), "20000616");
  fake_.now->year = 1999;
  EXPECT_EQ(parsed("06/16/04", "MM/DD/YY"), "19040616");
}

TEST_F(DateClockTest, ParsingReadsMonthNames) {
  EXPECT_EQ(parsed("Jun 16, 2004", "MMM DD, CCYY"), "20040616");
  EXPECT_EQ(parsed("sEP 01, 2004", "MMM DD, CCYY"), "20040901");
  EXPECT_EQ(parsed("Ju  16, 2004", "MMM DD, CCYY"), "20040616");  // first match
  EXPECT_EQ(parsed("Xyz 16, 2004", "MMM DD, CCYY"), "20040016");
  EXPECT_EQ(parsed("    16, 2004", "MMM DD, CCYY"), "20040016");  // no name, no month
}

TEST_F(DateClockTest, TodayAndNowFromTheLocalClock) {
  char text[9] = {};
  date4today(text);
  EXPECT_STREQ(text, "20040616");
  date4timeNow(text);
  EXPECT_STREQ(text, "09:05:07");
  uint8_t bytes[3];
  fake_.now->year = 2100;
  date4todayBytes(bytes);
  EXPECT_EQ(bytes[0], 0);  // the header keeps year % 100
  EXPECT_EQ(bytes[1], 6);
  EXPECT_EQ(bytes[2], 16);
}

TEST(DatePictureSettingTest, RefusesLongPicturesAndMissingArguments) {
  CODE4 c;
  EXPECT_STREQ(code4dateFormat(&c), "MM/DD/YY");
  ErrorRecorder recorder;
  EXPECT_EQ(code4dateFormatSet(&c, "0123456789012345678"), 0);  // 19 characters
  EXPECT_EQ(code4dateFormatSet(&c, "01234567890123456789"), e4parm);
  EXPECT_STREQ(code4dateFormat(&c), "0123456789012345678");
  EXPECT_EQ(code4dateFormatSet(nullptr, "MM"), e4parmNull);
  EXPECT_EQ(code4dateFormat(nullptr), nullptr);

  auto errors = recorder.errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].c, &c);
  EXPECT_EQ(errors[0].location, 90432);
  EXPECT_EQ(errors[1].c, nullptr);
  EXPECT_EQ(errors[1].location, 90432);
  EXPECT_EQ(errors[2].location, 90433);
}

}  // namespace
