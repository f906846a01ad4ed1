#include "shell/WindowGeometry.h"

#include <algorithm>
#include <cstdint>

namespace velmora {
namespace {

// Settings may hold any int; sums such as left + width are taken in 64 bits so they cannot overflow.
struct Span {
    std::int64_t begin;
    std::int64_t end;
};

std::int64_t overlap(Span a, Span b)
{
    return std::max<std::int64_t>(0, std::min(a.end, b.end) - std::max(a.begin, b.begin));
}

bool hasArea(const ScreenRect& screen)
{
    return screen.width > 0 && screen.height > 0;
}

int clampSize(int size, int minimum, int maximum)
{
    // The screen wins over the minimum: a window larger than every screen cannot be reached.
    return std::min(std::max(size, minimum), maximum);
}

int clampOnto(int position, int size, int screenStart, int screenSize)
{
    const std::int64_t lastStart = std::int64_t{screenStart} + screenSize - size;
    if (lastStart <= screenStart)
        return screenStart;
    return static_cast<int>(std::clamp<std::int64_t>(position, screenStart, lastStart));
}

bool titleStripReachable(const ScreenRect& window, const std::vector<ScreenRect>& screens)
{
    const Span stripX{window.left, std::int64_t{window.left} + window.width};
    const Span stripY{window.top, std::int64_t{window.top} + std::min(window.height, kTitleStripHeight)};
    const std::int64_t neededWidth = std::min(window.width, kReachableStripWidth);
    const std::int64_t neededHeight = std::min({window.height, kTitleStripHeight, kReachableStripHeight});
    for (const ScreenRect& screen : screens) {
        if (!hasArea(screen))
            continue;
        const Span screenX{screen.left, std::int64_t{screen.left} + screen.width};
        const Span screenY{screen.top, std::int64_t{screen.top} + screen.height};
        if (overlap(stripX, screenX) >= neededWidth && overlap(stripY, screenY) >= neededHeight)
            return true;
    }
    return false;
}

Span spanX(const ScreenRect& r)
{
    return {r.left, std::int64_t{r.left} + r.width};
}

Span spanY(const ScreenRect& r)
{
    return {r.top, std::int64_t{r.top} + r.height};
}

bool inside(Span inner, Span outer)
{
    return inner.begin >= outer.begin && inner.end <= outer.end;
}

}  // namespace

ScreenRect placedOnScreen(ScreenRect outer, const std::vector<ScreenRect>& screens)
{
    const ScreenRect window{outer.left, outer.top, std::max(outer.width, 0), std::max(outer.height, 0)};
    const ScreenRect* home = nullptr;
    std::int64_t homeOverlap = -1;
    for (const ScreenRect& screen : screens) {
        if (!hasArea(screen))
            continue;
        if (inside(spanX(window), spanX(screen)) && inside(spanY(window), spanY(screen)))
            return outer;
        const std::int64_t area = overlap(spanX(window), spanX(screen)) * overlap(spanY(window), spanY(screen));
        if (area > homeOverlap) {
            home = &screen;
            homeOverlap = area;
        }
    }
    if (!home)
        return outer;
    outer.left = clampOnto(window.left, window.width, home->left, home->width);
    outer.top = clampOnto(window.top, window.height, home->top, home->height);
    return outer;
}

ScreenRect reachableGeometry(ScreenRect requested, const std::vector<ScreenRect>& screens,
                             ScreenRect fallback, int minimumWidth, int minimumHeight)
{
    // The sizes are clamped first, so that whoever takes a frame off them cannot overflow.
    ScreenRect result = requested;
    result.width = std::max({requested.width, minimumWidth, 1});
    result.height = std::max({requested.height, minimumHeight, 1});
    const auto first = std::find_if(screens.begin(), screens.end(), hasArea);
    if (first == screens.end())
        return result;

    int largestWidth = 0;
    int largestHeight = 0;
    for (const ScreenRect& screen : screens) {
        if (!hasArea(screen))
            continue;
        largestWidth = std::max(largestWidth, screen.width);
        largestHeight = std::max(largestHeight, screen.height);
    }

    result.width = clampSize(requested.width, std::max(minimumWidth, 1), largestWidth);
    result.height = clampSize(requested.height, std::max(minimumHeight, 1), largestHeight);
    if (titleStripReachable(result, screens))
        return result;

    const ScreenRect& home = *first;
    result.width = std::min(result.width, home.width);
    result.height = std::min(result.height, home.height);
    result.left = clampOnto(fallback.left, result.width, home.left, home.width);
    result.top = clampOnto(fallback.top, result.height, home.top, home.height);
    return result;
}

}  // namespace velmora
