// The window procedure with a real window and real messages: hit testing,
// the device-change debounce, the tray and close paths, the tray menu and
// the size that the settings remember.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_impl_win32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "common/app_messages.h"
#include "app/main_window.h"
#include "audio/inventory/selection.h"
#include "registry_test_support.h"
#include "settings/settings_codec.h"
#include "test_log.h"
#include "ui/style.h"
#include "ui/target_lights.h"
#include "window_test_support.h"

namespace
{
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

constexpr char kMinimizedToTray[] = "Window minimized to tray.";
constexpr char kRestoredFromTray[] = "Window restored from tray.";
constexpr char kDebouncing[] = "WM_APP_DEVICE_LIST_CHANGED received, debouncing (300ms).";
constexpr char kTimerFired[] = "WM_TIMER fired for device-change debounce; applying changes.";

size_t CountOf(const Lines& lines, const std::string& text)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

bool IsDebounceTimer(const MSG& msg, HWND hwnd)
{
    return msg.hwnd == hwnd && msg.message == WM_TIMER && msg.wParam == kDeviceChangeTimerId;
}

// The window's region is the rounded rectangle of the given outer size
// (compared as areas: the system may store the same area in other bands).
bool HasRoundedRegion(HWND hwnd, int width, int height)
{
    HRGN actual = CreateRectRgn(0, 0, 0, 0);
    HRGN expected = CreateRoundRectRgn(0, 0, width, height, kCornerRadius, kCornerRadius);
    HRGN difference = CreateRectRgn(0, 0, 0, 0);
    const bool same = GetWindowRgn(hwnd, actual) != ERROR &&
                      CombineRgn(difference, actual, expected, RGN_XOR) == NULLREGION && !PtInRegion(actual, 0, 0);
    DeleteObject(actual);
    DeleteObject(expected);
    DeleteObject(difference);
    return same;
}

LRESULT Command(HWND hwnd, UINT id)
{
    return SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

// Watches the messages sent to windows of this thread and describes every
// popup menu that opens; it then presses Escape so that the menu's modal
// loop ends on its own instead of waiting for a user.
class MenuWatch
{
public:
    MenuWatch() : hook(SetWindowsHookExW(WH_CALLWNDPROC, &MenuWatch::OnMessage, nullptr, GetCurrentThreadId()))
    {
        current = this;
    }
    ~MenuWatch()
    {
        UnhookWindowsHookEx(hook);
        current = nullptr;
    }
    MenuWatch(const MenuWatch&) = delete;
    MenuWatch& operator=(const MenuWatch&) = delete;

    bool Installed() const { return hook != nullptr; }

    // One entry per menu opened: "id text" per item, "-" for a separator.
    std::vector<Lines> menus;
    int menuLoops = 0;

private:
    static Lines Describe(HMENU menu)
    {
        Lines items;
        for (int i = 0; i < GetMenuItemCount(menu); ++i)
        {
            wchar_t text[64] = {};
            MENUITEMINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
            info.dwTypeData = text;
            info.cch = ARRAYSIZE(text);
            GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
            items.push_back((info.fType & MFT_SEPARATOR) ? "-"
                                                          : std::to_string(info.wID) + " " +
                                                                std::string(text, text + lstrlenW(text)));
        }
        return items;
    }

    static LRESULT CALLBACK OnMessage(int code, WPARAM wParam, LPARAM lParam)
    {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && current != nullptr)
        {
            if (sent->message == WM_ENTERMENULOOP)
            {
                ++current->menuLoops;
            }
            else if (sent->message == WM_INITMENUPOPUP)
            {
                current->menus.push_back(Describe(reinterpret_cast<HMENU>(sent->wParam)));
                PostMessageW(sent->hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
                PostMessageW(sent->hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline MenuWatch* current = nullptr;
    HHOOK hook;
};

// The toolkit's global font scale is the layout scale the hit test reads.
class ScaledInterface
{
public:
    explicit ScaledInterface(float scale)
    {
        ImGui::CreateContext();
        ImGui::GetStyle().FontScaleMain = scale;
    }
    ~ScaledInterface() { ImGui::DestroyContext(); }
    ScaledInterface(const ScaledInterface&) = delete;
    ScaledInterface& operator=(const ScaledInterface&) = delete;
};

class MainWindowProcedure : public MainWindowTest
{
protected:
    LRESULT HitAt(int x, int y)
    {
        POINT point{x, y};
        ClientToScreen(hwnd, &point);
        return SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y));
    }

    void HideInTray()
    {
        ShowWindow(hwnd, SW_SHOWNA);
        MinimizeToTray(state, hwnd);
        ASSERT_FALSE(IsWindowVisible(hwnd));
    }
};

TEST_F(MainWindowProcedure, CreatesAFramelessRoundedWindowCentredOnTheMonitor)
{
    EXPECT_EQ(reinterpret_cast<AppState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)), &state);
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME), 0);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), WS_MINIMIZEBOX | WS_MAXIMIZEBOX);

    RECT outer{};
    RECT client{};
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    EXPECT_EQ(outer.right - outer.left, 516);
    EXPECT_EQ(outer.bottom - outer.top, 720);
    EXPECT_EQ(client.right, 516);
    EXPECT_EQ(client.bottom, 720);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT& work = monitor.rcWork;
    if (work.right - work.left >= 516)
    {
        EXPECT_LE(std::abs((outer.left - work.left) - (work.right - outer.right)), 1);
    }
    else
    {
        EXPECT_EQ(outer.left, work.left);
    }

    EXPECT_TRUE(HasRoundedRegion(hwnd, 516, 720));

    const NOTIFYICONDATAW& tray = state.trayIcon;
    EXPECT_EQ(tray.cbSize, sizeof(NOTIFYICONDATAW));
    EXPECT_EQ(tray.hWnd, hwnd);
    EXPECT_EQ(tray.uID, 1u);
    EXPECT_EQ(tray.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(tray.uCallbackMessage, WM_TRAYICON);
    EXPECT_NE(tray.hIcon, nullptr);
    EXPECT_STREQ(tray.szTip, L"Tonefork");
}

