#include "audio/engine/soft_rate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// A 1 kHz stereo tone at 48 kHz, fed in packets of uneven sizes (some
// shorter than what the cubic reads around a point), comes out as the same
// tone read every `rate` frames: no seam between packets, and as many frames
// as the rate makes of what went in.
TEST(SoftRateTest, PlaysATonesFramesAtTheRateWithoutASeam) {
    const uint32_t sizes[] = {480, 441, 1, 2, 7, 480, 3, 100};
    for (const double rate : {1.0, 1.0005, 0.9995, 1.01, 0.99}) {
        SoftRate soft;
        soft.Reserve(2, 480);
        const double step = kTwoPi * 1000.0 / 48000.0;
        uint64_t in = 0;
        uint64_t out = 0;
        double worst = 0.0;
        for (int round = 0; round < 40; ++round) {
            for (const uint32_t size : sizes) {
                std::vector<float> packet(size * 2);
                for (uint32_t f = 0; f < size; ++f) {
                    packet[2 * f] = packet[2 * f + 1] = static_cast<float>(0.5 * std::sin(step * double(in + f)));
                }
                uint32_t made = 0;
                const float* frames = soft.Process(packet.data(), size, rate, made);
                ASSERT_NE(frames, nullptr);
                for (uint32_t f = 0; f < made; ++f, ++out) {
                    // Read from the first frame in, every `rate` frames.
                    const double expected = 0.5 * std::sin(step * (double(out) * rate));
                    worst = std::max({worst, std::fabs(frames[2 * f] - expected),
                                      std::fabs(frames[2 * f + 1] - expected)});
                }
                in += size;
            }
        }
        SCOPED_TRACE(testing::Message() << "rate " << rate);
        EXPECT_LT(worst, 2e-4);
        EXPECT_NEAR(static_cast<double>(out), (static_cast<double>(in) - (rate == 1.0 ? 0.0 : 2.0)) / rate, 1.0);
    }
}

}  // namespace
