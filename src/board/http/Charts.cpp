#include "board/http/Charts.h"

#include "board/http/HtmlWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace velmora::board {

const std::array<std::string_view, exercise::kPitchClasses> kPitchClassNames{
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

namespace {

constexpr std::string_view kInk = "#222222";
constexpr std::string_view kGrid = "#cccccc";
constexpr std::string_view kSharp = "#b8432f";
constexpr std::string_view kFlat = "#2f6fb8";

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string out = text;
    if (out.size() > 2 && out.compare(out.size() - 2, 2, ".0") == 0)
        out.resize(out.size() - 2);
    if (out == "-0")
        out = "0";
    return out;
}

std::string signedNumber(double value)
{
    const std::string text = number(value);
    return value > 0 && text != "0" ? "+" + text : text;
}

}  // namespace

void writeMissChart(HtmlWriter& html, const std::array<double, exercise::kPitchClasses>& cents, std::string_view title,
                    std::string_view sharpWord, std::string_view flatWord)
{
    constexpr double width = 640, height = 280, left = 48, right = 12, top = 24, bottom = 36;
    const double plotHeight = height - top - bottom;
    const double zeroY = top + plotHeight / 2;
    double largest = 4;
    for (double c : cents)
        largest = std::max(largest, std::abs(c));
    // A scale in steps of 4 cents, so that the half-way grid lines carry whole numbers too, with
    // room beyond the longest bar for its value.
    const double scale = std::ceil(largest * 1.15 / 4) * 4;
    const double perCent = (plotHeight / 2) / scale;
    const double slot = (width - left - right) / exercise::kPitchClasses;

    std::string summary(title);
    for (int i = 0; i < exercise::kPitchClasses; ++i)
        summary += std::string(i == 0 ? ": " : ", ") + std::string(kPitchClassNames[std::size_t(i)]) + " "
                 + signedNumber(cents[std::size_t(i)]);
    html.open("svg", {{"xmlns", "http://www.w3.org/2000/svg"}, {"viewBox", "0 0 640 280"}, {"class", "chart"},
                      {"role", "img"}, {"aria-label", summary}});
    html.element("title", summary);
    for (double mark : {scale, scale / 2, 0.0, -scale / 2, -scale}) {
        const std::string y = number(zeroY - mark * perCent);
        html.selfClosing("line", {{"x1", number(left)}, {"x2", number(width - right)}, {"y1", y}, {"y2", y},
                                  {"stroke", mark == 0 ? kInk : kGrid}, {"stroke-width", mark == 0 ? "1.5" : "1"}});
        html.element("text", {{"x", number(left - 6)}, {"y", number(zeroY - mark * perCent + 4)},
                               {"text-anchor", "end"}, {"font-size", "12"}, {"fill", kInk}},
                     signedNumber(mark));
    }
    html.element("text", {{"x", number(left)}, {"y", "14"}, {"font-size", "12"}, {"fill", kSharp}},
                 "▲ " + std::string(sharpWord));
    html.element("text", {{"x", number(width - right)}, {"y", "14"}, {"text-anchor", "end"}, {"font-size", "12"},
                          {"fill", kFlat}},
                 "▼ " + std::string(flatWord));
    for (int i = 0; i < exercise::kPitchClasses; ++i) {
        const double value = cents[std::size_t(i)];
        const double x = left + slot * i + slot * 0.2;
        const double barHeight = std::abs(value) * perCent;
        const double y = value >= 0 ? zeroY - barHeight : zeroY;
        if (barHeight > 0)
            html.selfClosing("rect", {{"x", number(x)}, {"y", number(y)}, {"width", number(slot * 0.6)},
                                      {"height", number(barHeight)}, {"fill", value > 0 ? kSharp : kFlat}});
        const double labelY = value >= 0 ? y - 4 : y + barHeight + 13;
        html.element("text", {{"x", number(x + slot * 0.3)}, {"y", number(labelY)}, {"text-anchor", "middle"},
                              {"font-size", "11"}, {"fill", kInk}},
                     signedNumber(value));
        html.element("text", {{"x", number(x + slot * 0.3)}, {"y", number(height - 12)}, {"text-anchor", "middle"},
                              {"font-size", "13"}, {"fill", kInk}},
                     kPitchClassNames[std::size_t(i)]);
    }
    html.close("svg");
}

void writeScoreChart(HtmlWriter& html, const std::vector<ScorePoint>& points, std::string_view title)
{
    constexpr double width = 640, height = 260, left = 48, right = 16, top = 16, bottom = 40;
    int lowest = 0;
    for (const ScorePoint& p : points)
        lowest = std::min(lowest, p.score);
    const double bottomScore = std::floor(lowest / 20.0) * 20;
    const double perPoint = (height - top - bottom) / (100 - bottomScore);
    const auto yOf = [&](double score) { return top + (100 - score) * perPoint; };
    const double span = width - left - right;
    const auto xOf = [&](std::size_t i) {
        return points.size() < 2 ? left + span / 2 : left + span * double(i) / double(points.size() - 1);
    };

    std::string summary(title);
    if (!points.empty())
        summary += ": " + std::to_string(points.front().score) + " … " + std::to_string(points.back().score);
    html.open("svg", {{"xmlns", "http://www.w3.org/2000/svg"}, {"viewBox", "0 0 640 260"}, {"class", "chart"},
                      {"role", "img"}, {"aria-label", summary}});
    html.element("title", summary);
    for (double mark = 100; mark >= bottomScore; mark -= 20) {
        const std::string y = number(yOf(mark));
        html.selfClosing("line", {{"x1", number(left)}, {"x2", number(width - right)}, {"y1", y}, {"y2", y},
                                  {"stroke", mark == 0 ? kInk : kGrid}});
        html.element("text", {{"x", number(left - 6)}, {"y", number(yOf(mark) + 4)}, {"text-anchor", "end"},
                              {"font-size", "12"}, {"fill", kInk}},
                     number(mark));
    }
    std::string line;
    for (std::size_t i = 0; i < points.size(); ++i)
        line += (i ? " " : "") + number(xOf(i)) + "," + number(yOf(points[i].score));
    if (points.size() > 1)
        html.selfClosing("polyline", {{"points", line}, {"fill", "none"}, {"stroke", kFlat}, {"stroke-width", "2"}});
    for (std::size_t i = 0; i < points.size(); ++i) {
        html.selfClosing("circle", {{"cx", number(xOf(i))}, {"cy", number(yOf(points[i].score))}, {"r", "3.5"},
                                    {"fill", kFlat}});
    }
    if (!points.empty()) {
        html.element("text", {{"x", number(xOf(0))}, {"y", number(height - 14)}, {"text-anchor", points.size() < 2 ? "middle" : "start"},
                              {"font-size", "12"}, {"fill", kInk}},
                     points.front().label);
        if (points.size() > 1)
            html.element("text", {{"x", number(xOf(points.size() - 1))}, {"y", number(height - 14)},
                                  {"text-anchor", "end"}, {"font-size", "12"}, {"fill", kInk}},
                         points.back().label);
    }
    html.close("svg");
}

}  // namespace velmora::board
