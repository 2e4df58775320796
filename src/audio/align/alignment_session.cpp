// The alignment's Windows side. A worker thread records the microphone for
// the whole measurement and plays the probe on one target at a time, each on
// a shared-mode stream of its own. Both sides are put on the performance
// counter's time line, as the audio engine documents them:
// - a capture packet's u64QPCPosition is "the value of the performance
//   counter at the time that the audio endpoint device recorded the device
//   position of the first audio frame in the data packet", in 100 ns units
//   (IAudioCaptureClient::GetBuffer,
//   learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudiocaptureclient-getbuffer);
// - IAudioClock::GetPosition gives the stream position the device plays
//   together with the counter's value when it read it, in the same units
//   (learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudioclock-getposition).
// A probe's arrival is then the time its first frame was recorded less the
// time it was played: what the device and the air add, plus the
// microphone's own latency, which is the same for every target and cancels
// out of the delays. Raw mode (IAudioClient2::SetClientProperties with
// AUDCLNT_STREAMOPTIONS_RAW) is asked for where the endpoint says it has it
// (System.Devices.AudioDevice.RawProcessingSupported,
// learn.microsoft.com/en-us/windows/win32/properties/props-system-devices-audiodevice-rawprocessingsupported),
// so that no echo canceller or noise suppressor shifts or eats the probe.
#include "audio/align/alignment_session.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <propsys.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <system_error>

#include "app/app_state.h"
#include "audio/align/alignment_plan.h"
#include "audio/align/frame_timeline.h"
#include "audio/align/probe_signal.h"
#include "audio/engine/redirection_control.h"
#include "audio/engine/sample_format.h"
#include "audio/engine/stream_setup.h"
#include "audio/engine/target_link.h"
#include "audio/inventory/selection.h"
#include "audio/inventory/source_feedback.h"
#include "common/com_memory.h"
#include "common/com_ptr.h"
#include "log/diagnostic_log.h"
#include "log/text_convert.h"
#include "settings/settings_store.h"

