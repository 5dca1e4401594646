// The program's text on its console, one implementation per system
// (posix/ConsoleText.cpp, win32/ConsoleText.cpp).
#pragma once

#include <cstdio>
#include <string_view>

// Writes the program's text to `stream` (stdout or stderr). A Windows
// console takes it as UTF-16, so every character shows whatever its code
// page; a file or a pipe gets the bytes (UTF-8 on Windows), as does every
// POSIX stream (the locale's charset).
void WriteText(FILE* stream, std::string_view text);

// Standard output of a windowed program reaches the console it was started
// from. A Windows program built for windows starts without one: unless its
// output was redirected to a file or a pipe, it attaches to the console of
// the process that started it, when there is one. POSIX: nothing to do.
void UseParentConsole();
