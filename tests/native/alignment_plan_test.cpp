#include <gtest/gtest.h>

#include "audio/align/alignment_plan.h"

namespace
{
struct PlanCase
{
    const char* what;
    std::vector<TargetTries> tries;
    bool ok;
    std::vector<int32_t> delays;      // when ok
    const char* reasonHas;            // when not
};

TEST(AlignmentPlan, DelaysBringEveryTargetToTheLatestOrTheRunIsRefused)
{
    const std::vector<PlanCase> cases = {
        {"the later target waits for none, the earlier for the difference",
         {{"Speaker", {40.2, 40.9, 40.5}, {9, 8, 12}, true}, {"TV", {140.1, 140.6, 140.4}, {7, 9, 9}, true}},
         true, {100, 0}, ""},
        {"medians, not means: one try off by 1.9 ms moves nothing",
         {{"A", {10.0, 10.1, 11.9}, {5, 5, 5}, true}, {"B", {30.0, 30.0, 30.0}, {5, 5, 5}, true}},
         true, {20, 0}, ""},
        {"three targets", {{"A", {5}, {4}, true}, {"B", {0}, {4}, true}, {"C", {2.6}, {4}, true}}, true, {0, 5, 2}, ""},
        {"a probe not heard", {{"A", {5, 5, 5}, {4, 4, 4}, true}, {"Quiet", {5, 5}, {4, 4}, false}}, false, {}, "not heard from 'Quiet'"},
        {"tries 2.1 ms apart", {{"A", {5, 7.1, 6}, {4, 4, 4}, true}, {"B", {5, 5, 5}, {4, 4, 4}, true}}, false, {}, "disagree by 2.1 ms"},
        {"further apart than a delay holds", {{"A", {0}, {4}, true}, {"Far", {600}, {4}, true}}, false, {}, "more than a delay"},
        {"one target", {{"A", {0}, {4}, true}}, false, {}, "two targets"},
    };
    for (const PlanCase& c : cases)
    {
        const AlignmentPlan plan = PlanAlignment(c.tries, 500);
        EXPECT_EQ(plan.ok, c.ok) << c.what;
        EXPECT_EQ(plan.delaysMs, c.delays) << c.what;
        EXPECT_NE(plan.reason.find(c.reasonHas), std::string::npos) << c.what << ": " << plan.reason;
    }
}

TEST(AlignmentPlan, QualityIsTheWeakestTryAndArrivalsCountFromTheEarliest)
{
    const AlignmentPlan plan =
        PlanAlignment({{"A", {12.0, 12.5, 12.2}, {9, 3, 8}, true}, {"B", {2.0, 2.2, 2.1}, {6, 7, 5}, true}}, 500);
    ASSERT_TRUE(plan.ok);
    EXPECT_EQ(plan.quality, (std::vector<double>{3, 5}));
    EXPECT_NEAR(plan.relativeMs[0], 10.1, 1e-9);
    EXPECT_EQ(plan.relativeMs[1], 0.0);
}

TEST(AlignmentPlan, OnlyASoundServersMonitorOfATargetHearsItStraight)
{
    EXPECT_TRUE(MicrophoneIsTargetsOwn(L"Monitor of HDMI Output", L"HDMI Output"));
    EXPECT_FALSE(MicrophoneIsTargetsOwn(L"Monitor of Room", L"HDMI Output"));
    EXPECT_FALSE(MicrophoneIsTargetsOwn(L"Microphone (USB)", L"Speakers (USB)"));
    EXPECT_FALSE(MicrophoneIsTargetsOwn(L"Monitor of ", L""));
}
}  // namespace
