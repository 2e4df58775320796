#pragma once

// Everything one target decides per packet: the cushion, whether it ran dry,
// the silence and the packet's frames it is given, the start after a pause
// and the rate it plays at. Platform-free; the redirect thread and the
// delivery simulation call the same pacer. Per packet: read the stream, Plan,
// write silence then that many frames, tell it what the stream took (Wrote).
// Per pass: the queue (Pass). Written to Windows' documentation
// (bench/stream_model.h cites it): the queue drains in device periods, the
// clock counts what is heard at a fixed frequency, a rate change keeps the
// queue. Where the clock is seen to count what is heard, each packet's wait
// to be heard (written less played) is what the start primes, the rate
// controller holds and a target that ran dry is put back at, so targets of
// one setting play a packet together; where it only repeats the queue, the
// queue between passes stands in for it.
// Wine's rate change, which throws the queue away and starts the clock
// again, is worked around only once seen on that stream. A stream without a
// rate to set whose clock counts what is heard is played at the controller's
// rate in software (SoftRate): leaving whole chunks out to keep its queue
// would be heard. One whose clock only repeats the queue (Wine 8's) is kept
// by the frame count: its queue steps up by whole periods when the host
// holds its timer back and never steps down, which no rate can follow.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/rate_controller.h"

// Frames of a packet a target is given. A queue up to two packets above the
// cushion takes all of it (as much as there is room for): equal clocks lose
// nothing, and a burst or a stalled device is absorbed. Above that the source
// runs faster, and half the excess, at most half a packet, is left out. A
// queue reported larger than the buffer counts as a full one.
uint32_t TargetFrameCount(uint32_t packetFrames, uint32_t queuedFrames, uint32_t bufferFrames,
                          uint32_t cushionFrames);

// The same where the target's rate is played in software (SoftRate) at
// `ratio`: that rate keeps the queue, so all of the packet is taken that
// fits the buffer once played at it.
uint32_t SoftFrameCount(uint32_t packetFrames, uint32_t queuedFrames, uint32_t bufferFrames, double ratio);

// Silence that brings a queue up to the cushion (within the buffer).
uint32_t TopUpFrames(uint32_t queuedFrames, uint32_t cushionFrames, uint32_t bufferFrames);

// Whether a target ran dry since its last write: its queue is empty and more
// time has passed than what it was left with lasts, plus stillPlaying (a
// device that takes whole periods empties the queue as a period starts).
bool RanDry(uint32_t queuedFrames, uint32_t queuedAfterLastWrite, double framesElapsed, uint32_t stillPlaying);

// The same by the stream's clock: empty, and all written was heard. A clock
// by which more waits than the buffer holds has no say.
bool RanDryByClock(uint32_t queuedFrames, uint64_t framesWritten, double framesPlayed, uint32_t bufferFrames);

// How long after a capture packet was complete it is delivered, from the
// capture's time stamp of its first frame (seconds on the delivery's clock);
// 0 where the stamp is missing or beyond belief. Windows stamps each packet
// with the performance counter at its first frame, in 100 ns units, and
// flags a stamp it got wrong (AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR):
//   "IAudioCaptureClient::GetBuffer method (audioclient.h)",
//   learn.microsoft.com/en-us/windows/desktop/api/Audioclient/nf-audioclient-iaudiocaptureclient-getbuffer
double SecondsLate(double firstFrameAt, uint32_t frames, double sampleRate, double now);

// One reading of a target when a packet comes for it.
struct QueueReading {
    uint32_t queued = 0;
    uint32_t queuedAfterLastWrite = 0;
    double framesElapsed = 0.0;  // since that write
    bool clocked = false;        // the stream's clock was read
    uint64_t framesWritten = 0;
    double framesPlayed = 0.0;   // by the clock
    // The clock has shown audio past the queue (ClockShowsAudioPastQueue):
    // it counts what is heard. Learnt by the target's pacer.
    bool clockCountsHeard = false;
};

// Whether a clock by which `waiting` frames were written and not yet heard
// shows audio on its way past the queue: more than is queued (by more than
// a frame), within the buffer.
bool ClockShowsAudioPastQueue(double waiting, uint32_t queuedFrames, uint32_t bufferFrames);

