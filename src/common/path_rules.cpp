#include "common/path_rules.h"

std::wstring JoinPath(const std::wstring& base, const std::wstring& name)
{
    if (base.empty())
    {
        return name;
    }
    const wchar_t last = base.back();
    if (last == L'\\' || last == L'/')
    {
        return base + name;
    }
    return base + L'\\' + name;
}

std::wstring DirectoryOfModulePath(const wchar_t* path, std::size_t written)
{
    if (written == 0 || written >= kModulePathCapacity)
    {
        return L".";
    }
    const std::wstring full(path, written);
    const std::size_t cut = full.find_last_of(L"\\/");
    return cut == std::wstring::npos ? full : full.substr(0, cut);
}

namespace
{
void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80)
    {
        out.push_back(static_cast<char>(c));
    }
    else if (c < 0x800)
    {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    else if (c < 0x10000)
    {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    else
    {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// UTF-16 (or UTF-32 where wchar_t is 32 bits) to UTF-8.
std::string ToUtf8(const std::wstring& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        char32_t c = static_cast<char32_t>(text[i]);
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool lowFollows = i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (high && lowFollows)
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
        }
        else if (c >= 0xD800 && c <= 0xDFFF)
        {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

bool KeptInUrl(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == ':' || byte == '/';
}
}  // namespace

std::wstring FileUrlFromPath(const std::wstring& path)
{
    std::wstring slashed = path;
    for (wchar_t& c : slashed)
    {
        if (c == L'\\')
        {
            c = L'/';
        }
    }
    const bool unc = slashed.rfind(L"//", 0) == 0;
    std::wstring url = unc ? L"file:" : L"file:///";
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    for (const char byte : ToUtf8(slashed))
    {
        const auto b = static_cast<unsigned char>(byte);
        if (KeptInUrl(b))
        {
            url.push_back(static_cast<wchar_t>(b));
        }
        else
        {
            url += {L'%', kHex[b >> 4], kHex[b & 0x0F]};
        }
    }
    return url;
}
