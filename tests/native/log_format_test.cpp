// The log line format: timestamp pattern, separator, banner and the 2047-byte cut.
#include <gtest/gtest.h>

#include <cstdarg>
#include <regex>
#include <string>

#include "log/log_format.h"

namespace
{
bool Format(char (&buffer)[kLogMessageCapacity], const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool ok = FormatLogMessage(buffer, format, args);
    va_end(args);
    return ok;
}
}  // namespace

TEST(LogFormat, TimestampIsLocalTimeInWholeSeconds)
{
    const std::string stamp = FormatLogTimestamp(1765041659);  // some moment of 2025-12-06
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << stamp;
    std::tm local{};
    const std::time_t when = 1765041659;
    localtime_r(&when, &local);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &local);
    EXPECT_EQ(stamp, expected);
}

TEST(LogFormat, LineAndBanner)
{
    EXPECT_EQ(ComposeLogLine("2026-12-06 17:20:59", "Process started. PID=4242"),
              "2026-12-06 17:20:59 | Process started. PID=4242\n");
    EXPECT_EQ(LogBannerMessage(), "==== Tonefork log start (version " TONEFORK_VERSION ") ====");
    // The text shown and the numbers of the executable's version record are
    // made from one project version.
    EXPECT_EQ(AppVersion, std::to_string(TONEFORK_VERSION_MAJOR) + "." + std::to_string(TONEFORK_VERSION_MINOR) + "." +
                              std::to_string(TONEFORK_VERSION_PATCH));
}

TEST(LogFormat, MessagesAreCutAt2047BytesNeverSplit)
{
    char buffer[kLogMessageCapacity];
    const std::string exact(2047, 'a');
    ASSERT_TRUE(Format(buffer, "%s", exact.c_str()));
    EXPECT_EQ(std::string(buffer), exact);

    const std::string longer(3000, 'b');
    ASSERT_TRUE(Format(buffer, "%s", longer.c_str()));
    EXPECT_EQ(std::string(buffer), std::string(2047, 'b'));

    ASSERT_TRUE(Format(buffer, "RefreshDevices: found %u active render endpoints.", 3u));
    EXPECT_STREQ(buffer, "RefreshDevices: found 3 active render endpoints.");
    ASSERT_TRUE(Format(buffer, "Volume=%.0f, Buffer=%.0fms, %zu, 0x%08X", 73.0, 30.0, std::size_t{2}, 0x887A0004u));
    EXPECT_STREQ(buffer, "Volume=73, Buffer=30ms, 2, 0x887A0004");
}
