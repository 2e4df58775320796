#pragma once
// Stand-ins for the shared-mode streams of an endpoint (IAudioClient with its
// capture and render services) and for IMMEndpoint, for tests that run the
// redirection engine without an audio system. A FakeAudioEndpoint hands out a
// new fake client on every Activate, as a real device does, and keeps a
// record of each stream it opened: the calls it saw, the packets it captured
// and every render buffer written into it. Records outlive their streams, so
// leaks are checked with LiveFakeComObjects() and the records read after the
// run.
//
// Threads: the engine calls the fakes on the redirect thread while the test
// reads records and changes behaviour on its own thread; everything of one
// endpoint is guarded by that endpoint's mutex.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fake_endpoints.h"

// A stream format as the fakes hand it out and record it.
struct FakeFormat
{
    enum class SubFormat { None, Pcm, IeeeFloat };

    WORD tag = WAVE_FORMAT_IEEE_FLOAT;
    WORD channels = 2;
    DWORD sampleRate = 48000;
    WORD bits = 32;
    WORD validBits = 0;  // extensible only
    SubFormat subFormat = SubFormat::None;
    DWORD channelMask = 0;  // extensible only

    WORD BlockAlign() const { return static_cast<WORD>(channels * (bits / 8)); }
    bool operator==(const FakeFormat&) const = default;
};

FakeFormat FloatFormat(WORD channels = 2, DWORD sampleRate = 48000);
FakeFormat PcmFormat(WORD bits, WORD channels = 2, DWORD sampleRate = 48000);
// With the usual speaker positions for two channels, else none.
FakeFormat ExtensibleFloatFormat(WORD channels = 2, DWORD sampleRate = 48000);

// The format as the audio system returns it: task memory, WAVEFORMATEX or
// WAVEFORMATEXTENSIBLE. The caller frees it with CoTaskMemFree.
WAVEFORMATEX* AllocateWaveFormat(const FakeFormat& format);
// The numbers of a format handed to the fakes (extensible tail included).
FakeFormat ReadFakeFormat(const WAVEFORMATEX& format);

// The sample every generated packet carries at (packet, frame, channel):
// distinct small values in 0.001 .. 0.4, so that unity gain leaves them
// untouched and a doubled gain stays below the clipper's knee.
float PatternSample(uint32_t packetIndex, uint32_t frame, uint16_t channel);

// One captured packet. Its samples follow PatternSample unless `constant`
// is given; `nullData` hands out a null data pointer.
struct FakePacket
{
    UINT32 frames = 480;
    DWORD flags = 0;
    bool nullData = false;
    std::optional<float> constant;
};

// What a stream of the endpoint does. Every HRESULT is what the call returns
// (S_OK: it behaves like a working stream).
struct FakeStreamBehaviour
{
    FakeFormat mixFormat;
    UINT32 bufferFrames = 960;

    HRESULT activate = S_OK;
    HRESULT getMixFormat = S_OK;
    HRESULT initialize = S_OK;
    // Initialize fails with AUDCLNT_E_UNSUPPORTED_FORMAT unless handed the
    // endpoint's own mix format.
    bool onlyOwnFormat = false;
    // After a failed Initialize the client refuses every further call with
    // AUDCLNT_E_DEVICE_INVALIDATED, as a Windows client may.
    bool spentByFailedInitialize = false;
    HRESULT getService = S_OK;
    HRESULT getBufferSize = S_OK;
    HRESULT start = S_OK;

    // Render side. While the stream runs its queue stays at `padding` frames
    // whatever is written; before it starts the queue is empty.
    UINT32 padding = 0;
    // Rate adjustment: Initialize refuses AUDCLNT_STREAMFLAGS_RATEADJUST
    // with this result when set; a stream opened with the flag offers
    // IAudioClockAdjustment unless clockAdjustment is a failure.
    HRESULT refuseRateAdjust = S_OK;
    HRESULT clockAdjustment = E_NOINTERFACE;
    // IAudioClock, when set: its position is the frames released less the
    // queue, in bytes (its frequency: bytes a second at the format's rate).
    bool clock = false;
    // Frames the clock stands behind the queue: what of the period under
    // way is still to be heard, as Windows' clock counts (0: it only
    // repeats the queue, as Wine's does).
    UINT32 clockBehindQueue = 0;
    // At every SetSampleRate the stream throws its queue away (it reads
    // empty until the next write) and starts its clock again from zero, as
    // one sound system does.
    bool dropQueueOnRateChange = false;
    // What SetSampleRate returns (a failure leaves the rate as it was).
    HRESULT setSampleRate = S_OK;
    // What GetStreamLatency reports (100 ns units); 0: it fails (E_NOTIMPL).
    REFERENCE_TIME streamLatency = 0;
    // GetDevicePeriod's default period and result.
    REFERENCE_TIME devicePeriod = 0;
    HRESULT getDevicePeriod = E_NOTIMPL;
    HRESULT getCurrentPadding = S_OK;
    HRESULT renderGetBuffer = S_OK;
    bool nullRenderBuffer = false;

    // Capture side, only while the stream runs: the scripted packets in
    // order, then (when endlessFrames is not 0) pattern packets of that size
    // for ever.
    std::vector<FakePacket> packets;
    UINT32 endlessFrames = 0;
    // Called (with the endpoint locked) each time a packet is handed out.
    std::function<void()> onPacketHandedOut;
    HRESULT getNextPacketSize = S_OK;
    HRESULT captureGetBuffer = S_OK;
    // The first this many GetBuffer calls that find a packet report
    // AUDCLNT_S_BUFFER_EMPTY instead and hand out nothing.
    uint32_t emptyCaptureReads = 0;

