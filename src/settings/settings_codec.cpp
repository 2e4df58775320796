#include "settings/settings_codec.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "settings/json_members.h"

using nlohmann::json;
using settings_json::DumpCompact;
using settings_json::ParseUpToNul;

namespace {

// Integer part of a JSON float as the 64-bit integer that the narrower
// fields are cut from; 0 when it does not fit.
int64_t TruncateToInt64(double value)
{
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (!(value >= -kLimit && value < kLimit))
        return 0;
    return static_cast<int64_t>(value);
}

// Reads a member of any number type, or a boolean, into an integer field;
// larger numbers wrap like an integer conversion.
template <typename Integer>
bool ReadNumber(const json& object, const char* key, Integer& field)
{
    const auto it = object.find(key);
    if (it == object.end())
        field = 0;
    else if (it->is_number_unsigned())
        field = static_cast<Integer>(it->get<uint64_t>());
    else if (it->is_number_integer())
        field = static_cast<Integer>(it->get<int64_t>());
    else if (it->is_number_float())
        field = static_cast<Integer>(TruncateToInt64(it->get<double>()));
    else if (it->is_boolean())
        field = it->get<bool>() ? 1 : 0;
    else
        return false;
    return true;
}

bool ReadBool(const json& object, const char* key, bool& field)
{
    const auto it = object.find(key);
    if (it == object.end())
        field = false;
    else if (it->is_boolean())
        field = it->get<bool>();
    else
        return false;
    return true;
}

bool ReadUtf8(const json& object, const char* key, std::string& field)
{
    const auto it = object.find(key);
    if (it == object.end())
        field.clear();
    else if (it->is_string())
        field = it->get_ref<const std::string&>();
    else
        return false;
    return true;
}

bool ReadName(const json& object, std::wstring& field, const TextConverters& converters)
{
    std::string utf8;
    if (!ReadUtf8(object, "name", utf8))
        return false;
    field = converters.utf8ToWide(utf8);
    return true;
}

} // namespace

