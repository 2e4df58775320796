#include "audio/engine/sample_format.h"

#include <algorithm>
#include <cstring>

#include "audio/engine/soft_clip.h"

namespace {

size_t BytesPerSample(SampleKind kind) {
    switch (kind) {
    case SampleKind::Pcm16:
        return 2;
    case SampleKind::Pcm24:
        return 3;
    case SampleKind::Float32:
    case SampleKind::Pcm24In32:
    case SampleKind::Pcm32:
        return 4;
    }
    return 0;
}

// A hand-made layout whose block alignment disagrees with its samples would
// make the byte count of a buffer ambiguous; such layouts are never converted.
bool IsConsistent(const SampleLayout& layout) {
    return static_cast<size_t>(layout.channels) * BytesPerSample(layout.kind) == layout.blockAlign;
}

LayoutStatus PcmKind(uint16_t containerBits, uint16_t validBits, SampleKind& kind) {
    const uint16_t valid = validBits == 0 ? containerBits : validBits;
    if (containerBits == 16 && valid == 16) {
        kind = SampleKind::Pcm16;
    } else if (containerBits == 24 && valid == 24) {
        kind = SampleKind::Pcm24;
    } else if (containerBits == 32 && valid == 24) {
        kind = SampleKind::Pcm24In32;
    } else if (containerBits == 32 && valid == 32) {
        kind = SampleKind::Pcm32;
    } else {
        return LayoutStatus::UnsupportedBits;
    }
    return LayoutStatus::Ok;
}

LayoutStatus FloatKind(uint16_t containerBits, uint16_t validBits, SampleKind& kind) {
    const uint16_t valid = validBits == 0 ? containerBits : validBits;
    if (containerBits != 32 || valid != 32) {
        return LayoutStatus::UnsupportedBits;
    }
    kind = SampleKind::Float32;
    return LayoutStatus::Ok;
}

LayoutStatus KindOf(const WaveFormatFields& format, SampleKind& kind) {
    using SubFormat = WaveFormatFields::SubFormat;
    switch (format.formatTag) {
    case WaveFormatFields::kTagPcm:
        return PcmKind(format.bitsPerSample, 0, kind);
    case WaveFormatFields::kTagIeeeFloat:
        return FloatKind(format.bitsPerSample, 0, kind);
    case WaveFormatFields::kTagExtensible:
        if (format.subFormat == SubFormat::Pcm) {
            return PcmKind(format.bitsPerSample, format.validBitsPerSample, kind);
        }
        if (format.subFormat == SubFormat::IeeeFloat) {
            return FloatKind(format.bitsPerSample, format.validBitsPerSample, kind);
        }
        return LayoutStatus::UnsupportedSubFormat;
    default:
        return LayoutStatus::UnsupportedTag;
    }
}

// Little-endian signed integer of kBytes bytes, moved to the top of 32 bits so
// that every width shares one scale.
template <size_t kBytes>
float LoadPcm(const unsigned char* p) {
    uint32_t bits = 0;
    for (size_t b = 0; b < kBytes; ++b) {
        bits |= static_cast<uint32_t>(p[b]) << (8 * (4 - kBytes + b));
    }
    return static_cast<float>(static_cast<int32_t>(bits)) * (1.0f / 2147483648.0f);
}

template <size_t kBytes>
void LoadAll(const unsigned char* in, size_t sampleCount, float* out) {
    for (size_t k = 0; k < sampleCount; ++k) {
        out[k] = LoadPcm<kBytes>(in + k * kBytes);
    }
}

struct StoreFloat {
    static constexpr size_t kBytes = 4;
    void operator()(float value, unsigned char* p) const { std::memcpy(p, &value, sizeof value); }
};

// Rounds half away from zero to kValidBits, saturates, and writes the result
// left-justified in kContainerBytes little-endian bytes.
template <int kValidBits, size_t kContainerBytes>
struct StorePcm {
    static constexpr size_t kBytes = kContainerBytes;
    void operator()(float value, unsigned char* p) const {
        constexpr double kScale = static_cast<double>(int64_t{1} << (kValidBits - 1));
        double scaled = static_cast<double>(value) * kScale;
        scaled += scaled < 0.0 ? -0.5 : 0.5;
        scaled = std::clamp(scaled, -kScale, kScale - 1.0);
        const auto sample = static_cast<int32_t>(scaled);
        const uint32_t bits = static_cast<uint32_t>(sample) << (8 * kBytes - kValidBits);
        for (size_t b = 0; b < kBytes; ++b) {
            p[b] = static_cast<unsigned char>(bits >> (8 * b));
        }
    }
};

// What target channel `channel` plays of one source frame: its taps summed,
// the first one alone when there is just one (so a copied sample keeps its
// bits), silence when there is none.
inline float MixedSample(const float* frame, const ChannelMap& map, uint16_t channel) {
    const uint32_t first = map.firstTap[channel];
    const uint32_t end = map.firstTap[channel + 1u];
    if (first == end) {
        return 0.0f;
    }
    float value = map.taps[first].weight * frame[map.taps[first].source];
    for (uint32_t t = first + 1; t < end; ++t) {
        value += map.taps[t].weight * frame[map.taps[t].source];
    }
    return value;
}

template <typename Store>
void WriteMapped(Store store, const float* source, const ChannelMap& map, uint32_t frames, float gain,
                 unsigned char* out) {
    for (uint32_t f = 0; f < frames; ++f) {
        const float* frame = source + static_cast<size_t>(f) * map.sourceChannels;
        for (uint16_t c = 0; c < map.targetChannels; ++c) {
            const float value = map.identity ? frame[c] : MixedSample(frame, map, c);
            store(SoftClip(value * gain), out);
            out += Store::kBytes;
        }
    }
}

// A map made for other channel counts would read or write out of bounds.
bool Fits(const ChannelMap& map, const SampleLayout& target) {
    return map.targetChannels == target.channels && map.firstTap.size() == map.targetChannels + 1u;
}

}  // namespace

