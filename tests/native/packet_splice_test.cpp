#include "audio/engine/packet_splice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kTwoPi = 6.283185307179586;

struct SpliceCase {
    const char* name;
    double rate;
    double freq;
    uint16_t channels;
    uint32_t frames;  // per packet
    uint32_t keep;    // of every other packet
    double steps;     // the largest step allowed, in the tone's own largest
};

// A tone fed in packets, every other one cut to `keep` frames, comes out as
// the same tone without a click (no step between two frames larger than the
// tone's own, across the seams too, where enough is kept) and without a dip (each packet as loud
// as the tone), with no more left out than the splice may add to a plan.
TEST(PacketSpliceTest, FramesLeftOutLeaveNoClickNorDip) {
    const SpliceCase cases[] = {
        {"half a packet at 48 kHz", 48000, 440, 2, 480, 240, 1.3},
        {"half the tone's period", 48000, 440, 2, 480, 425, 1.3},
        {"a few frames", 44100, 440, 2, 441, 436, 1.3},
        // Too few frames kept to slide far: a cut would step by up to 35.
        {"a nearly full buffer", 48000, 440, 2, 480, 12, 3.0},
        {"96 kHz mono", 96000, 1000, 1, 960, 700, 1.3},
    };
    for (const SpliceCase& c : cases) {
        SCOPED_TRACE(c.name);
        PacketSplice splice;
        splice.Reserve(c.channels, c.frames);
        const double step = kTwoPi * c.freq / c.rate;
        const double amplitude = 0.5;
        std::vector<float> heard;
        uint64_t at = 0;
        for (int packet = 0; packet < 20; ++packet) {
            std::vector<float> in(static_cast<size_t>(c.frames) * c.channels);
            for (uint32_t f = 0; f < c.frames; ++f) {
                for (uint16_t ch = 0; ch < c.channels; ++ch) {
                    in[f * c.channels + ch] = static_cast<float>(amplitude * std::sin(step * double(at + f)));
                }
            }
            at += c.frames;
            const uint32_t keep = packet % 2 == 0 ? c.keep : c.frames;
            uint32_t out = 0;
            const float* frames = splice.Process(in.data(), c.frames, keep, out);
            ASSERT_NE(frames, nullptr);
            ASSERT_LE(out, keep);
            ASSERT_GE(out, keep - std::min(c.frames / 4, keep / 2));
            double energy = 0.0;
            for (uint32_t f = 0; f < out; ++f) {
                heard.push_back(frames[f * c.channels]);
                energy += double(frames[f * c.channels]) * frames[f * c.channels];
            }
            if (out >= c.frames / 2) {
                EXPECT_GT(std::sqrt(energy / out), 0.95 * amplitude / std::sqrt(2.0)) << "packet " << packet;
            }
        }
        double largestStep = 0.0;
        for (size_t i = 1; i < heard.size(); ++i) {
            largestStep = std::max(largestStep, std::fabs(double(heard[i]) - heard[i - 1]));
        }
        EXPECT_LT(largestStep, c.steps * amplitude * step);
    }
}

}  // namespace
