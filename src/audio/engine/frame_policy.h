#pragma once

#include <cstdint>

// Pacing rules of the redirect thread: how long it waits between polling
// passes, how many capture packets one pass handles, and how many frames of a
// packet each target takes so that its queue stays near a level set by the
// latency. Pure functions; the redirect thread calls them (the frame count once
// per packet and target), so they allocate nothing.

// Packets dropped after the streams start and after every target rebuild.
constexpr int kWarmupPackets = 5;
// Polling passes between two comparisons of the selected targets.
constexpr int kPassesPerTargetCheck = 50;

enum class PassWait {
    Yield,     // SwitchToThread
    Sleep1Ms,
    Sleep2Ms,
};

// Chosen once from the latency read at set-up.
PassWait PassWaitFor(float startBufferMs);

// Capture packets one pass handles at most, from the current latency.
uint32_t PacketLimitFor(float bufferMs);

struct QueueThresholds {
    uint32_t low = 0;
    uint32_t high = 0;
};

QueueThresholds QueueThresholdsFor(uint32_t bufferFrames, float bufferMs);

// Frames of a packetFrames-long packet that a target with bufferFrames of
// buffer and queuedFrames still queued is given. Short queues take the whole
// packet, fuller ones less, but never less than a quarter of the packet.
// The result can exceed the target's free room when its queue is almost full;
// the render buffer request then fails and the target misses this packet.
// A queue reported larger than the buffer counts as a full one.
uint32_t TargetFrameCount(uint32_t packetFrames, uint32_t queuedFrames, uint32_t bufferFrames,
                          float bufferMs);

// Silence queued ahead of a target when the streams start, and when a target
// is reopened while the source keeps running.
uint32_t StartPrimingFrames(uint32_t bufferFrames);
uint32_t RebuildPrimingFrames(uint32_t bufferFrames);

// Requested stream buffer duration in 100-nanosecond units.
int64_t BufferDurationFromMs(float bufferMs);
