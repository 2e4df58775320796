#include "settings/settings_store.h"

#include <optional>
#include <string>

#include "app/app_state.h"
#include "audio/inventory/selection.h"
#include "log/diagnostic_log.h"
#include "log/text_convert.h"
#include "settings/device_volumes.h"
#include "settings/registry_key.h"
#include "settings/settings_codec.h"
#include "settings/target_tuning_codec.h"

namespace
{
TextConverters SystemTextConverters()
{
    return {&WideToUtf8, &Utf8ToWide};
}

SettingsValues CollectValues(const AppState& state)
{
    SettingsValues values;
    values.minimizeToTray = state.minimizeToTray;
    values.startRedirectingOnStartup = state.startRedirectingOnStartup;
    values.minimizeOnClose = state.minimizeOnClose;
    values.rememberWindowSize = state.rememberWindowSize;
    values.windowWidth = state.windowWidth;
    values.windowHeight = state.windowHeight;
    values.volume = state.volume.load();
    values.bufferMs = state.bufferMs.load();
    return values;
}

void ApplyValues(AppState& state, const SettingsValues& values)
{
    state.minimizeToTray = values.minimizeToTray;
    state.startRedirectingOnStartup = values.startRedirectingOnStartup;
    state.minimizeOnClose = values.minimizeOnClose;
    state.rememberWindowSize = values.rememberWindowSize;
    state.windowWidth = values.windowWidth;
    state.windowHeight = values.windowHeight;
    state.volume.store(values.volume);
    state.bufferMs.store(values.bufferMs);
}

void WriteAll(HKEY key, const AppState& state)
{
    const SettingsValues values = CollectValues(state);
    for (const SettingsDwordValue& value : kSettingsDwordValues)
    {
        SetDwordValue(key, value.name, EncodeSettingsDword(values, value.field));
    }
    const TextConverters converters = SystemTextConverters();
    SetStringValue(key, kSelectedSourceValueName, Utf8ToWide(EncodeSelectedSource(state.desiredSource, converters)));
    SetStringValue(key, kSelectedTargetsValueName,
                   Utf8ToWide(EncodeSelectedTargets(state.desiredTargets, converters)));
    SetStringValue(key, kTargetTuningValueName, Utf8ToWide(EncodeTargetTuning(state.desiredTuning, converters)));
    SetStringValue(key, kAlignMicrophoneValueName,
                   Utf8ToWide(EncodeSelectedSource(state.alignMicrophone, converters)));
    SetDwordValue(key, kAlignProbeLevelValueName, EncodeProbeLevel(state.alignProbeDbfs));
}

// The program uses, and later saves, the value in range.
void KeepInRange(const char* name, float& value, ValueRange range)
{
    if (const std::optional<float> used = OutOfRangeReplacement(value, range))
    {
        DiagnosticLog::Instance().Log("LoadSettings: stored %s of %.0f is out of range; using %.0f.", name,
                                      static_cast<double>(value), static_cast<double>(*used));
        value = *used;
    }
}

// A value that is missing, or not a 4-byte REG_DWORD, leaves its field
// alone; one that is there but not a number says so (the next save writes
// the value in use over it).
void ReadDwords(HKEY key, AppState& state)
{
    SettingsValues values = CollectValues(state);
    for (const SettingsDwordValue& value : kSettingsDwordValues)
    {
        BYTE data[4] = {};
        DWORD type = 0;
        DWORD size = sizeof(data);
        const LSTATUS read = RegQueryValueExW(key, value.name, nullptr, &type, data, &size);
        const bool taken = read == ERROR_SUCCESS && DecodeSettingsDword(values, value.field, type, size, data);
        if (!taken && read != ERROR_FILE_NOT_FOUND)
        {
            DiagnosticLog::Instance().Log("LoadSettings: stored %s is not a number (REG_DWORD); it is left out.",
                                          WideToUtf8(value.name).c_str());
        }
    }
    KeepInRange("Volume", values.volume, kVolumeRange);
    KeepInRange("BufferMs", values.bufferMs, kBufferMsRange);
    ApplyValues(state, values);
}

// The saved JSON text as UTF-8, NUL included; nothing when the value is
// missing, holds no more than a NUL, or is not text (bytes of another type
// would be read as if they were UTF-16).
std::optional<std::string> ReadJsonText(HKEY key, const wchar_t* name)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ || size <= 2)
    {
        return std::nullopt;
    }
    // One spare unit so that an odd byte count still fits the buffer.
    std::wstring text(size / 2 + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
    {
        return std::nullopt;
    }
    text.resize(size / 2);
    return WideToUtf8(text);
}

// A stored choice that could not be read whole says so: the next save
// writes what was read over it.
template <typename Decode>
void ReadSelection(HKEY key, const wchar_t* name, const Decode& decode)
{
    if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    {
        return;
    }
    const std::optional<std::string> text = ReadJsonText(key, name);
    const JsonReadResult read = text ? decode(*text) : JsonReadResult::NotParsed;
    if (read != JsonReadResult::Complete)
    {
        DiagnosticLog::Instance().Log("LoadSettings: stored %s could not be read whole; %s.", WideToUtf8(name).c_str(),
                                      read == JsonReadResult::Stopped ? "what could be read is used"
                                                                      : "it is left out");
    }
}

