#include "audio/engine/stream_setup.h"

#include <avrt.h>
#include <mmreg.h>
#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <utility>

#include "app/app_state.h"
#include "audio/engine/frame_policy.h"
#include "audio/engine/stream_recovery.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "audio/inventory/source_feedback.h"
#include "log/diagnostic_log.h"

namespace
{
constexpr DWORD kTargetStreamFlags = AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// Extensible sub-formats are the audio base GUID with the plain format tag in
// its first field; comparing that way needs no GUID library.
bool IsSubFormatOfTag(const GUID& guid, uint16_t tag)
{
    static const unsigned char kBaseTail[8] = {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    return guid.Data1 == tag && guid.Data2 == 0x0000 && guid.Data3 == 0x0010 &&
           std::memcmp(guid.Data4, kBaseTail, sizeof kBaseTail) == 0;
}

// The redirect thread's place in MMCSS's "Pro Audio" task, given back when
// the run ends, on the thread that took it (AvRevertMmThreadCharacteristics
// "must be called from the same thread that called the
// AvSetMmThreadCharacteristics", learn.microsoft.com): a route restarted at
// every device change would otherwise take one more each time.
class MmcssTask
{
public:
    explicit MmcssTask(HANDLE task) : task_(task) {}
    ~MmcssTask()
    {
        if (task_)
        {
            AvRevertMmThreadCharacteristics(task_);
        }
    }
    MmcssTask(const MmcssTask&) = delete;
    MmcssTask& operator=(const MmcssTask&) = delete;

private:
    HANDLE task_;
};

// Windows 11 may stop honouring timeBeginPeriod for a process whose window
// is "fully occluded, minimized, or otherwise invisible or inaudible", and
// the route runs from the tray for hours: a Sleep between passes (settings
// above 15 ms) would then last a whole system tick, about 15.6 ms, as long
// as the cushion or longer up to the 30 ms setting. The process opts out
// of that throttling (ControlMask set, StateMask clear); a system without
// it has nothing to opt out of, so the result is ignored. See
// learn.microsoft.com/en-us/windows/win32/api/timeapi/nf-timeapi-timebeginperiod
// and .../api/processthreadsapi/nf-processthreadsapi-setprocessinformation
void KeepTimerResolution()
{
    PROCESS_POWER_THROTTLING_STATE throttling{};
    throttling.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    throttling.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    throttling.StateMask = 0;
    SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &throttling, sizeof throttling);
}

// Results of the priority, affinity and timer calls are ignored: the run is
// merely less punctual without them.
HANDLE PrepareRedirectThread()
{
    timeBeginPeriod(1);
    KeepTimerResolution();
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    if (info.dwNumberOfProcessors >= 4)
    {
        SetThreadAffinityMask(GetCurrentThread(), 0x4);
    }
    DWORD taskIndex = 0;
    const HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
    if (task)
    {
        AvSetMmThreadPriority(task, AVRT_PRIORITY_CRITICAL);
        DiagnosticLog::Instance().Log("MMCSS: Successfully registered with Pro Audio class and critical priority");
    }
    else
    {
        DiagnosticLog::Instance().Log("MMCSS: Failed to register thread");
    }
    // FALSE keeps dynamic boosting enabled.
    SetThreadPriorityBoost(GetCurrentThread(), FALSE);
    return task;
}

void ReportFormat(const WAVEFORMATEX& format)
{
    DiagnosticLog& log = DiagnosticLog::Instance();
    if (format.wFormatTag != WAVE_FORMAT_PCM && format.wFormatTag != WAVE_FORMAT_IEEE_FLOAT)
    {
        log.Log("Warning: Non-optimal audio format detected");
    }
    if (format.nSamplesPerSec != 44100 && format.nSamplesPerSec != 48000)
    {
        log.Log("Warning: Non-standard sample rate: %lu Hz", static_cast<unsigned long>(format.nSamplesPerSec));
    }
    const unsigned bits = format.wBitsPerSample;
    if (bits != 16 && bits != 24 && bits != 32)
    {
        log.Log("Warning: Unusual bit depth: %u bits", bits);
        log.Log("Warning: Using non-optimal audio format - may cause performance issues");
    }
    log.Log("Using audio format: %lu Hz, %u-bit, %u channels", static_cast<unsigned long>(format.nSamplesPerSec), bits,
            static_cast<unsigned>(format.nChannels));
}

// A device that cannot tell its data flow is treated as a playback endpoint,
// so it is captured by loopback.
void ReadSourceDataFlow(RedirectionEngine& engine)
{
    engine.dataFlow = eRender;
    EDataFlow flow = eRender;
    if (SUCCEEDED(engine.sourceDevice->QueryInterface(IID_PPV_ARGS(engine.endpoint.ReleaseAndGetAddressOf()))) &&
        SUCCEEDED(engine.endpoint->GetDataFlow(&flow)))
    {
        engine.dataFlow = flow;
    }
    DiagnosticLog::Instance().Log("Source device dataFlow: %s", engine.dataFlow == eCapture ? "Capture" : "Render");
}

// The largest packet never exceeds the stream's buffer; one second of frames
// stands in if the buffer is unknown. Integer packets are converted into the
// scratch, and every target's delay line holds that many frames.
void AllocateScratch(RedirectionEngine& engine)
{
    UINT32 frames = 0;
    if (FAILED(engine.sourceClient->GetBufferSize(&frames)) || frames == 0)
    {
        frames = engine.sourceLayout.sampleRate;
    }
    engine.maxPacketFrames = frames;
    engine.scratch.assign(ScratchFloatsFor(engine.sourceLayout, frames), 0.0f);
}

bool ReadSourceFormat(RedirectionEngine& engine)
{
    WAVEFORMATEX* format = nullptr;
    const HRESULT hr = engine.sourceClient->GetMixFormat(&format);
    engine.mixFormat.reset(format);
    if (FAILED(hr) || !engine.mixFormat)
    {
        return false;
    }
    ReportFormat(*engine.mixFormat);
    const LayoutResult layout = DeriveSampleLayout(ReadWaveFormatFields(*engine.mixFormat));
    if (layout.status != LayoutStatus::Ok)
    {
        DiagnosticLog::Instance().Log("RunRedirection: source format cannot be carried (%s); redirection not started.",
                                      LayoutStatusText(layout.status));
        return false;
    }
    engine.sourceLayout = layout.layout;
    return true;
}

// Every length of the run follows from the latency setting and the source's
// device period, which is also the length of its packets.
void PlanBuffers(RedirectionEngine& engine)
{
    REFERENCE_TIME defaultPeriod = 0;
    REFERENCE_TIME minimumPeriod = 0;
    if (SUCCEEDED(engine.sourceClient->GetDevicePeriod(&defaultPeriod, &minimumPeriod)))
    {
        engine.devicePeriod = defaultPeriod;
    }
    const float bufferMs = engine.startBufferMs;
    const uint32_t rate = engine.sourceLayout.sampleRate;
    engine.bufferDuration = SourceBufferDuration(bufferMs, engine.devicePeriod);
    engine.targetBufferDuration = TargetBufferDuration(bufferMs, engine.devicePeriod);
    engine.cushionFrames = CushionFrames(bufferMs, rate, engine.devicePeriod);
    engine.packetFrames = PeriodFrames(engine.devicePeriod, rate);
}

// The engine's clock, its pass timer and the test bias of the target rates.
void PrepareEngineClock(RedirectionEngine& engine)
{
    LARGE_INTEGER frequency{};
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0)
    {
        engine.clockFrequency = static_cast<double>(frequency.QuadPart);
    }
    if (PassWaitFor(engine.startBufferMs) == PassWait::Timer1Ms)
    {
        engine.passTimer.reset(
            CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
    }
    wchar_t text[32] = {};
    const DWORD length = GetEnvironmentVariableW(L"TONEFORK_TEST_RATE_BIAS", text, 32);
    const double bias = length > 0 && length < 32 ? std::wcstod(text, nullptr) : 0.0;
    if (std::isfinite(bias) && bias != 0.0 && std::fabs(bias) < 0.05)
    {
        engine.testRateBias = 1.0 + bias;
        DiagnosticLog::Instance().Log("Rate adjustment: test bias of %+.2f%% on every target.", bias * 100.0);
    }
}

bool OpenSource(RedirectionEngine& engine)
{
    if (FAILED(engine.sourceDevice->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                             reinterpret_cast<void**>(engine.sourceClient.ReleaseAndGetAddressOf()))) ||
        !engine.sourceClient || !ReadSourceFormat(engine))
    {
        return false;
    }
    engine.startBufferMs = engine.state.bufferMs.load();
    PlanBuffers(engine);
    ReadSourceDataFlow(engine);
    // The device is already resolved: a system-default source is the
    // default playback device itself here.
    EndpointIdentity captured;
    captured.eid = ReadEndpointId(engine.sourceDevice);
    captured.dataFlow = engine.dataFlow == eCapture ? 1 : 0;
    engine.sourcePlaybackId = SourcePlaybackId(captured, {});

