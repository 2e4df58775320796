#include "fake_audio_streams.h"

#include <mmreg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
std::mutex eventMutex;
std::vector<FakeStreamEvent> events;

void NoteEvent(const std::string& endpoint, const char* call)
{
    std::lock_guard<std::mutex> lock(eventMutex);
    events.push_back({endpoint, call, std::chrono::steady_clock::now()});
}

GUID SubFormatGuid(WORD tag)
{
    return {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

constexpr uint8_t kUntouched = 0xCD;

// Little-endian signed sample of `bytes` bytes, from a value in -1 .. 1.
void StoreInteger(float value, size_t bytes, uint8_t* out)
{
    const double scale = std::ldexp(1.0, static_cast<int>(bytes * 8) - 1);
    const double clamped = std::clamp(std::round(static_cast<double>(value) * scale), -scale, scale - 1.0);
    const auto bits = static_cast<uint32_t>(static_cast<int32_t>(clamped));
    for (size_t b = 0; b < bytes; ++b)
    {
        out[b] = static_cast<uint8_t>(bits >> (8 * b));
    }
}

void StoreSample(float value, const FakeFormat& format, uint8_t* out)
{
    const bool isFloat = format.tag == WAVE_FORMAT_IEEE_FLOAT || format.subFormat == FakeFormat::SubFormat::IeeeFloat;
    if (isFloat)
    {
        std::memcpy(out, &value, sizeof value);
    }
    else
    {
        StoreInteger(value, format.bits / 8u, out);
    }
}
}  // namespace

void ClearFakeStreamEvents()
{
    std::lock_guard<std::mutex> lock(eventMutex);
    events.clear();
}

std::vector<FakeStreamEvent> FakeStreamEvents()
{
    std::lock_guard<std::mutex> lock(eventMutex);
    return events;
}

FakeFormat FloatFormat(WORD channels, DWORD sampleRate)
{
    return {WAVE_FORMAT_IEEE_FLOAT, channels, sampleRate, 32, 0, FakeFormat::SubFormat::None};
}

FakeFormat PcmFormat(WORD bits, WORD channels, DWORD sampleRate)
{
    return {WAVE_FORMAT_PCM, channels, sampleRate, bits, 0, FakeFormat::SubFormat::None};
}

FakeFormat ExtensibleFloatFormat(WORD channels, DWORD sampleRate)
{
    return {WAVE_FORMAT_EXTENSIBLE, channels, sampleRate, 32, 32, FakeFormat::SubFormat::IeeeFloat,
            channels == 2 ? 3u : 0u};
}

WAVEFORMATEX* AllocateWaveFormat(const FakeFormat& format)
{
    const bool extensible = format.tag == WAVE_FORMAT_EXTENSIBLE;
    const size_t size = extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
    auto* wave = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(size));
    std::memset(wave, 0, size);
    wave->wFormatTag = format.tag;
    wave->nChannels = format.channels;
    wave->nSamplesPerSec = format.sampleRate;
    wave->wBitsPerSample = format.bits;
    wave->nBlockAlign = format.BlockAlign();
    wave->nAvgBytesPerSec = format.sampleRate * format.BlockAlign();
    if (extensible)
    {
        auto* tail = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(wave);
        wave->cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        tail->Samples.wValidBitsPerSample = format.validBits;
        tail->dwChannelMask = format.channelMask;
        const WORD subTag = format.subFormat == FakeFormat::SubFormat::Pcm ? WAVE_FORMAT_PCM : WAVE_FORMAT_IEEE_FLOAT;
        tail->SubFormat = format.subFormat == FakeFormat::SubFormat::None ? GUID{} : SubFormatGuid(subTag);
    }
    return wave;
}

FakeFormat ReadFakeFormat(const WAVEFORMATEX& wave)
{
    FakeFormat format{wave.wFormatTag, wave.nChannels, wave.nSamplesPerSec, wave.wBitsPerSample, 0,
                      FakeFormat::SubFormat::None};
    if (wave.wFormatTag == WAVE_FORMAT_EXTENSIBLE && wave.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
    {
        const auto& tail = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wave);
        format.validBits = tail.Samples.wValidBitsPerSample;
        format.channelMask = tail.dwChannelMask;
        if (IsEqualGUID(tail.SubFormat, SubFormatGuid(WAVE_FORMAT_PCM)))
            format.subFormat = FakeFormat::SubFormat::Pcm;
        else if (IsEqualGUID(tail.SubFormat, SubFormatGuid(WAVE_FORMAT_IEEE_FLOAT)))
            format.subFormat = FakeFormat::SubFormat::IeeeFloat;
    }
    return format;
}

