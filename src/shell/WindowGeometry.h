#pragma once

#include <vector>

namespace velmora {

struct ScreenRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The main window's outer geometry from the settings, adjusted so that the window can always be
// reached: sizes clamped to at least minimum and at most the largest screen; when too little of the
// window's top strip (title bar) lies on any screen, it moves to the default position (clamped onto
// the first screen). With no screens known, only the sizes are raised to the minimum.
//
// Screens are in the order the platform lists them, the primary one first; screens without area
// are ignored. Only the fallback's position is used: a moved window keeps its clamped size,
// shrunk further if it is larger than the first screen.
ScreenRect reachableGeometry(ScreenRect requested, const std::vector<ScreenRect>& screens,
                             ScreenRect fallback, int minimumWidth, int minimumHeight);

// How much of the top strip must lie on one screen for the window to count as reachable.
inline constexpr int kTitleStripHeight = 24;
inline constexpr int kReachableStripWidth = 64;
inline constexpr int kReachableStripHeight = 12;

}  // namespace velmora
