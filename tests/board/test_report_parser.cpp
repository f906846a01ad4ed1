#include "exercise/ReportParser.h"

#include "editions/Catalogue.h"
#include "exercise/Report.h"
#include "exercise/Scoring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace velmora::exercise {
namespace {

// 2026-12-08 10:00:00 and five minutes 23.9 seconds later.
constexpr double kStart = 46364.0 + 10.0 / 24.0;
constexpr double kEnd = kStart + (5 * 60 + 23.9) / 86400.0;

ReportValues randomValues(std::mt19937& random, int levelIndex)
{
    const Level& level = kLevels[std::size_t(levelIndex)];
    ReportValues values;
    std::array<int, kPitchClasses> user{}, exact{};
    for (std::size_t i = 0; i < kPitchClasses; ++i) {
        const int draw = std::uniform_int_distribution<int>(0, level.drawRange - 1)(random);
        exact[i] = -level.offsetForDraw(draw);
        user[i] = std::uniform_int_distribution<int>(level.minimum, level.maximum)(random) * level.step;
        values.user[i] = fieldText(user[i]);
        values.exact[i] = fieldText(exact[i]);
    }
    values.score = fieldText(computeScore(user, exact));
    values.device = "Synth input port (128:0)";
    values.instrument = std::string(instrumentName(std::uniform_int_distribution<int>(0, 127)(random)));
    values.difficultyIndex = levelIndex;
    values.referenceUsed = random() % 2 == 0;
    values.startTime = kStart;
    values.endTime = kEnd;
    return values;
}

ReportValues sampleValues()
{
    std::mt19937 random(7);
    return randomValues(random, 2);
}

const ReportDateFormat& windowsJapanese()
{
    return usualReportDateFormats()[1];
}

std::string reportText(Edition edition, const ReportValues& values, const ReportDateFormat& format = windowsJapanese())
{
    return joinCrLf(buildReportLines(edition, values, format.formats, format.locale));
}

std::vector<std::string> reportLines(Edition edition, const ReportValues& values)
{
    return buildReportLines(edition, values, windowsJapanese().formats, windowsJapanese().locale);
}

std::string withLf(std::string text)
{
    std::string result;
    for (char c : text)
        if (c != '\r')
            result += c;
    return result;
}

void expectSameValues(const ParsedReport& parsed, Edition edition, const ReportValues& values)
{
    EXPECT_EQ(parsed.edition, edition);
    for (std::size_t i = 0; i < kPitchClasses; ++i) {
        EXPECT_EQ(fieldText(parsed.user[i]), values.user[i]) << i;
        EXPECT_EQ(fieldText(parsed.exact[i]), values.exact[i]) << i;
    }
    EXPECT_EQ(fieldText(parsed.score), values.score);
    EXPECT_EQ(parsed.device, values.device);
    EXPECT_EQ(parsed.instrument, values.instrument);
    EXPECT_EQ(parsed.levelIndex, values.difficultyIndex);
    EXPECT_EQ(parsed.referenceUsed, values.referenceUsed);
    EXPECT_EQ(parsed.versionLine, text(edition, TextKey::RptVersion));
}

// The player's wall-clock time of a date-time value, to the second, as the report can show it.
QDateTime wallClock(double value)
{
    const QDateTime local = fromDateTimeValue(value);
    const QTime time = local.time();
    return QDateTime(local.date(), QTime(time.hour(), time.minute(), time.second()), Qt::UTC);
}

// Australia's d/M/yy is the United States' M/d/yy with day and month swapped: a date that both
// read is read as the first of them that gives the shorter exercise.
void expectSameTime(const QDateTime& parsed, const QDateTime& expected, const ReportDateFormat& format)
{
    if (parsed == expected || format.locale.territory() != QLocale::Australia) {
        EXPECT_EQ(parsed, expected);
        return;
    }
    const QDate date = expected.date();
    EXPECT_EQ(parsed, QDateTime(QDate(date.year(), date.day(), date.month()), expected.time(), Qt::UTC));
}

TEST(ReportParser, ReadsBackWhatTheBuilderWritesInEveryEditionLevelAndUsualDateFormat)
{
    std::mt19937 random(2024);
    for (const ReportDateFormat& format : usualReportDateFormats()) {
        for (Edition edition : {Edition::Japanese, Edition::English}) {
            for (int levelIndex = 0; levelIndex < 4; ++levelIndex) {
                ReportValues values = randomValues(random, levelIndex);
                // Any millisecond of a day in 2000..2040, lasting up to a little over a day.
                values.startTime = std::uniform_real_distribution<double>(36526.0, 51136.0)(random);
                values.endTime = values.startTime + std::uniform_real_distribution<double>(0.0, 1.2)(random);
                if (levelIndex == 3)
                    values.startTime = std::floor(values.startTime);  // midnight: the date alone
                const std::vector<std::string> lines = buildReportLines(edition, values, format.formats, format.locale);
                const std::string written = joinCrLf(lines);
                for (const std::string& paste : {written, withLf(written)}) {
                    SCOPED_TRACE(format.locale.name().toStdString() + " " + format.formats.shortDate.toStdString() +
                                 " " + format.formats.longTime.toStdString() + "\n" + paste);
                    const ParseResult result = parseReports(paste);
                    ASSERT_TRUE(result.ok()) << problemName(result.error->problem) << " line " << result.error->line;
                    ASSERT_EQ(result.reports.size(), 1u);
                    const ParsedReport& parsed = result.reports[0];
                    expectSameValues(parsed, edition, values);
                    EXPECT_EQ(parsed.text, paste);
                    EXPECT_EQ(parsed.canonicalText, written);
                    EXPECT_EQ(parsed.firstLine, 1);
                    expectSameTime(parsed.start, wallClock(values.startTime), format);
                    expectSameTime(parsed.end, wallClock(values.endTime), format);
                    EXPECT_EQ(lines[21], std::string(text(edition, TextKey::RptStart)) + parsed.startText);
                    EXPECT_EQ(lines[22], std::string(text(edition, TextKey::RptEnd)) + parsed.endText);
                    EXPECT_EQ(lines[23], std::string(text(edition, TextKey::RptDuration)) + parsed.durationText);
                    const auto elapsedMs = std::llround((values.endTime - values.startTime) * 86'400'000.0);
                    EXPECT_EQ(parsed.durationSeconds, elapsedMs % 86'400'000 / 1000);
                }
            }
        }
    }
}

TEST(ReportParser, SeveralReportsOfBothEditionsInOnePasteEachKeepItsOwnText)
{
    std::mt19937 random(5);
    const ReportValues first = randomValues(random, 0);
    const ReportValues second = randomValues(random, 3);
    const std::string japanese = reportText(Edition::Japanese, first);
    const std::string english = reportText(Edition::English, second);
    // As the clipboard carries them (directly one after the other), and as typed around them.
    for (const std::string& between : {std::string(), std::string("\r\n  \r\n"), std::string("\n")}) {
        const std::string paste = "\n" + japanese + between + withLf(english) + japanese + "\n\n";
        const ParseResult result = parseReports(paste);
        ASSERT_TRUE(result.ok()) << problemName(result.error->problem) << " line " << result.error->line;
        ASSERT_EQ(result.reports.size(), 3u);
        expectSameValues(result.reports[0], Edition::Japanese, first);
        expectSameValues(result.reports[1], Edition::English, second);
        expectSameValues(result.reports[2], Edition::Japanese, first);
        EXPECT_EQ(result.reports[0].text, japanese);
        EXPECT_EQ(result.reports[1].text, withLf(english));
        EXPECT_EQ(result.reports[2].text, japanese);
        EXPECT_EQ(result.reports[0].firstLine, 2);
        EXPECT_EQ(result.reports[1].firstLine, 2 + kReportLineCount + (between.empty() ? 0 : between == "\n" ? 1 : 2));
        // One report is one report whatever its line ends; two different ones are not.
        EXPECT_EQ(result.reports[0].fingerprint, result.reports[2].fingerprint);
        EXPECT_EQ(result.reports[1].canonicalText, english);
        EXPECT_NE(result.reports[0].fingerprint, result.reports[1].fingerprint);
        EXPECT_EQ(result.reports[0].fingerprint.size(), 64u);
    }
}

TEST(ReportParser, TrailingBlanksAndAByteOrderMarkAreNotPartOfTheReport)
{
    const std::string written = reportText(Edition::Japanese, sampleValues());
    std::string padded;
    for (char c : written)
        padded += c == '\r' ? std::string(" \t\r") : std::string(1, c);
    const ParseResult plain = parseReports(written);
    const ParseResult result = parseReports("\xEF\xBB\xBF" + padded);
    ASSERT_TRUE(plain.ok());
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.reports[0].text, padded);
    EXPECT_EQ(result.reports[0].fingerprint, plain.reports[0].fingerprint);
}

