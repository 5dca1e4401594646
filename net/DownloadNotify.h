// What the download engine tells its owner window: one posted message,
// wParam the engine's state, lParam the engine.
#pragma once

#include <cstdint>

#include "framework/Win32Types.h"

constexpr UINT WM_DOWNLOAD_NOTIFY = WM_USER + 100;

constexpr uint8_t DOWNLOAD_RUNNING = 1;
constexpr uint8_t DOWNLOAD_FINISHED = 2;
constexpr uint8_t DOWNLOAD_FAILED = 4;
