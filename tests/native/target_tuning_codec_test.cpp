#include <gtest/gtest.h>

#include <tuple>

#include "settings/target_tuning_codec.h"
#include "test_text_convert.h"

namespace {

using namespace std::string_literals;

TunedEndpoint Entry(const std::string& eid, int32_t delayMs, float volume, const std::wstring& name = L"")
{
    return {EndpointIdentity{eid, "", 0, name, false, 0}, {delayMs, volume}};
}

TEST(TargetTuningCodec, RoundTripWithANonAsciiName)
{
    const std::vector<TunedEndpoint> tuned{{{"{e}", "{g}", 1, L"Kopfh\u00f6rer \u4e2d \U0001F3A7", false, 0}, {120, 37.5f}},
                                           Entry("{f}", 0, 0.0f)};
    const std::string text = EncodeTargetTuning(tuned, kTestConverters);
    EXPECT_EQ(text, R"([{"delayMs":120,"eguid":"{g}","eid":"{e}","ff":1,"name":"Kopfh)"
                    "\xC3\xB6rer \xE4\xB8\xAD \xF0\x9F\x8E\xA7"
                    R"(","volume":37.5},{"delayMs":0,"eguid":"","eid":"{f}","ff":0,"name":"","volume":0.0}])");
    const TuningReadReport read = DecodeTargetTuning(text, kTestConverters);
    EXPECT_TRUE(read.readable);
    EXPECT_EQ(read.entries, 2u);
    EXPECT_EQ(read.fellBack, 0u);
    EXPECT_EQ(read.tuned, tuned);
    // What is written is always in range.
    EXPECT_EQ(EncodeTargetTuning({Entry("x", 9000, 150.0f)}, kTestConverters),
              R"([{"delayMs":500,"eguid":"","eid":"x","ff":0,"name":"","volume":100.0}])");
}

TEST(TargetTuningCodec, BrokenAndHostileTexts)
{
    struct Case { std::string text; bool readable; size_t entries, fellBack; std::vector<TunedEndpoint> tuned; };
    const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
    const Case cases[] = {
        {"", false, 0, 0, {}},
        {"{\"eid\":\"a\"}", false, 0, 0, {}},
        {"[]", true, 0, 0, {}},
        // Out of range or of the wrong type: the default, not the nearest value.
        {R"([{"eid":"a","delayMs":9000,"volume":50}])", true, 1, 1, {Entry("a", 0, 50.0f)}},
        {R"([{"eid":"a","delayMs":12.5,"volume":100.5}])", true, 1, 1, {Entry("a", 0, 100.0f)}},
        {R"([{"eid":"a","delayMs":-1,"volume":"7"},{"eid":"b","delayMs":7}])", true, 2, 2,
         {Entry("a", 0, 100.0f), Entry("b", 7, 100.0f)}},
        {R"([{"eid":"a","delayMs":18446744073709551615,"volume":1e300}])", true, 1, 1, {Entry("a", 0, 100.0f)}},
        {R"([{"eid":7,"name":"Speakers","delayMs":5,"volume":5}])", true, 1, 1, {Entry("", 5, 5.0f, L"Speakers")}},
        // No usable identity, or not an entry at all: dropped.
        {R"([{"name":"  ","delayMs":5,"volume":5},5,[],{"eid":"b","delayMs":1,"volume":2}])", true, 4, 3,
         {Entry("b", 1, 2.0f)}},
        // Not JSON as nlohmann reads it: the whole text.
        {R"([{"eid":"a","delayMs":1e400}])", false, 0, 0, {}},
        {R"([{"eid":"a","volume":NaN}])", false, 0, 0, {}},
        {R"([{"eid":"a","volume":Infinity}])", false, 0, 0, {}},
        {"[{\"eid\":\"a\",\"name\":\"\xFF\"}]", false, 0, 0, {}},
        {"[{\"eid\":\"a\",\"delayMs\":3,\"volume\":4}]\0]]garbage"s, true, 1, 0, {Entry("a", 3, 4.0f)}},
        {deep, false, 0, 0, {}},
        {std::string(17, '[') + std::string(17, ']'), false, 0, 0, {}},
        {std::string(16, '[') + std::string(16, ']'), true, 1, 1, {}},
        // Brackets in a string, even after an escaped quote, are no nesting.
        {"[{\"eid\":\"\\\"" + std::string(40, '[') + "\"}]", true, 1, 1, {Entry("\"" + std::string(40, '['), 0, 100.0f)}},
    };
    for (const Case& c : cases)
    {
        const TuningReadReport read = DecodeTargetTuning(c.text, kTestConverters);
        EXPECT_EQ(std::tie(read.readable, read.entries, read.fellBack), std::tie(c.readable, c.entries, c.fellBack))
            << c.text.substr(0, 80);
        EXPECT_EQ(read.tuned, c.tuned) << c.text.substr(0, 80);
    }
}

TEST(TargetTuningCodec, OnlyTheNewestEntriesOfAnEnormousList)
{
    std::vector<TunedEndpoint> many;
    for (int i = 0; i < 300; ++i)
        many.push_back(Entry(std::to_string(i), i, 1.0f));
    const TuningReadReport read = DecodeTargetTuning(EncodeTargetTuning(many, kTestConverters), kTestConverters);
    EXPECT_EQ(read.entries, 300u);
    EXPECT_EQ(read.fellBack, 300u - kMaxTunedEndpoints);
    EXPECT_TRUE(std::equal(read.tuned.begin(), read.tuned.end(), many.end() - kMaxTunedEndpoints, many.end()));
}

}  // namespace