struct Refusal {
    ReportProblem problem;
    int line;
};

Refusal refusal(std::string_view paste)
{
    const ParseResult result = parseReports(paste);
    EXPECT_FALSE(result.ok()) << paste;
    EXPECT_TRUE(result.reports.empty());
    if (result.ok())
        return {ReportProblem::NotAReport, -1};
    return {result.error->problem, result.error->line};
}

std::string joinedWith(std::vector<std::string> lines, std::size_t index, const std::string& replacement)
{
    lines[index] = replacement;
    return joinCrLf(lines);
}

#define EXPECT_REFUSED(paste, expectedProblem, expectedLine)                                        \
    do {                                                                                             \
        const Refusal got = refusal(paste);                                                          \
        EXPECT_EQ(problemName(got.problem), problemName(expectedProblem)) << "line " << got.line;   \
        EXPECT_EQ(got.line, expectedLine);                                                           \
    } while (false)

TEST(ReportParser, RefusesWhatIsNotAReport)
{
    EXPECT_REFUSED("", ReportProblem::NotAReport, 0);
    EXPECT_REFUSED(" \r\n\r\n", ReportProblem::NotAReport, 0);
    EXPECT_REFUSED("great game!\r\n", ReportProblem::NotAReport, 1);
    const std::vector<std::string> lines = reportLines(Edition::Japanese, sampleValues());
    EXPECT_REFUSED(joinedWith(lines, 1, "NOTE YOUR TUNING MASTER TUNING"), ReportProblem::NotAReport, 2);
    // A report followed by words, or cut short.
    EXPECT_REFUSED(joinCrLf(lines) + "thanks\r\n", ReportProblem::NotAReport, 27);
    std::string cut = joinCrLf(lines);
    cut.resize(cut.size() / 2);
    EXPECT_EQ(refusal(cut).problem, ReportProblem::RowMissing);
    EXPECT_REFUSED(std::string(lines[0]) + "\r\n", ReportProblem::NotAReport, 1);
}

