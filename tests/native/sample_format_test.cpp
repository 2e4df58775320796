#include "audio/engine/sample_format.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "audio/engine/soft_clip.h"
#include "reference_soft_clip.h"

namespace {

using Bytes = std::vector<unsigned char>;
using SubFormat = WaveFormatFields::SubFormat;

WaveFormatFields Format(uint16_t tag, uint16_t channels, uint16_t bits, uint16_t blockAlign,
                        uint16_t validBits = 0, SubFormat sub = SubFormat::Other) {
    WaveFormatFields f;
    f.formatTag = tag;
    f.channels = channels;
    f.samplesPerSec = 48000;
    f.blockAlign = blockAlign;
    f.bitsPerSample = bits;
    f.validBitsPerSample = validBits;
    f.subFormat = sub;
    return f;
}

SampleLayout Layout(SampleKind kind, uint16_t channels) {
    const int bytes = kind == SampleKind::Pcm16 ? 2 : kind == SampleKind::Pcm24 ? 3 : 4;
    return {kind, channels, static_cast<uint16_t>(bytes * channels), 48000};
}

Bytes Head(const Bytes& bytes, size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

Bytes Tail(const Bytes& bytes, size_t from) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
}

// Writes into a buffer larger than needed, pre-filled with `fill`, and
// returns all of it so that tests can look past the end.
Bytes WriteFilled(const std::vector<float>& source, uint16_t sourceChannels, uint32_t frames,
                  float gain, const SampleLayout& target, unsigned char fill) {
    Bytes buffer(static_cast<size_t>(frames) * target.blockAlign + 16, fill);
    WriteToTarget(source.data(), BuildChannelMap(sourceChannels, 0, target.channels, target.channelMask), frames,
                  gain, target, buffer.data());
    return buffer;
}

Bytes Write(const std::vector<float>& source, uint16_t sourceChannels, uint32_t frames,
            const SampleLayout& target) {
    Bytes buffer = WriteFilled(source, sourceChannels, frames, 1.0f, target, 0xAB);
    return Head(buffer, static_cast<size_t>(frames) * target.blockAlign);
}

std::vector<float> AsFloats(const Bytes& bytes) {
    std::vector<float> floats(bytes.size() / sizeof(float));
    std::memcpy(floats.data(), bytes.data(), floats.size() * sizeof(float));
    return floats;
}

TEST(SampleLayoutTest, DerivesEverySupportedEncoding) {
    struct Case {
        WaveFormatFields format;
        SampleKind kind;
    };
    const Case cases[] = {
        {Format(3, 2, 32, 8), SampleKind::Float32},
        {Format(1, 2, 16, 4), SampleKind::Pcm16},
        {Format(1, 2, 24, 6), SampleKind::Pcm24},
        {Format(1, 2, 32, 8), SampleKind::Pcm32},
        // Plain PCM has no valid-bits field: whatever is there is ignored.
        {Format(1, 2, 16, 4, 24), SampleKind::Pcm16},
        {Format(0xFFFE, 8, 32, 32, 32, SubFormat::IeeeFloat), SampleKind::Float32},
        {Format(0xFFFE, 2, 32, 8, 0, SubFormat::IeeeFloat), SampleKind::Float32},
        {Format(0xFFFE, 2, 16, 4, 16, SubFormat::Pcm), SampleKind::Pcm16},
        {Format(0xFFFE, 2, 24, 6, 24, SubFormat::Pcm), SampleKind::Pcm24},
        {Format(0xFFFE, 2, 32, 8, 24, SubFormat::Pcm), SampleKind::Pcm24In32},
        {Format(0xFFFE, 6, 32, 24, 32, SubFormat::Pcm), SampleKind::Pcm32},
    };
    for (const Case& c : cases) {
        const LayoutResult result = DeriveSampleLayout(c.format);
        ASSERT_EQ(result.status, LayoutStatus::Ok) << c.format.formatTag << "/" << c.format.bitsPerSample;
        EXPECT_EQ(result.layout.kind, c.kind);
        EXPECT_EQ(result.layout.channels, c.format.channels);
        EXPECT_EQ(result.layout.blockAlign, c.format.blockAlign);
        EXPECT_EQ(result.layout.sampleRate, 48000u);
    }
}

TEST(SampleLayoutTest, ReportsWhatItCannotEncode) {
    struct Case {
        WaveFormatFields format;
        LayoutStatus status;
    };
    WaveFormatFields noRate = Format(3, 2, 32, 8);
    noRate.samplesPerSec = 0;
    const Case cases[] = {
        {Format(2, 2, 4, 2048), LayoutStatus::UnsupportedTag},
        {Format(0xFFFE, 2, 32, 8, 32, SubFormat::Other), LayoutStatus::UnsupportedSubFormat},
        {Format(3, 2, 64, 16), LayoutStatus::UnsupportedBits},
        {Format(1, 2, 8, 2), LayoutStatus::UnsupportedBits},
        {Format(0xFFFE, 2, 32, 8, 20, SubFormat::Pcm), LayoutStatus::UnsupportedBits},
        {Format(0xFFFE, 2, 16, 4, 24, SubFormat::Pcm), LayoutStatus::UnsupportedBits},
        {Format(0xFFFE, 2, 32, 8, 24, SubFormat::IeeeFloat), LayoutStatus::UnsupportedBits},
        {Format(3, 0, 32, 0), LayoutStatus::NoChannels},
        {noRate, LayoutStatus::NoSampleRate},
        {Format(1, 2, 16, 8), LayoutStatus::BlockAlignMismatch},
        {Format(3, 2, 32, 4), LayoutStatus::BlockAlignMismatch},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeriveSampleLayout(c.format).status, c.status)
            << c.format.formatTag << "/" << c.format.bitsPerSample << "/" << c.format.validBitsPerSample;
    }
}

