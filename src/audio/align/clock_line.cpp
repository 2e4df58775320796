#include "audio/align/clock_line.h"

#include <algorithm>

ClockLine FitClockLine(std::span<const double> x, std::span<const double> y)
{
    ClockLine line;
    const size_t n = std::min(x.size(), y.size());
    if (n == 0)
    {
        return line;
    }
    for (size_t i = 0; i < n; ++i)
    {
        line.at += x[i] / static_cast<double>(n);
        line.value += y[i] / static_cast<double>(n);
    }
    // Sums about the means, so that large times (hours of counter) lose no
    // precision to the squares.
    double sxx = 0.0;
    double sxy = 0.0;
    for (size_t i = 0; i < n; ++i)
    {
        sxx += (x[i] - line.at) * (x[i] - line.at);
        sxy += (x[i] - line.at) * (y[i] - line.value);
    }
    line.slope = sxx > 0.0 ? sxy / sxx : 0.0;
    return line;
}
