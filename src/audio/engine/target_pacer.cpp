#include "audio/engine/target_pacer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/engine/frame_policy.h"
#include "audio/engine/soft_rate.h"

namespace {
// Where an empty queue may still be playing a period: readings in a row
// that show the cushion gone all the same.
constexpr uint32_t kEmptyReadingsOfAGoneCushion = 3;

// A target within a quarter of a millisecond of the set point after its
// queue read empty is left as it is (the controller's), not spliced.
constexpr double kRealignWithinPerSecond = 4000.0;

bool CameLate(double framesSinceLastWrite, const PacerSettings& settings) {
    return 4.0 * (framesSinceLastWrite - settings.packetFrames) > static_cast<double>(settings.cushionFrames);
}

enum class AfterDry {
    Wait,       // too early to tell
    Recovered,  // the packets behind the late one brought the cushion back
    TopUp,      // bring the queue up to the cushion now
};

AfterDry JudgeAfterDry(double framesGivenSinceDry, double framesSinceDry, const PacerSettings& settings) {
    if (2.0 * (framesGivenSinceDry - framesSinceDry) >= static_cast<double>(settings.cushionFrames)) {
        return AfterDry::Recovered;
    }
    return 2.0 * framesSinceDry >= static_cast<double>(settings.packetFrames) ? AfterDry::TopUp : AfterDry::Wait;
}

// Frames a buffer has room for. A device reporting more queued frames than
// its buffer holds would otherwise wrap the room around to four billion.
uint32_t Room(uint32_t bufferFrames, uint32_t queuedFrames) {
    return queuedFrames < bufferFrames ? bufferFrames - queuedFrames : 0u;
}

// The time since the last write beyond the audio it left queued.
double FramesGoneWithout(const PacketArrival& arrival) {
    return std::max(0.0, arrival.framesSinceLastWrite - static_cast<double>(arrival.queuedAfterLastWrite));
}
}  // namespace

uint32_t TargetFrameCount(uint32_t packetFrames, uint32_t queuedFrames, uint32_t bufferFrames,
                          uint32_t cushionFrames) {
    const uint64_t limit = uint64_t{cushionFrames} + 2u * uint64_t{packetFrames};
    uint32_t frames = packetFrames;
    if (queuedFrames > limit) {
        const uint64_t excess = queuedFrames - limit;
        frames -= static_cast<uint32_t>(std::min<uint64_t>((excess + 1u) / 2u, packetFrames / 2u));
    }
    return std::min(frames, Room(bufferFrames, queuedFrames));
}

uint32_t SoftFrameCount(uint32_t packetFrames, uint32_t queuedFrames, uint32_t bufferFrames, double ratio) {
    const uint32_t room = Room(bufferFrames, queuedFrames);
    if (SoftRate::MostOut(packetFrames, ratio) <= room) {
        return packetFrames;
    }
    return static_cast<uint32_t>(std::floor(room * std::min(ratio, 1.0)));
}

// A stamp more than a second old, or ahead of now by more than the packet,
// is a device's error, not a late pass.
double SecondsLate(double firstFrameAt, uint32_t frames, double sampleRate, double now) {
    if (firstFrameAt <= 0.0 || sampleRate <= 0.0) {
        return 0.0;
    }
    const double packet = frames / sampleRate;
    const double late = now - (firstFrameAt + packet);
    return late >= -packet && late <= 1.0 ? late : 0.0;
}

uint32_t TopUpFrames(uint32_t queuedFrames, uint32_t cushionFrames, uint32_t bufferFrames) {
    const uint32_t level = std::min(cushionFrames, bufferFrames);
    return queuedFrames < level ? level - queuedFrames : 0u;
}

bool ClockShowsAudioPastQueue(double waiting, uint32_t queuedFrames, uint32_t bufferFrames) {
    return waiting > static_cast<double>(queuedFrames) + 1.0 && waiting <= static_cast<double>(bufferFrames);
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
    Learn(reading, periodFrames);
    const bool periodMayPlay =
        !reading.clockCountsHeard && !queueFallsByOtherThanPeriods_ && emptyInARow_ < kEmptyReadingsOfAGoneCushion;
    return ::RanDry(reading.queued, reading.queuedAfterLastWrite, reading.framesElapsed,
                    periodMayPlay ? periodFrames : 0u) &&
           (!reading.clocked ||
            RanDryByClock(reading.queued, reading.framesWritten, reading.framesPlayed, bufferFrames));
}

