// Starting and stopping the redirect thread: its states, its log lines and
// the references it holds, with fake endpoints in place of the audio system.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "audio/engine/redirection_control.h"
#include "audio/engine/stream_recovery.h"
#include "engine_fixture.h"
#include "test_log.h"

namespace
{
ULONG References(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}
}  // namespace

TEST_F(EngineTest, StartRunsUntilStoppedAndIgnoresASecondStart)
{
    const auto source = AddSource("Speakers", SourceBehaviour());
    const auto target = AddTarget("Headphones", TargetBehaviour());

    StartAndWaitRunning();
    EXPECT_TRUE(state.redirectThread.joinable());
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_TRUE(state.publishedSourceClient);
        EXPECT_EQ(state.publishedRenderClients.size(), 1u);
    }
    const size_t linesWhileRunning = Log().size();
    StartRedirection(state);
    EXPECT_EQ(Log().size(), linesWhileRunning) << "a start while running must log nothing";

    StopAndExpectIdle();
    EXPECT_TRUE(state.redirectStopRequested);
    const std::vector<std::string> lines = Log();
    EXPECT_TRUE(InOrder(lines, {"StartRedirection requested.",
                                "Starting redirection: source='[Playback] Speakers', targets=1",
                                "Redirect thread started.", "Using audio format: 48000 Hz, 32-bit, 2 channels",
                                "Source device dataFlow: Render", "WASAPI: source started; 1 render targets started.",
                                "Redirect thread exiting (cleanup done)."}));
    const size_t mmcss = std::count(lines.begin(), lines.end(),
                                    "MMCSS: Successfully registered with Pro Audio class and critical priority") +
                         std::count(lines.begin(), lines.end(), "MMCSS: Failed to register thread");
    EXPECT_EQ(mmcss, 1u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "StartRedirection requested."), 1);
    for (const auto& endpoint : {source, target})
    {
        ASSERT_EQ(endpoint->Streams().size(), 1u);
        EXPECT_FALSE(endpoint->Streams()[0].running) << endpoint->Name() << " still runs";
    }
}

TEST_F(EngineTest, StartWithoutUsableSelectionChangesNothing)
{
    const auto source = AddSource("Speakers", SourceBehaviour());
    AddTarget("Headphones", TargetBehaviour(), false);
    logPath = OpenFreshTestLog(L"engine");
    auto startExpectingIdle = [&] {
        StartRedirection(state);
        EXPECT_FALSE(state.isRedirecting);
        EXPECT_FALSE(state.redirectThread.joinable());
    };

    startExpectingIdle();  // no target selected
    SelectTarget("Headphones", true);
    const int32_t chosen = state.selectedSourceIndex;
    state.selectedSourceIndex = static_cast<int32_t>(state.sourceDevices.size());  // past the source list
    startExpectingIdle();
    state.selectedSourceIndex = -1;
    startExpectingIdle();
    state.selectedSourceIndex = 0;  // system default, no enumerator
    state.deviceEnumerator.Reset();
    startExpectingIdle();
    state.deviceEnumerator = MakeFake<FakeMMDeviceEnumerator>();  // no default endpoint
    startExpectingIdle();
    state.selectedSourceIndex = chosen;
    state.playbackDevices[TargetIndex("Headphones")].device.Reset();  // selected target without a device
    startExpectingIdle();

    const std::string requested = "StartRedirection requested.";
    const std::string unresolved = "StartRedirection: Failed to resolve source device";
    EXPECT_EQ(Log(), (std::vector<std::string>{requested, requested, requested, requested, unresolved, requested,
                                                unresolved, requested}));
    EXPECT_EQ(source->ActivateCalls(), 0);
}

TEST_F(EngineTest, SystemDefaultEntryOpensTheDefaultPlaybackEndpointAtStart)
{
    const auto source = UseDefaultSource("PulseAudio", SourceBehaviour());
    AddTarget("Headphones", TargetBehaviour());

    StartAndWaitRunning();
    StopAndExpectIdle();
    EXPECT_TRUE(InOrder(Log(), {"Starting redirection: source='[System Default Playback Device]', targets=1"}));
    ASSERT_EQ(source->Streams().size(), 1u);
    EXPECT_EQ(source->Streams()[0].initializeCalls.at(0).flags, static_cast<DWORD>(AUDCLNT_STREAMFLAGS_LOOPBACK));
}

TEST_F(EngineTest, ThreadThatEndedByItselfIsJoinedByTheNextStart)
{
    FakeStreamBehaviour failing = SourceBehaviour();
    failing.activate = E_FAIL;
    const auto source = AddSource("Speakers", failing);
    AddTarget("Headphones", TargetBehaviour());

    StartRedirection(state);
    ASSERT_TRUE(WaitFor([&] { return !state.isRedirecting; }));
    EXPECT_TRUE(state.redirectThread.joinable()) << "an ended thread stays joinable until the next start or stop";

    source->Configure([](FakeStreamBehaviour& behaviour) { behaviour.activate = S_OK; });
    StartAndWaitRunning();
    EXPECT_TRUE(InOrder(Log(), {"Redirect thread started.", "StartRedirection: previous thread still joinable, joining first...",
                                "StartRedirection requested.", "Redirect thread started.",
                                "WASAPI: source started; 1 render targets started."}));
    StopAndExpectIdle();
}

