// Every committed fuzz input, the seeds and the regressions of crashes once
// found, through the fuzz targets on each test run (under ASan/UBSan).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace {

using FuzzTarget = int (*)(const uint8_t*, size_t);

size_t RunCorpus(const std::string& name, FuzzTarget target) {
    const std::filesystem::path folder = std::filesystem::path(TONEFORK_FUZZ_CORPUS) / name;
    size_t inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(target(bytes.data(), bytes.size()), 0);
        ++inputs;
    }
    return inputs;
}

TEST(FuzzCorpus, EveryCommittedInputRunsClean) {
    EXPECT_GE(RunCorpus("settings_codec", &FuzzSettingsCodec), 5u);
    EXPECT_GE(RunCorpus("name_match", &FuzzNameMatch), 3u);
    // The empty input, which no file holds.
    EXPECT_EQ(FuzzSettingsCodec(nullptr, 0), 0);
    EXPECT_EQ(FuzzNameMatch(nullptr, 0), 0);
}

}  // namespace
