#pragma once

#include <array>
#include <cstdint>

namespace velmora::exercise {

inline constexpr int kPitchClasses = 12;
using Offsets = std::array<std::int32_t, kPitchClasses>;

// A difficulty level: cents per slider step, the slider range and the hidden-offset draw.
struct Level {
    int step;
    int minimum;
    int maximum;
    int drawRange;   // a draw r is uniform in 0 .. drawRange - 1
    int drawCentre;  // offset = (r - drawCentre) * step
    constexpr std::int32_t offsetForDraw(int r) const { return (r - drawCentre) * step; }
};

inline constexpr std::array<Level, 4> kLevels{{
    {1, -32, 31, 40, 20},
    {3, -10, 10, 20, 10},
    {5, -6, 6, 12, 6},
    {10, -3, 3, 6, 3},
}};

// nullptr for an index outside 0..3 (no level selected).
inline constexpr const Level* levelFor(int difficultyIndex)
{
    return difficultyIndex >= 0 && difficultyIndex < int(kLevels.size()) ? &kLevels[std::size_t(difficultyIndex)]
                                                                          : nullptr;
}

}  // namespace velmora::exercise
