#pragma once

// The probe the alignment plays on each target in turn, to hear in the
// microphone when that target's sound arrives. Platform-free; any thread but
// the packet path (it allocates the probe).
//
// It is an exponential (logarithmic) sine sweep: its frequency rises from
// startHz to endHz at a steady rate in octaves per second. A sweep spreads its
// energy over its whole length, so half a second of it carries as much energy
// as a loud click while its peak stays at a modest level that no speaker or
// microphone distorts and no listener minds. Its autocorrelation, once the
// spectrum is whitened (the arrival detector's phase transform), is a single
// sharp peak, so its arrival is told to within a sample even in a
// reverberant room. The exponential sweep spends equal time on every octave,
// so the low end, where small speakers are weak and rooms are noisy, gets as
// much time as the top.
//
// Parameters, and why:
// - durationSeconds 0.5: long enough to lift the probe well above a quiet
//   room's noise after correlation, short enough to repeat three times for
//   every target without trying the user's patience.
// - startHz 100, endHz 10 kHz: what a laptop speaker plays and a laptop
//   microphone picks up; the top is held to 0.45 x the rate so that the sweep
//   never comes near the Nyquist frequency at 44.1 kHz or below.
// - peakDbfs -20: the peak level (dB under full scale), quiet enough to be
//   polite, loud enough after the sweep's processing gain.
// - fadeMs 5: raised-cosine fades at both ends, so that neither end clicks
//   (a click is broadband and would blur the arrival).

#include <cstdint>
#include <vector>

struct ProbeParams {
    double durationSeconds = 0.5;
    double startHz = 100.0;
    double endHz = 10000.0;  // at most 0.45 x the rate; higher is lowered
    double peakDbfs = -20.0;  // at most 0; higher is lowered
    double fadeMs = 5.0;      // each end; at most half the duration
};

// The highest frequency the sweep reaches at sampleRate: endHz, held to
// 0.45 x the rate.
double ProbeEndHz(const ProbeParams& params, uint32_t sampleRate);

// The mono probe at sampleRate: round(durationSeconds x rate) samples. Empty
// when the parameters make no sweep (no rate, no duration, or a start at or
// above the end, or at or below 0 Hz).
std::vector<float> MakeProbe(const ProbeParams& params, uint32_t sampleRate);
