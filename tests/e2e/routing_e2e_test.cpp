// Audio through the real program: a tone played into "Speakers" is captured
// from "Monitor of Speakers" and must come out of "Headphones" and
// "HDMI Output", scaled by the stored volume and softly clipped. Every sink
// is recorded through its PulseAudio monitor while the tone plays.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "audio_analysis.h"
#include "harness.h"
#include "tone_route.h"

using namespace std::chrono_literals;

namespace
{
const std::vector<std::string> kRoutedRun = {
    "Starting redirection: source='[Recording] Monitor of Speakers', targets=2",
    "Redirect thread started.",
    "WASAPI: source started; 2 render targets started.",
    "Process exit.",
    "Redirect thread exiting (cleanup done).",
};

class RoutingE2e : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        WriteToneFile();
    }
    void SetUp() override
    {
        RegDeleteTree(kSettingsKey);
    }
    void TearDown() override
    {
        RegDeleteTree(kSettingsKey);
    }

    // Starts the program with the route stored and waits until it streams.
    void StartRouting(ToneforkInstance& app, uint32_t volume, bool inTray = false)
    {
        SeedRoute(volume, RouteChosenInWindow("Monitor of Speakers"));
        RegSetDword(kSettingsKey, "MinimizeToTray", inTray ? 1 : 0);
        app.Start();
        ASSERT_TRUE(app.WaitForLog("WASAPI: source started; 2 render targets started.", 90s)) << app.Diagnosis();
    }
};

// Half a minute of a running route at 30 ms with the window in the tray,
// judged by the gaps the route made itself: one in what was played (the
// player starved of the processor) reaches every target and is not the
// route's. Under this Wine a target still loses one period now and then
// (once in five runs of this test, at most one gap each); more than that in
// half a minute is a fault. A host that held the player back now and then
// holds the route's threads back as well, at other moments: each of the
// player's own gaps may be heard once more from the route. The first two
// seconds of the tone are left out: the player and the three recorders
// starting at once make the sound server rearrange its streams, which one
// target was once heard to stumble over for a second and a half.
constexpr int kGapsAllowed = 1;
constexpr auto kServerSettles = 2s;

// Wine 8's queue count stands higher for good after a host stall, and the
// frame count then leaves out frames the device never held, which starves
// the sound server and holds the count up: a target loses parts of packets
// for seconds (docs/benchmarks.md). A run whose gaps are over the allowance
// while its log says frames were left out is run again, twice at most (on a
// busy host two such runs in a row were seen); the last is judged as it
// comes, and a run that left nothing out is judged at once.
TEST_F(RoutingE2e, HalfVolumeIsUnityOnBothTargetsAndHalfAMinuteHasAtMostOneGap)
{
    constexpr auto kRun = 30s;
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt <= kAttempts; ++attempt)
    {
        ToneforkInstance app("routing-unity-" + std::to_string(attempt));
        StartRouting(app, 50, true);
        // The streams' first seconds settle unevenly under this Wine; a start
        // is judged by the first-audio benchmark, a route that runs by this
        // test.
        std::this_thread::sleep_for(2s);
        const SinkRecordings recordings = RecordTone(app.Folder(), kRun);
        CloseAndExpectCleanExit(app);

        const int played = ReportDiscontinuities("routing_discontinuities.txt", "played", recordings.at("speakers"),
                                                 "speakers", kServerSettles);
        // A host that broke the player up at all held the route back once
        // more in two full runs (3 and 7 of the player's own gaps).
        const int allowed = 2 * played + kGapsAllowed + (played > 0 ? 1 : 0);
        std::map<std::string, int> heard;
        bool within = true;
        for (const std::string& sink : kTargetSinks)
        {
            heard[sink] = ReportDiscontinuities("routing_discontinuities.txt", "routing", recordings.at(sink), sink,
                                                kServerSettles);
            within = within && heard[sink] <= allowed;
        }
        if (!within && attempt < kAttempts && FramesLeftOut(app.LogText()) > 0)
        {
            continue;
        }
        ExpectPlayedTone(recordings, kRun - 1s);
        const ExpectedTone unity = ExpectedAtVolume(50);
        for (const std::string& sink : kTargetSinks)
        {
            ExpectToneAt(recordings.at(sink), unity, sink, kRun - 1s);
            EXPECT_LE(heard[sink], allowed) << sink << ": gaps the route made itself";
        }
        EXPECT_TRUE(ContainsInOrder(LogMessages(app.LogText()), kRoutedRun)) << app.LogText();
        return;
    }
}

