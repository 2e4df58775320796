#pragma once

// The redirect thread's side of a run, on the stream model: each target
// opened and primed as the engine opens it and paced by the engine's own
// TargetPacer; each pass steers the targets, reads the capture up to the
// packet limit (holding the queues through the warm-up) and delivers every
// packet as the transfer loop does, and then plays the rate applier's part,
// which applies what was asked for at the end of the pass. The delivery
// simulation and the native tests drive it; only the calls on the streams
// are the model's instead of Windows'.

#include <cstdint>
#include <vector>

#include "audio/engine/frame_policy.h"
#include "audio/engine/soft_rate.h"
#include "audio/engine/target_pacer.h"
#include "stream_model.h"

namespace model_engine {

struct Setup {
    float bufferMs = 30.0f;
    stream_model::Kind kind = stream_model::Kind::Windows;
    bool rateAdjustment = true;
    double deviceRate = 48000.0;
    uint32_t periodFrames = 0;  // the devices' period where it is not the rate over 100
    bool loopback = false;      // the source is captured by loopback (it may pause)

    // A device period, which is also a capture packet.
    uint32_t PacketFrames() const;
    // The period as GetDevicePeriod gives it, in whole 100 ns units.
    int64_t DevicePeriod() const;
    // What the engine takes a packet to be: the device period in frames.
    uint32_t EnginePacketFrames() const;
};

// What a simulation measures: the device's doings, and the engine's.
class TargetObserver : public stream_model::RenderListener {
public:
    // A packet comes for the target: the queue as read.
    virtual void BeforeDelivery(double /*now*/, uint32_t /*queued*/, bool /*discontinuous*/) {}
    // What the stream took of the pacer's plan, and the frames left out.
    virtual void Delivered(double /*now*/, uint32_t /*silence*/, uint32_t /*frames*/, uint32_t /*leftOut*/) {}
    // A rate change, once the redirect thread has judged it.
    virtual void RateChanged(double /*now*/, const RateChange& /*change*/) {}
};

struct Target {
    Target(const Setup& setup, double ppm, double phase);

    stream_model::RenderStreamModel model;
    TargetPacer pacer;
    SoftRate soft;  // counts what a stream without a rate is given
    double rate = 0.0;  // nominal
    uint32_t bufferFrames = 0;
    uint32_t cushion = 0;
    TargetObserver* observer = nullptr;
};

// Targets -1000 ... +1000 ppm off the source start their first period 1.3,
// 3.0, 4.7 ... ms after their start.
double TargetPhase(size_t index);

class Engine {
public:
    Engine(const Setup& setup, const std::vector<double>& ppms);

    // The capture's engine is the driver's to advance (it knows when the
    // source plays); a pass reads what it holds by then.
    void Pass(double now);

    Setup setup;
    stream_model::CaptureStreamModel capture;
    std::vector<Target> targets;
    uint64_t packets = 0;  // read so far

private:
    void Steer(Target& target, double now);
    void Deliver(Target& target, const stream_model::Packet& packet, double now);
    void Apply(Target& target, double now);
    uint32_t Write(Target& target, uint32_t frames, bool keep);

    int warmup_ = kWarmupPackets;
    uint32_t packetLimit_ = 0;
    std::vector<unsigned char> frames_;  // the bytes a write would carry: the model carries none
};

}  // namespace model_engine
