#include "shell/WindowGeometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace velmora {

bool operator==(const ScreenRect& a, const ScreenRect& b)
{
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

std::ostream& operator<<(std::ostream& out, const ScreenPoint& p)
{
    return out << '(' << p.x << ", " << p.y << ')';
}

std::ostream& operator<<(std::ostream& out, const ScreenRect& r)
{
    return out << "{left " << r.left << ", top " << r.top << ", " << r.width << " x " << r.height << '}';
}

namespace {

constexpr ScreenRect kDefault{193, 159, 345, 246};
constexpr ScreenRect kPrimary{0, 0, 1920, 1080};
constexpr ScreenRect kRightOfPrimary{1920, 0, 2560, 1440};
constexpr ScreenRect kLeftOfPrimary{-1280, 0, 1280, 1024};
constexpr int kMinWidth = 120;
constexpr int kMinHeight = 80;

ScreenRect adjust(ScreenRect requested, const std::vector<ScreenRect>& screens)
{
    return reachableGeometry(requested, screens, kDefault, kMinWidth, kMinHeight);
}

TEST(WindowGeometry, DefaultGeometryOnTheScreenStays)
{
    EXPECT_EQ(adjust(kDefault, {kPrimary}), kDefault);
}

TEST(WindowGeometry, WithoutScreensOnlyTheSizesAreRaisedToTheMinimum)
{
    const ScreenRect odd{-99999999, 99999999, -5, 99999999};
    const ScreenRect raised{-99999999, 99999999, kMinWidth, 99999999};
    EXPECT_EQ(adjust(odd, {}), raised);
    EXPECT_EQ(adjust(odd, {ScreenRect{0, 0, 0, 0}, ScreenRect{10, 10, -5, 100}}), raised);
    // A damaged size never reaches the window's frame arithmetic.
    EXPECT_EQ(adjust({193, 159, INT_MIN, INT_MIN}, {}), (ScreenRect{193, 159, kMinWidth, kMinHeight}));
}

TEST(WindowGeometry, SizesAreClampedBetweenMinimumAndLargestScreen)
{
    EXPECT_EQ(adjust({193, 159, -5, -5}, {kPrimary}), (ScreenRect{193, 159, kMinWidth, kMinHeight}));
    EXPECT_EQ(adjust({193, 159, 0, 10}, {kPrimary}), (ScreenRect{193, 159, kMinWidth, kMinHeight}));
    // Still reachable at its place, only smaller.
    EXPECT_EQ(adjust({193, 159, 99999999, 99999999}, {kPrimary}), (ScreenRect{193, 159, 1920, 1080}));
    // The largest screen sets the limit, even when the window is on a smaller one.
    EXPECT_EQ(adjust({100, 100, 99999999, 99999999}, {kPrimary, kRightOfPrimary}),
              (ScreenRect{100, 100, 2560, 1440}));
}

TEST(WindowGeometry, ScreenSmallerThanTheMinimumWins)
{
    const ScreenRect tiny{0, 0, 100, 60};
    EXPECT_EQ(adjust({0, 0, 345, 246}, {tiny}), (ScreenRect{0, 0, 100, 60}));
}

TEST(WindowGeometry, OffEveryScreenMovesToTheDefaultPosition)
{
    const ScreenRect expected{193, 159, 345, 246};
    EXPECT_EQ(adjust({-5000, 159, 345, 246}, {kPrimary}), expected) << "left of the screen";
    EXPECT_EQ(adjust({5000, 159, 345, 246}, {kPrimary}), expected) << "right of the screen";
    EXPECT_EQ(adjust({193, 5000, 345, 246}, {kPrimary}), expected) << "below the screen";
    EXPECT_EQ(adjust({193, -500, 345, 246}, {kPrimary}), expected) << "above the screen";
    EXPECT_EQ(adjust({99999999, 99999999, 345, 246}, {kPrimary}), expected);
    EXPECT_EQ(adjust({-99999999, -99999999, 345, 246}, {kPrimary}), expected);
}

TEST(WindowGeometry, MovedWindowKeepsItsClampedSize)
{
    EXPECT_EQ(adjust({5000, 5000, -5, 500}, {kPrimary}), (ScreenRect{193, 159, kMinWidth, 500}));
}

TEST(WindowGeometry, ExtremeValuesDoNotOverflow)
{
    EXPECT_EQ(adjust({INT_MAX, INT_MAX, INT_MAX, INT_MAX}, {kPrimary}), (ScreenRect{0, 0, 1920, 1080}));
    EXPECT_EQ(adjust({INT_MIN, INT_MIN, INT_MIN, INT_MIN}, {kPrimary}), (ScreenRect{193, 159, kMinWidth, kMinHeight}));
    EXPECT_EQ(adjust({INT_MAX - 10, 159, 345, 246}, {ScreenRect{INT_MAX - 2000, 0, 2000, 1000}}),
              (ScreenRect{INT_MAX - 2000, 159, 345, 246}));
}

TEST(WindowGeometry, PartlyVisibleButReachableStaysAsItIs)
{
    for (const ScreenRect requested : {ScreenRect{-200, 159, 345, 246},    // hangs off the left edge
                                       ScreenRect{1920 - 100, 159, 345, 246},  // off the right edge
                                       ScreenRect{193, 1080 - 20, 345, 246},   // mostly below the bottom
                                       ScreenRect{193, -8, 345, 246},          // title bar a little above
                                       ScreenRect{-200, 1080 - 12, 345, 246}}) {
        EXPECT_EQ(adjust(requested, {kPrimary}), requested);
    }
}

TEST(WindowGeometry, TooLittleOfTheTitleBarOnScreenMovesIt)
{
    EXPECT_EQ(adjust({1920 - 63, 159, 345, 246}, {kPrimary}), kDefault);
    EXPECT_EQ(adjust({64 - 345 - 1, 159, 345, 246}, {kPrimary}), kDefault);
    EXPECT_EQ(adjust({193, 1080 - 11, 345, 246}, {kPrimary}), kDefault);
    EXPECT_EQ(adjust({193, -13, 345, 246}, {kPrimary}), kDefault);
    // The body may be on the screen; what counts is the strip the window is dragged by.
    EXPECT_EQ(adjust({193, -100, 345, 246}, {kPrimary}), kDefault);
}

TEST(WindowGeometry, TwoScreensSideBySide)
{
    const std::vector<ScreenRect> screens{kPrimary, kRightOfPrimary};
    const ScreenRect onSecond{2500, 300, 345, 246};
    const ScreenRect acrossTheSeam{1900, 300, 345, 246};
    const ScreenRect belowTheFirstOnTheTallerSecond{2000, 1200, 345, 246};
    EXPECT_EQ(adjust(onSecond, screens), onSecond);
    EXPECT_EQ(adjust(acrossTheSeam, screens), acrossTheSeam);
    EXPECT_EQ(adjust(belowTheFirstOnTheTallerSecond, screens), belowTheFirstOnTheTallerSecond);
    // Below the first screen where the second does not reach.
    EXPECT_EQ(adjust({500, 1200, 345, 246}, screens), kDefault);
    EXPECT_EQ(adjust({5000, 300, 345, 246}, screens), kDefault);
    // With the second screen gone, the same place is unreachable.
    EXPECT_EQ(adjust(onSecond, {kPrimary}), kDefault);
}

TEST(WindowGeometry, NegativeCoordinatesOnAScreenLeftOfThePrimary)
{
    const ScreenRect onLeftScreen{-1000, 100, 345, 246};
    EXPECT_EQ(adjust(onLeftScreen, {kPrimary, kLeftOfPrimary}), onLeftScreen);
    EXPECT_EQ(adjust(onLeftScreen, {kPrimary}), kDefault);
    EXPECT_EQ(adjust({-2000, 100, 345, 246}, {kPrimary, kLeftOfPrimary}), kDefault);
}

TEST(WindowGeometry, DefaultPositionIsClampedOntoTheFirstScreen)
{
    const ScreenRect small{0, 0, 400, 300};
    EXPECT_EQ(adjust({5000, 5000, 345, 246}, {small}), (ScreenRect{55, 54, 345, 246}));

    const ScreenRect firstListedOnTheRight{1920, 0, 1024, 768};
    EXPECT_EQ(adjust({-5000, 100, 345, 246}, {firstListedOnTheRight, kPrimary}), (ScreenRect{1920, 159, 345, 246}));

    // Only the fallback's position counts.
    EXPECT_EQ(reachableGeometry({9000, 9000, 345, 246}, {kPrimary}, ScreenRect{700, 500, 10, 10}, kMinWidth, kMinHeight),
              (ScreenRect{700, 500, 345, 246}));
    EXPECT_EQ(reachableGeometry({9000, 9000, 345, 246}, {kPrimary}, ScreenRect{5000, -5000, 0, 0}, kMinWidth, kMinHeight),
              (ScreenRect{1920 - 345, 0, 345, 246}));
}

TEST(WindowGeometry, MovedWindowLargerThanTheFirstScreenIsShrunkOntoIt)
{
    const ScreenRect small{0, 0, 800, 600};
    EXPECT_EQ(adjust({-9000, 0, 1500, 1000}, {small, kPrimary}), (ScreenRect{0, 0, 800, 600}));
}

// A top-level window on X11: before mapping its frame is unknown, so a move places its own area;
// once mapped, the frame's size is known and a move places the frame.
struct FramedWindow {
    ScreenPoint margins;  // left and top frame size, unknown before mapping
    bool mapped = false;
    ScreenPoint inner;

    ScreenPoint outer() const { return mapped ? ScreenPoint{inner.x - margins.x, inner.y - margins.y} : inner; }
    void move(ScreenPoint to) { inner = mapped ? ScreenPoint{to.x + margins.x, to.y + margins.y} : to; }
};

// One run of the program: read, place, map, close without the user moving the window.
ScreenPoint runWithoutMoving(ScreenPoint stored, ScreenPoint margins)
{
    FramedWindow window{margins, false, {}};
    OuterPositionHold hold;
    window.move(stored);
    hold.hold(stored);
    window.mapped = true;
    if (const auto to = hold.exposed(window.outer()))
        window.move(*to);
    return window.outer();
}

TEST(WindowGeometry, UnmovedWindowIsWrittenBackWhereItWasReadWhateverTheFrame)
{
    for (const ScreenPoint margins : {ScreenPoint{1, 20}, ScreenPoint{0, 0}, ScreenPoint{4, 30}}) {
        ScreenPoint stored{311, 222};
        for (int run = 0; run < 3; ++run)
            stored = runWithoutMoving(stored, margins);
        EXPECT_EQ(stored, (ScreenPoint{311, 222})) << "frame " << margins.x << ", " << margins.y;
    }
}

TEST(WindowGeometry, OnlyTheFirstExposureIsPutRight)
{
    OuterPositionHold hold;
    hold.hold({311, 222});
    EXPECT_EQ(hold.exposed({310, 202}), (ScreenPoint{311, 222}));
    // Shown again after the user moved it: the user's place stands.
    EXPECT_EQ(hold.exposed({500, 400}), std::nullopt);
    hold.hold({193, 159});
    EXPECT_EQ(hold.exposed({193, 159}), std::nullopt);
    EXPECT_EQ(hold.exposed({0, 0}), std::nullopt);
}

// A 1920 x 1200 screen as windows see it at twice and one and a half times the scale.
constexpr ScreenRect kTwiceScale{0, 0, 960, 600};
constexpr ScreenRect kOneAndAHalfScale{0, 0, 1280, 800};
constexpr ScreenRect kAdjustment{175, 278, 185, 485};

TEST(WindowGeometry, FirstPositionThatFitsIsKept)
{
    EXPECT_EQ(placedOnScreen(kAdjustment, {ScreenRect{0, 0, 1920, 1200}}), kAdjustment);
    EXPECT_EQ(placedOnScreen(kAdjustment, {kOneAndAHalfScale}), kAdjustment);
    // Touching the right and bottom edges is still on the screen.
    EXPECT_EQ(placedOnScreen({775, 115, 185, 485}, {kTwiceScale}), (ScreenRect{775, 115, 185, 485}));
    // Wholly on a second screen, even one left of the primary.
    EXPECT_EQ(placedOnScreen({-1000, 100, 345, 246}, {kPrimary, kLeftOfPrimary}), (ScreenRect{-1000, 100, 345, 246}));
    EXPECT_EQ(placedOnScreen(kAdjustment, {}), kAdjustment);
}

TEST(WindowGeometry, FirstPositionOffTheScreenMovesTheLeastInside)
{
    // The adjustment window at twice the scale: only moved up, so its last slider and the score
    // button can be reached.
    EXPECT_EQ(placedOnScreen(kAdjustment, {kTwiceScale}), (ScreenRect{175, 115, 185, 485}));
    // The hint window: moved left and up.
    EXPECT_EQ(placedOnScreen({242, 382, 947, 353}, {kTwiceScale}), (ScreenRect{13, 247, 947, 353}));
    // Above and left of the screen: moved down and right.
    EXPECT_EQ(placedOnScreen({-50, -20, 300, 200}, {kTwiceScale}), (ScreenRect{0, 0, 300, 200}));
    // Across the seam of two screens: onto the one holding most of it.
    EXPECT_EQ(placedOnScreen({1800, 100, 345, 246}, {kPrimary, kRightOfPrimary}), (ScreenRect{1920, 100, 345, 246}));
    EXPECT_EQ(placedOnScreen({1700, 100, 345, 246}, {kPrimary, kRightOfPrimary}), (ScreenRect{1575, 100, 345, 246}));
    // On no screen at all: onto the first listed, screens without area left out.
    EXPECT_EQ(placedOnScreen({5000, 5000, 345, 246}, {ScreenRect{0, 0, 0, 0}, kTwiceScale, kPrimary}),
              (ScreenRect{615, 354, 345, 246}));
    EXPECT_EQ(placedOnScreen({INT_MAX, INT_MIN, 345, 246}, {kTwiceScale}), (ScreenRect{615, 0, 345, 246}));
}

TEST(WindowGeometry, WindowLargerThanTheScreenGoesToItsTopLeftCorner)
{
    const ScreenRect small{100, 50, 800, 400};
    EXPECT_EQ(placedOnScreen({242, 382, 947, 353}, {small}), (ScreenRect{100, 97, 947, 353}));
    EXPECT_EQ(placedOnScreen({300, 10, 300, 500}, {small}), (ScreenRect{300, 50, 300, 500}));
    EXPECT_EQ(placedOnScreen({-400, 900, 1200, 900}, {small}), (ScreenRect{100, 50, 1200, 900}));
}

TEST(WindowGeometry, StoredMainWindowPlaceReadAtTwiceTheScale)
{
    const ScreenRect fallback{193, 159, 345, 246};
    // Written on the whole screen at the normal scale, far right and low: off the smaller screen
    // the windows see at twice the scale, so back to the first position.
    EXPECT_EQ(reachableGeometry({1500, 900, 345, 246}, {kTwiceScale}, fallback, kMinWidth, kMinHeight), fallback);
    // A size too large for that screen is cut to it.
    EXPECT_EQ(reachableGeometry({0, 0, 1600, 1100}, {kTwiceScale}, fallback, kMinWidth, kMinHeight),
              (ScreenRect{0, 0, 960, 600}));
    // Its title bar still on the screen: left where the user put it.
    EXPECT_EQ(reachableGeometry({700, 500, 345, 246}, {kTwiceScale}, fallback, kMinWidth, kMinHeight),
              (ScreenRect{700, 500, 345, 246}));
}

}  // namespace
}  // namespace velmora
