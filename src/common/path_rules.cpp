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
