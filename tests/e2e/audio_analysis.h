// Offline analysis of audio recorded during end-to-end runs, and writers for
// the exactly known signals those runs play. Host-only test support: no
// Windows header, no global state; every function may be called from any
// thread.
//
// The recordings come from `parec --raw`: interleaved little-endian samples,
// float32 (or s16) at 48 kHz. The analysis functions work on one channel,
// taken out with ExtractChannel and usually trimmed to its audible part with
// FindSignalSpan first, because a recording starts and ends with silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

inline constexpr int kAnalysisSampleRate = 48000;

enum class RawSampleFormat { Float32LE, S16LE };

struct AudioBuffer {
    int channels = 2;
    int sampleRate = kAnalysisSampleRate;
    std::vector<float> samples;  // interleaved, channels per frame

    size_t FrameCount() const;
};

struct AudioLoadResult {
    bool ok = false;
    std::string error;
    AudioBuffer audio;
};

// A trailing partial frame in the file is ignored.
AudioLoadResult LoadRawAudio(const std::string& path, RawSampleFormat format,
                             int channels, int sampleRate = kAnalysisSampleRate);
bool SaveRawFloat32(const std::string& path, const AudioBuffer& audio);

// Empty when the channel does not exist.
std::vector<float> ExtractChannel(const AudioBuffer& audio, int channel);
// Every channel of the result carries the same mono signal.
AudioBuffer MakeMultiChannel(std::span<const float> mono, int channels,
                             int sampleRate = kAnalysisSampleRate);

// [first, end) from the first to the last sample whose magnitude is above
// the threshold; empty (first == end == 0) when no sample is.
struct SignalSpan {
    size_t first = 0;
    size_t end = 0;

    bool Empty() const { return end <= first; }
    size_t Length() const { return Empty() ? 0 : end - first; }
};
SignalSpan FindSignalSpan(std::span<const float> x, float threshold);
// Every stretch of sound in x, in order: samples above the threshold, with
// quiet runs shorter than minGapFrames counted as part of the sound (a sine
// passes near zero twice a period). A route stopped and started again shows
// two stretches.
std::vector<SignalSpan> FindSignalSpans(std::span<const float> x, float threshold, size_t minGapFrames);
std::span<const float> SubSpan(std::span<const float> x, SignalSpan span);

struct LevelStats {
    float peak = 0.0f;  // largest magnitude
    double rms = 0.0;
};
LevelStats MeasureLevel(std::span<const float> x);

// Mean period between upward zero crossings, with hysteresis (the signal
// must go below -peak/4 before the next crossing counts) so that small noise
// around zero does not add crossings. 0 when fewer than two crossings exist.
double EstimateFrequencyHz(std::span<const float> x, int sampleRate = kAnalysisSampleRate);

// Least-squares fit of a sinusoid at the given frequency in Hann-weighted
// blocks (see DiscontinuityOptions::blockFrames); the median block amplitude
// is returned, so a few damaged blocks do not move it. For a softly clipped
// sine this is the amplitude of its fundamental. A signal shorter than one
// block is fitted as a whole.
double EstimateSineAmplitude(std::span<const float> x, double freqHz,
                             int sampleRate = kAnalysisSampleRate);

// Discontinuities of a recorded constant-amplitude sine of known frequency:
// frames dropped, repeated or inserted (silence included). The sine is fitted
// at the known frequency in overlapping Hann-weighted blocks with the phase
// referred to one common time origin, so a clean sine gives the same phase in
// every block and any time shift shows up as a step between neighbouring
// blocks. A step in phase or a block whose amplitude departs from the median
// marks the pair of blocks; each run of marked pairs counts as one
// discontinuity.
//
// A static odd nonlinearity such as the program's soft clipper keeps the
// fundamental's phase and amplitude the same in every block, and the Hann
// weighting keeps its harmonics out of the fit, so a clipped sine reads as
// clean. Blind spots: a shift by a whole number of periods is invisible (use
// a frequency whose period is not a whole number of frames; at 440 Hz and
// 48 kHz a drop of 1..480 frames moves the phase by at least 0.0052 rad);
// two discontinuities within about one block count as one; a deliberate
// volume change counts as a discontinuity, and so does a step in the playback
// rate (an adaptive resampler changing its ratio by more than about 0.01 Hz
// at 440 Hz), while a constant small rate error is tolerated. The default
// tolerances assume a digital path: clean float or 16-bit samples, no added
// noise.
struct DiscontinuityOptions {
    size_t blockFrames = 960;            // hop is half of it
    double phaseToleranceRad = 5e-4;
    double amplitudeTolerance = 0.02;    // relative to the median amplitude
};

struct DiscontinuityReport {
    bool analysed = false;               // false: too short or silent
    int count = 0;
    std::vector<size_t> eventFrames;     // approximate start of each event
    double maxPhaseStepRad = 0.0;
    double maxAmplitudeDeviation = 0.0;  // relative
};
DiscontinuityReport CountDiscontinuities(std::span<const float> x, double freqHz,
                                         int sampleRate = kAnalysisSampleRate,
                                         const DiscontinuityOptions& options = {});

// What a listener hears go wrong in a steady tone: inserted silences (runs
// of at least silenceFrames samples with no sound, inside the tone) and
// dropped or repeated frames (discontinuities with no silence next to them,
// so a phase jump of the tone). Needs a tone trimmed to where it is heard.
struct DropoutReport {
    bool analysed = false;
    int silences = 0;
    size_t silentFrames = 0;
    size_t longestSilence = 0;  // frames
    int dropped = 0;
};
// The silences inside a tone: runs of at least silenceFrames samples with
// no sound.
std::vector<SignalSpan> FindSilences(std::span<const float> x, size_t silenceFrames = 24);
DropoutReport ClassifyDropouts(std::span<const float> x, double freqHz, size_t silenceFrames = 24,
                               int sampleRate = kAnalysisSampleRate);

// Lag (in frames) at which `other` best matches `reference`, searched over
// -maxLagFrames..+maxLagFrames by FFT cross-correlation; positive means that
// `other` is late. Needs a signal that is not periodic (noise, a chirp): a
// sine matches equally well at every whole period, so its lag is only known
// modulo the period. `correlation` is the peak normalised by both signals'
// energies (1 for identical signals, small for unrelated ones).
struct DelayEstimate {
    bool found = false;
    long long delayFrames = 0;
    double correlation = 0.0;
};
DelayEstimate EstimateDelayFrames(std::span<const float> reference,
                                  std::span<const float> other, size_t maxLagFrames);

// Mono test signals.
std::vector<float> GenerateSine(double freqHz, double amplitude, size_t frames,
                                int sampleRate = kAnalysisSampleRate);
// Linear sweep from f0Hz to f1Hz over the whole length.
std::vector<float> GenerateChirp(double f0Hz, double f1Hz, double amplitude, size_t frames,
                                 int sampleRate = kAnalysisSampleRate);
// Uniform white noise in [-amplitude, amplitude], reproducible from the seed.
std::vector<float> GenerateNoise(double amplitude, size_t frames, uint64_t seed);
