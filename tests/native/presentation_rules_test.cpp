// Pacing a main loop whose presentation does not wait for the display, and
// the file address of the shipped manual.
#include <gtest/gtest.h>

#include "common/path_rules.h"
#include "gfx/frame_pacing.h"

TEST(PacingDelay, RestsOnlyAfterAPresentThatDidNotWait)
{
    struct Case
    {
        double previousEnd;   // end of the previous frame (negative: none yet)
        double presentStart;
        double presentEnd;
        double delay;
    };
    const Case cases[] = {
        {-1.0, 100.0, 100.1, 0.0},               // the first frame has nothing to measure against
        {100.0, 104.0, 104.2, 1000.0 / 60 - 4.2}, // unpaced: the rest of a 60 Hz frame
        {100.0, 102.0, 116.7, 0.0},              // the present waited for the display
        {100.0, 103.0, 104.5, 0.0},              // a short wait still counts as a wait
        {100.0, 130.0, 130.1, 0.0},              // a frame slower than 60 Hz is not slowed further
    };
    for (const Case& c : cases)
    {
        PresentPacing pacing;
        pacing.lastFrameEndMs = c.previousEnd;
        EXPECT_NEAR(PacingDelayMs(pacing, c.presentStart, c.presentEnd), c.delay, 1e-9) << c.presentEnd;
    }
}

TEST(PacingDelay, AnUnpacedLoopSettlesAtSixtyFramesPerSecond)
{
    PresentPacing pacing;
    double now = 0.0;
    double firstEnd = -1.0;
    for (int frame = 0; frame < 61; ++frame)
    {
        now += 2.0;  // building the frame
        const double start = now;
        now += 0.01;  // a present that returns at once
        now += PacingDelayMs(pacing, start, now);
        if (frame == 0)
            firstEnd = now;
    }
    EXPECT_NEAR(now - firstEnd, 1000.0, 1e-6);
}

TEST(FileUrlFromPath, EncodesWhatAnAddressCannotCarry)
{
    EXPECT_EQ(FileUrlFromPath(L"C:\\Program Files\\Tonefork\\manual.html"),
              L"file:///C:/Program%20Files/Tonefork/manual.html");
    EXPECT_EQ(FileUrlFromPath(L"Z:\\work\\dist/Tonefork\\manual.html"), L"file:///Z:/work/dist/Tonefork/manual.html");
    EXPECT_EQ(FileUrlFromPath(L"\\\\server\\share\\manual.html"), L"file://server/share/manual.html");
    EXPECT_EQ(FileUrlFromPath(L"C:\\Users\\J\u00F6rg\\#1 & 100%\\m.html"),
              L"file:///C:/Users/J%C3%B6rg/%231%20%26%20100%25/m.html");
    EXPECT_EQ(FileUrlFromPath(L"C:\\\u266B\\m.html"), L"file:///C:/%E2%99%AB/m.html");
}