namespace
{
constexpr int kTries = 3;
constexpr double kLeadSeconds = 0.05;      // silence before the probe
constexpr double kQuietSeconds = 0.3;      // between two targets
constexpr double kLongestArrival = 0.7;    // searched after the probe was played
constexpr REFERENCE_TIME kMicBuffer = 10000000;  // 1 s
constexpr REFERENCE_TIME kProbeBuffer = 2000000;  // 200 ms

// {8943B373-388C-4395-B557-BC6DBAFFAFDB}, 2: not in every SDK's headers.
const PROPERTYKEY kRawProcessingSupported = {
    {0x8943b373, 0x388c, 0x4395, {0xb5, 0x57, 0xbc, 0x6d, 0xba, 0xff, 0xaf, 0xdb}}, 2};

ProbeParams ProbeAt(float dbfs)
{
    ProbeParams params;
    params.peakDbfs = dbfs;
    return params;
}

double CounterSeconds()
{
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Endpoint
{
    std::string name;
    std::string eid;
    ComPtr<IMMDevice> device;
};

std::optional<SampleLayout> LayoutOf(IAudioClient* client, MixFormatPtr& format)
{
    WAVEFORMATEX* mix = nullptr;
    if (FAILED(client->GetMixFormat(&mix)) || !mix)
    {
        return std::nullopt;
    }
    format.reset(mix);
    const LayoutResult layout = DeriveSampleLayout(ReadWaveFormatFields(*mix));
    return layout.status == LayoutStatus::Ok ? std::optional<SampleLayout>(layout.layout) : std::nullopt;
}

bool RawProcessingSupported(IMMDevice* device)
{
    ComPtr<IPropertyStore> store;
    PropVariantValue value;
    return SUCCEEDED(device->OpenPropertyStore(STGM_READ, store.GetAddressOf())) &&
           SUCCEEDED(store->GetValue(kRawProcessingSupported, value.Put())) && value.Get().vt == VT_BOOL &&
           value.Get().boolVal == VARIANT_TRUE;
}

bool AskForRawMode(IAudioClient* client)
{
    ComPtr<IAudioClient2> client2;
    if (FAILED(client->QueryInterface(__uuidof(IAudioClient2), reinterpret_cast<void**>(client2.GetAddressOf()))))
    {
        return false;
    }
    AudioClientProperties properties{};
    properties.cbSize = sizeof properties;
    properties.eCategory = AudioCategory_Other;
    properties.Options = AUDCLNT_STREAMOPTIONS_RAW;
    return SUCCEEDED(client2->SetClientProperties(&properties));
}

// The microphone, recorded (its channels' mean) for the whole measurement,
// with the counter's time of every packet.
class Microphone
{
public:
    bool Open(IMMDevice* device)
    {
        if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                    reinterpret_cast<void**>(client_.GetAddressOf()))))
        {
            return false;
        }
        raw = RawProcessingSupported(device) && AskForRawMode(client_.Get());
        const std::optional<SampleLayout> layout = LayoutOf(client_.Get(), format_);
        if (!layout || FAILED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kMicBuffer, 0, format_.get(), nullptr)) ||
            FAILED(client_->GetService(IID_PPV_ARGS(capture_.GetAddressOf()))))
        {
            return false;
        }
        layout_ = *layout;
        timeline_ = FrameTimeline(layout_.sampleRate);
        scratch_.resize(size_t{layout_.channels} << 16);
        return SUCCEEDED(client_->Start());
    }

    // Takes every packet waiting. Returns false once the stream failed.
    bool Pump()
    {
        UINT32 frames = 0;
        while (SUCCEEDED(capture_->GetNextPacketSize(&frames)) && frames > 0)
        {
            BYTE* data = nullptr;
            DWORD flags = 0;
            UINT64 qpc = 0;
            const HRESULT read = capture_->GetBuffer(&data, &frames, &flags, nullptr, &qpc);
            if (FAILED(read))
            {
                return false;
            }
            // AUDCLNT_S_BUFFER_EMPTY acquires nothing: no frames to keep, no
            // time to mark, nothing to release (IAudioCaptureClient::GetBuffer
            // on learn.microsoft.com).
            if (read == AUDCLNT_S_BUFFER_EMPTY)
            {
                break;
            }
            Keep(data, frames, flags, qpc);
            capture_->ReleaseBuffer(frames);
        }
        return true;
    }

    uint32_t Rate() const { return layout_.sampleRate; }
    const FrameTimeline& Timeline() const { return timeline_; }

    std::vector<float> samples;
    bool raw = false;

private:
    // A stamp flagged AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR ("the time at which
    // the device's stream position was recorded is uncertain",
    // _AUDCLNT_BUFFERFLAGS on learn.microsoft.com), or a second or more from
    // now, is not trusted.
    void Keep(const BYTE* data, UINT32 frames, DWORD flags, UINT64 qpc)
    {
        const double now = CounterSeconds();
        const double stamp = static_cast<double>(qpc) / 1e7;
        const bool trusted =
            qpc != 0 && (flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) == 0 && std::abs(stamp - now) < 1.0;
        times_.Add(timeline_, static_cast<double>(samples.size()), trusted ? std::optional<double>(stamp) : std::nullopt,
                   now - static_cast<double>(frames) / Rate(), (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0);
        const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || !data;
        const uint32_t converted =
            silent ? 0 : ConvertPacketToFloat(data, layout_, frames, scratch_.data(), scratch_.size());
        // Every channel counts: a probe may reach one side of a stereo
        // microphone only.
        for (uint32_t i = 0; i < frames; ++i)
        {
            float sum = 0.0f;
            for (uint16_t c = 0; i < converted && c < layout_.channels; ++c)
            {
                sum += scratch_[size_t{i} * layout_.channels + c];
            }
            samples.push_back(sum / layout_.channels);
        }
    }

    ComPtr<IAudioClient> client_;
    ComPtr<IAudioCaptureClient> capture_;
    MixFormatPtr format_;
    SampleLayout layout_;
    std::vector<float> scratch_;
    FrameTimeline timeline_;
    PacketTimes times_;
};

