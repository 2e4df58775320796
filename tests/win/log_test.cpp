// The diagnostic log against the real file system under Windows rules.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "log/diagnostic_log.h"
#include "tonefork_version.h"
#include "log/text_convert.h"

namespace
{
std::wstring TempFolder(const wchar_t* leaf)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    return std::wstring(base) + L"tonefork-test-" + leaf;
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}
}  // namespace

// The log is a process-wide singleton that can be opened once per run in the
// real program; the test opens it once and checks every property on it.
TEST(DiagnosticLog, WritesBannerLinesWithCrlfAndCutsLongMessages)
{
    DiagnosticLog& log = DiagnosticLog::Instance();
    log.Log("before open %d", 1);

    const std::wstring folder = TempFolder(L"log\\nested");
    log.Open(folder, L"log.txt");
    log.Log("Process started. PID=%lu", 4242ul);
    log.Log("%s", std::string(3000, 'x').c_str());
    log.Log("%s", std::string(2047, 'y').c_str());
    log.Log("wide %ls", L"Lautsprecher");

    const std::string text = ReadBytes(folder + L"\\log.txt");
    EXPECT_EQ(text.find("before open"), std::string::npos);
    EXPECT_NE(text.find(" | ==== Tonefork log start (version " TONEFORK_VERSION ") ====\r\n"), std::string::npos);
    EXPECT_NE(text.find(" | Process started. PID=4242\r\n"), std::string::npos);
    EXPECT_NE(text.find(" | " + std::string(2047, 'x') + "\r\n"), std::string::npos);
    EXPECT_EQ(text.find(std::string(2048, 'x')), std::string::npos);
    EXPECT_NE(text.find(" | " + std::string(2047, 'y') + "\r\n"), std::string::npos);
    EXPECT_NE(text.find(" | wide Lautsprecher\r\n"), std::string::npos);
    // Every line is "YYYY-MM-DD HH:MM:SS | ..." and only CRLF ends lines.
    EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1);
    EXPECT_EQ(text.substr(4, 1) + text.substr(7, 1) + text.substr(10, 1) + text.substr(13, 1) + text.substr(19, 3),
              "-- : | ");
}

TEST(TextConvert, RoundTripsNonAsciiAndEmpty)
{
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(Utf8ToWide(""), L"");
    const std::wstring name = L"Kopfh\u00f6rer \u00e9 \u4e2d\u6587 \U0001F3A7";
    EXPECT_EQ(WideToUtf8(name), "Kopfh\xC3\xB6rer \xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x8E\xA7");
    EXPECT_EQ(Utf8ToWide(WideToUtf8(name)), name);
    EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
}
