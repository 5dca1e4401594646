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

namespace {

std::wstring AnsiToWide(std::string_view ansi)
{
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
    return wide;
}

}  // namespace

// The local text is UTF-8 here. Text that is not UTF-8 comes from a file
// saved in the ANSI code page (Notepad's "ANSI"): it is read in that code
// page, exactly (no best fit is involved this way round). Bytes that still
// cannot be read become "?", as on other systems.
std::string LocalToUtf8(std::string_view local)
{
    bool utf8 = local.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, local.data(),
                                                     static_cast<int>(local.size()), nullptr, 0) > 0;
    std::wstring wide = utf8 ? Utf8ToWide(local) : AnsiToWide(local);
    for (wchar_t& c : wide)
        if (c == 0xFFFD)
            c = L'?';
    return WideToUtf8(wide);
}

std::string Utf8ToLocal(std::string_view utf8)
{
    return WideToUtf8(Utf8ToWide(utf8));
}
