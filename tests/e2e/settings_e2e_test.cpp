// The stored settings across real starts and exits: seeded by hand in the
// registry, read at start-up, written back in full at exit.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

using namespace std::chrono_literals;

namespace
{
const std::string kVolumesKey = "SOFTWARE\\Wavecaster\\DeviceVolumes";

const std::string kSystemDefaultSource =
    R"({"dataFlow":0,"eguid":"","eid":"","ff":0,"isDefault":true,"name":"System Default Device"})";

class SettingsEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTree(kSettingsKey);
        RegDeleteValue(kRunKey, kRunValue);
    }
    void TearDown() override
    {
        RegDeleteTree(kSettingsKey);
        RegDeleteValue(kRunKey, kRunValue);
    }
};

void StartAndWaitForToolkit(ToneforkInstance& app)
{
    app.Start();
    ASSERT_TRUE(app.WaitForLog("System tray icon added.", 60s)) << app.LogText();
    ASSERT_TRUE(app.WaitForLog("Exit icon", 30s)) << app.LogText();
}

void CloseAndWait(ToneforkInstance& app)
{
    ASSERT_EQ(app.Control({"close"}).exitCode, 0);
    ASSERT_EQ(app.WaitForExit(60s), std::optional<int>(0)) << app.LogText();
}

// The eight preferences in the order they are stored.
void ExpectStoredPreferences(const std::vector<uint32_t>& expected)
{
    const char* names[] = {"MinimizeToTray", "StartRedirectingOnStartup", "MinimizeOnClose", "RememberWindowSize",
                           "WindowWidth", "WindowHeight", "Volume", "BufferMs"};
    for (size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(RegQuery(kSettingsKey, names[i]), Dword(expected[i])) << names[i];
    }
}

}  // namespace

TEST_F(SettingsEndToEnd, SeededChoicesAreFoundByNameAndWrittenBackInFull)
{
    // A source saved with its name only, as older settings hold it, and
    // targets whose ids the system does not know: only the names can find
    // these again.
    RegSetString(kSettingsKey, "SelectedSource", R"({ "name": "Monitor of Speakers", "dataFlow": 1 })");
    RegSetString(kSettingsKey, "SelectedTargets",
                 R"([{"name":"Headphones","eid":"{0.0.0.00000000}.{22222222}","eguid":"","ff":3},)"
                 R"({"name":"HDMI Output","eid":"{0.0.0.00000000}.{33333333}","eguid":"","ff":9}])");
    RegSetDword(kSettingsKey, "WindowWidth", 600);
    RegSetDword(kSettingsKey, "WindowHeight", 700);
    RegSetDword(kSettingsKey, "Volume", 64);
    RegSetDword(kSettingsKey, "BufferMs", 20);
    RegSetDword(kVolumesKey, "__system_default__", 80);
    RegSetString(kRunKey, "Wavecaster", "C:\\made\\by\\hand.exe");

    ToneforkInstance app("settings-seeded");
    StartAndWaitForToolkit(app);
    const auto info = ParseKeyValues(app.Control({"info"}).output);
    EXPECT_EQ(info.at("width"), "600");
    EXPECT_EQ(info.at("height"), "700");
    // A start from the tray opens what the names found.
    ASSERT_EQ(app.Control({"command", "1002"}).exitCode, 0);
    EXPECT_TRUE(app.WaitForLog("WASAPI: source started; 2 render targets started.", 30s)) << app.LogText();
    CloseAndWait(app);

    const std::vector<std::string> messages = LogMessages(app.LogText());
    EXPECT_TRUE(ContainsInOrder(
        messages,
        {"RefreshDevices: found 4 active render endpoints.",
         "RefreshDevices: source list has 9 devices (1 default + 4 playback + 4 recording).",
         "LoadDeviceVolumes: loaded 1 device volume settings.",
         "LoadSettings: RunOnStartup=1, MinimizeToTray=0, MinOnClose=0, AutoStartRedirect=0, Window=600x700, "
         "Volume=64, Buffer=20ms",
         "Starting redirection: source='[Recording] Monitor of Speakers', targets=2", "Process exit.",
         "SaveSettings: RunOnStartup=1, MinimizeToTray=0, MinOnClose=0, AutoStartRedirect=0, Window=600x700, "
         "Volume=64, Buffer=20ms"}))
        << app.LogText();
    // The system lists its endpoints in no fixed order, and the targets open in that order.
    EXPECT_EQ(CountStartingWith(messages, "OpenRenderTarget: 'Headphones' "), 1u) << app.LogText();
    EXPECT_EQ(CountStartingWith(messages, "OpenRenderTarget: 'HDMI Output' "), 1u) << app.LogText();
    EXPECT_EQ(CountStartingWith(messages, "OpenRenderTarget: 'Speakers' "), 0u) << app.LogText();
    // Without an id the source has no remembered volume: the stored one stays.
    EXPECT_EQ(CountStartingWith(messages, "Applied saved volume"), 0u) << app.LogText();

    ExpectStoredPreferences({0, 0, 0, 1, 600, 700, 64, 20});
    EXPECT_EQ(RegQuery(kSettingsKey, "SelectedSource"),
              Text(R"({"dataFlow":1,"eguid":"","eid":"","ff":0,"isDefault":false,"name":"Monitor of Speakers"})"));
    EXPECT_EQ(RegQuery(kSettingsKey, "SelectedTargets"),
              Text(R"([{"eguid":"","eid":"{0.0.0.00000000}.{22222222}","ff":3,"name":"Headphones"},)"
                   R"({"eguid":"","eid":"{0.0.0.00000000}.{33333333}","ff":9,"name":"HDMI Output"}])"));
    EXPECT_EQ(RegQuery(kVolumesKey, "__system_default__"), Dword(80));
    // The Run entry is only read, never rewritten, at start and exit.
    EXPECT_EQ(RegQuery(kRunKey, "Wavecaster"), Text("C:\\made\\by\\hand.exe"));
}

