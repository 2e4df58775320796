#pragma once

// A 440 Hz tone played into "Speakers" while every sink is recorded through
// its PulseAudio monitor, and what a route of the program must make of it:
// the played tone on "Speakers", the tone scaled by the volume and softly
// clipped on each chosen target, silence elsewhere. Shared by the end-to-end
// tests that route sound; host side, main test thread.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audio_analysis.h"
#include "harness.h"
#include "main_tab.h"

inline constexpr double kToneHz = 440.0;
inline constexpr double kToneAmplitude = 0.5;

// The sinks that routes go to, and the sinks of the test desktop.
inline const std::vector<std::string> kTargetSinks = {"headphones", "hdmi"};
inline const std::vector<std::string> kDesktopSinks = {"speakers", "headphones", "hdmi"};

// The raw tone file, written once per test program.
std::string ToneFile();
void WriteToneFile();

// What every sink carried while the tone played, keyed by sink name.
using SinkRecordings = std::map<std::string, AudioBuffer>;

// A recorder on the monitor of each of `sinks` and, once they all run, the
// tone (or another sound file) playing into "Speakers", until Finish (or
// destruction) stops them.
class ToneSession
{
public:
    ToneSession(std::string folder, std::vector<std::string> sinks = kDesktopSinks, std::string sound = ToneFile());
    SinkRecordings Finish();
    // When every recorder had begun: frame 0 of each recording is at most
    // the recorder's start-up earlier.
    std::chrono::steady_clock::time_point Recording() const { return recording; }

private:
    std::string folder;
    std::vector<std::string> sinks;
    std::string sound;
    std::vector<ChildProcess> recorders;
    std::optional<ChildProcess> player;
    std::chrono::steady_clock::time_point recording;
};

// The tone played for `duration` (after a short lead-in) while every sink
// is recorded.
SinkRecordings RecordTone(const std::string& folder, std::chrono::milliseconds duration,
                          const std::vector<std::string>& sinks = kDesktopSinks);

// One channel of a recording from `settle` (half a second unless given)
// after the tone is first heard to just before the recorder stopped; empty
// when nothing was heard.
std::vector<float> SteadyTone(const AudioBuffer& audio, int channel,
                              std::chrono::milliseconds settle = std::chrono::milliseconds(500));

struct ExpectedTone
{
    double amplitude = 0.0;  // of the fundamental
    float peak = 0.0f;
    double rms = 0.0;
};

// The played tone on a target at one of the stored volumes the tests use
// (0, 25, 50 and 100 %), written down from the rule rather than computed by
// the program's own functions; any other volume fails the test.
ExpectedTone ExpectedAtVolume(uint32_t volume);

void ExpectToneAt(const AudioBuffer& audio, const ExpectedTone& expected, const std::string& sink,
                  std::chrono::milliseconds atLeast);
// By RMS alone, within a few per cent: a route through a stream the sound
// server resamples may overshoot a peak at a glitch, but keeps the power.
// The level is the median of the 20 ms blocks heard unbroken: a wrong gain
// moves every block, while dropouts on a loaded machine (the gap benchmarks
// count those) would otherwise pass for a quieter route. At least a tenth of
// the blocks must be whole.
void ExpectToneRms(const std::vector<float>& tone, const ExpectedTone& expected, const std::string& what,
                   std::chrono::milliseconds atLeast);
void ExpectSilent(const AudioBuffer& audio, const std::string& sink);

// The tone went into "Speakers" at its own level; without that, nothing
// heard (or not heard) on the targets means anything.
void ExpectPlayedTone(const SinkRecordings& recordings, std::chrono::milliseconds atLeast);

// The stored route: the source and targets the program saved for a person
// (main_tab.h) at this volume and 30 ms, started with the program. Hidden in
// the tray unless `shown`: under Xvfb the window is drawn by the processor,
// which on a small machine takes the time the player needs (the gap
// benchmarks measure the route beside a shown window).
void SeedRoute(uint32_t volume, const SavedRoute& route, bool shown = false);
void CloseAndExpectCleanExit(ToneforkInstance& app);
// Frames the frame count left out of every target in one run, by the
// "Delivery:" lines of its log.
long long FramesLeftOut(const std::string& logText);

// The discontinuities of the tone heard on `sink` (channel 0, from `settle`
// after it is first heard), as one line
// "<label> target=<sink> seconds=... discontinuities=..." appended to
// `fileName` in the results folder and printed; returns the count (-1 when
// the tone could not be analysed).
int ReportDiscontinuities(const std::string& fileName, const std::string& label, const AudioBuffer& audio,
                          const std::string& sink, std::chrono::milliseconds settle = std::chrono::milliseconds(500));
