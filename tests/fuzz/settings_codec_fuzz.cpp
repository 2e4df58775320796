// The saved choices and the stored numbers as a hand-edited registry may
// hold them: any text for the three JSON values, any type, size and bytes
// for a DWORD value. Besides not crashing, whatever decodes completely must
// encode to a text that decodes to the same again.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_targets.h"
#include "audio/inventory/tuning_match.h"
#include "settings/settings_codec.h"
#include "settings/target_tuning_codec.h"
#include "test_text_convert.h"

namespace
{
void SourceRoundTrip(std::string_view text)
{
    EndpointIdentity source;
    if (DecodeSelectedSource(text, source, kTestConverters) != JsonReadResult::Complete)
        return;
    EndpointIdentity again;
    const std::string encoded = EncodeSelectedSource(source, kTestConverters);
    TONEFORK_FUZZ_REQUIRE(DecodeSelectedSource(encoded, again, kTestConverters) == JsonReadResult::Complete);
    TONEFORK_FUZZ_REQUIRE(again == source);
}

void TargetsRoundTrip(std::string_view text)
{
    std::vector<EndpointIdentity> targets;
    if (DecodeSelectedTargets(text, targets, kTestConverters) != JsonReadResult::Complete)
        return;
    std::vector<EndpointIdentity> again;
    const std::string encoded = EncodeSelectedTargets(targets, kTestConverters);
    TONEFORK_FUZZ_REQUIRE(DecodeSelectedTargets(encoded, again, kTestConverters) == JsonReadResult::Complete);
    TONEFORK_FUZZ_REQUIRE(again == targets);
}

// The report adds up, nothing out of range is taken, and what was read
// comes back from its own text with nothing falling back.
void TuningRoundTrip(std::string_view text)
{
    const TuningReadReport read = DecodeTargetTuning(text, kTestConverters);
    TONEFORK_FUZZ_REQUIRE(read.readable || (read.entries == 0 && read.tuned.empty()));
    TONEFORK_FUZZ_REQUIRE(read.fellBack <= read.entries && read.tuned.size() <= kMaxTunedEndpoints);
    TONEFORK_FUZZ_REQUIRE(read.tuned.size() + read.fellBack >= read.entries);
    for (const TunedEndpoint& entry : read.tuned)
        TONEFORK_FUZZ_REQUIRE(ClampTuning(entry.tuning) == entry.tuning);
    if (!read.readable)
        return;
    const TuningReadReport again = DecodeTargetTuning(EncodeTargetTuning(read.tuned, kTestConverters), kTestConverters);
    TONEFORK_FUZZ_REQUIRE(again.readable && again.fellBack == 0 && again.tuned == read.tuned);
}

// First byte: the registry type; the rest: the data, of any size.
void StoredDword(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    const auto dataSize = static_cast<uint32_t>(size - 1);
    for (const SettingsDwordValue& value : kSettingsDwordValues)
    {
        SettingsValues values;
        const bool taken = DecodeSettingsDword(values, value.field, data[0], dataSize, data + 1);
        TONEFORK_FUZZ_REQUIRE(taken == (data[0] == kRegTypeDword && dataSize == 4));
    }
    SettingsValues values;
    DecodeSettingsDword(values, SettingsDword::Volume, kRegTypeDword, dataSize, data + 1);
    const float volume = OutOfRangeReplacement(values.volume, kVolumeRange).value_or(values.volume);
    TONEFORK_FUZZ_REQUIRE(volume >= kVolumeRange.low && volume <= kVolumeRange.high);
}
}  // namespace

int FuzzSettingsCodec(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    SourceRoundTrip(text);
    TargetsRoundTrip(text);
    TuningRoundTrip(text);
    StoredDword(data, size);
    return 0;
}

TONEFORK_FUZZ_ENTRY(FuzzSettingsCodec)