TEST_F(EngineTest, StopPausesOnlyWhenThereWasAThread)
{
    AddSource("Speakers", SourceBehaviour());
    AddTarget("Headphones", TargetBehaviour());
    using Clock = std::chrono::steady_clock;

    auto began = Clock::now();
    StopRedirection(state);
    EXPECT_LT(Clock::now() - began, std::chrono::milliseconds(30));

    StartAndWaitRunning();
    began = Clock::now();
    StopAndExpectIdle();
    // The thread's own 50 ms before its final stop, then the caller's 50 ms.
    EXPECT_GE(Clock::now() - began, std::chrono::milliseconds(95));
}

TEST_F(EngineTest, ThreadThatCannotBeCreatedLeavesStateIdle)
{
    const auto source = AddSource("Speakers", SourceBehaviour());
    AddTarget("Headphones", TargetBehaviour());
    logPath = OpenFreshTestLog(L"engine");
    const ComPtr<IMMDevice> sourceDevice = SourceEntry("Speakers").device;
    const ComPtr<IMMDevice> targetDevice = state.playbackDevices[TargetIndex("Headphones")].device;
    const ULONG sourceReferences = References(sourceDevice.Get());
    const ULONG targetReferences = References(targetDevice.Get());

    LaunchRedirection(state, sourceDevice, {targetDevice}, [](RedirectThreadStart*) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });

    EXPECT_FALSE(state.isRedirecting);
    EXPECT_FALSE(state.redirectThread.joinable());
    EXPECT_EQ(References(sourceDevice.Get()), sourceReferences);
    EXPECT_EQ(References(targetDevice.Get()), targetReferences);
    EXPECT_EQ(source->ActivateCalls(), 0);
    const std::vector<std::string> lines = Log();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Starting redirection: source='[Playback] Speakers', targets=1");
    EXPECT_EQ(lines[1].rfind("StartRedirection: could not create the redirect thread (", 0), 0u) << lines[1];

    // Idle in every respect: a normal start works afterwards.
    StartAndWaitRunning();
    StopAndExpectIdle();
}

TEST_F(EngineTest, SnapshotHoldsSelectedTargetsWithIdsInListOrder)
{
    AddTarget("A", TargetBehaviour());
    AddTarget("B", TargetBehaviour(), false);
    AddTarget("C", TargetBehaviour());
    AddTarget("D", TargetBehaviour());
    Device("C").failGetId = true;
    List();
    ASSERT_TRUE(state.targetSelected[2]) << "C is found again by its GUID";
    state.targetSelected.push_back(true);  // a flag past the end of the list

    EXPECT_EQ(SnapshotTargetIds(state), (std::vector<std::string>{IdOf("A"), IdOf("D")}));
}

TEST_F(EngineTest, HundredsOfStartStopCyclesLeaveNoReferenceBehind)
{
    const auto source = AddSource("Speakers", SourceBehaviour());
    const auto first = AddTarget("Headphones", TargetBehaviour());
    const auto second = AddTarget("HDMI", TargetBehaviour());
    IMMDevice* const sourceDevice = SourceEntry("Speakers").device.Get();
    IMMDevice* const targetDevice = state.playbackDevices[TargetIndex("Headphones")].device.Get();
    const ULONG sourceReferences = References(sourceDevice);
    const ULONG targetReferences = References(targetDevice);

    for (int cycle = 0; cycle < 200; ++cycle)
    {
        // Every fourth run fails in set-up and ends by itself; the others are
        // stopped wherever they happen to be.
        const bool failSetUp = cycle % 4 == 3;
        second->Configure([failSetUp](FakeStreamBehaviour& b) { b.initialize = failSetUp ? E_FAIL : S_OK; });
        first->Configure([failSetUp](FakeStreamBehaviour& b) { b.getService = failSetUp ? E_FAIL : S_OK; });
        // As the Start button does: a failed set-up left its targets out.
        ForgetLeftOutTargets(state);
        StartRedirection(state);
        ASSERT_TRUE(state.isRedirecting || state.redirectThread.joinable());
        StopRedirection(state);
        ASSERT_FALSE(state.isRedirecting);
        ASSERT_FALSE(state.redirectThread.joinable());
    }

    EXPECT_EQ(References(sourceDevice), sourceReferences);
    EXPECT_EQ(References(targetDevice), targetReferences);
    EXPECT_EQ(source->ActivateCalls(), 200);
    for (const auto& endpoint : {source, first, second})
    {
        for (const FakeStreamRecord& stream : endpoint->Streams())
            EXPECT_FALSE(stream.running) << endpoint->Name() << " left running";
    }
}
