// Test-side remote control for a running Tonefork: finds its window by class
// and reports its state or posts messages to it, as a user's actions would.
//   tfctl info [timeout-ms]          window state as key=value pairs, in
//                                    the screen's pixels at any display scale
//   tfctl post <msg> <wparam> <lparam> [count [gap-ms]]
//                                    the message, count times (1), gap-ms apart (0)
//   tfctl close                      WM_CLOSE
//   tfctl command <id>               WM_COMMAND with that id
//   tfctl wait-gone [timeout-ms]     succeeds once no window is left
//   tfctl dialog <title> [timeout-ms] prints a message box's text, presses OK
//   tfctl windows                    every visible top-level window: process, class, title
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace
{
HWND FindToneforkWindow(DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;)
    {
        if (HWND hwnd = FindWindowW(L"Tonefork", nullptr))
        {
            return hwnd;
        }
        if (GetTickCount64() >= deadline)
        {
            return nullptr;
        }
        Sleep(50);
    }
}

unsigned long Number(const wchar_t* text)
{
    return std::wcstoul(text, nullptr, 0);
}

int PrintInfo(HWND hwnd)
{
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    RECT client{};
    GetClientRect(hwnd, &client);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
    std::printf("found=1 visible=%d iconic=%d foreground=%d x=%ld y=%ld width=%ld height=%ld client_width=%ld "
                "client_height=%ld style=0x%08lX work_left=%ld work_top=%ld work_width=%ld work_height=%ld\n",
                IsWindowVisible(hwnd) ? 1 : 0, IsIconic(hwnd) ? 1 : 0, GetForegroundWindow() == hwnd ? 1 : 0,
                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, client.right, client.bottom,
                static_cast<unsigned long>(GetWindowLongPtrW(hwnd, GWL_STYLE)), monitor.rcWork.left,
                monitor.rcWork.top, monitor.rcWork.right - monitor.rcWork.left,
                monitor.rcWork.bottom - monitor.rcWork.top);
    return 0;
}

// A message box: class #32770, the text in its static control 0xFFFF.
int AnswerDialog(const wchar_t* title, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    HWND dialog = nullptr;
    while ((dialog = FindWindowW(L"#32770", title)) == nullptr)
    {
        if (GetTickCount64() >= deadline)
        {
            std::printf("dialog=0\n");
            return 1;
        }
        Sleep(50);
    }
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, 0xFFFF, text, 512);
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::printf("dialog=1 text=%s\n", utf8);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return 0;
}

int WaitGone(DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (FindWindowW(L"Tonefork", nullptr) != nullptr)
    {
        if (GetTickCount64() >= deadline)
        {
            return 1;
        }
        Sleep(50);
    }
    return 0;
}

// What is on the screen when a program did not come up as expected (a
// message box in its place, say).
BOOL CALLBACK PrintWindow(HWND hwnd, LPARAM)
{
    if (!IsWindowVisible(hwnd))
    {
        return TRUE;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    wchar_t className[128] = {};
    wchar_t title[256] = {};
    GetClassNameW(hwnd, className, 128);
    GetWindowTextW(hwnd, title, 256);
    std::printf("pid=%lu class=%ls title=%ls\n", static_cast<unsigned long>(process), className, title);
    return TRUE;
}

int Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PostMessageW(hwnd, message, wParam, lParam) ? 0 : 1;
}

// A burst from one process: separate tfctl runs under Wine lie too far apart
// to fall inside one debounce interval.
int PostRepeatedly(HWND hwnd, wchar_t** args, int count)
{
    const unsigned long times = count >= 4 ? Number(args[3]) : 1;
    const DWORD gapMs = count >= 5 ? static_cast<DWORD>(Number(args[4])) : 0;
    for (unsigned long i = 0; i < times; ++i)
    {
        if (i > 0)
        {
            Sleep(gapMs);
        }
        if (Post(hwnd, static_cast<UINT>(Number(args[0])), Number(args[1]), static_cast<LPARAM>(Number(args[2]))) != 0)
        {
            return 1;
        }
    }
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: tfctl info|post|close|command|wait-gone|dialog|windows ...\n");
        return 2;
    }
    // Unaware, it would be told the program's window in 96-DPI units.
    SetProcessDPIAware();
    const std::wstring verb = argv[1];
    const DWORD timeout = argc >= 3 ? static_cast<DWORD>(Number(argv[2])) : 10000;
    if (verb == L"wait-gone")
    {
        return WaitGone(timeout);
    }
    if (verb == L"windows")
    {
        return EnumWindows(PrintWindow, 0) ? 0 : 1;
    }
    if (verb == L"dialog" && argc >= 3)
    {
        return AnswerDialog(argv[2], argc >= 4 ? static_cast<DWORD>(Number(argv[3])) : 10000);
    }
    HWND hwnd = FindToneforkWindow(verb == L"info" ? timeout : 10000);
    if (hwnd == nullptr)
    {
        std::printf("found=0\n");
        return 1;
    }
    if (verb == L"info")
        return PrintInfo(hwnd);
    if (verb == L"close")
        return Post(hwnd, WM_CLOSE, 0, 0);
    if (verb == L"command" && argc >= 3)
        return Post(hwnd, WM_COMMAND, Number(argv[2]), 0);
    if (verb == L"post" && argc >= 5)
        return PostRepeatedly(hwnd, argv + 2, argc - 2);
    std::fprintf(stderr, "tfctl: bad arguments\n");
    return 2;
}
