#include <gtest/gtest.h>

#include <QLocale>
#include <limits>

#include "app/DateTimeText.h"

namespace {

// British English writes "15/03/2023", "18:00" and "18:00:00".
TEST(DateTimeText, DateAloneTimeAloneOrBothAndNothingForNoDate) {
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
  constexpr auto kShort = QLocale::ShortFormat;
  constexpr auto kLong = QLocale::LongFormat;
  const struct {
    double days;
    QLocale::FormatType time;
    const char* text;
  } cases[] = {
      {45000, kLong, "15/03/2023"},
      {45000.75, kLong, "15/03/2023 18:00:00"},
      {45000.75, kShort, "15/03/2023 18:00"},
      {45000.25 + 1.0 / 86400, kLong, "15/03/2023 06:00:01"},
      {45000.9999999999, kLong, "16/03/2023"},       // rounds to the next midnight
      {37164.953333, kLong, "30/09/2001 22:52:48"},  // to the nearest second
      {37164.953333, kShort, "30/09/2001 22:52"},
      {45000.5236105, kShort, "15/03/2023 12:34"},  // 12:33:59.95
      {0, kShort, "30/12/1899"},
      {0.25, kShort, "06:00"},
      {-1.75, kLong, "18:00:00"},  // below 1: the time alone, counted from its midnight
      {2958465, kShort, "31/12/9999"},
      {2958466, kShort, ""},
      {-1e300, kShort, ""},
      {std::numeric_limits<double>::quiet_NaN(), kLong, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DateTimeText(c.days, c.time), c.text) << c.days;
  EXPECT_EQ(DayCount(QDate(2023, 3, 15)), 45000);
  EXPECT_EQ(DayCount(QDate(1899, 12, 30)), 0);
  QLocale::setDefault(previous);
}

}  // namespace
