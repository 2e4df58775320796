// Device changes reaching the real program. Wine sends no endpoint
// notifications and keeps the device list it found at process start, so a
// burst of the notification message is posted by hand, and an unplugged
// device is a PulseAudio sink unloaded before the program starts.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "harness.h"
#include "main_tab.h"

using namespace std::chrono_literals;

namespace
{
const std::string kDebouncing = "WM_APP_DEVICE_LIST_CHANGED received, debouncing (300ms).";
const std::string kTimerFired = "WM_TIMER fired for device-change debounce; applying changes.";
const std::string kDetected = "Device change detected: refreshing device inventory and reapplying selections.";
// The saved choices are the program's own records, chosen in its window:
// their source is listed by its id.
const std::string kAfterWhileRunning =
    "After device change - Targets changed: 0, Source valid: 1, Desired source available: 1, Was redirecting: 1";
const std::string kAfterWhileStopped =
    "After device change - Targets changed: 0, Source valid: 1, Desired source available: 1, Was redirecting: 0";
const std::string kStarted = "WASAPI: source started; 2 render targets started.";
const std::vector<std::string> kDecisions = {
    "Non-critical device change - continuing current redirection",
    "Critical device change while redirecting - restarting redirection",
    "Cannot restart - invalid device configuration",
    "Device reconnected - auto-starting redirection",
    "Desired source is back - restarting redirection to capture from it",
};

SavedRoute SeedRoute(bool startRedirecting)
{
    const SavedRoute route = RouteChosenInWindow("Monitor of Speakers");
    RegSetDword(kSettingsKey, "StartRedirectingOnStartup", startRedirecting ? 1 : 0);
    StoreRoute(route);
    return route;
}

// Posts `count` notifications 100 ms apart, well inside the 300 ms
// debounce, and waits for the reaction.
void PostBurst(ToneforkInstance& app, int count)
{
    EXPECT_EQ(app.Control({"post", "0x8064", "0", "0", std::to_string(count), "100"}).exitCode, 0);
    EXPECT_TRUE(app.WaitForLog("After device change", 30s)) << app.LogText();
}

std::vector<std::string> CloseAndReadLog(ToneforkInstance& app)
{
    EXPECT_EQ(app.Control({"close"}).exitCode, 0);
    EXPECT_EQ(app.WaitForExit(60s), std::optional<int>(0)) << app.LogText();
    return LogMessages(app.LogText());
}

// Starts the program with the route stored and, once the log holds
// `ready`, posts a burst of `count` notifications; then leaves time for the
// one reaction and for a second one that must not come, and closes it.
// Returns its log.
std::vector<std::string> ReactToBurst(const std::string& name, bool startRedirecting, const std::string& ready,
                                      int count)
{
    SeedRoute(startRedirecting);
    ToneforkInstance app(name);
    app.Start();
    if (!app.WaitForLog(ready, 90s))
    {
        ADD_FAILURE() << "never ready: " << app.LogText();
        return {};
    }
    PostBurst(app, count);
    std::this_thread::sleep_for(1500ms);
    return CloseAndReadLog(app);
}

void ExpectOneReaction(const std::vector<std::string>& messages, size_t notifications)
{
    EXPECT_EQ(CountStartingWith(messages, kDebouncing), notifications);
    EXPECT_EQ(CountStartingWith(messages, kTimerFired), 1u);
    EXPECT_EQ(CountStartingWith(messages, kDetected), 1u);
    EXPECT_EQ(CountStartingWith(messages, "After device change"), 1u);
    // Start-up refreshes once, the reaction once more.
    EXPECT_EQ(CountStartingWith(messages, "RefreshDevices: found "), 2u);
}

class DeviceChangeE2e : public ::testing::Test
{
protected:
    void SetUp() override { RegDeleteTree(kSettingsKey); }
    void TearDown() override { RegDeleteTree(kSettingsKey); }
};

TEST_F(DeviceChangeE2e, ABurstWhileRedirectingIsOneReactionAndTheRunContinues)
{
    const std::vector<std::string> messages = ReactToBurst("device-change-running", true, kStarted, 5);
    ExpectOneReaction(messages, 5);
    EXPECT_TRUE(ContainsInOrder(messages, {kStarted, kDebouncing, kTimerFired, kDetected, "RefreshDevices: found ",
                                           "RefreshDevices: source list has ", kAfterWhileRunning,
                                           "SaveSettings: RunOnStartup=0, MinimizeToTray=0, MinOnClose=0, "
                                           "AutoStartRedirect=1, Window=516x720, Volume=50, Buffer=30ms",
                                           kDecisions[0], "Process exit.", "Redirect thread exiting (cleanup done)."}))
        << testing::PrintToString(messages);
    EXPECT_EQ(CountStartingWith(messages, "StartRedirection requested."), 1u) << "the run must not be restarted";
    EXPECT_EQ(CountStartingWith(messages, "Redirect thread exiting"), 1u);
}

TEST_F(DeviceChangeE2e, ABurstWhileStoppedIsOneReactionThatStartsNothing)
{
    const std::vector<std::string> messages =
        ReactToBurst("device-change-stopped", false, "System tray icon added.", 3);
    ExpectOneReaction(messages, 3);
    EXPECT_TRUE(
        ContainsInOrder(messages, {kTimerFired, kDetected, kAfterWhileStopped, "SaveSettings: ", "Process exit."}))
        << testing::PrintToString(messages);
    for (const std::string& decision : kDecisions)
    {
        EXPECT_EQ(CountStartingWith(messages, decision), 0u) << decision;
    }
    EXPECT_EQ(CountStartingWith(messages, "StartRedirection requested."), 0u);
}

// Stopped from the tray, a route that may start by itself starts again at
// the next device change, as it does when its devices come back: its saved
// source is listed by its id. (The restart of a run onto a source that comes
// back needs the list to change while the program runs, which this Wine
// never does; the Windows tier covers it.)
TEST_F(DeviceChangeE2e, ABurstAfterAStopFromTheTrayStartsARouteThatMayStartByItself)
{
    SeedRoute(true);
    ToneforkInstance app("device-change-auto-start");
    app.Start();
    ASSERT_TRUE(app.WaitForLog(kStarted, 90s)) << app.Diagnosis();
    ASSERT_EQ(app.Control({"command", "1002"}).exitCode, 0);
    ASSERT_TRUE(app.WaitForLog("Redirect thread exiting (cleanup done).", 30s)) << app.LogText();
    PostBurst(app, 3);
    EXPECT_TRUE(app.WaitForLog(kStarted, 30s, 2)) << app.LogText();
    const std::vector<std::string> messages = CloseAndReadLog(app);
    ExpectOneReaction(messages, 3);
    EXPECT_TRUE(ContainsInOrder(messages, {"Tray: Stopping redirection.", kTimerFired, kDetected, kAfterWhileStopped,
                                           "SaveSettings: ", kDecisions[3], "StartRedirection requested.",
                                           "Starting redirection: source='[Recording] Monitor of Speakers', targets=2",
                                           kStarted, "Process exit."}))
        << testing::PrintToString(messages);
}

// One start with the route stored: it must find this many of the two
// saved targets, stream to them and exit cleanly.
void ExpectRunWithTargets(const std::string& name, int targets)
{
    ToneforkInstance app(name);
    app.Start();
    const std::string count = std::to_string(targets);
    ASSERT_TRUE(app.WaitForLog("WASAPI: source started; " + count + " render targets started.", 90s))
        << app.LogText();
    ASSERT_EQ(app.Control({"close"}).exitCode, 0);
    ASSERT_EQ(app.WaitForExit(60s), std::optional<int>(0)) << app.LogText();
    EXPECT_TRUE(ContainsInOrder(LogMessages(app.LogText()),
                                {"Starting redirection: source='[Recording] Monitor of Speakers', targets=" + count}))
        << app.LogText();
}

TEST_F(DeviceChangeE2e, ATargetMissingAtStartIsFoundAgainOnceItIsBack)
{
    const SavedRoute route = SeedRoute(true);
    UnpluggedSink hdmi("hdmi", "HDMI\\ Output");
    ASSERT_TRUE(hdmi.Unplugged());
    ExpectRunWithTargets("device-change-unplugged", 1);
    // The absent device's choice is kept, not dropped.
    EXPECT_EQ(RegQuery(kSettingsKey, "SelectedTargets"), Text(route.targets));

    ASSERT_TRUE(hdmi.PlugBack());
    ExpectRunWithTargets("device-change-plugged-back", 2);
}
}  // namespace
