// Dates as the catalogue stores them and as the forms show them.
//
// A stored date is a day count: whole days since 30 December 1899, the
// fraction being the time of day (for a date before that day the fraction
// still counts forward from its midnight). It is shown in the user's
// locale: the short date alone when the time of day is 0, the time alone
// for a count below 1, else both, date first.
#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

// The text of a day count, the time taken to its nearest second and shown
// in the locale's short format (hours and minutes) or its long one (with
// the seconds; a stored date has no zone);
// empty for a count no calendar date has (beyond the year 9999, or not a
// number), as a damaged table may hold.
QString DateTimeText(double days, QLocale::FormatType timeFormat = QLocale::ShortFormat);

// The day count of a date's midnight.
double DayCount(const QDate& date);
