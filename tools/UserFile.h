// Opens a file the user names for reading, as any program does: through
// links, and a pipe too (`-i <(…)`). The name is the program's narrow text:
// UTF-8 on Windows, where the C runtime's fopen would read it in the ANSI
// code page. posix/UserFile.cpp and win32/UserFile.cpp implement it.
#pragma once

#include <cstdio>
#include <string>

// Null, with errno set, when it cannot be opened.
FILE* OpenUserFile(const std::string& path);
