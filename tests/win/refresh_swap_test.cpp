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

#include "engine_fixture.h"

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
                           state.sourceDevices[static_cast<size_t>(index)].identity.eid == micId;
        mixedViews += whole ? 0 : 1;
        ++probes;
    }

    // Each property store of the device takes 10 ms to open from the next
    // listing on.
    void MakeSlow(const std::string& name)
    {
        Device(name).openPropertyStoreDelay = std::chrono::milliseconds(10);
    }

    std::string micId;  // written before the engine starts
    Clock::duration longestWait{};  // written by the redirect thread only
    std::atomic<int> mixedViews{0};
    std::atomic<int> probes{0};
};

TEST_F(RefreshSwap, TheRedirectThreadNeverWaitsForASlowEnumeration)
{
    FakeStreamBehaviour source = SourceBehaviour();
    source.onPacketHandedOut = [this] { Probe(); };
    AddTarget("Headphones", TargetBehaviour());
    AddTarget("HDMI", TargetBehaviour());
    AddSource("Mic", source, eCapture);
    micId = IdOf("Mic");
    for (const char* name : {"Headphones", "HDMI", "Mic"})
        MakeSlow(name);
    List();
    StartAndWaitRunning(2);

    int refreshes = 0;
    for (const Clock::time_point end = Clock::now() + std::chrono::milliseconds(1500); Clock::now() < end; ++refreshes)
        List();
    StopAndExpectIdle();

    EXPECT_GE(refreshes, 10);
    EXPECT_GE(probes.load(), 100) << "the engine stalled or stopped capturing";
    EXPECT_LT(std::chrono::duration_cast<std::chrono::microseconds>(longestWait).count(), 1000) << "microseconds";
    EXPECT_EQ(mixedViews.load(), 0);
}
}  // namespace
