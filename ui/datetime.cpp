// The record-set framework's date-time value and its conversions.
#include "ui/datetime.h"

#include <QLocale>
#include <cmath>

namespace {

constexpr qint64 kMSecsPerDayInt = 86400000;

qint64 FirstDayJulian() { return QDate(1, 1, 1).toJulianDay(); }

// The long time format with its time zone name removed: the values carry no zone.
QString TimeFormatWithoutZone(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString result;
  bool quoted = false;
  for (QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') continue;
    result += c;
  }
  return result.simplified();
}

}  // namespace

double DateTimeToMSecs(TDateTime value) {
  const double days = std::trunc(value);
  const double time = std::round(std::fabs(value - days) * kMSecsPerDay);
  return (kDateDelta + days) * kMSecsPerDay + time;
}

TDateTime MSecsToDateTime(double msecs) {
  const double days = std::floor(msecs / kMSecsPerDay);
  const double time = msecs - days * kMSecsPerDay;
  const double serial = days - kDateDelta;
  // Before the epoch the fraction still counts forward from the start of the day.
  return serial >= 0 ? serial + time / kMSecsPerDay : serial - time / kMSecsPerDay;
}

double QDateTimeToMSecs(const QDateTime& value) {
  if (!value.isValid()) return double(kDateDelta) * kMSecsPerDay;
  const qint64 day = value.date().toJulianDay() - FirstDayJulian() + 1;
  return double(day) * kMSecsPerDay + value.time().msecsSinceStartOfDay();
}

QDateTime MSecsToQDateTime(double msecs) {
  if (!std::isfinite(msecs)) return {};
  const auto whole = static_cast<qint64>(std::llround(msecs));
  qint64 day = whole / kMSecsPerDayInt;
  qint64 time = whole % kMSecsPerDayInt;
  if (time < 0) {
    time += kMSecsPerDayInt;
    --day;
  }
  const QDate date = QDate::fromJulianDay(FirstDayJulian() + day - 1);
  if (!date.isValid()) return {};
  return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(time)));
}

TDateTime QDateTimeToDateTime(const QDateTime& value) { return MSecsToDateTime(QDateTimeToMSecs(value)); }

QDateTime DateTimeToQDateTime(TDateTime value) { return MSecsToQDateTime(DateTimeToMSecs(value)); }

QString DateTimeText(const QDateTime& value, const QLocale& locale) {
  if (!value.isValid()) return {};
  return locale.toString(value.date(), QLocale::ShortFormat) + u' ' +
         locale.toString(value.time(), TimeFormatWithoutZone(locale));
}

QDateTime ParseDateTimeText(const QString& text, const QLocale& locale) {
  QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
  if (parsed.isValid()) return parsed;
  const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
  const QString formats[] = {shortDate + u' ' + TimeFormatWithoutZone(locale),
                             locale.dateTimeFormat(QLocale::ShortFormat), shortDate};
  for (const QString& format : formats) {
    parsed = locale.toDateTime(text, format);
    if (!parsed.isValid()) continue;
    // Qt reads a two-digit year as 19xx; it stands for the century around today.
    const bool twoDigitYear = format.contains(QLatin1String("yy")) && !format.contains(QLatin1String("yyyy"));
    while (twoDigitYear && parsed.date().year() < QDate::currentDate().year() - 50) parsed = parsed.addYears(100);
    return parsed;
  }
  return {};
}

