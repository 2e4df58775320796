// Cost of the per-packet gain and soft clip against a plain copy of the same
// buffer: one 10 ms packet at 48 kHz, stereo float. The engine's whole
// kernel (float and 16-bit targets) is measured beside it, with and without
// a target's own volume, and so is the splice of a packet cut short.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "audio/engine/packet_splice.h"
#include "audio/engine/sample_format.h"
#include "audio/engine/soft_clip.h"
#include "reference_soft_clip.h"

namespace {

constexpr size_t kFrames = 480;
constexpr size_t kChannels = 2;
constexpr size_t kSamples = kFrames * kChannels;

// Music at a sensible level: a sine whose peaks stay at 0.8, under the knee.
std::vector<float> MakeQuietSine() {
    std::vector<float> signal(kSamples);
    for (size_t i = 0; i < kSamples; ++i) {
        const double phase = 2.0 * 3.141592653589793 * 997.0 * static_cast<double>(i / kChannels) / 48000.0;
        signal[i] = static_cast<float>(0.8 * std::sin(phase));
    }
    return signal;
}

// A loud sine whose peaks reach 1.3 at unity gain: about 45 % of the samples
// lie above the knee, in runs the branch predictor can follow (music-like).
std::vector<float> MakeLoudSine() {
    std::vector<float> signal(kSamples);
    for (size_t i = 0; i < kSamples; ++i) {
        const double frame = static_cast<double>(i / kChannels);
        const double phase = 2.0 * 3.141592653589793 * 997.0 * frame / 48000.0;
        const double level = (i % kChannels == 0) ? 1.3 : 1.1;
        signal[i] = static_cast<float>(level * std::sin(phase));
    }
    return signal;
}

// Uniform noise in -1.3 .. 1.3: about 30 % above the knee in no order, the
// worst case for the knee test.
std::vector<float> MakeLoudNoise() {
    std::mt19937 generator(12345u);
    std::uniform_real_distribution<float> distribution(-1.3f, 1.3f);
    std::vector<float> signal(kSamples);
    for (float& sample : signal) {
        sample = distribution(generator);
    }
    return signal;
}

void ReportThroughput(benchmark::State& state) {
    const auto iterations = static_cast<int64_t>(state.iterations());
    state.SetBytesProcessed(iterations * static_cast<int64_t>(kSamples * sizeof(float)));
    state.SetItemsProcessed(iterations * static_cast<int64_t>(kSamples));
}

using Kernel = void (*)(const float*, float*, size_t, float);

void RunGainSoftClip(benchmark::State& state, Kernel kernel, const std::vector<float>& in) {
    std::vector<float> out(kSamples);
    const float gain = GainFromVolume(50.0f);
    for (auto _ : state) {
        kernel(in.data(), out.data(), kSamples, gain);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportThroughput(state);
}

void BM_GainSoftClip_UnderKnee(benchmark::State& state) {
    RunGainSoftClip(state, ApplyGainSoftClip, MakeQuietSine());
}
BENCHMARK(BM_GainSoftClip_UnderKnee);

void BM_GainSoftClip_LoudSine(benchmark::State& state) {
    RunGainSoftClip(state, ApplyGainSoftClip, MakeLoudSine());
}
BENCHMARK(BM_GainSoftClip_LoudSine);

void BM_GainSoftClip_LoudNoise(benchmark::State& state) {
    RunGainSoftClip(state, ApplyGainSoftClip, MakeLoudNoise());
}
BENCHMARK(BM_GainSoftClip_LoudNoise);

void BM_Before_GainSoftClip_UnderKnee(benchmark::State& state) {
    RunGainSoftClip(state, ReferenceGainSoftClip, MakeQuietSine());
}
BENCHMARK(BM_Before_GainSoftClip_UnderKnee);

void BM_Before_GainSoftClip_LoudSine(benchmark::State& state) {
    RunGainSoftClip(state, ReferenceGainSoftClip, MakeLoudSine());
}
BENCHMARK(BM_Before_GainSoftClip_LoudSine);

void BM_Before_GainSoftClip_LoudNoise(benchmark::State& state) {
    RunGainSoftClip(state, ReferenceGainSoftClip, MakeLoudNoise());
}
BENCHMARK(BM_Before_GainSoftClip_LoudNoise);

// The engine's kernel: gain, soft clip, channel map and encoding in one pass.
// With a target volume (not NaN) the gain is the source's times the target's,
// computed per call as the packet path does; the volumes are hidden from the
// optimiser so that the product is not folded away. At 100 % the samples are
// the same as without, so only the volume's own cost shows.
void RunWriteToTarget(benchmark::State& state, SampleKind kind, float targetVolume) {
    const std::vector<float> in = MakeLoudSine();
    const auto channels = static_cast<uint16_t>(kChannels);
    const uint16_t sampleBytes = kind == SampleKind::Pcm16 ? 2 : 4;
    const SampleLayout target{kind, channels, static_cast<uint16_t>(channels * sampleBytes), 48000};
    const ChannelMap map = BuildChannelMap(kChannels, 0, target.channels, 0);
    std::vector<unsigned char> out(kFrames * target.blockAlign);
    float sourceVolume = 50.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sourceVolume);
        benchmark::DoNotOptimize(targetVolume);
        const float sourceGain = GainFromVolume(sourceVolume);
        const float gain = targetVolume == targetVolume ? TargetGain(sourceGain, targetVolume) : sourceGain;
        WriteToTarget(in.data(), map, kFrames, gain, target, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportThroughput(state);
}

constexpr float kNoTargetVolume = std::numeric_limits<float>::quiet_NaN();

void BM_WriteToTarget_Pcm16Stereo(benchmark::State& state) {
    RunWriteToTarget(state, SampleKind::Pcm16, kNoTargetVolume);
}
BENCHMARK(BM_WriteToTarget_Pcm16Stereo);

void BM_WriteToTarget_Pcm16Stereo_TargetVolume(benchmark::State& state) {
    RunWriteToTarget(state, SampleKind::Pcm16, 100.0f);
}
BENCHMARK(BM_WriteToTarget_Pcm16Stereo_TargetVolume);

void BM_WriteToTarget_FloatStereo(benchmark::State& state) {
    RunWriteToTarget(state, SampleKind::Float32, kNoTargetVolume);
}
BENCHMARK(BM_WriteToTarget_FloatStereo);

void BM_WriteToTarget_FloatStereo_TargetVolume(benchmark::State& state) {
    RunWriteToTarget(state, SampleKind::Float32, 100.0f);
}
BENCHMARK(BM_WriteToTarget_FloatStereo_TargetVolume);

// A packet the frame count cuts to half, the most it leaves out, spliced:
// the search over a quarter of a packet is the whole cost, paid only on
// the packets cut.
void BM_PacketSplice_Half(benchmark::State& state) {
    const std::vector<float> in = MakeQuietSine();
    PacketSplice splice;
    splice.Reserve(static_cast<uint16_t>(kChannels), kFrames);
    for (auto _ : state) {
        uint32_t out = 0;
        benchmark::DoNotOptimize(splice.Process(in.data(), kFrames, kFrames / 2, out));
        benchmark::ClobberMemory();
    }
    ReportThroughput(state);
}
BENCHMARK(BM_PacketSplice_Half);

void BM_Memcpy(benchmark::State& state) {
    const std::vector<float> in = MakeLoudSine();
    std::vector<float> out(kSamples);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), kSamples * sizeof(float));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportThroughput(state);
}
BENCHMARK(BM_Memcpy);

}  // namespace

BENCHMARK_MAIN();
