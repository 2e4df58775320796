#pragma once

// Layout of the values the program keeps in the current user's registry,
// without touching the registry itself: the value names, the DWORD encoding
// of the preferences, the JSON texts of the saved source and targets, and
// the pure part of the per-device volume store.
//
// The Windows glue (SaveSettings, LoadSettings, SaveDeviceVolumes,
// LoadDeviceVolumes) runs on the main thread and only moves bytes:
//
//   Saving the preferences, under kSettingsKeyPath:
//     for (const SettingsDwordValue& v : kSettingsDwordValues) {
//         const DWORD data = EncodeSettingsDword(values, v.field);
//         RegSetValueExW(key, v.name, 0, REG_DWORD, (const BYTE*)&data, 4);
//     }
//   Loading them (a failed query leaves the field alone):
//     DWORD type = 0, size = 4; BYTE data[4] = {};
//     if (RegQueryValueExW(key, v.name, nullptr, &type, data, &size) == ERROR_SUCCESS)
//         DecodeSettingsDword(values, v.field, type, size, data);
//   The JSON values (kSelectedSourceValueName, kSelectedTargetsValueName,
//   and kTargetTuningValueName of target_tuning_codec.h):
//     written as REG_SZ: Utf8ToWide(EncodeSelectedSource(...)), data size
//     (characters + 1) * 2 bytes;
//     read only when the queried data size is more than 2 bytes: read
//     size / 2 UTF-16 units, WideToUtf8 them and hand the text, NUL and all,
//     to DecodeSelectedSource / DecodeSelectedTargets / DecodeTargetTuning.
//   Per-device volumes, under kDeviceVolumesKeyPath: value name
//     Utf8ToWide(key), data TruncateToDword(volume); on loading, an entry is
//     taken when DwordFromRegistryData gives a value.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/inventory/endpoint_identity.h"

inline constexpr wchar_t kSettingsKeyPath[] = L"SOFTWARE\\Wavecaster";
inline constexpr wchar_t kDeviceVolumesKeyPath[] = L"SOFTWARE\\Wavecaster\\DeviceVolumes";
inline constexpr wchar_t kSelectedSourceValueName[] = L"SelectedSource";
inline constexpr wchar_t kSelectedTargetsValueName[] = L"SelectedTargets";
// The recording device last chosen to align the targets by: REG_SZ, the
// identity as EncodeSelectedSource writes it.
inline constexpr wchar_t kAlignMicrophoneValueName[] = L"AlignMicrophone";
// The alignment probe's level: REG_DWORD, EncodeProbeLevel.
inline constexpr wchar_t kAlignProbeLevelValueName[] = L"AlignProbeLevel";

// Registry type numbers, kept here so that these rules need no system header
// (REG_SZ and REG_DWORD).
inline constexpr uint32_t kRegTypeSz = 1;
inline constexpr uint32_t kRegTypeDword = 4;

// Registry results that the walk over the per-device volumes tells apart
// (ERROR_SUCCESS, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS).
inline constexpr long kRegResultSuccess = 0;
inline constexpr long kRegResultMoreData = 234;
inline constexpr long kRegResultNoMoreItems = 259;

// ---------------------------------------------------------------------------
// Text conversions

// The program's UTF-16 <-> UTF-8 conversions (WideToUtf8 / Utf8ToWide). They
// are passed in rather than done here so that the Windows build converts the
// way the system does, and the native tests can supply their own.
struct TextConverters
{
    std::string (*wideToUtf8)(const std::wstring& text);
    std::wstring (*utf8ToWide)(const std::string& text);
};

// ---------------------------------------------------------------------------
// Saved source and targets as JSON text

// Compact JSON object with the six members of the identity, keys sorted,
// non-ASCII written as UTF-8 (never escaped). The name goes through
// wideToUtf8; bytes that are not valid UTF-8 come out as U+FFFD.
// Example: {"dataFlow":0,"eguid":"","eid":"","ff":0,"isDefault":true,"name":"System Default Device"}
std::string EncodeSelectedSource(const EndpointIdentity& source, const TextConverters& converters);

// Compact JSON array with one object per target, in order, each holding only
// "eguid", "eid", "ff" and "name". "[]" when there is none.
std::string EncodeSelectedTargets(const std::vector<EndpointIdentity>& targets,
                                  const TextConverters& converters);

enum class JsonReadResult
{
    Complete,  // everything was read
    Stopped,   // parsed, but reading stopped at a member or element of the
               // wrong kind; what was read before it is kept
    NotParsed, // not JSON at all; nothing was changed
};

// Reads a saved source into `source`. The text is parsed up to its first NUL
// (REG_SZ data carries one). Members are read in the order eid, eguid, ff,
// name, isDefault, dataFlow, each stored as soon as it is read: a missing key
// stores the field's default, a member of the wrong type stops the reading
// and leaves it and every later field as it was. A text that is not an object
// stops before the first member. "ff" and "dataFlow" accept any JSON number
// (fraction cut toward zero) or true/false; "isDefault" must be a boolean,
// the others strings. Never throws.
JsonReadResult DecodeSelectedSource(std::string_view utf8Text, EndpointIdentity& source,
                                    const TextConverters& converters);

