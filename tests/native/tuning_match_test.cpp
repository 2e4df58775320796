#include <gtest/gtest.h>

#include "audio/inventory/tuning_match.h"

namespace {

EndpointIdentity Device(const std::string& eid, const std::string& eguid, const std::wstring& name, uint32_t ff = 0)
{ return {eid, eguid, ff, name, false, 0}; }

TEST(ResolveTuning, FindsEachDeviceLikeTheSavedTargets)
{
    const std::vector<TunedEndpoint> stored{
        {Device("{a}", "{ga}", L"Speakers (old)", 1), {100, 50.0f}},
        {Device("{gone}", "{gb}", L"Headphones"), {200, 60.0f}},
        {Device("{gone2}", "", L"Speakers"), {300, 70.0f}},
        {Device("{c}", "", L"Hand edited"), {9000, 150.0f}},
    };
    const std::vector<EndpointIdentity> playback{
        Device("{a}", "", L"Renamed"),                // by id, whatever its name
        Device("{new}", "{gb}", L"Other"),            // by GUID
        Device("{new2}", "", L"Speakers (2)"),        // by its numbered name
        Device("{new3}", "", L"USB Speakers Pro", 1), // a partial name is not enough
        Device("{c}", "", L""),                       // clamped into range
    };
    const std::vector<TargetTuning> expected{{100, 50.0f}, {200, 60.0f}, {300, 70.0f}, {}, {500, 100.0f}};
    EXPECT_EQ(ResolveTuning(stored, playback), expected);
}

TEST(RememberTuning, ReplacesTheSameDeviceAndDropsDefaults)
{
    std::vector<TunedEndpoint> stored;
    RememberTuning(stored, Device("{a}", "", L"Speakers"), {100, 50.0f});
    RememberTuning(stored, Device("{b}", "", L"Headphones"), {10, 10.0f});
    RememberTuning(stored, Device("{a}", "", L"Speakers renamed"), {200, 60.0f});
    EXPECT_EQ(stored, (std::vector<TunedEndpoint>{{Device("{b}", "", L"Headphones"), {10, 10.0f}},
                                                  {Device("{a}", "", L"Speakers renamed"), {200, 60.0f}}}));

    RememberTuning(stored, Device("{b}", "", L""), {});
    // Clamped, the tuning is the defaults, and a record without an id is
    // the device of that name.
    RememberTuning(stored, Device("", "", L"speakers renamed"), {-5, 200.0f});
    EXPECT_TRUE(stored.empty());
}

// Two devices of one name and form factor, each with an id of its own (two
// identical pairs of speakers): neither's setting replaces the other's, and
// one set back to the defaults does not take on the other's by its name.
TEST(RememberTuning, TwinsKeepTheirOwn)
{
    const EndpointIdentity a = Device("{a}", "", L"Speakers", 1);
    const EndpointIdentity b = Device("{b}", "", L"Speakers (2)", 1);
    std::vector<TunedEndpoint> stored;
    RememberTuning(stored, a, {100, 100.0f});
    RememberTuning(stored, b, {200, 100.0f});
    EXPECT_EQ(ResolveTuning(stored, {a, b}), (std::vector<TargetTuning>{{100, 100.0f}, {200, 100.0f}}));
    RememberTuning(stored, b, {});
    EXPECT_EQ(ResolveTuning(stored, {a, b}), (std::vector<TargetTuning>{{100, 100.0f}, {}}));
    EXPECT_EQ(ResolveTuning(stored, {Device("{c}", "", L"Speakers", 1)}), (std::vector<TargetTuning>{{100, 100.0f}}))
        << "a device of that name with a new id still finds the setting";
}

}  // namespace
