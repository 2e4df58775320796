#include "audio_analysis.h"
#include "audio/engine/soft_clip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr size_t kSecond = kAnalysisSampleRate;

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "audio_analysis_test_" + name;
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<float> Sine440(size_t frames, double amplitude = 0.5)
{
    return GenerateSine(440.0, amplitude, frames);
}

int Discontinuities(const std::vector<float>& x)
{
    const DiscontinuityReport report = CountDiscontinuities(x, 440.0);
    EXPECT_TRUE(report.analysed);
    return report.count;
}

TEST(RawAudioFiles, Float32RoundTripKeepsEverySampleAndChannel)
{
    const std::vector<float> left = GenerateNoise(0.9, 1000, 7);
    AudioBuffer stereo = MakeMultiChannel(left, 2);
    for (size_t frame = 0; frame < left.size(); ++frame) {
        stereo.samples[frame * 2 + 1] = -0.25f * left[frame];
    }
    const std::string path = TempPath("roundtrip.raw");
    ASSERT_TRUE(SaveRawFloat32(path, stereo));

    const AudioLoadResult loaded = LoadRawAudio(path, RawSampleFormat::Float32LE, 2);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(loaded.audio.FrameCount(), 1000u);
    EXPECT_EQ(ExtractChannel(loaded.audio, 0), left);
    EXPECT_EQ(ExtractChannel(loaded.audio, 1)[10], -0.25f * left[10]);
    EXPECT_TRUE(ExtractChannel(loaded.audio, 2).empty());
    std::remove(path.c_str());
}

TEST(RawAudioFiles, DecodesLittleEndianS16AndDropsPartialFrame)
{
    const std::string path = TempPath("s16.raw");
    // Frames (16384, -32768), (-1, 0x7FFF), then one stray byte.
    WriteBytes(path, {0x00, 0x40, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0x12});
    const AudioLoadResult loaded = LoadRawAudio(path, RawSampleFormat::S16LE, 2);
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.audio.samples.size(), 4u);
    EXPECT_EQ(loaded.audio.samples[0], 0.5f);
    EXPECT_EQ(loaded.audio.samples[1], -1.0f);
    EXPECT_EQ(loaded.audio.samples[2], -1.0f / 32768.0f);
    EXPECT_EQ(loaded.audio.samples[3], 32767.0f / 32768.0f);
    std::remove(path.c_str());

    EXPECT_FALSE(LoadRawAudio(TempPath("missing.raw"), RawSampleFormat::Float32LE, 2).ok);
}

TEST(SignalLevels, SpanSkipsSilenceAndLevelsMatchTheSine)
{
    std::vector<float> x(300, 0.0f);
    const std::vector<float> sine = Sine440(kSecond);
    x.insert(x.end(), sine.begin() + 1, sine.end());  // sample 0 of a sine is 0
    x.insert(x.end(), 500, 0.0f);

    const SignalSpan span = FindSignalSpan(x, 0.001f);
    EXPECT_EQ(span.first, 300u);
    EXPECT_NEAR(double(span.end), double(x.size() - 500), 2.0);
    const LevelStats level = MeasureLevel(SubSpan(x, span));
    EXPECT_NEAR(level.peak, 0.5, 1e-4);
    EXPECT_NEAR(level.rms, 0.5 / std::sqrt(2.0), 1e-3);

    EXPECT_TRUE(FindSignalSpan(std::vector<float>(100, 0.0005f), 0.001f).Empty());
}

// Sound and silence laid end to end: the stretches of sound must come back
// as they were laid, a silence shorter than the gap joining its neighbours.
struct SpansCase {
    const char* name;
    std::vector<std::pair<bool, size_t>> pieces;  // sound?, frames
    std::vector<SignalSpan> expected;
};

void PrintTo(const SpansCase& c, std::ostream* os)
{
    *os << c.name;
}

class SignalSpans : public ::testing::TestWithParam<SpansCase> {};