TEST(SampleLayoutTest, TargetsMustRunAtTheSourceRate) {
    const SampleLayout source = Layout(SampleKind::Float32, 2);
    EXPECT_TRUE(CanFeedTarget(source, Layout(SampleKind::Pcm16, 6)));
    SampleLayout other = source;
    other.sampleRate = 44100;
    EXPECT_FALSE(CanFeedTarget(source, other));
}

TEST(ConvertPacketTest, DecodesEachIntegerWidth) {
    struct Case {
        SampleKind kind;
        Bytes packet;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {SampleKind::Pcm16, {0x00, 0x40, 0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF},
         {0.5f, -1.0f, 32767.0f / 32768.0f, -1.0f / 32768.0f}},
        {SampleKind::Pcm24, {0x00, 0x00, 0x40, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00},
         {0.5f, -1.0f, -1.0f / 8388608.0f, 1.0f / 8388608.0f}},
        {SampleKind::Pcm24In32, {0x00, 0x00, 0x00, 0xC0, 0x00, 0x01, 0x00, 0x00},
         {-0.5f, 1.0f / 8388608.0f}},
        {SampleKind::Pcm32, {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xE0},
         {0.5f, -0.25f}},
    };
    for (const Case& c : cases) {
        const SampleLayout mono = Layout(c.kind, 1);
        std::vector<float> scratch(ScratchFloatsFor(mono, 8));
        const auto frames = static_cast<uint32_t>(c.expected.size());
        ASSERT_EQ(ConvertPacketToFloat(c.packet.data(), mono, frames, scratch.data(), scratch.size()),
                  frames);
        scratch.resize(frames);
        EXPECT_EQ(scratch, c.expected) << static_cast<int>(c.kind);
    }
}

