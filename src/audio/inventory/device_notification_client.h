#pragma once

#include <windows.h>
#include <mmdeviceapi.h>

#include "common/app_messages.h"

// Receives the system's endpoint events and only posts
// WM_APP_DEVICE_LIST_CHANGED to the main window; all work happens later on the
// main thread. Threads: the event methods run on system notification threads,
// possibly concurrently; they touch nothing but the reference count.
class DeviceNotificationClient final : public IMMNotificationClient
{
public:
    explicit DeviceNotificationClient(HWND targetWindow);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD newState) override;
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override;
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override;
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override;
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR id, const PROPERTYKEY key) override;

private:
    ~DeviceNotificationClient() = default;
    HRESULT PostChange();

    LONG refCount = 1;
    HWND targetWindow;
};
