#include "app/DateTimeText.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>
#include <cmath>

namespace {

// QDate's Julian day of day 0, 30 December 1899.
constexpr qint64 kJulianDayOfDayZero = 2415019;
// Day counts of 1 January 0001 and 31 December 9999.
constexpr double kFirstDay = -693593;
constexpr double kLastDay = 2958465;
constexpr qint64 kSecondsPerDay = 86400;

// The locale's time format without the time zone of its long form.
QString timeFormatOf(const QLocale& locale, QLocale::FormatType type) {
  static const QRegularExpression zone(QStringLiteral("\\s*t+"));
  return locale.timeFormat(type).remove(zone).trimmed();
}

}  // namespace

QString DateTimeText(double days, QLocale::FormatType timeFormat) {
  if (!(days >= kFirstDay && days < kLastDay + 1)) return QString();
  qint64 whole = static_cast<qint64>(std::trunc(days));
  // To the nearest second: a stored second may read back a hair below
  // itself (an archive's six decimals of a day are 0.0864 s apart).
  qint64 seconds = std::llround(std::fabs(days - static_cast<double>(whole)) * kSecondsPerDay);
  // A time that rounds to the next midnight is that midnight.
  if (seconds >= kSecondsPerDay) {
    seconds = 0;
    whole += 1;
  }
  const QLocale locale;
  const QString date =
      locale.toString(QDate::fromJulianDay(kJulianDayOfDayZero + whole), QLocale::ShortFormat);
  if (seconds == 0) return date;
  const QString time =
      locale.toString(QTime::fromMSecsSinceStartOfDay(static_cast<int>(seconds * 1000)),
                      timeFormatOf(locale, timeFormat));
  return days < 1 ? time : date + QLatin1Char(' ') + time;
}

double DayCount(const QDate& date) {
  return static_cast<double>(date.toJulianDay() - kJulianDayOfDayZero);
}