TEST(ConvertPacketTest, NeverWritesPastTheScratch) {
    const SampleLayout stereo = Layout(SampleKind::Pcm16, 2);
    EXPECT_EQ(ScratchFloatsFor(stereo, 480), 960u);
    EXPECT_EQ(ScratchFloatsFor(Layout(SampleKind::Float32, 2), 480), 0u);

    const Bytes packet(4 * stereo.blockAlign, 0x10);
    std::vector<float> scratch(7, -5.0f);  // room for 3 frames and one guard
    EXPECT_EQ(ConvertPacketToFloat(packet.data(), stereo, 4, scratch.data(), 6), 3u);
    EXPECT_FLOAT_EQ(scratch[5], 0x1010 / 32768.0f);
    EXPECT_EQ(scratch[6], -5.0f);
}

TEST(WriteToTargetTest, SameLayoutIsGainAndClipStraightIntoTheBuffer) {
    const std::vector<float> source = {0.25f, -0.25f, 0.5f, -0.5f, 0.7f, 0.1f};
    const Bytes written = WriteFilled(source, 2, 3, 2.0f, Layout(SampleKind::Float32, 2), 0xAB);

    std::vector<float> expected(source.size());
    ReferenceGainSoftClip(source.data(), expected.data(), source.size(), 2.0f);
    EXPECT_EQ(AsFloats(Head(written, 24)), expected);
    EXPECT_EQ(Tail(written, 24), Bytes(16, 0xAB));
}

TEST(WriteToTargetTest, EncodesIntegerSamplesByteExactly) {
    // 0.5, -0.5, 1.5 and -1.5 units of the last bit (rounded away from zero),
    // and a value above the ceiling that the clipper brings to 0.999.
    struct Case {
        SampleKind kind;
        float lsb;
        Bytes expected;
    };
    const Case cases[] = {
        {SampleKind::Pcm16, 1.0f / 32768.0f,
         {0x00, 0x40, 0x00, 0xC0, 0x02, 0x00, 0xFE, 0xFF, 0xDF, 0x7F}},
        {SampleKind::Pcm24, 1.0f / 8388608.0f,
         {0x00, 0x00, 0x40, 0x00, 0x00, 0xC0, 0x02, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0x3C, 0xDF, 0x7F}},
        {SampleKind::Pcm24In32, 1.0f / 8388608.0f,
         {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x02, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF,
          0x00, 0x3C, 0xDF, 0x7F}},
        {SampleKind::Pcm32, 1.0f / 2147483648.0f,
         {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC0, 0x02, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF,
          0x80, 0x3B, 0xDF, 0x7F}},
    };
    for (const Case& c : cases) {
        const std::vector<float> source = {0.5f, -0.5f, 1.5f * c.lsb, -1.5f * c.lsb, 2.0f};
        EXPECT_EQ(Write(source, 1, 5, Layout(c.kind, 1)), c.expected) << static_cast<int>(c.kind);
    }
}

TEST(WriteToTargetTest, GainAppliesOnTheConvertingPath) {
    const std::vector<float> source = {0.25f, -0.125f};
    const Bytes written = WriteFilled(source, 1, 2, GainFromVolume(100.0f), Layout(SampleKind::Pcm16, 1), 0);
    EXPECT_EQ(Head(written, 4), (Bytes{0x00, 0x40, 0x00, 0xE0}));
}

