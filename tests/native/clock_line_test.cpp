#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/align/clock_line.h"

namespace
{
// Readings of a device's clock against the counter, hours into the
// counter's day: the line through them finds where the device stood and
// how fast it ran, through readings late by up to a period and through a
// drift, to well under a millisecond.
TEST(ClockLine, FindsTheClockThroughLateReadingsAndDrift)
{
    struct Case
    {
        const char* what;
        double driftPpm;
        double lateUpToMs;  // each reading late by a steady saw of this height
    };
    const std::vector<Case> cases = {
        {"exact", 0.0, 0.0},
        {"readings late by up to a 10 ms period", 0.0, 10.0},
        {"a device 100 ppm fast, readings late", 100.0, 10.0},
        {"a device 1000 ppm slow", -1000.0, 2.0},
    };
    for (const Case& c : cases)
    {
        std::vector<double> at;
        std::vector<double> origin;
        constexpr double kStart = 36000.0;  // ten hours of counter
        for (int i = 0; i < 5000; ++i)
        {
            const double t = kStart + i * 0.002;
            const double late = c.lateUpToMs * 1e-3 * static_cast<double>(i % 5) / 5.0;
            origin.push_back(17.0 + (t - kStart) * c.driftPpm * 1e-6 + late);
            at.push_back(t);
        }
        const ClockLine line = FitClockLine(at, origin);
        const double meanLate = c.lateUpToMs * 1e-3 * 0.4;
        EXPECT_NEAR(line.ValueAt(kStart + 5.0), 17.0 + 5.0 * c.driftPpm * 1e-6 + meanLate, 1e-4) << c.what;
        EXPECT_NEAR(line.slope, c.driftPpm * 1e-6, 1e-6) << c.what;
    }
    EXPECT_EQ(FitClockLine({}, {}).value, 0.0);
    const std::vector<double> same = {5.0, 5.0};
    const std::vector<double> values = {1.0, 3.0};
    EXPECT_EQ(FitClockLine(same, values).ValueAt(100.0), 2.0) << "no spread in time: flat through the mean";
}
}  // namespace
