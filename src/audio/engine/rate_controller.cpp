#include "audio/engine/rate_controller.h"

#include <algorithm>

namespace {
// Time constant of the smoothing, and the controller's gains: a loop that
// settles within a minute or so, slowly enough that the queue's jitter of a
// few milliseconds moves the rate by no more than about a hundred ppm.
constexpr double kSmoothingSeconds = 1.0;
constexpr double kProportionalPerSecond = 0.3;
constexpr double kIntegralPerSecondSquared = 0.02;
// A pause in the readings (a rebuild, a stalled thread) is taken as this
// long at most, so that one reading never swings the rate far.
constexpr double kLongestStepSeconds = 0.1;

double Bounded(double deviation) {
    return std::clamp(deviation, -kMaxRateDeviation, kMaxRateDeviation);
}
}  // namespace

RateController::RateController(double cushionFrames, double rateHz) : cushion(cushionFrames), sampleRate(rateHz) {}

double RateController::Update(double queuedFrames, double seconds) {
    const double error = sampleRate > 0.0 ? (queuedFrames - cushion) / sampleRate : 0.0;
    if (!started) {
        started = true;
        smoothedError = error;
        lastSeconds = seconds;
        return rate;
    }
    const double step = std::clamp(seconds - lastSeconds, 0.0, kLongestStepSeconds);
    lastSeconds = seconds;
    smoothedError += (error - smoothedError) * std::min(1.0, step / kSmoothingSeconds);
    // The integral alone may reach the bound: it carries the clocks'
    // difference, and stopping it there keeps it from winding up.
    integral = Bounded(integral + kIntegralPerSecondSquared * smoothedError * step);
    rate = 1.0 + Bounded(kProportionalPerSecond * smoothedError + integral);
    return rate;
}
