// The redirect thread's polling loop: every captured packet goes straight from
// the capture buffer into each target's render buffer. The packet path
// (HandlePackets and below) allocates nothing, takes no lock and logs nothing.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <mutex>

#include "app/app_state.h"
#include "audio/engine/frame_policy.h"
#include "audio/engine/redirection_control.h"
#include "audio/engine/soft_clip.h"
#include "audio/engine/stream_recovery.h"
#include "audio/engine/stream_setup.h"
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
};

// The high-resolution timer waits about 1 ms; without it (or should it
// fail) Sleep(1) does, which the 1 ms timer period keeps near that.
void WaitOneMillisecond(RedirectionEngine& engine)
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
    Sleep(1);
}

void WaitBetweenPasses(RedirectionEngine& engine, PassWait wait)
{
    switch (wait)
    {
    case PassWait::Timer1Ms:
        WaitOneMillisecond(engine);
        break;
    case PassWait::Sleep1Ms:
        Sleep(1);
        break;
    case PassWait::Sleep2Ms:
        Sleep(2);
        break;
    }
}

// The clock's position is turned into frames at the rate the stream plays
// at, so each stretch between two readings is counted at the rate of its
// time. One sound system starts a stream's clock again from zero when its
// rate is changed: the count carries on across that, and the clock is read
// just before every change, so little goes uncounted.
bool FramesPlayed(RenderTarget& target, double& played)
{
    UINT64 position = 0;
    if (!target.clock || FAILED(target.clock->GetPosition(&position, nullptr)))
    {
        return false;
    }
    const UINT64 advance = position >= target.lastPosition ? position - target.lastPosition : position;
    target.framesPlayed += static_cast<double>(advance) * target.clockToFrames;
    target.lastPosition = position;
    played = target.framesPlayed;
    return true;
}

// One sound system throws a stream's queue away when its rate is changed,
// and starts its clock again from zero. What it threw away, the newest
// frames written, is queued again, and the count of frames written is taken
// afresh from the clock and the queue: the frames thrown away will never be
// counted as played.
void QueueAgainAfterRateChange(RenderTarget& target, uint32_t queuedBefore, double now)
{
    UINT32 queued = 0;
    if (FAILED(target.client->GetCurrentPadding(&queued)) || queued >= queuedBefore)
    {
        return;
    }
    const uint32_t lost = queuedBefore - queued;
    const uint32_t frames = std::min({lost, target.history.Held(), target.bufferFrames - queued});
    BYTE* dest = nullptr;
    if (frames > 0 && SUCCEEDED(target.renderClient->GetBuffer(frames, &dest)) && dest)
    {
        target.history.CopyNewest(frames, dest);
        queued += SUCCEEDED(target.renderClient->ReleaseBuffer(frames, 0)) ? frames : 0;
    }
    double played = 0.0;
    if (FramesPlayed(target, played))
    {
        target.framesWritten = static_cast<uint64_t>(played) + queued;
    }
    target.queuedAfterWrite = queued;
    target.lastWrite = now;
    DiagnosticLog::Instance().Log("Rate adjustment: '%s' dropped %u queued frames at the change; %u were queued again.",
                                  target.name.c_str(), lost, frames);
}

// The clock is read just before the change and just after it, at the new
// rate: a clock that went back tells a stream that started again. A stream
// that did not keeps on playing through every change, and its queue is held
// closely from then on (its changes are then too many to log each).
void ChangeTargetRate(RenderTarget& target, double hz, double now)
{
    UINT32 queued = 0;
    double played = 0.0;
    const bool clocked = FramesPlayed(target, played);
    const uint64_t positionBefore = target.lastPosition;
    target.client->GetCurrentPadding(&queued);
    const HRESULT hr = target.clockAdjustment->SetSampleRate(static_cast<float>(hz));
    if (FAILED(hr))
    {
        // Left at the rate it has, the target is kept by the frame count.
        DiagnosticLog::Instance().Log("Rate adjustment: '%s' refused %.2f Hz (HRESULT=0x%08lX); its rate is left alone.",
                                      target.name.c_str(), hz, static_cast<unsigned long>(hr));
        target.clockAdjustment.Reset();
        target.history.Reserve(0, 0);  // nothing to queue again any more
        return;
    }
    const bool seamlessBefore = target.controller.Seamless();
    if (!seamlessBefore)
    {
        DiagnosticLog::Instance().Log("Rate adjustment: '%s' now plays at %.2f Hz.", target.name.c_str(), hz);
    }
    if (!clocked || !ReadClockFrequency(target, hz) || !FramesPlayed(target, played))
    {
        return;
    }
    const bool startedAgain = target.lastPosition < positionBefore;
    if (startedAgain)
    {
        QueueAgainAfterRateChange(target, queued, now);
    }
    else if (!seamlessBefore)
    {
        DiagnosticLog::Instance().Log(
            "Rate adjustment: '%s' changes its rate without a break; its queue is held closely from now on.",
            target.name.c_str());
    }
    target.controller.ChangesAreSeamless(!startedAgain);
}

