#include "stream_model.h"

#include <algorithm>
#include <cmath>

namespace stream_model {

namespace {
// Tolerance for a pass that falls exactly at a time: packets at exact
// multiples of the period are due then, whatever the rounding.
constexpr double kPassDueSlack = 1e-9;

bool KeepsStreamsThroughDeviceEvents(Kind kind) {
    return kind == Kind::Wine8 || kind == Kind::Wine10;
}
}  // namespace

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::Windows:
        return "Windows";
    case Kind::Wine8:
        return "Wine 8";
    case Kind::Wine10:
        return "Wine 10";
    case Kind::Continuous:
        break;
    }
    return "continuous";
}

uint32_t PeriodFramesAt(double deviceRate, double periodSeconds) {
    return static_cast<uint32_t>(std::lround(deviceRate * periodSeconds));
}

RenderStreamModel::RenderStreamModel(const RenderConfig& config)
    : config_(config), hz_(config.streamRate), nextPass_(config.startAt),
      serverTime_(config.startAt - PeriodSeconds()), lastIdeal_(config.startAt - PeriodSeconds()) {}

double RenderStreamModel::DeviceSpeed() const {
    return 1.0 + config_.ppm * 1e-6;
}

double RenderStreamModel::PeriodSeconds() const {
    return config_.periodFrames / config_.deviceRate / DeviceSpeed();
}

double RenderStreamModel::ServerRate() const {
    return hz_ * DeviceSpeed();
}

// Wine 8's timer sets its next tick a period after where this one belonged,
// but never more than half a period sooner or later than a period from now:
// a late tick is caught up by ticks half a period apart.
double RenderStreamModel::PassAfter(double pass) {
    const double period = PeriodSeconds();
    if (config_.kind != Kind::Wine8) {
        return pass + period;
    }
    const double adjust = std::clamp(lastIdeal_ + period - pass, -period / 2.0, period / 2.0);
    lastIdeal_ += period;
    return pass + period + adjust;
}

// Wine 8's server plays what it was given up to `now`; while the process is
// held, only what it already had. It reports running dry as it does.
void RenderStreamModel::PlayServer(double now, RenderListener& listener) {
    const double rate = ServerRate();
    while (serverTime_ < now) {
        const bool held = serverTime_ >= holdFrom_ && serverTime_ < holdUntil_;
        const double end = held ? std::min(now, holdUntil_) : (serverTime_ < holdFrom_ ? std::min(now, holdFrom_) : now);
        const double want = (end - serverTime_) * rate;
        const double can = held ? std::min(serverShare_, unheard_) : unheard_;
        const double played = std::min(want, can);
        unheard_ -= played;
        serverShare_ -= held ? played : 0.0;
        if (want > can && !serverRanDry_) {
            listener.Underrun(serverTime_ + played / rate, want - played);
            serverRanDry_ = true;
        }
        serverTime_ = end;
    }
}

// After an underflow Wine writes silence into the server ahead of what it
// holds, up to three periods in all.
void RenderStreamModel::FillServer() {
    if (serverRanDry_) {
        unheard_ = std::max(unheard_, 3.0 * config_.periodFrames);
        serverRanDry_ = false;
    }
}

void RenderStreamModel::HoldProcess(double until) {
    if (config_.kind != Kind::Wine8 || until <= now_) {
        return;
    }
    holdFrom_ = now_;
    holdUntil_ = until;
    serverShare_ = std::min(unheard_, 3.0 * config_.periodFrames);
    // The timer wakes when the process runs again.
    nextPass_ = std::max(nextPass_, until);
}

void RenderStreamModel::Advance(double now, RenderListener& listener) {
    if (invalidated_ == kOk) {
        config_.kind == Kind::Continuous ? AdvanceContinuous(now, listener) : AdvancePeriodic(now, listener);
    }
    now_ = now;
}

void RenderStreamModel::Advance(double now) {
    RenderListener quiet;
    Advance(now, quiet);
}

