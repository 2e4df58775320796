#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "audio/engine/stream_loss.h"

struct AppState;
struct AudioEndpointInfo;
struct RedirectionEngine;

// Streams the system takes away while they play (stream_loss.h): the
// redirect thread stops using such a stream at once and tells the main
// thread, which restarts redirection with the same choices. A stream that
// fails again right after that restart, or for the third time within a
// minute (RestartRecord), is not restarted for again: a target is left out
// until the next device change or Start, a source stops the route, which the
// device-change reaction may then start again.

// Packet path: marks the stream as lost when `result` says so, once.
// Allocates nothing, takes no lock, logs nothing. Redirect thread.
inline void NoteStreamFailure(StreamLossMark& which, HRESULT result)
{
    if (FAILED(result) && which.code == 0 && StreamLost(static_cast<uint32_t>(result)))
    {
        which.code = static_cast<uint32_t>(result);
    }
}

// End of a pass: hands each stream lost since the last pass to the main
// thread (AppState::streamLosses) and, once per run, posts
// WM_APP_STREAM_LOST to the main window. Returns whether the source is
// lost, which ends the transfer loop. Redirect thread.
bool AnnounceStreamLosses(RedirectionEngine& engine);

// On WM_APP_STREAM_LOST: stops the run, logs each lost stream, and starts
// the run again after the usual pause, unless the source failed again at
// once or every target is left out. Main thread.
void HandleStreamLoss(AppState& state);

// Forgets which targets are left out and when each stream was last
// restarted for, so that the next run tries every target again: on a device
// change and on the user's Start. Main thread; takes selectionMutex.
void ForgetLeftOutTargets(AppState& state);

// Whether the target endpoint is left out of the runs. Any thread holding
// selectionMutex: the redirect thread adds to them.
bool IsLeftOut(const AppState& state, const std::string& endpointId);

// The playbackDevices entries a run plays: chosen as targets and not left
// out, in order. Any thread holding selectionMutex.
std::vector<const AudioEndpointInfo*> RoutedTargetEntries(const AppState& state);
