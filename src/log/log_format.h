#pragma once

#include <cstdarg>
#include <cstddef>
#include <ctime>
#include <string>

#include "tonefork_version.h"

// The version shown in the log banner and on the About tab.
inline constexpr char AppVersion[] = TONEFORK_VERSION;

// One log message holds at most this many bytes including its terminator, so
// at most 2047 bytes of text reach the file per line.
inline constexpr std::size_t kLogMessageCapacity = 2048;

#if defined(__GNUC__)
#define TONEFORK_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#define TONEFORK_PRINTF_FORMAT(formatIndex, firstArg)
#endif

// Local wall-clock time of `when`, whole seconds, as "2026-12-06 17:20:59".
std::string FormatLogTimestamp(std::time_t when);

// printf-style formatting cut at 2047 bytes. Returns false when the format
// itself fails (a negative result): such a message is not written at all.
bool FormatLogMessage(char (&buffer)[kLogMessageCapacity], const char* format, va_list args);

// "<timestamp> | <message>\n": one line of the file, before text-mode CRLF.
std::string ComposeLogLine(const std::string& timestamp, const char* message);

// The first message of every run.
std::string LogBannerMessage();
