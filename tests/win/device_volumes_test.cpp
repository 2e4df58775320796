// The per-source volume store against the real registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "registry_test_support.h"
#include "settings/device_volumes.h"
#include "settings/settings_codec.h"
#include "test_log.h"

namespace
{
class DeviceVolumes : public ::testing::Test
{
protected:
    void SetUp() override { DeleteUserTree(kDeviceVolumesKeyPath); }
    void TearDown() override { DeleteUserTree(kDeviceVolumesKeyPath); }

    AppState state{AppStateDefaultsOnly{}};
};

TEST_F(DeviceVolumes, SavingOneSourceRewritesEveryRememberedEntry)
{
    const std::wstring log = OpenFreshTestLog(L"volumes-save");
    state.deviceVolumes = {{"{0.0.0.00000000}.{a}", 10.5f}};
    SaveDeviceVolumes(state, "__system_default__", 73.9f);

    EXPECT_EQ(ReadDword(kDeviceVolumesKeyPath, L"{0.0.0.00000000}.{a}"), std::optional<uint32_t>(10));
    EXPECT_EQ(ReadDword(kDeviceVolumesKeyPath, L"__system_default__"), std::optional<uint32_t>(73));
    // The map keeps the exact volume; only the registry holds whole percent.
    EXPECT_EQ(LookupDeviceVolume(state, "__system_default__", 50.0f), 73.9f);
    EXPECT_EQ(LoggedMessages(log), std::vector<std::string>{"SaveDeviceVolumes: saved 2 device volume settings."});
}

TEST_F(DeviceVolumes, EmptyKeyChangesNothingAnywhere)
{
    const std::wstring log = OpenFreshTestLog(L"volumes-empty");
    state.deviceVolumes = {{"x", 20.0f}};
    SaveDeviceVolumes(state, "", 40.0f);

    EXPECT_EQ(state.deviceVolumes, (std::map<std::string, float>{{"x", 20.0f}}));
    EXPECT_FALSE(UserKeyExists(kDeviceVolumesKeyPath));
    EXPECT_TRUE(LoggedMessages(log).empty());
    EXPECT_EQ(LookupDeviceVolume(state, "", 50.0f), 50.0f);
}

TEST_F(DeviceVolumes, LoadTakesOnlyDwordsWithNamesThatFit)
{
    WriteDword(kDeviceVolumesKeyPath, L"__system_default__", 80);
    WriteDword(kDeviceVolumesKeyPath, L"{0.0.1.00000000}.{mic}", 0xFFFFFFFFu);
    WriteDword(kDeviceVolumesKeyPath, std::wstring(511, L'n').c_str(), 11);
    WriteDword(kDeviceVolumesKeyPath, std::wstring(512, L'm').c_str(), 12);
    WriteDword(kDeviceVolumesKeyPath, std::wstring(600, L'l').c_str(), 13);
    WriteText(kDeviceVolumesKeyPath, L"text", L"55");
    const BYTE twoBytes[2] = {1, 2};
    WriteRawValue(kDeviceVolumesKeyPath, L"short", REG_DWORD, twoBytes, sizeof(twoBytes));
    const uint64_t eightBytes = 7;
    WriteRawValue(kDeviceVolumesKeyPath, L"wide", REG_QWORD, &eightBytes, sizeof(eightBytes));
    state.deviceVolumes = {{"stale", 1.0f}};

    const std::wstring log = OpenFreshTestLog(L"volumes-load");
    LoadDeviceVolumes(state);
    const std::map<std::string, float> expected = {
        {"__system_default__", 80.0f},
        {"{0.0.1.00000000}.{mic}", 100.0f},
        {std::string(511, 'n'), 11.0f},
    };
    EXPECT_EQ(state.deviceVolumes, expected);
    // Each left out is said; the two names too long to read, by their place
    // in the system's order.
    std::vector<std::string> said = LoggedMessages(log);
    const size_t unnamed = std::erase_if(
        said, [](const std::string& line) { return line.find("nor is its name readable") != std::string::npos; });
    EXPECT_EQ(unnamed, 2u);
    std::sort(said.begin(), said.end());
    EXPECT_EQ(said, (std::vector<std::string>{
                        "LoadDeviceVolumes: loaded 3 device volume settings.",
                        "LoadDeviceVolumes: stored 'short' is not a volume (REG_DWORD); it is left out.",
                        "LoadDeviceVolumes: stored 'text' is not a volume (REG_DWORD); it is left out.",
                        "LoadDeviceVolumes: stored 'wide' is not a volume (REG_DWORD); it is left out.",
                        "LoadDeviceVolumes: stored volume of 4294967296 for '{0.0.1.00000000}.{mic}' is out of range; "
                        "using 100.",
                    }));
    // What is used is what a later save writes back.
    SaveDeviceVolumes(state, "__system_default__", 80.0f);
    EXPECT_EQ(ReadDword(kDeviceVolumesKeyPath, L"{0.0.1.00000000}.{mic}"), std::optional<uint32_t>(100));
}

// Every index of a key deleted while it is read fails with the same error:
// the walk ends there, where it used to try index after index for ever and
// start-up never reached its window.
TEST_F(DeviceVolumes, AKeyDeletedWhileReadEndsTheWalk)
{
    WriteDword(kDeviceVolumesKeyPath, L"__system_default__", 80);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kDeviceVolumesKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    DeleteUserTree(kDeviceVolumesKeyPath);
    ASSERT_FALSE(UserKeyExists(kDeviceVolumesKeyPath));

    const std::wstring log = OpenFreshTestLog(L"volumes-deleted");
    struct Walk
    {
        HKEY key;
        std::map<std::string, float> volumes;
    } walk{key, {}};
    const auto read = [](void* context) -> DWORD {
        auto* walk = static_cast<Walk*>(context);
        ReadDeviceVolumes(walk->key, walk->volumes);
        return 0;
    };
    HANDLE reader = CreateThread(nullptr, 0, read, &walk, 0, nullptr);
    ASSERT_NE(reader, nullptr);
    const bool ended = WaitForSingleObject(reader, 5000) == WAIT_OBJECT_0;
    if (!ended)
        TerminateThread(reader, 1);  // only so that the other tests still run
    CloseHandle(reader);
    RegCloseKey(key);

    ASSERT_TRUE(ended) << "the walk over a deleted key did not end";
    EXPECT_TRUE(walk.volumes.empty());
    const std::vector<std::string> messages = LoggedMessages(log);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("LoadDeviceVolumes: reading stopped at entry 0 (error ", 0), 0u) << messages[0];
}

TEST_F(DeviceVolumes, MissingKeyLoadsNothing)
{
    const std::wstring log = OpenFreshTestLog(L"volumes-missing");
    state.deviceVolumes = {{"stale", 1.0f}};
    LoadDeviceVolumes(state);
    EXPECT_TRUE(state.deviceVolumes.empty());
    EXPECT_EQ(LoggedMessages(log), std::vector<std::string>{"LoadDeviceVolumes: loaded 0 device volume settings."});
}

// Keys are ids compared byte for byte. Registry value names ignore case, so
// two such keys share one value on disk; in memory they stay apart.
TEST_F(DeviceVolumes, KeysDifferingInCaseStayApartInMemory)
{
    SaveDeviceVolumes(state, "{ID}", 20.0f);
    SaveDeviceVolumes(state, "{id}", 30.0f);
    EXPECT_EQ(state.deviceVolumes.size(), 2u);
    EXPECT_EQ(LookupDeviceVolume(state, "{ID}", 50.0f), 20.0f);
    EXPECT_EQ(LookupDeviceVolume(state, "{id}", 50.0f), 30.0f);
    EXPECT_EQ(LookupDeviceVolume(state, "{Id}", 50.0f), 50.0f);
}
}  // namespace