    const DWORD flags = engine.dataFlow == eCapture ? 0 : AUDCLNT_STREAMFLAGS_LOOPBACK;
    if (FAILED(engine.sourceClient->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, engine.bufferDuration, 0,
                                               engine.mixFormat.get(), nullptr)) ||
        FAILED(engine.sourceClient->GetService(IID_PPV_ARGS(engine.captureClient.ReleaseAndGetAddressOf()))) ||
        !engine.captureClient)
    {
        return false;
    }
    AllocateScratch(engine);

    std::lock_guard<std::mutex> lock(engine.state.streamMutex);
    engine.state.publishedSourceClient = engine.sourceClient;
    engine.state.publishedRenderClients.clear();
    return true;
}

// A fresh client of the target: one whose Initialize failed may refuse to
// be used again.
bool ActivateClient(const AudioEndpointInfo& entry, RenderTarget& target)
{
    target.client.Reset();
    return SUCCEEDED(entry.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                            reinterpret_cast<void**>(target.client.ReleaseAndGetAddressOf()))) &&
           target.client;
}

// Rate adjustment is asked for first; a stream that refuses it is opened
// again without it rather than lost. Returns whether the stream that opened
// may have its rate adjusted, or nothing when none opened.
std::optional<bool> InitializeInFormat(const RedirectionEngine& engine, const AudioEndpointInfo& entry,
                                       RenderTarget& target, const WAVEFORMATEX* format, bool freshClient)
{
    for (const bool adjustable : {true, false})
    {
        if (freshClient && !ActivateClient(entry, target))
        {
            return std::nullopt;
        }
        const DWORD flags = kTargetStreamFlags | (adjustable ? AUDCLNT_STREAMFLAGS_RATEADJUST : 0);
        if (SUCCEEDED(target.client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, engine.targetBufferDuration, 0,
                                                format, nullptr)))
        {
            return adjustable;
        }
        freshClient = true;
    }
    return std::nullopt;
}

