#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <string>

namespace velmora::exercise {

struct DateTimeFormats {
    QString shortDate;  // QLocale/QDateTime format strings
    QString longTime;
};

// From QLocale::system(): short date format and long time format, with any time-zone part
// ("t", "tttt" etc.) and the spaces before it removed.
DateTimeFormats systemDateTimeFormats();
DateTimeFormats localeDateTimeFormats(const QLocale& locale);
// A time format without its time-zone field, the blanks before it and brackets around it; text
// in quotes is left alone.
QString withoutTimeZone(const QString& timeFormat);

// Date-times are days since 1899-12-30 00:00 local time, the fraction being the time of day.
// Before that day the whole days count backwards while the fraction still counts forwards
// (-1.25 is 1899-12-29 06:00), as in the date-time type the format comes from.
double toDateTimeValue(const QDateTime& local);
// Rounded to the nearest millisecond; invalid for a value that is not a finite date.
QDateTime fromDateTimeValue(double value);

// Short date, one space, long time; the space and the time are left out when the time of day is
// 0:00:00 to the second. Names of months and AM/PM come from the system locale, or the one given.
std::string formatDateTime(double value, const DateTimeFormats& formats);
std::string formatDateTime(double value, const DateTimeFormats& formats, const QLocale& locale);
// The status clock: short date, one space, long time, at midnight as at any other time.
std::string formatClock(double value, const DateTimeFormats& formats);
std::string formatClock(double value, const DateTimeFormats& formats, const QLocale& locale);

// end − start in whole milliseconds (rounded to nearest), magnitude modulo one day, shown as a
// time of day with the long time format (seconds truncated).
std::string formatElapsed(double start, double end, const QString& longTimeFormat);
std::string formatElapsed(double start, double end, const QString& longTimeFormat, const QLocale& locale);

}  // namespace velmora::exercise

namespace velmora {
using exercise::DateTimeFormats;
using exercise::formatClock;
using exercise::formatDateTime;
using exercise::formatElapsed;
using exercise::fromDateTimeValue;
using exercise::localeDateTimeFormats;
using exercise::systemDateTimeFormats;
using exercise::toDateTimeValue;
}  // namespace velmora