TEST(WriteToTargetTest, MapsChannels) {
    struct Case {
        const char* name;
        uint16_t sourceChannels;
        uint16_t targetChannels;
        std::vector<float> source;  // two frames
        std::vector<float> expected;
    };
    const Case cases[] = {
        {"mono to stereo", 1, 2, {0.1f, 0.2f}, {0.1f, 0.1f, 0.2f, 0.2f}},
        {"mono to quad", 1, 4, {0.1f, 0.2f}, {0.1f, 0.1f, 0.0f, 0.0f, 0.2f, 0.2f, 0.0f, 0.0f}},
        {"stereo to mono", 2, 1, {0.2f, 0.6f, -0.5f, 0.1f}, {0.4f, -0.2f}},
        {"six channels without positions to mono", 6, 1, {0.2f, 0.6f, 0.9f, 0.9f, 0.9f, 0.9f, 0.0f, 0.2f, 0.9f, 0.9f, 0.9f, 0.9f},
         {0.4f, 0.1f}},
        {"stereo to quad", 2, 4, {0.1f, 0.2f, 0.3f, 0.4f}, {0.1f, 0.2f, 0.0f, 0.0f, 0.3f, 0.4f, 0.0f, 0.0f}},
        {"six channels without positions to stereo", 6, 2, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 0.1f, 0.2f, 0.3f},
         {0.1f, 0.2f, 0.7f, 0.8f}},
    };
    for (const Case& c : cases) {
        const SampleLayout target = Layout(SampleKind::Float32, c.targetChannels);
        const std::vector<float> got = AsFloats(Write(c.source, c.sourceChannels, 2, target));
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (size_t k = 0; k < got.size(); ++k) {
            EXPECT_FLOAT_EQ(got[k], c.expected[k]) << c.name << " sample " << k;
        }
    }
}

TEST(WriteToTargetTest, WritesExactlyFramesTimesBlockAlign) {
    const uint16_t kChannelCounts[] = {1, 2, 6};
    const uint32_t frames = 5;
    std::vector<float> source(frames * 6);
    for (size_t k = 0; k < source.size(); ++k) {
        source[k] = 0.13f * static_cast<float>(k % 9) - 0.5f;
    }
    for (SampleKind kind : {SampleKind::Float32, SampleKind::Pcm16, SampleKind::Pcm24, SampleKind::Pcm24In32,
                            SampleKind::Pcm32}) {
        for (uint16_t sourceChannels : kChannelCounts) {
            for (uint16_t targetChannels : kChannelCounts) {
                const SampleLayout target = Layout(kind, targetChannels);
                const size_t size = static_cast<size_t>(frames) * target.blockAlign;
                // Two different fills: a byte the writer skipped would differ
                // between the runs, a byte written past the end would differ
                // from its fill.
                const Bytes a = WriteFilled(source, sourceChannels, frames, 1.0f, target, 0xAB);
                const Bytes b = WriteFilled(source, sourceChannels, frames, 1.0f, target, 0x54);
                const std::string where = std::to_string(static_cast<int>(kind)) + ": " +
                                          std::to_string(sourceChannels) + " -> " +
                                          std::to_string(targetChannels);
                EXPECT_EQ(Head(a, size), Head(b, size)) << where;
                EXPECT_EQ(Tail(a, size), Bytes(16, 0xAB)) << where;
                EXPECT_EQ(Tail(b, size), Bytes(16, 0x54)) << where;
            }
        }
    }
}

TEST(WriteToTargetTest, InconsistentLayoutGetsSilenceOfItsOwnSize) {
    SampleLayout odd = Layout(SampleKind::Pcm16, 2);
    odd.blockAlign = 3;  // no 16-bit stereo frame is 3 bytes
    const std::vector<float> source(8, 0.5f);
    const Bytes written = WriteFilled(source, 2, 4, 1.0f, odd, 0xAB);
    EXPECT_EQ(Head(written, 12), Bytes(12, 0));
    EXPECT_EQ(Tail(written, 12), Bytes(16, 0xAB));
}

TEST(WriteSilenceTest, ZeroesTheTargetsOwnFramesOnly) {
    for (const SampleLayout& target : {Layout(SampleKind::Pcm24, 2), Layout(SampleKind::Float32, 6)}) {
        const size_t size = 5u * target.blockAlign;
        Bytes buffer(size + 16, 0xAB);
        WriteSilence(target, 5, buffer.data());
        EXPECT_EQ(Head(buffer, size), Bytes(size, 0));
        EXPECT_EQ(Tail(buffer, size), Bytes(16, 0xAB));
    }
}

}  // namespace
