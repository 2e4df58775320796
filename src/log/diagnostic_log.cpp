#include "log/diagnostic_log.h"

#include <share.h>

#include <filesystem>
#include <system_error>

#include "common/path_rules.h"

DiagnosticLog& DiagnosticLog::Instance()
{
    // A function-local static outlives AppState, so teardown can still log.
    static DiagnosticLog instance;
    return instance;
}

void DiagnosticLog::Open(const std::wstring& directory, const std::wstring& fileName)
{
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    const std::wstring path = JoinPath(directory, fileName);

    std::lock_guard<std::mutex> lock(mutex);
    // Text mode stores every line feed as CRLF; _SH_DENYNO lets other
    // programs read (and even write) the file while we run.
    stream.reset(_wfsopen(path.c_str(), L"wt", _SH_DENYNO));
    enabled = stream != nullptr;
    if (enabled)
    {
        const std::string banner = LogBannerMessage();
        const std::string line = ComposeLogLine(FormatLogTimestamp(std::time(nullptr)), banner.c_str());
        std::fputs(line.c_str(), stream.get());
        std::fflush(stream.get());
    }
}

void DiagnosticLog::Log(const char* format, ...)
{
    if (!enabled)
    {
        return;
    }
    char message[kLogMessageCapacity];
    va_list args;
    va_start(args, format);
    const bool formatted = FormatLogMessage(message, format, args);
    va_end(args);
    if (formatted)
    {
        WriteLine(message);
    }
}

void DiagnosticLog::WriteLine(const char* message)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!stream)
    {
        return;
    }
    const std::string line = ComposeLogLine(FormatLogTimestamp(std::time(nullptr)), message);
    std::fputs(line.c_str(), stream.get());
    std::fflush(stream.get());
}
