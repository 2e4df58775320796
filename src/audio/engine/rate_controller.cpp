#include "audio/engine/rate_controller.h"

#include <algorithm>
#include <cmath>

namespace {
// Windows grow as the estimate settles: a fast first guess before a large
// difference empties the cushion, then ever finer corrections.
constexpr double kWindowSeconds[] = {2.0, 8.0, 30.0, 60.0};
// After a change the readings of this long are not used, and after the
// first packet (the stream's own start-up moves its queue) those of the
// first second: a capture by loopback at 10 and 20 ms still delivers
// unevenly then, and a first guess that read it took a target 1 % off.
constexpr double kSettleSeconds = 0.5;
constexpr double kStartSeconds = 1.0;
// The least change worth an interruption, by window: a first guess acts
// only on a difference that would empty the cushion within half a minute,
// the second on one of 100 ppm (6 ms a minute), later ones on 30 ppm (the
// queue moves 1.8 ms a minute, which the next window corrects).
constexpr double kSmallestStep[] = {500e-6, 100e-6, 30e-6};

// Where a change of rate is not heard, the controller goes on deciding
// every 8 s, down to a few ppm, brings the queue back over 20 s (a gentler
// pull than over the next window, which would swing the rate), and holds it
// within a fifth of a millisecond of its set point: targets held so play
// within half a millisecond of each other.
constexpr double kSeamlessWindowSeconds = 8.0;
constexpr double kSeamlessHorizonSeconds = 20.0;
constexpr double kSeamlessStep = 5e-6;
constexpr double kSeamlessBandSeconds = 0.0002;

// Fewer readings than this in a window say nothing.
constexpr double kLeastReadings = 20.0;

// A clock difference is steady: the two halves of a window show the same
// slope, give or take half of it and this much (0.1 % of the rate, what
// jitter moves a half window's slope by). Halves that disagree more are a
// stream still settling (a capture by loopback delivers unevenly for its
// first seconds), and the window is read again.
constexpr double kHalvesAgreeWithin = 0.001;

template <typename T, int N>
T ByWindow(const T (&values)[N], int window) {
    return values[std::min(window, N - 1)];
}

// A queue within its band around the set point is where it should be.
double LevelError(double level, double setPoint, double band) {
    const double error = level - setPoint;
    return std::fabs(error) <= band ? 0.0 : error - std::copysign(band, error);
}
}  // namespace

RateController::RateController(double setPointFrames, double rateHz) : setPoint(setPointFrames), sampleRate(rateHz) {}

// The first two windows find the clocks' difference alike; after them a
// stream whose changes are heard is left alone for ever longer, and one
// whose changes are not is held closely.
bool RateController::HoldingClosely(int window) const {
    return seamless && window >= 2;
}

double RateController::WindowLength(int window) const {
    return HoldingClosely(window) ? kSeamlessWindowSeconds : ByWindow(kWindowSeconds, window);
}

// Where changes are heard, a queue within half its set point of it is left
// alone: jitter and the device's periods move it that much, and correcting
// that would interrupt the sound for nothing.
double RateController::Band(int window) const {
    return HoldingClosely(window) ? sampleRate * kSeamlessBandSeconds : setPoint / 2.0;
}

void RateController::LineSums::Add(double t, double q) {
    count += 1.0;
    sumT += t;
    sumTT += t * t;
    sumQ += q;
    sumTQ += t * q;
}

RateController::LineSums RateController::LineSums::Less(const LineSums& part) const {
    return {count - part.count, sumT - part.sumT, sumTT - part.sumTT, sumQ - part.sumQ, sumTQ - part.sumTQ};
}

bool RateController::LineSums::Fits() const {
    return count >= kLeastReadings && count * sumTT - sumT * sumT > 0.0;
}

double RateController::LineSums::Slope() const {
    return (count * sumTQ - sumT * sumQ) / (count * sumTT - sumT * sumT);
}

double RateController::LineSums::At(double t) const {
    return sumQ / count + Slope() * (t - sumT / count);
}

void RateController::StartWindow(double seconds) {
    windowStart = seconds;
    windowEnd = seconds + WindowLength(windows);
    whole = firstHalf = LineSums{};
    shift = 0.0;
}

// Where changes are heard, a window is only acted on when its halves agree.
bool RateController::Steady() const {
    const LineSums secondHalf = whole.Less(firstHalf);
    if (HoldingClosely(windows) || !firstHalf.Fits() || !secondHalf.Fits()) {
        return true;
    }
    const double first = firstHalf.Slope();
    const double second = secondHalf.Slope();
    const double larger = std::max(std::fabs(first), std::fabs(second));
    return std::fabs(first - second) <= larger / 2.0 + kHalvesAgreeWithin * sampleRate;
}

bool RateController::Update(double queuedFrames, double seconds) {
    if (!started) {
        started = true;
        StartWindow(seconds + kStartSeconds);
        return false;
    }
    if (seconds >= windowStart) {
        // What the queue would be had the engine added and left out nothing.
        const double q = queuedFrames - shift;
        const double t = seconds - windowStart;
        whole.Add(t, q);
        if (t < (windowEnd - windowStart) / 2.0) {
            firstHalf.Add(t, q);
        }
        lastT = t;
    }
    return seconds >= windowEnd && Decide(seconds);
}

// The least-squares line through the window's readings: its slope is how
// fast the queue grows (frames per second), its value at the window's end
// (with what the engine added and left out) where the queue stands now. A
// queue that grows is consumed too slowly: the rate rises by the slope, plus
// what brings the level back to the set point within the next window.
bool RateController::Decide(double seconds) {
    if (!whole.Fits() || sampleRate <= 0.0 || !Steady()) {
        StartWindow(seconds);
        return false;
    }
    const double slope = whole.Slope();
    const double level = whole.At(lastT) + shift;
    const double step = HoldingClosely(windows) ? kSeamlessStep : ByWindow(kSmallestStep, windows);
    ++windows;
    // The level is brought back over the window that starts now.
    const double next = HoldingClosely(windows) ? kSeamlessHorizonSeconds : WindowLength(windows);
    const double wanted =
        rate + slope / sampleRate + LevelError(level, setPoint, Band(windows)) / (sampleRate * next);
    const double bounded = std::clamp(wanted, 1.0 - kMaxRateDeviation, 1.0 + kMaxRateDeviation);
    const bool worthIt = std::fabs(bounded - rate) >= step;
    if (worthIt) {
        rate = bounded;
        ++decisions;
    }
    StartWindow(worthIt && !seamless ? seconds + kSettleSeconds : seconds);
    return worthIt;
}