void DryJudge::Learn(const QueueReading& reading, uint32_t periodFrames) {
    emptyInARow_ = reading.queued == 0 ? emptyInARow_ + 1 : 0;
    // An empty queue may have had less than a period left to take.
    if (reading.queued > 0 && reading.queued <= reading.queuedAfterLastWrite && periodFrames > 0 &&
        (reading.queuedAfterLastWrite - reading.queued) % periodFrames != 0) {
        queueFallsByOtherThanPeriods_ = true;
    }
}

DryStep DryWatch::Before(const PacketArrival& arrival, const PacerSettings& settings) {
    DryStep step;
    step.silence = SilenceBefore(arrival, settings);
    step.notTheClocks = step.silence + (arrival.ranDry ? FramesGoneWithout(arrival) : 0.0);
    return step;
}

uint32_t DryWatch::SilenceBefore(const PacketArrival& arrival, const PacerSettings& settings) {
    if (arrival.ranDry && !owed) {
        ++runs;
        owed = true;
        since = arrival.now;
        framesGivenSince = 0;
        if (!CameLate(arrival.framesSinceLastWrite, settings)) {
            return TopUp(arrival.queued, settings);
        }
    }
    if (!owed) {
        return 0;
    }
    switch (JudgeAfterDry(static_cast<double>(framesGivenSince), (arrival.now - since) * settings.sampleRate, settings)) {
    case AfterDry::Wait:
        return 0;
    case AfterDry::Recovered:
        owed = false;
        return 0;
    case AfterDry::TopUp:
        break;
    }
    return TopUp(arrival.queued, settings);
}

uint32_t DryWatch::TopUp(uint32_t queuedFrames, const PacerSettings& settings) {
    owed = false;
    ++topUps;
    return TopUpFrames(queuedFrames, settings.cushionFrames, settings.bufferFrames);
}

void ReplayHistory::Reserve(uint32_t capacityFrames, uint32_t bytesPerFrame) {
    bytes.assign(static_cast<size_t>(capacityFrames) * bytesPerFrame, 0);
    frameBytes = bytesPerFrame;
    capacity = bytes.empty() ? 0 : capacityFrames;
    next = held = 0;
}

void ReplayHistory::Append(const unsigned char* data, uint32_t frames) {
    if (capacity == 0) {
        return;
    }
    // Of a write larger than the history only its newest frames are kept.
    if (frames > capacity) {
        data += static_cast<size_t>(frames - capacity) * frameBytes;
        frames = capacity;
    }
    const uint32_t first = std::min(frames, capacity - next);
    std::memcpy(bytes.data() + static_cast<size_t>(next) * frameBytes, data, static_cast<size_t>(first) * frameBytes);
    std::memcpy(bytes.data(), data + static_cast<size_t>(first) * frameBytes,
                static_cast<size_t>(frames - first) * frameBytes);
    next = (next + frames) % capacity;
    held = std::min(capacity, held + frames);
}

uint32_t ReplayHistory::CopyNewest(uint32_t frames, unsigned char* out) const {
    frames = std::min(frames, held);
    if (frames == 0) {
        return 0;
    }
    const uint32_t start = (next + capacity - frames) % capacity;
    const uint32_t first = std::min(frames, capacity - start);
    std::memcpy(out, bytes.data() + static_cast<size_t>(start) * frameBytes, static_cast<size_t>(first) * frameBytes);
    std::memcpy(out + static_cast<size_t>(first) * frameBytes, bytes.data(),
                static_cast<size_t>(frames - first) * frameBytes);
    return frames;
}