// Whether a target ran dry, kept across its packets. A clock that counts
// what is heard (Windows') tells when the period that emptied the queue has
// played; both judgements must agree. One that only repeats the queue
// (Wine's) tells no more than no clock: while the queue has only fallen by
// whole periods, empty shows the cushion gone only a period later, or at
// three packets in a row. A queue that falls by other amounts drains as it
// plays: empty is empty.
class DryJudge {
public:
    bool RanDry(const QueueReading& reading, uint32_t bufferFrames, uint32_t periodFrames);

private:
    void Learn(const QueueReading& reading, uint32_t periodFrames);

    bool queueFallsByOtherThanPeriods_ = false;
    uint32_t emptyInARow_ = 0;
};

// Fixed for a target's life.
struct PacerSettings {
    double sampleRate = 0.0;      // the stream's nominal frames per second
    uint32_t cushionFrames = 0;
    uint32_t packetFrames = 0;    // one device period at the source's rate
    uint32_t bufferFrames = 0;
    uint32_t frameBytes = 0;
    uint64_t clockFrequency = 0;  // 0: no clock
    bool rateAdjustable = false;
    double rateBias = 1.0;        // a deliberate error of the rate, for tests
};

// What a target finds when a packet comes for it (frames at its rate).
struct PacketArrival {
    double now = 0.0;                  // seconds
    double framesSinceLastWrite = 0.0;
    uint32_t queuedAfterLastWrite = 0;
    uint32_t queued = 0;
    bool ranDry = false;               // as a DryJudge judges it
};

// Silence ahead of the packet, and the frames by which the queue reads higher
// than the clocks make it (that silence, and the time a dry target went
// without), for the rate controller.
struct DryStep {
    uint32_t silence = 0;
    double notTheClocks = 0.0;
};

// A target's account of running dry. A packet on time (up to a quarter of
// the cushion late) that found the queue empty shows the cushion gone: topped
// up at once. A later one mostly has others held up behind it, which refill
// the queue; silence then would lengthen the gap and the delay for good. So it
// waits: while the frames the stream took since, less the time since, stay
// below half the cushion half a packet after it ran dry, it is topped up.
struct DryWatch {
    bool owed = false;           // ran dry late, neither recovered nor topped up yet
    double since = 0.0;          // when it ran dry, in seconds
    uint64_t framesGivenSince = 0;
    uint32_t runs = 0;           // times it ran dry
    uint32_t topUps = 0;         // of those, brought back with silence

    DryStep Before(const PacketArrival& arrival, const PacerSettings& settings);
    // Frames of a packet the stream took.
    void Given(uint32_t frames) { framesGivenSince += owed ? frames : 0u; }

private:
    uint32_t SilenceBefore(const PacketArrival& arrival, const PacerSettings& settings);
    uint32_t TopUp(uint32_t queuedFrames, const PacerSettings& settings);
};

// The newest frames written to a target, byte for byte: Wine's workaround,
// what a rate change threw away is queued again from here. Sized off the
// packet path; a size of 0 keeps nothing.
class ReplayHistory {
public:
    void Reserve(uint32_t capacityFrames, uint32_t frameBytes);
    // Keeps `frames` frames just written (the oldest give way). Allocates nothing.
    void Append(const unsigned char* data, uint32_t frames);
    // Copies the newest `frames` frames, oldest first; returns how many (at most Held()).
    uint32_t CopyNewest(uint32_t frames, unsigned char* out) const;
    uint32_t Held() const { return held; }

private:
    std::vector<unsigned char> bytes;
    size_t frameBytes = 0;
    uint32_t capacity = 0;  // frames
    uint32_t next = 0;      // the frame the next Append writes
    uint32_t held = 0;
};

// What the redirect thread reads of a target's stream.
struct StreamReading {
    uint32_t queued = 0;     // GetCurrentPadding
    bool clocked = false;    // IAudioClock::GetPosition succeeded
    uint64_t position = 0;   // in the clock's units
};

// What becomes of a rate change, for the log.
enum class RateOutcome {
    Kept,          // the stream plays on (nothing more to say)
    Seamless,      // the first change that kept the queue: held closely from now on
    DroppedFirst,  // Wine's: the queue thrown away; kept from now on to queue it again
    Dropped,       // ... and queued again
    Refused,
};

// One rate change, filled in turn: the redirect thread asks, the applier
// thread applies it (not on a real-time thread) and reads the stream around
// the call, the redirect thread judges it, the applier logs it.
struct RateChange {
    double hz = 0.0;
    int32_t result = 0;  // SetSampleRate's
    StreamReading before;
    StreamReading after;
    bool queueRead = false;  // both queue readings succeeded
    RateOutcome outcome = RateOutcome::Kept;
    bool announce = false;  // say the new rate (not while held closely)
    uint32_t queuedAgain = 0;

