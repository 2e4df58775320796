// Audio through the real program: a tone played into "Speakers" is captured
// from "Monitor of Speakers" and must come out of "Headphones" and
// "HDMI Output", scaled by the stored volume and softly clipped. Every sink
// is recorded through its PulseAudio monitor while the tone plays.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "audio/engine/soft_clip.h"
#include "audio_analysis.h"
#include "harness.h"
#include "tone_route.h"

using namespace std::chrono_literals;

namespace
{
const std::string kSpeakersPlaybackSource =
    R"({"dataFlow":0,"eguid":"","eid":"","ff":0,"isDefault":false,"name":"Speakers"})";
const std::string kBothTargets =
    R"([{"eguid":"","eid":"","ff":0,"name":"Headphones"},{"eguid":"","eid":"","ff":0,"name":"HDMI Output"}])";

const std::vector<std::string> kRoutedRun = {
    "Starting redirection: source='[Recording] Monitor of Speakers', targets=2",
    "Redirect thread started.",
    "WASAPI: source started; 2 render targets started.",
    "Process exit.",
    "Redirect thread exiting (cleanup done).",
};

void SeedRoute(uint32_t volume, const std::string& source)
{
    RegSetDword(kSettingsKey, "StartRedirectingOnStartup", 1);
    RegSetDword(kSettingsKey, "Volume", volume);
    RegSetDword(kSettingsKey, "BufferMs", 30);
    RegSetString(kSettingsKey, "SelectedSource", source);
    RegSetString(kSettingsKey, "SelectedTargets", kBothTargets);
}

void CloseAndExpectCleanExit(ToneforkInstance& app)
{
    ASSERT_EQ(app.Control({"close"}).exitCode, 0);
    ASSERT_EQ(app.WaitForExit(60s), std::optional<int>(0)) << app.LogText();
}

size_t CountStartingWith(const std::vector<std::string>& messages, const std::string& prefix)
{
    size_t count = 0;
    for (const std::string& message : messages)
    {
        count += message.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

void WriteResult(const std::string& fileName, const std::string& text)
{
    std::filesystem::create_directories(Environment().results);
    std::ofstream(Environment().results + "/" + fileName, std::ios::app) << text;
    std::fputs(text.c_str(), stdout);
}

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
    void StartRouting(ToneforkInstance& app, uint32_t volume)
    {
        SeedRoute(volume, kMonitorSource);
        app.Start();
        ASSERT_TRUE(app.WaitForLog("WASAPI: source started; 2 render targets started.", 90s)) << app.LogText();
    }
};

TEST_F(RoutingE2e, HalfVolumeIsUnityOnBothTargetsAndHalfAMinuteIsMeasuredForGaps)
{
    ToneforkInstance app("routing-unity");
    StartRouting(app, 50);
    constexpr auto kRun = 30s;
    const SinkRecordings recordings = RecordTone(app.Folder(), kRun);
    CloseAndExpectCleanExit(app);

    ExpectPlayedTone(recordings, kRun - 1s);
    const ExpectedTone unity = ExpectedAtVolume(50.0f);
    ASSERT_NEAR(unity.amplitude, kToneAmplitude, 1e-3) << "50 % must be unity gain";
    for (const std::string& sink : kTargetSinks)
    {
        ExpectToneAt(recordings.at(sink), unity, sink, kRun - 1s);
        // Gaps are a measured figure of the route, not a pass mark: a
        // loaded machine drops packets that an idle one does not.
        const std::vector<float> tone = SteadyTone(recordings.at(sink), 0);
        const DiscontinuityReport gaps = CountDiscontinuities(tone, kToneHz);
        ASSERT_TRUE(gaps.analysed) << sink;
        char line[256];
        std::snprintf(line, sizeof line,
                      "routing target=%s seconds=%.1f discontinuities=%d max_phase_step_rad=%.5f "
                      "max_amplitude_deviation=%.4f\n",
                      sink.c_str(), double(tone.size()) / kAnalysisSampleRate, gaps.count, gaps.maxPhaseStepRad,
                      gaps.maxAmplitudeDeviation);
        WriteResult("routing_discontinuities.txt", line);
        RecordProperty("discontinuities_" + sink, gaps.count);
    }
    EXPECT_TRUE(ContainsInOrder(LogMessages(app.LogText()), kRoutedRun)) << app.LogText();
}

// Volume levels below and above unity, one program start each. At 100 % the
// tone reaches 1.0 before the clipper, which bends it to peaks near 0.93.
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
    const ExpectedTone expected = ExpectedAtVolume(static_cast<float>(volume));
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
    SeedRoute(50, kSpeakersPlaybackSource);
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
