#pragma once

// Frames left out of a packet without a click. A target whose queue stands
// too high, or whose buffer is full, is given fewer frames than the packet
// has; cutting the packet's tail off jumps from its last kept frame to the
// next packet's first, which a listener hears as a click every time. The
// splice instead leaves the frames out of the packet's middle: its frames
// slide from the packet's own (at its start) over to the ones that many
// later (at its end), so it begins and ends where the packet does. Where a
// few more frames left out make the two readings alike (a tone's period),
// it leaves those out too, so the slide neither dips nor beats.
// Platform-free; Reserve runs as the target opens, Process on the packet
// path (the redirect thread), where it allocates nothing.

#include <cstdint>
#include <vector>

class PacketSplice {
public:
    // Room for packets up to maxFrames frames of `channels` interleaved floats.
    void Reserve(uint16_t channels, uint32_t maxFrames);

    // Takes the `frames` frames of `in` (null: silence) and returns at most
    // `keep` of them, spliced, valid until the next call; `outFrames` says
    // how many: `keep`, or fewer by at most a quarter of the packet and half
    // of `keep` where that joins better. `in` itself where nothing is left
    // out or the packet is larger than reserved (its tail is cut then).
    const float* Process(const float* in, uint32_t frames, uint32_t keep, uint32_t& outFrames);

private:
    uint32_t BestSkip(const float* in, uint32_t frames, uint32_t skip, uint32_t most) const;

    std::vector<float> out_;
    uint16_t channels_ = 0;
    uint32_t maxFrames_ = 0;
};