float PatternSample(uint32_t packetIndex, uint32_t frame, uint16_t channel)
{
    return 0.001f * static_cast<float>(1 + (packetIndex * 37u + frame * 3u + channel * 101u) % 400u);
}

class FakeAudioClient final : public FakeComObject<IAudioClient>
{
public:
    FakeAudioClient(std::shared_ptr<FakeAudioEndpoint> endpoint, std::shared_ptr<FakeStreamRecord> record)
        : endpoint(std::move(endpoint)), record(std::move(record))
    {
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID session) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        const FakeStreamBehaviour& behaviour = endpoint->behaviour;
        FakeInitializeCall call{shareMode, flags, duration, periodicity, {}, session == nullptr, S_OK};
        if (record->spent)
            call.result = Refused();
        else if (format == nullptr)
            call.result = E_POINTER;
        else
            call.format = ReadFakeFormat(*format);
        if (SUCCEEDED(call.result) && record->format)
            call.result = AUDCLNT_E_ALREADY_INITIALIZED;
        else if (SUCCEEDED(call.result) && FAILED(behaviour.initialize))
            call.result = behaviour.initialize;
        else if (SUCCEEDED(call.result) && behaviour.onlyOwnFormat && !(call.format == behaviour.mixFormat))
            call.result = AUDCLNT_E_UNSUPPORTED_FORMAT;
        else if (SUCCEEDED(call.result) && (flags & AUDCLNT_STREAMFLAGS_RATEADJUST) != 0)
            call.result = behaviour.refuseRateAdjust;
        if (SUCCEEDED(call.result))
            record->format = call.format;
        else
            record->spent = behaviour.spentByFailedInitialize;
        record->initializeCalls.push_back(call);
        return call.result;
    }
    // Caller holds the endpoint's mutex.
    HRESULT Refused() const
    {
        if (!record->spent)
            return S_OK;
        ++record->refusedCalls;
        return AUDCLNT_E_DEVICE_INVALIDATED;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        *frames = 0;
        if (FAILED(Refused()))
            return AUDCLNT_E_DEVICE_INVALIDATED;
        if (FAILED(endpoint->behaviour.getBufferSize))
            return endpoint->behaviour.getBufferSize;
        if (!record->format)
            return AUDCLNT_E_NOT_INITIALIZED;
        *frames = endpoint->behaviour.bufferFrames;
        return S_OK;
    }
    // Caller holds the endpoint's mutex: counts one call of the packet path
    // and fails it once the stream has been taken away.
    HRESULT PacketPathCall() const
    {
        const FakeStreamBehaviour& behaviour = endpoint->behaviour;
        ++record->packetPathCalls;
        const bool lost = behaviour.lostAfterCalls != 0 && record->packetPathCalls > behaviour.lostAfterCalls;
        return lost ? behaviour.lostWith : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        *latency = endpoint->behaviour.streamLatency;
        return *latency > 0 ? S_OK : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        *frames = 0;
        if (const HRESULT lost = PacketPathCall(); FAILED(lost))
            return lost;
        if (FAILED(endpoint->behaviour.getCurrentPadding))
            return endpoint->behaviour.getCurrentPadding;
        *frames = Padding();
        return S_OK;
    }
    // Caller holds the endpoint's mutex.
    UINT32 Padding() const { return record->running && !record->queueDropped ? endpoint->behaviour.padding : 0; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        ++record->getMixFormatCalls;
        *format = nullptr;
        if (FAILED(Refused()))
            return AUDCLNT_E_DEVICE_INVALIDATED;
        if (FAILED(endpoint->behaviour.getMixFormat))
            return endpoint->behaviour.getMixFormat;
        *format = AllocateWaveFormat(endpoint->behaviour.mixFormat);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        *defaultPeriod = *minimumPeriod = endpoint->behaviour.devicePeriod;
        return endpoint->behaviour.getDevicePeriod;
    }
    HRESULT STDMETHODCALLTYPE Start() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        ++record->startCalls;
        NoteEvent(endpoint->name, "Start");
        if (FAILED(Refused()))
            return AUDCLNT_E_DEVICE_INVALIDATED;
        if (FAILED(endpoint->behaviour.start))
            return endpoint->behaviour.start;
        record->running = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        ++record->stopCalls;
        NoteEvent(endpoint->name, "Stop");
        record->running = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override;

    const std::shared_ptr<FakeAudioEndpoint> endpoint;
    const std::shared_ptr<FakeStreamRecord> record;
};

