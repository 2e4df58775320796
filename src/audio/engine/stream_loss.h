#pragma once

#include <cstdint>
#include <string>

// Which results of a stream's calls mean that the system has taken the
// stream away for good, so that only a new stream on the endpoint can play
// again. Platform-free; results are HRESULT bits.
//
// From Microsoft's documentation of the audio client:
// - AUDCLNT_E_DEVICE_INVALIDATED (0x88890004): the endpoint was unplugged,
//   or its hardware, or the resources behind it, were reconfigured,
//   disabled, removed or otherwise made unavailable. A client that chose a
//   specific device releases every interface it obtained on it and
//   activates a new IAudioClient on the same device, which succeeds where
//   the device was only reconfigured (its shared-mode format changed, for
//   instance):
//   https://learn.microsoft.com/en-us/windows/win32/coreaudio/recovering-from-an-invalid-device-error
// - AUDCLNT_E_SERVICE_NOT_RUNNING (0x88890010): the Windows audio service
//   does not run. Both codes are among the results of the packet path's
//   calls:
//   https://learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudiorenderclient-getbuffer
//   https://learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudiocaptureclient-getbuffer
//   https://learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudiocaptureclient-releasebuffer
// - AUDCLNT_E_RESOURCES_INVALIDATED (0x88890026, AUDCLNT_ERR(0x26) in
//   audioclient.h): no reference page we found describes it beyond its
//   name, which says the stream's resources were invalidated; it is taken
//   as the first code is.
inline constexpr uint32_t kStreamDeviceInvalidated = 0x88890004u;
inline constexpr uint32_t kStreamServiceNotRunning = 0x88890010u;
inline constexpr uint32_t kStreamResourcesInvalidated = 0x88890026u;

// Whether `result` ends the use of the stream that returned it.
bool StreamLost(uint32_t result);

// The code's name for the log, or "unknown" for any other result.
const char* StreamLossName(uint32_t result);

// Where a stream's loss is recorded on the packet path: the result that
// ended it (0: in use) and whether the main thread has been told.
struct StreamLossMark
{
    uint32_t code = 0;
    bool announced = false;
};

// What becomes of an endpoint's lost stream: redirection is restarted for
// it, unless another restart would only lose it again: it was lost within
// 5 s of the restart made for it, or for the third time within a minute (a
// device that another program takes every few seconds).
enum class LossResponse : uint8_t
{
    Restart,
    AgainAtOnce,
    TooOften,
};

// The restarts made for one endpoint's lost streams. Main thread.
class RestartRecord
{
public:
    // A loss at `now` (seconds on a steady clock); a restart is noted.
    LossResponse Lost(double now);

private:
    double first_ = 0.0;  // the first restart of the last minute
    double last_ = 0.0;
    int restarts_ = 0;    // since first_
};

// A lost stream as the main thread learns of it: a target by its endpoint
// id and display name, or the source.
struct StreamLoss
{
    bool source = false;
    std::string endpointId;
    std::string name;
    uint32_t code = 0;
};
