#include "audio_analysis.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::vector<char> ReadWholeFile(const std::string& path, bool& ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    if (!ok) {
        return {};
    }
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Little-endian decoding byte by byte, so the host's byte order never matters.
float DecodeFloat32LE(const unsigned char* p)
{
    const uint32_t bits = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                          uint32_t(p[3]) << 24;
    return std::bit_cast<float>(bits);
}

float DecodeS16LE(const unsigned char* p)
{
    const auto value = static_cast<int16_t>(uint16_t(p[0]) | uint16_t(p[1]) << 8);
    return static_cast<float>(value) / 32768.0f;
}

void EncodeFloat32LE(float value, char* out)
{
    const auto bits = std::bit_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
}

double Wrap(double radians)
{
    return std::remainder(radians, kTwoPi);
}

double Median(std::vector<double> values)
{
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

struct SineFit {
    double amplitude = 0.0;
    double phase = 0.0;
};

// Weighted least squares of a*cos(wt) + b*sin(wt) with t counted from the
// start of the whole signal, so the phases of different blocks compare
// directly. Solving the 2x2 system (rather than just correlating) keeps the
// fit exact for a pure sine whatever the block length.
SineFit FitSineBlock(std::span<const float> x, size_t start, size_t length, double omega)
{
    double scc = 0, sss = 0, scs = 0, sxc = 0, sxs = 0;
    for (size_t i = 0; i < length; ++i) {
        const double weight = 0.5 - 0.5 * std::cos(kTwoPi * (double(i) + 0.5) / double(length));
        const double angle = omega * double(start + i);
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        const double v = weight * x[start + i];
        scc += weight * c * c;
        sss += weight * s * s;
        scs += weight * c * s;
        sxc += v * c;
        sxs += v * s;
    }
    const double det = scc * sss - scs * scs;
    if (std::abs(det) < 1e-12) {
        return {};
    }
    const double a = (sxc * sss - sxs * scs) / det;
    const double b = (sxs * scc - sxc * scs) / det;
    return {std::hypot(a, b), std::atan2(b, a)};
}

std::vector<SineFit> FitSineBlocks(std::span<const float> x, double omega, size_t blockFrames)
{
    std::vector<SineFit> fits;
    const size_t hop = std::max<size_t>(1, blockFrames / 2);
    for (size_t start = 0; blockFrames > 0 && start + blockFrames <= x.size(); start += hop) {
        fits.push_back(FitSineBlock(x, start, blockFrames, omega));
    }
    return fits;
}

double MedianAmplitude(const std::vector<SineFit>& fits)
{
    std::vector<double> amplitudes;
    amplitudes.reserve(fits.size());
    for (const SineFit& fit : fits) {
        amplitudes.push_back(fit.amplitude);
    }
    return Median(std::move(amplitudes));
}

// Pair k joins block k and block k + 1.
std::vector<bool> MarkDisturbedPairs(const std::vector<SineFit>& fits,
                                     const DiscontinuityOptions& options,
                                     DiscontinuityReport& report)
{
    std::vector<double> steps;
    for (size_t k = 0; k + 1 < fits.size(); ++k) {
        steps.push_back(Wrap(fits[k + 1].phase - fits[k].phase));
    }
    // A slightly wrong nominal frequency gives every pair the same step.
    const double typicalStep = Median(steps);
    const double typicalAmplitude = MedianAmplitude(fits);

    std::vector<bool> amplitudeOff(fits.size());
    for (size_t k = 0; k < fits.size(); ++k) {
        const double deviation = std::abs(fits[k].amplitude / typicalAmplitude - 1.0);
        report.maxAmplitudeDeviation = std::max(report.maxAmplitudeDeviation, deviation);
        amplitudeOff[k] = deviation > options.amplitudeTolerance;
    }
    std::vector<bool> disturbed(steps.size());
    for (size_t k = 0; k < steps.size(); ++k) {
        const double phaseStep = std::abs(Wrap(steps[k] - typicalStep));
        report.maxPhaseStepRad = std::max(report.maxPhaseStepRad, phaseStep);
        disturbed[k] = phaseStep > options.phaseToleranceRad || amplitudeOff[k] || amplitudeOff[k + 1];
    }
    return disturbed;
}

size_t NextPowerOfTwo(size_t n)
{
    size_t p = 1;
    while (p < n) {
        p <<= 1;
    }
    return p;
}

// In-place iterative radix-2 FFT; data.size() must be a power of two.
void Fft(std::vector<std::complex<double>>& data, bool inverse)
{
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(data[i], data[j]);
        }
    }
    // One table of roots keeps the twiddles accurate for long transforms.
    std::vector<std::complex<double>> roots(n / 2);
    const double sign = inverse ? 1.0 : -1.0;
    for (size_t k = 0; k < roots.size(); ++k) {
        roots[k] = std::polar(1.0, sign * kTwoPi * double(k) / double(n));
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const size_t stride = n / len;
        for (size_t i = 0; i < n; i += len) {
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> u = data[i + k];
                const std::complex<double> v = data[i + k + len / 2] * roots[k * stride];
                data[i + k] = u + v;
                data[i + k + len / 2] = u - v;
            }
        }
    }
}

