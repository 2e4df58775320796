#include "window_test_support.h"

#include <objbase.h>

#include <algorithm>

#include "app/main_window.h"
#include "test_log.h"

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                       const MessageWatcher& watch)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            if (watch)
            {
                watch(msg);
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done && done())
        {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), 10)),
                                  QS_ALLINPUT);
    }
}

void PumpMessagesFor(std::chrono::milliseconds span, const MessageWatcher& watch)
{
    PumpMessagesUntil({}, span, watch);
}

bool TakeQuitMessage()
{
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

void DrainMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        DispatchMessageW(&msg);
    }
}

BOOL WINAPI TrayShellStandIn::Notify(DWORD message, PNOTIFYICONDATAW data)
{
    calls.push_back(message);
    tips.push_back(data->szTip);
    return accept ? TRUE : FALSE;
}

void MainWindowTest::SetUp()
{
    comResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterMainWindowClass(instance);
    state.rememberWindowSize = false;
    hwnd = CreateMainWindow(state, instance);
    ASSERT_NE(hwnd, nullptr);
    TrayShellStandIn::accept = true;
    TrayShellStandIn::calls.clear();
    TrayShellStandIn::tips.clear();
    SetTrayNotifyFunction(&TrayShellStandIn::Notify);
    AddTrayIcon(state);
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    logPath = OpenFreshTestLog(L"window-" + std::wstring(name.begin(), name.end()));
}

void MainWindowTest::TearDown()
{
    SetTrayNotifyFunction(nullptr);
    if (IsWindow(hwnd))
    {
        DestroyWindow(hwnd);
    }
    DrainMessages();
    if (SUCCEEDED(comResult))
    {
        CoUninitialize();
    }
}

std::vector<std::string> MainWindowTest::Logged() const
{
    return LoggedMessages(logPath);
}
