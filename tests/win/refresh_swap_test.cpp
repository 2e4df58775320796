// Refreshes of the lists whose enumeration is slow (each property store
// takes 10 ms to open, as a Bluetooth or HDMI endpoint's may) run in a loop
// under a running engine. The redirect thread takes selectionMutex at every
// packet it captures: it must never wait for the main thread's COM work, and
// must find the old lists with their selection or the new ones with theirs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "audio/inventory/selection.h"
#include "engine_fixture.h"
#include "log/text_convert.h"

namespace
{
using Clock = std::chrono::steady_clock;

class RefreshSwap : public EngineTest
{
protected:
    // Redirect thread: times the wait only when the mutex is taken, so that
    // an idle moment of its own is not counted.
    void Probe()
    {
        std::unique_lock<std::mutex> lock(state.selectionMutex, std::try_to_lock);
        if (!lock.owns_lock())
        {
            const Clock::time_point from = Clock::now();
            lock.lock();
            longestWait = std::max<Clock::duration>(longestWait, Clock::now() - from);
        }
        const int32_t index = state.selectedSourceIndex;
        const bool whole = state.targetSelected == std::vector<bool>{true, true} && state.playbackDevices.size() == 2 &&
                           index >= 0 && static_cast<size_t>(index) < state.sourceDevices.size() &&
                           state.sourceDevices[static_cast<size_t>(index)].identity.eid == "Mic";
        mixedViews += whole ? 0 : 1;
        ++probes;
    }

    FakeEndpoint Slow(const std::string& name, FakeStreamBehaviour behaviour, EDataFlow flow)
    {
        endpoints.push_back(std::make_shared<FakeAudioEndpoint>(name, std::move(behaviour)));
        FakeEndpoint endpoint = StreamingFakeEndpoint(Utf8ToWide(name), endpoints.back(), flow);
        endpoint.openPropertyStoreDelay = std::chrono::milliseconds(10);
        return endpoint;
    }

    Clock::duration longestWait{};  // written by the redirect thread only
    std::atomic<int> mixedViews{0};
    std::atomic<int> probes{0};
};

TEST_F(RefreshSwap, TheRedirectThreadNeverWaitsForASlowEnumeration)
{
    FakeStreamBehaviour source = SourceBehaviour();
    source.onPacketHandedOut = [this] { Probe(); };
    const auto enumerator = MakeFake<FakeMMDeviceEnumerator>();
    enumerator->render.endpoints = {Slow("Headphones", TargetBehaviour(), eRender),
                                    Slow("HDMI", TargetBehaviour(), eRender)};
    enumerator->capture.endpoints = {Slow("Mic", source, eCapture)};
    state.desiredSource.eid = "Mic";
    for (const char* target : {"Headphones", "HDMI"})
        state.desiredTargets.emplace_back().eid = target;
    RefreshDevicesAndSelections(state, enumerator.Get());
    StartAndWaitRunning(2);

    int refreshes = 0;
    for (const Clock::time_point end = Clock::now() + std::chrono::milliseconds(1500); Clock::now() < end; ++refreshes)
        RefreshDevicesAndSelections(state, enumerator.Get());
    StopAndExpectIdle();

    EXPECT_GE(refreshes, 10);
    EXPECT_GE(probes.load(), 100) << "the engine stalled or stopped capturing";
    EXPECT_LT(std::chrono::duration_cast<std::chrono::microseconds>(longestWait).count(), 1000) << "microseconds";
    EXPECT_EQ(mixedViews.load(), 0);
}
}  // namespace
