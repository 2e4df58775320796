#include "audio/align/frame_timeline.h"

#include <algorithm>

#include "audio/align/arrival_detector.h"
#include "audio/align/clock_line.h"

void FrameTimeline::Note(double frame, double seconds)
{
    stretches_.back().frames.push_back(frame);
    stretches_.back().origins.push_back(seconds - frame / rate_);
}

void FrameTimeline::Break(double frame)
{
    // Breaks with no reading between them are one break.
    if (!stretches_.back().frames.empty())
    {
        stretches_.push_back(Stretch{});
    }
    stretches_.back().from = frame;
}

const FrameTimeline::Stretch* FrameTimeline::ReadStretchFor(double frame) const
{
    for (auto stretch = stretches_.rbegin(); stretch != stretches_.rend(); ++stretch)
    {
        if (stretch->from <= frame && !stretch->frames.empty())
        {
            return &*stretch;
        }
    }
    // A frame before every reading: the first line there is.
    for (const Stretch& stretch : stretches_)
    {
        if (!stretch.frames.empty())
        {
            return &stretch;
        }
    }
    return nullptr;
}

double FrameTimeline::OriginAt(const Stretch& stretch, double frame) const
{
    return FitClockLine(stretch.frames, stretch.origins).ValueAt(frame);
}

std::optional<double> FrameTimeline::TimeOf(double frame) const
{
    const Stretch* stretch = ReadStretchFor(frame);
    if (stretch == nullptr)
    {
        return std::nullopt;
    }
    return OriginAt(*stretch, frame) + frame / rate_;
}

double FrameTimeline::FrameAt(double seconds, double last) const
{
    const Stretch* earliest = ReadStretchFor(-1.0);
    for (auto stretch = stretches_.rbegin(); stretch != stretches_.rend(); ++stretch)
    {
        if (stretch->frames.empty())
        {
            continue;
        }
        // The origin moves with the frame only by the drift: once is close.
        const double guess = (seconds - OriginAt(*stretch, stretch->frames.back())) * rate_;
        const double frame = (seconds - OriginAt(*stretch, guess)) * rate_;
        if (frame >= stretch->from || &*stretch == earliest)
        {
            return std::clamp(frame, 0.0, last);
        }
    }
    return 0.0;
}

void PacketTimes::Add(FrameTimeline& timeline, double frame, std::optional<double> stamp, double guess,
                      bool discontinuous)
{
    if (frame > 0.0 && (discontinuous || (stamp && !stampSeen_)))
    {
        timeline.Break(frame);
    }
    stampSeen_ = stampSeen_ || stamp.has_value();
    if (stamp || !stampSeen_)
    {
        timeline.Note(frame, stamp.value_or(guess));
    }
}

std::optional<ProbeArrival> ArrivalOfProbe(double playedAt, const FrameTimeline& microphone,
                                           std::span<const float> recording, std::span<const float> probe,
                                           uint32_t microphoneRate, double searchSeconds)
{
    const double last = static_cast<double>(recording.size());
    // A little before: the microphone's line is read to within a period.
    const auto from = static_cast<size_t>(microphone.FrameAt(playedAt - 0.02, last));
    const auto to = static_cast<size_t>(microphone.FrameAt(playedAt + searchSeconds, last));
    if (to <= from)
    {
        return std::nullopt;
    }
    const Arrival found = FindArrival(recording.subspan(from, to - from), probe, microphoneRate);
    const std::optional<double> arrived =
        found.found ? microphone.TimeOf(static_cast<double>(from + found.frame)) : std::nullopt;
    if (!arrived)
    {
        return std::nullopt;
    }
    return ProbeArrival{(*arrived - playedAt) * 1000.0, found.quality};
}
