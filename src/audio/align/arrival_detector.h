#pragma once

// Finds when the probe (probe_signal.h) arrives in a microphone recording. Platform-free; the alignment calls it on a
// worker thread, never on the packet path (it allocates a few seconds' worth
// of spectra).
//
// The detector is a generalized cross-correlation with the phase transform
// (GCC-PHAT): the cross-spectrum of recording and probe is divided by its
// own magnitude, so that only its phase, the delay, is left, and the
// correlation is a single sharp peak however the speaker, the room and the
// microphone colour the sound. Bins outside the probe's band carry nothing of
// the probe but would be raised to full weight, so they are left out. The
// quality of an arrival is the height of the correlation's peak over the
// highest peak outside kArrivalGuardMs around it: noise alone leaves many
// peaks of nearly equal height, a heard probe stands far above the rest.
// Under kArrivalMinQuality the probe is not found: a silent target, a muted
// microphone or a probe lost in the noise.
//
// Two things bound the quality of a heard probe. A room's reflections come
// after the direct sound, each a lesser copy of its peak. Distortion (a
// clipping microphone) makes harmonics, and an exponential sweep's k-th
// harmonic correlates as a peak T ln(k) / ln(endHz / startHz) earlier than
// the probe (120 ms for the third of the default probe): a harmonic taken
// for the probe would make the target's delay too long, so the harmonics'
// peaks must stay well under the probe's own, as they do in the tests even
// when clipped 18 dB over full scale.

#include <cstdint>
#include <span>

// Below this the probe is not found. In the tests' recordings (two seconds)
// noise alone scores 1.05 to 1.25, a clean or noisy probe 70 to 100 (the
// band's own edges ring), and the hardest heard cases 6.5 to 8: a
// reverberant tail as strong as the direct sound, or a probe clipped 18 dB
// over full scale. 3 is about the geometric middle of 1.25 and 6.5. (A tail
// four times the direct sound, -6 dB direct-to-reverberant, scores about 3.6:
// a microphone far from the speakers in a live room may be refused.)
inline constexpr double kArrivalMinQuality = 3.0;
// Around the peak, what is left out of the search for the next one: the
// whitened sweep's own main lobe and its first ringing, and the reflections
// too close to tell from the direct sound (a desk, a wall behind the
// speaker), which would misplace the arrival by less than this anyway.
inline constexpr uint32_t kArrivalGuardMs = 2;
struct Arrival {
    bool found = false;     // the quality reached kArrivalMinQuality
    int64_t frame = 0;      // where the probe starts in the recording
    double quality = 0.0;   // the peak's height over the next highest one
};

// Where `probe`, as played at sampleRate, starts in `recording` (mono, at the
// same rate; a start before the recording's is not searched). Non-finite
// samples count as silence. Not found for an empty recording or probe, a
// silent recording or no rate. Three transforms of the least power of two
// over both lengths: about 0.2 s for two seconds at 48 kHz in the sanitized
// debug build of the tests, 0.45 s at 96 kHz.
Arrival FindArrival(std::span<const float> recording, std::span<const float> probe, uint32_t sampleRate);
