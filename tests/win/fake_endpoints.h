#pragma once
// Stand-ins for the system's endpoint objects (enumerator, collection,
// device, property store) for tests of code that lists or opens endpoints.
// Every fake counts itself in LiveFakeComObjects() from construction until
// its last reference is released, so a test can assert that the code under
// test released everything it was handed. Each call of Item, GetDevice or
// GetDefaultAudioEndpoint hands out a new device object, as a leak of any one
// of them must show up in the count.
#include <windows.h>
#include <mmdeviceapi.h>
#include <propsys.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Fake COM objects of any kind alive right now, process-wide. Any thread.
int LiveFakeComObjects();

namespace fake_com_detail
{
void CountLiveObject(int delta);
}

// Reference counting and QueryInterface (IUnknown and Interface) for a fake
// of one interface. An object starts with one reference; adopt it with
// MakeFake. The count is atomic, so fakes may be used from a worker thread.
template <typename Interface>
class FakeComObject : public Interface
{
public:
    FakeComObject(const FakeComObject&) = delete;
    FakeComObject& operator=(const FakeComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(Interface))
        {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    FakeComObject() { fake_com_detail::CountLiveObject(+1); }
    virtual ~FakeComObject() { fake_com_detail::CountLiveObject(-1); }

private:
    std::atomic<ULONG> references{1};
};

// Creates a fake and takes over its first reference. (mingw-w64's
// ComPtr::Attach adds a reference, unlike the SDK's, so it is not used.)
template <typename Fake, typename... Args>
Microsoft::WRL::ComPtr<Fake> MakeFake(Args&&... args)
{
    Fake* created = new Fake(std::forward<Args>(args)...);
    Microsoft::WRL::ComPtr<Fake> fake(created);
    created->Release();
    return fake;
}

// IMMDevice::Activate of a fake device; lets a test hand out its own fake
// audio clients. Called on whatever thread calls Activate.
using FakeActivateHook = std::function<HRESULT(REFIID iid, DWORD clsCtx, PROPVARIANT* params, void** out)>;

// QueryInterface of a fake device for interfaces other than IUnknown and
// IMMDevice (IMMEndpoint, for instance). Called on the caller's thread.
using FakeQueryHook = std::function<HRESULT(REFIID iid, void** out)>;

// One endpoint as the fakes report it. An absent optional is an absent
// property (VT_EMPTY, as real stores report it).
struct FakeEndpoint
{
    std::wstring id;
    std::optional<std::wstring> friendlyName;
    std::optional<std::wstring> guid;
    std::optional<uint32_t> formFactor;
    VARTYPE formFactorType = VT_UI4;
    DWORD state = DEVICE_STATE_ACTIVE;
    bool failGetId = false;
    bool failOpenPropertyStore = false;
    // How long OpenPropertyStore takes, as it may for a Bluetooth or HDMI
    // endpoint on a real machine.
    std::chrono::milliseconds openPropertyStoreDelay{0};
    bool failGetValue = false;
    FakeActivateHook activate;  // empty: Activate fails with E_NOINTERFACE
    FakeQueryHook queryInterface;  // empty: other interfaces fail with E_NOINTERFACE
};

// An active endpoint with an id, a name, a GUID derived from the id and a
// form factor.
FakeEndpoint NamedFakeEndpoint(const std::wstring& id, const std::wstring& friendlyName, uint32_t formFactor = 1);

// An active endpoint as Windows lists it: the id "{0.0.0.00000000}.{GUID}"
// for playback or "{0.0.1.00000000}.{GUID}" for recording, the same GUID as
// its PKEY_AudioEndpoint_GUID, a different one for each `serial`, and a
// friendly name that has nothing to do with the id.
FakeEndpoint SystemFakeEndpoint(EDataFlow flow, uint32_t serial, const std::wstring& friendlyName,
                                uint32_t formFactor = 1);

// The endpoints of one data flow and the failures its enumeration shows.
struct FakeEndpointFlow
{
    std::vector<FakeEndpoint> endpoints;  // in collection order
    bool failEnumAudioEndpoints = false;
    std::set<UINT> failingItems;  // collection indices whose Item fails
    size_t defaultEndpoint = 0;   // index into endpoints for GetDefaultAudioEndpoint
};

class FakeMMDevice final : public FakeComObject<IMMDevice>
{
public:
    explicit FakeMMDevice(FakeEndpoint endpoint);

    const FakeEndpoint& Endpoint() const { return endpoint; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD clsCtx, PROPVARIANT* params, void** out) override;
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) override;
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override;

private:
    const FakeEndpoint endpoint;
};

// The flows are plain members: change them between calls to simulate
// arrivals, removals and failures. Not meant to be changed while another
// thread calls the enumerator.
class FakeMMDeviceEnumerator final : public FakeComObject<IMMDeviceEnumerator>
{
public:
    FakeMMDeviceEnumerator() = default;
    FakeMMDeviceEnumerator(FakeEndpointFlow render, FakeEndpointFlow capture);

    FakeEndpointFlow render;
    FakeEndpointFlow capture;
    std::atomic<int> registeredCallbacks{0};

    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask,
                                                 IMMDeviceCollection** devices) override;
    // The flow's endpoint at defaultEndpoint; HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
    // when there is none.
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) override;
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override;
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override;
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override;

private:
    const FakeEndpointFlow* Flow(EDataFlow flow) const;
};
