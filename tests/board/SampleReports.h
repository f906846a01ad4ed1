#pragma once

#include "exercise/DateTimeFormat.h"
#include "exercise/Levels.h"
#include "exercise/Report.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

namespace velmora::board::testing {

// A report the program could have written, made by the program's own report builder: a level's
// exact corrections, the learner's within two steps of them, the score that follows, either
// edition, a run of one minute to an hour. `serial` (seconds after 2026-01-01 00:00) sets the start
// time, so reports of different serials are different reports.
inline std::string sampleReport(std::mt19937& random, long serial)
{
    namespace ex = velmora::exercise;
    static const ex::DateTimeFormats formats{QStringLiteral("yyyy/MM/dd"), QStringLiteral("H:mm:ss")};
    const int levelIndex = int(random() % 4);
    const ex::Level& level = ex::kLevels[std::size_t(levelIndex)];
    ex::ReportValues values;
    int missed = 0;
    for (int i = 0; i < ex::kPitchClasses; ++i) {
        const int exact = -level.offsetForDraw(int(random() % unsigned(level.drawRange)));
        const int position = std::clamp(exact / level.step + int(random() % 5) - 2, level.minimum, level.maximum);
        const int user = position * level.step;
        missed += std::abs(user - exact);
        values.user[std::size_t(i)] = std::to_string(user);
        values.exact[std::size_t(i)] = std::to_string(exact);
    }
    values.score = std::to_string(100 - missed);
    values.device = "Velmora GS synthesizer";
    values.instrument = "Acoustic Grand Piano";
    values.difficultyIndex = levelIndex;
    values.referenceUsed = (random() & 1) != 0;
    values.startTime = 46023.0 + double(serial) / 86400.0;
    values.endTime = values.startTime + double(60 + random() % 3540) / 86400.0;
    const Edition edition = (random() & 1) ? Edition::English : Edition::Japanese;
    return ex::joinCrLf(ex::buildReportLines(edition, values, formats, QLocale::c()));
}

}  // namespace velmora::board::testing
