#include "app/window_size.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
int32_t Rescale(int32_t value, uint32_t to, uint32_t from)
{
    const double factor = static_cast<double>(to == 0 ? kDefaultDpi : to) / (from == 0 ? kDefaultDpi : from);
    const double scaled = std::round(value * factor);
    return static_cast<int32_t>(std::clamp(scaled, static_cast<double>(std::numeric_limits<int32_t>::min()),
                                           static_cast<double>(std::numeric_limits<int32_t>::max())));
}

int32_t Fit(int32_t wanted, int32_t room, int32_t least)
{
    return std::max(room > 0 ? std::min(wanted, room) : wanted, least);
}
}  // namespace

WindowSize ToPixels(WindowSize stored, uint32_t dpi)
{
    return {Rescale(stored.width, dpi, kDefaultDpi), Rescale(stored.height, dpi, kDefaultDpi)};
}

WindowSize ToStoredUnit(WindowSize pixels, uint32_t dpi)
{
    return {Rescale(pixels.width, kDefaultDpi, dpi), Rescale(pixels.height, kDefaultDpi, dpi)};
}

WindowSize MinimumWindowPixels(uint32_t dpi)
{
    return ToPixels(UsableWindowSize({0, 0}), dpi);
}

WindowSize CreationPixels(WindowSize stored, uint32_t dpi, WindowSize workArea)
{
    const WindowSize wanted = ToPixels(UsableWindowSize(stored), dpi);
    const WindowSize least = MinimumWindowPixels(dpi);
    return {Fit(wanted.width, workArea.width, least.width), Fit(wanted.height, workArea.height, least.height)};
}
