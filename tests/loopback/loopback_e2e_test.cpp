// The main use case through the real program under a Wine that captures by
// loopback (the loopback tier runs it under Wine 10): what "Speakers" plays,
// captured from the playback device itself or from the system default, must
// come out of "Headphones" and "HDMI Output" at the level the volume sets,
// and stop and start again from the tray while the tone plays.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "audio_analysis.h"
#include "harness.h"
#include "tone_route.h"

using namespace std::chrono_literals;

namespace
{
// The sources as their saved records name them, and as the log shows them.
const std::string kSpeakers = "Speakers";
const std::string kSystemDefault = "System Default Device";
const std::string kSpeakersLabel = "[Playback] Speakers";
const std::string kStarted = "WASAPI: source started; 2 render targets started.";
constexpr float kHeardThreshold = 0.01f;

std::vector<std::string> LoopbackRun(const std::string& label)
{
    return {"Starting redirection: source='" + label + "', targets=2", "Redirect thread started.",
            "Source device dataFlow: Render", kStarted, "Process exit.", "Redirect thread exiting (cleanup done)."};
}

class LoopbackE2e : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { WriteToneFile(); }
    void SetUp() override { RegDeleteTree(kSettingsKey); }
    void TearDown() override { RegDeleteTree(kSettingsKey); }

    static void StartRouting(ToneforkInstance& app, uint32_t volume, const std::string& source)
    {
        SeedRoute(volume, RouteChosenInWindow(source));
        app.Start();
        ASSERT_TRUE(app.WaitForLog(kStarted, 90s)) << app.Diagnosis();
    }
};

// A variable set for the programs started while it lives.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const char* value) : name(name) { setenv(name, value, 1); }
    ~ScopedEnvironment() { unsetenv(name); }

private:
    const char* name;
};

// The host's mount table.
std::string HostMounts()
{
    return ReadFile("/proc/self/mountinfo");
}

// Its mounts live in a namespace of its own, also while the program runs
// and after it is killed; and Debian's wine 10.0, which aborts when TMPDIR
// is set, is started without it.
TEST_F(LoopbackE2e, TheWineKeepsItsMountsToItselfAndStartsWhateverTmpdirSays)
{
    const std::string before = HostMounts();
    const CommandResult version = RunWine({"--version"});
    EXPECT_NE(version.output.find("wine-10."), std::string::npos) << version.output;
    const CommandResult echo = [] {
        ScopedEnvironment tmpdir("TMPDIR", "/tmp");
        return RunWine({"cmd", "/c", "echo", "started"});
    }();
    EXPECT_EQ(echo.exitCode, 0) << echo.output;
    EXPECT_NE(echo.output.find("started"), std::string::npos) << echo.output;
    {
        ToneforkInstance app("loopback-mounts");
        app.Start();
        ASSERT_TRUE(app.WaitForLog("System tray icon added.", 90s)) << app.LogText();
        EXPECT_EQ(HostMounts(), before) << "while it runs";
    }
    EXPECT_EQ(HostMounts(), before) << "after it was killed";
}

struct LoopbackCase
{
    const char* name;
    std::string source;  // its saved name
    std::string label;
    uint32_t volume;
    std::chrono::seconds run;
    bool reportGaps;
};

void PrintTo(const LoopbackCase& c, std::ostream* os)
{
    *os << c.name;
}

class LoopbackLevels : public LoopbackE2e, public ::testing::WithParamInterface<LoopbackCase>
{
};

TEST_P(LoopbackLevels, EveryTargetHearsWhatSpeakersPlayAtTheVolumesLevel)
{
    const LoopbackCase& c = GetParam();
    ToneforkInstance app(std::string("loopback-") + c.name);
    StartRouting(app, c.volume, c.source);
    const SinkRecordings recordings = RecordTone(app.Folder(), c.run);
    CloseAndExpectCleanExit(app);

    ExpectPlayedTone(recordings, c.run - 1s);
    const ExpectedTone expected = ExpectedAtVolume(c.volume);
    for (const std::string& sink : kTargetSinks)
    {
        for (int channel = 0; channel < 2; ++channel)
        {
            ExpectToneRms(SteadyTone(recordings.at(sink), channel), expected,
                          sink + " channel " + std::to_string(channel), c.run - 1s);
        }
        if (c.reportGaps)
        {
            ReportDiscontinuities("loopback_discontinuities.txt", std::string("loopback source=") + c.name,
                                  recordings.at(sink), sink);
        }
    }
    EXPECT_TRUE(ContainsInOrder(LogMessages(app.LogText()), LoopbackRun(c.label))) << app.LogText();
}

// At 100 % the tone reaches 1.0 before the clipper, which rounds it off.
INSTANTIATE_TEST_SUITE_P(
    Loopback, LoopbackLevels,
    ::testing::Values(LoopbackCase{"Speakers", kSpeakers, kSpeakersLabel, 50, 30s, true},
                      LoopbackCase{"SystemDefault", kSystemDefault, "[System Default Playback Device]", 100, 5s,
                                   false},
                      LoopbackCase{"SpeakersQuiet", kSpeakers, kSpeakersLabel, 25, 5s, false}),
    [](const ::testing::TestParamInfo<LoopbackCase>& info) { return std::string(info.param.name); });

