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

// The program uses, and later saves, the volume in range.
float VolumeInRange(const std::string& key, float stored)
{
    const std::optional<float> used = OutOfRangeReplacement(stored, kVolumeRange);
    if (!used)
    {
        return stored;
    }
    DiagnosticLog::Instance().Log("LoadDeviceVolumes: stored volume of %.0f for '%s' is out of range; using %.0f.",
                                  static_cast<double>(stored), key.c_str(), static_cast<double>(*used));
    return *used;
}

// An entry that is not a volume (not a 4-byte REG_DWORD) is left out, by
// its name where that can be read.
void SayLeftOut(HKEY key, DWORD index)
{
    wchar_t name[kValueNameCapacity];
    DWORD nameLength = kValueNameCapacity;
    const bool named = RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    const std::string what = named ? WideToUtf8(std::wstring(name, nameLength)) : std::to_string(index);
    DiagnosticLog::Instance().Log(named ? "LoadDeviceVolumes: stored '%s' is not a volume (REG_DWORD); it is left out."
                                        : "LoadDeviceVolumes: stored entry %s is not a volume (REG_DWORD), nor is its "
                                          "name readable; it is left out.",
                                  what.c_str());
}

}  // namespace

void ReadDeviceVolumes(HKEY key, std::map<std::string, float>& volumes)
{
    wchar_t name[kValueNameCapacity];
    BYTE data[4];
    for (DWORD index = 0;; ++index)
    {
        DWORD nameLength = kValueNameCapacity;
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        const LSTATUS status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize);
        const EnumerationStep step = VolumeEnumerationStep(status);
        if (step == EnumerationStep::Stop)
        {
            if (status != ERROR_NO_MORE_ITEMS)
            {
                DiagnosticLog::Instance().Log(
                    "LoadDeviceVolumes: reading stopped at entry %lu (error %ld); later entries are not loaded.",
                    static_cast<unsigned long>(index), static_cast<long>(status));
            }
            return;
        }
        const std::optional<uint32_t> number =
            step == EnumerationStep::Take ? DwordFromRegistryData(type, dataSize, data) : std::nullopt;
        if (!number)
        {
            SayLeftOut(key, index);
            continue;
        }
        const std::string volumeKey = WideToUtf8(std::wstring(name, nameLength));
        volumes[volumeKey] = VolumeInRange(volumeKey, static_cast<float>(*number));
    }
}

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
        ReadDeviceVolumes(key.get(), state.deviceVolumes);
    }
    DiagnosticLog::Instance().Log("LoadDeviceVolumes: loaded %zu device volume settings.", state.deviceVolumes.size());
}
