// The property keys are only declared by the system headers; INITGUID makes
// this file define them (as selectany constants) instead of needing a library.
#include <initguid.h>

#include "audio/inventory/endpoint_enumeration.h"

#include <functiondiscoverykeys_devpkey.h>

#include <mutex>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "common/com_memory.h"
#include "audio/inventory/monitor_filter.h"
#include "audio/inventory/selection.h"
#include "audio/inventory/tuning_match.h"
#include "log/diagnostic_log.h"
#include "log/text_convert.h"

namespace
{
// Endpoint ids and GUID strings are plain ASCII; each UTF-16 unit is kept as
// its low byte so that they can be stored and compared as narrow strings.
std::string NarrowLowBytes(const wchar_t* text)
{
    std::string result;
    for (; *text != L'\0'; ++text)
        result.push_back(static_cast<char>(*text & 0xFF));
    return result;
}

// The string of one property; empty when it is absent or not a string.
std::wstring ReadStringProperty(IPropertyStore* store, const PROPERTYKEY& key)
{
    PropVariantValue value;
    if (FAILED(store->GetValue(key, value.Put())) || value.Get().vt != VT_LPWSTR || value.Get().pwszVal == nullptr)
        return {};
    return value.Get().pwszVal;
}

uint32_t ReadFormFactor(IPropertyStore* store)
{
    PropVariantValue value;
    if (FAILED(store->GetValue(PKEY_AudioEndpoint_FormFactor, value.Put())))
        return 0;
    if (value.Get().vt == VT_UI4)
        return value.Get().ulVal;
    if (value.Get().vt == VT_I4)
        return static_cast<uint32_t>(value.Get().lVal);
    return 0;
}

// The friendly name as shown in the lists; empty when the store or the
// property is unavailable.
std::wstring ReadFriendlyName(IMMDevice* device)
{
    ComPtr<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.GetAddressOf())))
        return {};
    return ReadStringProperty(store.Get(), PKEY_Device_FriendlyName);
}

// The active endpoints of one flow, in collection order. An endpoint the
// collection cannot hand out is left out; a failed enumeration gives none.
std::vector<ComPtr<IMMDevice>> ActiveEndpoints(IMMDeviceEnumerator* enumerator, EDataFlow flow)
{
    std::vector<ComPtr<IMMDevice>> devices;
    if (enumerator == nullptr)
        return devices;
    ComPtr<IMMDeviceCollection> collection;
    UINT count = 0;
    if (FAILED(enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, collection.GetAddressOf())) ||
        FAILED(collection->GetCount(&count)))
        return devices;
    devices.reserve(count);
    for (UINT i = 0; i < count; ++i)
    {
        ComPtr<IMMDevice> device;
        if (SUCCEEDED(collection->Item(i, device.GetAddressOf())) && device)
            devices.push_back(std::move(device));
    }
    return devices;
}

// The entry takes over the caller's reference to the device.
AudioEndpointInfo MakeEntry(ComPtr<IMMDevice> device, int32_t dataFlow, std::string displayName)
{
    AudioEndpointInfo entry;
    entry.identity = ReadEndpointIdentity(device.Get());
    entry.identity.dataFlow = dataFlow;
    entry.displayName = std::move(displayName);
    entry.device = std::move(device);
    return entry;
}

std::vector<AudioEndpointInfo> ListPlaybackEndpoints(IMMDeviceEnumerator* enumerator)
{
    std::vector<ComPtr<IMMDevice>> devices = ActiveEndpoints(enumerator, eRender);
    std::vector<AudioEndpointInfo> entries;
    entries.reserve(devices.size());
    for (ComPtr<IMMDevice>& device : devices)
    {
        const std::wstring friendlyName = ReadFriendlyName(device.Get());
        std::string displayName = WideToUtf8(friendlyName);
        if (IsMonitorAudioDevice(friendlyName))
        {
            DiagnosticLog::Instance().Log("Skipping monitor audio device: %s", displayName.c_str());
            continue;
        }
        entries.push_back(MakeEntry(std::move(device), 0, std::move(displayName)));
    }
    return entries;
}

// Appends one "[Recording] " entry per active capture endpoint (none is
// filtered) and returns how many were appended.
unsigned AppendRecordingEndpoints(IMMDeviceEnumerator* enumerator, std::vector<AudioEndpointInfo>& sources)
{
    std::vector<ComPtr<IMMDevice>> devices = ActiveEndpoints(enumerator, eCapture);
    for (ComPtr<IMMDevice>& device : devices)
    {
        std::string displayName = "[Recording] " + WideToUtf8(ReadFriendlyName(device.Get()));
        sources.push_back(MakeEntry(std::move(device), 1, std::move(displayName)));
    }
    return static_cast<unsigned>(devices.size());
}

