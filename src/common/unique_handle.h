#pragma once

#include <windows.h>

#include <memory>

// A kernel object handle closed exactly once, when its holder goes. Null
// (not INVALID_HANDLE_VALUE) means "none", as CreateMutexW and
// CreateWaitableTimerExW report a failure. No thread affinity.
struct HandleCloser
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;