// One target's stream, open and running for the whole measurement: silence,
// with the probe written into it at a known frame when its turn comes. A
// stream that runs throughout has its clock read hundreds of times, so that
// when a frame plays is known far better than from one start.
class ProbeStream
{
public:
    bool Open(IMMDevice* device, float probeDbfs)
    {
        if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                    reinterpret_cast<void**>(client_.GetAddressOf()))))
        {
            return false;
        }
        const std::optional<SampleLayout> layout = LayoutOf(client_.Get(), format_);
        UINT32 buffer = 0;
        if (!layout ||
            FAILED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kProbeBuffer, 0, format_.get(), nullptr)) ||
            FAILED(client_->GetService(IID_PPV_ARGS(render_.GetAddressOf()))) ||
            FAILED(client_->GetBufferSize(&buffer)))
        {
            return false;
        }
        layout_ = *layout;
        timeline_ = FrameTimeline(layout_.sampleRate);
        buffer_ = buffer;
        client_->GetService(IID_PPV_ARGS(clock_.GetAddressOf()));
        SampleLayout mono;
        mono.channels = 1;
        mono.blockAlign = 4;
        mono.sampleRate = layout_.sampleRate;
        map_ = ChannelMapFor(mono, layout_);
        probe_ = MakeProbe(ProbeAt(probeDbfs), layout_.sampleRate);
        silence_.assign(buffer_, 0.0f);
        Feed();
        started_ = CounterSeconds();
        return !probe_.empty() && SUCCEEDED(client_->Start());
    }
    void Stop() { client_->Stop(); }

    // Keeps the queue full: the probe where one is due, silence elsewhere.
    void Feed()
    {
        UINT32 queued = 0;
        if (FAILED(client_->GetCurrentPadding(&queued)))
        {
            return;
        }
        // While its queue is dry a stream's position stands still as the
        // counter goes on, and what is written next plays that much later.
        if (queued > 0)
        {
            NoteClock();
        }
        else if (written_ > 0)
        {
            timeline_.Break(static_cast<double>(written_));
        }
        uint32_t room = buffer_ - queued;
        while (room > 0)
        {
            const bool inProbe = probeAt_ >= 0 && written_ < probeAt_ + static_cast<int64_t>(probe_.size());
            const float* from = silence_.data();
            uint32_t frames = room;
            if (inProbe && written_ >= probeAt_)
            {
                from = probe_.data() + (written_ - probeAt_);
                frames = std::min<uint32_t>(room, static_cast<uint32_t>(probeAt_ + probe_.size() - written_));
            }
            else if (inProbe)
            {
                frames = std::min<uint32_t>(room, static_cast<uint32_t>(probeAt_ - written_));
            }
            if (!Write(from, frames))
            {
                return;
            }
            room -= frames;
        }
    }

    // Puts the probe into the stream a little after what is queued now;
    // returns the frame it starts at.
    int64_t QueueProbe()
    {
        probeAt_ = written_ + static_cast<int64_t>(kLeadSeconds * layout_.sampleRate);
        return probeAt_;
    }

    // When `frame` of the stream was (or will be) played, on the counter's
    // time line: by the clock's readings where it has any, else from the
    // start.
    double PlayedAt(int64_t frame) const
    {
        const auto at = static_cast<double>(frame);
        return timeline_.TimeOf(at).value_or(started_ + at / layout_.sampleRate);
    }
    double ProbeSeconds() const { return static_cast<double>(probe_.size()) / layout_.sampleRate; }

private:
    bool Write(const float* from, uint32_t frames)
    {
        BYTE* dest = nullptr;
        if (FAILED(render_->GetBuffer(frames, &dest)))
        {
            return false;
        }
        WriteToTarget(from, map_, frames, 1.0f, layout_, dest);
        render_->ReleaseBuffer(frames, 0);
        written_ += frames;
        return true;
    }

    void NoteClock()
    {
        UINT64 frequency = 0;
        UINT64 position = 0;
        UINT64 qpc = 0;
        if (clock_ && SUCCEEDED(clock_->GetFrequency(&frequency)) && frequency > 0 &&
            SUCCEEDED(clock_->GetPosition(&position, &qpc)) && position > 0 && qpc > 0)
        {
            const double seconds = static_cast<double>(position) / static_cast<double>(frequency);
            timeline_.Note(seconds * layout_.sampleRate, static_cast<double>(qpc) / 1e7);
        }
    }

    ComPtr<IAudioClient> client_;
    ComPtr<IAudioRenderClient> render_;
    ComPtr<IAudioClock> clock_;
    MixFormatPtr format_;
    SampleLayout layout_;
    ChannelMap map_;
    uint32_t buffer_ = 0;
    std::vector<float> probe_;
    std::vector<float> silence_;
    int64_t written_ = 0;
    int64_t probeAt_ = -1;
    double started_ = 0.0;
    FrameTimeline timeline_;
};
}  // namespace

