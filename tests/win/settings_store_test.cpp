// The settings store against the real registry: what SaveSettings leaves
// behind byte for byte, and how LoadSettings copes with whatever it finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "app/app_state.h"
#include "log/text_convert.h"
#include "registry_test_support.h"
#include "settings/settings_codec.h"
#include "settings/settings_store.h"
#include "settings/target_tuning_codec.h"
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
    const std::optional<RawRegistryValue> tuning = ReadRawValue(kSettingsKeyPath, L"TargetTuning");
    ASSERT_TRUE(tuning);
    EXPECT_EQ(tuning->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(tuning->Units(), std::wstring(L"[]") + L'\0');
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

// A hand-edited volume of 1000 would be a gain of 20, a buffer of 0 ms a
// loop that spins: each is brought into its slider's range, said once, and
// what is used is what is saved.
TEST_F(SettingsStore, StoredNumbersOutOfRangeAreUsedAndSavedInRange)
{
    struct Case
    {
        uint32_t volume, bufferMs, usedVolume, usedBufferMs;
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {1000, 0, 100, 1,
         {"LoadSettings: stored Volume of 1000 is out of range; using 100.",
          "LoadSettings: stored BufferMs of 0 is out of range; using 1."}},
        {0, 100000, 0, 60, {"LoadSettings: stored BufferMs of 100000 is out of range; using 60."}},
        {100, 60, 100, 60, {}},
    };
    for (const Case& c : cases)
    {
        WriteDword(kSettingsKeyPath, L"Volume", c.volume);
        WriteDword(kSettingsKeyPath, L"BufferMs", c.bufferMs);
        const std::wstring log = OpenFreshTestLog(L"settings-range");
        AppState loaded{AppStateDefaultsOnly{}};
        LoadSettings(loaded);
        EXPECT_EQ(loaded.volume.load(), static_cast<float>(c.usedVolume)) << c.volume;
        EXPECT_EQ(loaded.bufferMs.load(), static_cast<float>(c.usedBufferMs)) << c.bufferMs;
        std::vector<std::string> said;
        for (const std::string& message : LoggedMessages(log))
        {
            if (message.rfind("LoadSettings: stored ", 0) == 0)
                said.push_back(message);
        }
        EXPECT_EQ(said, c.said);
        SaveSettings(loaded);
        EXPECT_EQ(ReadDword(kSettingsKeyPath, L"Volume"), std::optional<uint32_t>(c.usedVolume));
        EXPECT_EQ(ReadDword(kSettingsKeyPath, L"BufferMs"), std::optional<uint32_t>(c.usedBufferMs));
    }
}

// A level is kept as dB below full scale; one out of range (a negative level
// in two's complement is one) gives the default, said once, and is saved so.
TEST_F(SettingsStore, ProbeLevelOutOfRangeGivesTheDefaultAndSaysSo)
{
    struct Case
    {
        std::optional<uint32_t> stored;
        float used;
        bool said;
    };
    const Case cases[] = {
        {std::nullopt, -20.0f, false}, {35, -35.0f, false}, {50, -50.0f, false},
        {51, -20.0f, true},            {0xFFFFFFECu, -20.0f, true},
    };
    for (const Case& c : cases)
    {
        DeleteUserTree(kSettingsKeyPath);
        WriteDword(kSettingsKeyPath, L"Volume", 50);  // the key is there, the level may not be
        if (c.stored)
            WriteDword(kSettingsKeyPath, kAlignProbeLevelValueName, *c.stored);
        const std::wstring log = OpenFreshTestLog(L"settings-probe-level");
        AppState loaded{AppStateDefaultsOnly{}};
        LoadSettings(loaded);
        EXPECT_EQ(loaded.alignProbeDbfs, c.used) << c.stored.value_or(0);
        const std::vector<std::string> messages = LoggedMessages(log);
        EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                                [](const std::string& m) { return m.find("AlignProbeLevel") != std::string::npos; }),
                  c.said ? 1 : 0)
            << c.stored.value_or(0);
        SaveSettings(loaded);
        EXPECT_EQ(ReadDword(kSettingsKeyPath, kAlignProbeLevelValueName), std::optional<uint32_t>(static_cast<uint32_t>(-c.used)));
    }
}

