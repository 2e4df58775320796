// Listing of endpoints against fake system objects: the composition of both
// lists, the monitor filter, failures of the system calls, the log lines and
// the reference counts of everything handed out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "fake_endpoints.h"
#include "test_log.h"

using ::testing::ElementsAre;

namespace
{
FakeEndpointFlow Flow(std::vector<FakeEndpoint> endpoints)
{
    FakeEndpointFlow flow;
    flow.endpoints = std::move(endpoints);
    return flow;
}

std::vector<std::string> DisplayNames(const std::vector<AudioEndpointInfo>& entries)
{
    std::vector<std::string> names;
    for (const AudioEndpointInfo& entry : entries)
        names.push_back(entry.displayName);
    return names;
}

std::vector<std::string> Ids(const std::vector<AudioEndpointInfo>& entries)
{
    std::vector<std::string> ids;
    for (const AudioEndpointInfo& entry : entries)
        ids.push_back(entry.identity.eid);
    return ids;
}

EndpointIdentity Identity(std::string eid, std::string eguid, uint32_t ff, std::wstring name, bool isDefault,
                          int32_t dataFlow)
{
    EndpointIdentity identity;
    identity.eid = std::move(eid);
    identity.eguid = std::move(eguid);
    identity.ff = ff;
    identity.name = std::move(name);
    identity.isDefault = isDefault;
    identity.dataFlow = dataFlow;
    return identity;
}

class EndpointEnumeration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        baseline = LiveFakeComObjects();
        logPath = OpenFreshTestLog(L"endpoint-enumeration");
    }

    // Whatever a test did, dropping the lists and the enumerator must give
    // back every object the fakes handed out.
    void TearDown() override
    {
        ReleaseDeviceLists(state);
        state.deviceEnumerator.Reset();
        EXPECT_EQ(LiveFakeComObjects(), baseline);
    }

    void Refresh(FakeEndpointFlow render, FakeEndpointFlow capture)
    {
        RefreshDevices(state, MakeFake<FakeMMDeviceEnumerator>(std::move(render), std::move(capture)).Get());
    }

    AppState state{AppStateDefaultsOnly{}};
    int baseline = 0;
    std::wstring logPath;
};

TEST_F(EndpointEnumeration, ListsActivePlaybackEndpointsTwiceAndRecordingEndpointsOnce)
{
    FakeEndpoint headphones = NamedFakeEndpoint(L"{0.0.0.00000000}.{hp}", L"Headphones", 3);
    headphones.formFactorType = VT_I4;
    FakeEndpoint unplugged = NamedFakeEndpoint(L"{0.0.0.00000000}.{lo}", L"Line Out");
    unplugged.state = DEVICE_STATE_UNPLUGGED;
    auto enumerator = MakeFake<FakeMMDeviceEnumerator>(
        Flow({NamedFakeEndpoint(L"{0.0.0.00000000}.{spk}", L"Speakers", 1), unplugged, headphones}),
        Flow({NamedFakeEndpoint(L"{0.0.1.00000000}.{mic}", L"Microphone", 4)}));
    RefreshDevices(state, enumerator.Get());

    EXPECT_EQ(state.deviceEnumerator.Get(), enumerator.Get());
    EXPECT_THAT(DisplayNames(state.playbackDevices), ElementsAre("Speakers", "Headphones"));
    EXPECT_THAT(DisplayNames(state.sourceDevices),
                ElementsAre("[System Default Playback Device]", "[Playback] Speakers", "[Playback] Headphones",
                            "[Recording] Microphone"));
    EXPECT_EQ(state.targetSelected, std::vector<bool>(2, false));

    EXPECT_EQ(state.playbackDevices[0].identity,
              Identity("{0.0.0.00000000}.{spk}", "{guid-{0.0.0.00000000}.{spk}}", 1, L"Speakers", false, 0));
    EXPECT_EQ(state.playbackDevices[1].identity.ff, 3u);
    EXPECT_EQ(state.sourceDevices[0].device, nullptr);
    EXPECT_EQ(state.sourceDevices[0].identity, Identity("", "", 0, L"System Default Device", true, 0));
    for (size_t k = 0; k < state.playbackDevices.size(); ++k)
    {
        ASSERT_NE(state.playbackDevices[k].device, nullptr);
        EXPECT_EQ(state.sourceDevices[1 + k].device.Get(), state.playbackDevices[k].device.Get());
        EXPECT_EQ(state.sourceDevices[1 + k].identity, state.playbackDevices[k].identity);
    }
    EXPECT_EQ(state.sourceDevices[3].identity,
              Identity("{0.0.1.00000000}.{mic}", "{guid-{0.0.1.00000000}.{mic}}", 4, L"Microphone", false, 1));
    EXPECT_NE(state.sourceDevices[3].device, nullptr);

    EXPECT_THAT(LoggedMessages(logPath),
                ElementsAre("RefreshDevices: found 2 active render endpoints.",
                            "RefreshDevices: source list has 4 devices (1 default + 2 playback + 1 recording)."));
}