    bool ClockWentBack() const { return before.clocked && after.clocked && after.position < before.position; }
    // What the queue lost across the call.
    uint32_t Lost() const { return queueRead && before.queued > after.queued ? before.queued - after.queued : 0u; }
};

// One target's rate change between the two threads, without a lock: each side
// touches `change` only in its own stages, and moves the stage only from one
// it is at. The redirect thread may also hold the stream still for a
// packet's writes (Wine's workaround below); the applier does not begin a
// change while it is held. Hold, Unhold: the redirect thread; Apply: the
// applier thread.
class RateMailbox {
public:
    enum class Stage : uint8_t { Free, Asked, Applying, Applied, Judged };
    bool At(Stage stage) const { return StageOf(word_.load(std::memory_order_acquire)) == stage; }
    // Asked, being applied or applied, not yet judged.
    bool Changing() const {
        const Stage stage = StageOf(word_.load(std::memory_order_acquire));
        return stage == Stage::Asked || stage == Stage::Applying || stage == Stage::Applied;
    }
    void HandOn(Stage next) {
        uint8_t word = word_.load(std::memory_order_relaxed);
        while (!word_.compare_exchange_weak(word, (word & kHeld) | static_cast<uint8_t>(next),
                                            std::memory_order_acq_rel)) {
        }
    }
    // False, and nothing held, while a change is being applied.
    bool Hold() {
        const uint8_t was = word_.fetch_or(kHeld, std::memory_order_acq_rel);
        if (StageOf(was) == Stage::Applying) {
            Unhold();
            return false;
        }
        return true;
    }
    void Unhold() { word_.fetch_and(static_cast<uint8_t>(~kHeld), std::memory_order_acq_rel); }

    // The applier's part: read(reading) says whether the queue was read,
    // setRate(hz) returns SetSampleRate's result. False while the stream is
    // held (it is tried again later).
    template <typename Read, typename SetRate>
    bool Apply(Read read, SetRate setRate) {
        uint8_t asked = static_cast<uint8_t>(Stage::Asked);
        if (!word_.compare_exchange_strong(asked, static_cast<uint8_t>(Stage::Applying), std::memory_order_acq_rel)) {
            return false;
        }
        const bool beforeRead = read(change.before);
        change.result = setRate(change.hz);
        change.queueRead = read(change.after) && beforeRead;
        HandOn(Stage::Applied);
        return true;
    }

    RateChange change;

private:
    static constexpr uint8_t kHeld = 0x80;
    static Stage StageOf(uint8_t word) { return static_cast<Stage>(word & (kHeld - 1)); }

    std::atomic<uint8_t> word_{static_cast<uint8_t>(Stage::Free)};
};

struct PacketPlan {
    uint32_t silence = 0;  // frames of silence first
    uint32_t frames = 0;   // then this many frames of the packet; the rest is left out
};

class TargetPacer {
public:
    TargetPacer() = default;
    explicit TargetPacer(const PacerSettings& settings);

    // While the source warms up: silence that holds the queue where delivery
    // would leave it, at the cushion and a packet.
    uint32_t WarmupSilence(uint32_t queued, uint32_t packetFrames) const;
    // Silence written outside delivery (priming, warm-up).
    void Primed(uint32_t frames) { written_ += frames; }
    // Frames left out beyond the plan, where that joins the packet better
    // (PacketSplice).
    void LeftOut(uint32_t frames);

    // A packet of packetFrames comes at `now`, `late` seconds after it was
    // complete (SecondsLate); `discontinuous` where the capture says it does
    // not follow on from the one before.
    PacketPlan Plan(const StreamReading& reading, uint32_t packetFrames, bool discontinuous, double now,
                    double late = 0.0);
    // What the stream took of the plan.
    void Wrote(uint32_t silence, uint32_t frames, double now);
    // Keeps frames just written where Wine's workaround needs them.
    void Keep(const unsigned char* data, uint32_t frames);

    // Every pass, before and after its packets: the queue. Returns frames to
    // queue again (Wine's workaround), written with CopyReplay and told with
    // Replayed.
    uint32_t Pass(uint32_t queued, double now);
    uint32_t CopyReplay(uint32_t frames, unsigned char* out) const { return history_.CopyNewest(frames, out); }
    void Replayed(uint32_t frames, double now);

