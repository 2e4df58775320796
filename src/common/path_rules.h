#pragma once

#include <cstddef>
#include <string>

// Size of the buffer the executable's path is read into; a path that fills it
// exactly was cut and is not trusted.
inline constexpr std::size_t kModulePathCapacity = 260;

// base + '\' + name, without doubling a separator base already ends with.
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);

// The folder part of the executable path that the system reported, given the
// number of characters it wrote: "." when it wrote nothing or filled the
// whole buffer; otherwise everything before the last '\' or '/'.
std::wstring DirectoryOfModulePath(const wchar_t* path, std::size_t written);

// A "file:" URL for a full Windows path ("C:\A B\x.html" gives
// "file:///C:/A%20B/x.html", "\\server\share\x" gives "file://server/share/x"):
// separators become '/', and every byte of the UTF-8 form other than
// letters, digits, "-._~" and ':' is percent-encoded. Unpaired surrogates
// are encoded as U+FFFD.
std::wstring FileUrlFromPath(const std::wstring& path);