namespace settings_json {

std::string DumpCompact(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void PutIdentityMembers(json& object, const EndpointIdentity& identity, const TextConverters& converters)
{
    object["eid"] = identity.eid;
    object["eguid"] = identity.eguid;
    object["ff"] = identity.ff;
    object["name"] = converters.wideToUtf8(identity.name);
}

std::optional<json> ParseUpToNul(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    try
    {
        json parsed = json::parse(text.begin(), text.end(), nullptr, false);
        if (parsed.is_discarded())
            return std::nullopt;
        return parsed;
    }
    catch (const json::exception&)
    {
        return std::nullopt;
    }
}

bool ReadIdentityMembers(const json& object, EndpointIdentity& identity, const TextConverters& converters)
{
    // Not short-circuited: a bad member must not keep the later ones unread.
    const bool eid = ReadUtf8(object, "eid", identity.eid);
    const bool eguid = ReadUtf8(object, "eguid", identity.eguid);
    const bool ff = ReadNumber(object, "ff", identity.ff);
    const bool name = ReadName(object, identity.name, converters);
    return eid && eguid && ff && name;
}

} // namespace settings_json

namespace {

bool ReadTarget(const json& element, EndpointIdentity& target, const TextConverters& converters)
{
    return element.is_object() && settings_json::ReadIdentityMembers(element, target, converters);
}

uint32_t ReadLittleEndian32(const uint8_t* data)
{
    return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
           (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

} // namespace

std::string EncodeSelectedSource(const EndpointIdentity& source, const TextConverters& converters)
{
    json object = json::object();
    settings_json::PutIdentityMembers(object, source, converters);
    object["isDefault"] = source.isDefault;
    object["dataFlow"] = source.dataFlow;
    return DumpCompact(object);
}

std::string EncodeSelectedTargets(const std::vector<EndpointIdentity>& targets,
                                  const TextConverters& converters)
{
    json array = json::array();
    for (const EndpointIdentity& target : targets)
    {
        json object = json::object();
        settings_json::PutIdentityMembers(object, target, converters);
        array.push_back(std::move(object));
    }
    return DumpCompact(array);
}

JsonReadResult DecodeSelectedSource(std::string_view utf8Text, EndpointIdentity& source,
                                    const TextConverters& converters)
{
    const std::optional<json> parsed = ParseUpToNul(utf8Text);
    if (!parsed)
        return JsonReadResult::NotParsed;
    const json& object = *parsed;
    // Each field is stored as soon as it is read, so a bad member keeps the
    // ones before it.
    const bool complete = object.is_object() && ReadUtf8(object, "eid", source.eid) &&
                          ReadUtf8(object, "eguid", source.eguid) && ReadNumber(object, "ff", source.ff) &&
                          ReadName(object, source.name, converters) &&
                          ReadBool(object, "isDefault", source.isDefault) &&
                          ReadNumber(object, "dataFlow", source.dataFlow);
    return complete ? JsonReadResult::Complete : JsonReadResult::Stopped;
}

JsonReadResult DecodeSelectedTargets(std::string_view utf8Text, std::vector<EndpointIdentity>& targets,
                                     const TextConverters& converters)
{
    const std::optional<json> parsed = ParseUpToNul(utf8Text);
    if (!parsed)
        return JsonReadResult::NotParsed;
    targets.clear();
    if (parsed->is_null())
        return JsonReadResult::Complete;
    if (!parsed->is_array() && !parsed->is_object())
        return JsonReadResult::Stopped;
    for (const json& element : *parsed)
    {
        EndpointIdentity target;
        if (!ReadTarget(element, target, converters))
            return JsonReadResult::Stopped;
        targets.push_back(std::move(target));
    }
    return JsonReadResult::Complete;
}

uint32_t TruncateToDword(float value)
{
    if (!(value > 0.0f))
        return 0;
    if (value >= 4294967296.0f)
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(value);
}

uint32_t EncodeSettingsDword(const SettingsValues& values, SettingsDword field)
{
    switch (field)
    {
    case SettingsDword::MinimizeToTray: return values.minimizeToTray ? 1u : 0u;
    case SettingsDword::StartRedirectingOnStartup: return values.startRedirectingOnStartup ? 1u : 0u;
    case SettingsDword::MinimizeOnClose: return values.minimizeOnClose ? 1u : 0u;
    case SettingsDword::RememberWindowSize: return values.rememberWindowSize ? 1u : 0u;
    case SettingsDword::WindowWidth: return static_cast<uint32_t>(values.windowWidth);
    case SettingsDword::WindowHeight: return static_cast<uint32_t>(values.windowHeight);
    case SettingsDword::Volume: return TruncateToDword(values.volume);
    case SettingsDword::BufferMs: return TruncateToDword(values.bufferMs);
    }
    return 0;
}

std::optional<uint32_t> DwordFromRegistryData(uint32_t regType, uint32_t dataSize, const uint8_t* data)
{
    if (regType != kRegTypeDword || dataSize != 4 || data == nullptr)
        return std::nullopt;
    return ReadLittleEndian32(data);
}

bool DecodeSettingsDword(SettingsValues& values, SettingsDword field, uint32_t regType, uint32_t dataSize,
                         const uint8_t* data)
{
    const std::optional<uint32_t> number = DwordFromRegistryData(regType, dataSize, data);
    if (!number)
        return false;
    const uint32_t n = *number;
    switch (field)
    {
    case SettingsDword::MinimizeToTray: values.minimizeToTray = n != 0; break;
    case SettingsDword::StartRedirectingOnStartup: values.startRedirectingOnStartup = n != 0; break;
    case SettingsDword::MinimizeOnClose: values.minimizeOnClose = n != 0; break;
    case SettingsDword::RememberWindowSize: values.rememberWindowSize = n != 0; break;
    case SettingsDword::WindowWidth: values.windowWidth = static_cast<int32_t>(n); break;
    case SettingsDword::WindowHeight: values.windowHeight = static_cast<int32_t>(n); break;
    case SettingsDword::Volume: values.volume = static_cast<float>(n); break;
    case SettingsDword::BufferMs: values.bufferMs = static_cast<float>(n); break;
    }
    return true;
}

std::optional<float> OutOfRangeReplacement(float stored, ValueRange range)
{
    if (stored >= range.low && stored <= range.high)
        return std::nullopt;
    return stored > range.high ? range.high : range.low;
}

uint32_t EncodeProbeLevel(float dbfs)
{
    // Bounded so that no float, however far below, overflows the rounding.
    return dbfs < 0.0f ? static_cast<uint32_t>(std::lround(std::min(-dbfs, 1.0e6f))) : 0u;
}

std::optional<float> DecodeProbeLevel(uint32_t stored, float lowestDbfs)
{
    if (static_cast<double>(stored) > -static_cast<double>(lowestDbfs))
        return std::nullopt;
    return -static_cast<float>(stored);
}

EnumerationStep VolumeEnumerationStep(long result)
{
    switch (result)
    {
    case kRegResultSuccess: return EnumerationStep::Take;
    case kRegResultMoreData: return EnumerationStep::Skip;
    default: return EnumerationStep::Stop;
    }
}

std::string DeviceVolumeKey(const EndpointIdentity& source)
{
    return source.isDefault ? std::string(kSystemDefaultVolumeKey) : source.eid;
}

float LookupDeviceVolume(const std::map<std::string, float>& volumes, const std::string& key,
                         float defaultVolume)
{
    if (key.empty())
        return defaultVolume;
    const auto it = volumes.find(key);
    return it != volumes.end() ? it->second : defaultVolume;
}
