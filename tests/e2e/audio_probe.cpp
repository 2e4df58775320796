// audio_probe: judges recordings made during end-to-end runs and writes the
// signals those runs play. Every result is one line of key=value pairs on
// stdout, so shell scripts can pick values out with a simple pattern.
//
//   audio_probe <file.raw> [--freq 440] [--channel 0] [--threshold 0.001]
//   audio_probe --delay <ref.raw> <other.raw> [--max-lag-ms 500] [--channel 0]
//   audio_probe --generate-sine  <out.raw> [--freq 440] [--amp 0.5] [--seconds 10]
//   audio_probe --generate-chirp <out.raw> [--f0 100] [--f1 10000] [--amp 0.5] [--seconds 10]
//   audio_probe --generate-noise <out.raw> [--amp 0.3] [--seconds 10] [--seed 1]
//
// Input files are raw interleaved little-endian samples at 48 kHz:
// --format f32 (default) or s16, --channels 2 (default). Written files are
// float32, stereo, 48 kHz. Exit status: 0 done (a silent recording included:
// its line says first_signal_frame=-1), 1 unreadable input, unwritable output
// or nothing to correlate, 2 bad command line.
#include "audio_analysis.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

struct CommandLine {
    std::string mode;  // "probe", "--delay" or one of the "--generate-*"
    std::vector<std::string> files;
    std::map<std::string, std::string> options;
};

const char* const kUsage =
    "usage: audio_probe <file.raw> [--freq 440] [--channel 0] [--threshold 0.001]\n"
    "       audio_probe --delay <ref.raw> <other.raw> [--max-lag-ms 500] [--channel 0]\n"
    "       audio_probe --generate-sine <out.raw> [--freq 440] [--amp 0.5] [--seconds 10]\n"
    "       audio_probe --generate-chirp <out.raw> [--f0 100] [--f1 10000] [--amp 0.5] [--seconds 10]\n"
    "       audio_probe --generate-noise <out.raw> [--amp 0.3] [--seconds 10] [--seed 1]\n"
    "input options: --format f32|s16 (default f32), --channels N (default 2)\n";

bool IsModeWord(const std::string& word)
{
    return word == "--delay" || word == "--generate-sine" || word == "--generate-chirp" ||
           word == "--generate-noise";
}

// A mistyped option must not silently fall back to its default.
bool OptionsKnown(const CommandLine& line)
{
    static const std::map<std::string, std::set<std::string>> known = {
        {"probe", {"freq", "channel", "channels", "format", "threshold"}},
        {"--delay", {"max-lag-ms", "channel", "channels", "format"}},
        {"--generate-sine", {"freq", "amp", "seconds"}},
        {"--generate-chirp", {"f0", "f1", "amp", "seconds"}},
        {"--generate-noise", {"amp", "seconds", "seed"}},
    };
    const std::set<std::string>& allowed = known.at(line.mode);
    for (const auto& [name, value] : line.options) {
        if (!allowed.contains(name)) {
            std::fprintf(stderr, "audio_probe: unknown option --%s\n", name.c_str());
            return false;
        }
    }
    return true;
}

std::optional<CommandLine> ParseCommandLine(int argc, char** argv)
{
    CommandLine line;
    line.mode = "probe";
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (i == 1 && IsModeWord(word)) {
            line.mode = word;
        } else if (word.rfind("--", 0) == 0) {
            if (i + 1 >= argc) {
                return std::nullopt;
            }
            line.options[word.substr(2)] = argv[++i];
        } else {
            line.files.push_back(word);
        }
    }
    return OptionsKnown(line) ? std::optional(line) : std::nullopt;
}

// A present but malformed value makes the whole command line invalid.
std::optional<double> NumberOption(const CommandLine& line, const std::string& name, double fallback)
{
    const auto it = line.options.find(name);
    if (it == line.options.end()) {
        return fallback;
    }
    char* end = nullptr;
    const double value = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str() || *end != '\0') {
        std::fprintf(stderr, "audio_probe: --%s needs a number, got '%s'\n", name.c_str(), it->second.c_str());
        return std::nullopt;
    }
    return value;
}

struct InputSettings {
    RawSampleFormat format = RawSampleFormat::Float32LE;
    int channels = 2;
    int channel = 0;
};

std::optional<InputSettings> ReadInputSettings(const CommandLine& line)
{
    InputSettings settings;
    const auto format = line.options.find("format");
    if (format != line.options.end() && format->second != "f32" && format->second != "s16") {
        std::fprintf(stderr, "audio_probe: --format is f32 or s16\n");
        return std::nullopt;
    }
    if (format != line.options.end() && format->second == "s16") {
        settings.format = RawSampleFormat::S16LE;
    }
    const auto channels = NumberOption(line, "channels", 2);
    const auto channel = NumberOption(line, "channel", 0);
    if (!channels || !channel || *channels < 1 || *channel < 0 || *channel >= *channels) {
        std::fprintf(stderr, "audio_probe: --channel must name one of the --channels\n");
        return std::nullopt;
    }
    settings.channels = static_cast<int>(*channels);
    settings.channel = static_cast<int>(*channel);
    return settings;
}

std::optional<std::vector<float>> LoadChannel(const std::string& path, const InputSettings& settings)
{
    const AudioLoadResult loaded = LoadRawAudio(path, settings.format, settings.channels);
    if (!loaded.ok) {
        std::fprintf(stderr, "audio_probe: %s\n", loaded.error.c_str());
        return std::nullopt;
    }
    return ExtractChannel(loaded.audio, settings.channel);
}