// The replay history is sized off the packet path, and keeps nothing until
// Wine's quirk is seen. A first change, to the rate the stream plays at (or
// the test bias), is asked for at once: it shows how the stream takes one
// while nothing is heard yet, in the warm-up. A stream without a rate is
// played at one in software once its clock shows what is heard (Soft),
// where no change is heard.
TargetPacer::TargetPacer(const PacerSettings& settings)
    : settings_(settings),
      controller_(QueueSetPoint(settings.cushionFrames, settings.packetFrames), settings.sampleRate),
      adjustable_(settings.rateAdjustable) {
    controller_.ChangesAreSeamless(!adjustable_);
    if (adjustable_) {
        history_.Reserve(settings.bufferFrames, settings.frameBytes);
        wantedHz_ = settings.sampleRate * settings.rateBias;
        Ask();
    }
}

int32_t TargetPacer::RatePpm() const {
    return static_cast<int32_t>(std::lround((controller_.Rate() - 1.0) * 1e6));
}

uint32_t TargetPacer::WarmupSilence(uint32_t queued, uint32_t packetFrames) const {
    return TopUpFrames(queued, settings_.cushionFrames + packetFrames, settings_.bufferFrames);
}

// The first packet, and the first after the source paused for longer than
// the cushion lasts (a loopback capture delivers nothing while nothing plays
// and flags the packet that follows), is a fresh start: the queue is primed
// and the packet goes behind it; the controller learns nothing from the time
// without packets. A merely late packet is not flagged: others follow it.
// Where the clock counts what is heard, the packet's wait to be heard, from
// when it was complete, is what is primed and held: the same on every
// target of one setting, so that they play it together whatever the phase of
// their devices' periods, and the time from capture to ear stays the same
// however late a pass comes.
PacketPlan TargetPacer::Plan(const StreamReading& reading, uint32_t packetFrames, bool discontinuous, double now,
                             double late) {
    const bool idle = Idle(now);
    const bool fresh = !started_ || (discontinuous && idle);
    const double wait = HeardClockLeads(reading)
                            ? static_cast<double>(written_) - Played(reading) + late * settings_.sampleRate
                            : -1.0;
    lastPacket_ = now;
    queuedAtPlan_ = reading.queued;
    PacketPlan plan = fresh ? FreshPlan(reading.queued, packetFrames, wait, now)
                            : FollowingPlan(reading, packetFrames, wait, idle, now, late);
    const uint32_t queuedThen = reading.queued + plan.silence;
    plan.frames = std::min(plan.frames, Soft() ? SoftFrameCount(packetFrames, queuedThen, settings_.bufferFrames,
                                                                SoftRatio())
                                               : TargetFrameCount(packetFrames, queuedThen, settings_.bufferFrames,
                                                                  settings_.cushionFrames));
    framesLeftOut_ += packetFrames - plan.frames;
    Tell(-static_cast<double>(packetFrames - plan.frames));
    return plan;
}

// `wait`: the packet's wait to be heard by the clock, below 0 where the clock
// does not give it. Started from an empty queue, the device's next pass was
// only foreseen: once a pass has taken from the queue, Recheck sees where it
// stands.
PacketPlan TargetPacer::FreshPlan(uint32_t queued, uint32_t packetFrames, double wait, double now) {
    const PacketPlan plan = wait >= 0.0 ? FreshByClock(wait + IdleWait(queued, now), queued, packetFrames)
                                        : PacketPlan{TopUpFrames(queued, FreshLevel(now), settings_.bufferFrames),
                                                     packetFrames};
    watch_.owed = false;
    controller_.Restart();
    recheck_ = wait >= 0.0 && queued == 0;
    realign_ = untold_ = false;
    return plan;
}

// A packet that follows on: silence where the target ran dry, the
// controller told its wait, and where a check is pending, the target put
// back at the set point once a pass has taken from the queue (until then,
// the checks wait).
PacketPlan TargetPacer::FollowingPlan(const StreamReading& reading, uint32_t packetFrames, double wait, bool idle,
                                      double now, double late) {
    const bool timed = wait >= 0.0;
    const bool realigning = realign_;
    realign_ = realigning || (timed && reading.queued == 0);
    untold_ = realign_;
    PacketPlan plan{SilenceAfterDry(reading, now), packetFrames};
    if (timed && !realign_ && !idle) {
        Steer(wait, now - late);
    }
    plan = timed && recheck_ ? Recheck(plan, wait, reading.queued) : plan;
    plan = timed && realigning ? Realign(plan, wait, reading.queued) : plan;
    recheck_ = recheck_ && reading.queued >= queuedAfterWrite_;
    realign_ = realign_ && clockHasSay_;
    return plan;
}