// Every pass reads the queue of each adjustable target, before and after
// its deliveries, so that the controller sees its level over time and not
// only when a packet comes: either reading alone would misjudge it by about
// a millisecond (before, it is at its lowest in every pass that brings a
// packet; after, at its highest until the next pass). A stream is given a
// new rate only when the controller decides one.
void SteerTargetRates(RedirectionEngine& engine, double now)
{
    for (RenderTarget& target : engine.targets)
    {
        UINT32 queued = 0;
        if (target.clockAdjustment && target.delivering && target.lost.code == 0 &&
            SUCCEEDED(target.client->GetCurrentPadding(&queued)) &&
            target.controller.Update(queued, now))
        {
            ChangeTargetRate(target, target.layout.sampleRate * target.controller.Rate() * engine.testRateBias, now);
        }
    }
}

// Float packets are read in place; integer ones go through the scratch
// buffer, which may cut a packet larger than the stream's buffer.
const float* PacketSamples(RedirectionEngine& engine, const BYTE* data, uint32_t& frames)
{
    if (engine.sourceLayout.kind == SampleKind::Float32)
    {
        return reinterpret_cast<const float*>(data);
    }
    frames = ConvertPacketToFloat(data, engine.sourceLayout, frames, engine.scratch.data(), engine.scratch.size());
    return engine.scratch.data();
}

// The clock is read at every packet, not only at an empty queue: what it
// has shown before decides how an empty queue is judged.
bool TargetRanDry(const RedirectionEngine& engine, RenderTarget& target, uint32_t queued, double framesElapsed)
{
    QueueReading reading;
    reading.queued = queued;
    reading.queuedAfterLastWrite = target.queuedAfterWrite;
    reading.framesElapsed = framesElapsed;
    reading.clocked = FramesPlayed(target, reading.framesPlayed);
    reading.framesWritten = target.framesWritten;
    return target.dryJudge.RanDry(reading, target.bufferFrames, engine.packetFrames);
}

// Before its first packet a target's queue is brought up to the cushion
// with silence; after it ran dry, only if the packets behind did not bring
// the cushion back. The controller is told of the silence and of the time
// the target went without: neither is the clocks' difference.
uint32_t TopUpBeforeDelivery(const RedirectionEngine& engine, RenderTarget& target, uint32_t queued, double now)
{
    if (!target.delivering)
    {
        const uint32_t priming = TopUpFrames(queued, engine.cushionFrames, target.bufferFrames);
        PrimeWithSilence(target, priming);
        target.delivering = true;
        return queued + priming;
    }
    const double rate = target.layout.sampleRate;
    const double framesElapsed = (now - target.lastWrite) * rate;
    const PacketArrival arrival{now, framesElapsed, target.queuedAfterWrite, queued,
                                TargetRanDry(engine, target, queued, framesElapsed)};
    const DryStep step =
        target.dry.Before(arrival, DryLevels{rate, engine.cushionFrames, engine.packetFrames, target.bufferFrames});
    PrimeWithSilence(target, step.silence);
    target.controller.Adjusted(step.notTheClocks);
    return queued + step.silence;
}

// A target that cannot report its queue or hand out a buffer misses this
// packet and is tried again with the next one, unless the system took its
// stream away.
void DeliverPacket(const RedirectionEngine& engine, RenderTarget& target, const PacketView& packet)
{
    if (target.lost.code != 0)
    {
        return;
    }
    UINT32 queued = 0;
    const HRESULT padding = target.client->GetCurrentPadding(&queued);
    NoteStreamFailure(target.lost, padding);
    if (FAILED(padding))
    {
        return;
    }
    queued = TopUpBeforeDelivery(engine, target, queued, packet.now);
    const uint32_t frames = TargetFrameCount(packet.frames, queued, target.bufferFrames, engine.cushionFrames);
    target.controller.Adjusted(-static_cast<double>(packet.frames - frames));
    target.framesLeftOut += packet.frames - frames;
    if (frames == 0)
    {
        return;
    }
    BYTE* dest = nullptr;
    const HRESULT buffer = target.renderClient->GetBuffer(frames, &dest);
    NoteStreamFailure(target.lost, buffer);
    if (FAILED(buffer))
    {
        return;
    }
    if (!dest)
    {
        target.renderClient->ReleaseBuffer(0, AUDCLNT_BUFFERFLAGS_SILENT);
        return;
    }
    if (packet.samples)
    {
        WriteToTarget(packet.samples, target.channelMap, frames, packet.gain, target.layout, dest);
    }
    else
    {
        WriteSilence(target.layout, frames, dest);
    }
    target.history.Append(dest, frames);
    const HRESULT released = target.renderClient->ReleaseBuffer(frames, 0);
    NoteStreamFailure(target.lost, released);
    if (SUCCEEDED(released))
    {
        target.framesWritten += frames;
    }
    target.queuedAfterWrite = queued + frames;
    target.lastWrite = packet.now;
}

