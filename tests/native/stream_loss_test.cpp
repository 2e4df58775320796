#include "audio/engine/stream_loss.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
// An endpoint's streams lost at these times (seconds): each loss restarts
// the route unless another restart would only lose the stream again.
TEST(RestartRecord, ALossRightAfterARestartOrAThirdWithinAMinuteEndsTheRestarts)
{
    using enum LossResponse;
    struct Case
    {
        const char* what;
        std::vector<double> at;
        std::vector<LossResponse> expected;
    };
    const std::vector<Case> cases = {
        {"lost again at once", {100.0, 103.0}, {Restart, AgainAtOnce}},
        {"lost every 6 s", {100.0, 106.0, 112.0}, {Restart, Restart, TooOften}},
        {"lost now and then", {100.0, 130.0, 161.0, 222.0}, {Restart, Restart, Restart, Restart}},
    };
    for (const Case& c : cases)
    {
        RestartRecord record;
        for (size_t i = 0; i < c.at.size(); ++i)
        {
            EXPECT_EQ(record.Lost(c.at[i]), c.expected[i]) << c.what << ", loss " << i;
        }
    }
}
}  // namespace
