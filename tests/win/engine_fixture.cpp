#include "engine_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "audio/engine/redirection_control.h"
#include "log/text_convert.h"
#include "test_log.h"

namespace
{
Microsoft::WRL::ComPtr<IMMDevice> MakeDevice(const std::string& name, const std::shared_ptr<FakeAudioEndpoint>& streams,
                                             std::optional<EDataFlow> flow)
{
    Microsoft::WRL::ComPtr<IMMDevice> device = MakeFake<FakeMMDevice>(StreamingFakeEndpoint(Utf8ToWide(name), streams, flow));
    return device;
}

// A list entry whose id and name are both `name`.
AudioEndpointInfo MakeEntry(const std::string& name, const std::shared_ptr<FakeAudioEndpoint>& streams,
                            std::optional<EDataFlow> flow)
{
    AudioEndpointInfo entry;
    entry.displayName = name;
    entry.device = MakeDevice(name, streams, flow);
    entry.identity.eid = name;
    return entry;
}
}  // namespace

FakeStreamBehaviour TargetBehaviour()
{
    FakeStreamBehaviour behaviour;
    behaviour.bufferFrames = 2640;
    // Where delivery at 20 ms (or less) leaves a queue after a packet, so
    // that the warm-up tops nothing up and every write is a packet's.
    behaviour.padding = 960;
    return behaviour;
}

FakeStreamBehaviour SourceBehaviour()
{
    FakeStreamBehaviour behaviour;
    behaviour.endlessFrames = 480;
    return behaviour;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

uint32_t PatternPacketIndex(float firstSample)
{
    for (uint32_t index = 0; index < 400; ++index)
    {
        if (PatternSample(index, 0, 0) == firstSample)
            return index;
    }
    ADD_FAILURE() << "not a pattern sample: " << firstSample;
    return 0;
}

std::vector<float> WrittenFloats(const FakeRenderWrite& write)
{
    std::vector<float> floats(write.bytes.size() / sizeof(float));
    std::memcpy(floats.data(), write.bytes.data(), floats.size() * sizeof(float));
    return floats;
}

::testing::AssertionResult InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected)
{
    auto at = lines.begin();
    for (const std::string& message : expected)
    {
        at = std::find(at, lines.end(), message);
        if (at == lines.end())
            return ::testing::AssertionFailure() << "missing or out of order: \"" << message << "\"";
        ++at;
    }
    return ::testing::AssertionSuccess();
}

void EngineTest::SetUp()
{
    logPath = OpenFreshTestLog(L"engine");
    ClearFakeStreamEvents();
    baselineObjects = LiveFakeComObjects();
    state.bufferMs = 20.0f;  // 1 ms passes, two packets each
    AudioEndpointInfo systemDefault;
    systemDefault.displayName = "[System Default Playback Device]";
    systemDefault.identity.isDefault = true;
    state.sourceDevices.push_back(std::move(systemDefault));
}

void EngineTest::TearDown()
{
    StopRedirection(state);
    EXPECT_FALSE(state.redirectThread.joinable());
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_FALSE(state.publishedSourceClient);
        EXPECT_TRUE(state.publishedRenderClients.empty());
    }
    state.sourceDevices.clear();
    state.playbackDevices.clear();
    state.targetSelected.clear();
    state.deviceEnumerator.Reset();
    EXPECT_EQ(LiveFakeComObjects(), baselineObjects) << "a fake COM object was leaked";
    for (const auto& endpoint : endpoints)
    {
        for (const FakeStreamRecord& stream : endpoint->Streams())
        {
            for (const FakeRenderWrite& write : stream.writes)
                EXPECT_FALSE(write.overrun) << endpoint->Name() << " was written past its buffer";
        }
    }
}

std::shared_ptr<FakeAudioEndpoint> EngineTest::AddSource(const std::string& name, FakeStreamBehaviour behaviour,
                                                         std::optional<EDataFlow> flow)
{
    auto streams = std::make_shared<FakeAudioEndpoint>(name, std::move(behaviour));
    endpoints.push_back(streams);
    AudioEndpointInfo entry = MakeEntry(name, streams, flow);
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.sourceDevices.push_back(std::move(entry));
    state.selectedSourceIndex = static_cast<int32_t>(state.sourceDevices.size() - 1);
    return streams;
}

std::shared_ptr<FakeAudioEndpoint> EngineTest::UseDefaultSource(const std::string& name, FakeStreamBehaviour behaviour)
{
    auto streams = std::make_shared<FakeAudioEndpoint>(name, std::move(behaviour));
    endpoints.push_back(streams);
    FakeEndpointFlow render;
    render.endpoints.push_back(StreamingFakeEndpoint(Utf8ToWide(name), streams, eRender));
    state.deviceEnumerator = MakeFake<FakeMMDeviceEnumerator>(render, FakeEndpointFlow{});
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.selectedSourceIndex = 0;
    return streams;
}

std::shared_ptr<FakeAudioEndpoint> EngineTest::AddTarget(const std::string& name, FakeStreamBehaviour behaviour,
                                                         bool selected)
{
    auto streams = std::make_shared<FakeAudioEndpoint>(name, std::move(behaviour));
    endpoints.push_back(streams);
    AudioEndpointInfo entry = MakeEntry(name, streams, eRender);
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.playbackDevices.push_back(std::move(entry));
    state.targetSelected.push_back(selected);
    return streams;
}

void EngineTest::SelectTarget(size_t index, bool selected)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.targetSelected.at(index) = selected;
}

std::vector<std::string> EngineTest::Log() const
{
    return LoggedMessages(logPath);
}

bool EngineTest::WaitForLog(const std::string& message, std::chrono::milliseconds timeout) const
{
    return WaitFor(
        [&] {
            const std::vector<std::string> lines = Log();
            return std::find(lines.begin(), lines.end(), message) != lines.end();
        },
        timeout);
}

std::vector<FakeRenderWrite> EngineTest::PacketWrites(const FakeAudioEndpoint& endpoint)
{
    std::vector<FakeRenderWrite> writes;
    for (const FakeStreamRecord& stream : endpoint.Streams())
    {
        for (const FakeRenderWrite& write : stream.writes)
        {
            if (write.whileRunning)
                writes.push_back(write);
        }
    }
    return writes;
}

bool EngineTest::WaitForPacketWrites(const FakeAudioEndpoint& endpoint, size_t count) const
{
    return WaitFor([&] { return PacketWrites(endpoint).size() >= count; });
}

void EngineTest::StartAndWaitRunning(size_t startedTargets)
{
    StartRedirection(state);
    ASSERT_TRUE(state.isRedirecting);
    ASSERT_TRUE(WaitForLog("WASAPI: source started; " + std::to_string(startedTargets) +
                           " render targets started."))
        << "the streams did not start";
}

void EngineTest::StopAndExpectIdle()
{
    StopRedirection(state);
    EXPECT_FALSE(state.isRedirecting);
    EXPECT_FALSE(state.redirectThread.joinable());
}
