#include "audio/engine/soft_clip.h"
#include "reference_soft_clip.h"

#include <gtest/gtest.h>

#include <algorithm>
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

float FromBits(uint32_t bits) {
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// One packet of values through the kernel, after `head` samples past the
// knee; returns how many outputs differ from SoftClip (the first few are
// reported).
size_t CountPacketMismatches(const float* values, size_t count, float gain, size_t head) {
    std::vector<float> packet(head, 2.0f);
    packet.insert(packet.end(), values, values + count);
    ApplyGainSoftClip(packet.data(), packet.data(), packet.size(), gain);
    size_t mismatches = 0;
    for (size_t k = 0; k < count; ++k) {
        const float expected = SoftClip(values[k] * gain);
        if (Bits(packet[head + k]) != Bits(expected) && ++mismatches <= 5) {
            ADD_FAILURE() << std::hexfloat << "input " << values[k] << " gain " << gain << " head " << head
                          << " gave " << packet[head + k] << ", SoftClip " << expected;
        }
    }
    return mismatches;
}

// Runs values through the kernel in packets of 8k + 5, each twice: as it
// is, where the groups of eight up to the first that reaches the knee take
// the scaled copy; and after one sample past the knee, where the whole
// packet takes the vector curve eight and four at a time and the scalar
// curve for the last two. Returns how many outputs differed from SoftClip.
size_t CountKernelMismatches(const std::vector<float>& values, float gain) {
    constexpr size_t kPerPacket = 8 * 64 + 5;
    size_t mismatches = 0;
    for (size_t start = 0; start < values.size(); start += kPerPacket) {
        const size_t count = std::min(kPerPacket, values.size() - start);
        for (const size_t head : {size_t{0}, size_t{1}}) {
            mismatches += CountPacketMismatches(values.data() + start, count, gain, head);
        }
    }
    return mismatches;
}

// The places where the curve changes its rule, and inputs a near miss of
// the kernel's arithmetic would show in, with both signs, each in every
// path of the kernel.
TEST(ApplyGainSoftClipTest, EdgeValuesGiveSoftClipBitForBit) {
    const float inf = std::numeric_limits<float>::infinity();
    struct Edge {
        const char* what;
        float value;
    };
    const Edge edges[] = {
        {"zero", 0.0f},
        {"smallest denormal", std::numeric_limits<float>::denorm_min()},
        {"largest denormal", std::nextafter(std::numeric_limits<float>::min(), 0.0f)},
        {"smallest normal", std::numeric_limits<float>::min()},
        {"under the knee", 0.5f},
        {"knee - ulp", std::nextafter(0.9f, 0.0f)},
        {"knee", 0.9f},
        {"knee + ulp", std::nextafter(0.9f, 2.0f)},
        {"knee + 2 ulp", std::nextafter(std::nextafter(0.9f, 2.0f), 2.0f)},
        {"in the transition", 0.95f},
        // A product with a rounded 1/6 misses the quotient here by a step.
        {"slope quotient 1", FromBits(0x3f680b24u)},
        {"slope quotient 2", FromBits(0x3f6825afu)},
        {"last of the transition (1 - ulp)", std::nextafter(1.0f, 0.0f)},
        {"1.0, first of the slope", 1.0f},
        {"1.0 + ulp", std::nextafter(1.0f, 2.0f)},
        {"on the slope", 1.2f},
        {"last under the ceiling", FromBits(0x3fbf3b64u)},
        {"first at the ceiling", FromBits(0x3fbf3b65u)},
        {"2", 2.0f},
        {"large", 1.0e10f},
        {"largest float", std::numeric_limits<float>::max()},
        {"infinity", inf},
        {"quiet NaN", std::numeric_limits<float>::quiet_NaN()},
        {"signalling NaN", std::numeric_limits<float>::signaling_NaN()},
        {"NaN, payload 1", FromBits(0x7fc00001u)},
        {"NaN, largest signalling payload", FromBits(0x7fbfffffu)},
        {"NaN, smallest payload", FromBits(0x7f800001u)},
    };
    for (const Edge& edge : edges) {
        for (const float value : {edge.value, -edge.value}) {
            SCOPED_TRACE(::testing::Message() << edge.what << " " << std::hexfloat << value);
            EXPECT_EQ(CountKernelMismatches(std::vector<float>(13, value), 1.0f), 0u);
        }
    }
    EXPECT_EQ(SoftClip(FromBits(0x3fbf3b64u)), std::nextafter(kCeiling, 0.0f));
    EXPECT_EQ(SoftClip(FromBits(0x3fbf3b65u)), kCeiling);
}

// Every float from 0.85 to 1.55 of both signs: the knee, the whole
// transition, the slope and where it meets the ceiling.
TEST(ApplyGainSoftClipTest, EveryFloatAroundTheCurveGivesSoftClip) {
    std::vector<float> values;
    for (float x = 0.85f; x <= 1.55f; x = std::nextafter(x, 2.0f)) {
        values.push_back(x);
        values.push_back(-x);
    }
    EXPECT_EQ(CountKernelMismatches(values, 1.0f), 0u);
}

// Random bit patterns: every class of float in proportion to its share of
// the patterns (large, tiny, denormal, infinite, NaN), at two gains.
TEST(ApplyGainSoftClipTest, RandomBitPatternsGiveSoftClip) {
    std::mt19937 generator(20240611u);
    std::vector<float> values(2'000'000);
    for (float& value : values) {
        value = FromBits(static_cast<uint32_t>(generator()));
    }
    for (const float gain : {1.0f, 0.73f}) {
        EXPECT_EQ(CountKernelMismatches(values, gain), 0u) << "gain " << gain;
    }
}

TEST(GainTest, HalfVolumeIsUnityFullVolumeDoublesAndATargetsVolumeScales) {
    EXPECT_EQ(GainFromVolume(0.0f), 0.0f);
    EXPECT_EQ(GainFromVolume(50.0f), 1.0f);
    EXPECT_EQ(GainFromVolume(100.0f), 2.0f);
    EXPECT_FLOAT_EQ(GainFromVolume(25.0f), 0.5f);
    // A target's volume scales it; one out of range or not a number (a bad
    // stored value) neither amplifies nor silences beyond 0 .. 100 %.
    for (const auto& [volume, gain] : {std::pair{50.0f, 0.75f}, {250.0f, 1.5f}, {-5.0f, 0.0f}, {NAN, 1.5f}}) {
        EXPECT_EQ(TargetGain(1.5f, volume), gain) << volume;
    }
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