    // The applier thread's side of the rate changes; stable for the pacer's life.
    RateMailbox& Mailbox() { return *mailbox_; }
    // Around each packet's writes. False where the packet must wait for the
    // next pass: a rate change is being made on a stream seen to throw its
    // queue away at one, and what that throws away is to be queued again
    // ahead of the packet, not after it. Other streams are never held.
    bool BeginPacket() { return !wineQuirkSeen_ || mailbox_->Hold(); }
    // Clears the hold where BeginPacket may have set it: the quirk, once
    // seen, stays seen (first seen during a packet, it clears a bit never set).
    void EndPacket() {
        if (wineQuirkSeen_) {
            mailbox_->Unhold();
        }
    }

    bool Started() const { return started_; }
    uint32_t DryRuns() const { return watch_.runs; }
    uint32_t TopUps() const { return watch_.topUps; }
    uint64_t FramesLeftOut() const { return framesLeftOut_; }
    double Rate() const { return controller_.Rate(); }
    // The same as a correction in parts per million (above 0: faster).
    int32_t RatePpm() const;
    uint32_t CushionFrames() const { return settings_.cushionFrames; }
    // The queue reading the last plan was made from.
    uint32_t QueuedAtPlan() const { return queuedAtPlan_; }
    bool Adjustable() const { return adjustable_; }
    // Whether the controller steers the target: by the stream's rate where
    // it is adjustable, else in software at SoftRatio.
    bool Steered() const { return adjustable_ || Soft(); }
    // Whether its packets are played at the controller's rate in software (a
    // stream without a rate whose clock counts what is heard), and that rate
    // (1: none).
    bool Soft() const { return !adjustable_ && TimedByClock(); }
    double SoftRatio() const { return Soft() ? controller_.Rate() : 1.0; }
    // Whether packets are timed by what the clock says is heard (not only
    // by the queue).
    bool TimedByClock() const { return clockCountsHeard_ && clockHasSay_; }

private:
    double Played(const StreamReading& reading) const;
    bool HeardClockLeads(const StreamReading& reading);
    PacketPlan FreshPlan(uint32_t queued, uint32_t packetFrames, double wait, double now);
    PacketPlan FollowingPlan(const StreamReading& reading, uint32_t packetFrames, double wait, bool idle, double now,
                             double late);
    PacketPlan FreshByClock(double wait, uint32_t queued, uint32_t packetFrames) const;
    double OffSetPoint(const PacketPlan& plan, double wait) const;
    PacketPlan Recheck(PacketPlan plan, double wait, uint32_t queued) const;
    PacketPlan Realign(PacketPlan plan, double wait, uint32_t queued);
    PacketPlan TowardSetPoint(PacketPlan plan, double off, uint32_t queued) const;
    void Steer(double level, double now);  // tells the rate controller
    uint32_t SilenceAfterDry(const StreamReading& reading, double now);
    void Tell(double frames);
    double FramesSince(double then, double now) const { return (now - then) * settings_.sampleRate; }
    bool Idle(double now) const;
    uint32_t FreshLevel(double now) const;
    double UntilTake(double now) const;
    double IdleWait(uint32_t queued, double now) const;
    double TakePeriod() const;
    void NoteTake(uint32_t queued, double now);
    uint32_t Settle(uint32_t queued, double now);
    void Finish(uint32_t queuedAgain);
    void Ask();

    PacerSettings settings_;
    RateController controller_{0.0, 0.0};
    DryJudge judge_;
    DryWatch watch_;
    ReplayHistory history_;
    std::unique_ptr<RateMailbox> mailbox_ = std::make_unique<RateMailbox>();
    bool started_ = false;
    bool adjustable_ = false;
    bool wineQuirkSeen_ = false;  // a rate change threw the queue away
    bool clockHasSay_ = true;     // not once the clock started again or strayed past the buffer
    bool clockCountsHeard_ = false;  // it has stood past the queue
    bool recheck_ = false;           // started from an empty queue: see where it stands once played
    bool realign_ = false;           // read empty: put back at the set point once played
    bool untold_ = false;            // this packet's writes are part of that
    double wantedHz_ = 0.0;       // decided, not yet asked for
    double lastPacket_ = 0.0;     // seconds
    double nextTake_ = 0.0;       // the device's next pass, as foreseen
    double lastReadingAt_ = 0.0;
    uint32_t lastReading_ = 0;
    double lastWrite_ = 0.0;
    uint32_t queuedAtPlan_ = 0;
    uint32_t queuedAfterWrite_ = 0;
    uint64_t written_ = 0;
    uint64_t framesLeftOut_ = 0;
};
