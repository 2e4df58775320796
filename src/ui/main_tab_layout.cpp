#include "ui/main_tab_layout.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr float kButtonHeight = 40.0f;  // Start/Stop, times the scale
constexpr float kButtonSpacer = 10.0f;  // times the scale
constexpr float kVolumeReserve = 15.0f; // unscaled spacers of the volume section
constexpr float kListSpacer = 10.0f;    // times the scale
constexpr float kRestartThresholdMs = 0.9f;
}  // namespace

float MainContentHeight(float available, float itemSpacingY, float separatorTextPaddingY, float scale)
{
    const float below = 4.0f * itemSpacingY + kButtonHeight * scale + kButtonSpacer * scale + separatorTextPaddingY;
    return std::max(0.0f, available - below);
}

TargetListSize TargetListLayout(const TargetListMetrics& m)
{
    const float needed = static_cast<float>(m.rows) * (m.frameHeight + m.itemSpacingY);
    // The volume heading and slider with their spacers and separator, and
    // each row of buttons with the spacing after it.
    const float reserved = m.frameHeight + kVolumeReserve + m.fontSize + 3.0f * m.itemSpacingY +
                           m.separatorTextPaddingY + kListSpacer * m.scale +
                           static_cast<float>(m.buttonRows) * (m.frameHeight + m.itemSpacingY);
    const float room = std::max(0.0f, m.available - reserved);
    const bool scroll = needed > room + 0.5f;
    return {scroll ? room : needed, scroll};
}

bool LatencyChangeNeedsRestart(float startValue, float endValue)
{
    return std::fabs(endValue - startValue) > kRestartThresholdMs;
}

int SourceSeparatorsBefore(std::size_t index, int32_t flow, int32_t previousFlow, bool isDefaultEntry)
{
    int separators = 0;
    if (index > 0 && flow == 1 && !(index != 1 && previousFlow == 1))
    {
        ++separators;
    }
    if (index == 1 && !isDefaultEntry)
    {
        ++separators;
    }
    return separators;
}
