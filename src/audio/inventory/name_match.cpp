#include "audio/inventory/name_match.h"

#include <cwctype>

namespace {

bool IsDigitChar(wchar_t c)
{
    return std::iswdigit(static_cast<std::wint_t>(c)) != 0;
}

// The system tells identical devices apart by appending " (2)", " (3)", ...;
// such a suffix must not keep a returning device from being recognised.
void StripNumberSuffix(std::wstring& name)
{
    if (name.size() <= 4 || name.back() != L')')
        return;
    const size_t open = name.rfind(L'(');
    const size_t close = name.size() - 1;
    if (open == std::wstring::npos || close - open < 2)
        return;
    for (size_t i = open + 1; i < close; ++i)
    {
        if (!IsDigitChar(name[i]))
            return;
    }
    size_t cut = open;
    if (cut > 0 && name[cut - 1] == L' ')
        --cut;
    name.resize(cut);
}

// Index of the best-scoring candidate (earliest on ties) if its score reaches
// kMatchThreshold, else -1.
int32_t FindBestMatch(const EndpointIdentity& wanted,
                      const std::vector<EndpointIdentity>& candidates,
                      bool skipDefaultEntries)
{
    int32_t best = -1;
    int32_t index = -1;
    for (size_t i = 0; i < candidates.size(); ++i)
    {
        if (skipDefaultEntries && candidates[i].isDefault)
            continue;
        const int32_t score = MatchScore(wanted, candidates[i]);
        if (score > best)
        {
            best = score;
            index = static_cast<int32_t>(i);
        }
    }
    return best >= kMatchThreshold ? index : -1;
}

int32_t ResolveSource(const EndpointIdentity& desiredSource,
                      const std::vector<EndpointIdentity>& sourceIdentities)
{
    if (sourceIdentities.empty())
        return -1;
    if (desiredSource.isDefault)
        return 0;
    const int32_t index = FindBestMatch(desiredSource, sourceIdentities, true);
    return index >= 0 ? index : 0;
}

} // namespace

std::wstring NormalizeDeviceName(const std::wstring& name)
{
    std::wstring result = name;
    while (!result.empty() && std::iswspace(static_cast<std::wint_t>(result.back())))
        result.pop_back();
    StripNumberSuffix(result);
    for (wchar_t& c : result)
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return result;
}

int32_t MatchScore(const EndpointIdentity& saved, const EndpointIdentity& candidate)
{
    if (!saved.eid.empty() && saved.eid == candidate.eid)
        return kIdMatchScore;
    if (!saved.eguid.empty() && saved.eguid == candidate.eguid)
        return kGuidMatchScore;

    const int32_t score = (saved.ff != 0 && saved.ff == candidate.ff) ? kFormFactorMatchScore : 0;
    const std::wstring a = NormalizeDeviceName(saved.name);
    const std::wstring b = NormalizeDeviceName(candidate.name);
    if (a.empty())
        return score;
    if (a == b)
        return score + kExactNameMatchScore;
    // find() only succeeds when the searched-in name is at least as long.
    if (b.find(a) != std::wstring::npos || a.find(b) != std::wstring::npos)
        return score + kPartialNameMatchScore;
    return score;
}

bool IsSameEndpoint(const EndpointIdentity& x, const EndpointIdentity& y)
{
    if (!x.eid.empty() && x.eid == y.eid)
        return true;
    if (!x.eguid.empty() && x.eguid == y.eguid)
        return true;
    return x.ff == y.ff && NormalizeDeviceName(x.name) == NormalizeDeviceName(y.name);
}

bool StandsFor(const EndpointIdentity& saved, const EndpointIdentity& device)
{
    const bool twin = !saved.eid.empty() && !device.eid.empty() && saved.eid != device.eid &&
                      (saved.eguid.empty() || saved.eguid != device.eguid);
    return !twin && IsSameEndpoint(saved, device);
}

ResolvedSelection ResolveSelection(const EndpointIdentity& desiredSource,
                                   const std::vector<EndpointIdentity>& desiredTargets,
                                   const std::vector<EndpointIdentity>& sourceIdentities,
                                   const std::vector<EndpointIdentity>& playbackIdentities)
{
    ResolvedSelection result;
    result.targetSelected.assign(playbackIdentities.size(), false);
    result.selectedSourceIndex = ResolveSource(desiredSource, sourceIdentities);
    for (const EndpointIdentity& target : desiredTargets)
    {
        const int32_t index = FindBestMatch(target, playbackIdentities, false);
        if (index >= 0)
            result.targetSelected[static_cast<size_t>(index)] = true;
    }
    return result;
}
