#include "ui/layout_scale.h"

#include <algorithm>
#include <cmath>

float LayoutScale(float clientWidth, float clientHeight)
{
    const float fit = std::min(clientWidth / kDesignClientWidth, clientHeight / kDesignClientHeight);
    return std::max(kMinLayoutScale, std::min(fit, kMaxLayoutScale));
}

WindowSize UsableWindowSize(WindowSize stored)
{
    const auto least = [](float design) { return static_cast<int32_t>(std::ceil(design * kMinLayoutScale)); };
    return {std::max(stored.width, least(kDesignClientWidth)), std::max(stored.height, least(kDesignClientHeight))};
}
