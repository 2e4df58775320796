#include "audio/engine/redirection_control.h"

#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "app/app_state.h"
#include "audio/engine/stream_recovery.h"
#include "audio/engine/stream_setup.h"
#include "audio/inventory/endpoint_enumeration.h"
#include "audio/inventory/selection.h"
#include "log/diagnostic_log.h"

namespace
{
// The system-default entry stands for whatever the default playback endpoint
// is at this moment; every other entry carries its own device. Caller holds
// selectionMutex.
ComPtr<IMMDevice> ResolveSourceDevice(const AppState& state, const AudioEndpointInfo& entry)
{
    ComPtr<IMMDevice> device;
    if (!entry.identity.isDefault)
    {
        device = entry.device;
        return device;
    }
    if (!state.deviceEnumerator ||
        FAILED(state.deviceEnumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.ReleaseAndGetAddressOf())))
    {
        device.Reset();
    }
    return device;
}

// Caller holds selectionMutex.
std::vector<ComPtr<IMMDevice>> CollectTargetDevices(const AppState& state)
{
    std::vector<ComPtr<IMMDevice>> devices;
    for (const AudioEndpointInfo* entry : RoutedTargetEntries(state))
    {
        if (entry->device)
        {
            devices.push_back(entry->device);
        }
    }
    return devices;
}
}  // namespace

std::string SelectedSourceName(AppState& state)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    const int32_t index = state.selectedSourceIndex;
    if (index < 0 || static_cast<size_t>(index) >= state.sourceDevices.size())
    {
        return {};
    }
    return state.sourceDevices[static_cast<size_t>(index)].displayName;
}

namespace
{
std::thread SpawnRedirectThread(RedirectThreadStart* start)
{
    return std::thread(RedirectThreadMain, start);
}
}  // namespace

void StartRedirection(AppState& state)
{
    if (state.isRedirecting)
    {
        return;
    }
    DiagnosticLog& log = DiagnosticLog::Instance();
    if (state.redirectThread.joinable())
    {
        log.Log("StartRedirection: previous thread still joinable, joining first...");
        state.redirectThread.join();
    }
    log.Log("StartRedirection requested.");

    ComPtr<IMMDevice> source;
    std::vector<ComPtr<IMMDevice>> targets;
    {
        std::lock_guard<std::mutex> lock(state.selectionMutex);
        if (!AnyTargetSelected(state))
        {
            return;
        }
        const int32_t index = state.selectedSourceIndex;
        if (index < 0 || static_cast<size_t>(index) >= state.sourceDevices.size())
        {
            return;
        }
        source = ResolveSourceDevice(state, state.sourceDevices[static_cast<size_t>(index)]);
        if (!source)
        {
            log.Log("StartRedirection: Failed to resolve source device");
            return;
        }
        targets = CollectTargetDevices(state);
    }
    if (targets.empty())
    {
        return;
    }
    LaunchRedirection(state, std::move(source), std::move(targets));
}

void LaunchRedirection(AppState& state, ComPtr<IMMDevice> sourceDevice, std::vector<ComPtr<IMMDevice>> targetDevices,
                       RedirectThreadFactory factory)
{
    state.isRedirecting = true;
    state.redirectStopRequested = false;
    state.redirectSourceId = ReadEndpointId(sourceDevice.Get());
    state.redirectSourceMissed = false;
    state.streamLost = false;
    state.streamLosses.clear();
    DiagnosticLog::Instance().Log("Starting redirection: source='%s', targets=%zu", SelectedSourceName(state).c_str(),
                                  targetDevices.size());

    auto start = std::make_unique<RedirectThreadStart>(
        RedirectThreadStart{state, std::move(sourceDevice), std::move(targetDevices)});
    try
    {
        state.redirectThread = (factory ? factory : SpawnRedirectThread)(start.get());
        // The thread owns the record from here on.
        start.release();
    }
    catch (const std::system_error& error)
    {
        start.reset();
        state.isRedirecting = false;
        DiagnosticLog::Instance().Log("StartRedirection: could not create the redirect thread (%s).", error.what());
    }
}

int RedirectThreadMain(RedirectThreadStart* rawStart)
{
    std::unique_ptr<RedirectThreadStart> start(rawStart);
    AppState& state = start->state;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DiagnosticLog::Instance().Log("Redirect thread started.");

    RunRedirection(state, start->sourceDevice.Get());

    // Every reference of the apartment goes before COM does.
    start->sourceDevice.Reset();
    start->targetDevices.clear();
    if (SUCCEEDED(com))
    {
        CoUninitialize();
    }
    state.isRedirecting = false;
    return 0;
}

void StopRedirection(AppState& state)
{
    state.stoppedByStreamLoss = false;
    if (!state.isRedirecting && !state.redirectThread.joinable())
    {
        return;
    }
    state.redirectStopRequested = true;
    {
        // Stopping the streams wakes a thread that waits in a capture or
        // render call; the engine then sees the request on its next check.
        std::lock_guard<std::mutex> lock(state.streamMutex);
        if (state.publishedSourceClient)
        {
            state.publishedSourceClient->Stop();
        }
        for (const ComPtr<IAudioClient>& client : state.publishedRenderClients)
        {
            client->Stop();
        }
    }
    if (state.redirectThread.joinable())
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (state.isRedirecting && std::chrono::steady_clock::now() < deadline)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        state.redirectThread.join();
    }
    state.isRedirecting = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

std::vector<std::string> SnapshotTargetIds(AppState& state)
{
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    std::vector<std::string> ids;
    for (const AudioEndpointInfo* entry : RoutedTargetEntries(state))
    {
        if (!entry->identity.eid.empty())
        {
            ids.push_back(entry->identity.eid);
        }
    }
    return ids;
}
