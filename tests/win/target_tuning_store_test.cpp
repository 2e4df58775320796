// The delays and volumes per device through the real registry: set on a
// listed device, saved, and back on that device's link after a restart.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "audio/inventory/selection.h"
#include "fake_endpoints.h"
#include "log/text_convert.h"
#include "registry_test_support.h"
#include "settings/settings_store.h"
#include "settings/target_tuning_codec.h"
#include "test_log.h"

namespace
{
const FakeEndpoint kSpeakers = SystemFakeEndpoint(eRender, 1, L"Speakers");
const FakeEndpoint kHeadphones = SystemFakeEndpoint(eRender, 2, L"Kopfh\u00f6rer");

// Lists the endpoints into a fresh state, loads the settings into it and
// returns the "TargetTuning:" lines the load said.
std::vector<std::string> ListAndLoad(AppState& state, std::vector<FakeEndpoint> render)
{
    FakeEndpointFlow playback;
    playback.endpoints = std::move(render);
    RefreshDevices(state, MakeFake<FakeMMDeviceEnumerator>(playback, FakeEndpointFlow{}).Get());
    const std::wstring log = OpenFreshTestLog(L"settings-tuning");
    LoadSettings(state);
    std::vector<std::string> said;
    for (const std::string& message : LoggedMessages(log))
    {
        if (message.rfind("TargetTuning:", 0) == 0)
            said.push_back(message);
    }
    return said;
}

TEST(SettingsStoreTuning, SavedOnADeviceComesBackOnItsLink)
{
    DeleteUserTree(kSettingsKeyPath);
    AppState state{AppStateDefaultsOnly{}};
    AppState loaded{AppStateDefaultsOnly{}};
    EXPECT_TRUE(ListAndLoad(state, {kSpeakers, kHeadphones}).empty());
    SetTargetTuning(state, 1, {120, 40.0f});
    SaveSettings(state);

    EXPECT_TRUE(ListAndLoad(loaded, {kHeadphones, kSpeakers}).empty());
    ASSERT_TRUE(TargetLinkAt(loaded, 0) && TargetLinkAt(loaded, 1));
    EXPECT_EQ(TargetLinkAt(loaded, 0)->Tuning(), (TargetTuning{120, 40.0f}));
    EXPECT_EQ(TargetLinkAt(loaded, 1)->Tuning(), TargetTuning{});
    EXPECT_EQ(loaded.desiredTuning, state.desiredTuning);
    ReleaseDeviceLists(state);
    ReleaseDeviceLists(loaded);
}

TEST(SettingsStoreTuning, ACorruptValueIsSaidOnceAndTheRestLoads)
{
    const std::string notReadable = "TargetTuning: the stored text is not readable; every target uses the defaults.";
    struct Case { DWORD type; std::wstring text; std::vector<std::string> said; size_t kept; };
    const Case cases[] = {
        {REG_NONE, L"", {}, 1},  // not written: an older version's key
        {REG_SZ, L"", {notReadable}, 0},  // present, unlike a missing value
        {REG_BINARY, L"[]", {notReadable}, 0},  // text if it were read as text
        {REG_SZ, L"[{\"eid\":\"a\",\"delayMs\":9000,\"volume\":50},5,{\"eid\":\"b\",\"delayMs\":2,\"volume\":3}]",
         {"TargetTuning: 2 entries unreadable or out of range; their defaults are used."}, 2},
    };
    for (const Case& c : cases)
    {
        DeleteUserTree(kSettingsKeyPath);
        WriteText(kSettingsKeyPath, kSelectedTargetsValueName, L"[{\"eid\":\"t\"}]");
        if (c.type != REG_NONE)
            WriteRawValue(kSettingsKeyPath, kTargetTuningValueName, c.type, c.text.c_str(),
                          static_cast<DWORD>((c.text.size() + 1) * sizeof(wchar_t)));
        AppState loaded{AppStateDefaultsOnly{}};
        loaded.desiredTuning = {TunedEndpoint{}};
        EXPECT_EQ(ListAndLoad(loaded, {kSpeakers}), c.said) << WideToUtf8(c.text);
        EXPECT_EQ(loaded.desiredTuning.size(), c.kept) << WideToUtf8(c.text);
        ASSERT_EQ(loaded.desiredTargets.size(), 1u);
        EXPECT_EQ(loaded.desiredTargets[0].eid, "t");
        EXPECT_EQ(TargetLinkAt(loaded, 0)->Tuning(), TargetTuning{});
        ReleaseDeviceLists(loaded);
    }
    DeleteUserTree(kSettingsKeyPath);
}
}  // namespace
