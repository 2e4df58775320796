#include "settings/device_volumes.h"

#include <map>
#include <optional>

#include "app/app_state.h"
#include "log/diagnostic_log.h"
#include "log/text_convert.h"
#include "settings/registry_key.h"
#include "settings/settings_codec.h"

namespace
{
// Room for a value name of 511 characters and its NUL; longer names are not
// ids this program wrote and are skipped.
constexpr DWORD kValueNameCapacity = 512;

void WriteAllVolumes(const std::map<std::string, float>& volumes)
{
    const UniqueRegistryKey key = CreateUserKey(kDeviceVolumesKeyPath);
    if (!key)
    {
        return;
    }
    for (const auto& [name, volume] : volumes)
    {
        SetDwordValue(key.get(), Utf8ToWide(name).c_str(), TruncateToDword(volume));
    }
}

void ReadAllVolumes(HKEY key, std::map<std::string, float>& volumes)
{
    wchar_t name[kValueNameCapacity];
    BYTE data[4];
    for (DWORD index = 0;; ++index)
    {
        DWORD nameLength = kValueNameCapacity;
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        const LSTATUS status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
        {
            return;
        }
        if (status != ERROR_SUCCESS)
        {
            continue;
        }
        if (const std::optional<uint32_t> number = DwordFromRegistryData(type, dataSize, data))
        {
            volumes[WideToUtf8(std::wstring(name, nameLength))] = static_cast<float>(*number);
        }
    }
}
}  // namespace

float LookupDeviceVolume(const AppState& state, const std::string& key, float defaultVolume)
{
    return LookupDeviceVolume(state.deviceVolumes, key, defaultVolume);
}

void SaveDeviceVolumes(AppState& state, const std::string& key, float volume)
{
    if (key.empty())
    {
        return;
    }
    state.deviceVolumes[key] = volume;
    WriteAllVolumes(state.deviceVolumes);
    DiagnosticLog::Instance().Log("SaveDeviceVolumes: saved %zu device volume settings.", state.deviceVolumes.size());
}

void LoadDeviceVolumes(AppState& state)
{
    state.deviceVolumes.clear();
    if (const UniqueRegistryKey key = OpenUserKey(kDeviceVolumesKeyPath, KEY_READ))
    {
        ReadAllVolumes(key.get(), state.deviceVolumes);
    }
    DiagnosticLog::Instance().Log("LoadDeviceVolumes: loaded %zu device volume settings.", state.deviceVolumes.size());
}