// The icons are loaded once, shared by the window and the tray, and go
// with the state that owns them.
TEST_F(MainWindowProcedure, IconsAreLoadedOnceForWindowAndTray)
{
    const auto shown = [this](WPARAM kind) {
        return reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, kind, 0));
    };
    ASSERT_NE(state.smallIcon, nullptr);
    EXPECT_EQ(shown(ICON_SMALL), state.smallIcon.get());
    EXPECT_EQ(shown(ICON_BIG), state.largeIcon.get());
    EXPECT_EQ(state.trayIcon.hIcon, state.smallIcon.get());

    ICONINFO info{};
    HICON small = nullptr;
    {
        AppState other{AppStateDefaultsOnly{}};
        HWND window = CreateMainWindow(other, GetModuleHandleW(nullptr));
        ASSERT_NE(window, nullptr);
        small = other.smallIcon.get();
        ASSERT_TRUE(GetIconInfo(small, &info));
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyWindow(window);
    }
    EXPECT_FALSE(GetIconInfo(small, &info)) << "the icon outlived its state";
}

// Hidden without a tray icon, the window could never be brought back: it is
// minimised instead, and the icon returns once the taskbar is created.
TEST_F(MainWindowProcedure, WithoutATrayIconTheWindowStaysReachable)
{
    RemoveTrayIcon(state);
    TrayShellStandIn::accept = false;
    TrayShellStandIn::calls.clear();
    AddTrayIcon(state);
    EXPECT_EQ(TrayShellStandIn::calls, (std::vector<DWORD>{NIM_ADD, NIM_MODIFY}));
    EXPECT_FALSE(state.trayIconAdded);

    state.minimizeToTray = true;
    MinimizeToTray(state, hwnd);  // as a start in the tray does
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(IsIconic(hwnd));
    EXPECT_FALSE(state.hiddenInTray);
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    EXPECT_EQ(SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0), 0);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    TrayShellStandIn::accept = true;
    EXPECT_EQ(SendMessageW(hwnd, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0), 0);
    EXPECT_TRUE(state.trayIconAdded);
    EXPECT_TRUE(MinimizeToTray(state, hwnd));
    EXPECT_FALSE(IsWindowVisible(hwnd));

    const std::string noIcon = "MinimizeToTray: there is no tray icon to restore from; minimizing the window instead.";
    EXPECT_EQ(Logged(), (Lines{"System tray icon removed.",
                               "AddTrayIcon: the shell did not take the tray icon (no notification area yet?); the "
                               "window stays on the taskbar until the taskbar is created.",
                               noIcon, noIcon,
                               "MainWindowProc: the taskbar was created; adding the tray icon again.",
                               "System tray icon added.", kMinimizedToTray}));
}

