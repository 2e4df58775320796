#include "audio/align/fft.h"
#include "audio/align/probe_signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace {

struct ProbeCase { uint32_t rate; double endHz, peakDbfs, reachedHz; };  // reached: the sweep's top

// Half a second at the asked level, silent at both ends (no click), its
// energy within 100 Hz .. the top (held to 0.45 x the rate), and half of it
// under the band's geometric middle: equal energy per octave, as an
// exponential sweep has (a linear one would put a tenth there).
TEST(ProbeSignalTest, SweepsExponentiallyAtTheAskedLevel) {
    const std::vector<ProbeCase> cases = {
        {44100, 10000.0, -20.0, 10000.0}, {48000, 30000.0, -6.0, 21600.0}, {96000, 10000.0, -30.0, 10000.0},
    };
    for (const ProbeCase& c : cases) {
        const std::vector<float> probe = MakeProbe({.endHz = c.endHz, .peakDbfs = c.peakDbfs}, c.rate);
        ASSERT_EQ(probe.size(), c.rate / 2) << c.rate;
        const float peak = *std::max_element(probe.begin(), probe.end());
        EXPECT_NEAR(20.0 * std::log10(peak), c.peakDbfs, 0.05) << c.rate;
        EXPECT_LT(std::max(std::abs(probe.front()), std::abs(probe.back())), peak * 1e-3) << c.rate;
        std::vector<std::complex<double>> spectrum(FftSize(probe.size()));
        std::copy(probe.begin(), probe.end(), spectrum.begin());
        Fft(spectrum, false);
        double total = 0.0, outside = 0.0, low = 0.0;
        for (size_t k = 1; k < spectrum.size() / 2; ++k) {
            const double hz = double(k) * c.rate / double(spectrum.size()), energy = std::norm(spectrum[k]);
            total += energy;
            outside += hz < 80.0 || hz > c.reachedHz * 1.1 ? energy : 0.0;
            low += hz < std::sqrt(100.0 * c.reachedHz) ? energy : 0.0;
        }
        EXPECT_LT(outside / total, 0.01) << c.rate;
        EXPECT_NEAR(low / total, 0.5, 0.05) << c.rate;
    }
}

// No rate, no length, no band (the start at or over the end, held to 0.45 x
// the rate): no probe.
TEST(ProbeSignalTest, NoSweepIsEmpty) {
    for (const ProbeParams& p : {ProbeParams{.durationSeconds = 0.0}, ProbeParams{.startHz = 0.0}, ProbeParams{.startHz = 7200.0}})
        EXPECT_TRUE(MakeProbe(p, 16000).empty()) << p.durationSeconds << " " << p.startHz;
    EXPECT_TRUE(MakeProbe({}, 0).empty());
}

}  // namespace
