#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/engine/channel_map.h"

// Stream formats as the engine sees them, and the conversions of the packet
// path between the source's samples and a target's render buffer.
//
// The source's packets are carried as interleaved 32-bit float: a float source
// is read straight from its capture buffer, an integer PCM source is first
// converted into a scratch buffer the engine allocates at set-up. Each target
// then receives gain, soft clip, a channel map and its own sample encoding in
// one pass over the frames it takes.
//
// Threads: DeriveSampleLayout, ScratchFloatsFor and CanFeedTarget are for
// set-up on the redirect thread (or anywhere: they are pure). The conversion
// functions are called by the redirect thread on every packet; they allocate
// nothing, lock nothing and write exactly the bytes stated.

enum class SampleKind {
    Float32,
    Pcm16,
    Pcm24,      // 3 bytes per sample
    Pcm24In32,  // 24 valid bits left-justified in a 32-bit container
    Pcm32,
};

struct SampleLayout {
    SampleKind kind = SampleKind::Float32;
    uint16_t channels = 0;
    uint16_t blockAlign = 0;  // bytes per frame
    uint32_t sampleRate = 0;
    uint32_t channelMask = 0;  // speaker positions; 0: none given

    bool operator==(const SampleLayout&) const = default;
};

// The numbers of a WAVEFORMATEX, plus those of the WAVEFORMATEXTENSIBLE tail
// when the tag says it has one.
struct WaveFormatFields {
    static constexpr uint16_t kTagPcm = 1;
    static constexpr uint16_t kTagIeeeFloat = 3;
    static constexpr uint16_t kTagExtensible = 0xFFFE;

    enum class SubFormat { Other, Pcm, IeeeFloat };

    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    // Extensible formats only; 0 means "same as bitsPerSample".
    uint16_t validBitsPerSample = 0;
    SubFormat subFormat = SubFormat::Other;
    // Extensible formats only; 0: no speaker positions given.
    uint32_t channelMask = 0;
};

enum class LayoutStatus {
    Ok,
    UnsupportedTag,        // neither PCM, IEEE float nor extensible
    UnsupportedSubFormat,  // extensible with a sub-format other than PCM or float
    UnsupportedBits,       // container / valid bits the engine cannot encode
    NoChannels,
    NoSampleRate,
    BlockAlignMismatch,    // block alignment is not channels x container bytes
};

struct LayoutResult {
    LayoutStatus status = LayoutStatus::UnsupportedTag;
    SampleLayout layout;  // meaningful only when status is Ok
};

LayoutResult DeriveSampleLayout(const WaveFormatFields& format);

// Short English reason for the log ("unsupported bit depth", ...).
const char* LayoutStatusText(LayoutStatus status);

// A target plays the source's frames one for one, so its clock must run at
// the source's rate; channel count and encoding are converted.
bool CanFeedTarget(const SampleLayout& source, const SampleLayout& target);

// Floats of scratch the engine must hold to convert packets of up to
// maxPacketFrames frames from the source; 0 when the source is already float
// and its packets are used in place.
size_t ScratchFloatsFor(const SampleLayout& source, uint32_t maxPacketFrames);

// Converts `frames` frames of an integer PCM (or float) packet into
// interleaved floats in -1 .. 1. Converts no more frames than scratchFloats
// can hold and returns the number of frames converted.
uint32_t ConvertPacketToFloat(const void* packet, const SampleLayout& source, uint32_t frames,
                              float* scratch, size_t scratchFloats);

// The channel map of a target opened in `target`'s layout, fed from `source`.
ChannelMap ChannelMapFor(const SampleLayout& source, const SampleLayout& target);

// Writes `frames` frames into a target's render buffer: every sample is the
// soft clip of gain x its mix of source samples (channel_map.h), encoded in
// the target's sample kind. The source holds map.sourceChannels interleaved
// channels. Exactly frames x target.blockAlign bytes are written (silence
// when the map is not one for the target's channels). `dest` must be aligned
// for float when the target is float (render buffers are).
void WriteToTarget(const float* source, const ChannelMap& map, uint32_t frames, float gain,
                   const SampleLayout& target, void* dest);

// Fills `frames` frames of the target's render buffer with silence:
// frames x target.blockAlign zero bytes.
void WriteSilence(const SampleLayout& target, uint32_t frames, void* dest);