// The target's own mix format, when the packet path can write it and its
// clock runs at the source's rate; the reason is logged otherwise.
MixFormatPtr UsableOwnFormat(const RedirectionEngine& engine, const AudioEndpointInfo& entry, RenderTarget& target)
{
    WAVEFORMATEX* format = nullptr;
    if (!ActivateClient(entry, target) || FAILED(target.client->GetMixFormat(&format)) || !format)
    {
        CoTaskMemFree(format);
        return nullptr;
    }
    MixFormatPtr ownFormat(format);
    const LayoutResult layout = DeriveSampleLayout(ReadWaveFormatFields(*ownFormat));
    DiagnosticLog& log = DiagnosticLog::Instance();
    if (layout.status != LayoutStatus::Ok)
    {
        log.Log("OpenRenderTarget: '%s' left out: its own format is not supported (%s).", entry.displayName.c_str(),
                LayoutStatusText(layout.status));
        return nullptr;
    }
    if (!CanFeedTarget(engine.sourceLayout, layout.layout))
    {
        log.Log("OpenRenderTarget: '%s' left out: it runs at %lu Hz, the source at %lu Hz.", entry.displayName.c_str(),
                static_cast<unsigned long>(layout.layout.sampleRate),
                static_cast<unsigned long>(engine.sourceLayout.sampleRate));
        return nullptr;
    }
    target.layout = layout.layout;
    return ownFormat;
}

