#include "common/CodePage.h"

#include <windows.h>

#include "common/Utf8ToLocal.h"
#include "common/win32/WideText.h"

std::wstring Utf8ToWide(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

// A lone surrogate (not valid UTF-16) becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
    return text;
}

// The local text is UTF-8 here: bytes that are not UTF-8 read "?", as
// unreadable bytes do on other systems.
std::string LocalToUtf8(std::string_view local)
{
    std::wstring wide = Utf8ToWide(local);
    for (wchar_t& c : wide)
        if (c == 0xFFFD)
            c = L'?';
    return WideToUtf8(wide);
}

std::string Utf8ToLocal(std::string_view utf8)
{
    return WideToUtf8(Utf8ToWide(utf8));
}