std::vector<std::complex<double>> Spectrum(std::span<const float> x, size_t size)
{
    std::vector<std::complex<double>> data(size);
    std::copy(x.begin(), x.end(), data.begin());
    Fft(data, false);
    return data;
}

double Energy(std::span<const float> x)
{
    double sum = 0.0;
    for (float v : x) {
        sum += double(v) * v;
    }
    return sum;
}

}  // namespace

size_t AudioBuffer::FrameCount() const
{
    return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0;
}

AudioLoadResult LoadRawAudio(const std::string& path, RawSampleFormat format, int channels,
                             int sampleRate)
{
    AudioLoadResult result;
    if (channels <= 0) {
        result.error = "channel count must be positive";
        return result;
    }
    bool opened = false;
    const std::vector<char> bytes = ReadWholeFile(path, opened);
    if (!opened) {
        result.error = "cannot open " + path;
        return result;
    }
    const size_t sampleBytes = format == RawSampleFormat::Float32LE ? 4 : 2;
    const size_t frameBytes = sampleBytes * static_cast<size_t>(channels);
    const size_t sampleCount = bytes.size() / frameBytes * static_cast<size_t>(channels);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    result.audio.channels = channels;
    result.audio.sampleRate = sampleRate;
    result.audio.samples.resize(sampleCount);
    for (size_t i = 0; i < sampleCount; ++i) {
        const unsigned char* p = data + i * sampleBytes;
        result.audio.samples[i] = format == RawSampleFormat::Float32LE ? DecodeFloat32LE(p) : DecodeS16LE(p);
    }
    result.ok = true;
    return result;
}

bool SaveRawFloat32(const std::string& path, const AudioBuffer& audio)
{
    std::vector<char> bytes(audio.samples.size() * 4);
    for (size_t i = 0; i < audio.samples.size(); ++i) {
        EncodeFloat32LE(audio.samples[i], bytes.data() + i * 4);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<float> ExtractChannel(const AudioBuffer& audio, int channel)
{
    if (channel < 0 || channel >= audio.channels) {
        return {};
    }
    std::vector<float> mono(audio.FrameCount());
    const auto stride = static_cast<size_t>(audio.channels);
    for (size_t frame = 0; frame < mono.size(); ++frame) {
        mono[frame] = audio.samples[frame * stride + static_cast<size_t>(channel)];
    }
    return mono;
}

AudioBuffer MakeMultiChannel(std::span<const float> mono, int channels, int sampleRate)
{
    AudioBuffer audio;
    audio.channels = std::max(1, channels);
    audio.sampleRate = sampleRate;
    audio.samples.reserve(mono.size() * static_cast<size_t>(audio.channels));
    for (float v : mono) {
        audio.samples.insert(audio.samples.end(), static_cast<size_t>(audio.channels), v);
    }
    return audio;
}

SignalSpan FindSignalSpan(std::span<const float> x, float threshold)
{
    const auto loud = [threshold](float v) { return std::abs(v) > threshold; };
    const auto first = std::find_if(x.begin(), x.end(), loud);
    if (first == x.end()) {
        return {};
    }
    const auto last = std::find_if(x.rbegin(), x.rend(), loud);
    return {static_cast<size_t>(first - x.begin()), static_cast<size_t>(x.rend() - last)};
}

std::vector<SignalSpan> FindSignalSpans(std::span<const float> x, float threshold, size_t minGapFrames)
{
    std::vector<SignalSpan> spans;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::abs(x[i]) <= threshold) {
            continue;
        }
        if (!spans.empty() && i - spans.back().end < minGapFrames) {
            spans.back().end = i + 1;
        } else {
            spans.push_back({i, i + 1});
        }
    }
    return spans;
}