TEST_F(EndpointEnumeration, SkipsNvidiaMonitorOutputsAmongPlaybackEndpointsOnly)
{
    Refresh(Flow({NamedFakeEndpoint(L"m1", L"Monitor Output (NVIDIA Audio)"),
                  NamedFakeEndpoint(L"s", L"NVIDIA Speakers"), NamedFakeEndpoint(L"m2", L"OUTPUT nVidia")}),
            Flow({NamedFakeEndpoint(L"r", L"NVIDIA Output Capture")}));

    EXPECT_THAT(DisplayNames(state.playbackDevices), ElementsAre("NVIDIA Speakers"));
    EXPECT_THAT(DisplayNames(state.sourceDevices),
                ElementsAre("[System Default Playback Device]", "[Playback] NVIDIA Speakers",
                            "[Recording] NVIDIA Output Capture"));
    EXPECT_EQ(state.targetSelected.size(), 1u);
    EXPECT_THAT(LoggedMessages(logPath),
                ElementsAre("Skipping monitor audio device: Monitor Output (NVIDIA Audio)",
                            "Skipping monitor audio device: OUTPUT nVidia",
                            "RefreshDevices: found 1 active render endpoints.",
                            "RefreshDevices: source list has 3 devices (1 default + 1 playback + 1 recording)."));
}

TEST_F(EndpointEnumeration, KeepsNamelessAndDuplicateEndpointsInCollectionOrder)
{
    FakeEndpoint nameless = NamedFakeEndpoint(L"a", L"");
    nameless.friendlyName.reset();
    Refresh(Flow({nameless, NamedFakeEndpoint(L"b", L"Speakers"), NamedFakeEndpoint(L"c", L"Kopfh\u00f6rer"),
                  NamedFakeEndpoint(L"d", L"Speakers")}),
            Flow({NamedFakeEndpoint(L"e", L"Speakers")}));

    EXPECT_THAT(DisplayNames(state.playbackDevices), ElementsAre("", "Speakers", "Kopfh\xC3\xB6rer", "Speakers"));
    EXPECT_THAT(Ids(state.playbackDevices), ElementsAre("a", "b", "c", "d"));
    EXPECT_THAT(DisplayNames(state.sourceDevices),
                ElementsAre("[System Default Playback Device]", "[Playback] ", "[Playback] Speakers",
                            "[Playback] Kopfh\xC3\xB6rer", "[Playback] Speakers", "[Recording] Speakers"));
    EXPECT_THAT(Ids(state.sourceDevices), ElementsAre("", "a", "b", "c", "d", "e"));
    EXPECT_EQ(state.playbackDevices[2].identity.name, L"Kopfh\u00f6rer");
}

TEST_F(EndpointEnumeration, LeavesOutWhatTheSystemCannotHandOut)
{
    FakeEndpoint storeless = NamedFakeEndpoint(L"c", L"Locked");
    storeless.failOpenPropertyStore = true;
    FakeEndpointFlow render =
        Flow({NamedFakeEndpoint(L"a", L"Speakers"), NamedFakeEndpoint(L"b", L"Broken"), storeless});
    render.failingItems = {1};
    FakeEndpointFlow capture = Flow({NamedFakeEndpoint(L"r", L"Microphone")});
    capture.failEnumAudioEndpoints = true;
    Refresh(render, capture);

    // The entry without a property store keeps its id, so a saved choice can
    // still find it.
    EXPECT_THAT(DisplayNames(state.sourceDevices),
                ElementsAre("[System Default Playback Device]", "[Playback] Speakers", "[Playback] "));
    EXPECT_EQ(state.playbackDevices[1].identity, Identity("c", "", 0, L"", false, 0));
    EXPECT_EQ(state.targetSelected.size(), 2u);

    // Without an enumerator only the system-default entry is left.
    RefreshDevices(state, nullptr);
    EXPECT_EQ(state.deviceEnumerator, nullptr);
    EXPECT_TRUE(state.playbackDevices.empty());
    EXPECT_THAT(DisplayNames(state.sourceDevices), ElementsAre("[System Default Playback Device]"));

    EXPECT_THAT(LoggedMessages(logPath),
                ElementsAre("RefreshDevices: found 2 active render endpoints.",
                            "RefreshDevices: source list has 3 devices (1 default + 2 playback + 0 recording).",
                            "RefreshDevices: found 0 active render endpoints.",
                            "RefreshDevices: source list has 1 devices (1 default + 0 playback + 0 recording)."));
}

