#include "audio/engine/channel_map.h"

#include <algorithm>
#include <array>
#include <bit>

namespace {

using namespace speaker;

constexpr float kMinus3dB = 0.70710678f;

struct Share {
    uint32_t position = 0;
    float weight = 0.0f;
};

// Where a position goes in a target that lacks it: to its stand-in, when the
// target has that, else shared out among its neighbours (which may fold on in
// turn). The usual downmix: the centre into left and right at -3 dB, each
// surround into its own side at -3 dB (or onto the other kind of surround),
// the LFE nowhere, a height channel onto the speaker below it. Left and
// right meet in a mono centre at half each, their mean.
struct Fold {
    uint32_t standIn = 0;
    std::array<Share, 2> shares{};
};

// Indexed by bit number, kFrontLeft first.
constexpr std::array<Fold, kPositions> kFolds = {{
    {0, {{{kFrontCenter, 0.5f}}}},                                   // front left
    {0, {{{kFrontCenter, 0.5f}}}},                                   // front right
    {0, {{{kFrontLeft, kMinus3dB}, {kFrontRight, kMinus3dB}}}},      // front centre
    {0, {}},                                                         // LFE
    {kSideLeft, {{{kFrontLeft, kMinus3dB}}}},                        // back left
    {kSideRight, {{{kFrontRight, kMinus3dB}}}},                      // back right
    {0, {{{kFrontLeft, 1.0f}}}},                                     // front left of centre
    {0, {{{kFrontRight, 1.0f}}}},                                    // front right of centre
    {0, {{{kBackLeft, kMinus3dB}, {kBackRight, kMinus3dB}}}},        // back centre
    {kBackLeft, {{{kFrontLeft, kMinus3dB}}}},                        // side left
    {kBackRight, {{{kFrontRight, kMinus3dB}}}},                      // side right
    {0, {{{kFrontCenter, 1.0f}}}},                                   // top centre
    {0, {{{kFrontLeft, 1.0f}}}},                                     // top front left
    {0, {{{kFrontCenter, 1.0f}}}},                                   // top front centre
    {0, {{{kFrontRight, 1.0f}}}},                                    // top front right
    {0, {{{kBackLeft, 1.0f}}}},                                      // top back left
    {0, {{{kBackCenter, 1.0f}}}},                                    // top back centre
    {0, {{{kBackRight, 1.0f}}}},                                     // top back right
}};

// Channels of a layout in ascending bit order.
uint16_t ChannelOf(uint32_t mask, uint32_t position) {
    return static_cast<uint16_t>(std::popcount(mask & (position - 1)));
}

// Weights of one source channel, per target channel; a position is never
// folded twice on one path, so two positions that fold into each other end.
void Route(uint32_t position, float weight, uint32_t targetMask, uint32_t visited, float* weights) {
    if ((targetMask & position) != 0) {
        weights[ChannelOf(targetMask, position)] += weight;
        return;
    }
    const Fold& fold = kFolds[static_cast<size_t>(std::countr_zero(position))];
    if ((targetMask & fold.standIn) != 0) {
        weights[ChannelOf(targetMask, fold.standIn)] += weight;
        return;
    }
    visited |= position;
    for (const Share& share : fold.shares) {
        if (share.position != 0 && (visited & share.position) == 0) {
            Route(share.position, weight * share.weight, targetMask, visited, weights);
        }
    }
}

void AddTap(ChannelMap& map, uint16_t source, float weight) {
    map.taps.push_back({source, weight});
}

void EndChannel(ChannelMap& map) {
    map.firstTap.push_back(static_cast<uint32_t>(map.taps.size()));
}

void MapByIndex(ChannelMap& map) {
    for (uint16_t c = 0; c < map.targetChannels; ++c) {
        if (map.targetChannels == 1 && map.sourceChannels >= 2) {
            AddTap(map, 0, 0.5f);
            AddTap(map, 1, 0.5f);
        } else if (map.sourceChannels == 1) {
            if (c < 2) {
                AddTap(map, 0, 1.0f);
            }
        } else if (c < map.sourceChannels) {
            AddTap(map, c, 1.0f);
        }
        EndChannel(map);
    }
}

void MapByPosition(ChannelMap& map, uint32_t sourceMask, uint32_t targetMask) {
    // weights[target * sourceChannels + source]
    std::vector<float> weights(static_cast<size_t>(map.targetChannels) * map.sourceChannels, 0.0f);
    std::vector<float> row(map.targetChannels);
    uint16_t source = 0;
    for (uint32_t rest = sourceMask; rest != 0; rest &= rest - 1, ++source) {
        std::fill(row.begin(), row.end(), 0.0f);
        Route(rest & (~rest + 1), 1.0f, targetMask, 0, row.data());
        for (uint16_t t = 0; t < map.targetChannels; ++t) {
            weights[static_cast<size_t>(t) * map.sourceChannels + source] = row[t];
        }
    }
    for (uint16_t t = 0; t < map.targetChannels; ++t) {
        for (uint16_t s = 0; s < map.sourceChannels; ++s) {
            const float weight = weights[static_cast<size_t>(t) * map.sourceChannels + s];
            if (weight != 0.0f) {
                AddTap(map, s, weight);
            }
        }
        EndChannel(map);
    }
}

bool IsIdentity(const ChannelMap& map) {
    if (map.sourceChannels != map.targetChannels) {
        return false;
    }
    for (uint16_t c = 0; c < map.targetChannels; ++c) {
        const ChannelTap* tap = &map.taps[map.firstTap[c]];
        if (map.firstTap[c + 1] - map.firstTap[c] != 1 || tap->source != c || tap->weight != 1.0f) {
            return false;
        }
    }
    return true;
}

}  // namespace

uint32_t EffectiveChannelMask(uint16_t channels, uint32_t mask) {
    if (mask == 0 && channels == 1) {
        return kFrontCenter;
    }
    if (mask == 0 && channels == 2) {
        return kStereo;
    }
    constexpr uint32_t kKnownPositions = (1u << kPositions) - 1;
    const bool usable = (mask & ~kKnownPositions) == 0 && std::popcount(mask) == channels;
    return usable ? mask : 0;
}

ChannelMap BuildChannelMap(uint16_t sourceChannels, uint32_t sourceMask, uint16_t targetChannels,
                           uint32_t targetMask) {
    ChannelMap map;
    map.sourceChannels = sourceChannels;
    map.targetChannels = targetChannels;
    map.firstTap.push_back(0);
    const uint32_t source = EffectiveChannelMask(sourceChannels, sourceMask);
    const uint32_t target = EffectiveChannelMask(targetChannels, targetMask);
    // A mono source keeps feeding left and right whole, as it always has.
    map.byPosition = source != 0 && target != 0 && sourceChannels > 1;
    if (map.byPosition) {
        MapByPosition(map, source, target);
    } else {
        MapByIndex(map);
    }
    map.identity = IsIdentity(map);
    return map;
}
