#pragma once
// A real main window on a defaults-only state for the tests of the window
// procedure and of the graphics set-up, and the message pump those tests
// drive it with. Everything here runs on the test program's main thread,
// which owns the window and its message queue.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"

using MessageWatcher = std::function<void(const MSG&)>;

// Dispatches the thread's messages until `done` returns true or `limit` has
// passed, sleeping in between; `watch` sees every message before it is
// dispatched. Returns the last result of `done`.
bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                       const MessageWatcher& watch = {});
void PumpMessagesFor(std::chrono::milliseconds span, const MessageWatcher& watch = {});

// Removes the quit request that PostQuitMessage left for this thread;
// returns whether there was one.
bool TakeQuitMessage();

// Handles whatever is still queued, a quit request included, so that nothing
// reaches the next test.
void DrainMessages();

// A stand-in for the shell's tray call that records every call and answers
// with `accept`; main thread only, like the window.
struct TrayShellStandIn
{
    static inline bool accept = true;
    static inline std::vector<DWORD> calls;
    static inline std::vector<std::wstring> tips;  // the tip of each call
    static BOOL WINAPI Notify(DWORD message, PNOTIFYICONDATAW data);
};

// COM (the imaging component needs it), the window class, and the window
// made by CreateMainWindow on `state`, which the window holds in its user
// data, with its tray icon in a stand-in shell that takes it. Settings are
// not written on resize unless a test asks for it.
class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The log lines written since SetUp.
    std::vector<std::string> Logged() const;

    AppState state{AppStateDefaultsOnly{}};
    HWND hwnd = nullptr;

private:
    std::wstring logPath;
    HRESULT comResult = E_FAIL;
};
