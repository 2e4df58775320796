#include "fake_endpoints.h"

#include <functiondiscoverykeys_devpkey.h>

#include <cwchar>
#include <iterator>
#include <thread>

namespace
{
std::atomic<int> liveObjects{0};

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// A copy in task memory, as the system hands out strings.
wchar_t* CoTaskMemCopy(const std::wstring& text)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (copy != nullptr)
        std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

HRESULT SetString(const std::optional<std::wstring>& text, PROPVARIANT* value)
{
    if (!text)
        return S_OK;
    value->pwszVal = CoTaskMemCopy(*text);
    if (value->pwszVal == nullptr)
        return E_OUTOFMEMORY;
    value->vt = VT_LPWSTR;
    return S_OK;
}

template <typename Fake, typename Interface>
HRESULT HandOut(Microsoft::WRL::ComPtr<Fake> fake, Interface** out)
{
    *out = fake.Detach();
    return S_OK;
}

class FakePropertyStore final : public FakeComObject<IPropertyStore>
{
public:
    explicit FakePropertyStore(const FakeEndpoint& endpoint) : endpoint(endpoint) {}

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_INVALIDARG; }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }

    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        PropVariantInit(value);
        if (endpoint.failGetValue)
            return E_FAIL;
        if (IsEqualPropertyKey(key, PKEY_Device_FriendlyName))
            return SetString(endpoint.friendlyName, value);
        if (IsEqualPropertyKey(key, PKEY_AudioEndpoint_GUID))
            return SetString(endpoint.guid, value);
        if (IsEqualPropertyKey(key, PKEY_AudioEndpoint_FormFactor) && endpoint.formFactor)
        {
            value->vt = endpoint.formFactorType;
            value->ulVal = *endpoint.formFactor;
        }
        return S_OK;
    }

private:
    const FakeEndpoint endpoint;
};