std::string DefaultPlaybackId(IMMDeviceEnumerator* enumerator)
{
    ComPtr<IMMDevice> device;
    if (enumerator == nullptr || FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.GetAddressOf())) ||
        !device)
        return {};
    return ReadEndpointId(device.Get());
}

AudioEndpointInfo SystemDefaultEntry()
{
    AudioEndpointInfo entry;
    entry.displayName = "[System Default Playback Device]";
    entry.identity.name = L"System Default Device";
    entry.identity.isDefault = true;
    return entry;
}

// A copy of a playback entry for the source list, holding its own reference
// to the same device.
AudioEndpointInfo PlaybackSourceEntry(const AudioEndpointInfo& playback)
{
    AudioEndpointInfo entry = playback;
    entry.displayName = "[Playback] " + playback.displayName;
    return entry;
}
}  // namespace

std::string ReadEndpointId(IMMDevice* device)
{
    CoTaskMemPtr<wchar_t> id;
    if (FAILED(device->GetId(id.Put())) || id.Get() == nullptr)
        return {};
    return NarrowLowBytes(id.Get());
}

EndpointIdentity ReadEndpointIdentity(IMMDevice* device)
{
    EndpointIdentity identity;
    identity.eid = ReadEndpointId(device);

    ComPtr<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.GetAddressOf())))
        return identity;
    identity.name = ReadStringProperty(store.Get(), PKEY_Device_FriendlyName);
    identity.eguid = NarrowLowBytes(ReadStringProperty(store.Get(), PKEY_AudioEndpoint_GUID).c_str());
    identity.ff = ReadFormFactor(store.Get());
    return identity;
}

ComPtr<IMMDeviceEnumerator> CreateDeviceEnumerator()
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(enumerator.GetAddressOf()));
    return enumerator;
}

void RefreshDevices(AppState& state)
{
    RefreshDevices(state, CreateDeviceEnumerator().Get());
}

DeviceLists ListDevices(IMMDeviceEnumerator* enumerator)
{
    DiagnosticLog& log = DiagnosticLog::Instance();
    DeviceLists lists;
    lists.playback = ListPlaybackEndpoints(enumerator);
    const auto playbackCount = static_cast<unsigned>(lists.playback.size());
    log.Log("RefreshDevices: found %u active render endpoints.", playbackCount);

    lists.sources.reserve(1 + playbackCount);
    lists.sources.push_back(SystemDefaultEntry());
    for (const AudioEndpointInfo& playback : lists.playback)
        lists.sources.push_back(PlaybackSourceEntry(playback));
    const unsigned recordingCount = AppendRecordingEndpoints(enumerator, lists.sources);
    lists.defaultPlaybackId = DefaultPlaybackId(enumerator);
    log.Log("RefreshDevices: source list has %u devices (1 default + %u playback + %u recording).",
            static_cast<unsigned>(lists.sources.size()), playbackCount, recordingCount);
    return lists;
}

void InstallDeviceLists(AppState& state, IMMDeviceEnumerator* enumerator, DeviceLists& lists,
                        ResolvedSelection& selection)
{
    // Only the main thread uses the enumerator; releasing the old one may
    // be the last reference, so it is not done under the lock.
    state.deviceEnumerator = enumerator;
    std::vector<EndpointIdentity> playback;
    for (const AudioEndpointInfo& entry : lists.playback)
    {
        playback.push_back(entry.identity);
    }
    const std::vector<TargetTuning> tunings = ResolveTuning(state.desiredTuning, playback);
    std::lock_guard<std::mutex> lock(state.selectionMutex);
    state.playbackDevices.swap(lists.playback);
    state.sourceDevices.swap(lists.sources);
    state.defaultPlaybackId.swap(lists.defaultPlaybackId);
    state.targetSelected.swap(selection.targetSelected);
    std::swap(state.selectedSourceIndex, selection.selectedSourceIndex);
    LinkTargets(state, tunings);
}

void RefreshDevices(AppState& state, IMMDeviceEnumerator* enumerator)
{
    DeviceLists lists = ListDevices(enumerator);
    ResolvedSelection cleared{state.selectedSourceIndex, std::vector<bool>(lists.playback.size(), false)};
    InstallDeviceLists(state, enumerator, lists, cleared);
}

void ReleaseDeviceLists(AppState& state)
{
    // Each entry owns its device reference, so emptying a list releases them.
    state.playbackDevices.clear();
    state.targetSelected.clear();
    state.sourceDevices.clear();
    state.defaultPlaybackId.clear();
}