// A service keeps its client alive, as the system's do.
class FakeCaptureClient final : public FakeComObject<IAudioCaptureClient>
{
public:
    explicit FakeCaptureClient(Microsoft::WRL::ComPtr<FakeAudioClient> client) : client(std::move(client)) {}

    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override
    {
        std::lock_guard<std::mutex> lock(Endpoint().mutex);
        *frames = 0;
        if (const HRESULT lost = client->PacketPathCall(); FAILED(lost))
            return lost;
        if (FAILED(Endpoint().behaviour.getNextPacketSize))
            return Endpoint().behaviour.getNextPacketSize;
        if (const std::optional<FakePacket> packet = NextPacket())
            *frames = packet->frames;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                        UINT64* qpcPosition) override
    {
        std::lock_guard<std::mutex> lock(Endpoint().mutex);
        *data = nullptr;
        *frames = 0;
        *flags = 0;
        if (devicePosition)
            *devicePosition = 0;
        if (qpcPosition)
            *qpcPosition = 0;
        if (const HRESULT lost = client->PacketPathCall(); FAILED(lost))
            return lost;
        if (FAILED(Endpoint().behaviour.captureGetBuffer))
            return Endpoint().behaviour.captureGetBuffer;
        const std::optional<FakePacket> packet = NextPacket();
        if (!packet)
            return AUDCLNT_S_BUFFER_EMPTY;
        if (client->record->emptyCaptureReads < Endpoint().behaviour.emptyCaptureReads)
        {
            ++client->record->emptyCaptureReads;
            return AUDCLNT_S_BUFFER_EMPTY;
        }
        Fill(*packet);
        *data = packet->nullData ? nullptr : buffer.data();
        *frames = packet->frames;
        *flags = packet->flags;
        outstanding = true;
        ++client->record->packetsHandedOut;
        if (Endpoint().behaviour.onPacketHandedOut)
            Endpoint().behaviour.onPacketHandedOut();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32) override
    {
        std::lock_guard<std::mutex> lock(Endpoint().mutex);
        if (const HRESULT lost = client->PacketPathCall(); FAILED(lost))
            return lost;
        if (!outstanding)
            return AUDCLNT_E_OUT_OF_ORDER;
        outstanding = false;
        ++client->record->packetsReleased;
        ++Endpoint().generatedPackets;
        if (Endpoint().nextScriptedPacket < Endpoint().behaviour.packets.size())
            ++Endpoint().nextScriptedPacket;
        return S_OK;
    }

private:
    FakeAudioEndpoint& Endpoint() const { return *client->endpoint; }

    // The packet at the head of the stream, if the stream runs and has one.
    std::optional<FakePacket> NextPacket() const
    {
        const FakeStreamBehaviour& behaviour = Endpoint().behaviour;
        if (!client->record->running || !client->record->format)
            return std::nullopt;
        if (Endpoint().nextScriptedPacket < behaviour.packets.size())
            return behaviour.packets[Endpoint().nextScriptedPacket];
        if (behaviour.endlessFrames == 0)
            return std::nullopt;
        FakePacket endless;
        endless.frames = behaviour.endlessFrames;
        return endless;
    }

    void Fill(const FakePacket& packet)
    {
        const FakeFormat& format = *client->record->format;
        const size_t sampleBytes = format.bits / 8u;
        buffer.assign(static_cast<size_t>(packet.frames) * format.BlockAlign(), 0);
        for (uint32_t f = 0; f < packet.frames; ++f)
        {
            for (uint16_t c = 0; c < format.channels; ++c)
            {
                const float value = packet.constant ? *packet.constant : PatternSample(Endpoint().generatedPackets, f, c);
                StoreSample(value, format, buffer.data() + (static_cast<size_t>(f) * format.channels + c) * sampleBytes);
            }
        }
    }

    Microsoft::WRL::ComPtr<FakeAudioClient> client;
    std::vector<uint8_t> buffer;
    bool outstanding = false;
};

class FakeRenderClient final : public FakeComObject<IAudioRenderClient>
{
public:
    explicit FakeRenderClient(Microsoft::WRL::ComPtr<FakeAudioClient> client) : client(std::move(client)) {}

    HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override
    {
        std::lock_guard<std::mutex> lock(client->endpoint->mutex);
        const FakeStreamBehaviour& behaviour = client->endpoint->behaviour;
        *data = nullptr;
        if (const HRESULT lost = client->PacketPathCall(); FAILED(lost))
            return lost;
        const UINT32 room = behaviour.bufferFrames - std::min(client->Padding(), behaviour.bufferFrames);
        HRESULT result = S_OK;
        if (FAILED(behaviour.renderGetBuffer))
            result = behaviour.renderGetBuffer;
        else if (frames > room)
            result = AUDCLNT_E_BUFFER_TOO_LARGE;
        if (FAILED(result))
        {
            ++client->record->failedRenderRequests;
            return result;
        }
        requested = frames;
        const size_t bytes = static_cast<size_t>(frames) * BlockAlign();
        // Whatever follows the requested bytes stays untouched unless the
        // caller writes past its buffer.
        buffer.assign(bytes + std::max<size_t>(256, bytes), kUntouched);
        if (!behaviour.nullRenderBuffer)
            *data = buffer.data();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD flags) override
    {
        std::lock_guard<std::mutex> lock(client->endpoint->mutex);
        if (const HRESULT lost = client->PacketPathCall(); FAILED(lost))
            return lost;
        FakeRenderWrite write;
        write.requestedFrames = requested;
        write.releasedFrames = frames;
        write.flags = flags;
        write.whileRunning = client->record->running;
        const size_t requestedBytes = static_cast<size_t>(requested) * BlockAlign();
        const size_t releasedBytes = std::min(static_cast<size_t>(frames) * BlockAlign(), buffer.size());
        write.bytes.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(releasedBytes));
        write.overrun = std::any_of(buffer.begin() + static_cast<std::ptrdiff_t>(std::min(requestedBytes, buffer.size())),
                                    buffer.end(), [](uint8_t byte) { return byte != kUntouched; });
        client->record->writes.push_back(std::move(write));
        client->record->framesReleased += frames;
        client->record->queueDropped = false;
        requested = 0;
        return frames > client->record->writes.back().requestedFrames ? AUDCLNT_E_INVALID_SIZE : S_OK;
    }

private:
    size_t BlockAlign() const { return client->record->format ? client->record->format->BlockAlign() : 0; }

    Microsoft::WRL::ComPtr<FakeAudioClient> client;
    std::vector<uint8_t> buffer;
    UINT32 requested = 0;
};

class FakeClockAdjustment final : public FakeComObject<IAudioClockAdjustment>
{
public:
    explicit FakeClockAdjustment(Microsoft::WRL::ComPtr<FakeAudioClient> client) : client(std::move(client)) {}

    HRESULT STDMETHODCALLTYPE SetSampleRate(float rate) override
    {
        std::lock_guard<std::mutex> lock(client->endpoint->mutex);
        FakeStreamRecord& record = *client->record;
        record.sampleRates.push_back(rate);
        record.writesAtRateChange.push_back(record.writes.size());
        if (FAILED(client->endpoint->behaviour.setSampleRate))
            return client->endpoint->behaviour.setSampleRate;
        if (client->endpoint->behaviour.dropQueueOnRateChange)
        {
            record.queueDropped = true;
            record.clockStartFrames = record.framesReleased;
        }
        return S_OK;
    }

private:
    Microsoft::WRL::ComPtr<FakeAudioClient> client;
};

class FakeClock final : public FakeComObject<IAudioClock>
{
public:
    explicit FakeClock(Microsoft::WRL::ComPtr<FakeAudioClient> client) : client(std::move(client)) {}

