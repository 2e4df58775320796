#include "audio/engine/soft_clip.h"
#include "reference_soft_clip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr float kCeiling = 0.999f;

TEST(SoftClipTest, PassesValuesUpToTheKneeUnchanged) {
    for (float x : {0.0f, 0.25f, 0.5f, 0.8999f, 0.9f}) {
        EXPECT_EQ(SoftClip(x), x) << x;
        EXPECT_EQ(SoftClip(-x), -x) << -x;
    }
}

TEST(SoftClipTest, ShapesTheTransitionAndTheSlope) {
    struct Point {
        float in;
        float out;
    };
    for (const Point& p : {Point{0.95f, 0.9291666f}, Point{1.0f, 0.9166666f}, Point{1.2f, 0.95f},
                           Point{1.4f, 0.9833333f}}) {
        EXPECT_NEAR(SoftClip(p.in), p.out, 2e-7f) << p.in;
        EXPECT_EQ(SoftClip(-p.in), -SoftClip(p.in)) << p.in;
    }
}

TEST(SoftClipTest, TransitionRisesAboveItsEndThenFallsBack) {
    float peak = 0.0f;
    for (float x = 0.9f; x <= 1.0f; x += 0.001f) {
        peak = std::fmax(peak, SoftClip(x));
    }
    EXPECT_GT(peak, 0.92f);
    EXPECT_LT(SoftClip(1.0f), peak);
    // Just above the knee the curve continues from the knee without a jump.
    EXPECT_NEAR(SoftClip(0.9001f), 0.9f, 1e-3f);
}

TEST(SoftClipTest, HoldsTheCeilingFromOnePointFiveUpward) {
    for (float x : {1.5f, 1.6f, 2.0f, 100.0f, 3.0e38f}) {
        EXPECT_EQ(SoftClip(x), kCeiling) << x;
        EXPECT_EQ(SoftClip(-x), -kCeiling) << -x;
    }
}

uint32_t Bits(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A NaN in a packet must not become a level stuck at full scale on every
// target: it is silence (+0), whatever its sign or payload; an infinity is
// the ceiling of its sign. The kernel gives the same bits as the scalar.
TEST(SoftClipTest, NonFiniteInputStaysInRange) {
    const float inf = std::numeric_limits<float>::infinity();
    const float quiet = std::numeric_limits<float>::quiet_NaN();
    const float cases[][2] = {{inf, kCeiling},
                              {-inf, -kCeiling},
                              {quiet, 0.0f},
                              {-quiet, 0.0f},
                              {std::numeric_limits<float>::signaling_NaN(), 0.0f},
                              {std::nanf("1234"), 0.0f}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(Bits(SoftClip(in)), Bits(out)) << in;
        // Two groups of four through the vector curve, the last sample
        // through the scalar one.
        std::vector<float> packet(9, in);
        packet[0] = 0.1f;
        ApplyGainSoftClip(packet.data(), packet.data(), packet.size(), 1.0f);
        for (size_t k = 1; k < packet.size(); ++k) {
            EXPECT_EQ(Bits(packet[k]), Bits(out)) << in << " at " << k;
        }
    }
}

TEST(GainTest, HalfVolumeIsUnityAndFullVolumeDoubles) {
    EXPECT_EQ(GainFromVolume(0.0f), 0.0f);
    EXPECT_EQ(GainFromVolume(50.0f), 1.0f);
    EXPECT_EQ(GainFromVolume(100.0f), 2.0f);
    EXPECT_FLOAT_EQ(GainFromVolume(25.0f), 0.5f);
}

TEST(ApplyGainSoftClipTest, GainComesBeforeTheClip) {
    const std::vector<float> in = {0.3f, -0.3f, 0.5f, -0.6f, 0.0f};
    std::vector<float> out(in.size() + 1, 7.0f);  // last slot is a guard

    ApplyGainSoftClip(in.data(), out.data(), in.size(), GainFromVolume(100.0f));
    EXPECT_FLOAT_EQ(out[0], 0.6f);
    EXPECT_FLOAT_EQ(out[1], -0.6f);
    EXPECT_EQ(out[2], SoftClip(1.0f));
    EXPECT_EQ(out[3], SoftClip(-1.2f));
    EXPECT_EQ(out[4], 0.0f);
    EXPECT_EQ(out.back(), 7.0f);

    ApplyGainSoftClip(in.data(), out.data(), in.size(), GainFromVolume(0.0f));
    for (size_t k = 0; k < in.size(); ++k) {
        EXPECT_EQ(out[k], 0.0f) << k;
    }
}

TEST(ApplyGainSoftClipTest, InPlaceMatchesSeparateBuffers) {
    std::vector<float> data;
    for (int k = -30; k <= 30; ++k) {
        data.push_back(static_cast<float>(k) * 0.05f);
    }
    std::vector<float> separate(data.size());
    ApplyGainSoftClip(data.data(), separate.data(), data.size(), 1.3f);
    ApplyGainSoftClip(data.data(), data.data(), data.size(), 1.3f);
    EXPECT_EQ(data, separate);
}

TEST(ApplyGainSoftClipTest, GivesTheReferenceCurveBitForBit) {
    // Dense around the knee and the transition, sparse elsewhere, the
    // non-finite values, in packets whose lengths leave tails of every size.
    std::vector<float> in;
    for (float x = 0.85f; x < 1.05f; x = std::nextafter(x, 2.0f)) {
        if (Bits(x) % 7 == 0) {
            in.push_back(x);
            in.push_back(-x);
        }
    }
    std::mt19937 generator(7u);
    std::uniform_real_distribution<float> wide(-3.0f, 3.0f);
    for (int i = 0; i < 20000; ++i) {
        in.push_back(wide(generator));
    }
    const float inf = std::numeric_limits<float>::infinity();
    for (float special : {inf, -inf, std::numeric_limits<float>::quiet_NaN(), 3.0e38f, -0.0f, 0.9f, -0.9f}) {
        in.push_back(special);
    }
    for (float gain : {1.0f, 1.7f, 0.5f}) {
        for (size_t length : {in.size(), in.size() - 1, in.size() - 2, in.size() - 3, size_t{3}, size_t{0}}) {
            std::vector<float> out(length);
            ApplyGainSoftClip(in.data(), out.data(), length, gain);
            for (size_t k = 0; k < length; ++k) {
                ASSERT_EQ(Bits(out[k]), Bits(ExpectedSoftClip(in[k] * gain)))
                    << "input " << in[k] << " gain " << gain << " at " << k << " of " << length;
            }
        }
    }
}

}  // namespace