// A target that refuses the source's format may still play it in its own mix
// format, converted by the packet path, as long as its clock runs at the
// source's rate.
std::optional<bool> InitializeTargetStream(const RedirectionEngine& engine, const AudioEndpointInfo& entry,
                                           RenderTarget& target)
{
    if (const std::optional<bool> opened = InitializeInFormat(engine, entry, target, engine.mixFormat.get(), false))
    {
        target.layout = engine.sourceLayout;
        return opened;
    }
    const MixFormatPtr ownFormat = UsableOwnFormat(engine, entry, target);
    if (!ownFormat)
    {
        return std::nullopt;
    }
    return InitializeInFormat(engine, entry, target, ownFormat.get(), false);
}

// The stream's clock, where it offers one, tells how much of what was
// written has been heard; its frequency is fixed for the stream's life.
uint64_t ReadStreamClock(RenderTarget& target)
{
    UINT64 frequency = 0;
    if (SUCCEEDED(target.client->GetService(IID_PPV_ARGS(target.clock.ReleaseAndGetAddressOf()))) && target.clock &&
        SUCCEEDED(target.clock->GetFrequency(&frequency)) && frequency > 0)
    {
        return frequency;
    }
    target.clock.Reset();
    return 0;
}

// Where the stream offers it, the target follows the source's clock by rate
// adjustment; elsewhere by resampling its packets (SoftRate) once its clock
// shows what is heard, or by the frame count. Said once per
// target, as it decides how the target will sound over hours.
void PrepareRateAdjustment(const AudioEndpointInfo& entry, RenderTarget& target, bool adjustable)
{
    if (adjustable && SUCCEEDED(target.client->GetService(
                          IID_PPV_ARGS(target.clockAdjustment.ReleaseAndGetAddressOf()))) && target.clockAdjustment)
    {
        DiagnosticLog::Instance().Log("OpenRenderTarget: '%s' follows the source's clock by rate adjustment.",
                                      entry.displayName.c_str());
        return;
    }
    target.clockAdjustment.Reset();
    DiagnosticLog::Instance().Log("OpenRenderTarget: '%s' has no rate adjustment; resampling or the frame count keeps its queue.",
                                  entry.displayName.c_str());
}

// A stream whose rate was set (the test bias) plays its frames at that rate
// from the start: the pacer asks for it first.
TargetPacer PacerFor(const RedirectionEngine& engine, const RenderTarget& target, uint64_t clockFrequency)
{
    return TargetPacer({.sampleRate = static_cast<double>(target.layout.sampleRate),
                        .cushionFrames = engine.cushionFrames, .packetFrames = engine.packetFrames,
                        .bufferFrames = target.bufferFrames, .frameBytes = target.layout.blockAlign,
                        .clockFrequency = clockFrequency, .rateAdjustable = static_cast<bool>(target.clockAdjustment),
                        .rateBias = engine.testRateBias});
}

// The longest delay at the source's rate, the largest packet and a fade:
// neither the delay line, the splice nor the soft rate allocates on the
// packet path.
void PrepareDelay(const RedirectionEngine& engine, RenderTarget& target)
{
    const uint32_t rate = engine.sourceLayout.sampleRate;
    target.delay.Reserve(engine.sourceLayout.channels, DelayFrames(kMaxTargetDelayMs, rate), engine.maxPacketFrames,
                         rate * kDelayFadeMs / 1000u);
    target.splice.Reserve(engine.sourceLayout.channels, engine.maxPacketFrames);
    target.softRate.Reserve(engine.sourceLayout.channels, engine.maxPacketFrames);
}