TEST_F(MainWindowProcedure, HitTestFindsButtonsCaptionEdgesAndCorners)
{
    // Client 516 x 720, scale 1: the buttons' block reaches x 71 and y 48.
    EXPECT_EQ(HitAt(30, 30), HTCLIENT);
    EXPECT_EQ(HitAt(71, 48), HTCLIENT);
    EXPECT_EQ(HitAt(72, 30), HTCAPTION);
    EXPECT_EQ(HitAt(30, 49), HTCAPTION);
    EXPECT_EQ(HitAt(200, 30), HTCAPTION);
    EXPECT_EQ(HitAt(200, 60), HTCAPTION);
    EXPECT_EQ(HitAt(200, 61), HTCLIENT);
    EXPECT_EQ(HitAt(200, 70), HTCLIENT);
    EXPECT_EQ(HitAt(2, 300), HTLEFT);
    EXPECT_EQ(HitAt(513, 300), HTRIGHT);
    EXPECT_EQ(HitAt(200, 3), HTTOP);
    EXPECT_EQ(HitAt(200, 717), HTBOTTOM);
    EXPECT_EQ(HitAt(2, 2), HTTOPLEFT);
    EXPECT_EQ(HitAt(513, 2), HTTOPRIGHT);
    EXPECT_EQ(HitAt(2, 717), HTBOTTOMLEFT);
    EXPECT_EQ(HitAt(513, 717), HTBOTTOMRIGHT);
}

TEST_F(MainWindowProcedure, HitTestFollowsTheLayoutScale)
{
    ScaledInterface scaled(2.0f);
    // Title bar 120 high; the buttons' block reaches x 134 and y 88.
    EXPECT_EQ(HitAt(200, 70), HTCAPTION);
    EXPECT_EQ(HitAt(120, 80), HTCLIENT);
    EXPECT_EQ(HitAt(140, 80), HTCAPTION);
    EXPECT_EQ(HitAt(200, 121), HTCLIENT);
}

// The scale comes from the frame the toolkit builds for the window's real
// client size, as in the program: a quarter larger window, a quarter larger
// button block and drag band.
TEST_F(MainWindowProcedure, HitTestFollowsAWindowResizedToAQuarterLarger)
{
    SetWindowPos(hwnd, nullptr, 0, 0, 645, 777, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ImGui::CreateContext();
    ImGui::GetIO().BackendFlags |= ImGuiBackendFlags_RendererHasTextures;
    ImGui_ImplWin32_Init(hwnd);
    ImGui_ImplWin32_NewFrame();
    ImGui::NewFrame();
    ApplyScaledStyle();
    ImGui::EndFrame();
    EXPECT_FLOAT_EQ(CurrentScale(), 1.25f);
    // Buttons' block to x 86.75 and y 58, drag band to y 75; each point
    // below lands elsewhere at scale 1.
    EXPECT_EQ(HitAt(80, 30), HTCLIENT);
    EXPECT_EQ(HitAt(30, 55), HTCLIENT);
    EXPECT_EQ(HitAt(88, 30), HTCAPTION);
    EXPECT_EQ(HitAt(200, 70), HTCAPTION);
    EXPECT_EQ(HitAt(200, 76), HTCLIENT);
    ImGui_ImplWin32_Shutdown();
    ImGui::DestroyContext();
}

TEST_F(MainWindowProcedure, ABurstOfDeviceChangesRunsTheReactionOnceAfterTheLastOne)
{
    // The notification callbacks post from system threads; so does this one.
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> posted;
    std::atomic<bool> postingDone{false};
    std::thread notifier([&] {
        for (int i = 0; i < 5; ++i)
        {
            if (i > 0)
            {
                std::this_thread::sleep_for(100ms);
            }
            posted.push_back(Clock::now());
            PostMessageW(hwnd, WM_APP_DEVICE_LIST_CHANGED, 0, 0);
        }
        postingDone = true;
    });
    std::vector<Clock::time_point> fired;
    const auto watch = [&](const MSG& msg) {
        if (IsDebounceTimer(msg, hwnd))
        {
            fired.push_back(Clock::now());
        }
    };
    PumpMessagesUntil([&] { return postingDone.load(); }, 5s, watch);
    notifier.join();
    PumpMessagesFor(1000ms, watch);

    ASSERT_EQ(posted.size(), 5u);
    for (size_t i = 1; i < posted.size(); ++i)
    {
        ASSERT_LT(posted[i] - posted[i - 1], 250ms) << "the burst was too slow to be one burst";
    }
    ASSERT_EQ(fired.size(), 1u);
    const auto delay = fired[0] - posted.back();
    EXPECT_GE(delay, 290ms);
    EXPECT_LT(delay, 800ms);
    EXPECT_FALSE(state.deviceChangePending);

    const Lines lines = Logged();
    EXPECT_EQ(CountOf(lines, kDebouncing), 5u);
    EXPECT_EQ(CountOf(lines, kTimerFired), 1u);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 6),
              (Lines{kDebouncing, kDebouncing, kDebouncing, kDebouncing, kDebouncing, kTimerFired}));
}

