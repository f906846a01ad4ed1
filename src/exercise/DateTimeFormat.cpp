#include "exercise/DateTimeFormat.h"

#include <QDate>
#include <QTime>

#include <cmath>
#include <cstdint>

namespace velmora::exercise {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// About 270 000 years either way: far beyond any clock, well inside exact millisecond arithmetic.
constexpr double kLargestDays = 1e8;

QDate epoch()
{
    return QDate(1899, 12, 30);
}

std::int64_t roundedMilliseconds(double days)
{
    return std::llround(days * static_cast<double>(kMsPerDay));
}

}  // namespace

QString withoutTimeZone(const QString& timeFormat)
{
    QString result;
    result.reserve(timeFormat.size());
    auto dropTrailingBlanks = [&result] {
        while (!result.isEmpty() && result.back().isSpace())
            result.chop(1);
    };

    bool quoted = false;
    qsizetype i = 0;
    while (i < timeFormat.size()) {
        const QChar c = timeFormat[i];
        if (c == u'\'') {
            quoted = !quoted;  // "''" toggles twice and stays a literal quote
            result += c;
            ++i;
            continue;
        }
        if (quoted || c != u't') {
            result += c;
            ++i;
            continue;
        }
        while (i < timeFormat.size() && timeFormat[i] == u't')
            ++i;
        dropTrailingBlanks();
        if (result.endsWith(u'(') && i < timeFormat.size() && timeFormat[i] == u')') {
            result.chop(1);
            ++i;
            dropTrailingBlanks();
        }
        if (result.isEmpty())
            while (i < timeFormat.size() && timeFormat[i].isSpace())
                ++i;
    }
    return result;
}

DateTimeFormats localeDateTimeFormats(const QLocale& locale)
{
    return {locale.dateFormat(QLocale::ShortFormat), withoutTimeZone(locale.timeFormat(QLocale::LongFormat))};
}

DateTimeFormats systemDateTimeFormats()
{
    return localeDateTimeFormats(QLocale::system());
}

double toDateTimeValue(const QDateTime& local)
{
    if (!local.isValid())
        return 0;
    const QDateTime time = local.toLocalTime();
    const auto days = static_cast<double>(epoch().daysTo(time.date()));
    const double fraction = time.time().msecsSinceStartOfDay() / static_cast<double>(kMsPerDay);
    return days >= 0 ? days + fraction : days - fraction;
}

QDateTime fromDateTimeValue(double value)
{
    if (!std::isfinite(value) || std::abs(value) > kLargestDays)
        return {};
    const double wholeDays = std::trunc(value);
    std::int64_t msOfDay = roundedMilliseconds(std::abs(value - wholeDays));
    QDate date = epoch().addDays(static_cast<qint64>(wholeDays));
    if (msOfDay >= kMsPerDay) {
        date = date.addDays(1);
        msOfDay = 0;
    }
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msOfDay)));
}

std::string formatDateTime(double value, const DateTimeFormats& formats)
{
    return formatDateTime(value, formats, QLocale::system());
}

namespace {

std::string dateAndTime(double value, const DateTimeFormats& formats, const QLocale& locale, bool timeAtMidnight)
{
    const QDateTime dateTime = fromDateTimeValue(value);
    if (!dateTime.isValid())
        return {};
    QString text = locale.toString(dateTime.date(), formats.shortDate);
    if (timeAtMidnight || dateTime.time().msecsSinceStartOfDay() >= 1000) {
        text += u' ';
        text += locale.toString(dateTime.time(), formats.longTime);
    }
    return text.toStdString();
}

}  // namespace

std::string formatDateTime(double value, const DateTimeFormats& formats, const QLocale& locale)
{
    return dateAndTime(value, formats, locale, false);
}

std::string formatClock(double value, const DateTimeFormats& formats)
{
    return formatClock(value, formats, QLocale::system());
}

std::string formatClock(double value, const DateTimeFormats& formats, const QLocale& locale)
{
    return dateAndTime(value, formats, locale, true);
}

std::string formatElapsed(double start, double end, const QString& longTimeFormat)
{
    return formatElapsed(start, end, longTimeFormat, QLocale::system());
}

std::string formatElapsed(double start, double end, const QString& longTimeFormat, const QLocale& locale)
{
    const double days = std::abs(end - start);
    if (!std::isfinite(days))
        return {};
    // Whole days carry nothing the display shows; dropping them first keeps the rounding exact.
    const std::int64_t ms = roundedMilliseconds(std::fmod(days, 1.0)) % kMsPerDay;
    return locale.toString(QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)), longTimeFormat).toStdString();
}

}  // namespace velmora::exercise