LayoutResult DeriveSampleLayout(const WaveFormatFields& format) {
    LayoutResult result;
    result.status = KindOf(format, result.layout.kind);
    if (result.status != LayoutStatus::Ok) {
        return result;
    }
    result.layout.channels = format.channels;
    result.layout.blockAlign = format.blockAlign;
    result.layout.sampleRate = format.samplesPerSec;
    result.layout.channelMask = format.channelMask;
    if (format.channels == 0) {
        result.status = LayoutStatus::NoChannels;
    } else if (format.samplesPerSec == 0) {
        result.status = LayoutStatus::NoSampleRate;
    } else if (!IsConsistent(result.layout)) {
        result.status = LayoutStatus::BlockAlignMismatch;
    }
    return result;
}

const char* LayoutStatusText(LayoutStatus status) {
    switch (status) {
    case LayoutStatus::Ok:
        return "supported";
    case LayoutStatus::UnsupportedTag:
        return "unsupported format tag";
    case LayoutStatus::UnsupportedSubFormat:
        return "unsupported sub-format";
    case LayoutStatus::UnsupportedBits:
        return "unsupported bit depth";
    case LayoutStatus::NoChannels:
        return "no channels";
    case LayoutStatus::NoSampleRate:
        return "no sample rate";
    case LayoutStatus::BlockAlignMismatch:
        return "block alignment does not match channels and bit depth";
    }
    return "unknown";
}

bool CanFeedTarget(const SampleLayout& source, const SampleLayout& target) {
    return source.sampleRate == target.sampleRate;
}

size_t ScratchFloatsFor(const SampleLayout& source, uint32_t maxPacketFrames) {
    if (source.kind == SampleKind::Float32) {
        return 0;
    }
    return static_cast<size_t>(maxPacketFrames) * source.channels;
}

uint32_t ConvertPacketToFloat(const void* packet, const SampleLayout& source, uint32_t frames,
                              float* scratch, size_t scratchFloats) {
    if (source.channels == 0 || !IsConsistent(source)) {
        return 0;
    }
    const auto fitting = static_cast<uint32_t>(
        std::min<size_t>(frames, scratchFloats / source.channels));
    const size_t count = static_cast<size_t>(fitting) * source.channels;
    const auto* in = static_cast<const unsigned char*>(packet);
    switch (source.kind) {
    case SampleKind::Float32:
        std::memcpy(scratch, in, count * sizeof(float));
        break;
    case SampleKind::Pcm16:
        LoadAll<2>(in, count, scratch);
        break;
    case SampleKind::Pcm24:
        LoadAll<3>(in, count, scratch);
        break;
    case SampleKind::Pcm24In32:
    case SampleKind::Pcm32:
        LoadAll<4>(in, count, scratch);
        break;
    }
    return fitting;
}

ChannelMap ChannelMapFor(const SampleLayout& source, const SampleLayout& target) {
    return BuildChannelMap(source.channels, source.channelMask, target.channels, target.channelMask);
}

void WriteToTarget(const float* source, const ChannelMap& map, uint32_t frames, float gain,
                   const SampleLayout& target, void* dest) {
    if (!IsConsistent(target) || !Fits(map, target)) {
        WriteSilence(target, frames, dest);
        return;
    }
    if (target.kind == SampleKind::Float32 && map.identity) {
        ApplyGainSoftClip(source, static_cast<float*>(dest), static_cast<size_t>(frames) * target.channels,
                          gain);
        return;
    }
    auto* out = static_cast<unsigned char*>(dest);
    switch (target.kind) {
    case SampleKind::Float32:
        WriteMapped(StoreFloat{}, source, map, frames, gain, out);
        break;
    case SampleKind::Pcm16:
        WriteMapped(StorePcm<16, 2>{}, source, map, frames, gain, out);
        break;
    case SampleKind::Pcm24:
        WriteMapped(StorePcm<24, 3>{}, source, map, frames, gain, out);
        break;
    case SampleKind::Pcm24In32:
        WriteMapped(StorePcm<24, 4>{}, source, map, frames, gain, out);
        break;
    case SampleKind::Pcm32:
        WriteMapped(StorePcm<32, 4>{}, source, map, frames, gain, out);
        break;
    }
}

void WriteSilence(const SampleLayout& target, uint32_t frames, void* dest) {
    std::memset(dest, 0, static_cast<size_t>(frames) * target.blockAlign);
}
