// Read first by every file of the Windows build (-include). The Windows
// headers come in here, once, without the window manager's API: the
// window layer has its own PostMessageA, IsWindow, IDOK, MB_OK and WM_USER
// over wx, and its own HWND (a handle of its window registry), so Windows'
// window handle type is named WIN32_HWND. Files under win32/ that call the
// window manager are built with QV_WINDOWS_USER_API and see all of it.
#pragma once

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#ifndef QV_WINDOWS_USER_API
#define NOUSER
#define NOGDI
#define HWND WIN32_HWND
#endif
#include <winsock2.h>
#include <windows.h>
#undef HWND
