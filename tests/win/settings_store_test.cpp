// The settings store against the real registry: what SaveSettings leaves
// behind byte for byte, and how LoadSettings copes with whatever it finds.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "log/text_convert.h"
#include "registry_test_support.h"
#include "settings/settings_codec.h"
#include "settings/settings_store.h"
#include "test_log.h"

namespace
{
constexpr wchar_t kSystemDefaultSourceJson[] =
    L"{\"dataFlow\":0,\"eguid\":\"\",\"eid\":\"\",\"ff\":0,\"isDefault\":true,\"name\":\"System Default Device\"}";

EndpointIdentity SystemDefaultIdentity()
{
    EndpointIdentity identity;
    identity.name = L"System Default Device";
    identity.isDefault = true;
    return identity;
}

EndpointIdentity Target(const std::string& eid, const std::wstring& name, uint32_t ff)
{
    EndpointIdentity identity;
    identity.eid = eid;
    identity.eguid = "{guid-" + eid + "}";
    identity.ff = ff;
    identity.name = name;
    return identity;
}

class SettingsStore : public ::testing::Test
{
protected:
    void SetUp() override { DeleteUserTree(kSettingsKeyPath); }
    void TearDown() override { DeleteUserTree(kSettingsKeyPath); }

    AppState state{AppStateDefaultsOnly{}};
};

TEST_F(SettingsStore, SaveWritesEveryValueWithItsTypeSizeAndData)
{
    state.minimizeToTray = true;
    state.minimizeOnClose = true;
    state.rememberWindowSize = false;
    state.windowWidth = 800;
    state.windowHeight = -3;
    state.volume = 73.9f;
    state.bufferMs = 12.5f;
    state.desiredSource = SystemDefaultIdentity();
    SaveSettings(state);

    const std::pair<const wchar_t*, uint32_t> expected[] = {
        {L"MinimizeToTray", 1}, {L"StartRedirectingOnStartup", 0}, {L"MinimizeOnClose", 1},
        {L"RememberWindowSize", 0}, {L"WindowWidth", 800}, {L"WindowHeight", 0xFFFFFFFDu},
        {L"Volume", 73}, {L"BufferMs", 12},
    };
    for (const auto& [name, number] : expected)
    {
        EXPECT_EQ(ReadDword(kSettingsKeyPath, name), std::optional<uint32_t>(number)) << WideToUtf8(name);
    }
    const std::optional<RawRegistryValue> source = ReadRawValue(kSettingsKeyPath, L"SelectedSource");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(source->Units(), std::wstring(kSystemDefaultSourceJson) + L'\0');
    const std::optional<RawRegistryValue> targets = ReadRawValue(kSettingsKeyPath, L"SelectedTargets");
    ASSERT_TRUE(targets);
    EXPECT_EQ(targets->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(targets->Units(), std::wstring(L"[]") + L'\0');
}

TEST_F(SettingsStore, SavedChoicesComeBackWithNonAsciiNamesUnescaped)
{
    state.desiredSource = Target("{0.0.1.00000000}.{mic}", L"Mikrofon (USB)", 4);
    state.desiredSource.dataFlow = 1;
    state.desiredTargets = {Target("{0.0.0.1}", L"Kopfh\u00f6rer \u4e2d", 3), Target("{0.0.0.2}", L"HDMI \"TV\"", 9)};
    state.volume = 73.9f;
    SaveSettings(state);

    const std::optional<RawRegistryValue> targets = ReadRawValue(kSettingsKeyPath, L"SelectedTargets");
    ASSERT_TRUE(targets);
    EXPECT_EQ(targets->Units(),
              std::wstring(L"[{\"eguid\":\"{guid-{0.0.0.1}}\",\"eid\":\"{0.0.0.1}\",\"ff\":3,\"name\":\"Kopfh\u00f6rer "
                           L"\u4e2d\"},{\"eguid\":\"{guid-{0.0.0.2}}\",\"eid\":\"{0.0.0.2}\",\"ff\":9,\"name\":"
                           L"\"HDMI \\\"TV\\\"\"}]") +
                  L'\0');

    AppState loaded{AppStateDefaultsOnly{}};
    LoadSettings(loaded);
    EXPECT_EQ(loaded.desiredSource, state.desiredSource);
    EXPECT_EQ(loaded.desiredTargets, state.desiredTargets);
    EXPECT_EQ(loaded.volume.load(), 73.0f);
}

TEST_F(SettingsStore, FirstRunKeepsEveryDefault)
{
    state.desiredTargets = {Target("kept", L"Kept", 1)};
    state.deviceVolumes = {{"stale", 10.0f}};
    const std::wstring log = OpenFreshTestLog(L"settings-first-run");
    LoadSettings(state);
    const std::vector<std::string> messages = LoggedMessages(log);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], "LoadDeviceVolumes: loaded 0 device volume settings.");
    EXPECT_EQ(messages[1], "LoadSettings: RunOnStartup=0, MinimizeToTray=0, MinOnClose=0, AutoStartRedirect=0, "
                           "Window=516x720, Volume=50, Buffer=30ms");
    for (const std::string& message : messages)
    {
        EXPECT_EQ(message.find("Applied saved volume"), std::string::npos) << "no saved source: " << message;
    }
    EXPECT_TRUE(state.deviceVolumes.empty());
    EXPECT_FALSE(state.minimizeToTray);
    EXPECT_FALSE(state.startRedirectingOnStartup);
    EXPECT_FALSE(state.minimizeOnClose);
    EXPECT_TRUE(state.rememberWindowSize);
    EXPECT_EQ(state.windowWidth, 516);
    EXPECT_EQ(state.windowHeight, 720);
    EXPECT_EQ(state.volume.load(), 50.0f);
    EXPECT_EQ(state.bufferMs.load(), 30.0f);
    EXPECT_EQ(state.desiredSource, EndpointIdentity{});
    EXPECT_EQ(state.desiredTargets.size(), 1u);
}

