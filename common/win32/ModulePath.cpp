#include "common/ModulePath.h"

#include <windows.h>

#include "common/FileSystem.h"
#include "common/win32/WideText.h"

// UTF-8 with '/' between levels and without a "\\?\" prefix (a program
// started by such a path is given one), like every path the program builds.
std::string GetModuleFileNameA()
{
    wchar_t path[32768];
    DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    return fsys::Canonical(WideToUtf8(std::wstring_view(path, n)));
}
