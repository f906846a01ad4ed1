#pragma once

#include "editions/Edition.h"
#include "exercise/DateTimeFormat.h"
#include "exercise/Levels.h"

#include <QDateTime>
#include <QLocale>

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::exercise {

// Why a paste was refused. The board turns each into a message in the page's language.
enum class ReportProblem {
    NotText,           // bytes that are not UTF-8 text, or control characters other than line ends and tabs
    NotAReport,        // no report where one should start (or text after the last one)
    RowMissing,        // a line missing, out of order, or not the line expected at its place
    UnreadableValue,   // a cents value, the score or the reference-tone word not as the program writes it
    UnknownLevel,      // the level line names no level of the report's edition
    ValueOffStep,      // a cents value not a multiple of the level's step
    ValueOutOfRange,   // a cents value outside what the level can give
    ScoreMismatch,     // the score is not 100 - sum |yours - exact|
    UnreadableTime,    // a start or end time that no known date and time format reads
    EndBeforeStart,
    DurationMismatch,  // the time taken does not match start and end
    UnknownVersion,    // a version line of no known edition
};

// A stable name for logs and tests: "not-a-report", "score-mismatch", ..
std::string_view problemName(ReportProblem problem);

struct ReportError {
    ReportProblem problem = ReportProblem::NotAReport;
    int report = 0;  // 1-based: which report of the paste
    int line = 0;    // 1-based line of the paste (0: the paste as a whole)
    int lineInReport = 0;  // 1 to 26, 0 when no report had started
};

struct ParsedReport {
    Edition edition = Edition::Japanese;
    std::array<int, kPitchClasses> user{};   // the player's corrections, cents
    std::array<int, kPitchClasses> exact{};  // the exact corrections, cents
    int score = 0;
    std::string device;
    std::string instrument;
    int levelIndex = 0;  // 0..3, as the difficulty window's items
    bool referenceUsed = false;
    std::string startText;  // as written in the report
    std::string endText;
    std::string durationText;
    // The player's wall-clock times. The report carries no time zone, so they are held as UTC to
    // keep the server's zone rules out of them.
    QDateTime start;
    QDateTime end;
    int durationSeconds = 0;  // as the report states it
    std::string versionLine;
    std::string text;  // the report exactly as received, its line ends included
    // The same lines as the program writes them (CR LF), and its SHA-256 in hex: one report pasted
    // with other line ends or trailing blanks is the same report.
    std::string canonicalText;
    std::string fingerprint;
    int firstLine = 0;  // 1-based line of the paste where the report starts
};

struct ParseResult {
    std::vector<ParsedReport> reports;  // empty when refused
    std::optional<ReportError> error;
    bool ok() const { return !error.has_value(); }
};

// A user's short date and long time formats with the locale that names months and AM/PM.
struct ReportDateFormat {
    QLocale locale;
    DateTimeFormats formats;
};

// The formats the editions are usually run with, tried in this order: Japanese (Qt's and the
// familiar yyyy/MM/dd H:mm:ss), English of the United States, Britain, Canada and Australia,
// German, French, and the C locale. A date that two of them read differently (3/4/26) is read by
// the first.
const std::vector<ReportDateFormat>& usualReportDateFormats();

// Every report of a paste in order (the clipboard carries every report since the program
// started), either edition, CR LF or LF line ends, blank lines between reports allowed. A paste
// with any problem yields no reports and the first problem found.
ParseResult parseReports(std::string_view paste);
ParseResult parseReports(std::string_view paste, std::span<const ReportDateFormat> dateFormats);

}  // namespace velmora::exercise