// Stream frames one pass takes. Windows' resampler takes the stream's rate
// over the device's per device frame, whole frames a pass, and carries the
// fraction; Wine 10 counts the rate over 100 per 10 ms, rounded, afresh at
// every pass; Wine 8 counts a period.
double RenderStreamModel::TakePerPass() {
    const double exact = config_.periodFrames * hz_ / config_.deviceRate;
    switch (config_.kind) {
    case Kind::Windows: {
        owed_ += exact;
        const double whole = std::floor(owed_);
        owed_ -= whole;
        return whole;
    }
    case Kind::Wine10:
        return std::floor(exact + 0.5);
    case Kind::Wine8:
    case Kind::Continuous:
        break;
    }
    return config_.periodFrames;
}

// Wine 8's underruns are its server's: its count lacking a period at a tick
// is not heard.
void RenderStreamModel::AdvancePeriodic(double now, RenderListener& listener) {
    const bool wine8 = config_.kind == Kind::Wine8;
    while (nextPass_ <= now) {
        if (wine8) {
            PlayServer(nextPass_, listener);
            if (serverRanDry_) {
                FillServer();
                lastIdeal_ = nextPass_ - PeriodSeconds();  // its ticks counted afresh from here
            }
        }
        listener.Queue(lastTime_, nextPass_, queued_, queued_);
        lastTime_ = nextPass_;
        const double need = TakePerPass();
        const double take = std::min(queued_, need);
        if (queued_ < need && !wine8) {
            listener.Underrun(nextPass_, need - queued_);
        }
        queued_ -= take;
        taken_ += take;
        lastPass_ = nextPass_;
        lastTake_ = take;
        lastPassRate_ = hz_ * DeviceSpeed();
        listener.Level(nextPass_, queued_);
        nextPass_ = PassAfter(nextPass_);
    }
    if (wine8) {
        PlayServer(now, listener);
    }
    listener.Queue(lastTime_, now, queued_, queued_);
    lastTime_ = now;
}

void RenderStreamModel::AdvanceContinuous(double now, RenderListener& listener) {
    const double begin = std::max(lastTime_, config_.startAt);
    if (now <= begin) {
        lastTime_ = now;
        return;
    }
    const double rate = config_.streamRate * (DeviceSpeed() * (hz_ / config_.streamRate));
    const double demand = rate * (now - begin);
    if (demand <= queued_) {
        listener.Queue(begin, now, queued_, queued_ - demand);
        queued_ -= demand;
        taken_ += demand;
    } else {
        listener.Queue(begin, begin + queued_ / rate, queued_, 0.0);
        listener.Underrun(now, demand - queued_);
        taken_ += queued_;
        queued_ = 0.0;
    }
    lastTime_ = now;
    listener.Level(now, queued_);
}

Result RenderStreamModel::Padding(uint32_t& frames) const {
    frames = static_cast<uint32_t>(queued_);
    return invalidated_;
}

Result RenderStreamModel::BufferSize(uint32_t& frames) const {
    frames = config_.bufferFrames;
    return invalidated_;
}

Result RenderStreamModel::Write(uint32_t frames) {
    if (invalidated_ != kOk) {
        return invalidated_;
    }
    if (frames > config_.bufferFrames - std::min(config_.bufferFrames, static_cast<uint32_t>(queued_))) {
        return kBufferTooLarge;
    }
    queued_ += frames;
    unheard_ += frames;
    FillServer();
    return kOk;
}

Result RenderStreamModel::ClockFrequency(uint64_t& frequency) const {
    // Wine 10's clock follows the rate it was set to; the others keep the
    // stream's nominal rate for life.
    const double rate = config_.kind == Kind::Wine10 ? hz_ : config_.streamRate;
    frequency = static_cast<uint64_t>(std::llround(rate)) * kClockUnitsPerFrame;
    return invalidated_;
}

// The part of the last pass's frames heard by now: a period plays out over
// the time to the next pass, at the rate it was taken at (a rate set since
// holds from the next pass on).
double RenderStreamModel::HeardOfLastPass() const {
    return std::min(lastTake_, (now_ - lastPass_) * lastPassRate_);
}

