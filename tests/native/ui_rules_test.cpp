// The interface's platform-free arithmetic: the layout scale, the smallest
// usable window, the Main tab's target list and source separators, and
// how a name too long for its row is cut.
#include <gtest/gtest.h>

#include <algorithm>

#include "ui/layout_scale.h"
#include "ui/main_tab_layout.h"
#include "ui/text_fit.h"

TEST(LayoutScale, FollowsTheSmallerRatioWithinItsRange)
{
    struct Case
    {
        float width, height, scale;
    };
    const Case cases[] = {
        {516, 621, 1.0f},         // the design size
        {516, 720, 1.0f},         // taller than designed: the width decides
        {1032, 1242, 2.0f},       // twice the design size
        {1032, 621, 1.0f},        // twice as wide but not taller: the height decides
        {645, 777, 1.25f},        // a window made a quarter larger
        {300, 300, 0.8f},         // 0.48 clamped to the minimum
        {3000, 3000, 2.5f},       // 4.83 clamped to the maximum
        {0, 0, 0.8f},             // an empty client area
        {412.8f, 1000, 0.8f},     // exactly at the minimum
    };
    for (const Case& c : cases)
    {
        EXPECT_NEAR(LayoutScale(c.width, c.height), c.scale, 1e-6f) << c.width << " x " << c.height;
    }
}

TEST(UsableWindowSize, RaisesOnlyWhatIsTooSmallToUse)
{
    struct Case
    {
        WindowSize stored, created;
    };
    const Case cases[] = {
        {{516, 720}, {516, 720}},
        {{0, 0}, {413, 497}},       // 0.8 x 516 x 621, rounded up
        {{0, 900}, {413, 900}},
        {{-5, 400}, {413, 497}},
        {{413, 497}, {413, 497}},
        {{2000, 1500}, {2000, 1500}},
    };
    for (const Case& c : cases)
    {
        const WindowSize created = UsableWindowSize(c.stored);
        EXPECT_EQ(created.width, c.created.width) << c.stored.width << " x " << c.stored.height;
        EXPECT_EQ(created.height, c.created.height) << c.stored.width << " x " << c.stored.height;
    }
}

TEST(TargetListLayout, IsAsTallAsItsRowsUntilTheyNoLongerFit)
{
    // Scale 1 with the 23-pixel font: frame 29, spacing 4, padding 3.
    TargetListMetrics metrics{0, 29.0f, 4.0f, 23.0f, 3.0f, 1.0f, 300.0f};
    // Reserved below the list: 29 + 15 + 23 + 12 + 3 + 10 = 92, room 208.
    struct Case
    {
        size_t rows;
        float height;
        bool scroll;
    };
    const Case cases[] = {
        {0, 0.0f, false}, {6, 198.0f, false}, {7, 208.0f, true}, {40, 208.0f, true},
    };
    for (const Case& c : cases)
    {
        metrics.rows = c.rows;
        const TargetListSize size = TargetListLayout(metrics);
        EXPECT_FLOAT_EQ(size.height, c.height) << c.rows << " rows";
        EXPECT_EQ(size.scroll, c.scroll) << c.rows << " rows";
    }
    // Rows that overshoot the room by half a pixel or less still fit.
    metrics.rows = 1;
    metrics.available = 92.0f + 32.6f;
    EXPECT_FALSE(TargetListLayout(metrics).scroll);
    metrics.available = 92.0f + 32.4f;
    EXPECT_TRUE(TargetListLayout(metrics).scroll);
    // No room at all: the list cannot be given a negative height.
    metrics.available = 50.0f;
    EXPECT_FLOAT_EQ(TargetListLayout(metrics).height, 0.0f);
    // A row of buttons under the list takes a row's room from it.
    metrics.available = 300.0f;
    metrics.rows = 6;
    metrics.buttonRows = 1;
    EXPECT_FLOAT_EQ(TargetListLayout(metrics).height, 208.0f - 33.0f);
    EXPECT_TRUE(TargetListLayout(metrics).scroll);
}

TEST(MainContentHeight, LeavesRoomForTheButtonRowAndNeverGoesNegative)
{
    // 4 x 4 + 40 + 10 + 3 = 69 below the region at scale 1; 4 x 8 + 80 + 20 + 3 at scale 2.
    EXPECT_FLOAT_EQ(MainContentHeight(600.0f, 4.0f, 3.0f, 1.0f), 531.0f);
    EXPECT_FLOAT_EQ(MainContentHeight(600.0f, 8.0f, 3.0f, 2.0f), 465.0f);
    EXPECT_FLOAT_EQ(MainContentHeight(50.0f, 4.0f, 3.0f, 1.0f), 0.0f);
}

TEST(LatencyChangeNeedsRestart, OnlyAMoveOfMoreThanNineTenths)
{
    EXPECT_FALSE(LatencyChangeNeedsRestart(20.0f, 20.0f));
    EXPECT_FALSE(LatencyChangeNeedsRestart(20.0f, 20.5f));
    EXPECT_FALSE(LatencyChangeNeedsRestart(20.0f, 20.9f));
    EXPECT_TRUE(LatencyChangeNeedsRestart(20.0f, 21.0f));
    EXPECT_TRUE(LatencyChangeNeedsRestart(21.0f, 20.0f));
    EXPECT_TRUE(LatencyChangeNeedsRestart(1.0f, 60.0f));
}

TEST(SourceSeparatorsBefore, OneAfterTheDefaultEntryAndOneBeforeTheFirstRecording)
{
    // Each list: data flows in order, entry 0 being the system default.
    struct Case
    {
        std::vector<int32_t> flows;
        std::vector<int> separators;
    };
    const Case cases[] = {
        {{0, 0, 0, 1, 1}, {0, 1, 0, 1, 0}},  // default, two playback, two recording
        {{0, 1, 1}, {0, 2, 0}},              // no playback: both before the first recording
        {{0, 0}, {0, 1}},                    // no recording
        {{0}, {0}},                          // the default entry alone
    };
    for (const Case& c : cases)
    {
        for (size_t i = 0; i < c.flows.size(); ++i)
        {
            const int32_t previous = i > 0 ? c.flows[i - 1] : 0;
            EXPECT_EQ(SourceSeparatorsBefore(i, c.flows[i], previous, i == 0), c.separators[i]) << "entry " << i;
        }
    }
}

TEST(FitText, CutsAfterTheLastWholeCharacterThatLeavesRoomForTheDots)
{
    // Ten units per character, whatever its byte count.
    const TextWidth width = [](std::string_view text) {
        return 10.0f * static_cast<float>(std::count_if(text.begin(), text.end(), [](char byte) {
                   return (static_cast<unsigned char>(byte) & 0xC0u) != 0x80u;
               }));
    };
    const std::string german = "Kopfh\xC3\xB6rer Links";
    EXPECT_FALSE(FitText("Speakers", 80, width).cut);  // exactly fits
    EXPECT_EQ(FitText("Speakers", 80, width).shown, "Speakers");
    EXPECT_TRUE(FitText("Speakers", 79, width).cut);
    EXPECT_EQ(FitText("Speakers", 79, width).shown, "Spea...");
    EXPECT_EQ(FitText(german, 90, width).shown, "Kopfh\xC3\xB6...");  // the two-byte character whole
    EXPECT_EQ(FitText(german, 89, width).shown, "Kopfh...");          // or not at all
    EXPECT_EQ(FitText("Speakers", 20, width).shown, "...");           // not even one character fits
}
