// The reaction to a debounced device change, with a fake enumerator whose
// endpoints come and go between refreshes and the real engine running on
// fake streams: what a user would notice when a device is unplugged or
// plugged back, and the lists refreshed under a running engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "audio/engine/device_change.h"
#include "audio/engine/redirection_control.h"
#include "audio/inventory/selection.h"
#include "engine_fixture.h"
#include "registry_test_support.h"
#include "settings/settings_codec.h"

namespace
{
const std::string kDetected = "Device change detected: refreshing device inventory and reapplying selections.";
const std::string kContinue = "Non-critical device change - continuing current redirection";
const std::string kCritical = "Critical device change while redirecting - restarting redirection";
const std::string kCannot = "Cannot restart - invalid device configuration";
const std::string kReconnected = "Device reconnected - auto-starting redirection";
const std::string kSourceBack = "Desired source is back - restarting redirection to capture from it";
const std::string kDefaultMoved = "System default may have changed, restarting redirection.";
const std::string kRequested = "StartRedirection requested.";

std::string After(int targetsChanged, int sourceValid, int desiredAvailable, int wasRedirecting)
{
    return "After device change - Targets changed: " + std::to_string(targetsChanged) +
           ", Source valid: " + std::to_string(sourceValid) +
           ", Desired source available: " + std::to_string(desiredAvailable) +
           ", Was redirecting: " + std::to_string(wasRedirecting);
}

size_t Count(const std::vector<std::string>& lines, const std::string& message)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
}

class DeviceChange : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        DeleteUserTree(kSettingsKeyPath);
    }
    void TearDown() override
    {
        EngineTest::TearDown();
        DeleteUserTree(kSettingsKeyPath);
    }

    // The choices a person makes in the window: the entries of the devices
    // as the program lists them now (every one of them plugged in).
    void Choose(const std::string& source, const std::vector<std::string>& targets)
    {
        List();
        state.desiredSource = SourceEntry(source).identity;
        state.desiredTargets.clear();
        for (const std::string& target : targets)
            state.desiredTargets.push_back(state.playbackDevices[TargetIndex(target)].identity);
    }

    // One reaction; returns what it logged.
    std::vector<std::string> React()
    {
        const size_t before = Log().size();
        HandleDeviceChange(state, enumerator.Get());
        const std::vector<std::string> lines = Log();
        return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(before, lines.size())), lines.end()};
    }

    // The first run after a reaction that lists every plugged device.
    void ListAndStart(size_t targets = 1)
    {
        React();
        StartAndWaitRunning(targets);
    }
};

TEST_F(DeviceChange, AnUnpluggedTargetRestartsTheRestAndTheLastOneEndsTheRun)
{
    Plug("Mic", eCapture, SourceBehaviour());
    Plug("Headphones", eRender, TargetBehaviour());
    const auto hdmi = Plug("HDMI", eRender, TargetBehaviour());
    Choose("Mic", {"Headphones", "HDMI"});
    ListAndStart(2);

    Unplug("HDMI");
    std::vector<std::string> lines = React();
    EXPECT_TRUE(InOrder(lines, {kDetected, After(1, 1, 1, 1), kCritical, kRequested,
                                "Starting redirection: source='[Recording] Mic', targets=1"}));
    ASSERT_TRUE(WaitForLog("WASAPI: source started; 1 render targets started."));
    EXPECT_FALSE(hdmi->Streams().back().running);

    Unplug("Headphones");
    lines = React();
    EXPECT_TRUE(InOrder(lines, {After(1, 1, 1, 1)}));
    EXPECT_FALSE(state.isRedirecting);
    EXPECT_EQ(Count(lines, kRequested), 0u);
    // The engine's own target check may see the empty selection and end the
    // run before the reaction decides; otherwise the reaction stops it.
    if (Count(lines, kCritical) > 0)
        EXPECT_TRUE(InOrder(lines, {kCritical, kCannot}));
    else
        EXPECT_TRUE(InOrder(lines, {"Targets changed: rebuilding render targets (old=1)."}));
    EXPECT_EQ(state.desiredTargets.size(), 2u) << "the saved choices outlive their devices";
}

TEST_F(DeviceChange, ARunWhoseSourceWasUnpluggedContinuesAndResumesOnItOnceItIsBack)
{
    const auto mic = Plug("Mic", eCapture, SourceBehaviour());
    Plug("Headphones", eRender, TargetBehaviour());
    Choose("Mic", {"Headphones"});
    ListAndStart();

    Unplug("Mic");
    EXPECT_EQ(React(), (std::vector<std::string>{
                           kDetected, "RefreshDevices: found 1 active render endpoints.",
                           "RefreshDevices: source list has 2 devices (1 default + 1 playback + 0 recording).",
                           After(0, 1, 0, 1),
                           "SaveSettings: RunOnStartup=0, MinimizeToTray=0, MinOnClose=0, AutoStartRedirect=0, "
                           "Window=516x720, Volume=50, Buffer=20ms",
                           kContinue}));
    EXPECT_TRUE(state.isRedirecting);
    EXPECT_EQ(state.selectedSourceIndex, 0) << "the source falls back to the system-default entry";

    PlugBack("Mic");
    EXPECT_TRUE(InOrder(React(), {After(0, 1, 1, 1), kSourceBack, kRequested,
                                  "Starting redirection: source='[Recording] Mic', targets=1"}));
    ASSERT_TRUE(WaitFor([&] { return mic->Streams().size() == 2 && mic->Streams()[1].running; }));

    // Once it captures its source again, a further change leaves it alone.
    EXPECT_TRUE(InOrder(React(), {After(0, 1, 1, 1), kContinue}));
    EXPECT_EQ(mic->ActivateCalls(), 2);
}