// Volume levels below and above unity, one program start each. At 100 % the
// tone reaches 1.0 before the clipper, which bends it to peaks of 0.93.
class RoutingVolume : public RoutingE2e, public ::testing::WithParamInterface<uint32_t>
{
};

TEST_P(RoutingVolume, EveryTargetHearsTheToneScaledAndSoftClipped)
{
    const uint32_t volume = GetParam();
    ToneforkInstance app("routing-volume-" + std::to_string(volume));
    StartRouting(app, volume);
    constexpr auto kRun = 3s;
    const SinkRecordings recordings = RecordTone(app.Folder(), kRun);
    CloseAndExpectCleanExit(app);

    ExpectPlayedTone(recordings, kRun - 1s);
    const ExpectedTone expected = ExpectedAtVolume(volume);
    for (const std::string& sink : kTargetSinks)
    {
        if (expected.peak == 0.0f)
        {
            ExpectSilent(recordings.at(sink), sink);
        }
        else
        {
            ExpectToneAt(recordings.at(sink), expected, sink, kRun - 1s);
        }
    }
    EXPECT_TRUE(ContainsInOrder(LogMessages(app.LogText()), kRoutedRun)) << app.LogText();
}

INSTANTIATE_TEST_SUITE_P(Routing, RoutingVolume, ::testing::Values(25u, 100u, 0u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return "Volume" + std::to_string(info.param);
                         });

// Wine has no loopback capture: a playback device as the source cannot be
// opened, the run ends by itself and the program carries on without it.
TEST_F(RoutingE2e, PlaybackSourceEndsItsRunAndTheProgramStaysUsable)
{
    SeedRoute(50, RouteChosenInWindow("Speakers"), true);
    ToneforkInstance app("routing-loopback");
    app.Start();
    ASSERT_TRUE(app.WaitForLog("Redirect thread started.", 90s)) << app.LogText();
    const SinkRecordings recordings = RecordTone(app.Folder(), 2s);
    ExpectPlayedTone(recordings, 1s);
    for (const std::string& sink : kTargetSinks)
    {
        ExpectSilent(recordings.at(sink), sink);
    }

    // The ended run is noticed: the tray's toggle starts anew and first
    // joins the finished thread.
    ASSERT_EQ(app.Control({"command", "1002"}).exitCode, 0);
    ASSERT_TRUE(app.WaitForLog("Tray: Starting redirection.", 30s)) << app.LogText();
    const auto info = ParseKeyValues(app.Control({"info"}).output);
    EXPECT_EQ(info.at("found"), "1");
    EXPECT_EQ(info.at("visible"), "1");
    CloseAndExpectCleanExit(app);

    const std::vector<std::string> messages = LogMessages(app.LogText());
    EXPECT_TRUE(ContainsInOrder(messages, {"Starting redirection: source='[Playback] Speakers', targets=2",
                                           "Redirect thread started.", "Source device dataFlow: Render",
                                           "StartRedirection: previous thread still joinable, joining first...",
                                           "StartRedirection requested.", "Tray: Starting redirection.",
                                           "Process exit."}))
        << app.LogText();
    EXPECT_EQ(CountStartingWith(messages, "Redirect thread started."), 2u);
    EXPECT_EQ(CountStartingWith(messages, "WASAPI: source started"), 0u);
    EXPECT_EQ(CountStartingWith(messages, "Redirect thread exiting"), 0u) << "an early end logs nothing more";
}
}  // namespace
