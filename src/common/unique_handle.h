#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

// A kernel object handle closed exactly once, when its holder goes. Null
// (not INVALID_HANDLE_VALUE) means "none", as CreateMutexW and
// CreateWaitableTimerExW report a failure. No thread affinity.
struct HandleCloser
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// An icon this program loaded (not a shared one), destroyed exactly once
// when its holder goes. Main thread, like the windows that show it.
struct IconDestroyer
{
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;