TEST_F(MainWindowProcedure, TimerWithoutAPendingChangeOnlyStopsTheTimer)
{
    SetTimer(hwnd, kDeviceChangeTimerId, 50, nullptr);
    EXPECT_EQ(SendMessageW(hwnd, WM_TIMER, kDeviceChangeTimerId, 0), 0);
    int ticks = 0;
    PumpMessagesFor(300ms, [&](const MSG& msg) { ticks += IsDebounceTimer(msg, hwnd) ? 1 : 0; });
    EXPECT_EQ(ticks, 0);

    // Another timer's tick leaves a pending change for the debounce timer.
    state.deviceChangePending = true;
    SendMessageW(hwnd, WM_TIMER, 7, 0);
    EXPECT_TRUE(state.deviceChangePending);
    state.deviceChangePending = false;

    EXPECT_EQ(Logged(), Lines{});
}

TEST_F(MainWindowProcedure, CloseHidesToTheTrayWhenAskedTo)
{
    state.minimizeOnClose = true;
    ShowWindow(hwnd, SW_SHOWNA);
    EXPECT_EQ(SendMessageW(hwnd, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_TRUE(state.hiddenInTray);
    EXPECT_FALSE(TakeQuitMessage());
    EXPECT_EQ(Logged(), Lines{kMinimizedToTray});
}

TEST_F(MainWindowProcedure, CloseOtherwiseDestroysTheWindowAndQuits)
{
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(TakeQuitMessage());
    EXPECT_FALSE(state.hiddenInTray);
    EXPECT_EQ(Logged(), Lines{});
}

TEST_F(MainWindowProcedure, MinimiseCommandGoesToTheTrayOnlyWhenAskedTo)
{
    ShowWindow(hwnd, SW_SHOWNA);
    state.minimizeToTray = true;
    EXPECT_EQ(SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0), 0);
    EXPECT_TRUE(state.hiddenInTray);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_FALSE(IsIconic(hwnd));
    EXPECT_EQ(Logged(), Lines{kMinimizedToTray});

    // Without the setting the window becomes an ordinary minimised one, and
    // the SIZE_MINIMIZED resize that follows changes nothing either.
    state.hiddenInTray = false;
    state.minimizeToTray = false;
    ShowWindow(hwnd, SW_SHOWNA);
    EXPECT_EQ(SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0), 0);
    EXPECT_TRUE(IsIconic(hwnd));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_FALSE(state.hiddenInTray);
    EXPECT_EQ(Logged(), Lines{kMinimizedToTray});
}

TEST_F(MainWindowProcedure, KeyboardNeverOpensASystemMenu)
{
    // With a system menu to open, default handling would open it.
    SetWindowLongPtrW(hwnd, GWL_STYLE, GetWindowLongPtrW(hwnd, GWL_STYLE) | WS_SYSMENU);
    ShowWindow(hwnd, SW_SHOWNA);
    MenuWatch watch;
    ASSERT_TRUE(watch.Installed());
    EXPECT_EQ(SendMessageW(hwnd, WM_SYSCOMMAND, SC_KEYMENU, VK_SPACE), 0);
    EXPECT_EQ(SendMessageW(hwnd, WM_SYSCOMMAND, SC_KEYMENU | 0x3, 0), 0);
    PumpMessagesFor(50ms);
    EXPECT_EQ(watch.menuLoops, 0);
    EXPECT_TRUE(watch.menus.empty());
}