struct AlignmentSession::Shared
{
    // Set by the main thread before the worker starts.
    Endpoint microphone;
    std::vector<Endpoint> targets;
    float probeDbfs = kDefaultProbeDbfs;

    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    // Written by the worker under `mutex`, read by the main thread.
    std::mutex mutex;
    std::string progress;
    // Written by the worker before `done`.
    AlignmentPlan plan;
    bool rawMode = false;

    void Say(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex);
        progress = text;
    }
};

namespace
{
using Shared = AlignmentSession::Shared;

// Records and keeps every stream fed until `seconds` on the counter.
void WaitUntil(Microphone& mic, std::vector<ProbeStream>& streams, double seconds, const std::atomic<bool>& cancel)
{
    while (CounterSeconds() < seconds && !cancel && mic.Pump())
    {
        for (ProbeStream& stream : streams)
        {
            stream.Feed();
        }
        Sleep(2);
    }
}

// One try on one target; nothing when the probe was not heard.
std::optional<ProbeArrival> Try(Microphone& mic, std::vector<ProbeStream>& streams, size_t target, float probeDbfs,
                                const std::atomic<bool>& cancel)
{
    ProbeStream& stream = streams[target];
    const int64_t frame = stream.QueueProbe();
    WaitUntil(mic, streams, stream.PlayedAt(frame) + stream.ProbeSeconds() + kLongestArrival + 0.1, cancel);
    if (cancel)
    {
        return std::nullopt;
    }
    // Read after the wait, with every reading of the clock so far.
    const std::vector<float> probe = MakeProbe(ProbeAt(probeDbfs), mic.Rate());
    return ArrivalOfProbe(stream.PlayedAt(frame), mic.Timeline(), mic.samples, probe, mic.Rate(),
                          stream.ProbeSeconds() + kLongestArrival);
}

void LogTry(int round, const std::string& name, const std::optional<ProbeArrival>& arrival)
{
    if (arrival)
    {
        DiagnosticLog::Instance().Log("Align: try %d on '%s': heard %.1f ms after it was played (quality %.1f).", round,
                                      name.c_str(), arrival->ms, arrival->quality);
    }
    else
    {
        DiagnosticLog::Instance().Log("Align: try %d on '%s': the probe was not heard.", round, name.c_str());
    }
}

// Every target's stream, running; "" or why one could not be opened.
std::string OpenStreams(const Shared& shared, std::vector<ProbeStream>& streams)
{
    streams.resize(shared.targets.size());
    for (size_t i = 0; i < streams.size() && !shared.cancel; ++i)
    {
        if (!streams[i].Open(shared.targets[i].device.Get(), shared.probeDbfs))
        {
            return "'" + shared.targets[i].name + "' could not be opened to play the probe; nothing was changed.";
        }
    }
    return {};
}

void Measure(Shared& shared)
{
    Microphone mic;
    if (!mic.Open(shared.microphone.device.Get()))
    {
        shared.plan.reason = "The microphone could not be opened; nothing was changed.";
        return;
    }
    shared.rawMode = mic.raw;
    std::vector<ProbeStream> streams;
    shared.plan.reason = OpenStreams(shared, streams);
    if (!shared.plan.reason.empty() || shared.cancel)  // cancelled: some streams were never opened
    {
        return;
    }
    std::vector<TargetTries> tries(shared.targets.size());
    WaitUntil(mic, streams, CounterSeconds() + kQuietSeconds, shared.cancel);
    for (int round = 1; round <= kTries && !shared.cancel; ++round)
    {
        for (size_t i = 0; i < shared.targets.size() && !shared.cancel; ++i)
        {
            const Endpoint& target = shared.targets[i];
            tries[i].name = target.name;
            shared.Say("Try " + std::to_string(round) + " of " + std::to_string(kTries) + ": playing on '" +
                       target.name + "'...");
            const auto arrival = Try(mic, streams, i, shared.probeDbfs, shared.cancel);
            tries[i].heard = tries[i].heard && arrival.has_value();
            LogTry(round, target.name, arrival);
            if (arrival)
            {
                tries[i].arrivalsMs.push_back(arrival->ms);
                tries[i].qualities.push_back(arrival->quality);
            }
            WaitUntil(mic, streams, CounterSeconds() + kQuietSeconds, shared.cancel);
        }
    }
    for (ProbeStream& stream : streams)
    {
        stream.Stop();
    }
    shared.plan = PlanAlignment(tries, kMaxTargetDelayMs);
}

void Work(std::shared_ptr<Shared> shared)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try
    {
        Measure(*shared);
    }
    catch (const std::exception& error)
    {
        shared->plan = AlignmentPlan{};
        shared->plan.reason = std::string("The measuring failed (") + error.what() + "); nothing was changed.";
    }
    // Every interface is released with the endpoints, before COM goes.
    shared->microphone.device.Reset();
    shared->targets.clear();
    CoUninitialize();
    shared->done = true;
}