// Reads the saved targets into `targets`. If the text does not parse, the
// list stays as it was; otherwise it is emptied and every element that is an
// object with well-typed members (eid, eguid, ff, name; isDefault false,
// dataFlow 0) is appended in order, until the first bad element. A null
// gives an empty list, an object is read as the list of its member values in
// key order, a string, number or boolean gives an empty list (Stopped).
// Never throws.
JsonReadResult DecodeSelectedTargets(std::string_view utf8Text, std::vector<EndpointIdentity>& targets,
                                     const TextConverters& converters);

// ---------------------------------------------------------------------------
// Preferences stored as REG_DWORD

// The preferences as they travel to and from the registry. The initial
// values are those of a first start, when nothing is stored yet.
struct SettingsValues
{
    bool minimizeToTray = false;
    bool startRedirectingOnStartup = false;
    bool minimizeOnClose = false;
    bool rememberWindowSize = true;
    int32_t windowWidth = 516;  // outer window width in pixels
    int32_t windowHeight = 720; // outer window height in pixels
    float volume = 50.0f;       // percent
    float bufferMs = 30.0f;     // milliseconds
};

enum class SettingsDword
{
    MinimizeToTray,
    StartRedirectingOnStartup,
    MinimizeOnClose,
    RememberWindowSize,
    WindowWidth,
    WindowHeight,
    Volume,
    BufferMs,
};

struct SettingsDwordValue
{
    const wchar_t* name; // registry value name
    SettingsDword field;
};

// Every REG_DWORD value, in the order they are written and read.
inline constexpr std::array<SettingsDwordValue, 8> kSettingsDwordValues = {{
    {L"MinimizeToTray", SettingsDword::MinimizeToTray},
    {L"StartRedirectingOnStartup", SettingsDword::StartRedirectingOnStartup},
    {L"MinimizeOnClose", SettingsDword::MinimizeOnClose},
    {L"RememberWindowSize", SettingsDword::RememberWindowSize},
    {L"WindowWidth", SettingsDword::WindowWidth},
    {L"WindowHeight", SettingsDword::WindowHeight},
    {L"Volume", SettingsDword::Volume},
    {L"BufferMs", SettingsDword::BufferMs},
}};

// Integer part of a float as a DWORD (truncation toward zero). Values
// outside the DWORD range saturate; NaN gives 0.
uint32_t TruncateToDword(float value);

// The DWORD stored for one field: booleans 1 or 0, the window size as is
// (two's complement), the floats truncated with TruncateToDword.
uint32_t EncodeSettingsDword(const SettingsValues& values, SettingsDword field);

// The range the program works in for a stored number: what its slider
// offers. A hand-edited value outside it would otherwise reach the engine as
// it is (a volume of 1000 is a gain of 20; a buffer of 0 ms spins the loop).
struct ValueRange
{
    float low;
    float high;
};
inline constexpr ValueRange kVolumeRange{0.0f, 100.0f};   // percent
inline constexpr ValueRange kBufferMsRange{1.0f, 60.0f};  // milliseconds

// The value to use in place of a stored one that lies outside `range` (the
// nearer end; NaN gives the low end), or nothing when it lies inside.
std::optional<float> OutOfRangeReplacement(float stored, ValueRange range);

// What one result of enumerating the per-device volumes means for the walk:
// take the value, skip it (a name or data too long for the buffers: ERROR_MORE_DATA),
// or stop. Every other result stops, not only the end of the list: an error
// such as a key deleted while open would otherwise repeat for every index.
enum class EnumerationStep
{
    Take,
    Skip,
    Stop,
};
EnumerationStep VolumeEnumerationStep(long result);

// The number in a value read from the registry, or nothing unless it is a
// REG_DWORD of exactly 4 bytes (read little-endian).
std::optional<uint32_t> DwordFromRegistryData(uint32_t regType, uint32_t dataSize, const uint8_t* data);

// Stores a value read from the registry into its field: booleans are true
// when not 0, the window size is taken without any range check, the floats
// are the unsigned number converted to float. Anything but a 4-byte
// REG_DWORD leaves the field as it was and returns false.
bool DecodeSettingsDword(SettingsValues& values, SettingsDword field, uint32_t regType, uint32_t dataSize,
                         const uint8_t* data);

// The alignment probe's level is stored as how far it lies below full scale
// in whole decibels (20 for -20 dBFS): a plain positive number for whoever
// reads or edits it, where a negative one would show as 4294967276.
uint32_t EncodeProbeLevel(float dbfs);

// The level of a stored number, or nothing when it lies below `lowestDbfs`
// (a negative level stored in two's complement is such a number).
std::optional<float> DecodeProbeLevel(uint32_t stored, float lowestDbfs);

// ---------------------------------------------------------------------------
// Per-device volumes

// Volume key of the system-default source.
inline constexpr char kSystemDefaultVolumeKey[] = "__system_default__";

// Volume key of a source: kSystemDefaultVolumeKey for the system-default
// entry, else the endpoint id (empty when unknown: such a source has no
// remembered volume).
std::string DeviceVolumeKey(const EndpointIdentity& source);

// The remembered volume for `key`, or `defaultVolume` when the key is empty
// or unknown. Keys compare byte for byte.
float LookupDeviceVolume(const std::map<std::string, float>& volumes, const std::string& key,
                         float defaultVolume);
