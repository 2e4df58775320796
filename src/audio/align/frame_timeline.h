#pragma once

// When each frame of a stream was played or recorded, on the performance
// counter's time line, from readings of where the stream stood at known
// counter times:
// - a render stream's IAudioClock::GetPosition, the position the device
//   plays with the counter's value when it was read
//   (learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudioclock-getposition);
// - a capture packet's u64QPCPosition, when its first frame was recorded
//   (learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudiocaptureclient-getbuffer).
// Each reading gives where the stream's frame 0 stands; the line through
// them (ClockLine) takes out the readings' jitter and follows the drift of
// the device's clock against the counter.
//
// A stream that breaks moves every later frame: a render stream that ran
// dry has its silence filled in by the engine while its position stands
// still, and a capture packet flagged AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY
// follows sound that was lost. The frames after a break stand on a line of
// their own, so that one break neither moves the frames before it nor is
// averaged into the ones after.
//
// Platform-free; one thread (the alignment's worker).

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class FrameTimeline
{
public:
    explicit FrameTimeline(double rate = 48000.0) : rate_(rate) {}

    // Frame `frame` was played (or recorded) at `seconds` on the counter.
    void Note(double frame, double seconds);
    // The frames from `frame` on are played (or recorded) later than the
    // line so far says, by an amount only later readings tell.
    void Break(double frame);

    // When `frame` was (or will be) played or recorded, by the readings of
    // its stretch; before any stretch of it has a reading, by the closest
    // earlier one. Nothing when there is no reading at all.
    std::optional<double> TimeOf(double frame) const;
    // The frame played or recorded at `seconds`, within [0, `last`].
    double FrameAt(double seconds, double last) const;

private:
    struct Stretch
    {
        double from = 0.0;
        std::vector<double> frames;
        std::vector<double> origins;  // the counter's time of frame 0
    };
    const Stretch* ReadStretchFor(double frame) const;
    double OriginAt(const Stretch& stretch, double frame) const;

    double rate_;
    std::vector<Stretch> stretches_ = {Stretch{}};
};

// A microphone's packets on its time line: each by its stamp where the
// capture gives one it can trust, else, until it first does, by a guess (the
// time it was read less its length). A stamp says when the first frame was
// recorded; a guess is late by however long the packet waited, so the two are
// never fitted as one line: the first stamp starts a stretch of its own, and
// a packet without a trusted stamp after that adds nothing.
class PacketTimes
{
public:
    // A packet whose first frame is `frame`; `discontinuous`: the capture
    // says it does not follow on from the one before.
    void Add(FrameTimeline& timeline, double frame, std::optional<double> stamp, double guess, bool discontinuous);

private:
    bool stampSeen_ = false;
};

// How late a probe was heard: from when its first frame was played to when
// the microphone recorded it, and how clearly.
struct ProbeArrival
{
    double ms = 0.0;
    double quality = 0.0;
};

// Looks for `probe` (at the microphone's rate) in `recording` from a little
// before `playedAt` to `searchSeconds` after it. Nothing when it is not
// there or the recording does not reach that far.
std::optional<ProbeArrival> ArrivalOfProbe(double playedAt, const FrameTimeline& microphone,
                                           std::span<const float> recording, std::span<const float> probe,
                                           uint32_t microphoneRate, double searchSeconds);