// The ticked targets as the route would play them, without the source's
// own device. Main thread.
std::vector<Endpoint> TickedTargets(const AppState& state)
{
    std::vector<Endpoint> targets;
    const std::string sourcePlayback = SourcePlaybackId(state.desiredSource, state.defaultPlaybackId);
    for (size_t i = 0; i < state.playbackDevices.size() && i < state.targetSelected.size(); ++i)
    {
        const AudioEndpointInfo& entry = state.playbackDevices[i];
        if (state.targetSelected[i] && entry.device && !FeedsBackIntoSource(sourcePlayback, entry.identity.eid))
        {
            targets.push_back({entry.displayName, entry.identity.eid, entry.device});
        }
    }
    return targets;
}

const AudioEndpointInfo* ListedMicrophone(const AppState& state, const EndpointIdentity& microphone)
{
    for (const AudioEndpointInfo& entry : state.sourceDevices)
    {
        if (entry.identity.dataFlow == 1 && !microphone.eid.empty() && entry.identity.eid == microphone.eid &&
            entry.device)
        {
            return &entry;
        }
    }
    return nullptr;
}

// Why the measuring cannot start, or "".
std::string RefusalBeforeStart(const AppState& state, const AudioEndpointInfo* mic, const std::vector<Endpoint>& targets)
{
    if (targets.size() < 2)
    {
        return "Tick at least two targets to align them.";
    }
    if (!mic)
    {
        return "The microphone is not connected; choose another.";
    }
    for (const AudioEndpointInfo& entry : state.playbackDevices)
    {
        const bool ticked = std::any_of(targets.begin(), targets.end(),
                                        [&entry](const Endpoint& t) { return t.eid == entry.identity.eid; });
        if (ticked && MicrophoneIsTargetsOwn(mic->identity.name, entry.identity.name))
        {
            return "The microphone hears '" + entry.displayName +
                   "' straight from its output, not through the room; choose another.";
        }
    }
    return {};
}

void Refuse(AlignmentReport& report, const std::string& reason)
{
    report.state = AlignmentState::Refused;
    report.reason = reason;
    DiagnosticLog::Instance().Log("Align: %s", reason.c_str());
}

// A target measured that is no longer listed: it has no delay to be given,
// and the others' would be reckoned against it, so the measuring ends at
// once. Main thread.
const std::string* TargetGone(const AppState& state, const std::vector<std::pair<std::string, std::string>>& measured)
{
    const auto gone = std::find_if(measured.begin(), measured.end(),
                                   [&state](const auto& target) { return !IsListedTarget(state, target.second); });
    return gone == measured.end() ? nullptr : &gone->first;
}
}  // namespace

size_t AlignableTargetCount(const AppState& state)
{
    return TickedTargets(state).size();
}

AlignmentSession::~AlignmentSession()
{
    if (shared_)
    {
        shared_->cancel = true;
    }
    if (worker_.joinable())
    {
        worker_.join();
    }
}