// Whatever type and size a hand-edited value has, loading neither crashes
// nor takes it: every field keeps the default of a first start, and the log
// names the value it left out.
TEST_F(SettingsStore, EveryValueOfAWrongTypeOrSizeKeepsTheDefaults)
{
    struct Wrong
    {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
    };
    // As UTF-16, "[{}]" would be one target and "{}" a source.
    const std::vector<BYTE> oneTarget = {'[', 0, '{', 0, '}', 0, ']', 0};
    const Wrong wrongs[] = {
        {"string", REG_SZ, {'7', 0, '5', 0, 0, 0}},
        {"binary of 0 bytes", REG_BINARY, {}},
        {"binary of 2 bytes", REG_BINARY, {0xE8, 0x03}},
        {"binary of 8 bytes", REG_BINARY, oneTarget},
        {"QWORD", REG_QWORD, oneTarget},
        {"empty", REG_NONE, {}},
        {"DWORD", REG_DWORD, {'{', 0, '}', 0}},
    };
    struct Stored
    {
        const wchar_t* key;
        const wchar_t* name;
        DWORD type;  // what the program writes
    };
    std::vector<Stored> stored;
    for (const SettingsDwordValue& value : kSettingsDwordValues)
        stored.push_back({kSettingsKeyPath, value.name, REG_DWORD});
    stored.push_back({kSettingsKeyPath, kSelectedSourceValueName, REG_SZ});
    stored.push_back({kSettingsKeyPath, kSelectedTargetsValueName, REG_SZ});
    stored.push_back({kSettingsKeyPath, kTargetTuningValueName, REG_SZ});
    stored.push_back({kSettingsKeyPath, kAlignMicrophoneValueName, REG_SZ});
    stored.push_back({kSettingsKeyPath, kAlignProbeLevelValueName, REG_DWORD});
    stored.push_back({kDeviceVolumesKeyPath, L"__system_default__", REG_DWORD});

    AppState defaults{AppStateDefaultsOnly{}};
    LoadSettings(defaults);
    const auto fields = [](const AppState& s) {
        return std::make_tuple(s.minimizeToTray, s.startRedirectingOnStartup, s.minimizeOnClose,
                               s.rememberWindowSize, s.windowWidth, s.windowHeight, s.volume.load(),
                               s.bufferMs.load(), s.desiredSource, s.desiredTargets, s.deviceVolumes, s.desiredTuning,
                               s.alignMicrophone, s.alignProbeDbfs);
    };
    for (const Stored& value : stored)
    {
        for (const Wrong& wrong : wrongs)
        {
            if (wrong.type == value.type)
                continue;
            DeleteUserTree(kSettingsKeyPath);
            DeleteUserTree(kDeviceVolumesKeyPath);
            WriteRawValue(value.key, value.name, wrong.type, wrong.data.data(), static_cast<DWORD>(wrong.data.size()));
            AppState loaded{AppStateDefaultsOnly{}};
            const std::wstring log = OpenFreshTestLog(L"settings-wrong-type");
            LoadSettings(loaded);
            EXPECT_TRUE(fields(loaded) == fields(defaults)) << WideToUtf8(value.name) << " as " << wrong.what;
            const std::vector<std::string> said = LoggedMessages(log);
            EXPECT_TRUE(std::any_of(said.begin(), said.end(), [&value](const std::string& line) {
                return line.find(WideToUtf8(value.name)) != std::string::npos;
            })) << "nothing in the log names " << WideToUtf8(value.name) << " as " << wrong.what;
        }
    }
    DeleteUserTree(kDeviceVolumesKeyPath);
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
