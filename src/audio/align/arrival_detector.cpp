#include "audio/align/arrival_detector.h"

#include "audio/align/fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <vector>

namespace {

using Complex = std::complex<double>;

// Bins where the probe is weaker than this, relative to its strongest bin,
// are out of its band. The sweep's own spectrum falls 20 dB across its band
// (an exponential sweep's is pink) and by far more just outside it.
constexpr double kBandFloor = 0.03;  // -30 dB

std::vector<Complex> Spectrum(std::span<const float> signal, size_t size)
{
    std::vector<Complex> spectrum(size);
    for (size_t n = 0; n < signal.size(); ++n) {
        spectrum[n] = std::isfinite(signal[n]) ? double(signal[n]) : 0.0;
    }
    Fft(spectrum, false);
    return spectrum;
}

// The phase-transformed correlation: its real part at `lag` for the probe
// starting there in the recording (lags past the recording's end wrap round).
// Each spectrum is transformed on its own: a joint transform of both would
// leak the probe into a silent recording at rounding level, and the phase
// transform would raise that leak to full weight.
std::vector<Complex> PhatCorrelation(std::span<const float> recording, std::span<const float> probe)
{
    const size_t size = FftSize(recording.size() + probe.size());
    std::vector<Complex> weighted = Spectrum(recording, size);
    const std::vector<Complex> probeSpectrum = Spectrum(probe, size);
    double strongest = 0.0;
    for (const Complex& bin : probeSpectrum) {
        strongest = std::max(strongest, std::abs(bin));
    }
    for (size_t k = 0; k < size; ++k) {
        const Complex cross = weighted[k] * std::conj(probeSpectrum[k]);
        const double magnitude = std::abs(cross);
        const bool inBand = std::abs(probeSpectrum[k]) >= kBandFloor * strongest;
        weighted[k] = inBand && magnitude > std::numeric_limits<double>::min() ? cross / magnitude : Complex{};
    }
    Fft(weighted, true);
    return weighted;
}

}  // namespace

Arrival FindArrival(std::span<const float> recording, std::span<const float> probe, uint32_t sampleRate)
{
    Arrival arrival;
    if (recording.empty() || probe.empty() || sampleRate == 0) {
        return arrival;
    }
    const std::vector<Complex> correlation = PhatCorrelation(recording, probe);
    const auto height = [&](size_t lag) { return std::abs(correlation[lag].real()); };
    size_t best = 0;
    for (size_t lag = 1; lag < recording.size(); ++lag) {
        best = height(lag) > height(best) ? lag : best;
    }
    const size_t guard = size_t(sampleRate) * kArrivalGuardMs / 1000;
    double next = 0.0;
    for (size_t lag = 0; lag < recording.size(); ++lag) {
        const bool outside = lag + guard < best || lag > best + guard;
        next = outside ? std::max(next, height(lag)) : next;
    }
    const double peak = height(best);
    arrival.frame = int64_t(best);
    arrival.quality = next > 0.0 ? peak / next : (peak > 0.0 ? std::numeric_limits<double>::infinity() : 0.0);
    arrival.found = arrival.quality >= kArrivalMinQuality;
    return arrival;
}
