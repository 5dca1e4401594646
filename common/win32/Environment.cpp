#include "common/Environment.h"

#include <cstdlib>
#include <windows.h>

#include "common/win32/WideText.h"

std::string EnvironmentText(const char* name)
{
    std::wstring wideName = Utf8ToWide(name);
    DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0)
        return std::string();
    std::wstring value(size, L'\0');
    DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    return WideToUtf8(value);
}

void SetEnvironmentText(const char* name, const std::string& value)
{
    // The C runtime's copy (getenv) and the process's (GetEnvironmentVariable)
    // both change.
    _wputenv_s(Utf8ToWide(name).c_str(), Utf8ToWide(value).c_str());
}