TEST_F(DeviceChange, ARunThatFellBackToTheDefaultMovesToItsSourceWhenThatArrives)
{
    Plug("Speakers", eRender, SourceBehaviour());
    Plug("Headphones", eRender, TargetBehaviour());
    const auto mic = Plug("Mic", eCapture, SourceBehaviour());
    Choose("Mic", {"Headphones"});
    Unplug("Mic");
    ListAndStart();
    EXPECT_TRUE(InOrder(Log(), {"Starting redirection: source='[System Default Playback Device]', targets=1"}));

    PlugBack("Mic");
    const std::vector<std::string> lines = React();
    EXPECT_TRUE(InOrder(lines, {After(0, 1, 1, 1), kSourceBack,
                                "Starting redirection: source='[Recording] Mic', targets=1"}));
    EXPECT_EQ(Count(lines, kRequested), 1u);
    EXPECT_TRUE(WaitFor([&] { return mic->ActivateCalls() == 1; }));
}

TEST_F(DeviceChange, TheSystemDefaultAsSourceRestartsOncePerChangeOntoTheCurrentDefault)
{
    const auto speakers = Plug("Speakers", eRender, SourceBehaviour());
    Plug("Headphones", eRender, TargetBehaviour());
    Choose("Speakers", {"Headphones"});
    state.desiredSource = state.sourceDevices.at(0).identity;
    ListAndStart();

    const auto hdmi = Plug("HDMI", eRender, SourceBehaviour());
    enumerator->render.defaultEndpoint = 2;
    for (int change = 1; change <= 2; ++change)
    {
        SCOPED_TRACE("change " + std::to_string(change));
        const std::vector<std::string> lines = React();
        EXPECT_TRUE(InOrder(lines, {kDetected, kDefaultMoved, kRequested,
                                    "Starting redirection: source='[System Default Playback Device]', targets=1",
                                    After(0, 1, 0, 1), kContinue}));
        EXPECT_EQ(Count(lines, kRequested), 1u);
        EXPECT_TRUE(WaitFor([&] { return hdmi->ActivateCalls() == change; }));
    }
    EXPECT_EQ(speakers->ActivateCalls(), 1);
    EXPECT_TRUE(state.isRedirecting);
}

// The engine checks its targets about every 50 yields at this latency; a
// refresh that let it see the fresh lists before the selection was resolved
// again would end the run.
TEST_F(DeviceChange, ARunningEngineNeverSeesTheListsWithoutTheirSelection)
{
    Plug("Mic", eCapture, SourceBehaviour());
    const auto headphones = Plug("Headphones", eRender, TargetBehaviour());
    Choose("Mic", {"Headphones"});
    React();
    state.bufferMs = 10.0f;
    StartAndWaitRunning();

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end && state.isRedirecting)
        RefreshDevicesAndSelections(state, enumerator.Get());
    const size_t writes = PacketWrites(*headphones).size();
    EXPECT_TRUE(WaitForPacketWrites(*headphones, writes + 5)) << "the target no longer hears the source";

    EXPECT_TRUE(state.isRedirecting);
    for (const std::string& line : Log())
        EXPECT_NE(line.rfind("Targets changed:", 0), 0u) << line;
}

class DeviceChangeAutoStart : public DeviceChange, public ::testing::WithParamInterface<bool>
{
};

TEST_P(DeviceChangeAutoStart, AReturningSourceStartsAStoppedRedirectionOnlyWhenAskedTo)
{
    const bool autoStart = GetParam();
    state.startRedirectingOnStartup = autoStart;
    const auto mic = Plug("Mic", eCapture, SourceBehaviour());
    Plug("Headphones", eRender, TargetBehaviour());
    Choose("Mic", {"Headphones"});
    Unplug("Mic");
    EXPECT_EQ(Count(React(), kRequested), 0u) << "not while the source is missing";

    PlugBack("Mic");
    const std::vector<std::string> lines = React();
    EXPECT_EQ(ReadDword(kSettingsKeyPath, L"StartRedirectingOnStartup"), std::optional<uint32_t>(autoStart ? 1 : 0));
    if (autoStart)
    {
        EXPECT_TRUE(InOrder(lines, {After(0, 1, 1, 0), kReconnected, kRequested,
                                    "Starting redirection: source='[Recording] Mic', targets=1"}));
        EXPECT_TRUE(WaitForLog("WASAPI: source started; 1 render targets started."));
    }
    else
    {
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("SaveSettings:", 0), 0u) << "nothing is decided after the settings are saved";
        EXPECT_FALSE(state.isRedirecting);
        EXPECT_EQ(mic->ActivateCalls(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Setting, DeviceChangeAutoStart, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "On" : "Off"; });
}  // namespace
