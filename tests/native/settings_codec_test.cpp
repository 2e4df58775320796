#include <gtest/gtest.h>

#include <limits>

#include "settings/settings_codec.h"
#include "test_text_convert.h"

namespace {

const TextConverters kConverters = kTestConverters;

// A name with two-, three- and four-byte UTF-8 sequences (a surrogate pair
// where wchar_t is 16 bits).
const std::wstring kWideName = L"\u00C9couteurs \u4E2D \U0001F3A7";
const std::string kUtf8Name = "\xC3\x89" "couteurs \xE4\xB8\xAD \xF0\x9F\x8E\xA7";

EndpointIdentity FilledSource()
{
    return EndpointIdentity{"old-eid", "old-guid", 7, L"Old name", true, 1};
}

TEST(EncodeSelectedSource, SystemDefaultTextByteForByte)
{
    const EndpointIdentity systemDefault{"", "", 0, L"System Default Device", true, 0};
    EXPECT_EQ(EncodeSelectedSource(systemDefault, kConverters),
              R"({"dataFlow":0,"eguid":"","eid":"","ff":0,"isDefault":true,"name":"System Default Device"})");
}

TEST(EncodeSelectedSource, EscapesOnlyWhatJsonRequires)
{
    const EndpointIdentity source{"{0.0.1.00000000}.{ab}", "{G}", 4294967295u, L"A \"B\" \\ " + kWideName,
                                  false, -1};
    EXPECT_EQ(EncodeSelectedSource(source, kConverters),
              R"({"dataFlow":-1,"eguid":"{G}","eid":"{0.0.1.00000000}.{ab}","ff":4294967295,)"
              R"("isDefault":false,"name":"A \"B\" \\ )" + kUtf8Name + "\"}");
}

TEST(EncodeSelectedSource, InvalidUtf8BecomesReplacementCharacter)
{
    // An id is narrowed unit by unit, so a stray high byte must not make the
    // whole save fail.
    const EndpointIdentity source{"a\xFF", "", 0, L"", false, 0};
    EXPECT_EQ(EncodeSelectedSource(source, kConverters),
              std::string(R"({"dataFlow":0,"eguid":"","eid":"a)") + "\xEF\xBF\xBD" +
                  R"(","ff":0,"isDefault":false,"name":""})");
}

TEST(EncodeSelectedTargets, EmptyListAndFourMemberObjects)
{
    EXPECT_EQ(EncodeSelectedTargets({}, kConverters), "[]");
    const std::vector<EndpointIdentity> targets{{"e1", "g1", 1, L"One", true, 1}, {"", "", 0, L"", false, 0}};
    EXPECT_EQ(EncodeSelectedTargets(targets, kConverters),
              R"([{"eguid":"g1","eid":"e1","ff":1,"name":"One"},{"eguid":"","eid":"","ff":0,"name":""}])");
}

TEST(SelectedChoices, RoundTripWithNonAsciiNames)
{
    const EndpointIdentity source{"{id}", "{guid}", 3, kWideName, false, 1};
    EndpointIdentity readSource;
    EXPECT_EQ(DecodeSelectedSource(EncodeSelectedSource(source, kConverters), readSource, kConverters),
              JsonReadResult::Complete);
    EXPECT_EQ(readSource, source);

    const std::vector<EndpointIdentity> targets{{"a", "", 2, kWideName, true, 1}, {"b", "g", 0, L"B", false, 0}};
    std::vector<EndpointIdentity> readTargets{FilledSource()};
    EXPECT_EQ(DecodeSelectedTargets(EncodeSelectedTargets(targets, kConverters), readTargets, kConverters),
              JsonReadResult::Complete);
    // The default flag and data flow are not part of a saved target.
    const std::vector<EndpointIdentity> expected{{"a", "", 2, kWideName, false, 0}, {"b", "g", 0, L"B", false, 0}};
    EXPECT_EQ(readTargets, expected);
}

TEST(DecodeSelectedSource, MissingKeysGiveDefaults)
{
    EndpointIdentity source = FilledSource();
    EXPECT_EQ(DecodeSelectedSource("{}", source, kConverters), JsonReadResult::Complete);
    EXPECT_EQ(source, EndpointIdentity{});
}

