#include "settings/target_tuning_codec.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include <nlohmann/json.hpp>

#include "audio/inventory/name_match.h"
#include "audio/inventory/tuning_match.h"
#include "settings/json_members.h"

using nlohmann::json;

namespace
{
// Whether no array or object in the text lies deeper than `limit`; brackets
// inside strings do not count. For text that is not JSON the answer does
// not matter: the parser turns it down either way.
bool NestsWithin(std::string_view text, size_t limit)
{
    size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text)
    {
        if (escaped)
            escaped = false;
        else if (inString)
        {
            escaped = c == '\\';
            inString = c != '"';
        }
        else if (c == '"')
            inString = true;
        else if (c == '[' || c == '{')
        {
            if (++depth > limit)
                return false;
        }
        else if ((c == ']' || c == '}') && depth > 0)
            --depth;
    }
    return true;
}

std::optional<int64_t> IntegerMember(const json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer())
        return std::nullopt;
    if (it->is_number_unsigned())
        return static_cast<int64_t>(
            std::min<uint64_t>(it->get<uint64_t>(), static_cast<uint64_t>(std::numeric_limits<int64_t>::max())));
    return it->get<int64_t>();
}

std::optional<double> NumberMember(const json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number())
        return std::nullopt;
    return it->get<double>();
}

// True when both were stored in range; a field that was not keeps its
// default.
bool ReadTuningMembers(const json& object, TargetTuning& tuning)
{
    const std::optional<int64_t> delayMs = IntegerMember(object, "delayMs");
    const bool delayRead = delayMs && *delayMs >= 0 && *delayMs <= kMaxTargetDelayMs;
    if (delayRead)
        tuning.delayMs = static_cast<int32_t>(*delayMs);
    const std::optional<double> volume = NumberMember(object, "volume");
    const bool volumeRead = volume && *volume >= 0.0 && *volume <= 100.0;
    if (volumeRead)
        tuning.volume = static_cast<float>(*volume);
    return delayRead && volumeRead;
}

// An identity that no listed device could ever match is of no use.
bool CanMatch(const EndpointIdentity& identity)
{
    return !identity.eid.empty() || !identity.eguid.empty() || !NormalizeDeviceName(identity.name).empty();
}

// The entry of one element, or nothing when it is dropped; `asStored` tells
// whether every member was read as it stood.
std::optional<TunedEndpoint> ReadEntry(const json& element, bool& asStored, const TextConverters& converters)
{
    asStored = false;
    if (!element.is_object())
        return std::nullopt;
    TunedEndpoint entry;
    const bool identityRead = settings_json::ReadIdentityMembers(element, entry.identity, converters);
    const bool tuningRead = ReadTuningMembers(element, entry.tuning);
    if (!CanMatch(entry.identity))
        return std::nullopt;
    asStored = identityRead && tuningRead;
    return entry;
}
}  // namespace

std::string EncodeTargetTuning(const std::vector<TunedEndpoint>& tuned, const TextConverters& converters)
{
    json array = json::array();
    for (const TunedEndpoint& entry : tuned)
    {
        json object = json::object();
        settings_json::PutIdentityMembers(object, entry.identity, converters);
        const TargetTuning tuning = ClampTuning(entry.tuning);
        object["delayMs"] = tuning.delayMs;
        object["volume"] = tuning.volume;
        array.push_back(std::move(object));
    }
    return settings_json::DumpCompact(array);
}

TuningReadReport DecodeTargetTuning(std::string_view utf8Text, const TextConverters& converters)
{
    TuningReadReport report;
    const std::string_view text = utf8Text.substr(0, utf8Text.find('\0'));
    if (!NestsWithin(text, kMaxTuningNesting))
        return report;
    const std::optional<json> parsed = settings_json::ParseUpToNul(text);
    if (!parsed || !parsed->is_array())
        return report;
    report.readable = true;
    report.entries = parsed->size();
    const size_t skipped = report.entries > kMaxTunedEndpoints ? report.entries - kMaxTunedEndpoints : 0;
    report.fellBack = skipped;
    for (auto it = parsed->begin() + static_cast<std::ptrdiff_t>(skipped); it != parsed->end(); ++it)
    {
        bool asStored = false;
        if (std::optional<TunedEndpoint> entry = ReadEntry(*it, asStored, converters))
            report.tuned.push_back(std::move(*entry));
        if (!asStored)
            ++report.fellBack;
    }
    return report;
}

std::string DescribeTuningRead(const TuningReadReport& report)
{
    if (!report.readable)
        return "TargetTuning: the stored text is not readable; every target uses the defaults.";
    if (report.fellBack == 0)
        return {};
    if (report.fellBack == 1)
        return "TargetTuning: 1 entry unreadable or out of range; its defaults are used.";
    return "TargetTuning: " + std::to_string(report.fellBack) +
           " entries unreadable or out of range; their defaults are used.";
}
