#include "app/display_scale.h"

#include "app/window_size.h"

namespace
{
// shcore stays loaded once looked up: the address is kept for the process.
template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name)
{
    HMODULE loaded = GetModuleHandleW(module);
    if (loaded == nullptr)
    {
        loaded = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    FARPROC address = loaded != nullptr ? GetProcAddress(loaded, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

class ScreenContext
{
public:
    ScreenContext() : dc(GetDC(nullptr)) {}
    ~ScreenContext()
    {
        if (dc != nullptr)
        {
            ReleaseDC(nullptr, dc);
        }
    }
    ScreenContext(const ScreenContext&) = delete;
    ScreenContext& operator=(const ScreenContext&) = delete;

    int Dpi() const { return dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSX) : 0; }

private:
    HDC dc;
};

UINT SystemDpi()
{
    const int dpi = ScreenContext().Dpi();
    return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}
}  // namespace

UINT WindowDpi(HWND hwnd)
{
    static const auto forWindow = SystemFunction<UINT(WINAPI*)(HWND)>(L"user32.dll", "GetDpiForWindow");
    const UINT dpi = forWindow != nullptr ? forWindow(hwnd) : 0;
    return dpi != 0 ? dpi : MonitorDpi(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST));
}

UINT MonitorDpi(HMONITOR monitor)
{
    // The second argument 0 is MDT_EFFECTIVE_DPI, the scale the user chose.
    using ForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto forMonitor = SystemFunction<ForMonitor>(L"shcore.dll", "GetDpiForMonitor");
    UINT x = 0;
    UINT y = 0;
    if (forMonitor != nullptr && monitor != nullptr && SUCCEEDED(forMonitor(monitor, 0, &x, &y)) && x != 0)
    {
        return x;
    }
    return SystemDpi();
}

int IconSide(int metric, UINT dpi)
{
    static const auto forDpi = SystemFunction<int(WINAPI*)(int, UINT)>(L"user32.dll", "GetSystemMetricsForDpi");
    const int side = forDpi != nullptr ? forDpi(metric, dpi) : 0;
    return side > 0 ? side : GetSystemMetrics(metric);
}
