#pragma once

// Stand-ins for the program's WideToUtf8/Utf8ToWide, for the native tests
// and fuzz targets of the settings codec.

#include <cstdint>
#include <string>

#include "settings/settings_codec.h"

namespace test_text {

// wchar_t holds UTF-16 units on Windows and code points elsewhere, so
// surrogate pairs are only formed and joined where wchar_t is 16 bits. The
// tests give valid text; what the fuzz targets give becomes some text, read
// within its bounds.
inline void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80)
    {
        out += static_cast<char>(cp);
        return;
    }
    const int extra = cp < 0x800 ? 1 : (cp < 0x10000 ? 2 : 3);
    const uint32_t lead[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[extra] | (cp >> (6 * extra)));
    for (int i = extra - 1; i >= 0; --i)
        out += static_cast<char>(0x80 | ((cp >> (6 * i)) & 0x3F));
}

inline void AppendWide(std::wstring& out, uint32_t cp)
{
    if constexpr (sizeof(wchar_t) == 2)
    {
        if (cp >= 0x10000)
        {
            out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(cp);
}

inline std::string TestWideToUtf8(const std::wstring& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        const uint32_t next = i + 1 < text.size() ? static_cast<uint32_t>(text[i + 1]) : 0;
        if (cp >= 0xD800 && cp < 0xDC00 && next >= 0xDC00 && next < 0xE000)
        {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

inline std::wstring TestUtf8ToWide(const std::string& text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size();)
    {
        const auto byte = static_cast<unsigned char>(text[i]);
        const int extra = byte < 0x80 ? 0 : (byte < 0xE0 ? 1 : (byte < 0xF0 ? 2 : 3));
        uint32_t cp = extra == 0 ? byte : (byte & (0x3Fu >> extra));
        for (int k = 1; k <= extra && i + static_cast<size_t>(k) < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        AppendWide(out, cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

} // namespace test_text

inline const TextConverters kTestConverters{&test_text::TestWideToUtf8, &test_text::TestUtf8ToWide};
