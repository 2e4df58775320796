#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "log/log_format.h"

// The process-wide diagnostic log, log.txt beside the executable.
// Threads: Open on the main thread before any other thread exists; Log from
// any thread (main, redirect); each line is written and flushed under one
// lock, so lines of different threads never interleave.
class DiagnosticLog
{
public:
    static DiagnosticLog& Instance();

    // Creates (truncates) directory\fileName and writes the start banner.
    // When the file cannot be created the whole run goes without a log.
    void Open(const std::wstring& directory, const std::wstring& fileName);

    // Formats one line (printf conventions, %ls for wide text) and appends it.
    // A no-op until Open succeeded.
    void Log(const char* format, ...) TONEFORK_PRINTF_FORMAT(2, 3);

private:
    DiagnosticLog() = default;
    void WriteLine(const char* message);

    struct FileCloser
    {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::mutex mutex;
    std::unique_ptr<std::FILE, FileCloser> stream;
    bool enabled = false;
};
