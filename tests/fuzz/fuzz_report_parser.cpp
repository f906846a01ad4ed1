// The report parser takes whatever a stranger pastes into the board: it must never crash, and
// what it accepts must hold together.
#include "exercise/ReportParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmora::exercise;
    const std::string_view paste(reinterpret_cast<const char*>(data), size);
    const ParseResult result = parseReports(paste);
    if (!result.ok()) {
        require(result.reports.empty());
        require(result.error->line >= 0 && result.error->lineInReport >= 0 && result.error->lineInReport <= 26);
        return 0;
    }
    require(!result.reports.empty());
    std::size_t searchFrom = 0;
    for (const ParsedReport& report : result.reports) {
        // Each report's text is a piece of the paste, in order.
        const std::size_t at = paste.find(report.text, searchFrom);
        require(at != std::string_view::npos);
        searchFrom = at + report.text.size();
        require(report.levelIndex >= 0 && report.levelIndex <= 3);
        require(report.start <= report.end);
        // What was accepted reads back the same from the program's own form of it.
        const ParseResult again = parseReports(report.canonicalText);
        require(again.ok() && again.reports.size() == 1);
        const ParsedReport& same = again.reports[0];
        require(same.fingerprint == report.fingerprint && same.user == report.user && same.exact == report.exact &&
                same.score == report.score && same.start == report.start && same.end == report.end);
    }
    return 0;
}
