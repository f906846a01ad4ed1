#include "exercise/Report.h"

#include "editions/Catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::exercise {
namespace {

const DateTimeFormats kFormats{QStringLiteral("yyyy/MM/dd"), QStringLiteral("H:mm:ss")};

constexpr std::string_view kIdeographicSpace = "\u3000";
// 2026-12-08 10:00:00, and five minutes 23.9 seconds later.
constexpr double kStart = 46364.0 + 10.0 / 24.0;
constexpr double kEnd = kStart + (5 * 60 + 23.9) / 86400.0;

ReportValues sampleValues()
{
    ReportValues values;
    values.user = {"3", "-2", "0", "10", "-15", "5", "0", "0", "1", "0", "-1", "2"};
    values.exact = {"5", "-2", "0", "12", "-15", "3", "0", "1", "1", "0", "-1", "-20"};
    values.score = "-20";
    values.device = "Synth input port (128:0)";
    values.instrument = "Acoustic Grand Piano";
    values.difficultyIndex = 2;
    values.referenceUsed = false;
    values.startTime = kStart;
    values.endTime = kEnd;
    return values;
}

std::vector<std::string> build(Edition edition, const ReportValues& values)
{
    return buildReportLines(edition, values, kFormats, QLocale::c());
}

TEST(Report, JapaneseReportLineByLine)
{
    const std::vector<std::string> expected{
        "---------------------------------",
        "音名　貴方の調律　正解の調律",
        "C 　　　3　　　　　　5",
        "C#　　　-2　　　　　　-2",
        "D 　　　0　　　　　　0",
        "D#　　　10　　　　　　12",
        "E 　　　-15　　　　　　-15",
        "F 　　　5　　　　　　3",
        "F#　　　0　　　　　　0",
        "G 　　　0　　　　　　1",
        "G#　　　1　　　　　　1",
        "A 　　　0　　　　　　0",
        "A#　　　-1　　　　　　-1",
        "B 　　　2　　　　　　-20",
        "",
        "得点：-20",
        "",
        "使用音源：Synth input port (128:0)",
        "音色：Acoustic Grand Piano",
        "難易度：中級",
        "基準音の使用：不使用",
        "調律開始時刻：2026/12/08 10:00:00",
        "調律終了時刻：2026/12/08 10:05:23",
        "所要時間：0:05:23",
        "Velmora Version 1.34",
        "---------------------------------",
    };
    EXPECT_EQ(build(Edition::Japanese, sampleValues()), expected);
}

TEST(Report, EnglishReportLineByLine)
{
    ReportValues values = sampleValues();
    values.referenceUsed = true;
    values.difficultyIndex = 3;
    const std::vector<std::string> lines = build(Edition::English, values);
    ASSERT_EQ(lines.size(), 26u);
    EXPECT_EQ(lines[0], "---------------------------------");
    EXPECT_EQ(lines[1], "NOTE　YOUR TUNING　MASTER TUNING");
    EXPECT_EQ(lines[2], "C 　　　3　　　　　　5");
    EXPECT_EQ(lines[13], "B 　　　2　　　　　　-20");
    EXPECT_EQ(lines[14], "");
    EXPECT_EQ(lines[15], "SCORE:-20");
    EXPECT_EQ(lines[16], "");
    EXPECT_EQ(lines[17], "SOUND GENERATOR:Synth input port (128:0)");
    EXPECT_EQ(lines[18], "INSTRUMENT:Acoustic Grand Piano");
    EXPECT_EQ(lines[19], "SENSITIVITY:10 Cent");
    EXPECT_EQ(lines[20], "REFERENCE TONE:use");
    EXPECT_EQ(lines[21], "START TUNING TIME : 2026/12/08 10:00:00");
    EXPECT_EQ(lines[22], "END TUNING TIME : 2026/12/08 10:05:23");
    EXPECT_EQ(lines[23], "TIME REQUIRED : 0:05:23");
    EXPECT_EQ(lines[24], "VELMORA VERSION 1.34");
    EXPECT_EQ(lines[25], "---------------------------------");
}

TEST(Report, RowIsPrefixValueSixIdeographicSpacesValue)
{
    const std::string sixSpaces = "\u3000\u3000\u3000\u3000\u3000\u3000";
    for (Edition edition : {Edition::Japanese, Edition::English}) {
        const auto lines = build(edition, sampleValues());
        EXPECT_EQ(lines[2], "C \u3000\u3000\u3000" "3" + sixSpaces + "5");
        EXPECT_EQ(lines[3], "C#\u3000\u3000\u3000" "-2" + sixSpaces + "-2");
    }
}

TEST(Report, IdeographicSpacesInTheHeadingAndEveryRowOfBothEditions)
{
    for (Edition edition : {Edition::Japanese, Edition::English}) {
        const auto lines = build(edition, sampleValues());
        EXPECT_NE(lines[1].find(kIdeographicSpace), std::string::npos);
        for (int row = 2; row <= 13; ++row)
            EXPECT_NE(lines[static_cast<std::size_t>(row)].find(kIdeographicSpace), std::string::npos) << row;
    }
}

TEST(Report, ReferenceToneUsedOrNot)
{
    ReportValues values = sampleValues();
    values.referenceUsed = false;
    EXPECT_EQ(build(Edition::Japanese, values)[20], "基準音の使用：不使用");
    EXPECT_EQ(build(Edition::English, values)[20], "REFERENCE TONE:disuse");
    values.referenceUsed = true;
    EXPECT_EQ(build(Edition::Japanese, values)[20], "基準音の使用：使用");
    EXPECT_EQ(build(Edition::English, values)[20], "REFERENCE TONE:use");
}

TEST(Report, LevelNameByDifficultyIndex)
{
    const std::vector<std::string> japanese{"特級", "上級", "中級", "初級"};
    const std::vector<std::string> english{"1 Cent", "3 Cent", "5 Cent", "10 Cent"};
    ReportValues values = sampleValues();
    for (int index = 0; index < 4; ++index) {
        values.difficultyIndex = index;
        EXPECT_EQ(build(Edition::Japanese, values)[19], "難易度：" + japanese[static_cast<std::size_t>(index)]);
        EXPECT_EQ(build(Edition::English, values)[19], "SENSITIVITY:" + english[static_cast<std::size_t>(index)]);
    }
    // No level selected in the window: the label alone.
    for (int index : {-1, 4}) {
        values.difficultyIndex = index;
        EXPECT_EQ(build(Edition::Japanese, values)[19], "難易度：");
    }
}

TEST(Report, ValuesAreWrittenAsDisplayed)
{
    ReportValues values = sampleValues();
    values.score = "-20";
    values.user[0] = "-64";
    values.exact[0] = "+7";  // not reformatted
    values.device = "";
    const auto lines = build(Edition::Japanese, values);
    EXPECT_EQ(lines[15], "得点：-20");
    EXPECT_EQ(lines[2], "C 　　　-64　　　　　　+7");
    EXPECT_EQ(lines[17], "使用音源：");
}

TEST(Report, StartAtMidnightShowsTheDateOnly)
{
    ReportValues values = sampleValues();
    values.startTime = 46364.0;
    values.endTime = 46364.0 + 1.0 + 5.0 / 86400.0;
    const auto lines = build(Edition::Japanese, values);
    EXPECT_EQ(lines[21], "調律開始時刻：2026/12/08");
    EXPECT_EQ(lines[22], "調律終了時刻：2026/12/09 0:00:05");
    EXPECT_EQ(lines[23], "所要時間：0:00:05");
}

TEST(Report, EndBeforeStartShowsTheTimeTakenAsAMagnitude)
{
    ReportValues values = sampleValues();
    std::swap(values.startTime, values.endTime);
    EXPECT_EQ(build(Edition::Japanese, values)[23], "所要時間：0:05:23");
}

TEST(Report, TwentySixLinesInBothEditionsFromTheCatalogue)
{
    for (Edition edition : {Edition::Japanese, Edition::English}) {
        const auto lines = build(edition, sampleValues());
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(kReportLineCount));
        EXPECT_EQ(lines.front(), text(edition, TextKey::RptRule));
        EXPECT_EQ(lines.back(), text(edition, TextKey::RptRule));
        EXPECT_EQ(lines[24], text(edition, TextKey::RptVersion));
        for (const std::string& line : lines)
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    }
}

TEST(ReportText, EveryLineEndsWithCrLf)
{
    const auto lines = build(Edition::Japanese, sampleValues());
    const std::string text = joinCrLf(lines);
    std::size_t crLfCount = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++crLfCount;
    EXPECT_EQ(crLfCount, 26u);
    EXPECT_TRUE(text.ends_with("---------------------------------\r\n"));
    EXPECT_TRUE(text.starts_with("---------------------------------\r\n音名"));
    EXPECT_NE(text.find("\r\n\r\n得点：-20\r\n\r\n"), std::string::npos);
    std::size_t lineFeeds = 0;
    for (char c : text)
        lineFeeds += c == '\n';
    EXPECT_EQ(lineFeeds, 26u);
}

TEST(ReportText, ReportsFollowEachOtherDirectly)
{
    const auto lines = build(Edition::English, sampleValues());
    const std::string twice = joinCrLf(lines) + joinCrLf(lines);
    EXPECT_NE(twice.find("---------------------------------\r\n---------------------------------\r\nNOTE"),
              std::string::npos);
    EXPECT_EQ(joinCrLf({}), "");
    EXPECT_EQ(joinCrLf({""}), "\r\n");
}

}  // namespace
}  // namespace velmora::exercise
