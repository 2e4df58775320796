// The redirect thread's polling loop: every captured packet goes straight from
// the capture buffer into each target's render buffer. Per packet and target
// it reads the stream, asks the target's pacer and writes what that says. The
// packet path (HandlePackets and the steering of each pass) allocates
// nothing, takes no lock and logs nothing; a call that fails ends the step
// that made it, which returns the call's result.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <mutex>

#include "app/app_state.h"
#include "audio/engine/delay_line.h"
#include "audio/engine/frame_policy.h"
#include "audio/engine/redirection_control.h"
#include "audio/engine/soft_clip.h"
#include "audio/engine/stream_recovery.h"
#include "audio/engine/stream_setup.h"
#include "audio/inventory/source_feedback.h"
#include "log/diagnostic_log.h"

namespace
{
// One packet as every target of the pass sees it.
struct PacketView
{
    const float* samples = nullptr;  // interleaved source channels; null: silence
    uint32_t frames = 0;
    float gain = 1.0f;
    double now = 0.0;  // seconds, the engine's clock
    int64_t nowNs = 0;  // steady_clock nanoseconds, for the targets' figures
    uint32_t sampleRate = 0;  // the source's nominal rate
    bool discontinuous = false;  // the capture says it does not follow on from the one before
    double late = 0.0;  // seconds since it was complete, by the capture's stamp (SecondsLate)
};

// The high-resolution timer, made only where the setting wants 1 ms waits,
// waits about 1 ms; without it (or should it fail) Sleep does, which the
// 1 ms timer period keeps near its milliseconds.
void WaitBetweenPasses(RedirectionEngine& engine, PassWait wait)
{
    if (engine.passTimer)
    {
        LARGE_INTEGER due{};
        due.QuadPart = -10000;  // relative, 100 ns units
        if (SetWaitableTimer(engine.passTimer.get(), &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(engine.passTimer.get(), INFINITE) == WAIT_OBJECT_0)
        {
            return;
        }
    }
    Sleep(wait == PassWait::Sleep2Ms ? 2 : 1);
}

// The one place a target's buffer is filled; `taken` is what the stream took.
template <typename Fill>
HRESULT FillTarget(RenderTarget& target, uint32_t frames, uint32_t& taken, Fill fill)
{
    taken = 0;
    BYTE* dest = nullptr;
    if (frames == 0)
    {
        return S_OK;
    }
    HRESULT hr = target.renderClient->GetBuffer(frames, &dest);
    if (FAILED(hr) || !dest)
    {
        return FAILED(hr) ? hr : target.renderClient->ReleaseBuffer(0, AUDCLNT_BUFFERFLAGS_SILENT);
    }
    fill(dest);
    hr = target.renderClient->ReleaseBuffer(frames, 0);
    taken = SUCCEEDED(hr) ? frames : 0;
    return hr;
}

// The packet's samples, or silence where there is no packet or it is silent,
// in the target's own layout.
HRESULT WriteFrames(RenderTarget& target, uint32_t frames, const PacketView* packet, uint32_t& taken)
{
    return FillTarget(target, frames, taken, [&](BYTE* dest) {
        if (packet && packet->samples)
        {
            WriteToTarget(packet->samples, target.channelMap, frames, packet->gain, target.layout, dest);
        }
        else
        {
            WriteSilence(target.layout, frames, dest);
        }
        target.pacer.Keep(dest, frames);
    });
}

HRESULT Prime(RenderTarget& target, uint32_t frames)
{
    uint32_t taken = 0;
    const HRESULT hr = WriteFrames(target, frames, nullptr, taken);
    target.pacer.Primed(taken);
    return hr;
}

// Every pass reads the queue of each adjustable target, before and after
// its deliveries, so that the controller sees its level over time and not
// only when a packet comes: either reading alone would misjudge it by about
// a millisecond (before, it is at its lowest in every pass that brings a
// packet; after, at its highest until the next pass). What a rate change
// threw away is queued again at once (Wine's workaround).
HRESULT SteerTarget(RenderTarget& target, double now)
{
    if (!target.pacer.Steered())
    {
        return S_OK;
    }
    UINT32 queued = 0;
    const HRESULT hr = target.client->GetCurrentPadding(&queued);
    const uint32_t again = SUCCEEDED(hr) ? target.pacer.Pass(queued, now) : 0u;
    if (again == 0)
    {
        return hr;
    }
    uint32_t taken = 0;
    const HRESULT written =
        FillTarget(target, again, taken, [&](BYTE* dest) { target.pacer.CopyReplay(again, dest); });
    target.pacer.Replayed(taken, now);
    return written;
}

// A target whose stream the system took away is skipped from then on; any
// call's failure may be that.
template <typename Step>
void ForLiveTargets(RedirectionEngine& engine, const Step& step)
{
    for (RenderTarget& target : engine.targets)
    {
        if (target.lost.code == 0)
        {
            NoteStreamFailure(target.lost, step(target));
            if (target.lost.code != 0 && target.link)
            {
                target.link->runState.store(TargetRunState::Lost, std::memory_order_release);
            }
        }
    }
}

void SteerTargets(RedirectionEngine& engine, double now)
{
    ForLiveTargets(engine, [now](RenderTarget& target) { return SteerTarget(target, now); });
}

// Float packets are read in place; integer ones go through the scratch
// buffer. Either is cut to the stream's buffer, which the delay lines hold.
const float* PacketSamples(RedirectionEngine& engine, const BYTE* data, uint32_t& frames)
{
    if (engine.sourceLayout.kind == SampleKind::Float32)
    {
        frames = std::min(frames, engine.maxPacketFrames);
        return reinterpret_cast<const float*>(data);
    }
    frames = ConvertPacketToFloat(data, engine.sourceLayout, frames, engine.scratch.data(), engine.scratch.size());
    return engine.scratch.data();
}

// A packet as the capture hands it out.
struct CapturedPacket
{
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    UINT64 stamp = 0;  // the performance counter at its first frame, in 100 ns units
};

// The capture's flags say whether the packet follows on from the one before,
// whether it is silent and whether its stamp can be believed.
PacketView ViewOf(RedirectionEngine& engine, const CapturedPacket& captured, float gain, double now)
{
    PacketView packet;
    packet.frames = captured.frames;
    packet.gain = gain;
    packet.now = now;
    packet.nowNs = SteadyNanoseconds();
    packet.sampleRate = engine.sourceLayout.sampleRate;
    packet.discontinuous = (captured.flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0;
    const bool stamped = (captured.flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) == 0;
    packet.late = SecondsLate(stamped ? static_cast<double>(captured.stamp) * 1e-7 : 0.0, captured.frames,
                              packet.sampleRate, now);
    const bool silent = (captured.flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || !captured.data;
    packet.samples = silent ? nullptr : PacketSamples(engine, captured.data, packet.frames);
    return packet;
}

// What the target plays of `frames` frames of the packet: spliced where
// fewer than the packet's (a few more may be left out for a better join),
// through its delay line, at the source's gain times its own volume, both
// read once here, and where its stream has no rate to set, at the pacer's
// rate in software (`frames` of the result: as many as that makes).
PacketView HeardBy(RenderTarget& target, const PacketView& packet, uint32_t frames)
{
    PacketView heard = packet;
    const TargetLink* link = target.link.get();
    const int32_t delayMs = link ? link->delayMs.load(std::memory_order_relaxed) : 0;
    const float volume = link ? link->volume.load(std::memory_order_relaxed) : kDefaultTargetVolume;
    uint32_t kept = frames;
    const float* spliced = target.splice.Process(packet.samples, packet.frames, frames, kept);
    target.pacer.LeftOut(frames - kept);
    frames = kept;
    heard.samples = target.delay.Process(spliced, frames, DelayFrames(delayMs, packet.sampleRate));
    heard.gain = TargetGain(packet.gain, volume);
    heard.frames = frames;
    if (target.pacer.Soft())
    {
        heard.samples = target.softRate.Process(heard.samples, frames, target.pacer.SoftRatio(), heard.frames);
    }
    return heard;
}

// A target that cannot report its queue misses this packet and is tried
// again with the next one. A rate change applied since the pass began is
// settled first, so that what it threw away goes in ahead of the packet. The
// pacer's plan alone decides what the target gets: its silence goes ahead
// undelayed, and the frames it gives go through the delay line, so that what
// the frame count leaves out never shifts the delay. `planned` and `taken`:
// frames planned and frames the stream took.
HRESULT DeliverPacket(RenderTarget& target, const PacketView& packet, uint32_t& planned, uint32_t& taken)
{
    if (target.pacer.Mailbox().At(RateMailbox::Stage::Applied))
    {
        const HRESULT steered = SteerTarget(target, packet.now);
        if (FAILED(steered))
        {
            return steered;
        }
    }
    StreamReading reading;
    const HRESULT read = ReadStream(target.client.Get(), target.clock.Get(), reading);
    if (FAILED(read))
    {
        return read;
    }
    const PacketPlan plan = target.pacer.Plan(reading, packet.frames, packet.discontinuous, packet.now, packet.late);
    const PacketView heard = HeardBy(target, packet, plan.frames);
    uint32_t silence = 0;
    uint32_t frames = 0;
    const HRESULT primed = WriteFrames(target, plan.silence, nullptr, silence);
    const HRESULT written = WriteFrames(target, heard.frames, &heard, frames);
    target.pacer.Wrote(silence, frames, packet.now);
    planned = plan.silence + plan.frames;
    taken = silence + frames;
    return FAILED(primed) ? primed : written;
}

// A packet the target could not take (a call failed, or its stream took none
// of what it was given) counts as missed.
HRESULT DeliverAndPublish(RenderTarget& target, const PacketView& packet)
{
    uint32_t planned = 0;
    uint32_t taken = 0;
    const HRESULT hr = DeliverPacket(target, packet, planned, taken);
    target.packetsMissed += FAILED(hr) || (planned > 0 && taken == 0) ? 1u : 0u;
    PublishFigures(target, packet.nowNs, taken > 0);
    return hr;
}

// No target hears the warm-up's packets, but each is kept as full as
// delivery would keep it, with silence.
HRESULT HoldQueue(RenderTarget& target, uint32_t packetFrames)
{
    UINT32 queued = 0;
    const HRESULT hr = target.client->GetCurrentPadding(&queued);
    return FAILED(hr) ? hr : Prime(target, target.pacer.WarmupSilence(queued, packetFrames));
}

// Every target's stream held still for one packet's writes (see
// TargetPacer::BeginPacket); not open while any must wait.
class PacketWindow
{
public:
    explicit PacketWindow(std::vector<RenderTarget>& targets) : targets_(targets)
    {
        for (; begun_ < targets_.size() && targets_[begun_].pacer.BeginPacket(); ++begun_)
        {
        }
    }
    ~PacketWindow()
    {
        for (size_t i = 0; i < begun_; ++i)
        {
            targets_[i].pacer.EndPacket();
        }
    }
    bool Open() const { return begun_ == targets_.size(); }

private:
    std::vector<RenderTarget>& targets_;
    size_t begun_ = 0;
};

void HandlePackets(RedirectionEngine& engine, UINT32 packetSize, float gain, float bufferMs, double now)
{
    IAudioCaptureClient& capture = *engine.captureClient.Get();
    const uint32_t limit = PacketLimitFor(bufferMs);
    uint32_t count = 0;
    while (packetSize > 0 && count < limit && !engine.state.redirectStopRequested)
    {
        const PacketWindow window(engine.targets);
        if (!window.Open())
        {
            return;
        }
        CapturedPacket captured;
        const HRESULT packetRead =
            capture.GetBuffer(&captured.data, &captured.frames, &captured.flags, nullptr, &captured.stamp);
        NoteStreamFailure(engine.sourceLost, packetRead);
        // AUDCLNT_S_BUFFER_EMPTY acquires no packet: nothing to release, and
        // no packet for the warm-up or the targets. Any other success
        // acquires one, which must be released (even with no frames) or the
        // next GetBuffer fails as out of order. See
        // learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudiocaptureclient-getbuffer
        if (FAILED(packetRead) || packetRead == AUDCLNT_S_BUFFER_EMPTY)
        {
            return;
        }
        if (engine.warmupPackets > 0)
        {
            // The first packets after a (re)start carry the streams' start-up
            // transient; no target hears them.
            --engine.warmupPackets;
            ForLiveTargets(engine, [&](RenderTarget& target) { return HoldQueue(target, captured.frames); });
        }
        else
        {
            const PacketView packet = ViewOf(engine, captured, gain, now);
            ForLiveTargets(engine, [&](RenderTarget& target) { return DeliverAndPublish(target, packet); });
        }
        NoteStreamFailure(engine.sourceLost, capture.ReleaseBuffer(captured.frames));
        const HRESULT next = capture.GetNextPacketSize(&packetSize);
        NoteStreamFailure(engine.sourceLost, next);
        if (FAILED(next))
        {
            return;
        }
        ++count;
    }
}

// Each old target plays out what it has queued (up to 50 ms) before it stops,
// so that the rebuild does not cut a sound short.
void DrainAndStopTargets(RedirectionEngine& engine)
{
    for (RenderTarget& target : engine.targets)
    {
        UINT32 queued = 0;
        if (SUCCEEDED(target.client->GetCurrentPadding(&queued)) && queued > 0)
        {
            Sleep(50);
        }
        target.client->Stop();
    }
}

// Once per target and run that had packets (a full one takes none of them),
// where a listener who heard a dropout can find it, with the delay and volume
// it had at the end.
void ReportDelivery(const RedirectionEngine& engine)
{
    for (const RenderTarget& target : engine.targets)
    {
        if (target.pacer.Started() || target.pacer.FramesLeftOut() > 0)
        {
            const TargetTuning tuning = target.link ? target.link->Tuning() : TargetTuning{};
            DiagnosticLog::Instance().Log(
                "Delivery: '%s' ran dry %u times, %u of them brought back with silence; the frame count left out "
                "%llu frames; delay %d ms, volume %.0f%%, rate %d ppm, %u packets missed; timed by %s.",
                target.name.c_str(), target.pacer.DryRuns(), target.pacer.TopUps(),
                static_cast<unsigned long long>(target.pacer.FramesLeftOut()), static_cast<int>(tuning.delayMs),
                static_cast<double>(tuning.volume), static_cast<int>(target.pacer.RatePpm()),
                target.packetsMissed, target.pacer.TimedByClock() ? "the device's clock" : "its queue");
        }
    }
}

// The old targets play out and stop, and those of activeTargetIds open,
// primed deeper than at the start: the source is already running, and the
// cushion covers the gap until the first packets after the warm-up arrive.
// Returns false when there are none or none opens: the run ends rather than
// show Stop in silence.
bool RebuildTargets(RedirectionEngine& engine)
{
    ReportDelivery(engine);
    DrainAndStopTargets(engine);
    DiagnosticLog::Instance().Log("Targets changed: rebuilding render targets (old=%zu).", engine.targets.size());
    engine.rateApplier.Stop();
    WithdrawTargets(engine);
    if (engine.activeTargetIds.empty())
    {
        engine.state.redirectStopRequested = true;
        return false;
    }
    OpenTargets(engine, [&engine](RenderTarget& target, const AudioEndpointInfo&) {
        PrimeWithSilence(target, RebuildPrimingFrames(target.bufferFrames));
        StartTarget(target);
        engine.targets.push_back(std::move(target));
    });
    DiagnosticLog::Instance().Log("Targets rebuilt: now %zu targets active.", engine.targets.size());
    if (engine.targets.empty())
    {
        DiagnosticLog::Instance().Log("Targets rebuilt: none could be opened; redirection stopped.");
        return false;
    }
    engine.rateApplier.Start(engine.targets);
    engine.warmupPackets = kWarmupPackets;
    return true;
}

// Returns false when the selection has become empty or none of its targets
// opens, and the run must end.
bool CheckTargets(RedirectionEngine& engine)
{
    std::vector<std::string> snapshot = SnapshotTargetIds(engine.state);
    // Never opened, so never among the active ones either.
    std::erase_if(snapshot, [&engine](const std::string& id) { return FeedsBackIntoSource(engine.sourcePlaybackId, id); });
    if (snapshot == engine.activeTargetIds)
    {
        return true;
    }
    engine.activeTargetIds = std::move(snapshot);
    return RebuildTargets(engine);
}

}  // namespace

HRESULT ReadStream(IAudioClient* client, IAudioClock* clock, StreamReading& reading)
{
    UINT32 queued = 0;
    const HRESULT hr = client->GetCurrentPadding(&queued);
    reading.queued = queued;
    UINT64 position = 0;
    reading.clocked = clock && SUCCEEDED(clock->GetPosition(&position, nullptr));
    reading.position = position;
    return hr;
}

void PrimeWithSilence(RenderTarget& target, uint32_t frames)
{
    Prime(target, frames);
}

namespace
{
void CleanUp(RedirectionEngine& engine)
{
    Sleep(50);
    engine.sourceClient->Stop();
    for (RenderTarget& target : engine.targets)
    {
        target.client->Stop();
    }
    ReportDelivery(engine);
    ReleaseRun(engine);
    DiagnosticLog::Instance().Log("Redirect thread exiting (cleanup done).");
}
}  // namespace

void RunTransferLoop(RedirectionEngine& engine)
{
    AppState& state = engine.state;
    const PassWait wait = PassWaitFor(engine.startBufferMs);
    engine.rateApplier.Start(engine.targets);
    bool running = !state.redirectStopRequested;
    while (running)
    {
        WaitBetweenPasses(engine, wait);
        if (++engine.pollCount >= kPassesPerTargetCheck)
        {
            engine.pollCount = 0;
            if (!CheckTargets(engine))
            {
                break;
            }
        }
        const double now = EngineSeconds(engine);
        SteerTargets(engine, now);
        UINT32 packetSize = 0;
        const HRESULT next = engine.captureClient->GetNextPacketSize(&packetSize);
        NoteStreamFailure(engine.sourceLost, next);
        if (SUCCEEDED(next))
        {
            // One reading of each setting per pass: a change is heard from
            // the next pass on.
            const float volume = state.volume.load();
            const float bufferMs = state.bufferMs.load();
            HandlePackets(engine, packetSize, GainFromVolume(volume), bufferMs, now);
        }
        SteerTargets(engine, now);
        running = !AnnounceStreamLosses(engine) && !state.redirectStopRequested;
    }
    CleanUp(engine);
}