TEST(DecodeSelectedSource, WrongTypeStopsAndKeepsEarlierMembers)
{
    EndpointIdentity source = FilledSource();
    EXPECT_EQ(DecodeSelectedSource(R"({"eid":"new","ff":"4","name":"N"})", source, kConverters),
              JsonReadResult::Stopped);
    const EndpointIdentity expected{"new", "", 7, L"Old name", true, 1};
    EXPECT_EQ(source, expected);

    source = FilledSource();
    EXPECT_EQ(DecodeSelectedSource(R"({"eid":"e","eguid":"g","ff":2,"name":"N","isDefault":1,"dataFlow":0})",
                                   source, kConverters),
              JsonReadResult::Stopped);
    const EndpointIdentity stoppedAtFlag{"e", "g", 2, L"N", true, 1};
    EXPECT_EQ(source, stoppedAtFlag);

    source = FilledSource();
    EXPECT_EQ(DecodeSelectedSource(R"({"eid":"e","name":null})", source, kConverters), JsonReadResult::Stopped);
    EXPECT_EQ(source.ff, 0u);
    EXPECT_EQ(source.name, L"Old name");
}

TEST(DecodeSelectedSource, NumbersAcceptFractionsAndBooleans)
{
    EndpointIdentity source;
    EXPECT_EQ(DecodeSelectedSource(R"({"ff":3.9,"isDefault":false,"dataFlow":true})", source, kConverters),
              JsonReadResult::Complete);
    EXPECT_EQ(source.ff, 3u);
    EXPECT_EQ(source.dataFlow, 1);

    EXPECT_EQ(DecodeSelectedSource(R"({"ff":true,"dataFlow":-1.7})", source, kConverters),
              JsonReadResult::Complete);
    EXPECT_EQ(source.ff, 1u);
    EXPECT_EQ(source.dataFlow, -1);

    // Out of range numbers wrap like an integer conversion instead of
    // being undefined.
    EXPECT_EQ(DecodeSelectedSource(R"({"ff":-1,"dataFlow":4294967295})", source, kConverters),
              JsonReadResult::Complete);
    EXPECT_EQ(source.ff, 4294967295u);
    EXPECT_EQ(source.dataFlow, -1);
    EXPECT_EQ(DecodeSelectedSource(R"({"ff":1e300})", source, kConverters), JsonReadResult::Complete);
    EXPECT_EQ(source.ff, 0u);
}

TEST(DecodeSelectedSource, UnparsableOrNonObjectChangesNothing)
{
    for (const std::string_view text : {"not json", "", "{\"eid\":\"x\"", "{\"eid\":\"x\"} 1"})
    {
        EndpointIdentity source = FilledSource();
        EXPECT_EQ(DecodeSelectedSource(text, source, kConverters), JsonReadResult::NotParsed) << text;
        EXPECT_EQ(source, FilledSource()) << text;
    }
    for (const std::string_view text : {"null", "[{\"eid\":\"x\"}]", "\"x\"", "5"})
    {
        EndpointIdentity source = FilledSource();
        EXPECT_EQ(DecodeSelectedSource(text, source, kConverters), JsonReadResult::Stopped) << text;
        EXPECT_EQ(source, FilledSource()) << text;
    }
}

TEST(DecodeSelectedSource, ParsesOnlyUpToTheFirstNul)
{
    using namespace std::string_literals;
    EndpointIdentity source = FilledSource();
    EXPECT_EQ(DecodeSelectedSource("{\"eid\":\"x\"}\0{garbage"s, source, kConverters), JsonReadResult::Complete);
    EXPECT_EQ(source.eid, "x");

    // A value holding only its terminator.
    source = FilledSource();
    EXPECT_EQ(DecodeSelectedSource("\0"s, source, kConverters), JsonReadResult::NotParsed);
    EXPECT_EQ(source, FilledSource());
}

TEST(DecodeSelectedTargets, BadElementStopsKeepingEarlierRecords)
{
    std::vector<EndpointIdentity> targets{FilledSource()};
    EXPECT_EQ(DecodeSelectedTargets(R"([{"eid":"a"},5,{"eid":"b"}])", targets, kConverters),
              JsonReadResult::Stopped);
    const std::vector<EndpointIdentity> expected{{"a", "", 0, L"", false, 0}};
    EXPECT_EQ(targets, expected);

    EXPECT_EQ(DecodeSelectedTargets(R"([{"eid":"a"},{"eid":"b","ff":{}},{"eid":"c"}])", targets, kConverters),
              JsonReadResult::Stopped);
    EXPECT_EQ(targets, expected);
}

