#pragma once

// Finds when the probe (probe_signal.h) arrives in a microphone recording, and
// judges three repeats of it. Platform-free; the alignment calls it on a
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
// highest peak outside kArrivalGuardMs around it: noise alone leaves peaks of
// nearly equal height (about 1.1 over a few seconds), a heard probe stands far
// above the rest (tens to thousands even in noise and reverberation). Under
// kArrivalMinQuality the probe is not found: a silent target, a muted
// microphone or a probe lost in the noise.

#include <cstdint>
#include <span>

// Below this the probe is not found. The recordings of the tests show noise
// alone at 1.0 to 1.3 and the hardest heard probes (reverberation, a drifting
// clock, noise 10 dB under the probe) at 20 and more, so 3 keeps a wide margin
// on both sides.
inline constexpr double kArrivalMinQuality = 3.0;
// Around the peak, what is left out of the search for the next one: the
// whitened sweep's own main lobe is a few samples wide and the room's first
// reflections come later than this.
inline constexpr uint32_t kArrivalGuardMs = 2;
// Repeats further apart than this are refused: the room or the device
// changed between them (a moved microphone, a buffer that was resized).
inline constexpr uint32_t kRepeatToleranceMs = 2;

struct Arrival {
    bool found = false;     // the quality reached kArrivalMinQuality
    int64_t frame = 0;      // where the probe starts in the recording
    double quality = 0.0;   // the peak's height over the next highest one
};

// Where `probe`, as played at sampleRate, starts in `recording` (mono, at the
// same rate; a start before the recording's is not searched). Non-finite
// samples count as silence. Not found for an empty recording or probe, a
// silent recording or no rate.
Arrival FindArrival(std::span<const float> recording, std::span<const float> probe, uint32_t sampleRate);

struct RepeatedArrival {
    bool agreed = false;       // every repeat found, all within kRepeatToleranceMs
    int64_t medianFrame = 0;   // the median arrival (for an even count, the upper one)
    int64_t spreadFrames = 0;  // latest arrival less the earliest
};

// The median of repeated arrivals of the probe (each measured from when its
// probe was played, so that they compare) and whether they agree.
RepeatedArrival CombineRepeats(std::span<const Arrival> repeats, uint32_t sampleRate);
