#pragma once

#include <cstdint>

// The one factor by which the whole interface grows and shrinks with the
// window: sizes, paddings, roundings and fonts. No thread affinity.

// Client area that the layout was designed for; it gives the scale 1.
inline constexpr float kDesignClientWidth = 516.0f;
inline constexpr float kDesignClientHeight = 621.0f;
inline constexpr float kMinLayoutScale = 0.8f;
inline constexpr float kMaxLayoutScale = 2.5f;

// The smaller of the two ratios to the design size, clamped to the range.
float LayoutScale(float clientWidth, float clientHeight);

struct WindowSize
{
    int32_t width = 0;
    int32_t height = 0;
};

// The size a window is created at: the stored size, raised where needed to
// the smallest size at which the layout still fits (the minimum scale times
// the design size), so that a stored size of 0 cannot give a window too
// small to see or use.
WindowSize UsableWindowSize(WindowSize stored);
