// What qv-download asks of its console: stop requests and the terminal.
// posix/Console.cpp and win32/Console.cpp implement it.
#pragma once

#include <cstddef>
#include <functional>

// The first stop request (Ctrl-C, SIGTERM; Windows: Ctrl-C, Ctrl-Break,
// the console closing) calls `first` on a thread of its own; a second one
// ends the process at once with `exitCode`.
void WatchStopRequests(std::function<void()> first, int exitCode);

// Standard output is a terminal.
bool StdoutIsTerminal();

// The terminal's width, 80 when it does not say.
size_t TerminalColumns();