int RunProbe(const CommandLine& line)
{
    const auto settings = ReadInputSettings(line);
    const auto freq = NumberOption(line, "freq", 440.0);
    const auto threshold = NumberOption(line, "threshold", 0.001);
    if (line.files.size() != 1 || !settings || !freq || !threshold || *freq <= 0.0) {
        return 2;
    }
    const auto samples = LoadChannel(line.files[0], *settings);
    if (!samples) {
        return 1;
    }
    const SignalSpan span = FindSignalSpan(*samples, static_cast<float>(*threshold));
    const std::span<const float> signal = SubSpan(*samples, span);
    const LevelStats level = MeasureLevel(signal);
    const DiscontinuityReport gaps = CountDiscontinuities(signal, *freq);
    const DropoutReport dropouts = ClassifyDropouts(signal, *freq);
    // -1 marks "nothing to measure", so a silent file never passes as clean.
    std::printf("frames=%zu first_signal_frame=%lld signal_frames=%zu peak=%.6f rms=%.6f "
                "amplitude=%.6f freq=%.3f discontinuities=%d first_discontinuity_frame=%lld "
                "silences=%d silent_frames=%zu longest_silence_ms=%.1f dropped=%d\n",
                samples->size(), span.Empty() ? -1LL : static_cast<long long>(span.first),
                span.Length(), level.peak, level.rms, EstimateSineAmplitude(signal, *freq),
                EstimateFrequencyHz(signal), gaps.analysed ? gaps.count : -1,
                gaps.eventFrames.empty() ? -1LL : static_cast<long long>(span.first + gaps.eventFrames[0]),
                dropouts.analysed ? dropouts.silences : -1, dropouts.silentFrames,
                1000.0 * static_cast<double>(dropouts.longestSilence) / kAnalysisSampleRate,
                dropouts.analysed ? dropouts.dropped : -1);
    return 0;
}

int RunDelay(const CommandLine& line)
{
    const auto settings = ReadInputSettings(line);
    const auto maxLagMs = NumberOption(line, "max-lag-ms", 500.0);
    if (line.files.size() != 2 || !settings || !maxLagMs || *maxLagMs < 0.0) {
        return 2;
    }
    const auto reference = LoadChannel(line.files[0], *settings);
    const auto other = LoadChannel(line.files[1], *settings);
    if (!reference || !other) {
        return 1;
    }
    const auto maxLagFrames = static_cast<size_t>(*maxLagMs * kAnalysisSampleRate / 1000.0);
    const DelayEstimate delay = EstimateDelayFrames(*reference, *other, maxLagFrames);
    if (!delay.found) {
        std::fprintf(stderr, "audio_probe: no signal to correlate\n");
        return 1;
    }
    std::printf("delay_frames=%lld delay_ms=%.3f correlation=%.4f\n", delay.delayFrames,
                double(delay.delayFrames) * 1000.0 / kAnalysisSampleRate, delay.correlation);
    return 0;
}

std::optional<std::vector<float>> GenerateSignal(const CommandLine& line, size_t frames)
{
    if (line.mode == "--generate-sine") {
        const auto freq = NumberOption(line, "freq", 440.0);
        const auto amp = NumberOption(line, "amp", 0.5);
        return freq && amp ? std::optional(GenerateSine(*freq, *amp, frames)) : std::nullopt;
    }
    if (line.mode == "--generate-chirp") {
        const auto f0 = NumberOption(line, "f0", 100.0);
        const auto f1 = NumberOption(line, "f1", 10000.0);
        const auto amp = NumberOption(line, "amp", 0.5);
        return f0 && f1 && amp ? std::optional(GenerateChirp(*f0, *f1, *amp, frames)) : std::nullopt;
    }
    const auto amp = NumberOption(line, "amp", 0.3);
    const auto seed = NumberOption(line, "seed", 1.0);
    return amp && seed && *seed >= 0.0
               ? std::optional(GenerateNoise(*amp, frames, static_cast<uint64_t>(*seed)))
               : std::nullopt;
}

int RunGenerate(const CommandLine& line)
{
    const auto seconds = NumberOption(line, "seconds", 10.0);
    if (line.files.size() != 1 || !seconds || *seconds <= 0.0) {
        return 2;
    }
    const auto frames = static_cast<size_t>(*seconds * kAnalysisSampleRate);
    const auto mono = GenerateSignal(line, frames);
    if (!mono) {
        return 2;
    }
    if (!SaveRawFloat32(line.files[0], MakeMultiChannel(*mono, 2))) {
        std::fprintf(stderr, "audio_probe: cannot write %s\n", line.files[0].c_str());
        return 1;
    }
    std::printf("written=%s frames=%zu\n", line.files[0].c_str(), frames);
    return 0;
}

int Dispatch(const CommandLine& line)
{
    if (line.mode == "--delay") {
        return RunDelay(line);
    }
    if (line.mode == "probe") {
        return RunProbe(line);
    }
    return RunGenerate(line);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::optional<CommandLine> line = ParseCommandLine(argc, argv);
    const int status = line ? Dispatch(*line) : 2;
    if (status == 2) {
        std::fputs(kUsage, stderr);
    }
    return status;
}