std::span<const float> SubSpan(std::span<const float> x, SignalSpan span)
{
    const size_t first = std::min(span.first, x.size());
    const size_t end = std::clamp(span.end, first, x.size());
    return x.subspan(first, end - first);
}

LevelStats MeasureLevel(std::span<const float> x)
{
    LevelStats stats;
    for (float v : x) {
        stats.peak = std::max(stats.peak, std::abs(v));
    }
    stats.rms = x.empty() ? 0.0 : std::sqrt(Energy(x) / double(x.size()));
    return stats;
}

double EstimateFrequencyHz(std::span<const float> x, int sampleRate)
{
    const float hysteresis = MeasureLevel(x).peak / 4.0f;
    bool armed = false;
    size_t crossings = 0;
    double firstCrossing = 0.0;
    double lastCrossing = 0.0;
    for (size_t n = 1; n < x.size(); ++n) {
        armed = armed || x[n - 1] < -hysteresis;
        if (!armed || x[n - 1] >= 0.0f || x[n] < 0.0f) {
            continue;
        }
        // Linear interpolation between the two samples around zero.
        const double at = double(n - 1) + double(x[n - 1]) / (double(x[n - 1]) - double(x[n]));
        firstCrossing = crossings == 0 ? at : firstCrossing;
        lastCrossing = at;
        ++crossings;
        armed = false;
    }
    if (crossings < 2 || lastCrossing <= firstCrossing) {
        return 0.0;
    }
    return double(crossings - 1) * sampleRate / (lastCrossing - firstCrossing);
}

double EstimateSineAmplitude(std::span<const float> x, double freqHz, int sampleRate)
{
    const double omega = kTwoPi * freqHz / sampleRate;
    const size_t blockFrames = DiscontinuityOptions{}.blockFrames;
    if (x.size() < blockFrames) {
        return x.empty() ? 0.0 : FitSineBlock(x, 0, x.size(), omega).amplitude;
    }
    return MedianAmplitude(FitSineBlocks(x, omega, blockFrames));
}

DiscontinuityReport CountDiscontinuities(std::span<const float> x, double freqHz, int sampleRate,
                                         const DiscontinuityOptions& options)
{
    DiscontinuityReport report;
    const double omega = kTwoPi * freqHz / sampleRate;
    const std::vector<SineFit> fits = FitSineBlocks(x, omega, options.blockFrames);
    if (fits.size() < 3 || MedianAmplitude(fits) < 1e-6) {
        return report;
    }
    report.analysed = true;
    const std::vector<bool> disturbed = MarkDisturbedPairs(fits, options, report);
    const size_t hop = std::max<size_t>(1, options.blockFrames / 2);
    for (size_t k = 0; k < disturbed.size(); ++k) {
        if (disturbed[k] && (k == 0 || !disturbed[k - 1])) {
            ++report.count;
            // The later block of the first disturbed pair begins near the event.
            report.eventFrames.push_back((k + 1) * hop);
        }
    }
    return report;
}

std::vector<SignalSpan> FindSilences(std::span<const float> x, size_t silenceFrames)
{
    // A steady tone is never this quiet for long: it crosses zero in a
    // sample or two.
    constexpr float kQuiet = 1e-4f;
    std::vector<SignalSpan> silences;
    for (size_t i = 0; i < x.size();) {
        size_t end = i;
        while (end < x.size() && std::abs(x[end]) < kQuiet) {
            ++end;
        }
        if (end - i >= silenceFrames) {
            silences.push_back({i, end});
        }
        i = end > i ? end : i + 1;
    }
    return silences;
}

