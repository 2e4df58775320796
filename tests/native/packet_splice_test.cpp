#include "audio/engine/packet_splice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A tone fed in packets, every other one cut to `keep` frames, comes out as
// the same tone without a click (no step between two frames larger than
// `steps` times the tone's own, across the seams too) and without a dip
// (each packet as loud as the tone), with no more left out than allowed.
TEST(PacketSpliceTest, FramesLeftOutLeaveNoClickNorDip) {
    struct Case {
        const char* name;
        double rate, freq;
        uint16_t channels;
        uint32_t frames, keep;
        double steps;
    };
    const Case cases[] = {
        {"half a packet at 48 kHz", 48000, 440, 2, 480, 240, 1.3},
        {"half the tone's period", 48000, 440, 2, 480, 425, 1.3},
        {"a few frames", 44100, 440, 2, 441, 436, 1.3},
        // Too few frames kept to slide far: a cut would step by up to 35.
        {"a nearly full buffer", 48000, 440, 2, 480, 12, 3.0},
        {"96 kHz mono", 96000, 1000, 1, 960, 700, 1.3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PacketSplice splice;
        splice.Reserve(c.channels, c.frames);
        const double step = 6.283185307179586 * c.freq / c.rate;
        std::vector<float> heard;
        std::vector<float> in(static_cast<size_t>(c.frames) * c.channels);
        for (uint32_t packet = 0; packet < 20; ++packet) {
            for (size_t i = 0; i < in.size(); ++i) {
                in[i] = static_cast<float>(0.5 * std::sin(step * double(packet * c.frames + i / c.channels)));
            }
            const uint32_t keep = packet % 2 == 0 ? c.keep : c.frames;
            uint32_t out = 0;
            const float* frames = splice.Process(in.data(), c.frames, keep, out);
            ASSERT_TRUE(frames && out <= keep && out >= keep - std::min(c.frames / 4, keep / 2)) << out;
            double energy = 0.0;
            for (uint32_t f = 0; f < out; ++f) {
                heard.push_back(frames[f * c.channels]);
                energy += double(heard.back()) * heard.back();
            }
            EXPECT_TRUE(out < c.frames / 2 || std::sqrt(energy / out) > 0.95 * 0.5 / std::sqrt(2.0)) << packet;
        }
        double largest = 0.0;
        for (size_t i = 1; i < heard.size(); ++i) {
            largest = std::max(largest, std::fabs(double(heard[i]) - heard[i - 1]));
        }
        EXPECT_LT(largest, c.steps * 0.5 * step);
    }
}

}  // namespace
