#pragma once

#include "editions/Edition.h"
#include "exercise/DateTimeFormat.h"

#include <array>
#include <string>
#include <vector>

namespace velmora::exercise {

inline constexpr int kReportLineCount = 26;

struct ReportValues {
    std::array<std::string, 12> user;    // the results window's fields exactly as displayed
    std::array<std::string, 12> exact;
    std::string score;                   // Label16's text
    std::string device;                  // the main window's device list text
    std::string instrument;              // the instrument list text
    int difficultyIndex = 0;
    bool referenceUsed = false;
    double startTime = 0;
    double endTime = 0;
};

// The report's lines without line ends, in order, texts from the catalogue by the edition.
// Both editions carry the difficulty and reference-tone lines, so every report has 26 lines.
std::vector<std::string> buildReportLines(Edition edition, const ReportValues& values, const DateTimeFormats& formats);
// As above, with the names of months and AM/PM from the given locale instead of the system's.
std::vector<std::string> buildReportLines(Edition edition, const ReportValues& values, const DateTimeFormats& formats,
                                          const QLocale& locale);
// Every line followed by CR LF, the last included.
std::string joinCrLf(const std::vector<std::string>& lines);

}  // namespace velmora::exercise
