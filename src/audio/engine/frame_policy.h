#pragma once

#include <cstdint>

// Pacing rules of the redirect thread fixed at set-up: how long it waits
// between polling passes, how many capture packets one pass handles, how much
// audio each target keeps queued (the cushion) and how large the streams'
// buffers are. What a target decides per packet is its TargetPacer's.

// Packets dropped after the streams start and after every target rebuild.
constexpr int kWarmupPackets = 5;
// Polling passes between two comparisons of the selected targets.
constexpr int kPassesPerTargetCheck = 50;

enum class PassWait {
    // About 1 ms on a high-resolution waitable timer (Sleep(1) where there
    // is none): short enough for the lowest latencies without spinning.
    Timer1Ms,
    Sleep1Ms,
    Sleep2Ms,
};

// Chosen once from the latency read at set-up.
PassWait PassWaitFor(float startBufferMs);

// Capture packets one pass handles at most, from the current latency.
uint32_t PacketLimitFor(float bufferMs);

// The audio each target keeps queued ahead of the packet it is given: half
// the latency setting, but never less than one device period (the length
// of a capture packet, given in 100-nanosecond units). A late capture
// packet then plays out of the cushion instead of leaving the device empty;
// a device that takes whole periods would empty a shorter cushion at every
// packet that comes a little late, and its queue could not be read below
// empty to steer its rate. The queue swings between the cushion and the
// cushion plus one packet.
uint32_t CushionFrames(float bufferMs, uint32_t sampleRate, int64_t devicePeriod);

// Buffer durations requested from the audio system, in 100-nanosecond units,
// given the source's device period (the length of one capture packet).
// A target holds the cushion plus four periods: two packets handed over at
// once on top of a queue at its upper limit still fit. The source holds at
// least three periods, so that a late pass finds its packets still there.
// The buffers' size adds no delay: the queue is what is heard.
int64_t TargetBufferDuration(float bufferMs, int64_t devicePeriod);
int64_t SourceBufferDuration(float bufferMs, int64_t devicePeriod);

// The level a target's queue averages over time when it runs at the
// source's pace with its device's periods half-way between two packets:
// the cushion plus half a packet. Held there, a packet may come up to half
// a period early or late without the order of packets and periods changing.
double QueueSetPoint(uint32_t cushionFrames, uint32_t packetFrames);

// Silence queued ahead of a target when the streams start, and when a target
// is reopened while the source keeps running.
uint32_t StartPrimingFrames(uint32_t bufferFrames);
uint32_t RebuildPrimingFrames(uint32_t bufferFrames);

// Requested stream buffer duration in 100-nanosecond units.
int64_t BufferDurationFromMs(float bufferMs);

// Frames in one device period (10 ms where the period is not known).
uint32_t PeriodFrames(int64_t devicePeriod, uint32_t sampleRate);
