#pragma once
// A defaults-only AppState whose source list and target candidates are fake
// endpoints with fake streams, for driving the real redirection engine.
// Every test starts with a fresh log and ends with redirection stopped, the
// lists released and no fake COM object left over.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "fake_audio_streams.h"
#include "fake_endpoints.h"

// A target: stereo float at 48 kHz, a 2640-frame buffer (what a 30 ms
// setting asks for), its queue held at 720 frames (at the cushion, so that
// it is never topped up and takes every packet whole).
FakeStreamBehaviour TargetBehaviour();
// A source that delivers 480-frame pattern packets for as long as it runs.
FakeStreamBehaviour SourceBehaviour();

// Polls `condition` every millisecond until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

// The packet index whose pattern starts with `firstSample`, modulo 400 (the
// pattern's period).
uint32_t PatternPacketIndex(float firstSample);

// Floats of a float render write.
std::vector<float> WrittenFloats(const FakeRenderWrite& write);

// Every message of `expected` is in `lines`, in this order (others may lie
// between).
::testing::AssertionResult InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected);

class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Appends a source entry (after the system-default entry) and selects it.
    std::shared_ptr<FakeAudioEndpoint> AddSource(const std::string& name, FakeStreamBehaviour behaviour,
                                                 std::optional<EDataFlow> flow = eRender);
    // Makes the enumerator's default playback endpoint one with these streams
    // and selects the system-default entry.
    std::shared_ptr<FakeAudioEndpoint> UseDefaultSource(const std::string& name, FakeStreamBehaviour behaviour);
    // Appends a target candidate whose endpoint id is its name.
    std::shared_ptr<FakeAudioEndpoint> AddTarget(const std::string& name, FakeStreamBehaviour behaviour,
                                                 bool selected = true);
    void SelectTarget(size_t index, bool selected);

    std::vector<std::string> Log() const;
    bool WaitForLog(const std::string& message,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) const;
    // Writes into a target's streams after they started: the packets, not
    // the priming.
    static std::vector<FakeRenderWrite> PacketWrites(const FakeAudioEndpoint& endpoint);
    // Waits until the endpoint's streams hold at least `count` packet writes.
    bool WaitForPacketWrites(const FakeAudioEndpoint& endpoint, size_t count) const;
    // Starts and waits until the streams (with this many targets) started.
    void StartAndWaitRunning(size_t startedTargets = 1);
    void StopAndExpectIdle();

    AppState state{AppStateDefaultsOnly{}};
    std::wstring logPath;
    std::vector<std::shared_ptr<FakeAudioEndpoint>> endpoints;
    int baselineObjects = 0;
};
