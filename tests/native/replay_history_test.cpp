#include "audio/engine/target_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Frames of two bytes, numbered: frame n holds n, n + 100.
std::vector<unsigned char> Frames(unsigned first, unsigned count) {
    std::vector<unsigned char> bytes;
    for (unsigned n = first; n < first + count; ++n) {
        bytes.push_back(static_cast<unsigned char>(n));
        bytes.push_back(static_cast<unsigned char>(n + 100));
    }
    return bytes;
}

struct HistoryCase {
    const char* name;
    std::vector<unsigned> writes;  // frames per write, numbered on from 0
    unsigned asked;
    unsigned expectedFirst;  // the number of the oldest frame handed back
    unsigned expectedCount;
};

// A history of 8 frames: the newest frames come back oldest first, across
// the end of its storage, and never more than it holds.
TEST(ReplayHistoryTest, HandsBackTheNewestFramesInOrder) {
    const std::vector<HistoryCase> cases = {
        {"nothing written", {}, 4, 0, 0},
        {"fewer held than asked", {3}, 5, 0, 3},
        {"the newest of one write", {6}, 2, 4, 2},
        {"across the wrap", {5, 6}, 7, 4, 7},
        {"all it holds after many writes", {5, 6, 7, 1}, 8, 11, 8},
        {"a write larger than the history", {3, 20}, 8, 15, 8},
        {"nothing asked", {5}, 0, 0, 0},
    };
    for (const HistoryCase& c : cases) {
        ReplayHistory history;
        history.Reserve(8, 2);
        unsigned next = 0;
        for (const unsigned frames : c.writes) {
            const std::vector<unsigned char> bytes = Frames(next, frames);
            history.Append(bytes.data(), frames);
            next += frames;
        }
        std::vector<unsigned char> out(2 * c.asked + 2, 0xEE);
        EXPECT_EQ(history.CopyNewest(c.asked, out.data()), c.expectedCount) << c.name;
        const std::vector<unsigned char> expected = Frames(c.expectedFirst, c.expectedCount);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << c.name;
        // Nothing is written past what was handed back.
        EXPECT_EQ(out[2 * c.expectedCount], 0xEE) << c.name;
    }
}

TEST(ReplayHistoryTest, KeepsNothingUntilSized) {
    ReplayHistory history;
    const std::vector<unsigned char> bytes = Frames(0, 4);
    history.Append(bytes.data(), 4);
    unsigned char out[8] = {};
    EXPECT_EQ(history.Held(), 0u);
    EXPECT_EQ(history.CopyNewest(4, out), 0u);
}

}  // namespace
