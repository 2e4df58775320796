#include "tone_route.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <thread>

#include "harness.h"

using namespace std::chrono_literals;

namespace
{
constexpr double kToneFileSeconds = 70.0;
// The start of every heard tone is skipped: the player's own start-up and
// the route's first packets are not what is being judged.
constexpr size_t kTailFrames = kAnalysisSampleRate / 10;
constexpr float kHeardThreshold = 0.01f;
constexpr float kSilentPeak = 1e-4f;
// A 20 ms block of a 440 Hz tone holds 8.8 periods: its RMS is the tone's
// within 1 %. A wrong gain moves every block by far more.
constexpr double kRmsTolerance = 0.05;
constexpr size_t kBlockFrames = kAnalysisSampleRate / 50;

// The RMS of each 20 ms block the tone played through without a silence.
// Silences are the host's as much as the route's (the gap benchmarks count
// them); a level is judged on what was heard whole.
std::vector<double> IntactBlockLevels(const std::vector<float>& tone)
{
    const std::vector<SignalSpan> silences = FindSilences(tone);
    auto silence = silences.begin();
    std::vector<double> levels;
    for (size_t first = 0; first + kBlockFrames <= tone.size(); first += kBlockFrames)
    {
        while (silence != silences.end() && silence->end <= first)
        {
            ++silence;
        }
        if (silence == silences.end() || silence->first >= first + kBlockFrames)
        {
            levels.push_back(MeasureLevel(std::span<const float>(tone).subspan(first, kBlockFrames)).rms);
        }
    }
    return levels;
}

double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

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

ToneSession::ToneSession(std::string folderPath, std::vector<std::string> sinkNames, std::string soundFile)
    : folder(std::move(folderPath)), sinks(std::move(sinkNames)), sound(std::move(soundFile))
{
    for (const std::string& sink : sinks)
    {
        recorders.push_back(RecordRawAudio(sink + ".monitor", folder + "/" + sink + ".raw"));
    }
    for (const std::string& sink : sinks)
    {
        EXPECT_TRUE(WaitForFileData(folder + "/" + sink + ".raw", 10s)) << sink << ": the recorder never started";
    }
    recording = std::chrono::steady_clock::now();
    player.emplace(PlayRawAudio("speakers", sound));
}

SinkRecordings ToneSession::Finish()
{
    EXPECT_TRUE(player->Running()) << "the player ended early: " << ReadFile(sound + ".play.log");
    for (ChildProcess& recorder : recorders)
    {
        recorder.Stop();
    }
    player->Stop();

    SinkRecordings recordings;
    for (const std::string& sink : sinks)
    {
        AudioLoadResult loaded = LoadRawAudio(folder + "/" + sink + ".raw", RawSampleFormat::Float32LE, 2);
        EXPECT_TRUE(loaded.ok) << sink << ": " << loaded.error;
        recordings[sink] = std::move(loaded.audio);
    }
    return recordings;
}

SinkRecordings RecordTone(const std::string& folder, std::chrono::milliseconds duration,
                          const std::vector<std::string>& sinks)
{
    ToneSession session(folder, sinks);
    std::this_thread::sleep_for(duration + 500ms);
    return session.Finish();
}

std::vector<float> SteadyTone(const AudioBuffer& audio, int channel, std::chrono::milliseconds settle)
{
    const std::vector<float> samples = ExtractChannel(audio, channel);
    const SignalSpan heard = FindSignalSpan(samples, kHeardThreshold);
    const auto settleFrames = static_cast<size_t>(settle.count()) * kAnalysisSampleRate / 1000;
    if (heard.Length() <= settleFrames + kTailFrames)
    {
        return {};
    }
    return {samples.begin() + static_cast<std::ptrdiff_t>(heard.first + settleFrames),
            samples.begin() + static_cast<std::ptrdiff_t>(heard.end - kTailFrames)};
}

ExpectedTone ExpectedAtVolume(uint32_t volume)
{
    // The gain is the volume over 50: 25 % halves the 0.5 tone, 50 % leaves
    // it, both under the clipper's knee (0.9), so it stays a sine of that
    // amplitude and peak, its RMS the amplitude over the root of two. At
    // 100 % the tone doubles to 1.0 and the curve bends it: past the knee by
    // e < 0.1 the curve gives 0.9 + e - (25/3) e^2, highest (0.93) at
    // e = 0.06. Its fundamental and RMS are integrals of the curve over a
    // period of the sine, worked out in double precision apart from the
    // program.
    struct Row
    {
        uint32_t volume;
        ExpectedTone tone;
    };
    static const Row kTable[] = {
        {0, {0.0, 0.0f, 0.0}},
        {25, {0.25, 0.25f, 0.1767767}},
        {50, {0.5, 0.5f, 0.3535534}},
        {100, {0.9749659, 0.93f, 0.6897617}},
    };
    for (const Row& row : kTable)
    {
        if (row.volume == volume)
        {
            return row.tone;
        }
    }
    ADD_FAILURE() << "no expected tone written down for " << volume << " %";
    return {};
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

void ExpectToneRms(const std::vector<float>& tone, const ExpectedTone& expected, const std::string& what,
                   std::chrono::milliseconds atLeast)
{
    SCOPED_TRACE(what);
    ASSERT_GE(tone.size(), static_cast<size_t>(atLeast.count()) * kAnalysisSampleRate / 1000)
        << "the tone was not heard for long enough";
    const DropoutReport dropouts = ClassifyDropouts(tone, kToneHz);
    const std::vector<double> levels = IntactBlockLevels(tone);
    const size_t blocks = tone.size() / kBlockFrames;
    // A target starved at every packet or two has hardly a block left whole.
    ASSERT_GE(levels.size(), std::max<size_t>(blocks / 10, 25))
        << levels.size() << " of " << blocks << " blocks heard whole; " << dropouts.silences << " silences of "
        << dropouts.silentFrames << " frames";
    EXPECT_NEAR(Median(levels), expected.rms, expected.rms * kRmsTolerance)
        << "over all " << MeasureLevel(tone).rms << ", " << levels.size() << " of " << blocks
        << " blocks whole, " << dropouts.silences << " silences of " << dropouts.silentFrames << " frames";
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

void SeedRoute(uint32_t volume, const SavedRoute& route, bool shown)
{
    RegSetDword(kSettingsKey, "StartRedirectingOnStartup", 1);
    RegSetDword(kSettingsKey, "MinimizeToTray", shown ? 0 : 1);
    RegSetDword(kSettingsKey, "Volume", volume);
    RegSetDword(kSettingsKey, "BufferMs", 30);
    StoreRoute(route);
}

void CloseAndExpectCleanExit(ToneforkInstance& app)
{
    ASSERT_EQ(app.Control({"close"}).exitCode, 0);
    ASSERT_EQ(app.WaitForExit(60s), std::optional<int>(0)) << app.LogText();
}

long long FramesLeftOut(const std::string& logText)
{
    long long frames = 0;
    for (const std::string& line : LogMessages(logText))
    {
        const std::string::size_type at = line.find("the frame count left out ");
        if (line.starts_with("Delivery: ") && at != std::string::npos)
        {
            frames += std::stoll(line.substr(at + std::string("the frame count left out ").size()));
        }
    }
    return frames;
}

int ReportDiscontinuities(const std::string& fileName, const std::string& label, const AudioBuffer& audio,
                          const std::string& sink, std::chrono::milliseconds settle)
{
    const std::vector<float> tone = SteadyTone(audio, 0, settle);
    const DiscontinuityReport gaps = CountDiscontinuities(tone, kToneHz);
    EXPECT_TRUE(gaps.analysed) << sink;
    if (!gaps.analysed)
    {
        return -1;
    }
    char line[256];
    std::snprintf(line, sizeof line,
                  "%s target=%s seconds=%.1f discontinuities=%d max_phase_step_rad=%.5f "
                  "max_amplitude_deviation=%.4f\n",
                  label.c_str(), sink.c_str(), double(tone.size()) / kAnalysisSampleRate, gaps.count,
                  gaps.maxPhaseStepRad, gaps.maxAmplitudeDeviation);
    std::filesystem::create_directories(Environment().results);
    std::ofstream(Environment().results + "/" + fileName, std::ios::app) << line;
    std::fputs(line, stdout);
    ::testing::Test::RecordProperty("discontinuities_" + sink, gaps.count);
    return gaps.count;
}
