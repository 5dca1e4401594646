// The list file of `qv-download -i`: one URL a line, blank lines and lines
// starting with "#" skipped.
#pragma once

#include <string>
#include <vector>

// False (errno set) when the file cannot be read.
bool ReadList(const char* path, std::vector<std::string>& urls);
