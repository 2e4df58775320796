#include "log/log_format.h"

#include <cstdio>

std::string FormatLogTimestamp(std::time_t when)
{
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

bool FormatLogMessage(char (&buffer)[kLogMessageCapacity], const char* format, va_list args)
{
    // vsnprintf always terminates within the buffer, which is what cuts an
    // over-long message at 2047 bytes instead of splitting it.
    return std::vsnprintf(buffer, kLogMessageCapacity, format, args) >= 0;
}

std::string ComposeLogLine(const std::string& timestamp, const char* message)
{
    std::string line;
    line.reserve(timestamp.size() + 4 + kLogMessageCapacity);
    line.append(timestamp).append(" | ").append(message).append("\n");
    return line;
}

std::string LogBannerMessage()
{
    return std::string("==== Tonefork log start (version ") + AppVersion + ") ====";
}
