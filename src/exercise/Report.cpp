#include "exercise/Report.h"

#include "editions/Catalogue.h"

namespace velmora::exercise {
namespace {

std::string joined(std::string_view label, std::string_view value)
{
    std::string line(label);
    line += value;
    return line;
}

}  // namespace

std::vector<std::string> buildReportLines(Edition edition, const ReportValues& values, const DateTimeFormats& formats)
{
    return buildReportLines(edition, values, formats, QLocale::system());
}

std::vector<std::string> buildReportLines(Edition edition, const ReportValues& values, const DateTimeFormats& formats,
                                          const QLocale& locale)
{
    auto t = [edition](TextKey key) { return text(edition, key); };

    std::vector<std::string> lines;
    lines.reserve(kReportLineCount);
    lines.emplace_back(t(TextKey::RptRule));
    lines.emplace_back(t(TextKey::RptHeading));
    for (std::size_t i = 0; i < values.user.size(); ++i) {
        std::string row(reportRowPrefix(static_cast<int>(i)));
        row += values.user[i];
        row += t(TextKey::RptGap);
        row += values.exact[i];
        lines.push_back(std::move(row));
    }
    lines.emplace_back();
    lines.push_back(joined(t(TextKey::RptScore), values.score));
    lines.emplace_back();
    lines.push_back(joined(t(TextKey::RptDevice), values.device));
    lines.push_back(joined(t(TextKey::RptInstrument), values.instrument));
    // With no level selected the line keeps its label and names none.
    const bool knownLevel = values.difficultyIndex >= 0 && values.difficultyIndex <= 3;
    lines.push_back(joined(t(TextKey::RptLevel), knownLevel ? t(levelNameKey(values.difficultyIndex)) : ""));
    lines.push_back(joined(t(TextKey::RptReference),
                           t(values.referenceUsed ? TextKey::RptReferenceUsed : TextKey::RptReferenceNotUsed)));
    lines.push_back(joined(t(TextKey::RptStart), formatDateTime(values.startTime, formats, locale)));
    lines.push_back(joined(t(TextKey::RptEnd), formatDateTime(values.endTime, formats, locale)));
    lines.push_back(
        joined(t(TextKey::RptDuration), formatElapsed(values.startTime, values.endTime, formats.longTime, locale)));
    lines.emplace_back(t(TextKey::RptVersion));
    lines.emplace_back(t(TextKey::RptRule));
    return lines;
}

std::string joinCrLf(const std::vector<std::string>& lines)
{
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace velmora::exercise
