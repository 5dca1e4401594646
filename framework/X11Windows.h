// Top-level windows of any program on the X display, found and brought to
// the front by caption, as the single-instance check needs. Each call opens
// its own display connection; with no display every lookup finds nothing.
#pragma once

constexpr int SW_RESTORE = 9;

// An X window id; 0 when none.
using XWINDOW = unsigned long;

// The top-most top-level window whose _NET_WM_NAME (else WM_NAME) equals
// `caption` (UTF-8) exactly. `className` must be null (any class).
XWINDOW FindWindowA(const char* className, const char* caption);
// A mapped window that names `window` in WM_TRANSIENT_FOR (an open message
// box, say), the top-most one; else `window` itself.
XWINDOW GetLastActivePopup(XWINDOW window);
bool IsIconic(XWINDOW window);
// SW_RESTORE maps an iconic window again; other commands are not needed.
void ShowWindow(XWINDOW window, int command);
// Activates the window through the window manager where one runs, and
// raises it and gives it the input focus in any case.
bool SetForegroundWindow(XWINDOW window);
