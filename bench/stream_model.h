#pragma once

// A model of the shared-mode streams the redirect thread works with: the
// capture stream it reads (a device, or a playback endpoint by loopback) and
// each target's render stream, with the calls the delivery makes on them,
// driven by a simulation's clock. Platform-free: the delivery simulation
// and the native tests run the engine's rules against it, and a pacer that
// decides per packet can be driven against it the same way.
//
// Four kinds of stream. "Windows" is the reference, written from Microsoft's
// documentation; the others stand for what the development machine offers
// in its place, described as what they do.
//
// Windows (documented, with the assumptions marked):
// - The engine processes the endpoint buffer in passes one device period
//   apart; the period is fixed for an endpoint and is the engine's smallest
//   quantum. A render stream's padding falls by what each pass takes, so it
//   drains in whole periods.
//     "IAudioClient::GetDevicePeriod", learn.microsoft.com/en-us/previous-versions/ms678732(v=vs.85)
//   The default period is 10 ms; an application that asks for small buffers
//   makes the engine run every stream of that endpoint at its shorter period
//   (3 ms at 48 kHz is 144 frames), in steps of a fundamental period, and
//   back at 10 ms when it leaves.
//     "Low Latency Audio", learn.microsoft.com/en-us/windows-hardware/drivers/audio/low-latency-audio
//     "IAudioClient3::GetSharedModeEnginePeriod method (audioclient.h)",
//     learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudioclient3-getsharedmodeengineperiod
//   Assumed: a period of whole device frames, the rate over 100 at 10 ms
//   (441 / 480 / 960 at 44.1 / 48 / 96 kHz). That page's own example at
//   44.1 kHz is a 448-frame default period (10.16 ms): a device may well
//   differ, so the period is a parameter.
// - GetCurrentPadding of a render stream: the frames queued to play. A write
//   of more than the buffer less the padding fails with
//   AUDCLNT_E_BUFFER_TOO_LARGE.
//     "IAudioClient::GetCurrentPadding method (audioclient.h)",
//     learn.microsoft.com/en-us/windows/desktop/api/audioclient/nf-audioclient-iaudioclient-getcurrentpadding
//     "IAudioRenderClient::GetBuffer method (audioclient.h)",
//     learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudiorenderclient-getbuffer
//   Assumed: a pass that finds less than a period queued takes what there
//   is and the device plays silence for the rest (an underrun).
// - IAudioClock: GetFrequency never changes during a stream's life, and
//   position / frequency is the time from the stream's start; the position
//   is that of the sample playing through the speakers now, rising at a
//   uniform rate once the stream is started.
//     "IAudioClock::GetFrequency method (audioclient.h)",
//     learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudioclock-getfrequency
//     "IAudioClock::GetPosition", learn.microsoft.com/en-us/previous-versions/ms678743(v=vs.85)
//   Assumed: the frequency is the stream's byte rate at its nominal rate
//   (the page's own example of a unit), stereo float; the position counts
//   the stream's frames as they are heard (a period plays out over the
//   period that follows the pass that took it, the device's own latency
//   left out), silence of an underrun not counted.
// - IAudioClockAdjustment::SetSampleRate: only on a shared-mode stream
//   opened with AUDCLNT_STREAMFLAGS_RATEADJUST; the new rate holds from the
//   frame after the current one until the next call; it must not be called
//   from a real-time thread; E_INVALIDARG out of the processing object's
//   range.
//     "IAudioClockAdjustment interface (audioclient.h)",
//     learn.microsoft.com/en-us/windows/win32/api/audioclient/nn-audioclient-iaudioclockadjustment
//     "IAudioClockAdjustment::SetSampleRate method (audioclient.h)",
//     learn.microsoft.com/en-us/windows/win32/api/audioclient/nf-audioclient-iaudioclockadjustment-setsamplerate
//   Assumed (nothing documents a flush): the queue is kept and drained at
//   the new rate, the resampler taking rate / device rate stream frames per
//   device frame, whole frames per pass, its fraction carried; the clock
//   goes on counting stream frames at its fixed frequency. The range is not
//   documented: only a rate that is not positive is refused here.
// - Capture: GetNextPacketSize / GetBuffer hand out whole packets, one per
//   engine pass; AUDCLNT_S_BUFFER_EMPTY when there is none; each carries
//   the device position of its first frame and flags:
//   AUDCLNT_BUFFERFLAGS_SILENT (treat as silence) and
//   AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY (not correlated with the
//   previous packet's position: a stream state transition or a glitch).
//     "IAudioCaptureClient::GetBuffer method (audioclient.h)",
//     learn.microsoft.com/en-us/windows/desktop/api/Audioclient/nf-audioclient-iaudiocaptureclient-getbuffer
//     "_AUDCLNT_BUFFERFLAGS enumeration (audioclient.h)",
//     learn.microsoft.com/en-us/windows/win32/api/audioclient/ne-audioclient-_audclnt_bufferflags
//   Assumed: a capture buffer holds its size in whole packets; a pass that
//   finds it full loses its packet, and the next packet written is flagged
//   DATA_DISCONTINUITY.
// - Loopback: a capture stream on a playback endpoint, shared mode only.
//     "Loopback Recording", learn.microsoft.com/en-us/windows/win32/coreaudio/loopback-recording
//   While nothing plays on the endpoint it delivers no packets at all, and
//   the first packet after playback resumes is flagged DATA_DISCONTINUITY:
//   "When nothing is playing, there is nothing to capture." This is from a
//   Microsoft audio developer's sample, not from the reference pages:
//     "Sample - WASAPI loopback capture (record what you hear)",
//     matthewvaneerde.wordpress.com/2008/12/16/sample-wasapi-loopback-capture-record-what-you-hear/
//   Assumed: silent streams playing make packets flagged SILENT; the device
//   position goes on counting through a pause.
// - Any call may start failing with AUDCLNT_E_DEVICE_INVALIDATED (the device
//   unplugged, or reconfigured: its format changed), and with
//   AUDCLNT_E_SERVICE_NOT_RUNNING; the stream cannot be used again, the
//   application releases it and opens a new one.
//     "Recovering from an Invalid-Device Error", learn.microsoft.com/en-us/previous-versions/aa964583(v=vs.85)
//   Assumed: an invalidated render stream plays nothing more.
//   Result values as audioclient.h defines them: AUDCLNT_E_x is 0x88890000
//   plus its number, AUDCLNT_S_x 0x08890000 plus its number.
//
// Wine 8 (what the development machine's system Wine does): no loopback
// (Initialize fails with 0x88890003, AUDCLNT_E_WRONG_ENDPOINT_TYPE); no
// IAudioClockAdjustment; its padding is its own count of the queue, lowered
// by a whole period at each tick of a timer of its own (the simulation's
// ppm stands for that timer's pace), and its clock is only that count: all
// it took is counted as played. It never invalidates a stream.
//   Beneath the count (from Wine 8's winepulse source: its timer loop, its
//   writes to the server, and what it does after the server reports an
//   underflow): the sound server starts playing at Start (a one-frame
//   prebuffer) and plays what Wine gives it without a break, Wine keeping
//   it up to three periods ahead and the rest in a buffer of its own. The
//   first tick comes a period after Start, so the count stands up to a
//   period above what is really unheard, by where its ticks fall. While
//   the host holds Wine's process (HoldProcess) its timer makes no ticks
//   and the server plays only what it already has. A hold shorter than
//   that is caught up by ticks half a period apart; after a longer one the
//   server has run dry, Wine writes silence into it ahead of what it holds
//   (up to three periods in all) and counts its ticks afresh from then, so
//   the ticks the hold took are never made up. No call shows the silence,
//   the lost ticks or the ticks' phase. The server's own way of taking
//   sound in blocks (a null sink renders a block of its latency at a time)
//   is not modelled.
// Wine 10 (the loopback tier's): captures by loopback, but never stops an
// idle loopback capture (packets of zeros go on, unflagged); honours
// SetSampleRate, but throws the stream's queue away and starts its clock
// again from zero at each change (its frequency taken to follow the rate, an
// assumption); its count drops whole frames per period, the rate over 100
// rounded (every rate from 47950 to 48049 Hz counts 480).
// What the sound server beneath plays at the changed rate is not modelled.
// It never invalidates a stream.
// Continuous: a queue drained frame by frame at the device's rate, read as
// it plays, with a clock counting all it took: the limit of an engine
// period far shorter than a packet. No system documents it; it is kept
// because a queue that falls by other than periods takes its own path
// through the rules.
//
// Time is the simulation's reference clock in seconds (the source's clock:
// its packets come at exact periods of it). A render device runs
// ppm parts per million fast against it. Advance() runs the engines up to a
// time; the calls then read and change the stream as of that time.