bool AlignmentSession::Start(AppState& state, const EndpointIdentity& microphone, float probeDbfs)
{
    if (Busy())
    {
        return false;
    }
    report_ = AlignmentReport{};
    const AudioEndpointInfo* mic = ListedMicrophone(state, microphone);
    std::vector<Endpoint> targets = TickedTargets(state);
    const std::string refusal = RefusalBeforeStart(state, mic, targets);
    if (!refusal.empty())
    {
        Refuse(report_, refusal);
        return false;
    }
    shared_ = std::make_shared<Shared>();
    shared_->microphone = {mic->displayName, mic->identity.eid, mic->device};
    for (const Endpoint& target : targets)
    {
        measured_.emplace_back(target.name, target.eid);
    }
    shared_->targets = std::move(targets);
    shared_->probeDbfs = std::clamp(probeDbfs, kLowestProbeDbfs, 0.0f);
    resumeRoute_ = state.isRedirecting;
    DiagnosticLog::Instance().Log("Align: measuring %zu targets with '%s' at %.0f dBFS%s.", shared_->targets.size(),
                                  mic->displayName.c_str(), shared_->probeDbfs,
                                  resumeRoute_ ? "; the route pauses meanwhile" : "");
    if (resumeRoute_)
    {
        StopRedirection(state);
    }
    report_.state = AlignmentState::Measuring;
    report_.progress = "Listening to the room...";
    try
    {
        worker_ = std::thread(Work, shared_);
    }
    catch (const std::system_error& error)
    {
        Refuse(report_, std::string("No thread to measure with (") + error.what() + "); nothing was changed.");
        Finish(state);
        return false;
    }
    return true;
}

void AlignmentSession::Cancel(AppState& state, bool resumeRoute)
{
    if (!Busy())
    {
        return;
    }
    resumeRoute_ = resumeRoute_ && resumeRoute;
    shared_->cancel = true;
    worker_.join();
    report_.state = AlignmentState::Cancelled;
    DiagnosticLog::Instance().Log("Align: cancelled; nothing was changed.");
    Finish(state);
}

const AlignmentReport& AlignmentSession::Poll(AppState& state)
{
    if (!Busy())
    {
        return report_;
    }
    if (const std::string* gone = TargetGone(state, measured_))
    {
        shared_->cancel = true;
        worker_.join();
        Refuse(report_, std::string("'").append(*gone).append("' went away while it was measured; nothing was changed."));
        Finish(state);
        return report_;
    }
    if (!shared_->done)
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        report_.progress = shared_->progress;
        return report_;
    }
    worker_.join();
    report_.rawMode = shared_->rawMode;
    const AlignmentPlan& plan = shared_->plan;
    if (!plan.ok)
    {
        Refuse(report_, plan.reason);
        Finish(state);
        return report_;
    }
    report_.state = AlignmentState::Done;
    Finish(state);
    return report_;
}

void AlignmentSession::Apply(AppState& state)
{
    const AlignmentPlan& plan = shared_->plan;
    for (size_t i = 0; i < plan.delaysMs.size() && i < measured_.size(); ++i)
    {
        const auto& [name, eid] = measured_[i];
        report_.targets.push_back({name, eid, plan.relativeMs[i], plan.delaysMs[i], plan.quality[i]});
        DiagnosticLog::Instance().Log("Align: '%s' arrives %.1f ms after the earliest (quality %.1f); delay set to %d ms.",
                                      name.c_str(), plan.relativeMs[i], plan.quality[i], plan.delaysMs[i]);
        for (size_t k = 0; k < state.playbackDevices.size(); ++k)
        {
            if (state.playbackDevices[k].identity.eid == eid)
            {
                const std::shared_ptr<TargetLink> link = TargetLinkAt(state, k);
                TargetTuning tuning = link ? link->Tuning() : TargetTuning{};
                tuning.delayMs = plan.delaysMs[i];
                SetTargetTuning(state, k, tuning);
            }
        }
    }
    SaveSettings(state);
}

void AlignmentSession::Finish(AppState& state)
{
    if (report_.state == AlignmentState::Done)
    {
        Apply(state);
    }
    if (resumeRoute_)
    {
        StartRedirection(state);
    }
    resumeRoute_ = false;
    shared_.reset();
    measured_.clear();
}
