#pragma once

#include <cstdint>
#include <vector>

// Which source channels make each channel of a target that plays in its own
// layout. Where both layouts say where their speakers stand (a channel mask,
// one bit per position, channels in ascending bit order), channels meet by
// position and a position the target lacks is folded into its neighbours:
// centre and surrounds into left and right at -3 dB, the LFE left out; see
// channel_map.cpp for every position. Where a layout gives no usable mask,
// channels meet by index (a mono source feeds the first two target channels;
// a mono target takes the mean of the first two source channels; other
// channels pair up one for one).
//
// Threads: BuildChannelMap runs when a target opens, on the redirect thread
// (or anywhere: it is pure). The packet path only reads the map.

// Speaker position bits of a channel mask (as in WAVEFORMATEXTENSIBLE).
namespace speaker {
inline constexpr uint32_t kFrontLeft = 0x1;
inline constexpr uint32_t kFrontRight = 0x2;
inline constexpr uint32_t kFrontCenter = 0x4;
inline constexpr uint32_t kLowFrequency = 0x8;
inline constexpr uint32_t kBackLeft = 0x10;
inline constexpr uint32_t kBackRight = 0x20;
inline constexpr uint32_t kFrontLeftOfCenter = 0x40;
inline constexpr uint32_t kFrontRightOfCenter = 0x80;
inline constexpr uint32_t kBackCenter = 0x100;
inline constexpr uint32_t kSideLeft = 0x200;
inline constexpr uint32_t kSideRight = 0x400;
inline constexpr uint32_t kTopCenter = 0x800;
inline constexpr uint32_t kTopFrontLeft = 0x1000;
inline constexpr uint32_t kTopFrontCenter = 0x2000;
inline constexpr uint32_t kTopFrontRight = 0x4000;
inline constexpr uint32_t kTopBackLeft = 0x8000;
inline constexpr uint32_t kTopBackCenter = 0x10000;
inline constexpr uint32_t kTopBackRight = 0x20000;
inline constexpr int kPositions = 18;

inline constexpr uint32_t kStereo = kFrontLeft | kFrontRight;
inline constexpr uint32_t kQuad = kStereo | kBackLeft | kBackRight;
inline constexpr uint32_t kFivePointOne = kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight;
inline constexpr uint32_t kFivePointOneSide = kStereo | kFrontCenter | kLowFrequency | kSideLeft | kSideRight;
}  // namespace speaker

// One source channel's share of a target channel.
struct ChannelTap {
    uint16_t source = 0;
    float weight = 0.0f;
};

struct ChannelMap {
    uint16_t sourceChannels = 0;
    uint16_t targetChannels = 0;
    // Every target channel is the source channel of its own index, whole:
    // the packet can be copied as it is.
    bool identity = false;
    // Channels met by speaker position (else by index).
    bool byPosition = false;
    // The taps of target channel c are taps[firstTap[c]] .. taps[firstTap[c + 1] - 1];
    // a channel without taps is silent.
    std::vector<ChannelTap> taps;
    std::vector<uint32_t> firstTap;
};

// A mask is usable when it names exactly one position per channel. A mono or
// stereo layout without one (a plain WAVEFORMATEX) has the usual positions.
uint32_t EffectiveChannelMask(uint16_t channels, uint32_t mask);

ChannelMap BuildChannelMap(uint16_t sourceChannels, uint32_t sourceMask, uint16_t targetChannels,
                           uint32_t targetMask);
