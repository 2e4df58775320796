#include "audio/inventory/device_notification_client.h"

DeviceNotificationClient::DeviceNotificationClient(HWND window) : targetWindow(window) {}

HRESULT DeviceNotificationClient::QueryInterface(REFIID riid, void** out)
{
    if (out == nullptr)
    {
        return E_POINTER;
    }
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IMMNotificationClient))
    {
        *out = static_cast<IMMNotificationClient*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG DeviceNotificationClient::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&refCount));
}

ULONG DeviceNotificationClient::Release()
{
    const LONG count = InterlockedDecrement(&refCount);
    if (count == 0)
    {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT DeviceNotificationClient::PostChange()
{
    PostMessageW(targetWindow, WM_APP_DEVICE_LIST_CHANGED, 0, 0);
    return S_OK;
}

HRESULT DeviceNotificationClient::OnDeviceStateChanged(LPCWSTR, DWORD) { return PostChange(); }
HRESULT DeviceNotificationClient::OnDeviceAdded(LPCWSTR) { return PostChange(); }
HRESULT DeviceNotificationClient::OnDeviceRemoved(LPCWSTR) { return PostChange(); }
HRESULT DeviceNotificationClient::OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) { return PostChange(); }
HRESULT DeviceNotificationClient::OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) { return S_OK; }
