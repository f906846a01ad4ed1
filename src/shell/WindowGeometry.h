#pragma once

#include <optional>
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

// Where a window opens at its first position: left where its outer rectangle lies wholly on one
// screen; otherwise moved the least onto the screen it overlaps most (the first screen when it
// overlaps none), so that a large scale factor or a small screen never hides its lower or right
// part. Along an axis where it is larger than that screen, its top or left edge goes to the
// screen's, keeping the title bar and the first controls in reach. The size never changes; with no
// screens the rectangle comes back as it went in.
ScreenRect placedOnScreen(ScreenRect outer, const std::vector<ScreenRect>& screens);

struct ScreenPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// Keeps the main window's outer (frame) position as read from the settings. Where the frame's size
// is known only once the window is mapped (X11), the first placement puts the window's own area
// at that position and the frame lands above and left of it; the window is put right once, when
// it is first exposed with its frame, so that a window the user leaves alone is written back where
// it was read, whatever the frame's size.
class OuterPositionHold {
public:
    void hold(ScreenPoint outer) { m_held = outer; }
    // The window has been exposed with its outer top-left at outer: where to move its outer top-left,
    // if anywhere. Only the first exposure after hold() counts; later positions are the user's.
    std::optional<ScreenPoint> exposed(ScreenPoint outer)
    {
        const std::optional<ScreenPoint> held = m_held;
        m_held.reset();
        if (held && *held != outer)
            return held;
        return std::nullopt;
    }

private:
    std::optional<ScreenPoint> m_held;
};

// How much of the top strip must lie on one screen for the window to count as reachable.
inline constexpr int kTitleStripHeight = 24;
inline constexpr int kReachableStripWidth = 64;
inline constexpr int kReachableStripHeight = 12;

}  // namespace velmora
