#include <gtest/gtest.h>

#include <QLocale>
#include <limits>

#include "app/DateTimeText.h"

namespace {

// The C locale writes "15 Mar 2023" and "12:00:00".
TEST(DateTimeText, DateAloneTimeAloneOrBothAndNothingForNoDate) {
  const QLocale previous;
  QLocale::setDefault(QLocale::c());
  const struct {
    double days;
    const char* text;
  } cases[] = {
      {45000, "15 Mar 2023"},
      {45000.5, "15 Mar 2023 12:00:00"},
      {45000.25 + 1.0 / 86400, "15 Mar 2023 06:00:01"},
      {45000.9999999999, "16 Mar 2023"},  // rounds to the next midnight
      {0, "30 Dec 1899"},
      {0.75, "18:00:00"},
      {-1.25, "06:00:00"},  // below 1: the time alone, counted from its midnight
      {2958465, "31 Dec 9999"},
      {2958466, ""},
      {-1e300, ""},
      {std::numeric_limits<double>::quiet_NaN(), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DateTimeText(c.days), c.text) << c.days;
  EXPECT_EQ(DayCount(QDate(2023, 3, 15)), 45000);
  EXPECT_EQ(DayCount(QDate(1899, 12, 30)), 0);
  QLocale::setDefault(previous);
}

}  // namespace