// As Win+D minimises it: without a minimise command reaching the procedure.
TEST_F(MainWindowProcedure, AWindowMinimisedIntoTheTrayComesBackRestored)
{
    state.minimizeToTray = true;
    ShowWindow(hwnd, SW_SHOWNA);
    ShowWindow(hwnd, SW_MINIMIZE);
    EXPECT_TRUE(state.hiddenInTray);
    EXPECT_FALSE(IsWindowVisible(hwnd));

    Command(hwnd, ID_TRAY_OPEN);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_FALSE(IsIconic(hwnd));
    EXPECT_FALSE(state.hiddenInTray);
    EXPECT_EQ(Logged(), (Lines{kMinimizedToTray, "WM_SIZE: minimized -> going to tray (per setting).",
                               kRestoredFromTray, "Tray: Open App."}));
}

TEST_F(MainWindowProcedure, OpenAppBringsBackAWindowWhereverItIs)
{
    // Minimised to the taskbar, not the tray.
    ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(hwnd));
    EXPECT_EQ(Command(hwnd, ID_TRAY_OPEN), 0);
    EXPECT_FALSE(IsIconic(hwnd));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(Command(hwnd, 1004), 0);
    EXPECT_EQ(Logged(), Lines{"Tray: Open App."});

    HideInTray();
    Command(hwnd, ID_TRAY_OPEN);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_FALSE(state.hiddenInTray);
    EXPECT_EQ(Logged(), (Lines{"Tray: Open App.", kMinimizedToTray, kRestoredFromTray, "Tray: Open App."}));
}

TEST_F(MainWindowProcedure, TrayToggleStartsWhenStoppedAndStopsWhenRunning)
{
    EXPECT_EQ(Command(hwnd, ID_TRAY_TOGGLE), 0);
    // Nothing is selected, so the start ends right after its request.
    EXPECT_FALSE(state.isRedirecting);
    EXPECT_EQ(Logged(), (Lines{"StartRedirection requested.", "Tray: Starting redirection."}));

    state.isRedirecting = true;
    Command(hwnd, ID_TRAY_TOGGLE);
    EXPECT_FALSE(state.isRedirecting);
    EXPECT_TRUE(state.redirectStopRequested);
    const Lines lines = Logged();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Tray: Stopping redirection.");
    EXPECT_EQ(CountOf(lines, "StartRedirection requested."), 1u);
}

TEST_F(MainWindowProcedure, TrayExitQuitsAndKeepsTheWindow)
{
    // Only the low word of the command counts (an accelerator sets the high one).
    EXPECT_EQ(SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 1), 0), 0);
    EXPECT_TRUE(TakeQuitMessage());
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(Logged(), Lines{"Tray: Exit requested."});
}

