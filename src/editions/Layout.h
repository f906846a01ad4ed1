#pragma once

#include "editions/Edition.h"

namespace velmora {

struct Place {
    int left;
    int top;
    int width;
    int height;
};

// Where the editions' windows differ; positions are screen pixels, sizes outer pixels.
struct ResultsLayout {
    int left;
    int top;
    bool resizable;
    int outerWidth;   // resizable frame only; the fixed dialog has a client area of 278 x 487
    int outerHeight;
    Place label1;
    Place label2;
    Place label15;
    Place label16;
    Place label17;
};

struct AuxiliaryLayout {
    Place hintWindow;
    Place difficultyWindow;
    Place radioGroup;
    Place instrumentWindow;
};

inline constexpr ResultsLayout resultsLayout(Edition edition)
{
    if (edition == Edition::Japanese)
        return {203, 203, false, 0, 0,
                {72, 16, 60, 12}, {176, 16, 60, 12}, {16, 352, 135, 27}, {160, 344, 51, 33}, {224, 352, 27, 27}};
    return {247, 212, true, 286, 514,
            {72, 16, 57, 12}, {176, 16, 70, 12}, {40, 352, 63, 27}, {136, 352, 51, 33}, {208, 352, 56, 27}};
}

inline constexpr AuxiliaryLayout auxiliaryLayout(Edition edition)
{
    if (edition == Edition::Japanese)
        return {{65, 384, 947, 353}, {184, 111, 170, 182}, {8, 8, 145, 137}, {192, 107, 176, 92}};
    return {{242, 382, 947, 353}, {219, 158, 156, 160}, {0, 0, 145, 129}, {192, 118, 176, 92}};
}

// The outer frame of a sizeable window around its own area, as the stored sizes count it.
inline constexpr int kFrameWidth = 8;
inline constexpr int kFrameHeight = 27;

}  // namespace velmora