    HRESULT STDMETHODCALLTYPE GetFrequency(UINT64* frequency) override
    {
        std::lock_guard<std::mutex> lock(client->endpoint->mutex);
        const FakeFormat& format = *client->record->format;
        *frequency = static_cast<UINT64>(format.sampleRate) * format.BlockAlign();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPosition(UINT64* position, UINT64* qpc) override
    {
        std::lock_guard<std::mutex> lock(client->endpoint->mutex);
        const FakeStreamRecord& record = *client->record;
        const uint64_t since = record.framesReleased - record.clockStartFrames;
        const uint64_t queued =
            std::min<uint64_t>(uint64_t{client->Padding()} + client->endpoint->behaviour.clockBehindQueue, since);
        *position = (since - queued) * record.format->BlockAlign();
        if (qpc)
            *qpc = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override
    {
        *characteristics = 0;
        return S_OK;
    }

private:
    Microsoft::WRL::ComPtr<FakeAudioClient> client;
};

HRESULT FakeAudioClient::GetService(REFIID iid, void** out)
{
    *out = nullptr;
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (FAILED(Refused()))
            return AUDCLNT_E_DEVICE_INVALIDATED;
        if (FAILED(endpoint->behaviour.getService))
            return endpoint->behaviour.getService;
        if (!record->format)
            return AUDCLNT_E_NOT_INITIALIZED;
    }
    Microsoft::WRL::ComPtr<FakeAudioClient> self(this);
    if (iid == __uuidof(IAudioCaptureClient))
    {
        *out = static_cast<IAudioCaptureClient*>(MakeFake<FakeCaptureClient>(self).Detach());
        return S_OK;
    }
    if (iid == __uuidof(IAudioRenderClient))
    {
        *out = static_cast<IAudioRenderClient*>(MakeFake<FakeRenderClient>(self).Detach());
        return S_OK;
    }
    if (iid == __uuidof(IAudioClockAdjustment))
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        const bool opened = !record->initializeCalls.empty() &&
                            (record->initializeCalls.back().flags & AUDCLNT_STREAMFLAGS_RATEADJUST) != 0;
        if (!opened || FAILED(endpoint->behaviour.clockAdjustment))
            return opened ? endpoint->behaviour.clockAdjustment : AUDCLNT_E_WRONG_ENDPOINT_TYPE;
        *out = static_cast<IAudioClockAdjustment*>(MakeFake<FakeClockAdjustment>(self).Detach());
        return S_OK;
    }
    if (iid == __uuidof(IAudioClock))
    {
        std::lock_guard<std::mutex> lock(endpoint->mutex);
        if (!endpoint->behaviour.clock)
            return E_NOINTERFACE;
        *out = static_cast<IAudioClock*>(MakeFake<FakeClock>(self).Detach());
        return S_OK;
    }
    return E_NOINTERFACE;
}

FakeAudioEndpoint::FakeAudioEndpoint(std::string name, FakeStreamBehaviour behaviour)
    : name(std::move(name)), behaviour(std::move(behaviour))
{
}

FakeActivateHook FakeAudioEndpoint::ActivateHook()
{
    std::weak_ptr<FakeAudioEndpoint> weak = weak_from_this();
    return [weak](REFIID iid, DWORD, PROPVARIANT*, void** out) -> HRESULT {
        *out = nullptr;
        const std::shared_ptr<FakeAudioEndpoint> self = weak.lock();
        if (!self || iid != __uuidof(IAudioClient))
            return E_NOINTERFACE;
        auto record = std::make_shared<FakeStreamRecord>();
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            ++self->activateCalls;
            if (FAILED(self->behaviour.activate))
                return self->behaviour.activate;
            self->records.push_back(record);
        }
        *out = static_cast<IAudioClient*>(MakeFake<FakeAudioClient>(self, record).Detach());
        return S_OK;
    };
}

int FakeAudioEndpoint::ActivateCalls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return activateCalls;
}

std::vector<FakeStreamRecord> FakeAudioEndpoint::Streams() const
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<FakeStreamRecord> copies;
    for (const std::shared_ptr<FakeStreamRecord>& record : records)
        copies.push_back(*record);
    return copies;
}

size_t FakeAudioEndpoint::TotalWrites() const
{
    std::lock_guard<std::mutex> lock(mutex);
    size_t total = 0;
    for (const std::shared_ptr<FakeStreamRecord>& record : records)
        total += record->writes.size();
    return total;
}

HRESULT FakeMMEndpoint::GetDataFlow(EDataFlow* out)
{
    *out = eRender;
    if (FAILED(result))
        return result;
    *out = flow;
    return S_OK;
}

FakeEndpoint StreamingFakeEndpoint(FakeEndpoint endpoint, const std::shared_ptr<FakeAudioEndpoint>& streams,
                                   std::optional<EDataFlow> flow)
{
    endpoint.activate = streams->ActivateHook();
    endpoint.queryInterface = [flow](REFIID iid, void** out) -> HRESULT {
        *out = nullptr;
        if (!flow || iid != __uuidof(IMMEndpoint))
            return E_NOINTERFACE;
        *out = static_cast<IMMEndpoint*>(MakeFake<FakeMMEndpoint>(*flow).Detach());
        return S_OK;
    };
    return endpoint;
}