// IAudioClient::GetStreamLatency (learn.microsoft.com, "IAudioClient::
// GetStreamLatency method (audioclient.h)"): the stream's maximum latency in
// 100 ns units, fixed for the client's life; 0 where it is not told.
uint32_t StreamLatencyFrames(const RenderTarget& target)
{
    REFERENCE_TIME latency = 0;
    if (FAILED(target.client->GetStreamLatency(&latency)) || latency <= 0)
    {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(latency) * target.layout.sampleRate / 10000000u);
}

// The row learns what its stream is, with its counters from 0, before it
// shows the target playing.
void PublishOpening(const RenderTarget& target)
{
    TargetLink* link = target.link.get();
    if (!link)
    {
        return;
    }
    constexpr auto relaxed = std::memory_order_relaxed;
    const SampleLayout& layout = target.layout;
    link->sampleRate.store(layout.sampleRate, relaxed);
    link->channels.store(layout.channels, relaxed);
    link->bitsPerSample.store(
        static_cast<uint16_t>(layout.channels > 0 ? layout.blockAlign * 8u / layout.channels : 0u), relaxed);
    link->floatSamples.store(layout.kind == SampleKind::Float32, relaxed);
    link->streamLatencyFrames.store(StreamLatencyFrames(target), relaxed);
    PublishFigures(target, SteadyNanoseconds(), true);
    link->runState.store(TargetRunState::Playing, std::memory_order_release);
}

std::shared_ptr<TargetLink> EntryLink(const RedirectionEngine& engine, const std::string& id)
{
    const auto found = engine.entryLinks.find(id);
    return found == engine.entryLinks.end() ? nullptr : found->second;
}

// Said once per target whose own layout differs from the source's: how its
// channels are made tells why it sounds as it does.
void PrepareChannelMap(const RedirectionEngine& engine, const AudioEndpointInfo& entry, RenderTarget& target)
{
    target.channelMap = ChannelMapFor(engine.sourceLayout, target.layout);
    if (!target.channelMap.identity)
    {
        DiagnosticLog::Instance().Log("OpenRenderTarget: '%s' plays the source's %u channels on its %u, matched by %s.",
                                      entry.displayName.c_str(), static_cast<unsigned>(engine.sourceLayout.channels),
                                      static_cast<unsigned>(target.layout.channels),
                                      target.channelMap.byPosition ? "speaker position" : "channel index");
    }
}

bool OpenTargetsAtStart(RedirectionEngine& engine)
{
    OpenTargets(engine, [&engine](RenderTarget& target, const AudioEndpointInfo& entry) {
        engine.targets.push_back(std::move(target));
        if (!entry.identity.eid.empty())
        {
            engine.activeTargetIds.push_back(entry.identity.eid);
        }
    });
    return !engine.targets.empty();
}

// False when the source will not start and the run must end; a source the
// system took away is handed on by the transfer loop's first pass.
bool PrimeAndStartStreams(RedirectionEngine& engine)
{
    for (RenderTarget& target : engine.targets)
    {
        UINT32 frames = 0;
        if (SUCCEEDED(target.client->GetBufferSize(&frames)))
        {
            PrimeWithSilence(target, StartPrimingFrames(frames));
        }
    }
    const HRESULT started = engine.sourceClient->Start();
    NoteStreamFailure(engine.sourceLost, started);
    if (FAILED(started))
    {
        if (engine.sourceLost.code == 0)
        {
            DiagnosticLog::Instance().Log("WASAPI: the source could not be started (0x%08lX); redirection ends.",
                                          static_cast<unsigned long>(started));
        }
        return engine.sourceLost.code != 0;
    }
    // The targets start a moment after the source so that its first packet
    // is on its way when they begin to play their silence.
    Sleep(10);
    size_t targetsStarted = 0;
    for (RenderTarget& target : engine.targets)
    {
        targetsStarted += StartTarget(target) ? 1 : 0;
    }
    DiagnosticLog::Instance().Log("WASAPI: source started; %zu render targets started.", targetsStarted);
    engine.warmupPackets = kWarmupPackets;
    engine.pollCount = 0;
    return true;
}

}  // namespace

