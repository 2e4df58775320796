#include "test_log.h"

#include <windows.h>

#include <fstream>

#include "log/diagnostic_log.h"

std::wstring OpenFreshTestLog(const std::wstring& leaf)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    const std::wstring folder = std::wstring(base) + L"tonefork-test-" + leaf;
    DiagnosticLog::Instance().Open(folder, L"log.txt");
    return folder + L"\\log.txt";
}

std::vector<std::string> LoggedMessages(const std::wstring& logPath)
{
    // Every line is "YYYY-MM-DD HH:MM:SS | message" ending in CRLF.
    const std::string separator = " | ";
    std::ifstream in(logPath.c_str(), std::ios::binary);
    std::vector<std::string> messages;
    std::string line;
    bool banner = true;
    while (std::getline(in, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t at = line.find(separator);
        if (!banner && at != std::string::npos)
            messages.push_back(line.substr(at + separator.size()));
        banner = false;
    }
    return messages;
}
