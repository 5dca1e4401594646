// What qv-download asks of its console: stop requests, the terminal, the
// arguments and the way its text goes out.
// posix/Console.cpp and win32/Console.cpp implement it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
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

// Writes the program's text to `stream` (stdout or stderr). A Windows
// console takes it as UTF-16, so every character shows whatever its code
// page; a file or a pipe gets the bytes (UTF-8 on Windows), as does every
// POSIX stream (the locale's charset).
void Write(FILE* stream, std::string_view text);
