#pragma once

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine/delay_line.h"
#include "audio/engine/packet_splice.h"
#include "audio/engine/frame_policy.h"
#include "audio/engine/sample_format.h"
#include "audio/engine/soft_rate.h"
#include "audio/engine/stream_loss.h"
#include "audio/engine/target_link.h"
#include "audio/engine/target_pacer.h"
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

// One open target stream. Destruction releases its services, then client
// (reverse declaration order), on the redirect thread.
struct RenderTarget
{
    ComPtr<IAudioClient> client;
    ComPtr<IAudioRenderClient> renderClient;
    // Where the stream offers them; the rate applier's thread alone calls
    // the rate adjustment.
    ComPtr<IAudioClock> clock;
    ComPtr<IAudioClockAdjustment> clockAdjustment;
    uint32_t bufferFrames = 0;
    // What the render buffer holds per frame: the source's layout when the
    // stream took the source's format, else the target's own mix format.
    SampleLayout layout;
    // Which source channels make each of the layout's channels; made when
    // the target opens, so the packet path only reads it.
    ChannelMap channelMap;
    std::string name;  // for the log, the entry's display name
    std::string id;    // the entry's endpoint id
    // Set on the packet path when the system takes the stream away: the
    // target is skipped from then on (stream_recovery.h).
    StreamLossMark lost;
    TargetPacer pacer;  // move-only
    // The device's row: its delay and volume, read once per packet, and
    // the figures published for it. Null for an entry without an id, which
    // plays at no delay and the source's volume.
    std::shared_ptr<TargetLink> link;
    DelayLine delay;  // the source's frames, sized as the target opens
    PacketSplice splice;  // likewise; where the pacer leaves frames out
    SoftRate softRate;  // likewise; where the stream has no rate to set
    uint32_t packetsMissed = 0;
};

// Applies the rates the redirect thread decides, and logs them, on a thread
// of its own: SetSampleRate "must not be called from a real-time processing
// thread" (learn.microsoft.com/en-us/windows/win32/api/audioclient/
// nf-audioclient-iaudioclockadjustment-setsamplerate). It borrows the
// targets' interfaces, which are released "from the same thread as the call
// to IAudioClient::GetService that created the object" (.../nn-audioclient-
// iaudioclockadjustment, and of IAudioClock): the redirect thread stops it
// before it releases them. Redirect thread only; not copyable (its thread).
class RateApplier
{
public:
    ~RateApplier() { Stop(); }
    // Starts the thread for the targets whose rate may change, if any.
    void Start(std::vector<RenderTarget>& targets);
    // Ends it once it has said what the redirect thread judged.
    void Stop();

private:
    struct Job
    {
        RateMailbox* mailbox;
        IAudioClient* client;
        IAudioClock* clock;  // may be null
        IAudioClockAdjustment* adjustment;
        std::string name;
    };
    void Run();

    std::vector<Job> jobs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
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
    RateApplier rateApplier;  // after targets: it stops before they go
    std::vector<std::string> activeTargetIds;
    // The playback device whose output the source captures (empty for a
    // recording source): no target of this run, as it would hear itself
    // again (source_feedback.h). Said once per run.
    std::string sourcePlaybackId;
    bool feedbackNoted = false;
    // Integer PCM packets are converted here before they reach the targets;
    // sized once at set-up so that the packet path never allocates.
    std::vector<float> scratch;
    // The largest packet the packet path carries (the source's buffer): the
    // scratch and every delay line hold that many frames.
    uint32_t maxPacketFrames = 0;
    // The links of the entries last copied for opening, by endpoint id.
    std::map<std::string, std::shared_ptr<TargetLink>> entryLinks;
    int warmupPackets = 0;
    int pollCount = 0;
    // The source's loss ends the transfer loop; any loss is announced to the
    // main thread at the end of the pass that saw it (stream_recovery.h).
    StreamLossMark sourceLost;
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

// Releases the run's targets: their published clients go (under
// streamMutex), and their rows learn that this run no longer plays them. At
// a rebuild and at the run's end. Redirect thread, without streamMutex held.
void WithdrawTargets(RedirectionEngine& engine);

using TargetOpened = std::function<void(RenderTarget&, const AudioEndpointInfo&)>;

// Opens the targets a run plays (RoutedTargetEntries, copied under
// selectionMutex and opened without it: opening a stream may take long and
// the main thread must not wait for that), in order, less the source's own
// playback device (said once per run). Each that opened goes to `opened`
// with its entry; one that does not is left out (AppState::leftOutTargetIds)
// with a log line, and its link says so. Redirect thread, with
// selectionMutex not held.
void OpenTargets(RedirectionEngine& engine, const TargetOpened& opened);

// Reads a target stream's queue and, where it has one, its clock; returns
// the queue reading's result. The redirect thread and the rate applier's.
HRESULT ReadStream(IAudioClient* client, IAudioClock* clock, StreamReading& reading);

// Queues `frames` frames of silence on a target that has not started or
// whose queue has room for them. Redirect thread.
void PrimeWithSilence(RenderTarget& target, uint32_t frames);

// Starts a target's stream. One the system took away is marked lost, which
// the route recovers from; any other failure is said, and the target plays
// nothing until redirection starts again. Returns whether it started.
// Redirect thread.
bool StartTarget(RenderTarget& target);

// Publishes the target's pacer figures and its missed packets into its link
// (relaxed stores, no lock): a packet came for it at packetNs (steady_clock
// nanoseconds) and, when `taken`, its stream took frames then. As it opens,
// then at most once per packet. Redirect thread.
void PublishFigures(const RenderTarget& target, int64_t packetNs, bool taken);

// steady_clock's time in nanoseconds, as the links' figures give it. Any
// thread.
int64_t SteadyNanoseconds();

// The engine's clock in seconds (the performance counter). Redirect thread.
double EngineSeconds(const RedirectionEngine& engine);

// Starts the transfer loop on an engine whose streams have all started, and
// cleans up when it ends. Redirect thread.
void RunTransferLoop(RedirectionEngine& engine);

// Gives back everything a run obtained, in the order its end requires:
// stops the rate applier, withdraws the published source client (under
// streamMutex), frees the mix format, ends the 1 ms timer period, then
// withdraws the targets and releases the endpoint interface, the capture
// client and the source client. Redirect thread, without selectionMutex or
// streamMutex held.
void ReleaseRun(RedirectionEngine& engine);

// The numbers of a format the audio system handed out, extensible tail
// included when the tag and size say it has one. Any thread.
WaveFormatFields ReadWaveFormatFields(const WAVEFORMATEX& format);
