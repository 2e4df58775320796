#pragma once

#include <string>

// UTF-16 <-> UTF-8 with the system's converters: unpaired surrogates and
// invalid bytes become replacement characters, never an error. Any thread.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
