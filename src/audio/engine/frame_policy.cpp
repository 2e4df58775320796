#include "audio/engine/frame_policy.h"

#include <algorithm>

PassWait PassWaitFor(float startBufferMs) {
    if (startBufferMs <= 15.0f) {
        return PassWait::Yield;
    }
    return startBufferMs <= 25.0f ? PassWait::Sleep1Ms : PassWait::Sleep2Ms;
}

uint32_t PacketLimitFor(float bufferMs) {
    return bufferMs <= 15.0f ? 4u : 2u;
}

QueueThresholds QueueThresholdsFor(uint32_t bufferFrames, float bufferMs) {
    if (bufferMs <= 20.0f) {
        return {bufferFrames / 20u, bufferFrames / 10u};
    }
    if (bufferMs <= 30.0f) {
        return {bufferFrames / 16u, bufferFrames / 8u};
    }
    return {bufferFrames / 12u, bufferFrames / 6u};
}

uint32_t TargetFrameCount(uint32_t packetFrames, uint32_t queuedFrames, uint32_t bufferFrames,
                          float bufferMs) {
    const QueueThresholds thresholds = QueueThresholdsFor(bufferFrames, bufferMs);
    // A device reporting more queued frames than its buffer holds would
    // otherwise wrap the room around to four billion frames.
    const uint32_t room = queuedFrames < bufferFrames ? bufferFrames - queuedFrames : 0u;

    if (queuedFrames < thresholds.low) {
        return std::min(room, packetFrames);
    }
    if (queuedFrames < thresholds.high) {
        return std::min(room * 4u / 5u, packetFrames);
    }
    return std::max(std::min(room / 2u, packetFrames), packetFrames / 4u);
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