TEST_F(LoopbackE2e, TheTrayStopsAndStartsTheRouteWhileSpeakersPlay)
{
    ToneforkInstance app("loopback-tray");
    StartRouting(app, 50, kSpeakers);
    ToneSession session(app.Folder());
    std::this_thread::sleep_for(4s);
    ASSERT_EQ(app.Control({"command", "1002"}).exitCode, 0);
    ASSERT_TRUE(app.WaitForLog("Tray: Stopping redirection.", 30s)) << app.LogText();
    std::this_thread::sleep_for(3s);
    ASSERT_EQ(app.Control({"command", "1002"}).exitCode, 0);
    ASSERT_TRUE(app.WaitForLog(kStarted, 30s, 2)) << app.LogText();
    std::this_thread::sleep_for(3s);
    const SinkRecordings recordings = session.Finish();
    CloseAndExpectCleanExit(app);

    ExpectPlayedTone(recordings, 8s);
    const ExpectedTone unity = ExpectedAtVolume(50);
    for (const std::string& sink : kTargetSinks)
    {
        // Sound, the stop's silence (seconds, where a glitch lasts a few
        // packets), sound again.
        const std::vector<float> heard = ExtractChannel(recordings.at(sink), 0);
        const std::vector<SignalSpan> spans = FindSignalSpans(heard, kHeardThreshold, kAnalysisSampleRate / 2);
        ASSERT_EQ(spans.size(), 2u) << sink << ": the tone must stop once and come back once";
        EXPECT_GE(spans[1].first - spans[0].end, size_t{2} * kAnalysisSampleRate) << sink;
        for (const SignalSpan& span : spans)
        {
            // The first half second of each part is the route settling.
            const SignalSpan steady{span.first + kAnalysisSampleRate / 2, span.end};
            const std::span<const float> part = SubSpan(heard, steady);
            ExpectToneRms({part.begin(), part.end()}, unity, sink, 2s);
        }
    }
    const std::vector<std::string> messages = LogMessages(app.LogText());
    EXPECT_TRUE(ContainsInOrder(messages, {kStarted, "Redirect thread exiting (cleanup done).",
                                           "Tray: Stopping redirection.",
                                           "Starting redirection: source='" + kSpeakersLabel + "', targets=2",
                                           kStarted, "Process exit.", "Redirect thread exiting (cleanup done)."}))
        << app.LogText();
    EXPECT_EQ(CountStartingWith(messages, "Tray: Starting redirection."), 1u);
}

struct BiasCase
{
    const char* name;
    const char* bias;  // a fraction of the rate
    const char* logged;
};

void PrintTo(const BiasCase& c, std::ostream* os)
{
    *os << c.name;
}

// This Wine throws a stream's queue away at most of its rate changes (how
// much it held at the moment varies, and now and then nothing is lost). The
// first change, made at the start while nothing is heard yet, shows it; all
// it threw away after that must be queued again.
void ExpectEveryDroppedFrameQueuedAgain(const std::vector<std::string>& messages, const std::string& name)
{
    const std::string prefix = "Rate adjustment: '" + name + "' dropped ";
    for (const std::string& message : messages)
    {
        if (message.rfind(prefix, 0) != 0 || message.find("kept from now on") != std::string::npos)
        {
            continue;
        }
        unsigned dropped = 0;
        unsigned again = 0;
        EXPECT_EQ(std::sscanf(message.c_str() + prefix.size(), "%u queued frames at the change; %u were", &dropped,
                              &again),
                  2)
            << message;
        EXPECT_EQ(again, dropped) << message;
    }
}

class LoopbackRateBias : public LoopbackE2e, public ::testing::WithParamInterface<BiasCase>
{
};

// No two devices share a clock exactly. Every target is made to play half a
// per cent fast (its queue drains) or slow (it fills) for a minute: the
// knob is applied and said, every target follows the source by rate
// adjustment, and the tone keeps its level.
// The gaps are reported: this Wine's queue and clock do not show what its
// sound server holds, so they measure the environment as much as the route.
TEST_P(LoopbackRateBias, ATargetOffByHalfAPerCentIsSteeredForAMinute)
{
    const BiasCase& c = GetParam();
    ToneforkInstance app(std::string("loopback-bias-") + c.name);
    {
        ScopedEnvironment bias("TONEFORK_TEST_RATE_BIAS", c.bias);
        StartRouting(app, 50, kSpeakers);
    }
    constexpr auto kRun = 60s;
    const SinkRecordings recordings = RecordTone(app.Folder(), kRun);
    CloseAndExpectCleanExit(app);

    ExpectPlayedTone(recordings, kRun - 1s);
    const ExpectedTone unity = ExpectedAtVolume(50);
    const std::string label = std::string("loopback bias=") + c.bias;
    ReportDiscontinuities("loopback_discontinuities.txt", label, recordings.at("speakers"), "speakers");
    for (const std::string& sink : kTargetSinks)
    {
        ExpectToneRms(SteadyTone(recordings.at(sink), 0), unity, sink, kRun - 1s);
        ReportDiscontinuities("loopback_discontinuities.txt", label, recordings.at(sink), sink);
    }
    const std::vector<std::string> messages = LogMessages(app.LogText());
    EXPECT_TRUE(ContainsInOrder(messages, {c.logged, kStarted})) << app.LogText();
    for (const std::string name : {"Headphones", "HDMI Output"})
    {
        EXPECT_EQ(CountStartingWith(messages, "OpenRenderTarget: '" + name +
                                                  "' follows the source's clock by rate adjustment."),
                  1u)
            << app.LogText();
        EXPECT_GE(CountStartingWith(messages, "Rate adjustment: '" + name + "' now plays at "), 1u) << app.LogText();
        ExpectEveryDroppedFrameQueuedAgain(messages, name);
    }
}

INSTANTIATE_TEST_SUITE_P(Loopback, LoopbackRateBias,
                         ::testing::Values(BiasCase{"Fast", "0.005",
                                                    "Rate adjustment: test bias of +0.50% on every target."},
                                           BiasCase{"Slow", "-0.005",
                                                    "Rate adjustment: test bias of -0.50% on every target."}),
                         [](const ::testing::TestParamInfo<BiasCase>& info) { return std::string(info.param.name); });
}  // namespace
