// The target row's health light, its tooltip and the tray's count, from a
// link's figures and the main thread's history of them.
#include <gtest/gtest.h>

#include "ui/target_health.h"

namespace
{
constexpr int64_t kSecond = kNsPerSecond;
constexpr int64_t kMs = kNsPerSecond / 1000;
constexpr int64_t kNow = 100 * kSecond;

// 48 kHz stereo float, at its 30 ms cushion, writing and fed just now.
TargetFigures SteadyFigures()
{
    TargetFigures figures;
    figures.runState = TargetRunState::Playing;
    figures.sampleRate = 48000;
    figures.channels = 2;
    figures.bitsPerSample = 32;
    figures.floatSamples = true;
    figures.cushionFrames = 1440;
    figures.queuedFrames = 1440;
    figures.lastPacketNs = kNow - 10 * kMs;
    figures.lastWrittenNs = kNow - 10 * kMs;
    return figures;
}

// Notes `figures` once a second over the 70 s before kNow, with the top-ups
// and dry runs at `before` until `changedAgo` seconds before it.
HealthHistory NotedHistory(TargetFigures figures, uint32_t before, int64_t changedAgo)
{
    HealthHistory history;
    const uint32_t after = figures.topUps;
    for (int64_t at = kNow - 70 * kSecond; at <= kNow; at += kSecond)
    {
        figures.topUps = figures.dryRuns = at < kNow - changedAgo * kSecond ? before : after;
        history.Note(figures, at);
    }
    return history;
}
}  // namespace

TEST(TargetHealth, LightFollowsTheRowTheRunAndTheLastTenSeconds)
{
    struct Case
    {
        const char* what;
        bool ticked, routing, leftOut;
        TargetRunState state;
        uint32_t topUpsBefore, topUpsNow;  // dry runs alike
        int64_t changedAgo;               // seconds
        uint32_t queued;                  // frames (cushion 1440, 20 ms = 960)
        int64_t packetAgo, writtenAgo;    // ms
        HealthLight light;
    };
    using enum TargetRunState;
    const Case cases[] = {
        {"steady", true, true, false, Playing, 0, 0, 0, 1440, 10, 10, HealthLight::Green},
        {"not ticked", false, true, false, Playing, 0, 0, 0, 1440, 10, 10, HealthLight::Grey},
        {"no route", true, false, false, Playing, 0, 0, 0, 1440, 10, 10, HealthLight::Grey},
        {"not opened by the run", true, true, false, NotRouting, 0, 0, 0, 0, 0, 0, HealthLight::Grey},
        {"left out", true, true, true, NotRouting, 0, 0, 0, 0, 0, 0, HealthLight::Red},
        {"lost", true, true, false, Lost, 0, 0, 0, 1440, 10, 10, HealthLight::Red},
        {"fed but taking nothing", true, true, false, Playing, 0, 0, 0, 1440, 200, 1200, HealthLight::Red},
        {"quiet source", true, true, false, Playing, 0, 0, 0, 1440, 5000, 5000, HealthLight::Green},
        {"top-up 3 s ago", true, true, false, Playing, 2, 3, 3, 1440, 10, 10, HealthLight::Amber},
        {"top-up 12 s ago", true, true, false, Playing, 2, 3, 12, 1440, 10, 10, HealthLight::Green},
        {"new run, counters fell", true, true, false, Playing, 7, 0, 3, 1440, 10, 10, HealthLight::Green},
        {"queue 20 ms over", true, true, false, Playing, 0, 0, 0, 2400, 10, 10, HealthLight::Green},
        {"queue further over", true, true, false, Playing, 0, 0, 0, 2401, 10, 10, HealthLight::Amber},
    };
    for (const Case& c : cases)
    {
        TargetFigures figures = SteadyFigures();
        figures.runState = c.state;
        figures.topUps = figures.dryRuns = c.topUpsNow;
        figures.queuedFrames = c.queued;
        figures.lastPacketNs = kNow - c.packetAgo * kMs;
        figures.lastWrittenNs = kNow - c.writtenAgo * kMs;
        const HealthHistory history = NotedHistory(figures, c.topUpsBefore, c.changedAgo);
        const RowSituation row{c.ticked, c.routing, c.leftOut, kNow};
        EXPECT_EQ(JudgeTarget(figures, history, row).light, c.light) << c.what;
    }
}

TEST(TargetHealth, RunStartingBetweenTwoLooksCountsFromZero)
{
    HealthHistory history;
    TargetFigures figures = SteadyFigures();
    figures.runState = TargetRunState::NotRouting;
    history.Note(figures, kNow - 2 * kSecond);
    figures.runState = TargetRunState::Playing;
    figures.dryRuns = 1;  // before the first look at the run
    history.Note(figures, kNow - kSecond);
    EXPECT_EQ(JudgeTarget(figures, history, {true, true, false, kNow}).light, HealthLight::Amber);
}

TEST(TargetHealth, TooltipGivesTheFiguresTheLastMinuteAndWhatTheListenerHears)
{
    TargetFigures figures = SteadyFigures();
    figures.queuedFrames = 1344;
    figures.streamLatencyFrames = 480;
    figures.ratePpm = -12;
    figures.delayMs = 120;
    figures.topUps = figures.dryRuns = 3;
    figures.framesTrimmed = 1;
    const HealthHistory history = NotedHistory(figures, 1, 30);  // 1 gap 70 s ago, 2 more 30 s ago
    const TargetHealth health = JudgeTarget(figures, history, {true, true, false, kNow});
    EXPECT_EQ(HealthLines(health, figures, history, kNow),
              (std::vector<std::string>{"Playing", "Queue 28 ms (cushion 30 ms)", "Rate -12 ppm",
                                        "Last minute: 2 gaps, 0 frames trimmed",
                                        "Format: 48000 Hz, 2 channels, 32-bit float",
                                        "Heard after 160 ms: cushion 30 + stream 10 + delay 120"}));
    EXPECT_EQ(HealthLines({HealthLight::Grey, HealthReason::NotRouting}, figures, history, kNow),
              std::vector<std::string>{"Not routing"});
}

TEST(TargetHealth, TrayTipCountsGreenLightsOnlyWhileRouting)
{
    EXPECT_EQ(TrayTip(false, 2, 3), "Tonefork");
    EXPECT_EQ(TrayTip(true, 0, 0), "Tonefork");
    EXPECT_EQ(TrayTip(true, 2, 3), "Tonefork - 2 of 3 targets healthy");
    EXPECT_EQ(TrayTip(true, 1, 1), "Tonefork - 1 of 1 target healthy");
}
