#include "framework/TopWindows.h"

#include <windows.h>

#include "common/win32/WideText.h"

namespace {

HWND Native(TopWindow window)
{
    return reinterpret_cast<HWND>(window);
}

}  // namespace

TopWindow FindTopWindow(const char* caption)
{
    if (!caption)
        return 0;
    return reinterpret_cast<TopWindow>(FindWindowW(nullptr, Utf8ToWide(caption).c_str()));
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