TEST_P(SignalSpans, StretchesOfSoundAreFoundWhereTheyWereLaid)
{
    std::vector<float> x;
    for (const auto& [sound, frames] : GetParam().pieces) {
        const std::vector<float> sine = Sine440(frames + 1);
        x.insert(x.end(), sine.begin() + 1, sine.end());
        if (!sound) {
            std::fill(x.end() - static_cast<std::ptrdiff_t>(frames), x.end(), 0.0f);
        }
    }
    const std::vector<SignalSpan> spans = FindSignalSpans(x, 0.01f, kSecond / 10);
    ASSERT_EQ(spans.size(), GetParam().expected.size());
    for (size_t i = 0; i < spans.size(); ++i) {
        EXPECT_NEAR(double(spans[i].first), double(GetParam().expected[i].first), 2.0) << i;
        EXPECT_NEAR(double(spans[i].end), double(GetParam().expected[i].end), 2.0) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    AudioAnalysis, SignalSpans,
    ::testing::Values(
        SpansCase{"Silence", {{false, kSecond}}, {}},
        SpansCase{"OneTone", {{false, 1000}, {true, kSecond}, {false, 1000}}, {{1000, 1000 + kSecond}}},
        SpansCase{"StoppedAndStarted",
                  {{true, kSecond}, {false, kSecond}, {true, kSecond}},
                  {{0, kSecond}, {2 * kSecond, 3 * kSecond}}},
        SpansCase{"DropoutShorterThanTheGap",
                  {{true, kSecond}, {false, kSecond / 20}, {true, kSecond}},
                  {{0, 2 * kSecond + kSecond / 20}}}),
    [](const ::testing::TestParamInfo<SpansCase>& info) { return std::string(info.param.name); });

TEST(SineMeasurements, FrequencyAndAmplitudeOfCleanAndClippedSines)
{
    const std::vector<float> x = Sine440(2 * kSecond);
    EXPECT_NEAR(EstimateFrequencyHz(x), 440.0, 1.0);
    EXPECT_NEAR(EstimateSineAmplitude(x, 440.0), 0.5, 0.005);
    EXPECT_NEAR(EstimateFrequencyHz(GenerateSine(1000.0, 0.1, kSecond)), 1000.0, 1.0);

    std::vector<float> clipped = Sine440(kSecond, 1.2);
    std::transform(clipped.begin(), clipped.end(), clipped.begin(), SoftClip);
    EXPECT_NEAR(EstimateFrequencyHz(clipped), 440.0, 1.0);
    EXPECT_EQ(EstimateFrequencyHz(std::vector<float>(1000, 0.0f)), 0.0);
}

TEST(Discontinuities, CleanSineReadsCleanEvenSoftClippedOrQuantised)
{
    EXPECT_EQ(Discontinuities(Sine440(2 * kSecond)), 0);
    for (double amplitude : {0.95, 1.0, 1.2, 2.0}) {
        std::vector<float> clipped = Sine440(kSecond, amplitude);
        std::transform(clipped.begin(), clipped.end(), clipped.begin(), SoftClip);
        EXPECT_EQ(Discontinuities(clipped), 0) << "amplitude " << amplitude;
    }
    std::vector<float> quantised = Sine440(kSecond);
    for (float& v : quantised) {
        v = std::round(v * 32767.0f) / 32768.0f;
    }
    EXPECT_EQ(Discontinuities(quantised), 0);
}

TEST(Discontinuities, EveryDropOfOneTo480FramesIsSeen)
{
    const std::vector<float> clean = Sine440(kSecond / 2);
    for (size_t dropped = 1; dropped <= 480; ++dropped) {
        std::vector<float> x = clean;
        const size_t at = 5000 + dropped * 31 % 7000;  // drops land at varied phases and block offsets
        x.erase(x.begin() + std::ptrdiff_t(at), x.begin() + std::ptrdiff_t(at + dropped));
        const DiscontinuityReport report = CountDiscontinuities(x, 440.0);
        ASSERT_EQ(report.count, 1) << dropped << " frames dropped at " << at;
        EXPECT_NEAR(double(report.eventFrames[0]), double(at), 960.0);
    }
}

TEST(Discontinuities, InsertedSilenceRepeatsAndSeparateEventsAreCounted)
{
    std::vector<float> zeros = Sine440(kSecond);
    zeros.insert(zeros.begin() + 20000, 480, 0.0f);
    EXPECT_GE(Discontinuities(zeros), 1);

    std::vector<float> oneZero = Sine440(kSecond);
    oneZero.insert(oneZero.begin() + 20000, 1, 0.0f);
    EXPECT_GE(Discontinuities(oneZero), 1);

    std::vector<float> repeated = Sine440(kSecond);  // a packet delivered twice
    const std::vector<float> packet(repeated.begin() + 19520, repeated.begin() + 20000);
    repeated.insert(repeated.begin() + 20000, packet.begin(), packet.end());
    EXPECT_GE(Discontinuities(repeated), 1);

    std::vector<float> two = Sine440(kSecond);
    two.erase(two.begin() + 30000, two.begin() + 30100);
    two.erase(two.begin() + 10000, two.begin() + 10100);
    EXPECT_EQ(Discontinuities(two), 2);
}

TEST(Discontinuities, SilenceOrTooShortIsNotAnalysed)
{
    EXPECT_FALSE(CountDiscontinuities(std::vector<float>(kSecond, 0.0f), 440.0).analysed);
    EXPECT_FALSE(CountDiscontinuities(Sine440(1500), 440.0).analysed);
}

TEST(Delay, FindsKnownLagOfNoiseAndChirpInBothDirections)
{
    const std::vector<float> noise = GenerateNoise(0.3, kSecond, 42);
    std::vector<float> late(1234, 0.0f);
    late.insert(late.end(), noise.begin(), noise.end() - 1234);
    DelayEstimate estimate = EstimateDelayFrames(noise, late, 24000);
    ASSERT_TRUE(estimate.found);
    EXPECT_EQ(estimate.delayFrames, 1234);
    EXPECT_GT(estimate.correlation, 0.9);

    EXPECT_EQ(EstimateDelayFrames(late, noise, 24000).delayFrames, -1234);

    const std::vector<float> chirp = GenerateChirp(100.0, 10000.0, 0.5, kSecond);
    std::vector<float> chirpLate(777, 0.0f);
    chirpLate.insert(chirpLate.end(), chirp.begin(), chirp.end());
    EXPECT_EQ(EstimateDelayFrames(chirp, chirpLate, 24000).delayFrames, 777);
}

TEST(Delay, UnrelatedOrSilentSignalsAreRecognisable)
{
    const DelayEstimate unrelated =
        EstimateDelayFrames(GenerateNoise(0.3, kSecond, 1), GenerateNoise(0.3, kSecond, 2), 4800);
    ASSERT_TRUE(unrelated.found);
    EXPECT_LT(unrelated.correlation, 0.05);
    EXPECT_FALSE(EstimateDelayFrames(std::vector<float>(1000, 0.0f), GenerateNoise(0.3, 1000, 3), 100).found);
}

}  // namespace

TEST(ClassifyDropouts, TellsInsertedSilenceFromDroppedFrames)
{
    const std::vector<float> clean = GenerateSine(440.0, 0.5, 5 * kAnalysisSampleRate);
    struct Case {
        const char* what;
        int silences;
        int dropped;
    };
    std::vector<float> silenced = clean;
    std::fill(silenced.begin() + 48000, silenced.begin() + 48480, 0.0f);  // 10 ms of silence
    std::fill(silenced.begin() + 150000, silenced.begin() + 150720, 0.0f);
    std::vector<float> skipped = clean;
    skipped.erase(skipped.begin() + 100000, skipped.begin() + 100037);  // 37 frames dropped
    for (const auto& [audio, expected] : {std::pair{clean, Case{"clean", 0, 0}},
                                          std::pair{silenced, Case{"two silences", 2, 0}},
                                          std::pair{skipped, Case{"a skip", 0, 1}}}) {
        const DropoutReport report = ClassifyDropouts(audio, 440.0);
        ASSERT_TRUE(report.analysed) << expected.what;
        EXPECT_EQ(report.silences, expected.silences) << expected.what;
        EXPECT_EQ(report.dropped, expected.dropped) << expected.what;
    }
}
