#include "audio/engine/frame_policy.h"

#include <algorithm>
#include <cmath>

namespace {
// Ten milliseconds: what a shared-mode stream's period is almost everywhere.
constexpr int64_t kFallbackDevicePeriod = 100000;

int64_t PeriodOrFallback(int64_t devicePeriod) {
    return devicePeriod > 0 ? devicePeriod : kFallbackDevicePeriod;
}

// Where an empty queue may still be playing a period: readings in a row
// that show the cushion gone all the same.
constexpr uint32_t kEmptyReadingsOfAGoneCushion = 3;

// Whether a clock reading shows audio on its way past the queue: more
// written and not yet played than is queued (by more than a frame), within
// the buffer.
bool ClockShowsAudioPastQueue(const QueueReading& reading, uint32_t bufferFrames) {
    const double waiting = static_cast<double>(reading.framesWritten) - reading.framesPlayed;
    return waiting > static_cast<double>(reading.queued) + 1.0 && waiting <= static_cast<double>(bufferFrames);
}

bool CameLate(double framesSinceLastWrite, const DryLevels& levels) {
    return 4.0 * (framesSinceLastWrite - levels.packetFrames) > static_cast<double>(levels.cushionFrames);
}

enum class AfterDry {
    Wait,       // too early to tell
    Recovered,  // the packets behind the late one brought the cushion back
    TopUp,      // bring the queue up to the cushion now
};

AfterDry JudgeAfterDry(double framesGivenSinceDry, double framesSinceDry, const DryLevels& levels) {
    if (2.0 * (framesGivenSinceDry - framesSinceDry) >= static_cast<double>(levels.cushionFrames)) {
        return AfterDry::Recovered;
    }
    return 2.0 * framesSinceDry >= static_cast<double>(levels.packetFrames) ? AfterDry::TopUp : AfterDry::Wait;
}

// The time since the last write beyond the audio it left queued.
double FramesGoneWithout(const PacketArrival& arrival) {
    return std::max(0.0, arrival.framesSinceLastWrite - static_cast<double>(arrival.queuedAfterLastWrite));
}
}  // namespace

PassWait PassWaitFor(float startBufferMs) {
    if (startBufferMs <= 15.0f) {
        return PassWait::Timer1Ms;
    }
    return startBufferMs <= 25.0f ? PassWait::Sleep1Ms : PassWait::Sleep2Ms;
}

uint32_t PacketLimitFor(float bufferMs) {
    return bufferMs <= 15.0f ? 4u : 2u;
}

uint32_t CushionFrames(float bufferMs, uint32_t sampleRate, int64_t devicePeriod) {
    const double halfSetting = static_cast<double>(bufferMs) / 2000.0;
    const double period = static_cast<double>(PeriodOrFallback(devicePeriod)) / 1e7;
    return static_cast<uint32_t>(std::round(static_cast<double>(sampleRate) * std::max(halfSetting, period)));
}

int64_t TargetBufferDuration(float bufferMs, int64_t devicePeriod) {
    const int64_t period = PeriodOrFallback(devicePeriod);
    return std::max(BufferDurationFromMs(bufferMs / 2.0f), period) + 4 * period;
}

int64_t SourceBufferDuration(float bufferMs, int64_t devicePeriod) {
    return std::max(BufferDurationFromMs(bufferMs), 3 * PeriodOrFallback(devicePeriod));
}

uint32_t TargetFrameCount(uint32_t packetFrames, uint32_t queuedFrames, uint32_t bufferFrames,
                          uint32_t cushionFrames) {
    // A device reporting more queued frames than its buffer holds would
    // otherwise wrap the room around to four billion frames.
    const uint32_t room = queuedFrames < bufferFrames ? bufferFrames - queuedFrames : 0u;
    const uint64_t limit = uint64_t{cushionFrames} + 2u * uint64_t{packetFrames};
    uint32_t frames = packetFrames;
    if (queuedFrames > limit) {
        const uint64_t excess = queuedFrames - limit;
        frames -= static_cast<uint32_t>(std::min<uint64_t>((excess + 1u) / 2u, packetFrames / 2u));
    }
    return std::min(frames, room);
}

uint32_t TopUpFrames(uint32_t queuedFrames, uint32_t cushionFrames, uint32_t bufferFrames) {
    const uint32_t level = std::min(cushionFrames, bufferFrames);
    return queuedFrames < level ? level - queuedFrames : 0u;
}