class FakeMMDeviceCollection final : public FakeComObject<IMMDeviceCollection>
{
public:
    FakeMMDeviceCollection(std::vector<FakeEndpoint> endpoints, std::set<UINT> failingItems)
        : endpoints(std::move(endpoints)), failingItems(std::move(failingItems))
    {
    }

    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override
    {
        *count = static_cast<UINT>(endpoints.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override
    {
        *device = nullptr;
        if (index >= endpoints.size())
            return E_INVALIDARG;
        if (failingItems.count(index) != 0)
            return E_FAIL;
        return HandOut(MakeFake<FakeMMDevice>(endpoints[index]), device);
    }

private:
    const std::vector<FakeEndpoint> endpoints;
    const std::set<UINT> failingItems;
};
}  // namespace

int LiveFakeComObjects()
{
    return liveObjects.load();
}

void fake_com_detail::CountLiveObject(int delta)
{
    liveObjects += delta;
}

FakeEndpoint NamedFakeEndpoint(const std::wstring& id, const std::wstring& friendlyName, uint32_t formFactor)
{
    FakeEndpoint endpoint;
    endpoint.id = id;
    endpoint.friendlyName = friendlyName;
    endpoint.guid = L"{guid-" + id + L"}";
    endpoint.formFactor = formFactor;
    return endpoint;
}

FakeEndpoint SystemFakeEndpoint(EDataFlow flow, uint32_t serial, const std::wstring& friendlyName, uint32_t formFactor)
{
    wchar_t guid[40];
    std::swprintf(guid, std::size(guid), L"{%08X-5A1C-4E2B-9D3F-%012X}", 0x7B2E0000u + serial, serial * 0x1F3Du);
    FakeEndpoint endpoint;
    endpoint.id = std::wstring(flow == eCapture ? L"{0.0.1.00000000}." : L"{0.0.0.00000000}.") + guid;
    endpoint.friendlyName = friendlyName;
    endpoint.guid = guid;
    endpoint.formFactor = formFactor;
    return endpoint;
}

FakeMMDevice::FakeMMDevice(FakeEndpoint endpoint) : endpoint(std::move(endpoint)) {}

HRESULT FakeMMDevice::QueryInterface(REFIID iid, void** out)
{
    const HRESULT own = FakeComObject<IMMDevice>::QueryInterface(iid, out);
    if (own != E_NOINTERFACE || !endpoint.queryInterface)
        return own;
    return endpoint.queryInterface(iid, out);
}

HRESULT FakeMMDevice::Activate(REFIID iid, DWORD clsCtx, PROPVARIANT* params, void** out)
{
    if (endpoint.activate)
        return endpoint.activate(iid, clsCtx, params, out);
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT FakeMMDevice::OpenPropertyStore(DWORD, IPropertyStore** store)
{
    *store = nullptr;
    std::this_thread::sleep_for(endpoint.openPropertyStoreDelay);
    if (endpoint.failOpenPropertyStore)
        return E_ACCESSDENIED;
    return HandOut(MakeFake<FakePropertyStore>(endpoint), store);
}

HRESULT FakeMMDevice::GetId(LPWSTR* id)
{
    *id = nullptr;
    if (endpoint.failGetId)
        return E_FAIL;
    *id = CoTaskMemCopy(endpoint.id);
    return *id != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT FakeMMDevice::GetState(DWORD* state)
{
    *state = endpoint.state;
    return S_OK;
}

FakeMMDeviceEnumerator::FakeMMDeviceEnumerator(FakeEndpointFlow render, FakeEndpointFlow capture)
    : render(std::move(render)), capture(std::move(capture))
{
}

const FakeEndpointFlow* FakeMMDeviceEnumerator::Flow(EDataFlow flow) const
{
    if (flow == eRender)
        return &render;
    if (flow == eCapture)
        return &capture;
    return nullptr;
}

HRESULT FakeMMDeviceEnumerator::EnumAudioEndpoints(EDataFlow flow, DWORD stateMask, IMMDeviceCollection** devices)
{
    *devices = nullptr;
    const FakeEndpointFlow* listed = Flow(flow);
    if (listed == nullptr)
        return E_INVALIDARG;
    if (listed->failEnumAudioEndpoints)
        return E_OUTOFMEMORY;
    std::vector<FakeEndpoint> matching;
    for (const FakeEndpoint& endpoint : listed->endpoints)
    {
        if ((endpoint.state & stateMask) != 0)
            matching.push_back(endpoint);
    }
    return HandOut(MakeFake<FakeMMDeviceCollection>(std::move(matching), listed->failingItems), devices);
}

HRESULT FakeMMDeviceEnumerator::GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device)
{
    *device = nullptr;
    const FakeEndpointFlow* listed = Flow(flow);
    if (listed == nullptr || listed->defaultEndpoint >= listed->endpoints.size())
        return kNotFound;
    return HandOut(MakeFake<FakeMMDevice>(listed->endpoints[listed->defaultEndpoint]), device);
}

HRESULT FakeMMDeviceEnumerator::GetDevice(LPCWSTR id, IMMDevice** device)
{
    *device = nullptr;
    for (const FakeEndpointFlow* flow : {&render, &capture})
    {
        for (const FakeEndpoint& endpoint : flow->endpoints)
        {
            if (endpoint.id == id)
                return HandOut(MakeFake<FakeMMDevice>(endpoint), device);
        }
    }
    return kNotFound;
}

HRESULT FakeMMDeviceEnumerator::RegisterEndpointNotificationCallback(IMMNotificationClient* client)
{
    if (client == nullptr)
        return E_POINTER;
    ++registeredCallbacks;
    return S_OK;
}

HRESULT FakeMMDeviceEnumerator::UnregisterEndpointNotificationCallback(IMMNotificationClient* client)
{
    if (client == nullptr)
        return E_POINTER;
    --registeredCallbacks;
    return S_OK;
}
