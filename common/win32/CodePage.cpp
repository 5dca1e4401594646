#include "common/CodePage.h"

#include <windows.h>

#include "common/Utf8ToLocal.h"
#include "common/win32/WideText.h"

namespace {

std::wstring ToWide(UINT codePage, std::string_view text)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// Characters the code page lacks become "?".
std::string FromWide(UINT codePage, std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const char* substitute = codePage == CP_UTF8 ? nullptr : "?";
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, substitute, nullptr);
    std::string text(n, '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, substitute, nullptr);
    return text;
}

}  // namespace

std::wstring LocalToWide(std::string_view local)
{
    return ToWide(CP_ACP, local);
}

std::string WideToLocal(std::wstring_view wide)
{
    return FromWide(CP_ACP, wide);
}

std::wstring Utf8ToWide(std::string_view utf8)
{
    return ToWide(CP_UTF8, utf8);
}

// Bytes the code page cannot read come out as U+FFFD; they read "?" here,
// as on other systems.
std::string LocalToUtf8(std::string_view local)
{
    std::wstring wide = ToWide(CP_ACP, local);
    for (wchar_t& c : wide)
        if (c == 0xFFFD)
            c = L'?';
    return FromWide(CP_UTF8, wide);
}

std::string Utf8ToLocal(std::string_view utf8)
{
    return FromWide(CP_ACP, ToWide(CP_UTF8, utf8));
}
