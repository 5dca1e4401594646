// An environment variable's value, and setting one, in the program's narrow text: on Windows
// read as UTF-16 and given as UTF-8 (a path with Chinese names survives
// whatever the ANSI code page), on POSIX as the process has it.
#pragma once

#include <string>

// "" when the variable is not set.
std::string EnvironmentText(const char* name);

// Sets the variable for this process and the programs it starts, where
// getenv and libcurl both see it. Not safe while other threads run.
void SetEnvironmentText(const char* name, const std::string& value);