TEST_F(SettingsStore, ValuesOfTheWrongTypeOrSizeLeaveTheirFieldsAlone)
{
    WriteDword(kSettingsKeyPath, L"WindowWidth", 0);
    WriteText(kSettingsKeyPath, L"WindowHeight", L"800");
    const BYTE twoBytes[2] = {0x50, 0x00};
    WriteRawValue(kSettingsKeyPath, L"Volume", REG_BINARY, twoBytes, sizeof(twoBytes));
    const uint64_t eightBytes = 20;
    WriteRawValue(kSettingsKeyPath, L"BufferMs", REG_QWORD, &eightBytes, sizeof(eightBytes));
    WriteDword(kSettingsKeyPath, L"RememberWindowSize", 0);
    WriteDword(kSettingsKeyPath, L"MinimizeOnClose", 7);
    WriteText(kSettingsKeyPath, L"SelectedSource", L"");
    WriteText(kSettingsKeyPath, L"SelectedTargets", L"[{\"eid\":");
    state.desiredSource = SystemDefaultIdentity();
    state.desiredTargets = {Target("kept", L"Kept", 1)};

    LoadSettings(state);
    EXPECT_EQ(state.windowWidth, 0);
    EXPECT_EQ(state.windowHeight, 720);
    EXPECT_EQ(state.volume.load(), 50.0f);
    EXPECT_EQ(state.bufferMs.load(), 30.0f);
    EXPECT_FALSE(state.rememberWindowSize);
    EXPECT_TRUE(state.minimizeOnClose);
    EXPECT_EQ(state.desiredSource, SystemDefaultIdentity());
    ASSERT_EQ(state.desiredTargets.size(), 1u);
    EXPECT_EQ(state.desiredTargets[0].eid, "kept");
}

TEST_F(SettingsStore, BadMembersStopTheReadingWhereTheyAre)
{
    // Stored without a terminating NUL: the data size alone bounds the text.
    // (The system adds a NUL when one directly follows the data, so none may.)
    const std::wstring source = L"{\"eid\":\"new\",\"ff\":\"bad\",\"name\":\"never read\"}";
    const std::wstring sourceAndMore = source + L"}}";
    WriteRawValue(kSettingsKeyPath, L"SelectedSource", REG_SZ, sourceAndMore.c_str(),
                  static_cast<DWORD>(source.size() * sizeof(wchar_t)));
    ASSERT_EQ(ReadRawValue(kSettingsKeyPath, L"SelectedSource")->Units(), source);
    WriteText(kSettingsKeyPath, L"SelectedTargets", L"[{\"eid\":\"first\"},5,{\"eid\":\"third\"}]");
    state.desiredSource = Target("old", L"Old", 7);
    state.desiredSource.isDefault = true;
    state.desiredSource.dataFlow = 1;

    LoadSettings(state);
    EXPECT_EQ(state.desiredSource.eid, "new");
    EXPECT_EQ(state.desiredSource.eguid, "");
    EXPECT_EQ(state.desiredSource.ff, 7u);
    EXPECT_EQ(state.desiredSource.name, L"Old");
    EXPECT_TRUE(state.desiredSource.isDefault);
    EXPECT_EQ(state.desiredSource.dataFlow, 1);
    ASSERT_EQ(state.desiredTargets.size(), 1u);
    EndpointIdentity first;
    first.eid = "first";
    EXPECT_EQ(state.desiredTargets[0], first);
}

class SavedSourceVolume : public SettingsStore
{
protected:
    void SetUp() override
    {
        SettingsStore::SetUp();
        WriteDword(kSettingsKeyPath, L"Volume", 64);
        WriteDword(kDeviceVolumesKeyPath, L"__system_default__", 80);
        WriteDword(kDeviceVolumesKeyPath, L"{0.0.1.00000000}.{known}", 33);
    }

    // Loads with this saved source; returns the last log line of the load.
    std::string LoadWithSource(const std::wstring& sourceJson)
    {
        WriteText(kSettingsKeyPath, L"SelectedSource", sourceJson);
        const std::wstring log = OpenFreshTestLog(L"settings-source-volume");
        LoadSettings(state);
        const std::vector<std::string> messages = LoggedMessages(log);
        return messages.empty() ? std::string() : messages.back();
    }
};

TEST_F(SavedSourceVolume, SystemDefaultSourceTakesItsRememberedVolume)
{
    EXPECT_EQ(LoadWithSource(kSystemDefaultSourceJson), "Applied saved volume 80% for System Default.");
    EXPECT_EQ(state.volume.load(), 80.0f);
}

TEST_F(SavedSourceVolume, DeviceSourceTakesItsRememberedVolume)
{
    EXPECT_EQ(LoadWithSource(L"{\"eid\":\"{0.0.1.00000000}.{known}\",\"dataFlow\":1}"),
              "Applied saved volume 33% for source device.");
    EXPECT_EQ(state.volume.load(), 33.0f);
}

TEST_F(SavedSourceVolume, SourceWithoutRememberedVolumeKeepsTheStoredOne)
{
    EXPECT_EQ(LoadWithSource(L"{\"eid\":\"{0.0.1.00000000}.{never-seen}\"}"),
              "Applied saved volume 64% for source device.");
    EXPECT_EQ(state.volume.load(), 64.0f);
    // Case matters: the remembered key differs only in letter case.
    LoadWithSource(L"{\"eid\":\"{0.0.1.00000000}.{KNOWN}\"}");
    EXPECT_EQ(state.volume.load(), 64.0f);
}
}  // namespace
