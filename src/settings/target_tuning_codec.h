#pragma once

// The stored text of the delays and volumes set per playback device, the
// REG_SZ value kTargetTuningValueName next to the saved targets (written and
// read like them: settings_codec.h). Pure; the main thread's SaveSettings and
// LoadSettings call it, any thread may.
//
// A compact JSON array, one object per TunedEndpoint: the identity as
// SelectedTargets writes it ("eguid", "eid", "ff", "name") plus "delayMs"
// (integer, 0..kMaxTargetDelayMs) and "volume" (number, 0..100), keys sorted:
//   [{"delayMs":120,"eguid":"{G}","eid":"{0.0.0.00000000}.{G}","ff":1,"name":"Speakers","volume":80.0}]

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "audio/engine/target_link.h"
#include "settings/settings_codec.h"

inline constexpr wchar_t kTargetTuningValueName[] = L"TargetTuning";

// The most entries a stored text gives; the newest (last) are kept. A user
// has a handful of devices: thousands can only be a damaged or hostile
// value, which would otherwise be matched against every device on each
// refresh.
inline constexpr size_t kMaxTunedEndpoints = 256;

// Deepest nesting of arrays and objects that is parsed at all. The layout
// needs 2; the limit only keeps a hostile "[[[[..." from being built into a
// tree a million levels deep before it is found wrong.
inline constexpr size_t kMaxTuningNesting = 16;

// The entries in order, each tuning clamped to its ranges (ClampTuning).
std::string EncodeTargetTuning(const std::vector<TunedEndpoint>& tuned, const TextConverters& converters);

struct TuningReadReport
{
    std::vector<TunedEndpoint> tuned;
    bool readable = false;  // JSON (up to the first NUL) holding an array
    size_t entries = 0;     // elements of that array
    size_t fellBack = 0;    // of those: dropped, or read with a default in place of a member
};

// Reads the stored text; never throws. Text that is not JSON, nests deeper
// than kMaxTuningNesting, holds a number too large for a double or is not
// an array gives no entries and readable false. Each element:
//   - not an object, or with no usable identity (no eid, no eguid and a
//     name that normalises to nothing, NormalizeDeviceName): dropped;
//   - an identity member of the wrong type: that field empty (or 0);
//   - "delayMs" missing, not an integer, or outside 0..kMaxTargetDelayMs:
//     0; "volume" missing, not a number, or outside 0..100: 100. An
//     out-of-range value is not clamped: it was not what the user set.
// Every element that was dropped or took a default counts once in fellBack,
// as do the elements before the last kMaxTunedEndpoints.
TuningReadReport DecodeTargetTuning(std::string_view utf8Text, const TextConverters& converters);

// The one log line a read deserves, or "" when everything was read as
// stored.
std::string DescribeTuningRead(const TuningReadReport& report);
