#include "audio/engine/device_change_decision.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <ostream>
#include <string>

namespace {

using Step = DeviceChangeStep;

constexpr const char* kContinue = "Non-critical device change - continuing current redirection";
constexpr const char* kCritical = "Critical device change while redirecting - restarting redirection";
constexpr const char* kCannot = "Cannot restart - invalid device configuration";
constexpr const char* kReconnected = "Device reconnected - auto-starting redirection";
constexpr const char* kSourceBack = "Desired source is back - restarting redirection to capture from it";
constexpr const char* kDefaultMoved = "System default may have changed, restarting redirection.";

DeviceChangeAction Say(const char* message) { return {Step::Log, message}; }
const DeviceChangeAction kStop{Step::StopRedirection, nullptr};
const DeviceChangeAction kPause{Step::Pause, nullptr};
const DeviceChangeAction kStart{Step::StartRedirection, nullptr};

// Unset: the row holds whatever the input is.
using Cell = std::optional<bool>;
constexpr Cell kAny = std::nullopt;

// One row of the decision table. The last two columns are the mend's: a run
// is restarted when its desired source is listed but it is not capturing
// from it. The first row that holds decides, so the mend's row stands before
// the plain "continue" row it narrows.
struct Row {
    Cell redirecting, sourceValid, targetsChanged, anyTarget, autoStartAndDesired, desiredAvailable, capturing;
    DeviceChangePlan plan;
};

const Row kTable[] = {
    {true, true, false, true, kAny, true, false, {Say(kSourceBack), kStop, kPause, kStart}},
    {true, true, false, true, kAny, kAny, kAny, {Say(kContinue)}},
    {true, true, false, false, kAny, kAny, kAny, {Say(kCritical), kStop, kPause, Say(kCannot)}},
    {true, false, kAny, kAny, kAny, kAny, kAny, {Say(kCritical), kStop, kPause, Say(kCannot)}},
    {true, true, true, true, kAny, kAny, kAny, {Say(kCritical), kStop, kPause, kStart}},
    {true, true, true, false, kAny, kAny, kAny, {Say(kCritical), kStop, kPause, Say(kCannot)}},
    {false, kAny, kAny, true, true, kAny, kAny, {Say(kReconnected), kPause, kStart}},
    {false, kAny, kAny, false, kAny, kAny, kAny, {}},
    {false, kAny, kAny, kAny, false, kAny, kAny, {}},
};

bool Holds(Cell cell, bool value) { return !cell || *cell == value; }

const Row* FirstRowHolding(const DeviceChangeFacts& f) {
    for (const Row& row : kTable) {
        if (Holds(row.redirecting, f.redirecting) && Holds(row.sourceValid, f.sourceValid) &&
            Holds(row.targetsChanged, f.targetsChanged) && Holds(row.anyTarget, f.anyTargetSelected) &&
            Holds(row.autoStartAndDesired, f.mayAutoStart && f.desiredSourceAvailable) &&
            Holds(row.desiredAvailable, f.desiredSourceAvailable) &&
            Holds(row.capturing, f.capturingDesiredSource)) {
            return &row;
        }
    }
    return nullptr;
}

std::string Describe(const DeviceChangeFacts& f) {
    return "redirecting=" + std::to_string(f.redirecting) + " sourceValid=" + std::to_string(f.sourceValid) +
           " targetsChanged=" + std::to_string(f.targetsChanged) + " anyTarget=" +
           std::to_string(f.anyTargetSelected) + " mayAutoStart=" + std::to_string(f.mayAutoStart) +
           " desiredAvailable=" + std::to_string(f.desiredSourceAvailable) +
           " capturing=" + std::to_string(f.capturingDesiredSource);
}

}  // namespace

void PrintTo(const DeviceChangeAction& action, std::ostream* out) {
    *out << static_cast<int>(action.step) << ':' << (action.message ? action.message : "-");
}

namespace {

TEST(DeviceChangeDecision, EveryInputCombinationFollowsItsTableRow) {
    for (unsigned bits = 0; bits < (1u << 7); ++bits) {
        DeviceChangeFacts facts;
        facts.redirecting = bits & 1u;
        facts.sourceValid = bits & 2u;
        facts.targetsChanged = bits & 4u;
        facts.anyTargetSelected = bits & 8u;
        facts.mayAutoStart = bits & 16u;
        facts.desiredSourceAvailable = bits & 32u;
        facts.capturingDesiredSource = bits & 64u;
        SCOPED_TRACE(Describe(facts));
        const Row* row = FirstRowHolding(facts);
        ASSERT_NE(row, nullptr) << "no row of the table covers this case";
        EXPECT_EQ(DecideDeviceChange(facts), row->plan);
    }
}

TEST(DeviceChangeDecision, OnlyARunningDefaultSourceIsRestartedForTheDefault) {
    const DeviceChangePlan restart{Say(kDefaultMoved), kStop, kPause, kStart};
    EXPECT_EQ(DecideDefaultSourceRestart(true, true), restart);
    EXPECT_EQ(DecideDefaultSourceRestart(true, false), DeviceChangePlan{});
    EXPECT_EQ(DecideDefaultSourceRestart(false, true), DeviceChangePlan{});
    EXPECT_EQ(DecideDefaultSourceRestart(false, false), DeviceChangePlan{});
}

}  // namespace