TEST(ReportParser, RefusesBytesThatAreNotText)
{
    const std::string written = reportText(Edition::English, sampleValues());
    for (const std::string& bad : {std::string("\0", 1), std::string("\xFF"), std::string("\xC3"), std::string("\xED\xA0\x80"),
                                   std::string("\xC0\xAF"), std::string("\x1B"), std::string("\xC2\x85")}) {
        std::string paste = written;
        paste.insert(paste.find("SOUND GENERATOR:") + 16, bad);
        EXPECT_REFUSED(paste, ReportProblem::NotText, 18);
    }
}

TEST(ReportParser, RefusesAMissingOrMisplacedRow)
{
    const std::vector<std::string> lines = reportLines(Edition::Japanese, sampleValues());
    std::vector<std::string> withoutD = lines;
    withoutD.erase(withoutD.begin() + 4);
    EXPECT_REFUSED(joinCrLf(withoutD), ReportProblem::RowMissing, 5);
    std::vector<std::string> swapped = lines;
    std::swap(swapped[2], swapped[3]);
    EXPECT_REFUSED(joinCrLf(swapped), ReportProblem::RowMissing, 3);
    EXPECT_REFUSED(joinedWith(lines, 14, "x"), ReportProblem::RowMissing, 15);
    EXPECT_REFUSED(joinedWith(lines, 17, "音源：x"), ReportProblem::RowMissing, 18);
    std::vector<std::string> withoutVersion = lines;
    withoutVersion.erase(withoutVersion.begin() + 24);
    EXPECT_REFUSED(joinCrLf(withoutVersion), ReportProblem::RowMissing, 25);
    // The first English edition wrote no level and reference-tone lines: its level is unknown.
    std::vector<std::string> english = reportLines(Edition::English, sampleValues());
    english.erase(english.begin() + 19, english.begin() + 21);
    EXPECT_REFUSED(joinCrLf(english), ReportProblem::RowMissing, 20);
    // A row of the other edition's report is not this one's.
    std::vector<std::string> mixed = lines;
    mixed[15] = "SCORE:" + sampleValues().score;
    EXPECT_REFUSED(joinCrLf(mixed), ReportProblem::RowMissing, 16);
}

