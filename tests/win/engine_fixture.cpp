#include "engine_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "audio/engine/redirection_control.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "audio/inventory/name_match.h"
#include "audio/inventory/selection.h"
#include "log/text_convert.h"
#include "test_log.h"

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
    List();
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
    ReleaseDeviceLists(state);
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

FakeEndpointFlow& EngineTest::Flow(EDataFlow flow)
{
    return flow == eCapture ? enumerator->capture : enumerator->render;
}

std::shared_ptr<FakeAudioEndpoint> EngineTest::Plug(const std::string& name, EDataFlow flow,
                                                    FakeStreamBehaviour behaviour, std::optional<EDataFlow> reported)
{
    auto streams = std::make_shared<FakeAudioEndpoint>(name, std::move(behaviour));
    endpoints.push_back(streams);
    FakeEndpoint listed = SystemFakeEndpoint(flow, ++pluggedDevices, Utf8ToWide(name));
    devices.insert_or_assign(name, std::make_pair(flow, StreamingFakeEndpoint(std::move(listed), streams, reported)));
    PlugBack(name);
    return streams;
}

void EngineTest::Unplug(const std::string& name)
{
    const std::wstring id = Utf8ToWide(IdOf(name));
    std::erase_if(Flow(devices.at(name).first).endpoints, [&](const FakeEndpoint& e) { return e.id == id; });
}

void EngineTest::PlugBack(const std::string& name)
{
    const auto& [flow, endpoint] = devices.at(name);
    Flow(flow).endpoints.push_back(endpoint);
}

FakeEndpoint& EngineTest::Device(const std::string& name)
{
    const std::wstring id = Utf8ToWide(IdOf(name));
    std::vector<FakeEndpoint>& listed = Flow(devices.at(name).first).endpoints;
    const auto found = std::find_if(listed.begin(), listed.end(), [&](const FakeEndpoint& e) { return e.id == id; });
    if (found == listed.end())
        throw std::logic_error(name + " is not plugged in");
    return *found;
}

std::string EngineTest::IdOf(const std::string& name) const
{
    return WideToUtf8(devices.at(name).second.id);
}

void EngineTest::List()
{
    RefreshDevicesAndSelections(state, enumerator.Get());
}

const AudioEndpointInfo& EngineTest::SourceEntry(const std::string& name) const
{
    const std::string id = IdOf(name);
    for (const AudioEndpointInfo& entry : state.sourceDevices)
    {
        if (entry.identity.eid == id)
            return entry;
    }
    throw std::logic_error(name + " is not in the source list");
}

size_t EngineTest::TargetIndex(const std::string& name) const
{
    const std::string id = IdOf(name);
    for (size_t i = 0; i < state.playbackDevices.size(); ++i)
    {
        if (state.playbackDevices[i].identity.eid == id)
            return i;
    }
    throw std::logic_error(name + " is not among the target candidates");
}

std::shared_ptr<FakeAudioEndpoint> EngineTest::AddSource(const std::string& name, FakeStreamBehaviour behaviour,
                                                         std::optional<EDataFlow> flow)
{
    auto streams = Plug(name, flow.value_or(eRender), std::move(behaviour), flow);
    List();
    state.desiredSource = SourceEntry(name).identity;
    ResolveSavedSelections(state);
    return streams;
}

std::shared_ptr<FakeAudioEndpoint> EngineTest::UseDefaultSource(const std::string& name, FakeStreamBehaviour behaviour)
{
    auto streams = Plug(name, eRender, std::move(behaviour));
    enumerator->render.defaultEndpoint = enumerator->render.endpoints.size() - 1;
    List();
    state.desiredSource = state.sourceDevices.at(0).identity;
    ResolveSavedSelections(state);
    return streams;
}

std::shared_ptr<FakeAudioEndpoint> EngineTest::AddTarget(const std::string& name, FakeStreamBehaviour behaviour,
                                                         bool selected)
{
    auto streams = Plug(name, eRender, std::move(behaviour));
    List();
    SelectTarget(name, selected);
    return streams;
}

void EngineTest::SelectTarget(const std::string& name, bool selected)
{
    const size_t index = TargetIndex(name);
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.targetSelected.at(index) = selected;
    const EndpointIdentity& identity = state.playbackDevices[index].identity;
    std::erase_if(state.desiredTargets, [&](const EndpointIdentity& saved) { return StandsFor(saved, identity); });
    if (selected)
        state.desiredTargets.push_back(identity);
}

void EngineTest::UnplugAll()
{
    enumerator->render = FakeEndpointFlow{};
    enumerator->capture = FakeEndpointFlow{};
    state.desiredSource = EndpointIdentity{};
    state.desiredTargets.clear();
    List();
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
