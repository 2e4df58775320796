#pragma once
// A defaults-only AppState whose lists are built by the program's own
// enumeration over a fake system: devices plugged into a fake enumerator,
// each with fake streams, listed as Windows lists them (ids in the system's
// format, names unrelated to them, the "[Playback] " and "[Recording] "
// entries of the source list), for driving the real redirection engine.
// Every test starts with a fresh log and ends with redirection stopped, the
// lists released and no fake COM object left over.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
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

    // Plugs a device with its own streams into the fake system: listed in
    // `flow`'s collection under a new id, named `name`, its IMMEndpoint
    // reporting `reported` (none: it offers no IMMEndpoint). The program's
    // lists stay as they are until it lists the endpoints again.
    std::shared_ptr<FakeAudioEndpoint> Plug(const std::string& name, EDataFlow flow, FakeStreamBehaviour behaviour,
                                            std::optional<EDataFlow> reported);
    std::shared_ptr<FakeAudioEndpoint> Plug(const std::string& name, EDataFlow flow, FakeStreamBehaviour behaviour)
    {
        return Plug(name, flow, std::move(behaviour), flow);
    }
    void Unplug(const std::string& name);
    void PlugBack(const std::string& name);
    // The device as the fake system lists it; a change shows at the next
    // listing.
    FakeEndpoint& Device(const std::string& name);
    // The id the fake system gives the device.
    std::string IdOf(const std::string& name) const;
    // Lists the endpoints and resolves the saved choices on them, as the
    // program does on a refresh.
    void List();
    // The device's entry in the source list, and in the target candidates.
    const AudioEndpointInfo& SourceEntry(const std::string& name) const;
    size_t TargetIndex(const std::string& name) const;

    // Plugs a playback device (a recording one with eCapture; with none, a
    // playback device without IMMEndpoint), lists the endpoints and chooses
    // its entry as the source, as a person picks it in the window.
    std::shared_ptr<FakeAudioEndpoint> AddSource(const std::string& name, FakeStreamBehaviour behaviour,
                                                 std::optional<EDataFlow> flow = eRender);
    // Plugs a playback device that becomes the system default and chooses
    // the system-default entry.
    std::shared_ptr<FakeAudioEndpoint> UseDefaultSource(const std::string& name, FakeStreamBehaviour behaviour);
    // Plugs a playback device, lists the endpoints and ticks it if `selected`.
    std::shared_ptr<FakeAudioEndpoint> AddTarget(const std::string& name, FakeStreamBehaviour behaviour,
                                                 bool selected = true);
    // Ticks or unticks the device's box, as the window does (without saving).
    void SelectTarget(const std::string& name, bool selected);
    // Takes every device out of the fake system and forgets the choices.
    void UnplugAll();

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
    ComPtr<FakeMMDeviceEnumerator> enumerator = MakeFake<FakeMMDeviceEnumerator>();
    int baselineObjects = 0;

private:
    FakeEndpointFlow& Flow(EDataFlow flow);
    // The last device plugged under each name: the flow it is listed in and
    // what the system reports for it.
    std::map<std::string, std::pair<EDataFlow, FakeEndpoint>> devices;
    uint32_t pluggedDevices = 0;
};
