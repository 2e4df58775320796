#include "audio/engine/channel_map.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace speaker;
using Matrix = std::vector<std::vector<float>>;  // [target channel][source channel]

constexpr float k = 0.70710678f;  // -3 dB

Matrix Dense(const ChannelMap& map) {
    Matrix matrix(map.targetChannels, std::vector<float>(map.sourceChannels, 0.0f));
    for (uint16_t t = 0; t < map.targetChannels; ++t) {
        for (uint32_t i = map.firstTap[t]; i < map.firstTap[t + 1u]; ++i) {
            matrix[t][map.taps[i].source] += map.taps[i].weight;
        }
    }
    return matrix;
}

struct Case {
    const char* name;
    uint16_t sourceChannels;
    uint32_t sourceMask;
    uint16_t targetChannels;
    uint32_t targetMask;
    Matrix expected;
};

TEST(ChannelMapTest, MeetsBySpeakerPositionWithTheUsualDownmix) {
    //                   FL    FR    FC    LFE   BL    BR
    const Case cases[] = {
        {"5.1 to stereo: centre and surrounds at -3 dB, no LFE", 6, kFivePointOne, 2, kStereo,
         {{1, 0, k, 0, k, 0}, {0, 1, k, 0, 0, k}}},
        {"5.1 to quad: the centre to the front, no LFE at the back", 6, kFivePointOne, 4, kQuad,
         {{1, 0, k, 0, 0, 0}, {0, 1, k, 0, 0, 0}, {0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 1}}},
        {"5.1 (side) to quad: sides stand in for the back", 6, kFivePointOneSide, 4, kQuad,
         {{1, 0, k, 0, 0, 0}, {0, 1, k, 0, 0, 0}, {0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 0, 1}}},
        {"5.1 to mono: left and right at half, the centre whole", 6, kFivePointOne, 1, kFrontCenter,
         {{0.5f, 0.5f, 1, 0, k * 0.5f, k * 0.5f}}},
        {"a plain stereo format to 5.1 has the usual positions", 2, 0, 6, kFivePointOne,
         {{1, 0}, {0, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
        {"fronts into a target without fronts or centre: silence, not an endless fold", 3,
         kStereo | kFrontCenter, 2, kBackLeft | kBackRight, {{0, 0, 0}, {0, 0, 0}}},
    };
    for (const Case& c : cases) {
        const ChannelMap map = BuildChannelMap(c.sourceChannels, c.sourceMask, c.targetChannels, c.targetMask);
        EXPECT_TRUE(map.byPosition) << c.name;
        EXPECT_FALSE(map.identity) << c.name;
        const Matrix got = Dense(map);
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (size_t t = 0; t < got.size(); ++t) {
            for (size_t s = 0; s < got[t].size(); ++s) {
                EXPECT_FLOAT_EQ(got[t][s], c.expected[t][s]) << c.name << ": target " << t << " source " << s;
            }
        }
    }
}

TEST(ChannelMapTest, MeetsByIndexWhereNoUsableMaskIsGiven) {
    const Case cases[] = {
        {"six channels, no mask", 6, 0, 2, kStereo, {{1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}}},
        {"a mask naming fewer speakers than channels", 6, kQuad, 2, kStereo,
         {{1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}}},
        {"a mono source feeds left and right whole", 1, kFrontCenter, 6, kFivePointOne,
         {{1}, {1}, {0}, {0}, {0}, {0}}},
    };
    for (const Case& c : cases) {
        const ChannelMap map = BuildChannelMap(c.sourceChannels, c.sourceMask, c.targetChannels, c.targetMask);
        EXPECT_FALSE(map.byPosition) << c.name;
        EXPECT_EQ(Dense(map), c.expected) << c.name;
    }
}

TEST(ChannelMapTest, SameSpeakersAreAStraightCopy) {
    EXPECT_TRUE(BuildChannelMap(2, 0, 2, kStereo).identity);
    EXPECT_TRUE(BuildChannelMap(6, kFivePointOne, 6, kFivePointOne).identity);
    // Back and side surrounds stand in for each other at the same index.
    EXPECT_TRUE(BuildChannelMap(6, kFivePointOne, 6, kFivePointOneSide).identity);
    EXPECT_TRUE(BuildChannelMap(6, 0, 6, 0).identity);
    EXPECT_FALSE(BuildChannelMap(6, kFivePointOne, 2, kStereo).identity);
}

}  // namespace
