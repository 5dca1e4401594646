// What qv-download asks of its console: stop requests, the terminal and
// the arguments (its text goes out with WriteText, common/ConsoleText.h).
// posix/Console.cpp and win32/Console.cpp implement it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The first stop request (Ctrl-C, SIGTERM; Windows: Ctrl-C, Ctrl-Break,
// the console closing) calls `first` on a thread of its own; a second one
// ends the process at once with `exitCode`.
void WatchStopRequests(std::function<void()> first, int exitCode);

// Standard output is a terminal.
bool StdoutIsTerminal();

// The terminal's width, 80 when it does not say.
size_t TerminalColumns();

// The command line's arguments in the program's narrow text: argv as it is
// on POSIX (the locale's charset); on Windows read again from the UTF-16
// command line and made UTF-8, so no character outside the ANSI code page
// turns into "?".
std::vector<std::string> Arguments(int argc, char** argv);
