#include "common/ModulePath.h"

#include <windows.h>

#include "common/win32/WideText.h"

// In the local code page with '/' between levels, like every path the
// program builds.
std::string GetModuleFileNameA()
{
    wchar_t path[32768];
    DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    std::string local = WideToLocal(std::wstring_view(path, n));
    for (char& c : local)
        if (c == '\\')
            c = '/';
    return local;
}