TEST_F(EndpointEnumeration, WithoutPlaybackEndpointsListsDefaultAndRecordingEntries)
{
    Refresh(Flow({}), Flow({NamedFakeEndpoint(L"r1", L"Microphone"), NamedFakeEndpoint(L"r2", L"Line In")}));

    EXPECT_TRUE(state.playbackDevices.empty());
    EXPECT_TRUE(state.targetSelected.empty());
    EXPECT_THAT(DisplayNames(state.sourceDevices),
                ElementsAre("[System Default Playback Device]", "[Recording] Microphone", "[Recording] Line In"));
    EXPECT_THAT(LoggedMessages(logPath),
                ElementsAre("RefreshDevices: found 0 active render endpoints.",
                            "RefreshDevices: source list has 3 devices (1 default + 0 playback + 2 recording)."));
}

TEST_F(EndpointEnumeration, RefreshClearsTargetFlagsButKeepsTheSourceIndex)
{
    Refresh(Flow({NamedFakeEndpoint(L"a", L"A"), NamedFakeEndpoint(L"b", L"B")}), Flow({}));
    state.targetSelected = {true, true};
    state.selectedSourceIndex = 7;

    Refresh(Flow({NamedFakeEndpoint(L"a", L"A"), NamedFakeEndpoint(L"b", L"B"), NamedFakeEndpoint(L"c", L"C")}),
            Flow({}));
    EXPECT_EQ(state.targetSelected, std::vector<bool>(3, false));
    EXPECT_EQ(state.selectedSourceIndex, 7);
}

TEST_F(EndpointEnumeration, HoldsExactlyOneObjectPerListedEndpointAcrossRefreshes)
{
    FakeEndpoint storeless = NamedFakeEndpoint(L"c", L"Locked");
    storeless.failOpenPropertyStore = true;
    FakeEndpointFlow render = Flow({NamedFakeEndpoint(L"a", L"Speakers"), NamedFakeEndpoint(L"m", L"NVIDIA Output"),
                                    NamedFakeEndpoint(L"b", L"Broken"), storeless});
    render.failingItems = {2};
    auto busy = MakeFake<FakeMMDeviceEnumerator>(render, Flow({NamedFakeEndpoint(L"r", L"Microphone")}));
    auto quiet = MakeFake<FakeMMDeviceEnumerator>(Flow({NamedFakeEndpoint(L"a", L"Speakers")}), Flow({}));
    const int enumerators = 2;

    for (int round = 0; round < 25; ++round)
    {
        RefreshDevices(state, busy.Get());
        // Speakers and Locked (each shared by its playback and source entry)
        // and Microphone; the skipped, failed and temporary objects are gone.
        ASSERT_EQ(LiveFakeComObjects(), baseline + enumerators + 3) << "round " << round;
        RefreshDevices(state, quiet.Get());
        ASSERT_EQ(LiveFakeComObjects(), baseline + enumerators + 1) << "round " << round;
    }

    ReleaseDeviceLists(state);
    EXPECT_TRUE(state.sourceDevices.empty());
    EXPECT_EQ(LiveFakeComObjects(), baseline + enumerators);
    busy.Reset();
    quiet.Reset();
    // The enumerator of the last refresh stays with the state.
    EXPECT_EQ(LiveFakeComObjects(), baseline + 1);
}

TEST(ReadEndpointIdentity, KeepsWhatCanBeReadAndLeavesTheRestEmpty)
{
    const int baseline = LiveFakeComObjects();
    auto identityOf = [](const FakeEndpoint& endpoint) {
        return ReadEndpointIdentity(MakeFake<FakeMMDevice>(endpoint).Get());
    };
    FakeEndpoint full = NamedFakeEndpoint(L"{0.0.0.00000000}.{x}", L"Speakers", 3);
    EXPECT_EQ(identityOf(full),
              Identity("{0.0.0.00000000}.{x}", "{guid-{0.0.0.00000000}.{x}}", 3, L"Speakers", false, 0));

    FakeEndpoint signedFormFactor = full;
    signedFormFactor.formFactorType = VT_I4;
    EXPECT_EQ(identityOf(signedFormFactor).ff, 3u);

    FakeEndpoint oddlyTyped = full;
    oddlyTyped.formFactorType = VT_UI2;
    oddlyTyped.guid.reset();
    EXPECT_EQ(identityOf(oddlyTyped), Identity("{0.0.0.00000000}.{x}", "", 0, L"Speakers", false, 0));

    FakeEndpoint noId = full;
    noId.failGetId = true;
    EXPECT_EQ(identityOf(noId), Identity("", "{guid-{0.0.0.00000000}.{x}}", 3, L"Speakers", false, 0));

    FakeEndpoint noStore = full;
    noStore.failOpenPropertyStore = true;
    EXPECT_EQ(identityOf(noStore), Identity("{0.0.0.00000000}.{x}", "", 0, L"", false, 0));

    FakeEndpoint noValues = full;
    noValues.failGetValue = true;
    EXPECT_EQ(identityOf(noValues), Identity("{0.0.0.00000000}.{x}", "", 0, L"", false, 0));

    EXPECT_EQ(LiveFakeComObjects(), baseline);
}
}  // namespace