TEST(ReportParser, RefusesValuesNotWrittenAsTheProgramWritesThem)
{
    const std::vector<std::string> lines = reportLines(Edition::Japanese, sampleValues());
    const std::string gap(text(Edition::Japanese, TextKey::RptGap));
    const std::string prefix(reportRowPrefix(0));
    for (const char* bad : {"+5", "05", "5.0", "", "five", "--5", "99999999999"})
        EXPECT_REFUSED(joinedWith(lines, 2, prefix + bad + gap + "5"), ReportProblem::UnreadableValue, 3);
    EXPECT_REFUSED(joinedWith(lines, 2, prefix + "5" + "　　　" + "5"), ReportProblem::UnreadableValue, 3);
    EXPECT_REFUSED(joinedWith(lines, 15, "得点：100点"), ReportProblem::UnreadableValue, 16);
    EXPECT_REFUSED(joinedWith(lines, 20, "基準音の使用：たまに"), ReportProblem::UnreadableValue, 21);
}

TEST(ReportParser, RefusesAnUnknownLevelAndValuesTheLevelCannotGive)
{
    ReportValues values = sampleValues();
    values.difficultyIndex = -1;  // no level selected: the builder writes the label alone
    EXPECT_REFUSED(reportText(Edition::Japanese, values), ReportProblem::UnknownLevel, 20);
    EXPECT_REFUSED(joinedWith(reportLines(Edition::English, sampleValues()), 19, "SENSITIVITY:2 Cent"),
                   ReportProblem::UnknownLevel, 20);

    auto atLevel = [](int levelIndex, int pitchClass, const std::string& user, const std::string& exact) {
        ReportValues v;
        v.difficultyIndex = levelIndex;
        v.startTime = kStart;
        v.endTime = kEnd;
        std::array<int, kPitchClasses> userCents{}, exactCents{};
        for (std::size_t i = 0; i < kPitchClasses; ++i)
            v.user[i] = v.exact[i] = "0";
        v.user[std::size_t(pitchClass)] = user;
        v.exact[std::size_t(pitchClass)] = exact;
        userCents[std::size_t(pitchClass)] = std::stoi(user);
        exactCents[std::size_t(pitchClass)] = std::stoi(exact);
        v.score = fieldText(computeScore(userCents, exactCents));
        return reportText(Edition::Japanese, v);
    };
    // Steps of 10 cents: 5 is off the step, for the player's column and the exact one alike.
    EXPECT_REFUSED(atLevel(3, 4, "5", "0"), ReportProblem::ValueOffStep, 7);
    EXPECT_REFUSED(atLevel(3, 4, "0", "-15"), ReportProblem::ValueOffStep, 7);
    // 1-cent level: sliders -32..31, exact corrections -19..20.
    EXPECT_TRUE(parseReports(atLevel(0, 0, "-32", "20")).ok());
    EXPECT_TRUE(parseReports(atLevel(0, 0, "31", "-19")).ok());
    EXPECT_REFUSED(atLevel(0, 0, "32", "0"), ReportProblem::ValueOutOfRange, 3);
    EXPECT_REFUSED(atLevel(0, 11, "-33", "0"), ReportProblem::ValueOutOfRange, 14);
    EXPECT_REFUSED(atLevel(0, 11, "0", "21"), ReportProblem::ValueOutOfRange, 14);
    EXPECT_REFUSED(atLevel(0, 11, "0", "-20"), ReportProblem::ValueOutOfRange, 14);
    // 3-cent level: sliders -30..30, exact -27..30.
    EXPECT_TRUE(parseReports(atLevel(1, 5, "-30", "30")).ok());
    EXPECT_REFUSED(atLevel(1, 5, "0", "-30"), ReportProblem::ValueOutOfRange, 8);
}