// What moved the queue other than the clocks, for the rate controller; not
// while a target that ran dry is put back at the set point by its clock,
// which undoes all of it.
void TargetPacer::Tell(double frames) {
    if (!untold_) {
        controller_.Adjusted(frames);
    }
}

// Stream frames heard by the clock's reading: it counts at a frequency fixed
// for the stream's life whatever its rate, so its position is the stream's
// frames at their nominal rate.
double TargetPacer::Played(const StreamReading& reading) const {
    return static_cast<double>(reading.position) * settings_.sampleRate /
           static_cast<double>(settings_.clockFrequency);
}

// Windows' clock counts what is heard: between two passes it stands past
// the queue by what of the last period is still to play. A clock that only
// repeats the queue (Wine's), or started again, tells no more than the queue;
// none is read while a rate change is on its way, as one may start the clock
// again (Wine's) before the change is judged.
bool TargetPacer::HeardClockLeads(const StreamReading& reading) {
    if (!clockHasSay_ || mailbox_->Changing() || !reading.clocked || settings_.clockFrequency == 0) {
        return false;
    }
    const double waiting = static_cast<double>(written_) - Played(reading);
    clockCountsHeard_ = clockCountsHeard_ || ClockShowsAudioPastQueue(waiting, reading.queued, settings_.bufferFrames);
    // A clock by which more waits than the buffer holds, or more was heard
    // than written, does not count what is heard of these writes.
    clockHasSay_ = !clockCountsHeard_ || (waiting >= -1.0 && waiting <= settings_.bufferFrames + 1.0);
    return clockCountsHeard_ && clockHasSay_;
}

// A device that has nothing queued plays nothing: what is written now waits
// for its next pass before it starts to be heard, and the clock stands still
// meanwhile.
double TargetPacer::IdleWait(uint32_t queued, double now) const {
    return queued == 0 ? std::max(UntilTake(now), 0.0) * settings_.sampleRate : 0.0;
}

// A fresh packet waits the set point to be heard: silence before it where
// the wait is shorter, and where it is longer (the warm-up's queue) its
// tail is left out, so that the next packet follows at the set point.
PacketPlan TargetPacer::FreshByClock(double wait, uint32_t queued, uint32_t packetFrames) const {
    const PacketPlan plan{0, packetFrames};
    return TowardSetPoint(plan, OffSetPoint(plan, wait), queued);
}

// Frames of silence the plan's packet lacks to wait the set point to be
// heard (below 0: frames it waits too long).
double TargetPacer::OffSetPoint(const PacketPlan& plan, double wait) const {
    return QueueSetPoint(settings_.cushionFrames, settings_.packetFrames) - wait - plan.silence;
}

// A start from an empty queue foresaw the device's next pass; once a pass
// has taken from the queue the clock shows where the packets stand. A pass
// foreseen on the wrong side of the packet puts them a period off: that is
// put right at once, the lesser errors are the controller's.
PacketPlan TargetPacer::Recheck(PacketPlan plan, double wait, uint32_t queued) const {
    const double off = OffSetPoint(plan, wait);
    if (queued >= queuedAfterWrite_ || 2.0 * std::fabs(off) <= settings_.packetFrames) {
        return plan;
    }
    return TowardSetPoint(plan, off, queued);
}

// A queue read empty at a packet may have run dry, if only for part of a
// period, and a device that ran dry starts again at a pass of its own while
// the packets held up meanwhile come at once. So once a pass has taken from
// the queue again, the clock shows how far the target stands off the set
// point, and it is put back there as a fresh start is; the controller is
// told nothing from the empty reading until then. What that leaves out
// goes at most half a packet at a time, so that each packet is spliced,
// not skipped. Left to the controller, targets of one setting would play
// up to a period apart for half a minute after every hold-up.
PacketPlan TargetPacer::Realign(PacketPlan plan, double wait, uint32_t queued) {
    if (queued >= queuedAfterWrite_) {
        return plan;
    }
    const double off = OffSetPoint(plan, wait);
    const double most = -0.5 * plan.frames;
    realign_ = off < most;
    return std::fabs(off) * kRealignWithinPerSecond < settings_.sampleRate
               ? plan
               : TowardSetPoint(plan, std::max(off, most), queued);
}