TEST_F(SettingsEndToEnd, FirstStartRunsOnDefaultsAndStoresThem)
{
    ToneforkInstance app("settings-first");
    StartAndWaitForToolkit(app);
    EXPECT_EQ(ParseKeyValues(app.Control({"info"}).output).at("visible"), "1");
    CloseAndWait(app);

    const std::vector<std::string> messages = LogMessages(app.LogText());
    const std::string defaults =
        "RunOnStartup=0, MinimizeToTray=0, MinOnClose=0, AutoStartRedirect=0, Window=516x720, Volume=50, Buffer=30ms";
    EXPECT_TRUE(ContainsInOrder(messages, {"LoadDeviceVolumes: loaded 0 device volume settings.",
                                           "LoadSettings: " + defaults, "Process exit.", "SaveSettings: " + defaults}))
        << app.LogText();
    EXPECT_EQ(CountStartingWith(messages, "Applied saved volume"), 0u) << "no source was saved yet";

    ExpectStoredPreferences({0, 0, 0, 1, 516, 720, 50, 30});
    EXPECT_EQ(RegQuery(kSettingsKey, "SelectedSource"),
              Text(R"({"dataFlow":0,"eguid":"","eid":"","ff":0,"isDefault":false,"name":""})"));
    EXPECT_EQ(RegQuery(kSettingsKey, "SelectedTargets"), Text("[]"));
}

TEST_F(SettingsEndToEnd, StartsHiddenInTrayWithTheSystemDefaultVolume)
{
    RegSetDword(kSettingsKey, "MinimizeToTray", 1);
    RegSetString(kSettingsKey, "SelectedSource", kSystemDefaultSource);
    RegSetDword(kVolumesKey, "__system_default__", 80);

    ToneforkInstance app("settings-tray");
    StartAndWaitForToolkit(app);
    EXPECT_EQ(ParseKeyValues(app.Control({"info"}).output).at("visible"), "0");
    CloseAndWait(app);

    const std::vector<std::string> messages = LogMessages(app.LogText());
    EXPECT_TRUE(ContainsInOrder(messages, {"LoadSettings: RunOnStartup=0, MinimizeToTray=1, MinOnClose=0, "
                                           "AutoStartRedirect=0, Window=516x720, Volume=50, Buffer=30ms",
                                           "Applied saved volume 80% for System Default."}))
        << app.LogText();
    const auto added = std::find(messages.begin(), messages.end(), "System tray icon added.");
    ASSERT_NE(added, messages.end());
    ASSERT_NE(added + 1, messages.end());
    EXPECT_EQ(*(added + 1), "Window minimized to tray.");

    ExpectStoredPreferences({1, 0, 0, 1, 516, 720, 80, 30});
    EXPECT_EQ(RegQuery(kSettingsKey, "SelectedSource"), Text(kSystemDefaultSource));
}
