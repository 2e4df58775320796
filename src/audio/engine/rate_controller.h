#pragma once

// Holds one target's queue at the cushion by running the target a little
// faster or slower than its nominal rate. Two devices never share a clock:
// without this, a target whose clock is slower than the source's fills up
// until the frame count has to leave audio out, and a faster one runs dry.
// Platform-free; one controller per target, used by the redirect thread
// only.
//
// It is a proportional-integral controller on the queue's distance from the
// cushion, in seconds of audio, smoothed over about a second (the queue seen
// at each packet jumps with the thread's scheduling). The integral learns the
// clocks' difference; the proportional part pulls the queue back. The rate
// stays within +-kMaxRateDeviation.

inline constexpr double kMaxRateDeviation = 0.01;

class RateController {
public:
    RateController(double cushionFrames, double sampleRate);

    // The queue just before a packet is delivered, and the time of the
    // reading on any steady clock in seconds. Returns the rate factor to
    // run the target at (1 = nominal; above 1 it plays faster and its queue
    // shrinks).
    double Update(double queuedFrames, double seconds);

    double Rate() const { return rate; }

private:
    double cushion;
    double sampleRate;
    double smoothedError = 0.0;  // seconds of audio above the cushion
    double integral = 0.0;
    double lastSeconds = 0.0;
    bool started = false;
    double rate = 1.0;
};
