// The record-set framework's date-time value and its conversions: the day
// count used by the framework and the millisecond form in which date-time
// fields are stored in record buffers.
#pragma once

#include <QDateTime>
#include <QString>

// Days since 30 December 1899; the fraction is the time of day. Before that
// day the integral part counts days backwards while the fraction still counts
// the time forward (-1.25 is 29 December 1899, 06:00).
using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;
// Day number of 30 December 1899 in the stored form, where 1 January of year 1 is day 1.
constexpr int kDateDelta = 693594;

// Stored form of a date-time field: milliseconds, where 1 January of year 1 is
// day 1, i.e. (days since 0001-01-01 + 1) * 86 400 000 + milliseconds of the day.
double DateTimeToMSecs(TDateTime value);
TDateTime MSecsToDateTime(double msecs);

// The date and time of day, without any time zone conversion. An invalid
// QDateTime converts to 0 (30 December 1899); values outside the calendar
// give an invalid QDateTime.
double QDateTimeToMSecs(const QDateTime& value);
QDateTime MSecsToQDateTime(double msecs);
TDateTime QDateTimeToDateTime(const QDateTime& value);
QDateTime DateTimeToQDateTime(TDateTime value);

// The framework's text of a date-time: the locale's short date followed by
// its long time, without a time zone name.
QString DateTimeText(const QDateTime& value, const QLocale& locale = QLocale());
// Reads a date-time typed by a user or written by DateTimeText: ISO 8601, the
// text DateTimeText writes, the locale's short date and time, or its short
// date alone. A two-digit year means the one within 50 years before today or
// after it. Invalid when none matches.
QDateTime ParseDateTimeText(const QString& text, const QLocale& locale = QLocale());
