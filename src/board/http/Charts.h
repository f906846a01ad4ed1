#pragma once

#include "board/core/Post.h"

#include <array>
#include <string_view>
#include <vector>

namespace velmora::board {

class HtmlWriter;

// Note names of the pitch classes, C first.
extern const std::array<std::string_view, exercise::kPitchClasses> kPitchClassNames;

// Bars of cents per pitch class around a zero line, sharp up and flat down, drawn as inline SVG
// with presentation attributes only (the pages allow no inline styles).
void writeMissChart(HtmlWriter& html, const std::array<double, exercise::kPitchClasses>& cents,
                    std::string_view title, std::string_view sharpWord, std::string_view flatWord);

struct ScorePoint {
    int score = 0;
    std::string_view label;  // shown under the first and the last point
};
// Scores in order, joined by a line, with a grid at every 20 points.
void writeScoreChart(HtmlWriter& html, const std::vector<ScorePoint>& points, std::string_view title);

}  // namespace velmora::board