TEST_F(MainWindowProcedure, LeftClickOnTheTrayIconRestoresAHiddenWindow)
{
    HideInTray();
    EXPECT_EQ(SendMessageW(hwnd, WM_TRAYICON, 1, WM_MOUSEMOVE), 0);
    EXPECT_TRUE(state.hiddenInTray);
    EXPECT_EQ(SendMessageW(hwnd, WM_TRAYICON, 1, WM_LBUTTONUP), 0);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_FALSE(state.hiddenInTray);

    MinimizeToTray(state, hwnd);
    SendMessageW(hwnd, WM_TRAYICON, 1, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    // A click on a window minimised to the taskbar restores it, and says
    // nothing of the tray.
    ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
    SendMessageW(hwnd, WM_TRAYICON, 1, WM_LBUTTONUP);
    EXPECT_FALSE(IsIconic(hwnd));
    EXPECT_EQ(Logged(), (Lines{kMinimizedToTray, kRestoredFromTray, kMinimizedToTray, kRestoredFromTray}));
}

TEST_F(MainWindowProcedure, RightClickOnTheTrayIconOffersTheMenuForTheCurrentState)
{
    ShowWindow(hwnd, SW_SHOWNA);
    MenuWatch watch;
    ASSERT_TRUE(watch.Installed());
    EXPECT_EQ(SendMessageW(hwnd, WM_TRAYICON, 1, WM_RBUTTONUP), 0);
    state.isRedirecting = true;
    state.minimizeOnClose = true;
    SendMessageW(hwnd, WM_TRAYICON, 1, WM_RBUTTONUP);
    state.isRedirecting = false;

    ASSERT_EQ(watch.menus.size(), 2u);
    EXPECT_EQ(watch.menus[0], (Lines{"1001 Open App", "-", "1002 Start", "-", "1003 Exit"}));
    EXPECT_EQ(watch.menus[1], (Lines{"1001 Open App", "-", "1002 Stop", "-", "1003 Exit Application"}));

    // The menu was dismissed: no command arrives, only the wake-up message.
    int wakeUps = 0;
    int commands = 0;
    PumpMessagesFor(100ms, [&](const MSG& msg) {
        wakeUps += (msg.hwnd == hwnd && msg.message == WM_NULL) ? 1 : 0;
        commands += msg.message == WM_COMMAND ? 1 : 0;
    });
    EXPECT_EQ(wakeUps, 2);
    EXPECT_EQ(commands, 0);
    EXPECT_EQ(Logged(), Lines{});
}

// Two ticked targets, one playing and one lost; the shell hears only a
// changed tip.
TEST_F(MainWindowProcedure, TrayTipCountsHealthyTargetsWhileRouting)
{
    for (const char* id : {"{0.0.0.00000000}.{a}", "{0.0.0.00000000}.{b}"})
    {
        state.playbackDevices.emplace_back().identity.eid = id;
    }
    state.targetSelected = {true, true};
    {
        std::lock_guard<std::mutex> lock(state.selectionMutex);
        LinkTargets(state, {TargetTuning{}, TargetTuning{}});
    }
    TargetLink& playing = *TargetLinkAt(state, 0);
    playing.runState = TargetRunState::Playing;
    playing.lastPacketNs = playing.lastWrittenNs = SteadyNowNs();
    TargetLinkAt(state, 1)->runState = TargetRunState::Lost;
    TrayShellStandIn::calls.clear();
    TrayShellStandIn::tips.clear();

    SendMessageW(hwnd, WM_TIMER, kHealthTimerId, 0);  // not routing: the tip stays
    state.isRedirecting = true;
    SendMessageW(hwnd, WM_TIMER, kHealthTimerId, 0);
    SendMessageW(hwnd, WM_TIMER, kHealthTimerId, 0);
    state.isRedirecting = false;
    SendMessageW(hwnd, WM_TIMER, kHealthTimerId, 0);
    EXPECT_EQ(TrayShellStandIn::calls, (std::vector<DWORD>{NIM_MODIFY, NIM_MODIFY}));
    EXPECT_EQ(TrayShellStandIn::tips, (std::vector<std::wstring>{L"Tonefork - 1 of 2 targets healthy", L"Tonefork"}));
    EXPECT_EQ(Logged(), Lines{});
}

TEST_F(MainWindowProcedure, ResizeRemembersTheOuterSizeAndSavesIt)
{
    DeleteUserTree(kSettingsKeyPath);
    // A frame makes the outer size differ from the client size.
    SetWindowLongPtrW(hwnd, GWL_STYLE, GetWindowLongPtrW(hwnd, GWL_STYLE) | WS_CAPTION | WS_THICKFRAME);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    state.rememberWindowSize = true;

    SetWindowPos(hwnd, nullptr, 0, 0, 600, 500, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(hwnd, &client);
    ASSERT_LT(client.right, 600) << "the frame should take some of the outer size";
    EXPECT_EQ(state.windowWidth, 600);
    EXPECT_EQ(state.windowHeight, 500);
    EXPECT_EQ(ReadDword(kSettingsKeyPath, L"WindowWidth"), 600u);
    EXPECT_EQ(ReadDword(kSettingsKeyPath, L"WindowHeight"), 500u);
    const Lines lines = Logged();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("SaveSettings: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("Window=600x500"), std::string::npos) << lines[0];

    EXPECT_TRUE(HasRoundedRegion(hwnd, 600, 500));
    DeleteUserTree(kSettingsKeyPath);

    state.rememberWindowSize = false;
    SetWindowPos(hwnd, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(state.windowWidth, 600);
    EXPECT_FALSE(UserKeyExists(kSettingsKeyPath));
    EXPECT_EQ(Logged().size(), 1u);

    // A maximised window's size is not its normal size.
    ShowWindow(hwnd, SW_SHOWNA);
    state.rememberWindowSize = true;
    ShowWindow(hwnd, SW_MAXIMIZE);
    ASSERT_TRUE(IsZoomed(hwnd));
    EXPECT_EQ(state.windowWidth, 600);
    EXPECT_EQ(state.windowHeight, 500);
    EXPECT_FALSE(UserKeyExists(kSettingsKeyPath));
}

TEST(MainWindowCreation, AStoredSizeTooSmallOrTooLargeStillGivesAUsableWindow)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterMainWindowClass(instance);
    struct Case
    {
        int32_t width, height, createdWidth, createdHeight;
    };
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor));
    const RECT& work = monitor.rcWork;
    ASSERT_GE(work.bottom - work.top, 900) << "the test desktop is too small";
    // A stored size larger than the screen fits the work area (the test
    // desktop has one monitor).
    const Case cases[] = {{0, 0, 413, 497}, {300, 900, 413, 900}, {600, 650, 600, 650},
                          {100000, 100000, work.right - work.left, work.bottom - work.top}};
    for (const Case& c : cases)
    {
        AppState state{AppStateDefaultsOnly{}};
        state.rememberWindowSize = false;
        state.windowWidth = c.width;
        state.windowHeight = c.height;
        HWND hwnd = CreateMainWindow(state, instance);
        ASSERT_NE(hwnd, nullptr);
        RECT rect{};
        GetWindowRect(hwnd, &rect);
        EXPECT_EQ(rect.right - rect.left, c.createdWidth) << c.width << " x " << c.height;
        EXPECT_EQ(rect.bottom - rect.top, c.createdHeight) << c.width << " x " << c.height;
        // What the user stored is not rewritten behind their back.
        EXPECT_EQ(state.windowWidth, c.width);
        EXPECT_EQ(state.windowHeight, c.height);
        DestroyWindow(hwnd);
        DrainMessages();
        TakeQuitMessage();
    }
}

// The procedure runs long before start-up attaches the state: during
// creation and for any message that arrives in between.
TEST(MainWindowWithoutState, IgnoresEveryMessageThatNeedsTheState)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterMainWindowClass(instance);
    const std::wstring logPath = OpenFreshTestLog(L"window-no-state");
    HWND hwnd = CreateWindowExW(0, kWindowClassName, L"Tonefork", WS_OVERLAPPEDWINDOW, 100, 100, 400, 300, nullptr,
                                nullptr, instance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ShowWindow(hwnd, SW_SHOWNA);
    EXPECT_EQ(SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200)), 0);
    EXPECT_EQ(SendMessageW(hwnd, WM_SIZE, SIZE_MINIMIZED, 0), 0);
    for (UINT id : {ID_TRAY_OPEN, ID_TRAY_TOGGLE, ID_TRAY_EXIT})
    {
        EXPECT_EQ(SendMessageW(hwnd, WM_COMMAND, id, 0), 0);
    }
    for (LPARAM mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP})
    {
        EXPECT_EQ(SendMessageW(hwnd, WM_TRAYICON, 1, mouse), 0);
    }
    EXPECT_EQ(SendMessageW(hwnd, WM_APP_DEVICE_LIST_CHANGED, 0, 0), 0);
    EXPECT_EQ(SendMessageW(hwnd, WM_TIMER, kDeviceChangeTimerId, 0), 0);
    EXPECT_EQ(SendMessageW(hwnd, WM_SYSCOMMAND, SC_KEYMENU, 0), 0);
    POINT title{200, 30};
    ClientToScreen(hwnd, &title);
    EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(title.x, title.y)), HTCAPTION);

    int ticks = 0;
    PumpMessagesFor(450ms, [&](const MSG& msg) { ticks += IsDebounceTimer(msg, hwnd) ? 1 : 0; });
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(TakeQuitMessage());
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(LoggedMessages(logPath), Lines{});

    // Without the state, minimising and closing take their default course.
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(hwnd));
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(TakeQuitMessage());
    DrainMessages();
}
}  // namespace
