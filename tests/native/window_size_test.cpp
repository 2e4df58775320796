// The window's size between the stored unit (pixels at 96 DPI) and the
// monitor's pixels: creation, the minimum and the way back for storing.
#include <gtest/gtest.h>

#include "app/window_size.h"

namespace
{
void ExpectSize(WindowSize actual, WindowSize expected, const char* what)
{
    EXPECT_EQ(actual.width, expected.width) << what;
    EXPECT_EQ(actual.height, expected.height) << what;
}
}  // namespace

TEST(WindowSizeRules, CreationScalesFitsTheWorkAreaAndKeepsTheMinimum)
{
    struct Case
    {
        const char* what;
        WindowSize stored;
        uint32_t dpi;
        WindowSize work, created;
    };
    const Case cases[] = {
        {"100 %, as before", {516, 720}, 96, {1600, 1000}, {516, 720}},
        {"150 %", {516, 720}, 144, {2400, 1500}, {774, 1080}},
        {"125 %, work area unknown", {516, 720}, 120, {0, 0}, {645, 900}},
        {"unknown DPI counts as 100 %", {516, 720}, 0, {1600, 1000}, {516, 720}},
        {"too small: the minimum, scaled", {0, 0}, 144, {2400, 1500}, {620, 746}},
        {"larger than the screen", {100000, 100000}, 96, {1600, 1000}, {1600, 1000}},
        {"larger than the screen at 200 %", {100000, 100000}, 192, {3840, 2100}, {3840, 2100}},
        {"one side too large", {516, 900}, 144, {1920, 1040}, {774, 1040}},
        {"work area under the minimum", {516, 720}, 144, {700, 700}, {700, 746}},
    };
    for (const Case& c : cases)
    {
        ExpectSize(CreationPixels(c.stored, c.dpi, c.work), c.created, c.what);
    }
    ExpectSize(MinimumWindowPixels(96), UsableWindowSize({0, 0}), "the minimum at 100 %");
    ExpectSize(MinimumWindowPixels(192), {826, 994}, "the minimum at 200 %");
}

TEST(WindowSizeRules, StoredSizesSurviveTheWayToPixelsAndBack)
{
    for (uint32_t dpi : {96u, 120u, 144u, 168u, 192u, 240u})
    {
        for (int32_t side : {413, 516, 621, 720, 1001, 100000})
        {
            const WindowSize back = ToStoredUnit(ToPixels({side, side + 1}, dpi), dpi);
            EXPECT_EQ(back.width, side) << dpi << " DPI";
            EXPECT_EQ(back.height, side + 1) << dpi << " DPI";
        }
    }
    // A size the user dragged to is stored to the nearest unit.
    ExpectSize(ToStoredUnit({775, 1081}, 144), {517, 721}, "dragged at 150 %");
    ExpectSize(ToStoredUnit({775, 1081}, 0), {775, 1081}, "unknown DPI");
}
