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
class SettingsStoreTuning : public ::testing::Test
{
protected:
    void SetUp() override { DeleteUserTree(kSettingsKeyPath); }
    void TearDown() override
    {
        for (AppState* s : {&state, &loaded})
        {
            ReleaseDeviceLists(*s);
        }
        DeleteUserTree(kSettingsKeyPath);
    }

    static void List(AppState& into, std::vector<FakeEndpoint> render)
    {
        FakeEndpointFlow playback;
        playback.endpoints = std::move(render);
        RefreshDevices(into, MakeFake<FakeMMDeviceEnumerator>(playback, FakeEndpointFlow{}).Get());
    }

    // The "TargetTuning:" lines of a load of what the registry holds.
    std::vector<std::string> Load()
    {
        const std::wstring log = OpenFreshTestLog(L"settings-tuning");
        LoadSettings(loaded);
        std::vector<std::string> said;
        for (const std::string& message : LoggedMessages(log))
        {
            if (message.rfind("TargetTuning:", 0) == 0)
                said.push_back(message);
        }
        return said;
    }

    AppState state{AppStateDefaultsOnly{}};
    AppState loaded{AppStateDefaultsOnly{}};
    const FakeEndpoint speakers = SystemFakeEndpoint(eRender, 1, L"Speakers");
    const FakeEndpoint headphones = SystemFakeEndpoint(eRender, 2, L"Kopfh\u00f6rer");
};

TEST_F(SettingsStoreTuning, SavedOnADeviceComesBackOnItsLink)
{
    List(state, {speakers, headphones});
    SetTargetTuning(state, 1, {120, 40.0f});
    SaveSettings(state);

    List(loaded, {headphones, speakers});
    EXPECT_TRUE(Load().empty());
    ASSERT_TRUE(TargetLinkAt(loaded, 0) && TargetLinkAt(loaded, 1));
    EXPECT_EQ(TargetLinkAt(loaded, 0)->Tuning(), (TargetTuning{120, 40.0f}));
    EXPECT_EQ(TargetLinkAt(loaded, 1)->Tuning(), TargetTuning{});
    EXPECT_EQ(loaded.desiredTuning, state.desiredTuning);
}

TEST_F(SettingsStoreTuning, ACorruptValueIsSaidOnceAndTheRestLoads)
{
    const std::wstring targets = L"[{\"eid\":\"t\"}]";
    const std::string notReadable = "TargetTuning: the stored text is not readable; every target uses the defaults.";
    struct Case
    {
        DWORD type;
        std::wstring text;
        std::vector<std::string> said;
        size_t kept;
    };
    const Case cases[] = {
        {REG_NONE, L"", {}, 1},  // not written: an older version's key
        {REG_SZ, L"[{\"eid\":", {notReadable}, 0},
        {REG_SZ, L"", {notReadable}, 0},
        {REG_BINARY, L"[]", {notReadable}, 0},  // text if it were read as text
        {REG_SZ, L"[{\"eid\":\"a\",\"delayMs\":9000,\"volume\":50},5,{\"eid\":\"b\",\"delayMs\":2,\"volume\":3}]",
         {"TargetTuning: 2 entries unreadable or out of range; their defaults are used."}, 2},
    };
    for (const Case& c : cases)
    {
        DeleteUserTree(kSettingsKeyPath);
        WriteText(kSettingsKeyPath, kSelectedTargetsValueName, targets);
        if (c.type != REG_NONE)
        {
            WriteRawValue(kSettingsKeyPath, kTargetTuningValueName, c.type, c.text.c_str(),
                          static_cast<DWORD>((c.text.size() + 1) * sizeof(wchar_t)));
        }
        loaded.desiredTuning = {TunedEndpoint{}};
        List(loaded, {speakers});
        EXPECT_EQ(Load(), c.said) << WideToUtf8(c.text);
        EXPECT_EQ(loaded.desiredTuning.size(), c.kept) << WideToUtf8(c.text);
        ASSERT_EQ(loaded.desiredTargets.size(), 1u);
        EXPECT_EQ(loaded.desiredTargets[0].eid, "t");
        EXPECT_EQ(TargetLinkAt(loaded, 0)->Tuning(), TargetTuning{});
    }
}
}  // namespace