// `off` frames more silence before the plan's frames (within the buffer), or
// where below 0 that many fewer of its frames.
PacketPlan TargetPacer::TowardSetPoint(PacketPlan plan, double off, uint32_t queued) const {
    const auto apart = static_cast<uint32_t>(std::lround(std::fabs(off)));
    const uint32_t room = Room(settings_.bufferFrames, queued + plan.silence);
    return off > 0.0 ? PacketPlan{plan.silence + std::min(apart, room), plan.frames}
                     : PacketPlan{plan.silence, plan.frames - std::min(apart, plan.frames)};
}

// The controller is told each packet's wait to be heard where the clock
// gives it, and decides a rate from those.
void TargetPacer::Steer(double wait, double now) {
    if (Steered() && controller_.Update(wait, now) && adjustable_) {
        wantedHz_ = settings_.sampleRate * controller_.Rate() * settings_.rateBias;
    }
}

uint32_t TargetPacer::SilenceAfterDry(const StreamReading& reading, double now) {
    const double elapsed = FramesSince(lastWrite_, now);
    QueueReading judged{reading.queued, queuedAfterWrite_, elapsed, false, written_, 0.0, clockCountsHeard_};
    judged.clocked = clockHasSay_ && reading.clocked && settings_.clockFrequency > 0;
    if (judged.clocked) {
        judged.framesPlayed = Played(reading);
    }
    const bool dry = judge_.RanDry(judged, settings_.bufferFrames, settings_.packetFrames);
    const DryStep step = watch_.Before({now, elapsed, queuedAfterWrite_, reading.queued, dry}, settings_);
    Tell(step.notTheClocks - step.silence);
    return step.silence;
}

// Nothing written leaves the target as it was: a fresh start stays to come,
// and the time since its last write is still counted from that write.
void TargetPacer::Wrote(uint32_t silence, uint32_t frames, double now) {
    written_ += silence + frames;
    Tell(silence);
    if (silence + frames == 0) {
        return;
    }
    started_ = true;
    watch_.Given(frames);
    queuedAfterWrite_ = queuedAtPlan_ + silence + frames;
    lastWrite_ = now;
}

void TargetPacer::LeftOut(uint32_t frames) {
    framesLeftOut_ += frames;
    Tell(-static_cast<double>(frames));
}

void TargetPacer::Keep(const unsigned char* data, uint32_t frames) {
    if (wineQuirkSeen_) {
        history_.Append(data, frames);
    }
}

// Where the device's passes fall between packets is kept through a pause
// (they follow the device's clock, packets the source's), and with it how
// high the queue averages above its level before a packet: it starts at the
// level that averages the set point (the cushion until a pass was seen).
uint32_t TargetPacer::FreshLevel(double now) const {
    const double untilTake = UntilTake(now);
    if (untilTake < 0.0) {
        return settings_.cushionFrames;
    }
    const double level = QueueSetPoint(settings_.cushionFrames, settings_.packetFrames) -
                         settings_.packetFrames * untilTake / TakePeriod();
    return static_cast<uint32_t>(std::lround(std::max(level, 0.0)));
}

// Seconds to the device's next pass as foreseen; below 0 where no pass was
// seen yet.
double TargetPacer::UntilTake(double now) const {
    const double period = TakePeriod();
    if (nextTake_ <= 0.0 || period <= 0.0) {
        return -1.0;
    }
    return std::fmod(std::fmod(nextTake_ - now, period) + period, period);
}

// A pass every period of the source's, at the rate that makes up for the
// clocks' difference.
double TargetPacer::TakePeriod() const {
    return settings_.packetFrames / settings_.sampleRate * controller_.Rate();
}

