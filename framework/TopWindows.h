// Top-level windows of any program on the desktop, found and brought to the
// front by caption, as the single-instance check needs. posix/TopWindows.cpp
// asks the X display (each call opens its own connection; with no display
// every lookup finds nothing); win32/TopWindows.cpp asks Windows.
#pragma once

#include <cstdint>

// A window of any program; 0 when none.
using TopWindow = uintptr_t;

// The top-most top-level window whose caption equals `caption` (UTF-8)
// exactly (X: _NET_WM_NAME, else WM_NAME).
TopWindow FindTopWindow(const char* caption);
// The same among the windows of processes that run this very program (its
// executable file), so that another program's window with the caption (a
// file manager showing a folder of that name) is never taken for it. X: the
// window's _NET_WM_PID, of this host, and that process's /proc/PID/exe;
// Windows: the image path of the window's process.
TopWindow FindProgramWindow(const char* caption);
// The top-most shown window owned by `window` (an open message box, say);
// else `window` itself.
TopWindow LastActivePopupOf(TopWindow window);
bool IsTopWindowIconic(TopWindow window);
void RestoreTopWindow(TopWindow window);
// Activates the window (through the window manager where one runs), and
// raises it and gives it the input focus in any case.
bool ActivateTopWindow(TopWindow window);
