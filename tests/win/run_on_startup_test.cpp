// The logon Run entry against the real registry.
#include <gtest/gtest.h>

#include "registry_test_support.h"
#include "settings/run_entry.h"
#include "settings/run_on_startup.h"

namespace
{
class RunOnStartup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The Run key always exists on Windows; a fresh prefix may lack it.
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        RegDeleteValueW(key, kRunValueName);
        RegCloseKey(key);
    }
    void TearDown() override { SetUp(); }
};

std::wstring OwnExecutablePath()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

TEST_F(RunOnStartup, EnableWritesTheQuotedOwnPathAndDisableRemovesIt)
{
    EXPECT_FALSE(QueryRunOnStartup());
    SetRunOnStartup(true);

    const std::optional<RawRegistryValue> value = ReadRawValue(kRunKeyPath, L"Wavecaster");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    const std::wstring path = OwnExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(value->Units(), L"\"" + path + L"\"" + L'\0');
    EXPECT_TRUE(QueryRunOnStartup());

    SetRunOnStartup(false);
    EXPECT_FALSE(ReadRawValue(kRunKeyPath, L"Wavecaster"));
    EXPECT_FALSE(QueryRunOnStartup());
}

TEST_F(RunOnStartup, DisablingWithoutAnEntryLeavesTheOthersAlone)
{
    WriteText(kRunKeyPath, L"SomethingElse", L"C:\\other.exe");
    SetRunOnStartup(false);
    EXPECT_FALSE(QueryRunOnStartup());
    const std::optional<RawRegistryValue> other = ReadRawValue(kRunKeyPath, L"SomethingElse");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->Units(), std::wstring(L"C:\\other.exe") + L'\0');
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, L"SomethingElse");
}

TEST_F(RunOnStartup, AnyEntryOfThatNameCountsAsSet)
{
    WriteDword(kRunKeyPath, L"Wavecaster", 0);
    EXPECT_TRUE(QueryRunOnStartup());
}
}  // namespace
