#include "audio/align/arrival_detector.h"
#include "audio/align/fft.h"
#include "audio/align/probe_signal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <vector>

namespace {

struct Room {
    const char* name;
    uint32_t rate;
    double delayMs;                 // from the start of the recording
    double noiseDb;                 // white noise's power over the probe's
    bool plays = true;              // false: the target stays silent
    bool reverberant = false;       // the direct path and a 300 ms tail
    double clipGain = 0.0;          // > 0: the recording times this, clipped to +-1
    double clock = 1.0;             // the microphone reads the room at n x this
};

// The probe through a room: the direct path and an exponentially decaying
// noise tail (60 dB down in 300 ms) with as much energy as the direct path.
std::vector<std::complex<double>> Heard(const std::vector<float>& probe, const Room& room, std::mt19937& random)
{
    const size_t tail = room.reverberant ? size_t(0.3 * room.rate) : 0;
    std::vector<std::complex<double>> sound(FftSize(probe.size() + tail + 1)), response(sound.size());
    std::copy(probe.begin(), probe.end(), sound.begin());
    std::normal_distribution<double> normal;
    double energy = 0.0;
    for (size_t n = 1; n <= tail; ++n) {
        response[n] = normal(random) * std::pow(10.0, -3.0 * double(n) / double(tail));
        energy += std::norm(response[n]);
    }
    for (size_t n = 1; n <= tail; ++n) response[n] /= std::sqrt(energy);
    response[0] = 1.0;
    Fft(sound, false);
    Fft(response, false);
    for (size_t k = 0; k < sound.size(); ++k) sound[k] *= response[k];
    Fft(sound, true);
    return sound;
}

std::vector<float> Record(const std::vector<float>& probe, const Room& room)
{
    std::mt19937 random(room.rate + unsigned(room.delayMs));
    std::vector<double> air(2 * room.rate);
    const auto delay = size_t(room.delayMs * room.rate / 1000.0);
    const std::vector<std::complex<double>> heard = Heard(probe, room, random);
    for (size_t n = 0; room.plays && n < heard.size() && delay + n < air.size(); ++n) air[delay + n] = heard[n].real();
    double probePower = 0.0;
    for (float x : probe) probePower += double(x) * x / double(probe.size());
    std::normal_distribution<double> noise(0.0, std::sqrt(probePower * std::pow(10.0, room.noiseDb / 10.0)));
    for (double& x : air) x += noise(random);
    std::vector<float> recording(size_t(double(air.size() - 1) / room.clock));
    for (size_t n = 0; n < recording.size(); ++n) {
        const double at = double(n) * room.clock, part = at - std::floor(at);
        const double x = air[size_t(at)] * (1.0 - part) + air[std::min(size_t(at) + 1, air.size() - 1)] * part;
        recording[n] = float(room.clipGain > 0.0 ? std::clamp(x * room.clipGain, -1.0, 1.0) : x);
    }
    return recording;
}

// Every heard probe is found within 0.2 ms of where the room put it, however
// the room, the microphone and its clock change it; noise alone, and a probe
// drowned 30 dB under the noise, are not found.
TEST(ArrivalDetectorTest, FindsTheProbeWhereTheRoomPutIt) {
    const std::vector<Room> rooms = {
        {"at once, 44.1 kHz", 44100, 0.0, -60.0},
        {"37.5 ms, 48 kHz", 48000, 37.5, -60.0},
        {"250 ms, 96 kHz", 96000, 250.0, -60.0},
        {"noise 10 dB under, 44.1 kHz", 44100, 250.0, -10.0},
        {"noise 10 dB under, 96 kHz", 96000, 37.5, -10.0},
        {"reverberant", 48000, 37.5, -40.0, true, true},
        {"clipped", 48000, 250.0, -40.0, true, false, 80.0},
        {"clock 100 ppm off", 48000, 250.0, -40.0, true, false, 0.0, 1.0001},
        {"all of them, 44.1 kHz", 44100, 250.0, -10.0, true, true, 80.0, 1.0001},
        {"silent target", 48000, 0.0, -10.0, false},
        {"silent target, 96 kHz", 96000, 0.0, -10.0, false},
        {"probe 30 dB under the noise", 48000, 37.5, 30.0},
    };
    double slowest = 0.0;
    for (const Room& room : rooms) {
        const std::vector<float> probe = MakeProbe({}, room.rate);
        const std::vector<float> recording = Record(probe, room);
        const auto start = std::chrono::steady_clock::now();
        const Arrival arrival = FindArrival(recording, probe, room.rate);
        slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const double errorMs = (double(arrival.frame) - room.delayMs * room.rate / 1000.0 / room.clock) * 1000.0 / room.rate;
        std::printf("%-30s found %d  error %+.3f ms  quality %.2f\n", room.name, arrival.found, errorMs, arrival.quality);
        const bool heard = room.plays && room.noiseDb < 0.0;
        EXPECT_EQ(arrival.found, heard) << room.name;
        EXPECT_TRUE(!heard || std::abs(errorMs) <= 0.2) << room.name << ": " << errorMs << " ms";
    }
    std::printf("slowest detection: %.3f s\n", slowest);
}

// Nothing to find: no recording, no probe, no rate, a silent recording, or
// one of nothing but NaN and infinities.
TEST(ArrivalDetectorTest, NothingToFindIsNotFound) {
    const std::vector<float> probe = MakeProbe({}, 48000), silence(48000);
    const std::vector<float> broken(48000, std::nanf("")), infinite(48000, INFINITY);
    EXPECT_FALSE(FindArrival({}, probe, 48000).found);
    EXPECT_FALSE(FindArrival(silence, {}, 48000).found);
    EXPECT_FALSE(FindArrival(probe, probe, 0).found);
    EXPECT_FALSE(FindArrival(silence, probe, 48000).found);
    EXPECT_FALSE(FindArrival(broken, probe, 48000).found);
    EXPECT_FALSE(FindArrival(infinite, probe, 48000).found);
}

struct Repeats {
    std::vector<int64_t> frames;
    bool allFound;
    uint32_t rate;
    int64_t median;
    bool agreed;
};

// The middle arrival whatever the order; refused when one is missing or they
// lie more than 2 ms apart (96 frames at 48 kHz, 88.2 at 44.1 kHz).
TEST(ArrivalDetectorTest, ThreeRepeatsAgreeWithinTwoMilliseconds) {
    const std::vector<Repeats> table = {
        {{1000, 1040, 1020}, true, 48000, 1020, true},  {{1096, 1000, 1050}, true, 48000, 1050, true},
        {{1097, 1000, 1050}, true, 48000, 1050, false}, {{1000, 1088, 1001}, true, 44100, 1001, true},
        {{1000, 1089, 1001}, true, 44100, 1001, false}, {{500, 500, 500}, false, 48000, 500, false},
    };
    for (const Repeats& r : table) {
        std::vector<Arrival> arrivals;
        for (size_t i = 0; i < r.frames.size(); ++i) arrivals.push_back({r.allFound || i != 1, r.frames[i], 10.0});
        const RepeatedArrival combined = CombineRepeats(arrivals, r.rate);
        EXPECT_EQ(combined.medianFrame, r.median) << r.frames[0];
        EXPECT_EQ(combined.agreed, r.agreed) << r.frames[0] << " " << r.frames[1];
    }
    EXPECT_FALSE(CombineRepeats({}, 48000).agreed);
}

}  // namespace
