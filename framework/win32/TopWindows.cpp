#include "framework/TopWindows.h"

#include <string>
#include <string_view>
#include <windows.h>

#include "common/FileSystem.h"
#include "common/ModulePath.h"
#include "common/win32/WideText.h"

namespace {

HWND Native(TopWindow window)
{
    return reinterpret_cast<HWND>(window);
}

// The top-most top-level window captioned `caption` that `accept` takes.
template <class Accept>
TopWindow FindCaptioned(const char* caption, Accept accept)
{
    if (!caption)
        return 0;
    std::wstring wide = Utf8ToWide(caption);
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, nullptr, wide.c_str())) != nullptr)
        if (accept(window))
            return reinterpret_cast<TopWindow>(window);
    return 0;
}

// The window's process runs the same executable file as this one.
bool OfThisProgram(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    wchar_t path[32768];
    DWORD size = sizeof path / sizeof path[0];
    bool named = QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    return named && fsys::FileKey(fsys::Canonical(WideToUtf8(std::wstring_view(path, size)))) ==
                        fsys::FileKey(GetModuleFileNameA());
}

}  // namespace

TopWindow FindTopWindow(const char* caption)
{
    return FindCaptioned(caption, [](HWND) { return true; });
}

TopWindow FindProgramWindow(const char* caption)
{
    return FindCaptioned(caption, OfThisProgram);
}

TopWindow LastActivePopupOf(TopWindow window)
{
    return reinterpret_cast<TopWindow>(GetLastActivePopup(Native(window)));
}

bool IsTopWindowIconic(TopWindow window)
{
    return IsIconic(Native(window));
}

void RestoreTopWindow(TopWindow window)
{
    ShowWindow(Native(window), SW_RESTORE);
}

bool ActivateTopWindow(TopWindow window)
{
    return SetForegroundWindow(Native(window));
}
