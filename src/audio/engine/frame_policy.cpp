#include "audio/engine/frame_policy.h"

#include <algorithm>
#include <cmath>

namespace {
// Ten milliseconds: what a shared-mode stream's period is almost everywhere.
constexpr int64_t kFallbackDevicePeriod = 100000;

int64_t PeriodOrFallback(int64_t devicePeriod) {
    return devicePeriod > 0 ? devicePeriod : kFallbackDevicePeriod;
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

double QueueSetPoint(uint32_t cushionFrames, uint32_t packetFrames) {
    return static_cast<double>(cushionFrames) + static_cast<double>(packetFrames) / 2.0;
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