Result RenderStreamModel::ClockPosition(uint64_t& position) const {
    double heard = taken_;
    if (config_.kind == Kind::Windows && lastPass_ >= 0.0) {
        heard = taken_ - lastTake_ + HeardOfLastPass();
    }
    position = static_cast<uint64_t>(std::floor(heard * kClockUnitsPerFrame));
    return invalidated_;
}

double RenderStreamModel::WaitToBeHeard(uint32_t lastFrames) const {
    if (config_.kind == Kind::Wine8) {
        return (unheard_ - lastFrames) / ServerRate();
    }
    uint64_t position = 0;
    ClockPosition(position);
    const double unheard = taken_ + queued_ - lastFrames - static_cast<double>(position) / kClockUnitsPerFrame;
    return unheard / (hz_ * DeviceSpeed());
}

bool RenderStreamModel::RateAdjustable() const {
    return config_.kind != Kind::Wine8;
}

Result RenderStreamModel::SetSampleRate(float hz) {
    if (!RateAdjustable()) {
        return kNoInterface;
    }
    if (invalidated_ != kOk) {
        return invalidated_;
    }
    if (!(hz > 0.0f)) {
        return kInvalidArg;
    }
    hz_ = hz;
    if (config_.kind == Kind::Wine10) {
        queued_ = 0.0;
        taken_ = 0.0;
        lastTake_ = 0.0;
    }
    return kOk;
}

void RenderStreamModel::Invalidate(Result code) {
    if (!KeepsStreamsThroughDeviceEvents(config_.kind)) {
        invalidated_ = code;
    }
}

CaptureStreamModel::CaptureStreamModel(const CaptureConfig& config) : config_(config) {}

Result CaptureStreamModel::Initialize() const {
    return config_.kind == Kind::Wine8 && config_.loopback ? kWrongEndpointType : kOk;
}

Result CaptureStreamModel::Usable() const {
    return Failed(Initialize()) ? kNotInitialized : invalidated_;
}

// Windows' loopback stops while nothing plays on its endpoint; a capture
// device, and Wine 10's loopback, never do.
bool CaptureStreamModel::Delivers() const {
    return !(config_.kind == Kind::Windows && config_.loopback && playing_ == Playing::Nothing);
}

void CaptureStreamModel::Advance(double now) {
    const double periodSeconds = config_.periodFrames / config_.rate;
    const auto due = static_cast<uint64_t>(std::floor(now / periodSeconds + kPassDueSlack));
    const size_t capacity = std::max<size_t>(config_.bufferFrames / config_.periodFrames, 1);
    for (; passes_ < due; ++passes_) {
        if (Usable() != kOk) {
            continue;
        }
        if (!Delivers()) {
            discontinuity_ = true;
            continue;
        }
        if (packets_.size() >= capacity) {
            ++lost_;
            discontinuity_ = true;
            continue;
        }
        Packet packet;
        packet.frames = config_.periodFrames;
        packet.devicePosition = passes_ * config_.periodFrames;
        packet.flags = (discontinuity_ ? kDataDiscontinuity : 0u) |
                       (config_.loopback && playing_ == Playing::Silence ? kSilent : 0u);
        discontinuity_ = false;
        packets_.push_back(packet);
    }
}

void CaptureStreamModel::SetPlaying(Playing playing) {
    playing_ = playing;
}

Result CaptureStreamModel::NextPacketSize(uint32_t& frames) const {
    frames = packets_.empty() || Usable() != kOk ? 0u : packets_.front().frames;
    return Usable();
}

Result CaptureStreamModel::GetBuffer(Packet& packet) const {
    packet = Packet{};
    if (Usable() != kOk) {
        return Usable();
    }
    if (packets_.empty()) {
        return kBufferEmpty;
    }
    packet = packets_.front();
    return kOk;
}

Result CaptureStreamModel::ReleaseBuffer(uint32_t frames) {
    if (Usable() != kOk) {
        return Usable();
    }
    if (frames > 0 && !packets_.empty()) {
        packets_.pop_front();
    }
    return kOk;
}

void CaptureStreamModel::Invalidate(Result code) {
    if (!KeepsStreamsThroughDeviceEvents(config_.kind)) {
        invalidated_ = code;
    }
}

}  // namespace stream_model