uint32_t WarmupTopUpFrames(uint32_t queuedFrames, uint32_t cushionFrames, uint32_t packetFrames,
                           uint32_t bufferFrames) {
    return TopUpFrames(queuedFrames, cushionFrames + packetFrames, bufferFrames);
}

DryStep DryWatch::Before(const PacketArrival& arrival, const DryLevels& levels) {
    DryStep step;
    step.silence = SilenceBefore(arrival, levels);
    step.notTheClocks = step.silence + (arrival.ranDry ? FramesGoneWithout(arrival) : 0.0);
    return step;
}

uint32_t DryWatch::SilenceBefore(const PacketArrival& arrival, const DryLevels& levels) {
    if (arrival.ranDry && !owed) {
        ++runs;
        owed = true;
        since = arrival.now;
        packetsSince = 0;
        if (!CameLate(arrival.framesSinceLastWrite, levels)) {
            return TopUp(arrival.queued, levels);
        }
    }
    if (!owed) {
        return 0;
    }
    const double given = static_cast<double>(packetsSince) * levels.packetFrames;
    ++packetsSince;
    switch (JudgeAfterDry(given, (arrival.now - since) * levels.sampleRate, levels)) {
    case AfterDry::Wait:
        return 0;
    case AfterDry::Recovered:
        owed = false;
        return 0;
    case AfterDry::TopUp:
        break;
    }
    return TopUp(arrival.queued, levels);
}

uint32_t DryWatch::TopUp(uint32_t queuedFrames, const DryLevels& levels) {
    owed = false;
    ++topUps;
    return TopUpFrames(queuedFrames, levels.cushionFrames, levels.bufferFrames);
}

double QueueSetPoint(uint32_t cushionFrames, uint32_t packetFrames) {
    return static_cast<double>(cushionFrames) + static_cast<double>(packetFrames) / 2.0;
}

bool RanDry(uint32_t queuedFrames, uint32_t queuedAfterLastWrite, double framesElapsed, uint32_t stillPlaying) {
    return queuedFrames == 0 &&
           framesElapsed > static_cast<double>(queuedAfterLastWrite) + static_cast<double>(stillPlaying);
}

bool RanDryByClock(uint32_t queuedFrames, uint64_t framesWritten, double framesPlayed, uint32_t bufferFrames) {
    const double waiting = static_cast<double>(framesWritten) - framesPlayed;
    return queuedFrames == 0 && (waiting <= 0.0 || waiting > static_cast<double>(bufferFrames));
}

bool DryJudge::RanDry(const QueueReading& reading, uint32_t bufferFrames, uint32_t periodFrames) {
    Learn(reading, bufferFrames, periodFrames);
    const bool periodMayPlay =
        !clockShowsAudioPastQueue_ && !queueFallsByOtherThanPeriods_ && emptyInARow_ < kEmptyReadingsOfAGoneCushion;
    return ::RanDry(reading.queued, reading.queuedAfterLastWrite, reading.framesElapsed,
                    periodMayPlay ? periodFrames : 0u) &&
           (!reading.clocked ||
            RanDryByClock(reading.queued, reading.framesWritten, reading.framesPlayed, bufferFrames));
}

void DryJudge::Learn(const QueueReading& reading, uint32_t bufferFrames, uint32_t periodFrames) {
    if (reading.clocked && !clockShowsAudioPastQueue_) {
        clockShowsAudioPastQueue_ = ClockShowsAudioPastQueue(reading, bufferFrames);
    }
    emptyInARow_ = reading.queued == 0 ? emptyInARow_ + 1 : 0;
    // An empty queue may have had less than a period left to take.
    if (reading.queued > 0 && reading.queued <= reading.queuedAfterLastWrite && periodFrames > 0 &&
        (reading.queuedAfterLastWrite - reading.queued) % periodFrames != 0) {
        queueFallsByOtherThanPeriods_ = true;
    }
}

uint32_t StartPrimingFrames(uint32_t bufferFrames) {
    return bufferFrames / 2u;
}

uint32_t RebuildPrimingFrames(uint32_t bufferFrames) {
    return (3u * bufferFrames) / 4u;
}

int64_t BufferDurationFromMs(float bufferMs) {
    // Truncated toward zero, as the stream request expects whole 100 ns units.
    return static_cast<int64_t>(bufferMs * 10000.0f);
}

uint32_t PeriodFrames(int64_t devicePeriod, uint32_t sampleRate) {
    return static_cast<uint32_t>(PeriodOrFallback(devicePeriod) * int64_t{sampleRate} / 10000000);
}
