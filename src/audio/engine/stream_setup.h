#pragma once

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstdint>
#include <memory>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/engine/frame_policy.h"
#include "audio/engine/rate_controller.h"
#include "audio/engine/replay_history.h"
#include "audio/engine/sample_format.h"
#include "audio/engine/stream_loss.h"
#include "common/com_ptr.h"
#include "common/unique_handle.h"

struct AppState;
struct AudioEndpointInfo;

// The redirect thread's per-run state and its set-up. Everything here lives
// on the redirect thread; what the main thread needs (the clients it may stop)
// is published through AppState under streamMutex.

struct CoTaskMemFormatDeleter
{
    void operator()(WAVEFORMATEX* format) const { CoTaskMemFree(format); }
};
using MixFormatPtr = std::unique_ptr<WAVEFORMATEX, CoTaskMemFormatDeleter>;

// One open target stream. Move-only; destruction releases renderClient, then
// client (reverse declaration order).
struct RenderTarget
{
    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> renderClient;
    uint32_t bufferFrames = 0;
    // What the render buffer holds per frame: the source's layout when the
    // stream took the source's format, else the target's own mix format.
    SampleLayout layout;
    // Which source channels make each of the layout's channels; made when
    // the target opens, so the packet path only reads it.
    ChannelMap channelMap;

    // Present where the stream lets its rate be nudged: the controller then
    // holds its queue at the set point, and each rate it decides is handed
    // to the stream.
    ComPtr<IAudioClockAdjustment> clockAdjustment;
    RateController controller{0.0, 0.0};
    // What was written to such a target, to queue it again should a rate
    // change throw the queue away.
    ReplayHistory history;
    std::string name;  // for the log, the entry's display name
    std::string id;    // the entry's endpoint id
    // Set on the packet path when the system takes the stream away: the
    // target is skipped from then on (stream_recovery.h).
    StreamLossMark lost;

    // Delivery: whether the target has had a packet since it was opened,
    // and what it was left with then, to tell when it ran dry; by its clock
    // where it has one (positions times clockToFrames are frames), and all
    // the frames ever written to it.
    bool delivering = false;
    uint32_t queuedAfterWrite = 0;
    double lastWrite = 0.0;
    ComPtr<IAudioClock> clock;
    double clockToFrames = 0.0;  // at the stream's present rate
    uint64_t lastPosition = 0;   // the clock's last reading
    double framesPlayed = 0.0;   // counted on across changes of rate
    uint64_t framesWritten = 0;
    // Whether it ran dry, and whether that is yet to be judged: said in the
    // log when the target closes, with what the frame count left out.
    DryJudge dryJudge;
    DryWatch dry;
    uint64_t framesLeftOut = 0;

    RenderTarget() = default;
    RenderTarget(RenderTarget&&) = default;
    RenderTarget& operator=(RenderTarget&&) = default;
    RenderTarget(const RenderTarget&) = delete;
    RenderTarget& operator=(const RenderTarget&) = delete;
};

struct RedirectionEngine
{
    RedirectionEngine(AppState& appState, IMMDevice* source) : state(appState), sourceDevice(source) {}
    RedirectionEngine(const RedirectionEngine&) = delete;
    RedirectionEngine& operator=(const RedirectionEngine&) = delete;

    AppState& state;
    IMMDevice* sourceDevice;  // borrowed from the thread start record
    ComPtr<IAudioClient> sourceClient;
    ComPtr<IAudioCaptureClient> captureClient;
    ComPtr<IMMEndpoint> endpoint;
    MixFormatPtr mixFormat;
    // The source's packets as the packet path reads them.
    SampleLayout sourceLayout;
    EDataFlow dataFlow = eRender;
    int64_t bufferDuration = 0;  // 100 ns units, the source stream
    int64_t targetBufferDuration = 0;  // 100 ns units, every target stream
    int64_t devicePeriod = 0;  // the source's, 100 ns units: one capture packet
    uint32_t cushionFrames = 0;  // at the source's rate
    uint32_t packetFrames = 0;   // one device period at the source's rate
    float startBufferMs = 0.0f;  // paces the transfer loop
    // The 1 ms wait between passes at the lowest latencies; null where the
    // system has no high-resolution timer (Sleep stands in).
    UniqueHandle passTimer;
    // Ticks of the performance counter per second, for the engine's clock.
    double clockFrequency = 1.0;
    // A deliberate error of every target's rate, for measuring how well the
    // controller holds a drifting target (1: none). Taken from the
    // environment variable TONEFORK_TEST_RATE_BIAS (a fraction, e.g. 0.005).
    double testRateBias = 1.0;
    std::vector<RenderTarget> targets;
    std::vector<std::string> activeTargetIds;
    // Integer PCM packets are converted here before they reach the targets;
    // sized once at set-up so that the packet path never allocates.
    std::vector<float> scratch;
    int warmupPackets = 0;
    int pollCount = 0;
    // The source's loss ends the transfer loop; any loss is announced to the
    // main thread at the end of the pass that saw it (stream_recovery.h).
    StreamLossMark sourceLost;
    bool lossSeen = false;
    bool lossPosted = false;
};

// The body of the redirect thread: set-up, transfer loop, cleanup. Returns
// when set-up failed, the run was stopped, or its targets became empty.
// Redirect thread only, with COM initialised on it.
void RunRedirection(AppState& state, IMMDevice* sourceDevice);

// Opens one playbackDevices entry as a render stream of this run and
// publishes its client. Returns nothing (and publishes nothing) when any step
// fails or the target cannot play the source's frames. Redirect thread.
std::optional<RenderTarget> OpenRenderTarget(RedirectionEngine& engine, const AudioEndpointInfo& entry);

// Copies of the selected playbackDevices entries that are not left out, in
// order, each holding its own reference to its device: taken under
// selectionMutex (held by the caller) and opened without it, as opening a
// stream may take long and the main thread must not wait for that. Any
// thread.
std::vector<AudioEndpointInfo> SelectedTargetEntries(const AppState& state);

using TargetOpened = std::function<void(RenderTarget&, const AudioEndpointInfo&)>;

// Opens `entries`, in order, with OpenRenderTarget and hands each target
// that opened to `opened` together with its entry. Redirect thread, with
// selectionMutex not held.
void OpenTargets(RedirectionEngine& engine, const std::vector<AudioEndpointInfo>& entries,
                 const TargetOpened& opened);

// How the clock's positions turn into frames, for a stream that plays at
// streamHz (its rate as last set). False, leaving it as it was, when the
// clock cannot say its frequency. Redirect thread.
bool ReadClockFrequency(RenderTarget& target, double streamHz);

// Queues `frames` frames of silence on a target that has not started or
// whose queue has room for them. Redirect thread.
void PrimeWithSilence(RenderTarget& target, uint32_t frames);

// The engine's clock in seconds (the performance counter). Redirect thread.
double EngineSeconds(const RedirectionEngine& engine);

// Starts the transfer loop on an engine whose streams have all started, and
// cleans up when it ends. Redirect thread.
void RunTransferLoop(RedirectionEngine& engine);

// Gives back everything a run obtained, in the order its end requires:
// withdraws the published clients (under streamMutex), frees the mix format,
// ends the 1 ms timer period, then releases the targets, the endpoint
// interface, the capture client and the source client. Redirect thread,
// without selectionMutex or streamMutex held.
void ReleaseRun(RedirectionEngine& engine);

// The numbers of a format the audio system handed out, extensible tail
// included when the tag and size say it has one. Any thread.
WaveFormatFields ReadWaveFormatFields(const WAVEFORMATEX& format);