bool StartTarget(RenderTarget& target)
{
    const HRESULT started = target.client->Start();
    NoteStreamFailure(target.lost, started);
    if (FAILED(started) && target.lost.code == 0)
    {
        DiagnosticLog::Instance().Log(
            "WASAPI: '%s' could not be started (0x%08lX); it plays nothing until redirection starts again.",
            target.name.c_str(), static_cast<unsigned long>(started));
    }
    return SUCCEEDED(started);
}

WaveFormatFields ReadWaveFormatFields(const WAVEFORMATEX& format)
{
    WaveFormatFields fields;
    fields.formatTag = format.wFormatTag;
    fields.channels = format.nChannels;
    fields.samplesPerSec = format.nSamplesPerSec;
    fields.blockAlign = format.nBlockAlign;
    fields.bitsPerSample = format.wBitsPerSample;
    constexpr size_t kExtensibleTail = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && format.cbSize >= kExtensibleTail)
    {
        const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
        fields.validBitsPerSample = extensible.Samples.wValidBitsPerSample;
        fields.channelMask = extensible.dwChannelMask;
        if (IsSubFormatOfTag(extensible.SubFormat, WAVE_FORMAT_PCM))
        {
            fields.subFormat = WaveFormatFields::SubFormat::Pcm;
        }
        else if (IsSubFormatOfTag(extensible.SubFormat, WAVE_FORMAT_IEEE_FLOAT))
        {
            fields.subFormat = WaveFormatFields::SubFormat::IeeeFloat;
        }
    }
    return fields;
}

// Every published render client is one of the run's targets.
void WithdrawTargets(RedirectionEngine& engine)
{
    {
        std::lock_guard<std::mutex> lock(engine.state.streamMutex);
        engine.state.publishedRenderClients.clear();
    }
    for (const RenderTarget& target : engine.targets)
    {
        if (target.link)
        {
            target.link->runState.store(TargetRunState::NotRouting, std::memory_order_release);
        }
    }
    engine.targets.clear();
}

void PublishFigures(const RenderTarget& target, int64_t packetNs, bool taken)
{
    TargetLink* link = target.link.get();
    if (!link)
    {
        return;
    }
    constexpr auto relaxed = std::memory_order_relaxed;
    link->lastPacketNs.store(packetNs, relaxed);
    if (taken)
    {
        link->lastWrittenNs.store(packetNs, relaxed);
    }
    link->queuedFrames.store(target.pacer.QueuedAtPlan(), relaxed);
    link->cushionFrames.store(target.pacer.CushionFrames(), relaxed);
    link->ratePpm.store(target.pacer.RatePpm(), relaxed);
    link->topUps.store(target.pacer.TopUps(), relaxed);
    link->dryRuns.store(target.pacer.DryRuns(), relaxed);
    link->framesTrimmed.store(target.pacer.FramesLeftOut(), relaxed);
    link->packetsMissed.store(target.packetsMissed, relaxed);
}

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace
{
// Copies that hold their own references to the devices; the links are kept
// in engine.entryLinks for OpenRenderTarget.
std::vector<AudioEndpointInfo> CopySelectedTargets(RedirectionEngine& engine)
{
    std::lock_guard<std::mutex> lock(engine.state.selectionMutex);
    std::vector<AudioEndpointInfo> entries;
    engine.entryLinks.clear();
    for (const AudioEndpointInfo* entry : RoutedTargetEntries(engine.state))
    {
        entries.push_back(*entry);
        const auto found = engine.state.targetLinks.find(entry->identity.eid);
        if (found != engine.state.targetLinks.end())
        {
            engine.entryLinks.emplace(entry->identity.eid, found->second);
        }
    }
    return entries;
}

void LeaveOutSourceDevice(RedirectionEngine& engine, std::vector<AudioEndpointInfo>& entries)
{
    const auto own = std::find_if(entries.begin(), entries.end(), [&engine](const AudioEndpointInfo& entry) {
        return FeedsBackIntoSource(engine.sourcePlaybackId, entry.identity.eid);
    });
    if (own == entries.end())
    {
        return;
    }
    if (!std::exchange(engine.feedbackNoted, true))
    {
        DiagnosticLog::Instance().Log("Starting redirection: '%s' is the source's own device; left out to avoid feedback.",
                                      own->displayName.c_str());
    }
    entries.erase(own);
}

// A target that cannot be opened (gone since the lists were made, or held by
// another program) is left out as one that failed again after a restart is:
// its row shows it, and the run's target check does not rebuild for it
// again and again. A device change or Start tries it again.
void LeaveOutUnopened(RedirectionEngine& engine, const AudioEndpointInfo& entry)
{
    const std::string& id = entry.identity.eid;
    if (const std::shared_ptr<TargetLink> link = EntryLink(engine, id))
    {
        link->runState.store(TargetRunState::Lost, std::memory_order_release);
    }
    if (id.empty())
    {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(engine.state.selectionMutex);
        engine.state.leftOutTargetIds.push_back(id);
    }
    std::erase(engine.activeTargetIds, id);
    DiagnosticLog::Instance().Log(
        "StreamFailure: '%s' could not be opened; it is left out until the next device change or Start.",
        entry.displayName.c_str());
}
}  // namespace

