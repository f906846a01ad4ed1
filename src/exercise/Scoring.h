#pragma once

#include "exercise/Levels.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::exercise {

// A value field's text as a signed decimal integer: an optional "-" and digits, nothing else.
std::optional<int> parseFieldValue(std::string_view text);

// 100 minus the sum of the twelve misses; no floor, no scaling.
int computeScore(const std::array<int, kPitchClasses>& user, const std::array<int, kPitchClasses>& exact);

// The decimal text a field shows: "0", "-20", "30" (never a "+").
std::string fieldText(int value);

// The closing run of notes after scoring: one step per timer tick.
struct RunStep {
    std::vector<std::array<unsigned char, 3>> messages;
    bool finished = false;
};
inline constexpr int kRunFirstNote = 60;
inline constexpr int kRunEndNote = 74;
// The messages of the tick that starts `note`: note-off of note - 1, note-on of note, and on the
// last tick the note-off of that note as well.
RunStep resultRunTick(int note);

}  // namespace velmora::exercise