TEST(ReportParser, RefusesAScoreThatIsNotAHundredLessTheMisses)
{
    ReportValues values = sampleValues();
    const int score = std::stoi(values.score);
    for (int wrong : {score + 1, score - 1, 100}) {
        if (wrong == score)
            continue;
        values.score = fieldText(wrong);
        EXPECT_REFUSED(reportText(Edition::English, values), ReportProblem::ScoreMismatch, 16);
    }
}

TEST(ReportParser, RefusesTimesThatDoNotAddUp)
{
    ReportValues values = sampleValues();
    std::swap(values.startTime, values.endTime);
    EXPECT_REFUSED(reportText(Edition::Japanese, values), ReportProblem::EndBeforeStart, 23);

    const std::vector<std::string> lines = reportLines(Edition::Japanese, sampleValues());
    EXPECT_EQ(lines[23], "所要時間：0:05:23");
    EXPECT_REFUSED(joinedWith(lines, 23, "所要時間：0:07:23"), ReportProblem::DurationMismatch, 24);
    EXPECT_REFUSED(joinedWith(lines, 23, "所要時間：0:05:25"), ReportProblem::DurationMismatch, 24);
    EXPECT_TRUE(parseReports(joinedWith(lines, 23, "所要時間：0:05:22")).ok());  // start and end are whole seconds
    EXPECT_REFUSED(joinedWith(lines, 23, "所要時間：5 minutes"), ReportProblem::UnreadableTime, 24);
    EXPECT_REFUSED(joinedWith(lines, 21, "調律開始時刻：yesterday"), ReportProblem::UnreadableTime, 22);
    EXPECT_REFUSED(joinedWith(lines, 21, "調律開始時刻：2026/13/08 10:00:00"), ReportProblem::UnreadableTime, 22);
    EXPECT_REFUSED(joinedWith(lines, 22, "調律終了時刻：2026/12/08 25:05:23"), ReportProblem::UnreadableTime, 23);
    // Start and end in two different formats: no one player's machine writes that.
    EXPECT_REFUSED(joinedWith(lines, 22, "調律終了時刻：12/8/26 10:05:23 AM"), ReportProblem::UnreadableTime, 23);
}

TEST(ReportParser, RefusesAnUnknownVersionLine)
{
    const std::vector<std::string> lines = reportLines(Edition::Japanese, sampleValues());
    EXPECT_REFUSED(joinedWith(lines, 24, "Velmora Version 1.35"), ReportProblem::UnknownVersion, 25);
    EXPECT_REFUSED(joinedWith(lines, 24, std::string(text(Edition::English, TextKey::RptVersion))),
                   ReportProblem::UnknownVersion, 25);
}

TEST(ReportParser, NamesTheReportAndLineOfARefusalInALongPaste)
{
    ReportValues bad = sampleValues();
    bad.score = fieldText(std::stoi(bad.score) + 3);
    const std::string good = reportText(Edition::Japanese, sampleValues());
    const ParseResult result = parseReports(good + "\r\n" + good + reportText(Edition::English, bad));
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.reports.empty());
    EXPECT_EQ(result.error->problem, ReportProblem::ScoreMismatch);
    EXPECT_EQ(result.error->report, 3);
    EXPECT_EQ(result.error->lineInReport, 16);
    EXPECT_EQ(result.error->line, 2 * kReportLineCount + 1 + 16);
}

}  // namespace
}  // namespace velmora::exercise
