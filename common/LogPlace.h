// Where the client keeps its log, one implementation per system
// (posix/LogPlace.cpp, win32/LogPlace.cpp).
#pragma once

#include <cstdio>
#include <string>

// The user's own folder for the log, '/' between levels: on Windows
// %LOCALAPPDATA%\Quorvel\logs (the known folder Local AppData, UTF-8); on
// POSIX $XDG_STATE_HOME/quorvel, or ~/.local/state/quorvel when that is not
// set to an absolute path. Empty when the system names no such folder.
std::string LogFolder();

// Opens `path` to append to, made when missing (readable by its user only
// on POSIX), not inherited by child processes; other programs may read it
// meanwhile. nullptr when it cannot be opened.
FILE* OpenAppend(const std::string& path);
