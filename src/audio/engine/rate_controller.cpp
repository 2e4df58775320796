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
// within half a millisecond of its set point.
constexpr double kSeamlessWindowSeconds = 8.0;
constexpr double kSeamlessHorizonSeconds = 20.0;
constexpr double kSeamlessStep = 5e-6;
constexpr double kSeamlessBandSeconds = 0.0005;

// Fewer readings than this in a window say nothing.
constexpr double kLeastReadings = 20.0;

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
double RateController::Band() const {
    return seamless ? sampleRate * kSeamlessBandSeconds : setPoint / 2.0;
}

void RateController::StartWindow(double seconds) {
    windowStart = seconds;
    windowEnd = seconds + WindowLength(windows);
    count = sumT = sumTT = sumQ = sumTQ = shift = 0.0;
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
        count += 1.0;
        sumT += t;
        sumTT += t * t;
        sumQ += q;
        sumTQ += t * q;
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
    const double spread = count * sumTT - sumT * sumT;
    if (count < kLeastReadings || sampleRate <= 0.0 || spread <= 0.0) {
        StartWindow(seconds);
        return false;
    }
    const double slope = (count * sumTQ - sumT * sumQ) / spread;
    const double level = sumQ / count + slope * (lastT - sumT / count) + shift;
    const double step = HoldingClosely(windows) ? kSeamlessStep : ByWindow(kSmallestStep, windows);
    ++windows;
    const double next = HoldingClosely(windows) ? kSeamlessHorizonSeconds : WindowLength(windows);
    const double wanted = rate + slope / sampleRate + LevelError(level, setPoint, Band()) / (sampleRate * next);
    const double bounded = std::clamp(wanted, 1.0 - kMaxRateDeviation, 1.0 + kMaxRateDeviation);
    const bool worthIt = std::fabs(bounded - rate) >= step;
    if (worthIt) {
        rate = bounded;
        ++decisions;
    }
    StartWindow(worthIt && !seamless ? seconds + kSettleSeconds : seconds);
    return worthIt;
}