void ReadSelections(HKEY key, AppState& state)
{
    const TextConverters converters = SystemTextConverters();
    ReadSelection(key, kSelectedSourceValueName,
                  [&](const std::string& text) { return DecodeSelectedSource(text, state.desiredSource, converters); });
    ReadSelection(key, kSelectedTargetsValueName,
                  [&](const std::string& text) { return DecodeSelectedTargets(text, state.desiredTargets, converters); });
    ReadSelection(key, kAlignMicrophoneValueName,
                  [&](const std::string& text) { return DecodeSelectedSource(text, state.alignMicrophone, converters); });
}

// A missing value is a first start; any other that gives no level in range
// leaves the default and says so.
void ReadProbeLevel(HKEY key, AppState& state)
{
    BYTE data[4] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    const LSTATUS read = RegQueryValueExW(key, kAlignProbeLevelValueName, nullptr, &type, data, &size);
    if (read == ERROR_FILE_NOT_FOUND)
    {
        return;
    }
    const std::optional<uint32_t> stored =
        read == ERROR_SUCCESS ? DwordFromRegistryData(type, size, data) : std::nullopt;
    const std::optional<float> level = stored ? DecodeProbeLevel(*stored, kLowestProbeDbfs) : std::nullopt;
    if (!level)
    {
        DiagnosticLog::Instance().Log("LoadSettings: stored AlignProbeLevel is not a level from 0 to %.0f dB below "
                                      "full scale; using %.0f dBFS.",
                                      static_cast<double>(-kLowestProbeDbfs), static_cast<double>(kDefaultProbeDbfs));
    }
    state.alignProbeDbfs = level.value_or(kDefaultProbeDbfs);
}

// A missing value is a first start and leaves the list alone; any other,
// text or not, replaces it with what could be read and says what could not.
void ReadTuning(HKEY key, AppState& state)
{
    if (RegQueryValueExW(key, kTargetTuningValueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    {
        return;
    }
    const std::optional<std::string> text = ReadJsonText(key, kTargetTuningValueName);
    TuningReadReport read = DecodeTargetTuning(text.value_or(std::string()), SystemTextConverters());
    state.desiredTuning = std::move(read.tuned);
    if (const std::string said = DescribeTuningRead(read); !said.empty())
    {
        DiagnosticLog::Instance().Log("%s", said.c_str());
    }
}

void LogSettings(const char* caller, const AppState& state)
{
    DiagnosticLog::Instance().Log(
        "%s: RunOnStartup=%d, MinimizeToTray=%d, MinOnClose=%d, AutoStartRedirect=%d, Window=%dx%d, "
        "Volume=%.0f, Buffer=%.0fms",
        caller, state.runOnStartup ? 1 : 0, state.minimizeToTray ? 1 : 0, state.minimizeOnClose ? 1 : 0,
        state.startRedirectingOnStartup ? 1 : 0, static_cast<int>(state.windowWidth),
        static_cast<int>(state.windowHeight), static_cast<double>(state.volume.load()),
        static_cast<double>(state.bufferMs.load()));
}

// The volume last used with the saved source replaces the stored one; a
// source never seen before keeps the stored volume.
void ApplySavedSourceVolume(AppState& state)
{
    const EndpointIdentity& source = state.desiredSource;
    if (!source.isDefault && source.eid.empty())
    {
        return;
    }
    const float volume = LookupDeviceVolume(state, DeviceVolumeKey(source), state.volume.load());
    state.volume.store(volume);
    DiagnosticLog::Instance().Log(source.isDefault ? "Applied saved volume %.0f%% for System Default."
                                                   : "Applied saved volume %.0f%% for source device.",
                                  static_cast<double>(volume));
}

void KeepSourceIndexInRange(AppState& state)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    const int32_t count = static_cast<int32_t>(state.sourceDevices.size());
    if (state.selectedSourceIndex >= count)
    {
        state.selectedSourceIndex = count > 0 ? 0 : -1;
    }
}
}  // namespace

void SaveSettings(AppState& state)
{
    if (const UniqueRegistryKey key = CreateUserKey(kSettingsKeyPath))
    {
        WriteAll(key.get(), state);
    }
    LogSettings("SaveSettings", state);
}

void LoadSettings(AppState& state)
{
    if (const UniqueRegistryKey key = OpenUserKey(kSettingsKeyPath, KEY_READ))
    {
        ReadDwords(key.get(), state);
        ReadSelections(key.get(), state);
        ReadTuning(key.get(), state);
        ReadProbeLevel(key.get(), state);
    }
    LoadDeviceVolumes(state);
    LogSettings("LoadSettings", state);
    ResolveSavedSelections(state);
    ApplySavedSourceVolume(state);
    KeepSourceIndexInRange(state);
}
