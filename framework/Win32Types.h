// The few Windows names the program's classes are written against, with
// the values of the Windows headers so constants read the same everywhere.
#pragma once

#include <cstdint>

using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
// Handle of one of our own windows (or a headless message owner). 0 is null.
// Posting to a handle whose window is gone fails quietly.
using HWND = uintptr_t;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;

constexpr UINT WM_USER = 0x0400;

// The Windows build has Windows' own definitions of these (same values).
#ifndef INFINITE
constexpr unsigned long INFINITE = 0xFFFFFFFF;
constexpr unsigned long WAIT_OBJECT_0 = 0;
constexpr unsigned long WAIT_TIMEOUT = 258;
#endif