// A queue lower than at the reading before had a period taken in between:
// the pass foreseen is moved into that stretch, which over many passes pins
// it down closer than the readings are apart.
void TargetPacer::NoteTake(uint32_t queued, double now) {
    if (queued < lastReading_) {
        const double period = TakePeriod();
        double foreseen = nextTake_ > 0.0 ? nextTake_ : now;
        foreseen -= std::floor((foreseen - lastReadingAt_) / period) * period;
        nextTake_ = std::clamp(foreseen, lastReadingAt_, now) + period;
    }
    lastReading_ = queued;
    lastReadingAt_ = now;
}

// A target without packets for as long as its cushion lasts (the source
// paused, or its packets are held up) shows nothing of the clocks.
bool TargetPacer::Idle(double now) const {
    return FramesSince(lastPacket_, now) > settings_.cushionFrames + settings_.packetFrames;
}

// The controller is told the queue between two readings, at the middle of
// that stretch: readings just before and after a packet, at one moment,
// would weigh that moment twice.
uint32_t TargetPacer::Pass(uint32_t queued, double now) {
    const bool between = now > lastReadingAt_;
    const double level = (static_cast<double>(lastReading_) + queued) / 2.0;
    const double at = (lastReadingAt_ + now) / 2.0;
    NoteTake(queued, now);
    const uint32_t again = mailbox_->At(RateMailbox::Stage::Applied) ? Settle(queued, now) : 0u;
    if (started_ && between && !Idle(now) && !TimedByClock()) {
        Steer(level, at);
    }
    Ask();
    return again;
}

// A rate decided while the last change is still on its way waits for it.
void TargetPacer::Ask() {
    if (wantedHz_ <= 0.0 || !adjustable_ || !mailbox_->At(RateMailbox::Stage::Free)) {
        return;
    }
    mailbox_->change = RateChange{};
    mailbox_->change.hz = wantedHz_;
    wantedHz_ = 0.0;
    mailbox_->HandOn(RateMailbox::Stage::Asked);
}

// A stream that refused a rate is left at its own: played at one in
// software where its clock counts what is heard, else kept by the frame
// count.
// One that kept its queue is held closely (its changes are not heard); one
// that threw it away (Wine's quirk; no pass takes two packets' worth at
// once, and its clock starts again, which then tells nothing of what is
// heard) is seldom changed, and what it loses at later changes is queued
// again from what it is given from now on.
uint32_t TargetPacer::Settle(uint32_t queued, double now) {
    RateChange& change = mailbox_->change;
    change.announce = !controller_.Seamless();
    adjustable_ = change.result >= 0;
    const bool thrownAway = change.ClockWentBack() || (change.queueRead && change.after.queued == 0 &&
                                                       change.before.queued > 2 * settings_.packetFrames);
    if (!adjustable_ || !thrownAway) {
        const bool kept = controller_.Seamless() || wineQuirkSeen_;
        change.outcome = !adjustable_ ? RateOutcome::Refused : kept ? RateOutcome::Kept : RateOutcome::Seamless;
        controller_.ChangesAreSeamless(!wineQuirkSeen_ || !adjustable_);
        Finish(0);
        return 0;
    }
    const uint32_t again =
        wineQuirkSeen_ ? std::min({change.Lost(), history_.Held(), Room(settings_.bufferFrames, queued)}) : 0u;
    change.outcome = wineQuirkSeen_ ? RateOutcome::Dropped : RateOutcome::DroppedFirst;
    wineQuirkSeen_ = true;
    clockHasSay_ = false;
    controller_.ChangesAreSeamless(false);
    queuedAtPlan_ = queued;
    if (again == 0) {
        Replayed(0, now);
    }
    return again;
}

// The queue as the change left it is where the dry judgement goes on from.
void TargetPacer::Replayed(uint32_t frames, double now) {
    written_ += frames;
    queuedAfterWrite_ = queuedAtPlan_ + frames;
    lastWrite_ = now;
    Finish(frames);
}

void TargetPacer::Finish(uint32_t queuedAgain) {
    mailbox_->change.queuedAgain = queuedAgain;
    mailbox_->HandOn(RateMailbox::Stage::Judged);
}
