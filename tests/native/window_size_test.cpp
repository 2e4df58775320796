// The window's size between the stored unit (pixels at 96 DPI) and the
// monitor's pixels: creation, the minimum and the way back for storing.
#include <gtest/gtest.h>

#include <utility>

#include "app/window_size.h"

namespace
{
std::pair<int32_t, int32_t> Sides(WindowSize size)
{
    return {size.width, size.height};
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
        EXPECT_EQ(Sides(CreationPixels(c.stored, c.dpi, c.work)), Sides(c.created)) << c.what;
    EXPECT_EQ(Sides(MinimumWindowPixels(96)), Sides(UsableWindowSize({0, 0})));
    EXPECT_EQ(Sides(MinimumWindowPixels(192)), Sides({826, 994}));
}

TEST(WindowSizeRules, StoredSizesSurviveTheWayToPixelsAndBack)
{
    for (uint32_t dpi : {96u, 120u, 144u, 168u, 192u, 240u})
        for (int32_t side : {413, 516, 621, 720, 1001, 100000})
            EXPECT_EQ(Sides(ToStoredUnit(ToPixels({side, side + 1}, dpi), dpi)), Sides({side, side + 1})) << dpi;
    // A size the user dragged to is stored to the nearest unit.
    EXPECT_EQ(Sides(ToStoredUnit({775, 1081}, 144)), Sides({517, 721}));
    EXPECT_EQ(Sides(ToStoredUnit({775, 1081}, 0)), Sides({775, 1081}));
}
