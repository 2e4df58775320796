#pragma once

#include <cstdint>

// Pacing rules of the redirect thread: how long it waits between polling
// passes, how many capture packets one pass handles, how much audio each
// target keeps queued (the cushion), how large the streams' buffers are,
// and how many frames of a packet each target takes. Pure functions; the
// redirect thread calls them (the frame count once per packet and target),
// so they allocate nothing.

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

// Frames of a packetFrames-long packet that a target with bufferFrames of
// buffer and queuedFrames still queued is given. A queue up to two packets
// above the cushion takes the whole packet (as much as there is room for):
// with equal clocks no frame is ever dropped, and a burst or a stalled
// device is absorbed. Above that the source runs faster than the target,
// and up to half of the excess, at most half a packet, is left out, so the
// queue comes back without a long hole. A queue reported larger than the
// buffer counts as a full one.
uint32_t TargetFrameCount(uint32_t packetFrames, uint32_t queuedFrames, uint32_t bufferFrames,
                          uint32_t cushionFrames);

// Silence that brings a queue up to the cushion (within the buffer): before
// a target's first packet after the warm-up, and when it lost its cushion
// by running dry, so that one gap restores the cushion instead of every
// later late packet making another.
uint32_t TopUpFrames(uint32_t queuedFrames, uint32_t cushionFrames, uint32_t bufferFrames);

// Silence that holds a queue, at each packet dropped while the source warms
// up, where delivery would leave it: at the cushion and a packet. A target
// left to run dry before its first audio is, on one sound server, fed again
// with two periods taken at once, and its queue then reads a period short
// just as that audio plays: the silence topping it up would be heard.
uint32_t WarmupTopUpFrames(uint32_t queuedFrames, uint32_t cushionFrames, uint32_t packetFrames,
                           uint32_t bufferFrames);

struct DryLevels {
    double sampleRate = 0.0;
    uint32_t cushionFrames = 0;
    uint32_t packetFrames = 0;
    uint32_t bufferFrames = 0;
};

// What a target finds when a packet comes for it (frames at its rate).
struct PacketArrival {
    double now = 0.0;                  // seconds
    double framesSinceLastWrite = 0.0;
    uint32_t queuedAfterLastWrite = 0;
    uint32_t queued = 0;
    bool ranDry = false;               // as a DryJudge judges it
};

// What is done about it: silence queued ahead of the packet, and the frames
// by which the queue reads higher than the clocks alone would make it (that
// silence, and the time a target that ran dry went without, which the
// packets held up behind it make up once they come), for a rate controller.
struct DryStep {
    uint32_t silence = 0;
    double notTheClocks = 0.0;
};

// A target's account of running dry, kept across its packets. A packet that
// came on time (up to a quarter of the cushion after its time: passes come
// a millisecond or two apart) and found the queue empty shows the cushion
// gone (the source runs slower, or lost audio): it is topped up at once.
// One that came later (a sound server that hands its audio on in 15 ms
// blocks makes every other packet 5 ms late) mostly comes with those held
// up behind it, or just before the next one, and they fill the queue again
// with audio; silence added then would be heard on top of the gap (or, on a
// sound server that still held audio while the queue read empty, as the
// only gap) and would lengthen the delay for good. So a late one waits: the
// packets given since it ran dry less the time since is what the queue
// would hold drained evenly (a device that takes whole periods makes its
// own reading jump by a period), and while that stays below half the
// cushion half a packet after it ran dry, the target is topped up then.
struct DryWatch {
    bool owed = false;          // ran dry late, neither recovered nor topped up yet
    double since = 0.0;         // when it ran dry, in seconds
    uint32_t packetsSince = 0;  // packets given since
    uint32_t runs = 0;          // times it ran dry
    uint32_t topUps = 0;        // of those, brought back with silence

    DryStep Before(const PacketArrival& arrival, const DryLevels& levels);

private:
    uint32_t SilenceBefore(const PacketArrival& arrival, const DryLevels& levels);
    uint32_t TopUp(uint32_t queuedFrames, const DryLevels& levels);
};

// The level a target's queue averages over time when it runs at the
// source's pace with its device's periods half-way between two packets:
// the cushion plus half a packet. Held there, a packet may come up to half
// a period early or late without the order of packets and periods changing.
double QueueSetPoint(uint32_t cushionFrames, uint32_t packetFrames);

// Whether a target ran dry since it was last written to: its queue is empty
// and more time has passed than the audio it was left with lasts, and than
// stillPlaying frames after that. An empty queue alone is not enough: a
// device that takes whole periods empties it as a period starts to play,
// and may still be playing it (stillPlaying: that period, where nothing
// else tells when it ends).
bool RanDry(uint32_t queuedFrames, uint32_t queuedAfterLastWrite, double framesElapsed, uint32_t stillPlaying);

// The same judged by the stream's clock, where it has one: its queue is
// empty and it has played everything ever written to it. It catches a
// device that hands its queue on at once to a buffer of its own (as some
// sound servers do) and shows an empty queue while plenty is still to be
// heard; but such a server's clock may count what it took as played, so
// the engine asks for both judgements. A clock by which more is waiting
// than the stream's buffer holds is not counting this stream's frames (one
// sound system starts it again from zero when the stream's rate changes,
// and runs it off by the square of the rate): it has no say then.
bool RanDryByClock(uint32_t queuedFrames, uint64_t framesWritten, double framesPlayed, uint32_t bufferFrames);

// One reading of a target when a packet comes for it.
struct QueueReading {
    uint32_t queued = 0;
    uint32_t queuedAfterLastWrite = 0;
    double framesElapsed = 0.0;  // since that write
    bool clocked = false;        // the stream's clock was read
    uint64_t framesWritten = 0;
    double framesPlayed = 0.0;   // by the clock
};

// Whether a target ran dry, kept across its packets. A device that takes
// whole periods empties its queue as a period starts to play. A clock that
// has shown audio past the queue tells when that period has played, and
// both judgements must agree. A clock that only ever repeats the queue (one
// sound server keeps its clock as its count, lowered a period at each tick
// of a timer of its own) tells no more than the queue, and nor does a
// stream without one: while the queue has only ever fallen by whole
// periods, an empty one shows the cushion gone only once a period more has
// passed, or once it has read empty at three packets in a row. Judged
// without that period, a packet that comes just after such a tick, behind
// one that came just before it, reads the queue empty while a period still
// plays, and the silence topping it up would be heard; packets that come
// about as the ticks do read that now and then, seldom twice in a row. A
// cushion really gone (a device that runs faster than the source) reads
// empty at packet after packet. A queue that falls by other amounts drains
// as it plays: empty is empty.
class DryJudge {
public:
    bool RanDry(const QueueReading& reading, uint32_t bufferFrames, uint32_t periodFrames);

private:
    void Learn(const QueueReading& reading, uint32_t bufferFrames, uint32_t periodFrames);

    bool clockShowsAudioPastQueue_ = false;
    bool queueFallsByOtherThanPeriods_ = false;
    uint32_t emptyInARow_ = 0;
};

// Silence queued ahead of a target when the streams start, and when a target
// is reopened while the source keeps running.
uint32_t StartPrimingFrames(uint32_t bufferFrames);
uint32_t RebuildPrimingFrames(uint32_t bufferFrames);

// Requested stream buffer duration in 100-nanosecond units.
int64_t BufferDurationFromMs(float bufferMs);

// Frames in one device period (10 ms where the period is not known).
uint32_t PeriodFrames(int64_t devicePeriod, uint32_t sampleRate);
