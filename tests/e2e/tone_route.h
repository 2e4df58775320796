#pragma once

// A 440 Hz tone played into "Speakers" while every sink is recorded through
// its PulseAudio monitor, and what a route of the program must make of it:
// the played tone on "Speakers", the tone scaled by the volume and softly
// clipped on each chosen target, silence elsewhere. Shared by the end-to-end
// tests that route sound; host side, main test thread.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "audio_analysis.h"

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

// Starts a recorder on the monitor of each of `sinks`, then plays the tone
// into "Speakers" for `duration` (after a short lead-in) and stops
// everything.
SinkRecordings RecordTone(const std::string& folder, std::chrono::milliseconds duration,
                          const std::vector<std::string>& sinks = kDesktopSinks);

// One channel of a recording from half a second after the tone is first
// heard to just before the recorder stopped; empty when nothing was heard.
std::vector<float> SteadyTone(const AudioBuffer& audio, int channel);

struct ExpectedTone
{
    double amplitude = 0.0;  // of the fundamental
    float peak = 0.0f;
};

// The program's own gain and clipper applied to the played tone.
ExpectedTone ExpectedAtVolume(float volume);

void ExpectToneAt(const AudioBuffer& audio, const ExpectedTone& expected, const std::string& sink,
                  std::chrono::milliseconds atLeast);
void ExpectSilent(const AudioBuffer& audio, const std::string& sink);

// The tone went into "Speakers" at its own level; without that, nothing
// heard (or not heard) on the targets means anything.
void ExpectPlayedTone(const SinkRecordings& recordings, std::chrono::milliseconds atLeast);
