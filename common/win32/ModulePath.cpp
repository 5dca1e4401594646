#include "common/ModulePath.h"

#include <windows.h>

#include "common/win32/WideText.h"

// UTF-8 with '/' between levels, like every path the program builds.
std::string GetModuleFileNameA()
{
    wchar_t path[32768];
    DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    std::string utf8 = WideToUtf8(std::wstring_view(path, n));
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    return utf8;
}
