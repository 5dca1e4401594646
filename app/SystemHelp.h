// The part of the client's --help that differs by system (UTF-8):
// posix/SystemHelp.cpp and win32/SystemHelp.cpp.
#pragma once

// What the client needs to run here and where it keeps its log, whole
// lines ending in '\n'.
extern const char kSystemHelp[];