TEST(DecodeSelectedTargets, WhatTheParsedValueGives)
{
    const std::vector<EndpointIdentity> before{FilledSource()};
    std::vector<EndpointIdentity> targets = before;
    EXPECT_EQ(DecodeSelectedTargets("[{", targets, kConverters), JsonReadResult::NotParsed);
    EXPECT_EQ(targets, before);

    EXPECT_EQ(DecodeSelectedTargets("[]", targets, kConverters), JsonReadResult::Complete);
    EXPECT_TRUE(targets.empty());

    targets = before;
    EXPECT_EQ(DecodeSelectedTargets("null", targets, kConverters), JsonReadResult::Complete);
    EXPECT_TRUE(targets.empty());

    for (const std::string_view scalar : {"\"x\"", "5", "true"})
    {
        targets = before;
        EXPECT_EQ(DecodeSelectedTargets(scalar, targets, kConverters), JsonReadResult::Stopped) << scalar;
        EXPECT_TRUE(targets.empty()) << scalar;
    }

    // An object stands for the list of its member values in key order.
    EXPECT_EQ(DecodeSelectedTargets(R"({"b":{"eid":"2"},"a":{"eid":"1"}})", targets, kConverters),
              JsonReadResult::Complete);
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].eid, "1");
    EXPECT_EQ(targets[1].eid, "2");
}

TEST(DecodeSelectedTargets, ParsesOnlyUpToTheFirstNul)
{
    using namespace std::string_literals;
    std::vector<EndpointIdentity> targets;
    EXPECT_EQ(DecodeSelectedTargets("[{\"name\":\"N\"}]\0]]"s, targets, kConverters), JsonReadResult::Complete);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].name, L"N");
}

