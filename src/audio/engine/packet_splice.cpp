#include "audio/engine/packet_splice.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {
double Energy(const float* samples, size_t count) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) {
        sum += double(samples[i]) * samples[i];
    }
    return sum;
}
}  // namespace

void PacketSplice::Reserve(uint16_t channels, uint32_t maxFrames) {
    channels_ = channels;
    maxFrames_ = maxFrames;
    out_.assign(static_cast<size_t>(maxFrames) * channels, 0.0f);
}

// Of the skips from `skip` to `most`, the one whose frames are most like the
// packet's own over the stretch every skip shares (normalised correlation);
// `skip` itself unless another is better and alike at all.
uint32_t PacketSplice::BestSkip(const float* in, uint32_t frames, uint32_t skip, uint32_t most) const {
    const size_t span = static_cast<size_t>(frames - most) * channels_;
    const size_t step = channels_;
    const double energy = Energy(in, span);
    double laterEnergy = Energy(in + skip * step, span);
    uint32_t best = skip;
    double bestScore = 0.0;
    for (uint32_t candidate = skip; candidate <= most && energy > 0.0; ++candidate) {
        const float* later = in + candidate * step;
        double product = 0.0;
        for (size_t i = 0; i < span; ++i) {
            product += double(in[i]) * later[i];
        }
        const double score = laterEnergy > 0.0 ? product / std::sqrt(energy * laterEnergy) : 0.0;
        if (score > bestScore + 1e-6) {
            best = candidate;
            bestScore = score;
        }
        if (candidate < most) {  // the stretch moves on by a frame
            laterEnergy += Energy(later + span, step) - Energy(later, step);
        }
    }
    return best;
}

// Frame j of the result mixes the packet's frame j with frame j + skip,
// the latter's share rising from nothing to all across the result.
const float* PacketSplice::Process(const float* in, uint32_t frames, uint32_t keep, uint32_t& outFrames) {
    outFrames = std::min(keep, frames);
    if (!in || outFrames == frames || outFrames == 0 || frames > maxFrames_) {
        return in;  // more than reserved: the tail is cut, as nothing else fits
    }
    const uint32_t skip = frames - outFrames;
    const uint32_t most = skip + std::min(frames / 4, outFrames / 2);
    const uint32_t chosen = BestSkip(in, frames, skip, most);
    outFrames = frames - chosen;
    const float* later = in + static_cast<size_t>(chosen) * channels_;
    for (uint32_t j = 0; j < outFrames; ++j) {
        const float share = static_cast<float>(j + 1) / static_cast<float>(outFrames + 1);
        for (uint16_t c = 0; c < channels_; ++c) {
            const size_t i = static_cast<size_t>(j) * channels_ + c;
            out_[i] = in[i] + share * (later[i] - in[i]);
        }
    }
    return out_.data();
}