// No target hears the warm-up's packets, but each is kept as full as
// delivery would keep it, with silence.
void HoldQueuesDuringWarmup(RedirectionEngine& engine, uint32_t packetFrames)
{
    for (RenderTarget& target : engine.targets)
    {
        UINT32 queued = 0;
        if (SUCCEEDED(target.client->GetCurrentPadding(&queued)))
        {
            PrimeWithSilence(target,
                             WarmupTopUpFrames(queued, engine.cushionFrames, packetFrames, target.bufferFrames));
        }
    }
}

void HandlePackets(RedirectionEngine& engine, UINT32 packetSize, float gain, float bufferMs, double now)
{
    IAudioCaptureClient& capture = *engine.captureClient.Get();
    const uint32_t limit = PacketLimitFor(bufferMs);
    uint32_t count = 0;
    while (packetSize > 0 && count < limit && !engine.state.redirectStopRequested)
    {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        const HRESULT packetRead = capture.GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        NoteStreamFailure(engine.sourceLost, packetRead);
        if (FAILED(packetRead))
        {
            return;
        }
        if (engine.warmupPackets > 0)
        {
            // The first packets after a (re)start carry the streams' start-up
            // transient; no target hears them.
            --engine.warmupPackets;
            HoldQueuesDuringWarmup(engine, frames);
        }
        else
        {
            PacketView packet;
            packet.frames = frames;
            packet.gain = gain;
            packet.now = now;
            const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || !data;
            packet.samples = silent ? nullptr : PacketSamples(engine, data, packet.frames);
            for (RenderTarget& target : engine.targets)
            {
                DeliverPacket(engine, target, packet);
            }
        }
        NoteStreamFailure(engine.sourceLost, capture.ReleaseBuffer(frames));
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

// Once per target and run, where a listener who heard a dropout can find it.
void ReportDelivery(const RedirectionEngine& engine)
{
    for (const RenderTarget& target : engine.targets)
    {
        if (target.delivering)
        {
            DiagnosticLog::Instance().Log(
                "Delivery: '%s' ran dry %u times, %u of them brought back with silence; the frame count left out "
                "%llu frames.",
                target.name.c_str(), target.dry.runs, target.dry.topUps,
                static_cast<unsigned long long>(target.framesLeftOut));
        }
    }
}

void WithdrawTargets(RedirectionEngine& engine)
{
    {
        std::lock_guard<std::mutex> lock(engine.state.streamMutex);
        std::erase_if(engine.state.publishedRenderClients, [&engine](const ComPtr<IAudioClient>& published) {
            return std::any_of(engine.targets.begin(), engine.targets.end(),
                               [&published](const RenderTarget& target) { return target.client == published; });
        });
    }
    engine.targets.clear();
}

// The entries are copied under selectionMutex and opened without it: the
// main thread must not wait for the streams' set-up.
void OpenTargetsForRebuild(RedirectionEngine& engine)
{
    std::vector<AudioEndpointInfo> entries;
    {
        std::lock_guard<std::mutex> lock(engine.state.selectionMutex);
        entries = SelectedTargetEntries(engine.state);
    }
    OpenTargets(engine, entries, [&engine](RenderTarget& target, const AudioEndpointInfo&) {
        // The source is already running: a deeper cushion covers the gap
        // until the first packets after the warm-up arrive.
        PrimeWithSilence(target, RebuildPrimingFrames(target.bufferFrames));
        target.client->Start();
        engine.targets.push_back(std::move(target));
    });
}

// Returns false when the selection has become empty or none of its targets
// opens, and the run must end.
bool CheckTargets(RedirectionEngine& engine)
{
    std::vector<std::string> snapshot = SnapshotTargetIds(engine.state);
    if (snapshot == engine.activeTargetIds)
    {
        return true;
    }
    ReportDelivery(engine);
    DrainAndStopTargets(engine);
    DiagnosticLog::Instance().Log("Targets changed: rebuilding render targets (old=%zu).", engine.targets.size());
    WithdrawTargets(engine);
    engine.activeTargetIds = std::move(snapshot);
    if (engine.activeTargetIds.empty())
    {
        engine.state.redirectStopRequested = true;
        return false;
    }
    OpenTargetsForRebuild(engine);
    DiagnosticLog::Instance().Log("Targets rebuilt: now %zu targets active.", engine.targets.size());
    if (engine.targets.empty())
    {
        // Nothing could play: the run ends rather than show Stop in silence.
        DiagnosticLog::Instance().Log("Targets rebuilt: none could be opened; redirection stopped.");
        return false;
    }
    engine.warmupPackets = kWarmupPackets;
    return true;
}

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
        SteerTargetRates(engine, now);
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
        SteerTargetRates(engine, now);
        running = !AnnounceStreamLosses(engine) && !state.redirectStopRequested;
    }
    CleanUp(engine);
}
