#pragma once

// Holds one target's queue at its set point by running the target a little
// faster or slower than its nominal rate. Two devices never share a clock:
// without this, a target whose clock is slower than the source's fills up
// until the frame count has to leave audio out, and a faster one runs dry.
// Platform-free; one controller per target, used by the redirect thread
// only.
//
// A new rate is decided seldom, and only when it is worth it: some systems
// interrupt a stream's sound for a moment whenever its rate is changed. The
// controller watches the queue over a window (2 s after the first second,
// then 8 s, 30 s and 60 s), fits a line through its readings, and at the
// window's end sets the rate that cancels the line's slope (the clocks'
// difference) and brings the queue back to the set point over the next
// window. A window whose two halves show different slopes is a stream still
// settling, not a clock difference, and is read again. The rate stays
// within +-kMaxRateDeviation.

#include <cstdint>

inline constexpr double kMaxRateDeviation = 0.01;

class RateController {
public:
    RateController(double setPointFrames, double sampleRate);

    // The queue (frames) and the time of the reading (seconds, any steady
    // clock). Returns true when a new rate has been decided: Rate() then
    // holds it, and the stream should be set to it.
    bool Update(double queuedFrames, double seconds);

    // Frames the engine itself added to the queue (silence after it ran
    // dry) or left out of it (negative: the frame count's trims). They are
    // not the clocks' difference, and where a sound server keeps most of
    // the queue out of sight they are the only sign of it.
    void Adjusted(double frames) { shift += frames; }

    // Abandons the window under way: the next reading starts a new one, a
    // second later, as at the first. For a queue that went through a time
    // without packets, which says nothing of the clocks.
    void Restart() { started = false; }

    // The rate factor to run the target at (1 = nominal; above 1 it plays
    // faster and its queue shrinks).
    double Rate() const { return rate; }

    // How many rates have been decided so far.
    int Decisions() const { return decisions; }

    // Whether a change of the stream's rate goes unheard (as where the
    // system resamples on the fly) or interrupts its sound (as where it
    // throws the queue away). Until told, the controller takes changes to be
    // heard and decides seldom; told they are not, it holds the queue
    // within a fifth of a millisecond of the set point (two targets then
    // play within half a millisecond of each other), with a change every
    // few windows of 8 s.
    void ChangesAreSeamless(bool yes) { seamless = yes; }
    bool Seamless() const { return seamless; }

private:
    bool HoldingClosely(int window) const;
    double WindowLength(int window) const;
    double Band(int window) const;
    void StartWindow(double seconds);
    bool Steady() const;
    bool Decide(double seconds);

    double setPoint;
    double sampleRate;
    double rate = 1.0;
    int decisions = 0;
    int windows = 0;  // windows ended so far
    bool started = false;
    bool seamless = false;
    // Sums for a least-squares line through readings (time, queue).
    struct LineSums {
        double count = 0.0;
        double sumT = 0.0;
        double sumTT = 0.0;
        double sumQ = 0.0;
        double sumTQ = 0.0;

        void Add(double t, double q);
        LineSums Less(const LineSums& part) const;
        bool Fits() const;      // enough readings, spread in time
        double Slope() const;   // frames per second
        double At(double t) const;  // the line's value at t
    };

    // The current window: readings are taken from windowStart on (the
    // moments after a change are left out: the stream is settling), and it
    // ends at windowEnd. Sums for the whole window and its first half, time
    // relative to windowStart.
    double windowStart = 0.0;
    double windowEnd = 0.0;
    LineSums whole;
    LineSums firstHalf;
    double lastT = 0.0;
    double shift = 0.0;  // Adjusted() since the window started
};
