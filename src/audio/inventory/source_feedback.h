#pragma once

#include <string>

#include "audio/inventory/endpoint_identity.h"

// A source that captures a playback device's output (its loopback: "the audio
// stream that is being played by a rendering endpoint device",
// learn.microsoft.com/windows/win32/coreaudio/loopback-recording) would hear
// itself again if that same device were also a target: every pass plays what
// the previous one captured, an echo that grows until the soft clip holds it
// at full scale. Decided by endpoint id, as names may repeat. No thread
// affinity.

// The endpoint id of the playback device whose output `source` captures: the
// chosen playback endpoint itself, or for the system-default entry the
// current default playback endpoint (`defaultPlaybackId`). Empty for a
// recording source, for no source, and when the id is unknown.
std::string SourcePlaybackId(const EndpointIdentity& source, const std::string& defaultPlaybackId);

// Whether playing into the target `targetId` would feed the source its own
// output: it is the playback device the source captures (`sourcePlaybackId`,
// as SourcePlaybackId gives it). An empty id matches nothing.
bool FeedsBackIntoSource(const std::string& sourcePlaybackId, const std::string& targetId);
