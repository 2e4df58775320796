#include "model_engine.h"

#include <algorithm>

namespace model_engine {

namespace {
constexpr double kTargetStartDelay = 0.010;
// Stereo float: what the model's clock counts in, and what a replay copies.
constexpr uint32_t kFrameBytes = 8;

TargetObserver quiet;

uint32_t FramesOf(double rate, int64_t duration) {
    return static_cast<uint32_t>(rate * static_cast<double>(duration) / 1e7);
}

stream_model::RenderConfig RenderFor(const Setup& setup, double ppm, double phase) {
    stream_model::RenderConfig config;
    config.kind = setup.kind;
    config.deviceRate = config.streamRate = setup.deviceRate;
    config.ppm = ppm;
    config.periodFrames = setup.PacketFrames();
    config.bufferFrames = FramesOf(setup.deviceRate, TargetBufferDuration(setup.bufferMs, setup.DevicePeriod()));
    // A device without periods has no phase to them.
    config.startAt = kTargetStartDelay + (setup.kind == stream_model::Kind::Continuous ? 0.0 : phase);
    return config;
}

stream_model::CaptureConfig CaptureFor(const Setup& setup) {
    stream_model::CaptureConfig config;
    config.kind = setup.kind;
    config.loopback = setup.loopback;
    config.rate = setup.deviceRate;
    config.periodFrames = setup.PacketFrames();
    config.bufferFrames = FramesOf(setup.deviceRate, SourceBufferDuration(setup.bufferMs, setup.DevicePeriod()));
    return config;
}

bool Read(const Target& target, StreamReading& reading) {
    reading.clocked = !stream_model::Failed(target.model.ClockPosition(reading.position));
    return !stream_model::Failed(target.model.Padding(reading.queued));
}
}  // namespace

uint32_t Setup::PacketFrames() const {
    return periodFrames > 0 ? periodFrames : stream_model::PeriodFramesAt(deviceRate, 0.010);
}

int64_t Setup::DevicePeriod() const {
    return static_cast<int64_t>(PacketFrames() * 1e7 / deviceRate);
}

uint32_t Setup::EnginePacketFrames() const {
    return PeriodFrames(DevicePeriod(), static_cast<uint32_t>(deviceRate));
}

double TargetPhase(size_t index) {
    return 0.0013 + 0.0017 * static_cast<double>(index);
}

// Opened as the engine opens a target: its clock's frequency read once, its
// rate adjustable where the stream offers that (the engine then primes it
// with half its buffer).
Target::Target(const Setup& setup, double ppm, double phase)
    : model(RenderFor(setup, ppm, phase)), rate(setup.deviceRate), observer(&quiet) {
    model.BufferSize(bufferFrames);
    cushion = CushionFrames(setup.bufferMs, static_cast<uint32_t>(rate), setup.DevicePeriod());
    PacerSettings settings;
    settings.sampleRate = rate;
    settings.cushionFrames = cushion;
    settings.packetFrames = setup.EnginePacketFrames();
    settings.bufferFrames = bufferFrames;
    settings.frameBytes = kFrameBytes;
    model.ClockFrequency(settings.clockFrequency);
    settings.rateAdjustable = setup.rateAdjustment && model.RateAdjustable();
    pacer = TargetPacer(settings);
}

Engine::Engine(const Setup& engineSetup, const std::vector<double>& ppms)
    : setup(engineSetup), capture(CaptureFor(engineSetup)), packetLimit_(PacketLimitFor(engineSetup.bufferMs)) {
    for (size_t i = 0; i < ppms.size(); ++i) {
        targets.emplace_back(setup, ppms[i], TargetPhase(i));
        frames_.resize(std::max<size_t>(frames_.size(), size_t{targets.back().bufferFrames} * kFrameBytes));
    }
    for (Target& target : targets) {
        target.pacer.Primed(Write(target, StartPrimingFrames(target.bufferFrames), true));
    }
}

uint32_t Engine::Write(Target& target, uint32_t frames, bool keep) {
    if (frames == 0 || stream_model::Failed(target.model.Write(frames))) {
        return 0;
    }
    if (keep) {
        target.pacer.Keep(frames_.data(), frames);
    }
    return frames;
}

void Engine::Steer(Target& target, double now) {
    uint32_t queued = 0;
    if (!target.pacer.Steered() || stream_model::Failed(target.model.Padding(queued))) {
        return;
    }
    const uint32_t again = target.pacer.Pass(queued, now);
    if (again > 0) {
        target.pacer.CopyReplay(again, frames_.data());
        target.pacer.Replayed(Write(target, again, false), now);
    }
}

void Engine::Deliver(Target& target, const stream_model::Packet& packet, double now) {
    if (target.pacer.Mailbox().At(RateMailbox::Stage::Applied)) {
        Steer(target, now);
    }
    StreamReading reading;
    if (!Read(target, reading)) {
        return;
    }
    const bool discontinuous = (packet.flags & stream_model::kDataDiscontinuity) != 0;
    target.observer->BeforeDelivery(now, reading.queued, discontinuous);
    // The capture's time stamp of the packet: its device position.
    const double late = SecondsLate(static_cast<double>(packet.devicePosition) / setup.deviceRate, packet.frames,
                                    setup.deviceRate, now);
    const PacketPlan plan = target.pacer.Plan(reading, packet.frames, discontinuous, now, late);
    const uint32_t silence = Write(target, plan.silence, true);
    const uint32_t given =
        target.pacer.Soft() ? target.soft.Advance(plan.frames, target.pacer.SoftRatio()) : plan.frames;
    const uint32_t frames = Write(target, given, true);
    target.pacer.Wrote(silence, frames, now);
    target.observer->Delivered(now, silence, frames, packet.frames - plan.frames);
    target.observer->Level(now, target.model.Held());
}

void Engine::Apply(Target& target, double now) {
    RateMailbox& mailbox = target.pacer.Mailbox();
    if (mailbox.At(RateMailbox::Stage::Asked)) {
        mailbox.Apply([&target](StreamReading& reading) { return Read(target, reading); },
                      [&target](double hz) { return target.model.SetSampleRate(static_cast<float>(hz)); });
    }
    if (mailbox.At(RateMailbox::Stage::Judged)) {
        target.observer->RateChanged(now, mailbox.change);
        mailbox.HandOn(RateMailbox::Stage::Free);
    }
}

void Engine::Pass(double now) {
    for (Target& target : targets) {
        target.model.Advance(now, *target.observer);
        Steer(target, now);
    }
    uint32_t size = 0;
    for (uint32_t count = 0; count < packetLimit_ && !stream_model::Failed(capture.NextPacketSize(size)) && size > 0;
         ++count) {
        stream_model::Packet packet;
        capture.GetBuffer(packet);
        ++packets;
        for (Target& target : targets) {
            if (warmup_ > 0) {
                uint32_t queued = 0;
                target.model.Padding(queued);
                target.pacer.Primed(Write(target, target.pacer.WarmupSilence(queued, packet.frames), true));
            } else {
                Deliver(target, packet, now);
            }
        }
        warmup_ -= warmup_ > 0 ? 1 : 0;
        capture.ReleaseBuffer(packet.frames);
    }
    for (Target& target : targets) {
        Steer(target, now);
        Apply(target, now);
    }
}

}  // namespace model_engine