#include <cstdint>
#include <deque>

namespace stream_model {

using Result = int32_t;
inline constexpr Result kOk = 0;
inline constexpr Result kBufferEmpty = 0x08890001;  // AUDCLNT_S_BUFFER_EMPTY
inline constexpr Result kNoInterface = static_cast<Result>(0x80004002u);
inline constexpr Result kInvalidArg = static_cast<Result>(0x80070057u);
inline constexpr Result kNotInitialized = static_cast<Result>(0x88890001u);
inline constexpr Result kWrongEndpointType = static_cast<Result>(0x88890003u);
inline constexpr Result kDeviceInvalidated = static_cast<Result>(0x88890004u);
inline constexpr Result kBufferTooLarge = static_cast<Result>(0x88890006u);
inline constexpr Result kServiceNotRunning = static_cast<Result>(0x88890010u);
inline constexpr Result kResourcesInvalidated = static_cast<Result>(0x88890026u);

inline bool Failed(Result result) {
    return result < 0;
}

// AUDCLNT_BUFFERFLAGS_x.
inline constexpr uint32_t kDataDiscontinuity = 0x1;
inline constexpr uint32_t kSilent = 0x2;

enum class Kind { Windows, Wine8, Wine10, Continuous };

const char* KindName(Kind kind);

inline constexpr double kDefaultPeriodSeconds = 0.010;
inline constexpr double kLowLatencyPeriodSeconds = 0.003;

// An engine period in whole device frames.
uint32_t PeriodFramesAt(double deviceRate, double periodSeconds);

// Clock units per stream frame: a clock in bytes of stereo float.
inline constexpr uint64_t kClockUnitsPerFrame = 8;

struct RenderConfig {
    Kind kind = Kind::Windows;
    double deviceRate = 48000.0;  // the device's nominal frames per second
    double streamRate = 48000.0;  // the stream's format, converted where it differs
    double ppm = 0.0;             // the device's clock against the reference
    uint32_t periodFrames = 480;  // device frames per engine pass
    uint32_t bufferFrames = 0;    // stream frames
    double startAt = 0.0;         // the first pass (continuous: draining starts)
};

// What the device does, for a simulation's statistics: not part of any API.
// Each says nothing unless overridden.
class RenderListener {
public:
    virtual ~RenderListener() = default;
    // The queue went linearly from `from` to `to` over [begin, end].
    virtual void Queue(double /*begin*/, double /*end*/, double /*from*/, double /*to*/) {}
    // The device lacked `frames` at `at` and played silence instead.
    virtual void Underrun(double /*at*/, double /*frames*/) {}
    // The queue stood at `queued` after a pass at `at` (continuous: at the
    // end of an Advance).
    virtual void Level(double /*at*/, double /*queued*/) {}
};

class RenderStreamModel {
public:
    explicit RenderStreamModel(const RenderConfig& config);

