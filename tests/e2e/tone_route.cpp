#include "tone_route.h"

#include <filesystem>
#include <thread>

#include "audio/engine/soft_clip.h"
#include "harness.h"

using namespace std::chrono_literals;

namespace
{
constexpr double kToneFileSeconds = 40.0;
// The start of every heard tone is skipped: the player's own start-up and
// the route's first packets are not what is being judged.
constexpr size_t kSettleFrames = kAnalysisSampleRate / 2;
constexpr size_t kTailFrames = kAnalysisSampleRate / 10;
constexpr float kHeardThreshold = 0.01f;
constexpr float kSilentPeak = 1e-4f;

// A recorder writes nothing until its stream runs; a slow start would
// otherwise cut the front off the tone.
bool WaitForFileData(const std::string& path, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::error_code error;
    while (std::filesystem::file_size(path, error) == 0 || error)
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}
}  // namespace

SinkRecordings RecordTone(const std::string& folder, std::chrono::milliseconds seconds,
                          const std::vector<std::string>& sinks)
{
    std::vector<ChildProcess> recorders;
    for (const std::string& sink : sinks)
    {
        recorders.push_back(RecordRawAudio(sink + ".monitor", folder + "/" + sink + ".raw"));
    }
    for (const std::string& sink : sinks)
    {
        EXPECT_TRUE(WaitForFileData(folder + "/" + sink + ".raw", 10s)) << sink << ": the recorder never started";
    }
    ChildProcess player = PlayRawAudio("speakers", ToneFile());
    std::this_thread::sleep_for(seconds + 500ms);
    EXPECT_TRUE(player.Running()) << "the player ended early: " << ReadFile(ToneFile() + ".play.log");
    for (ChildProcess& recorder : recorders)
    {
        recorder.Stop();
    }
    player.Stop();

    SinkRecordings recordings;
    for (const std::string& sink : sinks)
    {
        AudioLoadResult loaded = LoadRawAudio(folder + "/" + sink + ".raw", RawSampleFormat::Float32LE, 2);
        EXPECT_TRUE(loaded.ok) << sink << ": " << loaded.error;
        recordings[sink] = std::move(loaded.audio);
    }
    return recordings;
}

std::vector<float> SteadyTone(const AudioBuffer& audio, int channel)
{
    const std::vector<float> samples = ExtractChannel(audio, channel);
    const SignalSpan heard = FindSignalSpan(samples, kHeardThreshold);
    if (heard.Length() <= kSettleFrames + kTailFrames)
    {
        return {};
    }
    return {samples.begin() + static_cast<std::ptrdiff_t>(heard.first + kSettleFrames),
            samples.begin() + static_cast<std::ptrdiff_t>(heard.end - kTailFrames)};
}

ExpectedTone ExpectedAtVolume(float volume)
{
    std::vector<float> tone = GenerateSine(kToneHz, kToneAmplitude, kAnalysisSampleRate);
    ApplyGainSoftClip(tone.data(), tone.data(), tone.size(), GainFromVolume(volume));
    return {EstimateSineAmplitude(tone, kToneHz), MeasureLevel(tone).peak};
}

void ExpectToneAt(const AudioBuffer& audio, const ExpectedTone& expected, const std::string& sink,
                  std::chrono::milliseconds atLeast)
{
    for (int channel = 0; channel < 2; ++channel)
    {
        SCOPED_TRACE(sink + " channel " + std::to_string(channel));
        const std::vector<float> tone = SteadyTone(audio, channel);
        ASSERT_GE(tone.size(), static_cast<size_t>(atLeast.count()) * kAnalysisSampleRate / 1000)
            << "the tone was not heard for long enough";
        EXPECT_NEAR(EstimateSineAmplitude(tone, kToneHz), expected.amplitude, 0.005);
        EXPECT_NEAR(MeasureLevel(tone).peak, expected.peak, 0.005f);
    }
}

void ExpectSilent(const AudioBuffer& audio, const std::string& sink)
{
    ASSERT_GT(audio.FrameCount(), static_cast<size_t>(kAnalysisSampleRate)) << sink << ": recording too short";
    EXPECT_LT(MeasureLevel(audio.samples).peak, kSilentPeak) << sink;
}

void ExpectPlayedTone(const SinkRecordings& recordings, std::chrono::milliseconds atLeast)
{
    ExpectToneAt(recordings.at("speakers"), {kToneAmplitude, static_cast<float>(kToneAmplitude)}, "speakers",
                 atLeast);
}

std::string ToneFile()
{
    return Environment().workRoot + "/tone-440.raw";
}

void WriteToneFile()
{
    std::filesystem::create_directories(Environment().workRoot);
    const std::vector<float> tone =
        GenerateSine(kToneHz, kToneAmplitude, static_cast<size_t>(kToneFileSeconds * kAnalysisSampleRate));
    ASSERT_TRUE(SaveRawFloat32(ToneFile(), MakeMultiChannel(tone, 2)));
}
