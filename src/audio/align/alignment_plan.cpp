#include "audio/align/alignment_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{
double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

std::string Said(const char* format, const std::string& name, double value)
{
    char text[256];
    std::snprintf(text, sizeof text, format, name.c_str(), value);
    return text;
}

// The reason a target's tries cannot be used, or "".
std::string Unusable(const TargetTries& target)
{
    if (!target.heard || target.arrivalsMs.empty())
    {
        return "The probe was not heard from '" + target.name + "'; nothing was changed.";
    }
    const auto [low, high] = std::minmax_element(target.arrivalsMs.begin(), target.arrivalsMs.end());
    if (*high - *low > kMaxTriesSpreadMs)
    {
        return Said("The tries on '%s' disagree by %.1f ms; nothing was changed.", target.name, *high - *low);
    }
    return {};
}
}  // namespace

AlignmentPlan PlanAlignment(const std::vector<TargetTries>& targets, int32_t maxDelayMs)
{
    AlignmentPlan plan;
    std::vector<double> medians;
    for (const TargetTries& target : targets)
    {
        plan.reason = Unusable(target);
        if (!plan.reason.empty())
        {
            return plan;
        }
        medians.push_back(Median(target.arrivalsMs));
        plan.quality.push_back(*std::min_element(target.qualities.begin(), target.qualities.end()));
    }
    if (medians.size() < 2)
    {
        plan.reason = "At least two targets are needed; nothing was changed.";
        return plan;
    }
    const double earliest = *std::min_element(medians.begin(), medians.end());
    const double latest = *std::max_element(medians.begin(), medians.end());
    if (latest - earliest > maxDelayMs)
    {
        plan.reason = Said("'%s' and the others are %.0f ms apart, more than a delay can make up; nothing was changed.",
                           targets[std::min_element(medians.begin(), medians.end()) - medians.begin()].name,
                           latest - earliest);
        return plan;
    }
    for (const double median : medians)
    {
        plan.relativeMs.push_back(median - earliest);
        plan.delaysMs.push_back(static_cast<int32_t>(std::lround(latest - median)));
    }
    plan.ok = true;
    return plan;
}

bool MicrophoneIsTargetsOwn(const std::wstring& microphone, const std::wstring& target)
{
    return !target.empty() && microphone == L"Monitor of " + target;
}