    // The engine up to `now` (never earlier than the last call), telling
    // the listener what the device did.
    void Advance(double now, RenderListener& listener);
    void Advance(double now);

    // IAudioClient::GetCurrentPadding, GetBufferSize.
    Result Padding(uint32_t& frames) const;
    Result BufferSize(uint32_t& frames) const;
    // IAudioRenderClient::GetBuffer + ReleaseBuffer of `frames` (silent or
    // not: the model carries no samples).
    Result Write(uint32_t frames);
    // IAudioClock::GetFrequency, GetPosition.
    Result ClockFrequency(uint64_t& frequency) const;
    Result ClockPosition(uint64_t& position) const;
    // Whether GetService(IAudioClockAdjustment) succeeds, and
    // IAudioClockAdjustment::SetSampleRate.
    bool RateAdjustable() const;
    Result SetSampleRate(float hz);

    // The system takes the stream away: every call fails with `code` from
    // now on, where the kind ever does that.
    void Invalidate(Result code = kDeviceInvalidated);
    // The host gives the application's process no processor from now until
    // `until`. Only Wine 8's stream runs in that process (its timer); the
    // engine of Windows' streams does not.
    void HoldProcess(double until);

    // The queue as the device holds it, to the fraction of a frame: for a
    // simulation's statistics.
    double Held() const { return queued_; }
    // How long the first of the last `lastFrames` written waits to be heard,
    // in seconds: what is written before it and not yet heard, at the pace
    // it is heard (Windows' and the continuous kind's by their clocks, Wine
    // 8's by its server; Wine 10's clock counts what was taken, not what is
    // heard).
    double WaitToBeHeard(uint32_t lastFrames) const;
    Kind kind() const { return config_.kind; }
    uint32_t periodFrames() const { return config_.periodFrames; }

private:
    void AdvancePeriodic(double now, RenderListener& listener);
    double PassAfter(double pass);
    void PlayServer(double now, RenderListener& listener);
    void FillServer();
    double PeriodSeconds() const;
    double ServerRate() const;
    void AdvanceContinuous(double now, RenderListener& listener);
    double TakePerPass();
    double DeviceSpeed() const;
    double HeardOfLastPass() const;

