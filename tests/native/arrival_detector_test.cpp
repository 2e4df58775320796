#include "audio/align/arrival_detector.h"
#include "audio/align/fft.h"
#include "audio/align/probe_signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

namespace {

struct Room {
    const char* name;
    uint32_t rate;
    double delayMs;            // from the start of the recording; < 0: the target stays silent
    double noiseDb;            // white noise's power over the probe's
    bool reverberant = false;  // a noise tail 60 dB down in 300 ms, as strong as the direct path
    double clipGain = 0.0;     // > 0: the recording times this, clipped to +-1
    double clock = 1.0;        // the microphone reads the room at n x this
};

// Two seconds of the probe through the room into the microphone.
std::vector<float> Record(const std::vector<float>& probe, const Room& room)
{
    std::mt19937 random(room.rate + unsigned(room.delayMs + 1.0));
    std::normal_distribution<double> normal;
    const size_t tail = room.reverberant ? size_t(0.3 * room.rate) : 0;
    std::vector<std::complex<double>> heard(FftSize(probe.size() + tail + 1)), response(heard.size());
    std::copy(probe.begin(), probe.end(), heard.begin());
    double energy = 0.0;
    for (size_t n = 1; n <= tail; ++n) energy += std::norm(response[n] = normal(random) * std::pow(10.0, -3.0 * double(n) / double(tail)));
    for (size_t n = 1; n <= tail; ++n) response[n] /= std::sqrt(energy);
    response[0] = 1.0;
    Fft(heard, false), Fft(response, false);
    for (size_t k = 0; k < heard.size(); ++k) heard[k] *= response[k];
    Fft(heard, true);
    std::vector<double> air(2 * room.rate);
    const auto delay = size_t(std::max(room.delayMs, 0.0) * room.rate / 1000.0);
    for (size_t n = 0; room.delayMs >= 0.0 && n < heard.size() && delay + n < air.size(); ++n) air[delay + n] = heard[n].real();
    const double probePower = std::inner_product(probe.begin(), probe.end(), probe.begin(), 0.0) / double(probe.size());
    for (double& x : air) x += normal(random) * std::sqrt(probePower * std::pow(10.0, room.noiseDb / 10.0));
    std::vector<float> recording(size_t(double(air.size() - 1) / room.clock));
    for (size_t n = 0; n < recording.size(); ++n) {
        const double at = double(n) * room.clock, part = at - std::floor(at);
        const double x = air[size_t(at)] * (1.0 - part) + air[size_t(at) + 1] * part;
        recording[n] = float(room.clipGain > 0.0 ? std::clamp(x * room.clipGain, -1.0, 1.0) : x);
    }
    return recording;
}

// Every heard probe is found within 0.2 ms of where the room put it, however
// the room, the microphone and its clock change it; noise alone, and a probe
// drowned 30 dB under the noise, are not found, nor is digital silence (the
// probe's own rounding, raised to full weight by the phase transform, must not
// pass for it). The clipped probe peaks at 8 x full scale (-20 dBFS times 80).
TEST(ArrivalDetectorTest, FindsTheProbeWhereTheRoomPutIt) {
    const std::vector<Room> rooms = {
        {"at once, 44.1 kHz", 44100, 0.0, -60.0},
        {"37.5 ms, 48 kHz", 48000, 37.5, -60.0},
        {"250 ms, 96 kHz", 96000, 250.0, -60.0},
        {"noise 10 dB under, 44.1 kHz", 44100, 250.0, -10.0},
        {"noise 10 dB under, 96 kHz", 96000, 37.5, -10.0},
        {"reverberant", 48000, 37.5, -40.0, true},
        {"clipped", 48000, 250.0, -40.0, false, 80.0},
        {"clock 100 ppm off", 48000, 250.0, -40.0, false, 0.0, 1.0001},
        {"all of them, 44.1 kHz", 44100, 250.0, -10.0, true, 80.0, 1.0001},
        {"silent target", 48000, -1.0, -10.0},
        {"silent target, 96 kHz", 96000, -1.0, -10.0},
        {"digital silence", 48000, -1.0, -INFINITY},
        {"probe 30 dB under the noise", 48000, 37.5, 30.0},
    };
    for (const Room& room : rooms) {
        const std::vector<float> probe = MakeProbe({}, room.rate);
        const Arrival arrival = FindArrival(Record(probe, room), probe, room.rate);
        const double errorMs = double(arrival.frame) * 1000.0 / room.rate - room.delayMs / room.clock;
        std::printf("%-28s found %d, error %+.3f ms, quality %.2f\n", room.name, arrival.found, errorMs, arrival.quality);
        const bool heard = room.delayMs >= 0.0 && room.noiseDb < 0.0;
        EXPECT_EQ(arrival.found, heard) << room.name;
        EXPECT_TRUE(!heard || std::abs(errorMs) <= 0.2) << room.name << ": " << errorMs << " ms";
    }
}

}  // namespace
