#include "audio/align/fft.h"
#include "audio/align/probe_signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace {

struct ProbeCase {
    uint32_t rate;
    double endHz;       // asked for
    double peakDbfs;
    double reachedHz;   // the top the sweep should reach
};

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

TEST(ProbeSignalTest, NoSweepIsEmpty) {
    EXPECT_TRUE(MakeProbe({}, 0).empty());
    EXPECT_TRUE(MakeProbe({.durationSeconds = 0.0}, 48000).empty());
    EXPECT_TRUE(MakeProbe({.startHz = 0.0}, 48000).empty());
    EXPECT_TRUE(MakeProbe({.startHz = 12000.0}, 48000).empty());
    EXPECT_TRUE(MakeProbe({.startHz = 9000.0}, 16000).empty());  // above 0.45 x the rate
}

// The transform against a direct sum, and back again; no other size.
TEST(FftTest, MatchesTheDefiningSumAndInverts) {
    std::vector<std::complex<double>> x(64);
    for (size_t n = 0; n < x.size(); ++n) x[n] = {std::sin(double(n * n) * 0.37), std::cos(double(n) * 1.3)};
    std::vector<std::complex<double>> y = x;
    ASSERT_TRUE(Fft(y, false));
    for (size_t k = 0; k < x.size(); ++k) {
        std::complex<double> sum;
        for (size_t n = 0; n < x.size(); ++n) sum += x[n] * std::polar(1.0, -2.0 * std::numbers::pi * double(k * n % 64) / 64.0);
        EXPECT_LT(std::abs(y[k] - sum), 1e-9) << k;
    }
    ASSERT_TRUE(Fft(y, true));
    for (size_t n = 0; n < x.size(); ++n) EXPECT_LT(std::abs(y[n] - x[n]), 1e-12) << n;
    std::vector<std::complex<double>> odd(48, 1.0);
    EXPECT_FALSE(Fft(odd, false));
    EXPECT_EQ(odd[0], 1.0);
    EXPECT_EQ(FftSize(1025), 2048u);
}

}  // namespace
