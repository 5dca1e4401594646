// Paths as the user writes and reads them. The program's own paths have
// "/" between levels (common/FileSystem.h); on Windows the user writes "\"
// as well, and reads "\". posix/UserPath.cpp and win32/UserPath.cpp
// implement it.
#pragma once

#include <string>

// A path given on the command line, in the program's form.
std::string ProgramPath(std::string given);

// A path of the program's, as the user writes paths on this system.
std::string ShownPath(std::string path);
