#include "exercise/DateTimeFormat.h"

#include <QDate>
#include <QTime>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace velmora::exercise {
namespace {

// Fixed formats and the C locale: independent of the machine the tests run on.
const DateTimeFormats kFormats{QStringLiteral("yyyy/MM/dd"), QStringLiteral("H:mm:ss")};
const QLocale kLocale = QLocale::c();

constexpr double kMsPerDay = 86'400'000.0;
constexpr double kNoon20261208 = 46364.5;

double days(double milliseconds)
{
    return milliseconds / kMsPerDay;
}

std::string format(double value)
{
    return formatDateTime(value, kFormats, kLocale);
}

std::string elapsed(double start, double end, const QString& timeFormat = QStringLiteral("H:mm:ss"))
{
    return formatElapsed(start, end, timeFormat, kLocale);
}

// ---------------------------------------------------------------------------------------------
// The day count

TEST(DateTimeValue, KnownDates)
{
    EXPECT_DOUBLE_EQ(toDateTimeValue(QDateTime(QDate(2026, 12, 8), QTime(12, 0))), 46364.5);
    EXPECT_DOUBLE_EQ(toDateTimeValue(QDateTime(QDate(2026, 12, 8), QTime(10, 0))), 46364.0 + 10.0 / 24.0);
    EXPECT_DOUBLE_EQ(toDateTimeValue(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
    EXPECT_DOUBLE_EQ(toDateTimeValue(QDateTime(QDate(1900, 1, 1), QTime(18, 0))), 2.75);
    EXPECT_DOUBLE_EQ(toDateTimeValue(QDateTime(QDate(2000, 1, 1), QTime(0, 0))), 36526.0);
}

TEST(DateTimeValue, BeforeTheEpochTheFractionStillCountsForwards)
{
    EXPECT_DOUBLE_EQ(toDateTimeValue(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
    EXPECT_EQ(fromDateTimeValue(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    EXPECT_EQ(fromDateTimeValue(-2.0), QDateTime(QDate(1899, 12, 28), QTime(0, 0)));
}

TEST(DateTimeValue, FromValue)
{
    EXPECT_EQ(fromDateTimeValue(46364.5), QDateTime(QDate(2026, 12, 8), QTime(12, 0)));
    EXPECT_EQ(fromDateTimeValue(46364.0 + days(1234)), QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1, 234)));
    EXPECT_EQ(fromDateTimeValue(0.0), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
}

TEST(DateTimeValue, RoundsToTheNearestMillisecond)
{
    EXPECT_EQ(fromDateTimeValue(46364.0 + days(999.6)), QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1, 0)));
    EXPECT_EQ(fromDateTimeValue(46364.0 + days(999.4)), QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0, 999)));
    // So close to midnight that it rounds into the next day.
    EXPECT_EQ(fromDateTimeValue(46364.0 + days(kMsPerDay - 0.3)), QDateTime(QDate(2026, 12, 9), QTime(0, 0)));
}

TEST(DateTimeValue, NonFiniteOrAbsurdValuesGiveNoDate)
{
    EXPECT_FALSE(fromDateTimeValue(std::numeric_limits<double>::quiet_NaN()).isValid());
    EXPECT_FALSE(fromDateTimeValue(std::numeric_limits<double>::infinity()).isValid());
    EXPECT_FALSE(fromDateTimeValue(-1e300).isValid());
    EXPECT_EQ(toDateTimeValue(QDateTime()), 0.0);
}

TEST(DateTimeValue, RoundTripToTheMillisecond)
{
    std::mt19937 random(1208);
    std::uniform_int_distribution<int> dayOffset(-20000, 60000);
    std::uniform_int_distribution<int> msOfDay(0, 86'399'999);
    for (int i = 0; i < 2000; ++i) {
        const QDate date = QDate(1899, 12, 30).addDays(dayOffset(random));
        const QTime time = QTime::fromMSecsSinceStartOfDay(msOfDay(random));
        const QDateTime original(date, time);
        // A local time inside a daylight-saving gap does not exist and is moved by Qt; skip it.
        if (original.time() != time)
            continue;
        const QDateTime back = fromDateTimeValue(toDateTimeValue(original));
        EXPECT_EQ(back, original) << original.toString(Qt::ISODateWithMs).toStdString();
    }
}

// ---------------------------------------------------------------------------------------------
// Date and time of the report and the status clock

TEST(FormatDateTime, DateSpaceTime)
{
    EXPECT_EQ(format(kNoon20261208), "2026/12/08 12:00:00");
    EXPECT_EQ(format(46364.0 + 10.0 / 24.0), "2026/12/08 10:00:00");
    EXPECT_EQ(format(46364.0 + days(23 * 3'600'000.0 + 59 * 60'000.0 + 59'999.0)), "2026/12/08 23:59:59");
    EXPECT_EQ(format(46364.0 + days(5 * 60'000.0 + 7'000.0)), "2026/12/08 0:05:07");
}

TEST(FormatDateTime, MidnightToTheSecondShowsTheDateOnly)
{
    EXPECT_EQ(format(46364.0), "2026/12/08");
    EXPECT_EQ(format(46364.0 + days(400)), "2026/12/08");
    EXPECT_EQ(format(46364.0 + days(999)), "2026/12/08");
    EXPECT_EQ(format(46364.0 + days(1000)), "2026/12/08 0:00:01");
    // Rounded to the millisecond first: 0.9996 s is a whole second.
    EXPECT_EQ(format(46364.0 + days(999.6)), "2026/12/08 0:00:01");
    EXPECT_EQ(format(46364.0 + days(kMsPerDay - 0.3)), "2026/12/09");
}

TEST(FormatDateTime, NoDateGivesNoText)
{
    EXPECT_EQ(format(std::numeric_limits<double>::quiet_NaN()), "");
}

TEST(FormatDateTime, FollowsTheFormatsGiven)
{
    const DateTimeFormats other{QStringLiteral("d.M.yy"), QStringLiteral("hh:mm:ss AP")};
    EXPECT_EQ(formatDateTime(46364.0 + days(13 * 3'600'000.0 + 5'000.0), other, kLocale), "8.12.26 01:00:05 PM");
}

// ---------------------------------------------------------------------------------------------
// Time taken

TEST(FormatElapsed, MinutesAndTruncatedSeconds)
{
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208 + days(5 * 60'000.0 + 23'900.0)), "0:05:23");
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208), "0:00:00");
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208 + days(3 * 3'600'000.0 + 59'999.0)), "3:00:59");
}

TEST(FormatElapsed, RoundsToTheNearestMillisecondBeforeTruncating)
{
    EXPECT_EQ(elapsed(0, days(0.9996), QStringLiteral("H:mm:ss.zzz")), "0:00:00.001");
    EXPECT_EQ(elapsed(0, days(0.4), QStringLiteral("H:mm:ss.zzz")), "0:00:00.000");
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208 + days(59'999.6)), "0:01:00");
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208 + days(59'999.4)), "0:00:59");
}

TEST(FormatElapsed, EndBeforeStartShowsTheMagnitude)
{
    EXPECT_EQ(elapsed(kNoon20261208 + days(65'000), kNoon20261208), "0:01:05");
    EXPECT_EQ(elapsed(1.0, 0.0 + days(5'000)), "23:59:55");
}

TEST(FormatElapsed, WholeDaysWrapAround)
{
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208 + 1.0 + days(5'000)), "0:00:05");
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208 + 1.0), "0:00:00");
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208 + 2.0 + days(3'600'000)), "1:00:00");
    EXPECT_EQ(elapsed(kNoon20261208, kNoon20261208 + days(kMsPerDay - 0.3)), "0:00:00");
    EXPECT_EQ(elapsed(0, 1e9 + 0.25), "6:00:00");
}

TEST(FormatElapsed, NonFiniteGivesNoText)
{
    EXPECT_EQ(elapsed(0, std::numeric_limits<double>::infinity()), "");
    EXPECT_EQ(elapsed(std::numeric_limits<double>::quiet_NaN(), 0), "");
}

// ---------------------------------------------------------------------------------------------
// The user's formats

struct ZoneCase {
    const char* format;
    const char* expected;
};
void PrintTo(const ZoneCase& c, std::ostream* out)
{
    *out << '"' << c.format << '"';
}

class TimeFormatWithoutZone : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(TimeFormatWithoutZone, LeavesTheRestAlone)
{
    EXPECT_EQ(withoutTimeZone(QString::fromUtf8(GetParam().format)).toStdString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TimeFormatWithoutZone,
    ::testing::Values(ZoneCase{"HH:mm:ss t", "HH:mm:ss"}, ZoneCase{"h:mm:ss AP t", "h:mm:ss AP"},
                      ZoneCase{"H時mm分ss秒 t", "H時mm分ss秒"}, ZoneCase{"HH:mm:ss tttt", "HH:mm:ss"},
                      ZoneCase{"t HH:mm:ss", "HH:mm:ss"}, ZoneCase{"H:mm:ss (t)", "H:mm:ss"},
                      ZoneCase{"H:mm:ss\u00a0t", "H:mm:ss"}, ZoneCase{"h:mm:ss\u202fAP\u00a0t", "h:mm:ss\u202fAP"},
                      ZoneCase{"HH 'h' mm 'min' ss 's' t", "HH 'h' mm 'min' ss 's'"},
                      ZoneCase{"'at' H:mm:ss t", "'at' H:mm:ss"}, ZoneCase{"'it''s' H:mm:ss t", "'it''s' H:mm:ss"},
                      ZoneCase{"H:mm:ss", "H:mm:ss"}, ZoneCase{"", ""}, ZoneCase{"t", ""}));

TEST(SystemFormats, LongTimeHasNoTimeZoneForAnyLocale)
{
    for (const char* name : {"C", "en_US", "ja_JP", "de_DE", "zh_CN", "ko_KR", "es_ES", "fa_IR", "fr_CA"}) {
        const QLocale locale(QString::fromLatin1(name));
        const DateTimeFormats formats = localeDateTimeFormats(locale);
        EXPECT_EQ(formats.shortDate, locale.dateFormat(QLocale::ShortFormat)) << name;
        EXPECT_EQ(formats.longTime, withoutTimeZone(locale.timeFormat(QLocale::LongFormat))) << name;
        EXPECT_FALSE(formats.longTime.isEmpty()) << name;
        EXPECT_FALSE(formats.longTime.front().isSpace() || formats.longTime.back().isSpace()) << name;
        // Formatting a time shows no zone name or offset whatever the machine's zone.
        const QString shown = locale.toString(QTime(13, 5, 7), formats.longTime);
        EXPECT_FALSE(shown.isEmpty()) << name;
        EXPECT_FALSE(shown.contains(QStringLiteral("UTC")) || shown.contains(QStringLiteral("GMT"))) << name;
    }
    EXPECT_FALSE(systemDateTimeFormats().longTime.isEmpty());
}

}  // namespace
}  // namespace velmora::exercise