std::array<uint8_t, 4> LittleEndian(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

TEST(SettingsDwords, FirstStartDefaultsEncodeInTableOrder)
{
    const SettingsValues defaults;
    std::vector<uint32_t> encoded;
    for (const SettingsDwordValue& value : kSettingsDwordValues)
        encoded.push_back(EncodeSettingsDword(defaults, value.field));
    EXPECT_EQ(encoded, (std::vector<uint32_t>{0, 0, 0, 1, 516, 720, 50, 30}));
}

TEST(SettingsDwords, EveryFieldSurvivesTheRegistry)
{
    const SettingsValues saved{true, false, true, false, -20, 0, 73.9f, 59.5f};
    SettingsValues loaded{false, true, false, true, 1, 1, 1.0f, 1.0f};
    for (const SettingsDwordValue& value : kSettingsDwordValues)
    {
        const auto bytes = LittleEndian(EncodeSettingsDword(saved, value.field));
        EXPECT_TRUE(DecodeSettingsDword(loaded, value.field, kRegTypeDword, 4, bytes.data()));
    }
    EXPECT_TRUE(loaded.minimizeToTray);
    EXPECT_FALSE(loaded.startRedirectingOnStartup);
    EXPECT_TRUE(loaded.minimizeOnClose);
    EXPECT_FALSE(loaded.rememberWindowSize);
    EXPECT_EQ(loaded.windowWidth, -20);
    EXPECT_EQ(loaded.windowHeight, 0);
    EXPECT_EQ(loaded.volume, 73.0f);
    EXPECT_EQ(loaded.bufferMs, 59.0f);
}

TEST(SettingsDwords, ReadingRules)
{
    SettingsValues values;
    auto decode = [&values](SettingsDword field, uint32_t number) {
        const auto bytes = LittleEndian(number);
        return DecodeSettingsDword(values, field, kRegTypeDword, 4, bytes.data());
    };
    decode(SettingsDword::MinimizeToTray, 2);
    EXPECT_TRUE(values.minimizeToTray);
    decode(SettingsDword::RememberWindowSize, 0);
    EXPECT_FALSE(values.rememberWindowSize);
    decode(SettingsDword::WindowWidth, 0xFFFFFFFFu);
    EXPECT_EQ(values.windowWidth, -1);
    decode(SettingsDword::Volume, 0xFFFFFFFFu);
    EXPECT_EQ(values.volume, 4294967295.0f);
    decode(SettingsDword::BufferMs, 516);
    EXPECT_EQ(values.bufferMs, 516.0f);
}

TEST(SettingsDwords, WrongTypeOrSizeLeavesFieldAlone)
{
    const auto bytes = LittleEndian(999);
    const uint8_t eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    SettingsValues values;
    EXPECT_FALSE(DecodeSettingsDword(values, SettingsDword::WindowWidth, kRegTypeSz, 4, bytes.data()));
    EXPECT_FALSE(DecodeSettingsDword(values, SettingsDword::WindowWidth, 3, 4, bytes.data()));  // binary
    EXPECT_FALSE(DecodeSettingsDword(values, SettingsDword::WindowWidth, 5, 4, bytes.data()));  // big-endian
    EXPECT_FALSE(DecodeSettingsDword(values, SettingsDword::WindowWidth, kRegTypeDword, 2, bytes.data()));
    EXPECT_FALSE(DecodeSettingsDword(values, SettingsDword::MinimizeToTray, kRegTypeDword, 8, eight));
    EXPECT_FALSE(DecodeSettingsDword(values, SettingsDword::Volume, kRegTypeDword, 4, nullptr));
    EXPECT_EQ(values.windowWidth, 516);
    EXPECT_FALSE(values.minimizeToTray);
    EXPECT_EQ(values.volume, 50.0f);
}

TEST(TruncateToDword, IntegerPartWithinRange)
{
    EXPECT_EQ(TruncateToDword(73.9f), 73u);
    EXPECT_EQ(TruncateToDword(0.99f), 0u);
    EXPECT_EQ(TruncateToDword(100.0f), 100u);
    EXPECT_EQ(TruncateToDword(-3.5f), 0u);
    EXPECT_EQ(TruncateToDword(std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(TruncateToDword(5e9f), 4294967295u);
}

TEST(DeviceVolumes, KeyOfASource)
{
    EXPECT_EQ(DeviceVolumeKey(EndpointIdentity{"{id}", "", 0, L"", true, 0}), "__system_default__");
    EXPECT_EQ(DeviceVolumeKey(EndpointIdentity{"{id}", "", 0, L"", false, 1}), "{id}");
    EXPECT_EQ(DeviceVolumeKey(EndpointIdentity{}), "");
}

TEST(DeviceVolumes, LookupFallsBackToTheCallersDefault)
{
    const std::map<std::string, float> volumes{{kSystemDefaultVolumeKey, 80.0f}, {"{Id}", 20.0f}, {"", 5.0f}};
    EXPECT_EQ(LookupDeviceVolume(volumes, kSystemDefaultVolumeKey, 50.0f), 80.0f);
    EXPECT_EQ(LookupDeviceVolume(volumes, "{Id}", 50.0f), 20.0f);
    EXPECT_EQ(LookupDeviceVolume(volumes, "{id}", 50.0f), 50.0f);
    EXPECT_EQ(LookupDeviceVolume(volumes, "", 42.0f), 42.0f);
    EXPECT_EQ(LookupDeviceVolume({}, "{Id}", 33.0f), 33.0f);
}

TEST(StoredRanges, OutOfRangeValuesAreReplacedByTheNearerEnd)
{
    struct Case
    {
        float stored;
        ValueRange range;
        std::optional<float> used;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {50.0f, kVolumeRange, std::nullopt},   {0.0f, kVolumeRange, std::nullopt},
        {100.0f, kVolumeRange, std::nullopt},  {1000.0f, kVolumeRange, 100.0f},
        {4294967295.0f, kVolumeRange, 100.0f}, {-1.0f, kVolumeRange, 0.0f},
        {nan, kVolumeRange, 0.0f},             {0.0f, kBufferMsRange, 1.0f},
        {1.0f, kBufferMsRange, std::nullopt},  {60.0f, kBufferMsRange, std::nullopt},
        {100000.0f, kBufferMsRange, 60.0f},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(OutOfRangeReplacement(c.stored, c.range), c.used) << c.stored << " in " << c.range.low << ".."
                                                                    << c.range.high;
    }
}

TEST(ProbeLevel, StoredAsWholeDecibelsBelowFullScaleAndReadOnlyInRange)
{
    const std::pair<float, uint32_t> encoded[] = {{-20.0f, 20}, {-35.4f, 35}, {-49.6f, 50}, {0.0f, 0}, {3.0f, 0}};
    for (const auto& [dbfs, stored] : encoded)
    {
        EXPECT_EQ(EncodeProbeLevel(dbfs), stored) << dbfs;
    }
    const std::pair<uint32_t, std::optional<float>> decoded[] = {
        {20, -20.0f}, {0, 0.0f}, {50, -50.0f}, {51, std::nullopt}, {0xFFFFFFECu, std::nullopt}};
    for (const auto& [stored, dbfs] : decoded)
    {
        EXPECT_EQ(DecodeProbeLevel(stored, -50.0f), dbfs) << stored;
    }
}

TEST(DeviceVolumes, EnumerationStopsAtEveryErrorButTooLong)
{
    const std::pair<long, EnumerationStep> cases[] = {
        {kRegResultSuccess, EnumerationStep::Take},
        {kRegResultMoreData, EnumerationStep::Skip},
        {kRegResultNoMoreItems, EnumerationStep::Stop},
        {1018, EnumerationStep::Stop},  // ERROR_KEY_DELETED
        {5, EnumerationStep::Stop},     // ERROR_ACCESS_DENIED
        {6, EnumerationStep::Stop},     // ERROR_INVALID_HANDLE
    };
    for (const auto& [result, step] : cases)
    {
        EXPECT_EQ(VolumeEnumerationStep(result), step) << result;
    }
}

} // namespace