void OpenTargets(RedirectionEngine& engine, const TargetOpened& opened)
{
    std::vector<AudioEndpointInfo> entries = CopySelectedTargets(engine);
    LeaveOutSourceDevice(engine, entries);
    for (const AudioEndpointInfo& entry : entries)
    {
        if (std::optional<RenderTarget> target = OpenRenderTarget(engine, entry))
        {
            opened(*target, entry);
        }
        else
        {
            LeaveOutUnopened(engine, entry);
        }
    }
}

std::optional<RenderTarget> OpenRenderTarget(RedirectionEngine& engine, const AudioEndpointInfo& entry)
{
    if (!entry.device)
    {
        return std::nullopt;
    }
    RenderTarget target;
    if (!ActivateClient(entry, target))
    {
        return std::nullopt;
    }
    const std::optional<bool> adjustable = InitializeTargetStream(engine, entry, target);
    if (!adjustable || FAILED(target.client->GetService(IID_PPV_ARGS(target.renderClient.ReleaseAndGetAddressOf()))) ||
        !target.renderClient)
    {
        return std::nullopt;
    }
    UINT32 frames = 0;
    if (FAILED(target.client->GetBufferSize(&frames)) || frames == 0)
    {
        return std::nullopt;
    }
    target.bufferFrames = frames;
    target.name = entry.displayName;
    target.id = entry.identity.eid;
    PrepareChannelMap(engine, entry, target);
    PrepareRateAdjustment(entry, target, *adjustable);
    target.pacer = PacerFor(engine, target, ReadStreamClock(target));
    PrepareDelay(engine, target);
    target.link = EntryLink(engine, target.id);
    PublishOpening(target);
    std::lock_guard<std::mutex> lock(engine.state.streamMutex);
    engine.state.publishedRenderClients.push_back(target.client);
    return target;
}

void ReleaseRun(RedirectionEngine& engine)
{
    engine.rateApplier.Stop();
    {
        std::lock_guard<std::mutex> lock(engine.state.streamMutex);
        engine.state.publishedSourceClient.Reset();
    }
    engine.mixFormat.reset();
    timeEndPeriod(1);
    WithdrawTargets(engine);
    engine.endpoint.Reset();
    engine.captureClient.Reset();
    engine.sourceClient.Reset();
}

double EngineSeconds(const RedirectionEngine& engine)
{
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / engine.clockFrequency;
}

void RunRedirection(AppState& state, IMMDevice* sourceDevice)
{
    RedirectionEngine engine(state, sourceDevice);
    const MmcssTask mmcss(PrepareRedirectThread());
    if (!OpenSource(engine))
    {
        // Set-up failed: give back what it obtained, silently.
        ReleaseRun(engine);
        return;
    }
    PrepareEngineClock(engine);
    if (!OpenTargetsAtStart(engine))
    {
        ReleaseRun(engine);
        return;
    }
    if (!PrimeAndStartStreams(engine))
    {
        ReleaseRun(engine);
        return;
    }
    RunTransferLoop(engine);
}
