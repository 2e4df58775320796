// Resolution of the saved choices against lists built from fake endpoints,
// and the selection lock taken by the list and selection writers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "app/app_state.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "audio/inventory/selection.h"
#include "fake_endpoints.h"

namespace
{
FakeEndpointFlow Flow(std::vector<FakeEndpoint> endpoints)
{
    FakeEndpointFlow flow;
    flow.endpoints = std::move(endpoints);
    return flow;
}

EndpointIdentity SavedById(const std::string& eid)
{
    EndpointIdentity identity;
    identity.eid = eid;
    return identity;
}

EndpointIdentity SavedByName(const std::wstring& name)
{
    EndpointIdentity identity;
    identity.eid = "{no-longer-present}";
    identity.name = name;
    return identity;
}

class SavedSelections : public ::testing::Test
{
protected:
    void TearDown() override
    {
        ReleaseDeviceLists(state);
        state.deviceEnumerator.Reset();
    }

    void Refresh(std::vector<FakeEndpoint> render)
    {
        RefreshDevices(state, MakeFake<FakeMMDeviceEnumerator>(
                                  Flow(std::move(render)), Flow({NamedFakeEndpoint(L"mic", L"Microphone")}))
                                  .Get());
    }

    AppState state{AppStateDefaultsOnly{}};
    const FakeEndpoint speakers = NamedFakeEndpoint(L"spk", L"Speakers");
    const FakeEndpoint headphones = NamedFakeEndpoint(L"hp", L"Headphones");
};

TEST_F(SavedSelections, FindsARecordingSourceAndTargetsByIdOrName)
{
    Refresh({speakers, headphones});
    state.desiredSource = SavedByName(L"Microphone (2)");
    state.desiredTargets = {SavedById("hp"), SavedByName(L"Gone"), SavedByName(L"speakers"), SavedById("spk")};
    const auto savedTargets = state.desiredTargets;

    ResolveSavedSelections(state);
    // Source list: default, [Playback] Speakers, [Playback] Headphones, [Recording] Microphone.
    EXPECT_EQ(state.selectedSourceIndex, 3);
    EXPECT_EQ(state.targetSelected, (std::vector<bool>{true, true}));
    EXPECT_EQ(state.desiredTargets, savedTargets);
    EXPECT_EQ(state.sourceDevices.size(), 4u);
}

TEST_F(SavedSelections, ATargetThatReturnsRegainsItsFlag)
{
    state.desiredTargets = {SavedById("hp")};
    Refresh({speakers});
    ResolveSavedSelections(state);
    EXPECT_EQ(state.targetSelected, (std::vector<bool>{false}));

    Refresh({headphones, speakers});
    ResolveSavedSelections(state);
    EXPECT_EQ(state.targetSelected, (std::vector<bool>{true, false}));
}

TEST_F(SavedSelections, EmptyListsGiveNoSourceAndNoFlags)
{
    state.targetSelected = {true};
    state.desiredTargets = {SavedById("hp")};
    ResolveSavedSelections(state);
    EXPECT_EQ(state.selectedSourceIndex, -1);
    EXPECT_TRUE(state.targetSelected.empty());
}

// The call must wait while another thread holds selectionMutex and must give
// it back when it returns.
void ExpectWaitsForSelectionMutex(AppState& state, const std::function<void()>& call)
{
    std::unique_lock<std::mutex> held(state.selectionMutex);
    std::atomic<bool> done{false};
    std::thread caller([&] {
        call();
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done.load());
    held.unlock();
    caller.join();
    EXPECT_TRUE(done.load());
    ASSERT_TRUE(state.selectionMutex.try_lock());
    state.selectionMutex.unlock();
}

TEST(SelectionLocking, RefreshAndResolutionWriteUnderTheSelectionMutex)
{
    AppState state{AppStateDefaultsOnly{}};
    auto enumerator = MakeFake<FakeMMDeviceEnumerator>(Flow({NamedFakeEndpoint(L"spk", L"Speakers")}), Flow({}));
    ExpectWaitsForSelectionMutex(state, [&] { RefreshDevices(state, enumerator.Get()); });
    EXPECT_EQ(state.playbackDevices.size(), 1u);

    state.desiredTargets = {SavedById("spk")};
    ExpectWaitsForSelectionMutex(state, [&] { ResolveSavedSelections(state); });
    EXPECT_EQ(state.targetSelected, (std::vector<bool>{true}));
    ReleaseDeviceLists(state);
}
}  // namespace
