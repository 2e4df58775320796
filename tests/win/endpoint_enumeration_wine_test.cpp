// Listing of the machine's real endpoints: the test run's PulseAudio null
// sinks "Speakers", "Headphones" and "HDMI Output" as Wine reports them.
// Wine may add a "PulseAudio" endpoint per flow, and its collection order
// is not stable, so the checks are on sets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <objbase.h>

#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "test_log.h"

using ::testing::AnyOf;
using ::testing::Each;
using ::testing::IsSupersetOf;

namespace
{
class WineEndpoints : public ::testing::Test
{
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override { CoUninitialize(); }
};

std::vector<std::string> NamesAfterPrefix(const std::vector<AudioEndpointInfo>& entries, const std::string& prefix)
{
    std::vector<std::string> names;
    for (const AudioEndpointInfo& entry : entries)
    {
        if (entry.displayName.compare(0, prefix.size(), prefix) == 0)
            names.push_back(entry.displayName.substr(prefix.size()));
    }
    return names;
}

TEST_F(WineEndpoints, ListsTheSinksAsPlaybackAndTheirMonitorsAsRecording)
{
    const std::wstring logPath = OpenFreshTestLog(L"wine-endpoints");
    AppState state{AppStateDefaultsOnly{}};
    RefreshDevices(state);
    ASSERT_NE(state.deviceEnumerator, nullptr);

    std::vector<std::string> playback;
    std::set<std::string> ids;
    for (const AudioEndpointInfo& entry : state.playbackDevices)
    {
        playback.push_back(entry.displayName);
        EXPECT_NE(entry.device, nullptr);
        EXPECT_FALSE(entry.identity.eid.empty()) << entry.displayName;
        EXPECT_EQ(entry.identity.dataFlow, 0);
        ids.insert(entry.identity.eid);
    }
    EXPECT_THAT(playback, IsSupersetOf({"Speakers", "Headphones", "HDMI Output"}));
    EXPECT_THAT(playback, Each(AnyOf("Speakers", "Headphones", "HDMI Output", "PulseAudio")));
    EXPECT_EQ(NamesAfterPrefix(state.sourceDevices, "[Playback] "), playback);

    const std::vector<std::string> recording = NamesAfterPrefix(state.sourceDevices, "[Recording] ");
    EXPECT_THAT(recording, IsSupersetOf({"Monitor of Speakers", "Monitor of Headphones", "Monitor of HDMI Output"}));
    EXPECT_THAT(recording,
                Each(AnyOf("Monitor of Speakers", "Monitor of Headphones", "Monitor of HDMI Output", "PulseAudio")));
    for (size_t j = 1 + playback.size(); j < state.sourceDevices.size(); ++j)
    {
        const EndpointIdentity& identity = state.sourceDevices[j].identity;
        EXPECT_EQ(identity.dataFlow, 1);
        EXPECT_FALSE(identity.eid.empty());
        ids.insert(identity.eid);
    }
    ASSERT_EQ(state.sourceDevices.size(), 1 + playback.size() + recording.size());
    EXPECT_EQ(state.sourceDevices[0].displayName, "[System Default Playback Device]");
    EXPECT_EQ(ids.size(), playback.size() + recording.size()) << "endpoint ids are unique";
    EXPECT_EQ(state.targetSelected.size(), playback.size());

    const std::string found = "RefreshDevices: found " + std::to_string(playback.size()) + " active render endpoints.";
    const std::string total = "RefreshDevices: source list has " + std::to_string(state.sourceDevices.size()) +
                              " devices (1 default + " + std::to_string(playback.size()) + " playback + " +
                              std::to_string(recording.size()) + " recording).";
    EXPECT_THAT(LoggedMessages(logPath), ::testing::ElementsAre(found, total));

    // A second refresh finds the same endpoints.
    RefreshDevices(state);
    EXPECT_THAT(NamesAfterPrefix(state.sourceDevices, "[Playback] "), ::testing::UnorderedElementsAreArray(playback));
    EXPECT_EQ(NamesAfterPrefix(state.sourceDevices, "[Recording] ").size(), recording.size());

    ReleaseDeviceLists(state);
    state.deviceEnumerator.Reset();
}
}  // namespace
