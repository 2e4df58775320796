#pragma once

// Matching of saved endpoint choices against freshly enumerated endpoints.
//
// Endpoint ids are not stable enough on their own: a device plugged into
// another port, or reinstalled, comes back with a new id and often with a
// numbered name such as "Speakers (2)". A saved choice is therefore scored
// against every listed endpoint by id, GUID, form factor and a normalised
// name, and only a confident score selects an entry.
//
// Everything here is pure and free of system calls; any thread may call it.
// The Windows side (selection.h) projects the identities out of the
// endpoint lists, calls ResolveSelection and swaps the result into
// selectedSourceIndex/targetSelected under selectionMutex.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/inventory/endpoint_identity.h"

// Scores of MatchScore. An id or GUID match decides at once; otherwise the
// form factor bonus and one of the two name scores add up.
inline constexpr int32_t kIdMatchScore = 1000;
inline constexpr int32_t kGuidMatchScore = 800;
inline constexpr int32_t kFormFactorMatchScore = 50;
inline constexpr int32_t kExactNameMatchScore = 200;
inline constexpr int32_t kPartialNameMatchScore = 120;
// Least score that selects an entry: an id, a GUID or an exactly equal
// normalised name. A partial name, even with the form factor (170), is not
// enough.
inline constexpr int32_t kMatchThreshold = 200;

// Drops trailing white space and a trailing numbered suffix ("(2)", with at
// most one plain space before it), then lower-cases every character
// (towlower). "Speakers (2)" and "speakers" normalise alike.
std::wstring NormalizeDeviceName(const std::wstring& name);

// How well `candidate` fits the `saved` identity; see the constants above.
// isDefault and dataFlow play no part.
int32_t MatchScore(const EndpointIdentity& saved, const EndpointIdentity& candidate);

// True when both records name the same endpoint: equal non-empty id (of x),
// equal non-empty GUID (of x), or equal form factor and equal normalised
// name. Keeps the saved target list free of duplicates.
bool IsSameEndpoint(const EndpointIdentity& x, const EndpointIdentity& y);

// Whether a saved record is `device`'s own when the user changes what is
// saved for it: the same endpoint, but never a twin (a device of the same
// name and form factor with an id and GUID of its own, such as a second pair
// of identical speakers), whose record stays its own.
bool StandsFor(const EndpointIdentity& saved, const EndpointIdentity& device);

struct ResolvedSelection
{
    // Index into the source list; -1 only when that list is empty.
    int32_t selectedSourceIndex = -1;
    // One flag per playback entry, in list order.
    std::vector<bool> targetSelected;
};

// Maps the saved choices onto the current lists, given as the identities of
// sourceDevices and playbackDevices in list order.
// Source: a desired source with isDefault set selects entry 0; otherwise the
// best-scoring entry that is not itself a default entry, ties going to the
// earliest, if it reaches kMatchThreshold; otherwise entry 0.
// Targets: each desired target sets the flag of its best-scoring playback
// entry (earliest on ties) when that reaches kMatchThreshold; several saved
// targets may set the same flag. Targets are never matched against the
// source list, so a recording endpoint can only be a source.
ResolvedSelection ResolveSelection(const EndpointIdentity& desiredSource,
                                   const std::vector<EndpointIdentity>& desiredTargets,
                                   const std::vector<EndpointIdentity>& sourceIdentities,
                                   const std::vector<EndpointIdentity>& playbackIdentities);
