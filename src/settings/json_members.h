#pragma once

// How the saved JSON texts write and read an endpoint's identity, shared by
// the codecs of the settings folder so that every stored list names its
// devices alike. Internal to src/settings; platform-free, any thread.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "audio/inventory/endpoint_identity.h"
#include "settings/settings_codec.h"

namespace settings_json
{

// Compact text that never throws: invalid UTF-8 in a name becomes U+FFFD
// instead of failing the whole save.
std::string DumpCompact(const nlohmann::json& value);

// "eid", "eguid", "ff" and "name" of `identity` into `object`.
void PutIdentityMembers(nlohmann::json& object, const EndpointIdentity& identity, const TextConverters& converters);

// The text up to its first NUL, parsed; nothing when it is not JSON.
std::optional<nlohmann::json> ParseUpToNul(std::string_view text);

// Reads "eid", "eguid", "ff" and "name" of an object into `identity`, each
// on its own: a missing member gives the field's default, one of the wrong
// type leaves the field as it was. True when none had the wrong type.
bool ReadIdentityMembers(const nlohmann::json& object, EndpointIdentity& identity, const TextConverters& converters);

}  // namespace settings_json