    // After this many calls of the packet path (GetCurrentPadding,
    // GetNextPacketSize, GetBuffer and ReleaseBuffer of either side) a
    // stream fails each such call with lostWith, as one the system took away
    // while its endpoint stays listed. Counted per stream: a new one plays
    // as long again. 0: never.
    uint32_t lostAfterCalls = 0;
    HRESULT lostWith = AUDCLNT_E_DEVICE_INVALIDATED;
};

struct FakeInitializeCall
{
    AUDCLNT_SHAREMODE shareMode = AUDCLNT_SHAREMODE_SHARED;
    DWORD flags = 0;
    REFERENCE_TIME bufferDuration = 0;
    REFERENCE_TIME periodicity = 0;
    FakeFormat format;
    bool sessionGuidNull = true;
    HRESULT result = S_OK;
};

// One render buffer: requested by GetBuffer, handed back by ReleaseBuffer.
struct FakeRenderWrite
{
    UINT32 requestedFrames = 0;
    UINT32 releasedFrames = 0;
    DWORD flags = 0;
    std::vector<uint8_t> bytes;  // releasedFrames x block alignment
    bool overrun = false;        // a byte past requestedFrames x block alignment changed
    bool whileRunning = false;   // written after Start (priming comes before)
};

// Everything one stream saw. Read through FakeAudioEndpoint::Streams().
struct FakeStreamRecord
{
    std::vector<FakeInitializeCall> initializeCalls;
    std::optional<FakeFormat> format;  // after a successful Initialize
    bool spent = false;                // refuses every call (spentByFailedInitialize)
    int refusedCalls = 0;
    int getMixFormatCalls = 0;
    int startCalls = 0;
    int stopCalls = 0;
    bool running = false;
    // Packets handed out by GetBuffer and released, by index of generation.
    uint32_t packetsHandedOut = 0;
    uint32_t packetsReleased = 0;
    std::vector<FakeRenderWrite> writes;
    int failedRenderRequests = 0;
    // Every rate handed to the stream's IAudioClockAdjustment, in order, and
    // how many writes the stream had had by then.
    std::vector<float> sampleRates;
    std::vector<size_t> writesAtRateChange;
    // The clock and the queue (dropQueueOnRateChange): frames released in
    // all, those released before the clock last started again, and whether
    // the queue was thrown away since the last write.
    uint64_t framesReleased = 0;
    uint64_t clockStartFrames = 0;
    bool queueDropped = false;
    uint32_t packetPathCalls = 0;  // for lostAfterCalls
    uint32_t emptyCaptureReads = 0;
};

// A timestamped Start or Stop of any fake stream, in process order.
struct FakeStreamEvent
{
    std::string endpoint;
    std::string call;  // "Start" or "Stop"
    std::chrono::steady_clock::time_point at;
};
void ClearFakeStreamEvents();
std::vector<FakeStreamEvent> FakeStreamEvents();

class FakeAudioClient;

// An endpoint's streams. Create with std::make_shared and keep it for as long
// as its devices may be activated: the activate hook refers to it weakly, so
// that devices and endpoint never keep each other alive.
class FakeAudioEndpoint : public std::enable_shared_from_this<FakeAudioEndpoint>
{
public:
    FakeAudioEndpoint(std::string name, FakeStreamBehaviour behaviour);

    const std::string& Name() const { return name; }

    // For FakeEndpoint::activate: a new FakeAudioClient per IAudioClient
    // request, failing with `activate` when set.
    FakeActivateHook ActivateHook();

    // Changes the behaviour of every stream of the endpoint, now and later.
    template <typename Change>
    void Configure(Change change)
    {
        std::lock_guard<std::mutex> lock(mutex);
        change(behaviour);
    }

    int ActivateCalls() const;
    // Copies of the records of every stream opened so far, in opening order.
    std::vector<FakeStreamRecord> Streams() const;
    // Render writes of every stream so far.
    size_t TotalWrites() const;

private:
    friend class FakeAudioClient;
    friend class FakeCaptureClient;
    friend class FakeRenderClient;
    friend class FakeClockAdjustment;
    friend class FakeClock;

    const std::string name;
    mutable std::mutex mutex;
    FakeStreamBehaviour behaviour;
    int activateCalls = 0;
    size_t nextScriptedPacket = 0;
    uint32_t generatedPackets = 0;
    std::vector<std::shared_ptr<FakeStreamRecord>> records;
};

// IMMEndpoint of a fake device: reports `flow`, or fails with `result`.
class FakeMMEndpoint final : public FakeComObject<IMMEndpoint>
{
public:
    explicit FakeMMEndpoint(EDataFlow flow, HRESULT result = S_OK) : flow(flow), result(result) {}
    HRESULT STDMETHODCALLTYPE GetDataFlow(EDataFlow* out) override;

private:
    const EDataFlow flow;
    const HRESULT result;
};

// `endpoint` with its Activate opening `streams` and its QueryInterface for
// IMMEndpoint reporting `flow` (none: the device does not offer IMMEndpoint).
FakeEndpoint StreamingFakeEndpoint(FakeEndpoint endpoint, const std::shared_ptr<FakeAudioEndpoint>& streams,
                                   std::optional<EDataFlow> flow = eRender);