    RenderConfig config_;
    Result invalidated_ = kOk;
    double now_ = 0.0;
    double queued_ = 0.0;   // stream frames
    double taken_ = 0.0;    // since the clock last started
    double hz_ = 0.0;       // the stream's rate as last set
    double owed_ = 0.0;     // the resampler's fraction of a frame
    double nextPass_ = 0.0;
    double lastPass_ = -1.0;
    double lastTake_ = 0.0;
    double lastPassRate_ = 0.0;  // stream frames a second the last pass plays at
    double lastTime_ = 0.0;  // the listener has been told up to here
    // Wine 8's server, and its process held.
    double unheard_ = 0.0;       // given to the server (and silence it wrote) not yet played
    double serverTime_ = 0.0;    // played up to here
    double holdFrom_ = 0.0;
    double holdUntil_ = -1.0;
    double serverShare_ = 0.0;   // what the server had when the hold began
    bool serverRanDry_ = false;  // Wine fills it at its next tick
    double lastIdeal_ = 0.0;     // where the timer's last tick belonged
};

// Whether anything plays on the endpoint a loopback capture records.
enum class Playing { Sound, Silence, Nothing };

struct CaptureConfig {
    Kind kind = Kind::Windows;
    bool loopback = true;
    double rate = 48000.0;
    uint32_t periodFrames = 480;  // one packet per engine pass
    uint32_t bufferFrames = 0;    // held in whole packets, at least one
};

struct Packet {
    uint32_t frames = 0;
    uint32_t flags = 0;
    uint64_t devicePosition = 0;
};

class CaptureStreamModel {
public:
    explicit CaptureStreamModel(const CaptureConfig& config);

    // IAudioClient::Initialize's answer.
    Result Initialize() const;
    // The engine's passes up to `now`; a simulation that holds packets back
    // (a source process starved of the processor) passes the time up to
    // which they have been handed over.
    void Advance(double now);
    void SetPlaying(Playing playing);

    // IAudioCaptureClient::GetNextPacketSize, GetBuffer, ReleaseBuffer.
    Result NextPacketSize(uint32_t& frames) const;
    Result GetBuffer(Packet& packet) const;
    Result ReleaseBuffer(uint32_t frames);

    void Invalidate(Result code = kDeviceInvalidated);

    // Packets the full buffer lost so far.
    uint64_t lost() const { return lost_; }

private:
    Result Usable() const;
    bool Delivers() const;

    CaptureConfig config_;
    Result invalidated_ = kOk;
    Playing playing_ = Playing::Sound;
    uint64_t passes_ = 0;  // engine passes so far
    uint64_t lost_ = 0;
    bool discontinuity_ = false;  // owed to the next packet written
    std::deque<Packet> packets_;
};

}  // namespace stream_model