DropoutReport ClassifyDropouts(std::span<const float> x, double freqHz, size_t silenceFrames, int sampleRate)
{
    DropoutReport report;
    const DiscontinuityReport changes = CountDiscontinuities(x, freqHz, sampleRate);
    report.analysed = changes.analysed;
    if (!report.analysed) {
        return report;
    }
    std::vector<size_t> silenceStarts;
    for (const SignalSpan& silence : FindSilences(x, silenceFrames)) {
        silenceStarts.push_back(silence.first);
        report.silentFrames += silence.Length();
        report.longestSilence = std::max(report.longestSilence, silence.Length());
    }
    report.silences = static_cast<int>(silenceStarts.size());
    // An event near a silence is that silence; the rest moved the tone.
    const size_t near = DiscontinuityOptions{}.blockFrames * 2;
    for (const size_t event : changes.eventFrames) {
        const bool silent = std::any_of(silenceStarts.begin(), silenceStarts.end(), [&](size_t start) {
            return (start > event ? start - event : event - start) <= near;
        });
        report.dropped += silent ? 0 : 1;
    }
    return report;
}

DelayEstimate EstimateDelayFrames(std::span<const float> reference, std::span<const float> other,
                                  size_t maxLagFrames)
{
    DelayEstimate estimate;
    const double energy = std::sqrt(Energy(reference) * Energy(other));
    if (reference.empty() || other.empty() || energy <= 0.0) {
        return estimate;
    }
    // Room for every searched lag without circular wrap-around.
    const size_t size = NextPowerOfTwo(std::max(reference.size(), other.size()) + maxLagFrames + 1);
    std::vector<std::complex<double>> product = Spectrum(other, size);
    const std::vector<std::complex<double>> referenceSpectrum = Spectrum(reference, size);
    for (size_t i = 0; i < size; ++i) {
        product[i] *= std::conj(referenceSpectrum[i]);
    }
    Fft(product, true);
    // product[lag mod size] / size = sum over n of reference[n] * other[n + lag]
    double best = -std::numeric_limits<double>::infinity();
    const auto maxLag = static_cast<long long>(std::min(maxLagFrames, size / 2));
    for (long long lag = -maxLag; lag <= maxLag; ++lag) {
        const size_t index = lag >= 0 ? size_t(lag) : size - size_t(-lag);
        const double value = product[index].real() / double(size);
        if (value > best) {
            best = value;
            estimate.delayFrames = lag;
        }
    }
    estimate.found = true;
    estimate.correlation = best / energy;
    return estimate;
}

std::vector<float> GenerateSine(double freqHz, double amplitude, size_t frames, int sampleRate)
{
    std::vector<float> x(frames);
    const double omega = kTwoPi * freqHz / sampleRate;
    for (size_t n = 0; n < frames; ++n) {
        x[n] = static_cast<float>(amplitude * std::sin(omega * double(n)));
    }
    return x;
}

std::vector<float> GenerateChirp(double f0Hz, double f1Hz, double amplitude, size_t frames,
                                 int sampleRate)
{
    std::vector<float> x(frames);
    const double duration = double(frames) / sampleRate;
    const double sweepRate = duration > 0.0 ? (f1Hz - f0Hz) / duration : 0.0;
    for (size_t n = 0; n < frames; ++n) {
        const double t = double(n) / sampleRate;
        x[n] = static_cast<float>(amplitude * std::sin(kTwoPi * (f0Hz * t + 0.5 * sweepRate * t * t)));
    }
    return x;
}

std::vector<float> GenerateNoise(double amplitude, size_t frames, uint64_t seed)
{
    std::vector<float> x(frames);
    uint64_t state = seed ^ 0x9E3779B97F4A7C15ull;
    state = state == 0 ? 1 : state;  // xorshift never leaves zero
    for (float& v : x) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const double unit = double(state >> 11) / double(uint64_t(1) << 53);  // [0, 1)
        v = static_cast<float>(amplitude * (2.0 * unit - 1.0));
    }
    return x;
}
