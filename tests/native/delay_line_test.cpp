#include "audio/engine/delay_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>
#include <vector>

namespace {

struct DelayCase {
    const char* name;
    uint32_t from;                // the delay of the first 100 packets
    uint32_t to;                  // and of the 100 after them
    std::vector<uint32_t> sizes;  // of the packets, in turn
};

// Numbered frames (channels: number + 1, and 1, so that a faded frame still
// tells its number) through a line of up to 100 frames and an 8-frame fade:
// every frame comes out exactly the delay later across many turns of the
// ring, silent packets as silence; after the fades of a change, exactly the
// new delay. Nothing plays twice; only a shorter delay skips, by the decrease.
// At no delay (and once a fade back to none is over) the packet itself comes
// back, silence as null.
TEST(DelayLineTest, EveryFrameComesOutExactlyTheDelayLater) {
    const std::vector<DelayCase> cases = {
        {"steady, odd sizes", 61, 61, {37, 29, 3, 11}}, {"the longest", 100, 100, {1, 40, 17}},
        {"longer", 20, 50, {13}}, {"shorter", 50, 20, {13, 7}}, {"to none", 30, 0, {13}}, {"from none", 0, 100, {40}},
        {"none", 0, 0, {13, 40}},
    };
    for (const DelayCase& c : cases) {
        DelayLine line;
        line.Reserve(2, 100, 40, 8);
        std::vector<int64_t> played;  // the frame each output frame plays; -1: silence
        std::vector<bool> silentIn;
        size_t changedAt = 0;
        for (size_t p = 0; p < 200; ++p) {
            changedAt = p == 100 ? played.size() : changedAt;
            const uint32_t frames = c.sizes[p % c.sizes.size()];
            std::vector<float> in;
            for (size_t n = silentIn.size(); n < silentIn.size() + frames; ++n) in.insert(in.end(), {n + 1.0f, 1.0f});
            silentIn.insert(silentIn.end(), frames, p < 80 && p % 5 == 3);
            const float* out = line.Process(silentIn.back() ? nullptr : in.data(), frames, p < 100 ? c.from : c.to);
            const bool passedThrough = out == (silentIn.back() ? nullptr : in.data());
            ASSERT_TRUE((p != 199 && p >= 100) || passedThrough == ((p < 100 ? c.from : c.to) == 0)) << c.name << " packet " << p;
            for (uint32_t f = 0; f < frames; ++f)
                played.push_back(!out || !out[2 * f + 1] ? -1 : std::lround(out[2 * f] / out[2 * f + 1]) - 1);
        }
        for (size_t t = 0; t < played.size(); ++t) {
            const uint32_t delay = t < changedAt ? c.from : c.to;
            const bool settled = t < changedAt || t >= changedAt + 100 + c.to;
            ASSERT_TRUE(!settled || played[t] == (t < delay || silentIn[t - delay] ? -1 : int64_t(t - delay)))
                << c.name << " at frame " << t << " played " << played[t];
        }
        std::vector<int64_t> heard;
        std::copy_if(played.begin() + changedAt - 1, played.end(), std::back_inserter(heard), [](int64_t n) { return n >= 0; });
        std::adjacent_difference(heard.begin(), heard.end(), heard.begin());
        const auto skip = std::find_if(heard.begin() + 1, heard.end(), [](int64_t step) { return step != 1; });
        EXPECT_EQ(skip == heard.end() ? 0 : *skip - 1, c.to < c.from ? int64_t{c.from} - c.to : 0) << c.name;
        EXPECT_EQ(std::count_if(skip, heard.end(), [](int64_t step) { return step != 1; }), c.to < c.from) << c.name;
    }
}

// A 997 Hz sine at 48 kHz (no whole number of periods in a packet or a
// delay) through each change: no step between neighbouring samples beyond
// the sine's own largest one, and a little for the 5 ms fade.
TEST(DelayLineTest, AChangeFadesWithoutAStep) {
    constexpr double kPhaseStep = 2.0 * 3.141592653589793 * 997.0 / 48000.0;
    const float largestStep = static_cast<float>(0.8 * 2.0 * std::sin(kPhaseStep / 2.0));
    for (const auto& [from, to] : {std::pair{960u, 4800u}, {4800u, 960u}, {960u, 0u}, {0u, 960u}}) {
        DelayLine line;
        line.Reserve(1, 24000, 480, 240);
        std::vector<float> in(480);
        float worst = 0.0f;
        float last = 0.0f;
        for (size_t p = 0; p < 60; ++p) {
            for (size_t f = 0; f < in.size(); ++f) in[f] = static_cast<float>(0.8 * std::sin(kPhaseStep * (p * 480 + f)));
            const float* out = line.Process(in.data(), 480, p < 20 ? from : to);
            for (size_t f = 0; f < in.size(); last = out[f++]) worst = std::max(worst, std::fabs(out[f] - last));
        }
        EXPECT_LE(worst, largestStep + 0.01f) << from << " to " << to;
        EXPECT_NE(last, 0.0f) << from << " to " << to << ": the sound came back";
    }
}

}  // namespace
